#include "file_editor.h"
#include "fileeditor/hex_field.h"
#include "hex_grid.h"
#include "hexwin/search_results_model.h"
#include "widgets/hex_key_filter.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QToolButton>
#include <QVBoxLayout>

// The file editor window's controls and pages, bound to its commands.
namespace corvex::hexwin {

using fileeditor::FillAction;
using fileeditor::Notice;
using fileeditor::PatternMode;

namespace {

// Runs an action on Enter in a field and keeps the key from the field.
class KeyCatcher : public QObject {
public:
    KeyCatcher(QWidget* field, std::function<void()> onEnter)
        : QObject(field), m_onEnter(std::move(onEnter)) {
        field->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter) {
            return false;
        }
        m_onEnter();
        return true;
    }

private:
    std::function<void()> m_onEnter;
};

QLabel* caption(const QString& text) {
    auto* label = new QLabel(text);
    return label;
}

// A header over a list of fixed-pitch lines, its sections as wide as the lines' columns.
QHeaderView* headerOver(const QStringList& titles, const QList<int>& characterWidths,
                        const QFont& font, QWidget* parent) {
    auto* header = new QHeaderView(Qt::Horizontal, parent);
    auto* model = new QStandardItemModel(0, static_cast<int>(titles.size()), header);
    model->setHorizontalHeaderLabels(titles);
    header->setModel(model);
    header->setSectionsClickable(false);
    header->setStretchLastSection(true);
    const int pxChar = QFontMetrics(font).horizontalAdvance(QLatin1Char('0'));
    for (int i = 0; i < characterWidths.size(); ++i) {
        header->resizeSection(i, characterWidths[i] * pxChar);
    }
    return header;
}

} // namespace

QLineEdit* TForm3::hexField(const QString& name, int digits, std::function<void()> onEnter,
                            int shownDigits) {
    auto* field = new QLineEdit;
    field->setObjectName(name);
    field->setMaxLength(digits);
    field->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const int shown = shownDigits > 0 ? shownDigits : digits;
    field->setFixedWidth(
        QFontMetrics(field->font()).horizontalAdvance(QString(shown + 2, QLatin1Char('0'))) + 8);
    new widgets::HexKeyFilter(field, std::move(onEnter));
    return field;
}

QWidget* TForm3::buildControls() {
    auto* box = new QWidget;
    auto* rows = new QVBoxLayout(box);
    rows->setContentsMargins(0, 0, 0, 0);
    auto* top = new QHBoxLayout;
    auto* bottom = new QHBoxLayout;
    rows->addLayout(top);
    rows->addLayout(bottom);

    const auto button = [](const QString& text, const QString& name, const QString& hint) {
        auto* b = new QToolButton;
        b->setText(text);
        b->setObjectName(name);
        b->setToolTip(hint);
        return b;
    };

    top->addWidget(caption(QStringLiteral("File action:")));
    auto* open = button(QStringLiteral("Open"), QStringLiteral("OpenButton"),
                        QStringLiteral("Open a file, or insert one into the workspace"));
    connect(open, &QToolButton::clicked, this, &TForm3::openWithDialog);
    auto* save = button(QStringLiteral("Save"), QStringLiteral("SaveButton"),
                        QStringLiteral("Save a range of the workspace"));
    connect(save, &QToolButton::clicked, this, [this] { (void)saveWithDialog(); });
    top->addWidget(open);
    top->addWidget(save);
    top->addSpacing(16);

    top->addWidget(caption(QStringLiteral("View mode:")));
    m_viewModes = new QButtonGroup(this);
    const QStringList bands{QStringLiteral("2"), QStringLiteral("4"), QStringLiteral("8"),
                            QStringLiteral("16")};
    for (int mode = 0; mode < bands.size(); ++mode) {
        auto* b = button(bands[mode], QStringLiteral("ViewMode%1").arg(mode),
                         QStringLiteral("Bands of %1 bytes").arg(bands[mode]));
        b->setCheckable(true);
        b->setChecked(mode == 2);
        m_viewModes->addButton(b, mode);
        top->addWidget(b);
    }
    connect(m_viewModes, &QButtonGroup::idClicked, this, &TForm3::setViewMode);
    m_autoScrollButton = button(QStringLiteral("Auto"), QStringLiteral("AutoScrollButton"),
                                QStringLiteral("Page down through the file"));
    m_autoScrollButton->setCheckable(true);
    connect(m_autoScrollButton, &QToolButton::toggled, this,
            [this](bool on) { on ? m_autoScroll.start() : m_autoScroll.stop(); });
    top->addWidget(m_autoScrollButton);
    top->addSpacing(16);

    // Clicking the label runs the integrity check.
    auto* patternMode = button(QStringLiteral("Pattern mode:"), QStringLiteral("PatternModeLabel"),
                               QStringLiteral("Check the workspace against the opened file"));
    patternMode->setAutoRaise(true);
    connect(patternMode, &QToolButton::clicked, this, &TForm3::checkIntegrity);
    top->addWidget(patternMode);
    auto* modes = new QButtonGroup(this);
    const QStringList modeNames{QStringLiteral("Txt"), QStringLiteral("Hex"),
                                QStringLiteral("Bin")};
    for (int mode = 0; mode < modeNames.size(); ++mode) {
        auto* b = button(modeNames[mode], QStringLiteral("PatternMode%1").arg(mode), QString());
        b->setCheckable(true);
        b->setChecked(mode == 0);
        modes->addButton(b, mode);
        top->addWidget(b);
    }
    connect(modes, &QButtonGroup::idClicked, this,
            [this](int mode) { setPatternMode(static_cast<PatternMode>(mode)); });
    // Checked: letters are found as typed, as before the box was there.
    m_matchCase = new QCheckBox(QStringLiteral("Match case"));
    m_matchCase->setObjectName(QStringLiteral("MatchCase"));
    m_matchCase->setChecked(true);
    top->addWidget(m_matchCase);
    top->addStretch(1);

    m_patternLabel = caption(QStringLiteral("Text search pattern:"));
    bottom->addWidget(m_patternLabel);
    m_patternBox = new QComboBox;
    m_patternBox->setObjectName(QStringLiteral("PatternBox"));
    m_patternBox->setEditable(true);
    m_patternBox->setInsertPolicy(QComboBox::NoInsert);
    m_patternBox->setMinimumWidth(160);
    // Enter is taken before the box sees it: the box would also report a typed text that
    // matches a history item as chosen, and the search would run twice.
    new KeyCatcher(m_patternBox->lineEdit(), [this] { search(); });
    connect(m_patternBox, &QComboBox::activated, this, [this] {
        if (!m_patternBox->lineEdit()->hasSelectedText()) {
            search();
        }
    });
    bottom->addWidget(m_patternBox);
    auto* find = new QPushButton(QStringLiteral("Search"));
    find->setObjectName(QStringLiteral("SearchButton"));
    connect(find, &QPushButton::clicked, this, [this] {
        if (auto refusal = fileeditor::refuseSearchButton(m_patternMode)) {
            notify(refusal);
            return;
        }
        search();
    });
    bottom->addWidget(find);
    m_previous = new QPushButton(QStringLiteral("<"));
    m_previous->setObjectName(QStringLiteral("PreviousButton"));
    m_next = new QPushButton(QStringLiteral(">"));
    m_next->setObjectName(QStringLiteral("NextButton"));
    for (QPushButton* b : {m_previous, m_next}) {
        b->setEnabled(false);
        b->setFixedWidth(28);
        bottom->addWidget(b);
    }
    connect(m_previous, &QPushButton::clicked, this, &TForm3::previousResult);
    connect(m_next, &QPushButton::clicked, this, &TForm3::nextResult);
    bottom->addSpacing(12);

    bottom->addWidget(caption(QStringLiteral("Jump to:")));
    // Addresses past 4 GiB take more than eight digits; the field keeps its width and scrolls.
    m_jumpField = hexField(
        QStringLiteral("JumpField"), fileeditor::kAddressDigits, [this] { jump(); }, 8);
    bottom->addWidget(m_jumpField);
    auto* go = new QPushButton(QStringLiteral("Go"));
    go->setObjectName(QStringLiteral("JumpButton"));
    connect(go, &QPushButton::clicked, this, &TForm3::jump);
    bottom->addWidget(go);

    bottom->addWidget(caption(QStringLiteral("Base address:")));
    m_baseField = hexField(QStringLiteral("BaseField"), 8, [this] { setBaseAddress(); });
    m_baseField->setText(QStringLiteral("00000000"));
    bottom->addWidget(m_baseField);
    auto* setBase = new QPushButton(QStringLiteral("Set"));
    setBase->setObjectName(QStringLiteral("BaseButton"));
    connect(setBase, &QPushButton::clicked, this, &TForm3::setBaseAddress);
    bottom->addWidget(setBase);

    bottom->addWidget(caption(QStringLiteral("File Offset:")));
    m_offsetField = hexField(QStringLiteral("FileOffsetField"), fileeditor::kAddressDigits, {}, 8);
    m_offsetField->setReadOnly(true);
    bottom->addWidget(m_offsetField);
    auto* fillButton = new QPushButton(QStringLiteral("Fill"));
    fillButton->setObjectName(QStringLiteral("FillButton"));
    connect(fillButton, &QPushButton::clicked, this, &TForm3::showFillPanel);
    bottom->addWidget(fillButton);
    bottom->addStretch(1);
    return box;
}

QWidget* TForm3::buildFillPanel() {
    m_fillPanel = new QFrame;
    m_fillPanel->setObjectName(QStringLiteral("FillPanel"));
    m_fillPanel->setFrameShape(QFrame::StyledPanel);
    auto* row = new QHBoxLayout(m_fillPanel);
    row->addWidget(caption(QStringLiteral("Fill Pattern mode")));
    const auto ok = [this] { fill(FillAction::Fill); };
    row->addWidget(caption(QStringLiteral("Start address:")));
    m_fillStart = hexField(QStringLiteral("FillStart"), fileeditor::kAddressDigits, ok, 8);
    row->addWidget(m_fillStart);
    row->addWidget(caption(QStringLiteral("End address:")));
    m_fillEnd = hexField(QStringLiteral("FillEnd"), fileeditor::kAddressDigits, ok, 8);
    row->addWidget(m_fillEnd);
    row->addWidget(caption(QStringLiteral("Fill value:")));
    m_fillValue = hexField(QStringLiteral("FillValue"), 2, ok);
    m_fillValue->setText(QStringLiteral("FF"));
    row->addWidget(m_fillValue);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    connect(cancel, &QPushButton::clicked, this, [this] {
        m_fillPanel->hide();
        m_grid->setFocus();
    });
    auto* okButton = new QPushButton(QStringLiteral("OK"));
    okButton->setObjectName(QStringLiteral("FillOk"));
    connect(okButton, &QPushButton::clicked, this, ok);
    auto* reload = new QPushButton(QStringLiteral("Reload"));
    reload->setObjectName(QStringLiteral("FillReload"));
    connect(reload, &QPushButton::clicked, this, [this] { fill(FillAction::Reload); });
    row->addWidget(cancel);
    row->addWidget(okButton);
    row->addWidget(reload);
    row->addStretch(1);
    m_fillPanel->hide();
    return m_fillPanel;
}

QWidget* TForm3::buildEditorPage() {
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    column->addLayout(row);
    m_grid = new HexGrid(*m_workspace);
    m_grid->setRefreshBusy([this] { return m_refreshing > 0; });
    m_grid->setNotify([this](const std::optional<Notice>& notice) { notify(notice); });
    connect(m_grid, &HexGrid::changed, this, &TForm3::onGridChanged);
    m_scrollBar = new QScrollBar(Qt::Vertical);
    m_scrollBar->setObjectName(QStringLiteral("ScrollBar"));
    m_scrollBar->setPageStep(fileeditor::kRows);
    m_scrollBar->setFixedHeight(m_grid->height());
    connect(m_scrollBar, &QScrollBar::valueChanged, this, &TForm3::onScroll);
    row->addWidget(m_grid, 0, Qt::AlignTop);
    row->addWidget(m_scrollBar, 0, Qt::AlignTop);
    row->addStretch(1);

    // Below the grid, which keeps its own geometry: where the cursor is, and the copy of a
    // large file going on.
    m_statusLine = new QLabel;
    m_statusLine->setObjectName(QStringLiteral("StatusLine"));
    m_statusLine->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_statusLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_statusLine->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A fixed size: new text then repaints the label alone instead of laying the window out
    // again on every key.
    m_statusLine->setFixedSize(m_grid->width(),
                               3 * QFontMetrics(m_statusLine->font()).lineSpacing() + 4);
    column->addWidget(m_statusLine);
    m_loadPanel = new QWidget;
    m_loadPanel->setObjectName(QStringLiteral("LoadProgress"));
    auto* load = new QHBoxLayout(m_loadPanel);
    load->setContentsMargins(0, 0, 0, 0);
    load->addWidget(new QLabel(QStringLiteral("Loading the file into the workspace ...")));
    m_loadBar = new QProgressBar;
    m_loadBar->setRange(0, 1000);
    load->addWidget(m_loadBar, 1);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setObjectName(QStringLiteral("LoadCancel"));
    connect(cancel, &QPushButton::clicked, this, &TForm3::cancelLoading);
    load->addWidget(cancel);
    m_loadPanel->hide();
    column->addWidget(m_loadPanel);
    column->addStretch(1);
    return page;
}

QWidget* TForm3::buildResultsPage() {
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    column->addWidget(headerOver({QStringLiteral("Base + Offset"), QStringLiteral("File offset"),
                                  QStringLiteral("Searched pattern")},
                                 {12, 11}, fixed, page));
    m_resultsModel = new ResultsModel(m_results, this);
    m_resultsView = new QListView;
    m_resultsView->setObjectName(QStringLiteral("ResultsList"));
    m_resultsView->setFont(fixed);
    m_resultsView->setUniformItemSizes(true);
    m_resultsView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_resultsView->setModel(m_resultsModel);
    connect(m_resultsView, &QListView::doubleClicked, this, &TForm3::jumpToSelectedResult);
    column->addWidget(m_resultsView, 1);
    auto* buttons = new QHBoxLayout;
    auto* jumpButton = new QPushButton(QStringLiteral("Jump"));
    connect(jumpButton, &QPushButton::clicked, this, &TForm3::jumpToSelectedResult);
    auto* remove = new QPushButton(QStringLiteral("Delete"));
    connect(remove, &QPushButton::clicked, this, [this] {
        m_results.erase(selectedResults());
        resultsChanged();
    });
    auto* clear = new QPushButton(QStringLiteral("Clear"));
    connect(clear, &QPushButton::clicked, this, [this] {
        m_results.clear();
        resultsChanged();
    });
    for (QPushButton* b : {jumpButton, remove, clear}) {
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    column->addLayout(buttons);
    return page;
}

QWidget* TForm3::buildHistoryPage() {
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    column->addWidget(
        headerOver({QStringLiteral("Item"), QStringLiteral("Start"), QStringLiteral("End"),
                    QStringLiteral("Length"), QStringLiteral("Filename")},
                   {6, 10, 10, 10}, fixed, page));
    m_history = new QListWidget;
    m_history->setObjectName(QStringLiteral("HistoryList"));
    m_history->setFont(fixed);
    m_history->setSelectionMode(QAbstractItemView::ExtendedSelection);
    column->addWidget(m_history, 1);
    auto* buttons = new QHBoxLayout;
    auto* clear = new QPushButton(QStringLiteral("Clear"));
    connect(clear, &QPushButton::clicked, this, [this] {
        m_workspace->clearHistory();
        showPage();
    });
    auto* remove = new QPushButton(QStringLiteral("Delete"));
    connect(remove, &QPushButton::clicked, this, [this] {
        std::vector<std::size_t> lines;
        for (const QModelIndex& index : m_history->selectionModel()->selectedRows()) {
            lines.push_back(static_cast<std::size_t>(index.row()));
        }
        m_workspace->deleteHistoryLines(std::move(lines));
        showPage();
    });
    buttons->addWidget(clear);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    column->addLayout(buttons);
    return page;
}

} // namespace corvex::hexwin
