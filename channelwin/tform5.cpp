#include "channelwin/tform5.h"

#include "channels/channel_csv.h"
#include "channels/channel_recovery.h"
#include "channels/image_writer.h"
#include "channelwin/editor_icons.h"
#include "channelwin/line_views.h"
#include "channelwin/long_notice.h"
#include "link/guard/program_files.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <utility>

namespace corvex::channelwin {

namespace {

using channels::EditorPage;
using channels::Notice;

QString qs(std::string_view text) {
    return QString::fromStdString(std::string(text));
}

std::string std8(const QString& text) {
    return text.toStdString();
}

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

TForm5::TForm5(bool hex, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_editor(hex ? channels::DisplayMode::Hexadecimal : channels::DisplayMode::Decimal) {
    setWindowTitle(qs(m_editor.caption()));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildControlPanel();
    layout->addWidget(m_controlPanel);
    buildPages();
    layout->addWidget(m_pages, 1);
    buildMenus();
    bindKeys();
    m_editor.channels().setChanged([this] {
        m_channelList->refresh();
        m_undo->setEnabled(m_editor.channels().canUndo());
        m_redo->setEnabled(m_editor.channels().canRedo());
    });
    setFixedSize(kClientWidth, kClientHeight);
    // Centred on the screen; the platform places a window without a position.
    if (const QScreen* shown = screen()) {
        move(shown->geometry().center() - rect().center());
    }
    refresh();
    refreshEditPanel();
}

TForm5::~TForm5() {
    m_editor.channels().setChanged({});
    // The lists paint from the editor, which goes before QWidget deletes its children.
    delete m_pages;
}

// ---- Building ----

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

// ---- State to widgets ----

QMessageBox::StandardButton TForm5::ask(const Notice& notice, QMessageBox::StandardButtons buttons,
                                        QMessageBox::Icon icon) {
    if (m_boxHandler) {
        return m_boxHandler(notice, icon, buttons);
    }
    QString text = qs(notice.text);
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QString title =
        notice.title.empty() ? QApplication::applicationDisplayName() : qs(notice.title);
    if (buttons == QMessageBox::Ok && text.count(QLatin1Char('\n')) >= kMaxBoxLines) {
        longNotice(this, icon, title, text);
        return QMessageBox::Ok;
    }
    QMessageBox box(icon, title, text, buttons, this);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void TForm5::showNotice(const std::optional<Notice>& notice, QMessageBox::Icon icon) {
    if (notice) {
        (void)ask(*notice, QMessageBox::Ok, icon);
    }
}

bool TForm5::settleUnsavedWork(bool closing) {
    if (!m_editor.hasUnsavedWork()) {
        return true;
    }
    const std::string text = "The arranged channel list has not been saved into an image. Save it "
                             "before the editor " +
                             std::string(closing ? "closes" : "loads another image") + "?";
    switch (ask(Notice{text, "Warning"},
                QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                QMessageBox::Warning)) {
    case QMessageBox::Save:
        return saveIntoImageAs();
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}

void TForm5::refresh() {
    m_refreshing = true;
    setWindowTitle(qs(m_editor.caption()));
    const int page = m_editor.page() == EditorPage::Channels ? 0 : 1;
    if (m_pages->currentIndex() != page) {
        m_pages->setCurrentIndex(page);
    }
    m_expandButton->setEnabled(page == 1);
    m_collapseButton->setEnabled(page == 1);
    m_channelList->refresh();
    m_transponderList->refresh();
    if (m_editor.searchText() != m_syncedSearch || m_editor.searchResults() != m_syncedResults) {
        m_syncedSearch = m_editor.searchText();
        m_syncedResults = m_editor.searchResults();
        m_search->clear();
        for (const channels::SearchResult& result : m_syncedResults) {
            m_search->addItem(qs(result.text));
        }
        m_search->setCurrentIndex(m_syncedResults.empty() ? -1 : 0);
        m_search->setEditText(qs(m_syncedSearch));
    }
    m_undo->setEnabled(m_editor.channels().canUndo());
    m_redo->setEnabled(m_editor.channels().canRedo());
    m_saveIntoImage->setEnabled(m_loaded && m_editor.channels().size() > 0);
    refreshMenus();
    m_refreshing = false;
}

void TForm5::refreshEditPanel() {
    if (m_editPanel->isHidden()) {
        return;
    }
    for (QLabel* label : m_advancedLabels) {
        label->setVisible(m_advanced);
    }
    for (std::size_t i = 1; i < m_fields.size(); ++i) {
        m_fields[i]->setVisible(m_advanced);
    }
    const channels::EditPanelValues values = m_editor.channels().editPanel();
    const std::string* texts[] = {&values.name, &values.transponder, &values.sid,  &values.vpid,
                                  &values.apid, &values.vecm,        &values.aecm, &values.pcr};
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        m_fields[i]->setText(qs(*texts[i]));
    }
    m_favourite->setChecked(values.flags.favourite);
    m_parental->setChecked(values.flags.parental);
    m_active->setChecked(values.flags.active);
}

void TForm5::refreshMenus() {
    const bool one = m_editor.canJumpToTransponder();
    m_jumpToTransponder->setEnabled(one);
    m_familyChannels->setEnabled(one);
    const auto& tps = m_editor.transponders();
    const std::optional<std::size_t> current = tps.current();
    const bool onTransponder =
        current && tps.kind(*current) == channels::TransponderLineKind::Transponder;
    m_selectTpChannels->setEnabled(onTransponder);
    m_viewTpChannels->setEnabled(onTransponder);
    m_viewTpChannels->setText(onTransponder && tps.isExpanded(*current)
                                  ? QStringLiteral("Hide TP channels")
                                  : QStringLiteral("View TP channels"));
    m_jumpToChannel->setEnabled(current && tps.kind(*current) ==
                                               channels::TransponderLineKind::ChannelSubLine);
    for (QAction* toggle : m_controlPanelToggles) {
        toggle->setText(m_controlPanel->isHidden() ? QStringLiteral("View control panel")
                                                   : QStringLiteral("Hide control panel"));
    }
    for (QAction* toggle : m_editPanelToggles) {
        toggle->setText(m_editPanel->isHidden() ? QStringLiteral("View edit panel")
                                                : QStringLiteral("Hide edit panel"));
    }
}

void TForm5::setAdvanced(bool on) {
    m_advanced = on;
    m_advancedButton->setChecked(on);
    align(true);
    refreshEditPanel();
}

void TForm5::align(bool widthToo) {
    if (isMaximized()) {
        return;
    }
    QSize screenSize = m_screenSize.value_or(QSize());
    if (!m_screenSize) {
        if (const QScreen* shown = screen()) {
            screenSize = shown->geometry().size();
        }
    }
    const QRect frame = frameGeometry();
    const QSize pxFrame = frame.size() - size(); // borders and title bar
    int width = frame.width();
    int left = frame.x();
    int top = 0;
    int height = screenSize.height();
    if (widthToo) {
        width = m_advanced ? kAdvancedWidth : kSimpleWidth;
        left = (screenSize.width() - width) / 2;
        if (left < 50) {
            left = -4;
            top = -4;
            width = screenSize.width() + 8;
            height = screenSize.height() + 8;
        }
    }
    setFixedSize(width - pxFrame.width(), height - pxFrame.height());
    move(left, top);
}

void TForm5::toggleControlPanel() {
    m_controlPanel->setVisible(m_controlPanel->isHidden());
    refreshMenus();
}

void TForm5::toggleEditPanel() {
    const bool show = m_editPanel->isHidden();
    m_editPanel->setVisible(show);
    m_notePanel->setVisible(show);
    if (show) {
        refreshEditPanel();
    }
    refreshMenus();
}

void TForm5::pageShown(int index) {
    if (m_refreshing) {
        return;
    }
    m_editor.showPage(index == 0 ? EditorPage::Channels : EditorPage::Transponders);
    refresh();
    if (index == 0) {
        refreshEditPanel();
    }
}

// ---- Commands ----

void TForm5::loadImage(const std::string& image) {
    // The caption names the file before the load, as any message of the load stands over it.
    setWindowTitle(qs("Channel List Editor - [" + image + "]"));
    repaint();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_imageName = image;
    m_loaded = false;
    m_keptForRecovery = false;
    m_image.clear();
    std::string error;
    // A damaged table warns once per record: they are gathered into one box.
    std::vector<std::string> warnings;
    const auto onWarning = [&warnings](const std::string& text) { warnings.push_back(text); };
    std::optional<Notice> notice;
    if (std::optional<std::vector<std::uint8_t>> bytes = channels::readImageFile(image, &error)) {
        m_image = std::move(*bytes);
        notice = m_editor.load(image, m_image, onWarning);
        m_loaded = !notice;
    } else {
        // Empty lists under the file's name. Before any firmware was read there is nothing to
        // load and nothing to say; otherwise the reason the file could not be read.
        (void)m_editor.load(image, std::span<const std::uint8_t>());
        if (!image.empty()) {
            notice = Notice{error, "Error"};
        }
    }
    QApplication::restoreOverrideCursor();
    refresh();
    refreshEditPanel();
    showNotice(channels::warningsNotice(warnings), QMessageBox::Warning);
    showNotice(notice, QMessageBox::Warning);
    if (m_loaded) {
        offerRecovery();
    }
}

void TForm5::offerRecovery() {
    std::optional<channels::ArrangedSnapshot> snapshot = channels::findArrangedList(
        link::userDataFolder("recovery"), m_imageName, m_image, m_editor.mode());
    if (!snapshot) {
        return;
    }
    const QMessageBox::StandardButton answer =
        ask(Notice{"A channel list arranged on this image was not saved when the program had to "
                   "close, and was kept. Restore it?",
                   std::string(channels::kMessageTitle)},
            QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes) {
        // One step: Undo gives back the list as the image holds it.
        m_editor.channels().replaceAll(std::move(snapshot->lines));
        refresh();
        refreshEditPanel();
    }
    // Offered once: restored, it is unsaved work in this window again; refused, it is gone.
    std::error_code ignored;
    std::filesystem::remove(snapshot->file, ignored);
}

void TForm5::loadFromDisk() {
    if (!settleUnsavedWork(false)) {
        return;
    }
    std::optional<std::string> chosen;
    if (m_fileHandler) {
        chosen = m_fileHandler(QStringLiteral("Open"), false);
    } else {
        const QString name =
            QFileDialog::getOpenFileName(this, QStringLiteral("Open"), QDir::homePath(),
                                         QStringLiteral("Binary firmware files (*.BIN *.bin)"));
        if (!name.isEmpty()) {
            chosen = std8(name);
        }
    }
    if (chosen) {
        loadImage(*chosen);
    }
}

void TForm5::sortBySection(int section) {
    using channels::SortColumn;
    // Sections: Item, Channel Name, Favorite, Parental, Active, TP, SID, VPID, APID, VECM,
    // AECM, PCR.
    static constexpr std::array<std::optional<SortColumn>, 12> kSortBy{
        std::nullopt,    SortColumn::Name, std::nullopt,
        std::nullopt,    std::nullopt,     SortColumn::Transponder,
        SortColumn::Sid, SortColumn::Vpid, SortColumn::Apid,
        std::nullopt,    std::nullopt,     SortColumn::Pcr};
    if (section == 0) {
        toggleControlPanel();
        return;
    }
    if (section < 0 || static_cast<std::size_t>(section) >= kSortBy.size() || !kSortBy[section]) {
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_editor.sortChannels(*kSortBy[section]);
    QApplication::restoreOverrideCursor();
    refresh();
    refreshEditPanel();
}

void TForm5::runSearch() {
    m_editor.setSearchText(std8(m_search->currentText()));
    m_editor.search();
    m_syncedSearch.clear();
    m_syncedResults.clear();
    refresh();
    // The box always shows what the search left, even when that equals the text typed.
    m_search->setEditText(qs(m_editor.searchText()));
    if (m_editor.page() == EditorPage::Channels) {
        refreshEditPanel();
    }
}

void TForm5::dropOn(std::optional<std::size_t> target) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const channels::DropResult result = m_editor.channels().drop(target);
    if (result.pointerUpOneLine) {
        QCursor::setPos(QCursor::pos() - QPoint(0, kPxItemHeight));
    }
    QApplication::restoreOverrideCursor();
    m_channelList->endDrag();
    refresh();
    refreshEditPanel();
    showNotice(result.notice);
}

void TForm5::exportCsv() {
    std::optional<std::string> chosen;
    if (m_fileHandler) {
        chosen = m_fileHandler(QStringLiteral("Export list as CSV"), true);
    } else {
        const QString name =
            QFileDialog::getSaveFileName(this, QStringLiteral("Export list as CSV"),
                                         QDir::homePath(), QStringLiteral("CSV files (*.csv)"));
        if (!name.isEmpty()) {
            chosen = std8(name);
        }
    }
    if (!chosen) {
        return;
    }
    std::string error;
    if (!channels::writeChannelListCsv(*chosen, m_editor.channels().lines(),
                                       m_editor.transponders().lines(), error)) {
        showNotice(Notice{error, "Error"}, QMessageBox::Critical);
    }
}

bool TForm5::saveIntoImageAs() {
    std::optional<std::string> chosen;
    if (m_fileHandler) {
        chosen = m_fileHandler(QStringLiteral("Save list into image as"), true);
    } else {
        const QString name = QFileDialog::getSaveFileName(
            this, QStringLiteral("Save list into image as"), QDir::homePath(),
            QStringLiteral("Binary firmware files (*.BIN *.bin)"));
        if (!name.isEmpty()) {
            chosen = std8(name);
        }
    }
    return chosen && saveIntoImage(*chosen);
}

bool TForm5::saveIntoImage(const std::string& target) {
    if (!m_loaded) {
        showNotice(Notice{"There is no loaded channel list to save.", "Error"},
                   QMessageBox::Warning);
        return false;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::string error;
    const bool saved = channels::saveListIntoImage(
        m_image, m_imageName, target, m_editor.channels().lines(), m_editor.mode(), error);
    QApplication::restoreOverrideCursor();
    if (!saved) {
        showNotice(Notice{error, "Error"}, QMessageBox::Critical);
        return false;
    }
    m_editor.markSaved();
    showNotice(Notice{"The channel list was saved into " + target + ".", "Information"});
    return true;
}

void TForm5::keepForRecovery() {
    m_keptForRecovery = true;
    if (!m_loaded || !m_editor.hasUnsavedWork()) {
        return;
    }
    std::string error;
    if (!channels::keepArrangedList(link::userDataFolder("recovery"), m_imageName, m_image,
                                    m_editor.channels().lines(), error)) {
        // No box: nobody is there to answer it. The terminal is the last place left to say it.
        std::cerr << "corvex: the arranged channel list could not be kept: " << error << '\n';
    }
}

// ---- Events ----

void TForm5::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
        m_channelList->endDrag();
    }
    QWidget::changeEvent(event);
}

void TForm5::closeEvent(QCloseEvent* event) {
    if (!m_keptForRecovery && !settleUnsavedWork(true)) {
        event->ignore();
        return;
    }
    m_channelList->endDrag();
    QWidget::closeEvent(event);
}

bool TForm5::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const auto at = std::find(m_enterOrder.begin(), m_enterOrder.end(), watched);
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && at != m_enterOrder.end()) {
            // The next control shown; after the last one (PCR, or Active in simple mode, where
            // the PID fields are hidden) the name again.
            auto next = std::find_if(at + 1, m_enterOrder.end(),
                                     [this](QWidget* w) { return w->isVisibleTo(this); });
            (next == m_enterOrder.end() ? m_enterOrder.front() : *next)->setFocus();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Lookups for tests ----

QAction* TForm5::action(const QString& caption) const {
    for (const QMenu* menu : {m_channelMenu, m_transponderMenu}) {
        for (QAction* entry : menu->actions()) {
            if (entry->text() == caption) {
                return entry;
            }
        }
    }
    return nullptr;
}

QAbstractButton* TForm5::button(const QString& hint) const {
    for (QAbstractButton* found : findChildren<QAbstractButton*>()) {
        if (found->text() == hint) {
            return found;
        }
    }
    return nullptr;
}

QLineEdit* TForm5::field(const QString& label) const {
    if (label == QStringLiteral("Channel name:")) {
        return m_fields.front();
    }
    for (std::size_t i = 0; i < m_advancedLabels.size(); ++i) {
        if (m_advancedLabels[i]->text() == label) {
            return m_fields[i + 1];
        }
    }
    return nullptr;
}

QCheckBox* TForm5::checkBox(const QString& caption) const {
    for (QCheckBox* box : {m_favourite, m_parental, m_active}) {
        if (box->text() == caption) {
            return box;
        }
    }
    return nullptr;
}

} // namespace corvex::channelwin
