#include "channelwin/channel_editor_window.h"
#include "channelwin/editor_icons.h"
#include "channelwin/line_views.h"
#include "widgets/qt_text.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

// The channel list editor window's widgets, menus and keys, bound to its commands.
namespace corvex::channelwin {

using widgets::qs;
using widgets::std8;

namespace {

using channels::EditorPage;
using channels::Notice;

QHeaderView* makeHeader(QWidget* parent,
                        std::initializer_list<std::pair<const char*, int>> sections) {
    auto* model = new QStandardItemModel(0, static_cast<int>(sections.size()) + 1, parent);
    auto* header = new QHeaderView(Qt::Horizontal, parent);
    header->setModel(model);
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(true); // the filler
    int column = 0;
    for (const auto& [caption, pxWidth] : sections) {
        model->setHeaderData(column, Qt::Horizontal, QString::fromLatin1(caption));
        header->resizeSection(column, pxWidth);
        ++column;
    }
    model->setHeaderData(column, Qt::Horizontal, QString());
    header->setFixedHeight(20);
    return header;
}

} // namespace

void TForm5::buildControlPanel() {
    m_controlPanel = new QWidget(this);
    m_controlPanel->setFixedHeight(30);
    auto* row = new QHBoxLayout(m_controlPanel);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(2);
    const auto tool = [&](EditorIcon icon, const char* hint, auto&& slot) {
        auto* button = new QToolButton(m_controlPanel);
        button->setIcon(QIcon(editorPixmap(icon)));
        button->setText(QString::fromLatin1(hint));
        button->setToolTip(QString::fromLatin1(hint));
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setAutoRaise(true);
        button->setFixedSize(26, 26);
        connect(button, &QToolButton::clicked, this, slot);
        row->addWidget(button);
        return button;
    };
    tool(EditorIcon::Load, "Load firmware from disk", [this] { loadFromDisk(); });
    tool(EditorIcon::Write, "Write firmware to disk", [this] { (void)saveIntoImageAs(); });
    m_search = new QComboBox(m_controlPanel);
    m_search->setEditable(true);
    m_search->setInsertPolicy(QComboBox::NoInsert);
    m_search->setFixedWidth(180);
    connect(m_search->lineEdit(), &QLineEdit::returnPressed, this, [this] { runSearch(); });
    connect(m_search, &QComboBox::activated, this, [this](int index) {
        if (index >= 0) {
            m_editor.pickSearchResult(static_cast<std::size_t>(index));
            refresh();
        }
    });
    row->addWidget(m_search);
    tool(EditorIcon::Search, "Search for information", [this] { runSearch(); });
    m_expandButton = tool(EditorIcon::Expand, "Expand transponder table", [this] {
        m_editor.expandAll();
        refresh();
    });
    m_collapseButton = tool(EditorIcon::Collapse, "Collapse transponder table", [this] {
        m_editor.collapseAll();
        refresh();
    });
    m_advancedButton = tool(EditorIcon::Advanced, "Switch to advanced mode",
                            [this] { setAdvanced(m_advancedButton->isChecked()); });
    m_advancedButton->setCheckable(true);
    m_advancedButton->setChecked(true);
    tool(EditorIcon::Align, "Align editor", [this] { align(false); });
    tool(EditorIcon::ClearAll, "Clear all channels in table", [this] {
        m_editor.channels().clearAll();
        refreshEditPanel();
    });
    row->addStretch(1);
}

void TForm5::buildPages() {
    m_pages = new QTabWidget(this);
    m_pages->setTabPosition(QTabWidget::East);

    auto* channelPage = new QWidget(m_pages);
    auto* channelColumn = new QVBoxLayout(channelPage);
    channelColumn->setContentsMargins(0, 0, 0, 0);
    channelColumn->setSpacing(0);
    m_channelHeader = makeHeader(channelPage, {{"Item", 50},
                                               {"Channel Name", 170},
                                               {"Favorite", 50},
                                               {"Parental", 60},
                                               {"Active", 45},
                                               {"TP", 50},
                                               {"SID", 55},
                                               {"VPID", 55},
                                               {"APID", 55},
                                               {"VECM", 55},
                                               {"AECM", 55},
                                               {"PCR", 55}});
    connect(m_channelHeader, &QHeaderView::sectionClicked, this,
            [this](int section) { sortBySection(section); });
    channelColumn->addWidget(m_channelHeader);
    m_channelList = new ChannelListView(m_editor.channels(), channelPage);
    m_channelList->onDrop = [this](std::optional<std::size_t> target) { dropOn(target); };
    connect(m_channelList, &LineView::clicked, this, [this] {
        refreshEditPanel();
        refreshMenus();
    });
    channelColumn->addWidget(m_channelList, 1);
    buildEditPanel(channelPage);
    channelColumn->addWidget(m_editPanel);
    m_pages->addTab(channelPage, QStringLiteral("Channels"));

    auto* transponderPage = new QWidget(m_pages);
    auto* transponderColumn = new QVBoxLayout(transponderPage);
    transponderColumn->setContentsMargins(0, 0, 0, 0);
    transponderColumn->setSpacing(0);
    m_transponderHeader = makeHeader(transponderPage, {{"Item TP", 50},
                                                       {"Transponder freqency (Mhz)", 153},
                                                       {"Transponder ID", 90},
                                                       {"Network ID", 65},
                                                       {"Channels", 60},
                                                       {"Symbolrate", 70},
                                                       {"FEC", 50},
                                                       {"22 Khz", 70},
                                                       {"Pol.", 30},
                                                       {"Band", 38},
                                                       {"LNB", 50},
                                                       {"Extra", 50}});
    transponderColumn->addWidget(m_transponderHeader);
    m_transponderList = new TransponderListView(m_editor.transponders(), transponderPage);
    connect(m_transponderList, &TransponderListView::doubleClicked, this, [this] {
        showNotice(m_editor.toggleTransponderChannels());
        refresh();
    });
    connect(m_transponderList, &LineView::clicked, this, [this] { refreshMenus(); });
    transponderColumn->addWidget(m_transponderList, 1);
    m_notePanel =
        new QLabel(QStringLiteral("At this moment this table can not be edited"), transponderPage);
    m_notePanel->setFixedHeight(24);
    static_cast<QLabel*>(m_notePanel)->setAlignment(Qt::AlignCenter);
    transponderColumn->addWidget(m_notePanel);
    m_pages->addTab(transponderPage, QStringLiteral("Transponders"));
    connect(m_pages, &QTabWidget::currentChanged, this, [this](int index) { pageShown(index); });
}

void TForm5::buildEditPanel(QWidget* page) {
    m_editPanel = new QWidget(page);
    // Three rows, so that the simple mode's narrow window still shows the name and flags whole.
    auto* rows = new QVBoxLayout(m_editPanel);
    rows->setContentsMargins(4, 2, 4, 2);
    rows->setSpacing(2);
    auto* nameRow = new QHBoxLayout;
    auto* flagRow = new QHBoxLayout;
    auto* pidRow = new QHBoxLayout;
    for (QHBoxLayout* row : {nameRow, flagRow, pidRow}) {
        row->setSpacing(4);
        rows->addLayout(row);
    }
    const auto lineField = [&](int pxWidth) {
        auto* edit = new QLineEdit(m_editPanel);
        edit->setFixedWidth(pxWidth);
        edit->installEventFilter(this);
        m_fields.push_back(edit);
        return edit;
    };
    nameRow->addWidget(new QLabel(QStringLiteral("Channel name:"), m_editPanel));
    QLineEdit* name = lineField(150);
    name->setMaxLength(16);
    nameRow->addWidget(name);
    nameRow->addStretch(1);
    m_favourite = new QCheckBox(QStringLiteral("Favorite"), m_editPanel);
    m_parental = new QCheckBox(QStringLiteral("Parental block"), m_editPanel);
    m_active = new QCheckBox(QStringLiteral("Active"), m_editPanel);
    for (QCheckBox* box : {m_favourite, m_parental, m_active}) {
        box->installEventFilter(this);
        flagRow->addWidget(box);
    }
    auto* ok = new QPushButton(QStringLiteral("OK"), m_editPanel);
    ok->setFixedWidth(40);
    connect(ok, &QPushButton::clicked, this, [this] { (void)saveIntoImageAs(); });
    flagRow->addWidget(ok);
    flagRow->addStretch(1);
    for (const char* label : {"TP (index):", "SID:", "VPID:", "APID:", "VECM:", "AECM:", "PCR:"}) {
        auto* caption = new QLabel(QString::fromLatin1(label), m_editPanel);
        m_advancedLabels.push_back(caption);
        pidRow->addWidget(caption);
        pidRow->addWidget(lineField(48));
    }
    pidRow->addStretch(1);
    m_enterOrder = {m_fields[0], m_favourite, m_parental, m_active};
    m_enterOrder.insert(m_enterOrder.end(), m_fields.begin() + 1, m_fields.end());
    for (std::size_t i = 0; i + 1 < m_enterOrder.size(); ++i) {
        QWidget::setTabOrder(m_enterOrder[i], m_enterOrder[i + 1]);
    }
}

void TForm5::buildMenus() {
    const auto add = [this](QMenu* menu, const char* caption, auto&& slot) {
        QAction* action = menu->addAction(QString::fromLatin1(caption));
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    auto& list = m_editor.channels();
    // Every channel command ends in the same refresh; the model repaints the list itself.
    const auto edit = [this](auto&& operation) {
        return [this, operation] {
            showNotice(operation());
            refresh();
            refreshEditPanel();
        };
    };
    using Model = channels::ChannelListModel;
    const auto plain = [&](const char* caption, void (Model::*operation)()) {
        return add(m_channelMenu, caption, edit([&list, operation] {
                       (list.*operation)();
                       return std::optional<Notice>();
                   }));
    };
    const auto told = [&](const char* caption, std::optional<Notice> (Model::*operation)()) {
        return add(m_channelMenu, caption,
                   edit([&list, operation] { return (list.*operation)(); }));
    };
    m_channelMenu = new QMenu(this);
    // The keys work while the list has the focus; the search box and the edit fields keep
    // their own.
    const auto key = [this](QAction* action, QKeySequence::StandardKey keys) {
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WidgetShortcut);
        m_channelList->addAction(action);
    };
    key(plain("Cut", &Model::cut), QKeySequence::Cut);
    key(plain("Copy", &Model::copy), QKeySequence::Copy);
    key(told("Paste", &Model::paste), QKeySequence::Paste);
    told("Paste after", &Model::pasteAfter);
    m_channelMenu->addSeparator();
    plain("Clear", &Model::clear);
    key(plain("Delete", &Model::deleteSelected), QKeySequence::Delete);
    add(m_channelMenu, "Select All", edit([this, &list] {
            return list.selectAll(
                {m_favourite->isChecked(), m_parental->isChecked(), m_active->isChecked()});
        }));
    add(m_channelMenu, "Replace", [this, &list] {
        showNotice(list.replace());
        m_channelList->setFocus();
        refresh();
        refreshEditPanel();
    });
    plain("Inverse selection", &Model::inverseSelection);
    plain("Select category", &Model::selectCategory);
    add(m_channelMenu, "Select search results", edit([this] {
            m_editor.selectSearchResults();
            return std::optional<Notice>();
        }));
    m_channelMenu->addSeparator();
    m_advancedDragDrop = add(m_channelMenu, "Advanced Drag && Drop",
                             [this, &list](bool on) { list.setAdvancedDragDrop(on); });
    m_advancedDragDrop->setCheckable(true);
    m_advancedDragDrop->setChecked(list.advancedDragDrop());
    m_channelMenu->addSeparator();
    m_jumpToTransponder = add(m_channelMenu, "Jump to transponder", [this] {
        showNotice(m_editor.jumpToTransponder());
        refresh();
    });
    m_familyChannels = add(m_channelMenu, "View family channels", [this] {
        showNotice(m_editor.viewFamilyChannels());
        refresh();
    });
    m_channelMenu->addSeparator();
    m_controlPanelToggles.push_back(
        add(m_channelMenu, "Hide control panel", [this] { toggleControlPanel(); }));
    m_editPanelToggles.push_back(
        add(m_channelMenu, "Hide edit panel", [this] { toggleEditPanel(); }));
    // Beyond the list box's own commands: the edit history and the ways out of the window.
    m_channelMenu->addSeparator();
    m_undo = plain("Undo", &Model::undo);
    m_redo = plain("Redo", &Model::redo);
    m_undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    m_redo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
    addAction(m_undo);
    addAction(m_redo);
    m_exportCsv = add(m_channelMenu, "Export list as CSV ...", [this] { exportCsv(); });
    m_saveIntoImage =
        add(m_channelMenu, "Save list into image as ...", [this] { (void)saveIntoImageAs(); });

    m_transponderMenu = new QMenu(this);
    m_selectTpChannels = add(m_transponderMenu, "Select TP channels", [this] {
        showNotice(m_editor.selectTransponderChannels());
        refresh();
        refreshEditPanel();
    });
    m_viewTpChannels = add(m_transponderMenu, "View TP channels", [this] {
        showNotice(m_editor.toggleTransponderChannels());
        refresh();
    });
    m_jumpToChannel = add(m_transponderMenu, "Jump to channel", [this] {
        showNotice(m_editor.jumpToChannel());
        refresh();
        refreshEditPanel();
    });
    m_transponderMenu->addSeparator();
    add(m_transponderMenu, "Expand all TP's", [this] {
        m_editor.expandAll();
        refresh();
    });
    add(m_transponderMenu, "Collapse all TP's", [this] {
        m_editor.collapseAll();
        refresh();
    });
    m_transponderMenu->addSeparator();
    m_controlPanelToggles.push_back(
        add(m_transponderMenu, "Hide control panel", [this] { toggleControlPanel(); }));
    m_editPanelToggles.push_back(
        add(m_transponderMenu, "Hide edit panel", [this] { toggleEditPanel(); }));

    for (auto [view, menu] : {std::pair<LineView*, QMenu*>{m_channelList, m_channelMenu},
                              {m_transponderList, m_transponderMenu}}) {
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this, [this, view, menu](QPoint at) {
            refreshMenus();
            menu->popup(view->mapToGlobal(at));
        });
    }
}

void TForm5::bindKeys() {
    // Undo and redo reach the list from anywhere in the window but the text fields, which keep
    // their own.
    m_undo->setShortcutContext(Qt::WindowShortcut);
    m_redo->setShortcutContext(Qt::WindowShortcut);
}

} // namespace corvex::channelwin
