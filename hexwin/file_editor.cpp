#include "file_editor.h"

#include "fileeditor/hex_field.h"
#include "hex_grid.h"
#include "range_dialog.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <atomic>
#include <climits>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace corvex::hexwin {

namespace {

// Files up to this size are copied while the window waits, which takes a blink; larger ones
// show their first page at once and are copied behind a progress bar.
constexpr std::uint64_t kCopyWhileWaitingBytes = std::uint64_t{64} << 20;
constexpr int kLoadTickMs = 50;

} // namespace

using fileeditor::FillAction;
using fileeditor::Notice;
using fileeditor::PatternMode;

// The "Search Results" list over the core's results, which may hold a quarter of a million
// lines: the view asks for the lines it paints and nothing more. While a search runs the list
// belongs to the search thread, so the model shows nothing until it has ended.
class ResultsModel : public QAbstractListModel {
public:
    ResultsModel(fileeditor::SearchResults& results, QObject* parent)
        : QAbstractListModel(parent), m_results(results) {}

    void setHidden(bool hidden) {
        beginResetModel();
        m_hidden = hidden;
        endResetModel();
    }
    void reset() {
        beginResetModel();
        endResetModel();
    }

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() || m_hidden ? 0 : static_cast<int>(m_results.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || m_hidden || !index.isValid() ||
            static_cast<std::size_t>(index.row()) >= m_results.size()) {
            return {};
        }
        return QString::fromLatin1(m_results.text(static_cast<std::size_t>(index.row())));
    }

private:
    fileeditor::SearchResults& m_results;
    bool m_hidden = false;
};

namespace {

// Field filter shared by the base, jump and fill fields: hexadecimal digits (upper-cased) and
// backspace are taken, Enter runs the field's button, every other character is swallowed.
class HexFieldFilter : public QObject {
public:
    HexFieldFilter(QLineEdit* field, std::function<void()> onEnter)
        : QObject(field), m_onEnter(std::move(onEnter)) {
        field->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && m_onEnter) {
            m_onEnter();
        }
        return typeIntoHexField(*static_cast<QLineEdit*>(watched), *key);
    }

private:
    std::function<void()> m_onEnter;
};

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

// Bytes shown as they are (patterns, fields, results); names and messages are UTF-8 instead.
QString qText(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string stdText(const QString& text) {
    return text.toLatin1().toStdString();
}

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

// The working copy of this run: named after the program, with a lock held on a companion file
// so that two runs side by side never work in the same copy (the copy itself is replaced by a
// rename on every open, which a lock on it would not survive).
std::string lockedWorkFileName(const std::string& programPath,
                               std::optional<link::WorkFile>& lock) {
    std::string error;
    lock = link::lockWorkFile(programPath, "TBF.lock", error);
    if (lock) {
        const std::string& path = lock->path();
        return path.substr(0, path.size() - std::string_view(".lock").size());
    }
    // Every slot taken: a copy of this process's own.
    return link::programFileName(programPath, std::to_string(::getpid()) + ".TBF");
}

} // namespace

TForm3::TForm3(QWidget* owner, const std::string& programPath)
    : QWidget(owner, Qt::Window), m_workspace(std::make_unique<fileeditor::Workspace>(
                                      lockedWorkFileName(programPath, m_workLock))) {
    setObjectName(QStringLiteral("TForm3"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString::fromStdString(m_workspace->caption()));

    showNotice = [this](const Notice& notice) {
        QMessageBox box(
            QMessageBox::Warning, QString::fromStdString(notice.title),
            QString::fromStdString(notice.text).replace(QLatin1Char('\r'), QLatin1Char('\n')),
            QMessageBox::Ok, this);
        box.exec();
    };
    askSave = [this] {
        const auto answer = QMessageBox::question(
            this, QStringLiteral("File Editor"),
            QStringLiteral("The workspace has unsaved changes. Save them before closing?"),
            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
        return answer == QMessageBox::Save      ? SaveAnswer::Save
               : answer == QMessageBox::Discard ? SaveAnswer::Discard
                                                : SaveAnswer::Cancel;
    };
    askYesNo = [this](const QString& title, const QString& text) {
        QMessageBox box(QMessageBox::Question, title,
                        QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };
    runDialog = [](TOpenFavDialog& dialog) { return dialog.execute(); };
    recoveryFolder = [] { return link::userDataFolder("recovery"); };

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(buildControls());
    layout->addWidget(buildFillPanel());
    m_pages = new QTabWidget;
    m_pages->addTab(buildEditorPage(), QStringLiteral("Workspace"));
    m_pages->addTab(buildResultsPage(), QStringLiteral("Search Results"));
    m_pages->addTab(buildHistoryPage(), QStringLiteral("History workspace"));
    m_pages->setTabToolTip(2, QStringLiteral("Files loaded into workspace ..."));
    layout->addWidget(m_pages, 1);

    const auto key = [this](QKeySequence sequence, auto action) {
        connect(new QShortcut(sequence, this), &QShortcut::activated, this, action);
    };
    key(QKeySequence(Qt::CTRL | Qt::Key_Z), &TForm3::undo);
    key(QKeySequence(Qt::CTRL | Qt::Key_Y), &TForm3::redo);
    key(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), &TForm3::redo);
    key(QKeySequence(Qt::CTRL | Qt::Key_S), [this] { (void)save(); });
    key(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), [this] { (void)saveWithDialog(); });
    key(QKeySequence(Qt::Key_F3), [this] { findFromCursor(true); });
    key(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { findFromCursor(false); });
    key(QKeySequence(Qt::CTRL | Qt::Key_F), [this] {
        m_pages->setCurrentIndex(0);
        m_patternBox->setFocus();
        m_patternBox->lineEdit()->selectAll();
    });
    key(QKeySequence(Qt::CTRL | Qt::Key_G), [this] {
        m_jumpField->setFocus();
        m_jumpField->selectAll();
    });

    m_loadTimer.setInterval(kLoadTickMs);
    connect(&m_loadTimer, &QTimer::timeout, this, &TForm3::loadTick);

    m_autoScroll.setInterval(200);
    connect(&m_autoScroll, &QTimer::timeout, this, &TForm3::autoScrollTick);
    showPage();
}

TForm3::~TForm3() {
    removeWorkFile();
}

void TForm3::removeWorkFile() {
    if (!m_workspace) {
        return;
    }
    const std::string work = m_workspace->workFileName();
    m_workspace.reset(); // its files closed first
    (void)::unlink(work.c_str());
}

QLineEdit* TForm3::hexField(const QString& name, int digits, std::function<void()> onEnter,
                            int shownDigits) {
    auto* field = new QLineEdit;
    field->setObjectName(name);
    field->setMaxLength(digits);
    field->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const int shown = shownDigits > 0 ? shownDigits : digits;
    field->setFixedWidth(
        QFontMetrics(field->font()).horizontalAdvance(QString(shown + 2, QLatin1Char('0'))) + 8);
    new HexFieldFilter(field, std::move(onEnter));
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

void TForm3::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_grid->setFocus();
}

void TForm3::notify(const std::optional<Notice>& notice) {
    if (notice && showNotice) {
        showNotice(*notice);
    }
}

void TForm3::showPage() {
    ++m_refreshing;
    const auto& ws = *m_workspace;
    setWindowTitle(QString::fromStdString(ws.caption()) +
                   (ws.modified() ? QStringLiteral(" *") : QString()));
    m_statusLine->setText(qText(ws.statusLine()));
    // Lines past INT_MAX (files beyond 32 GiB) cannot be reached by the bar; the keys still can.
    const auto clampLine = [](std::uint64_t line) {
        return static_cast<int>(std::min<std::uint64_t>(line, INT_MAX));
    };
    m_scrollBar->setRange(0, clampLine(ws.scrollMaximum()));
    m_scrollBar->setValue(clampLine(ws.scrollPosition()));
    m_offsetField->setText(qText(ws.fileOffsetText()));
    m_grid->update();
    if (m_history->count() != static_cast<int>(ws.history().size()) ||
        (m_history->count() > 0 && m_history->item(m_history->count() - 1)->text() !=
                                       QString::fromStdString(ws.history().back()))) {
        m_history->clear();
        for (const std::string& line : ws.history()) {
            m_history->addItem(QString::fromStdString(line));
        }
    }
    emit pageShown();
    --m_refreshing;
}

void TForm3::refreshPage() {
    if (m_refreshing > 0) {
        return;
    }
    m_workspace->refreshPage();
    showPage();
}

void TForm3::onScroll(int line) {
    if (m_refreshing > 0) {
        return;
    }
    m_workspace->setScrollPosition(static_cast<std::uint64_t>(line));
    showPage();
}

void TForm3::onGridChanged(bool) {
    showPage();
}

void TForm3::autoScrollTick() {
    auto& ws = *m_workspace;
    if (m_refreshing == 0) {
        ws.pressKey(fileeditor::EditorKey::PageDown);
        showPage();
    }
    if (ws.scrollPosition() >= ws.scrollMaximum()) {
        m_autoScrollButton->setChecked(false);
    }
}

bool TForm3::openByName(const std::string& name) {
    const bool opened = startOpen(name);
    m_pages->setCurrentIndex(0);
    m_grid->setFocus();
    return opened;
}

bool TForm3::startOpen(const std::string& name) {
    cancelLoading();
    std::string restore;
    if (const std::string folder = recoveryFolder ? recoveryFolder() : std::string();
        !folder.empty()) {
        const std::string kept = fileeditor::Workspace::recoveryFileName(folder, name);
        if (std::filesystem::exists(kept)) {
            if (askYesNo(QStringLiteral("File Editor"),
                         QStringLiteral("Unsaved edits of %1 were kept when the program was "
                                        "closed.\rRestore them? No discards them.")
                             .arg(QString::fromStdString(name)))) {
                restore = kept;
            } else {
                (void)::unlink(kept.c_str());
            }
        }
    }
    auto refusal = m_workspace->beginOpen(name, restore);
    if (!refusal && m_workspace->bytesToLoad() <= kCopyWhileWaitingBytes) {
        refusal = m_workspace->finishLoading(true);
    }
    notify(refusal);
    if (m_workspace->loading()) {
        m_loadBar->setValue(0);
        m_loadPanel->show();
        m_loadTimer.start();
    }
    showPage();
    return !refusal;
}

void TForm3::loadTick() {
    if (!m_workspace->loading()) {
        m_loadTimer.stop();
        m_loadPanel->hide();
        return;
    }
    const std::uint64_t total = std::max<std::uint64_t>(m_workspace->bytesToLoad(), 1);
    m_loadBar->setValue(static_cast<int>(m_workspace->loadedBytes() * 1000 / total));
    const auto failed = m_workspace->finishLoading(false);
    if (!m_workspace->loading()) {
        m_loadTimer.stop();
        m_loadPanel->hide();
        notify(failed);
        showPage();
    }
}

void TForm3::cancelLoading() {
    if (!m_workspace->loading()) {
        return;
    }
    m_workspace->cancelLoading();
    m_loadTimer.stop();
    m_loadPanel->hide();
    showPage();
}

bool TForm3::confirmSave(const fileeditor::SaveCheck& check) {
    if (check.refusal) {
        notify(check.refusal);
        return false;
    }
    return !check.question ||
           askYesNo(QStringLiteral("Warning"), QString::fromStdString(*check.question));
}

bool TForm3::save() {
    if (!m_workspace->loaded()) {
        return false;
    }
    if (!confirmSave(m_workspace->checkSaveToFile())) {
        showPage();
        return false;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto refusal = m_workspace->saveToFile();
    QApplication::restoreOverrideCursor();
    notify(refusal);
    showPage();
    return !refusal;
}

void TForm3::findFromCursor(bool forward) {
    const auto pattern =
        fileeditor::buildPattern(stdText(m_patternBox->currentText()), m_patternMode);
    if (pattern.empty()) {
        m_patternBox->setFocus();
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto refusal = m_workspace->findFromCursor(pattern, forward, caseMatch());
    QApplication::restoreOverrideCursor();
    notify(refusal);
    m_pages->setCurrentIndex(0);
    showPage();
    m_grid->setFocus();
}

fileeditor::CaseMatch TForm3::caseMatch() const {
    return m_patternMode == PatternMode::Text && !m_matchCase->isChecked()
               ? fileeditor::CaseMatch::IgnoreAsciiCase
               : fileeditor::CaseMatch::Exact;
}

void TForm3::prepareDialog(TOpenFavDialog& dialog) {
    dialog.setBaseAdr(m_baseField->text());
    const QString last = QString::fromStdString(m_workspace->lastDialogFile());
    if (!last.isEmpty()) {
        dialog.setDirectory(QFileInfo(last).absolutePath());
    }
    dialog.setNameFilter(QStringLiteral("Binary Files (*.BIN *.bin)"));
}

void TForm3::openWithDialog() {
    TOpenFavDialog dialog(this);
    prepareDialog(dialog);
    const QString last = QString::fromStdString(m_workspace->lastDialogFile());
    if (!last.isEmpty()) {
        dialog.selectFile(QFileInfo(last).fileName());
    }
    dialog.setOffset(qText(m_workspace->openDialogOffset()));
    dialog.setLength(QStringLiteral("0"));
    for (const auto name : fileeditor::kRangePreferences) {
        dialog.preferenceNames().append(qText(name));
    }
    dialog.setPreferenceIndex(0);
    if (!runDialog(dialog) || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const std::string chosen = dialog.selectedFiles().first().toStdString();
    if (!m_workspace->loaded()) {
        m_workspace->rememberDialogFile(chosen);
        (void)startOpen(chosen);
    } else {
        notify(
            m_workspace->openWithRange(chosen, stdText(dialog.offset()), stdText(dialog.length())));
        showPage();
    }
    m_grid->setFocus();
}

bool TForm3::saveWithDialog() {
    TSaveFavDialog dialog(this);
    prepareDialog(dialog);
    dialog.selectFile(QString::fromStdString(m_workspace->currentFileName()));
    dialog.setOffset(qText(m_workspace->saveDialogOffset()));
    dialog.setLength(QStringLiteral("0"));
    dialog.preferenceNames().append(QStringLiteral("User defined"));
    dialog.setPreferenceIndex(0);
    if (!runDialog(dialog) || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    const std::string chosen = dialog.selectedFiles().first().toStdString();
    if (!confirmSave(
            m_workspace->checkSave(chosen, stdText(dialog.offset()), stdText(dialog.length())))) {
        showPage();
        return false;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto refusal =
        m_workspace->saveRange(chosen, stdText(dialog.offset()), stdText(dialog.length()));
    QApplication::restoreOverrideCursor();
    notify(refusal);
    showPage();
    m_grid->setFocus();
    return !refusal;
}

void TForm3::search() {
    if (m_searching) {
        return;
    }
    if (m_workspace->loading()) {
        notify(Notice{"Info", "The file is still being loaded. Wait for it, or cancel loading."});
        return;
    }
    const std::string text = stdText(m_patternBox->currentText());
    const auto pattern = fileeditor::buildPattern(text, m_patternMode);
    // Edits on the page on screen count: the scan reads the working copy from disk.
    (void)m_workspace->flush();
    m_searching = true;
    m_resultsModel->setHidden(true);

    // The scan runs on a thread of its own so the window can show progress and take Cancel; the
    // results list is the thread's until it is joined.
    std::atomic<bool> cancel{false};          // set by Cancel here, read by the scan
    std::atomic<std::uint64_t> bytesDone{0};  // written by the scan, read by the poll below
    std::atomic<std::uint64_t> bytesTotal{0}; // likewise
    std::atomic<bool> finished{false};        // set by the scan as its last act
    fileeditor::SearchSummary summary;
    fileeditor::SearchControl control;
    control.cancel = &cancel;
    control.progress = [&](std::uint64_t done, std::uint64_t total) {
        bytesDone.store(done, std::memory_order_relaxed);
        bytesTotal.store(total, std::memory_order_relaxed);
    };
    const std::string workFile = m_workspace->workFileName();
    const std::uint32_t base = m_workspace->baseAddress();
    const fileeditor::CaseMatch match = caseMatch();
    m_searchCancel = &cancel;
    std::thread scan([&] {
        summary = fileeditor::searchWorkFile(workFile, pattern, base, m_results, control, match);
        finished.store(true, std::memory_order_release);
    });

    QProgressDialog progress(QStringLiteral("Searching ..."), QStringLiteral("Cancel"), 0, 1000,
                             this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(400);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    connect(&progress, &QProgressDialog::canceled, this, [&cancel] { cancel.store(true); });
    QEventLoop wait;
    QTimer poll;
    poll.setInterval(15);
    connect(&poll, &QTimer::timeout, &wait, [&] {
        if (finished.load(std::memory_order_acquire)) {
            wait.quit();
            return;
        }
        if (progress.wasCanceled()) {
            cancel.store(true); // however it was cancelled: button, Escape or closing it
        }
        const auto total = bytesTotal.load(std::memory_order_relaxed);
        if (total > 0) {
            progress.setValue(
                static_cast<int>(bytesDone.load(std::memory_order_relaxed) * 1000 / total));
        }
    });
    poll.start();
    if (!finished.load(std::memory_order_acquire)) {
        wait.exec();
    }
    scan.join();
    m_searchCancel = nullptr;
    progress.close();
    m_searching = false;
    m_resultsModel->setHidden(false);

    notify(summary.notice);
    if (summary.matches > 0) {
        fileeditor::rememberPattern(m_patternHistory, text);
        m_patternBox->clear();
        for (const std::string& item : m_patternHistory) {
            m_patternBox->addItem(qText(item));
        }
        m_patternBox->setCurrentIndex(0);
    }
    resultsChanged();
    if (m_results.currentResult() >= 0) {
        selectResult(m_results.currentResult());
        notify(m_workspace->goToOffset(
            m_results.offset(static_cast<std::size_t>(m_results.currentResult()))));
        showPage();
    }
    if (m_results.size() > 0) {
        m_resultsView->scrollTo(m_resultsModel->index(static_cast<int>(m_results.size()) - 1));
    }
}

void TForm3::resultsChanged() {
    m_resultsModel->reset();
    m_previous->setEnabled(m_results.canGoPrevious());
    m_next->setEnabled(m_results.canGoNext());
}

void TForm3::selectResult(long index) {
    m_resultsView->clearSelection();
    if (index >= 0) {
        const QModelIndex item = m_resultsModel->index(static_cast<int>(index));
        m_resultsView->selectionModel()->select(item, QItemSelectionModel::Select);
        m_resultsView->setCurrentIndex(item);
    }
    m_previous->setEnabled(m_results.canGoPrevious());
    m_next->setEnabled(m_results.canGoNext());
}

void TForm3::previousResult() {
    const long index = m_results.previousResult();
    selectResult(index);
    if (index >= 0) {
        notify(m_workspace->goToOffset(m_results.offset(static_cast<std::size_t>(index))));
        showPage();
    }
}

void TForm3::nextResult() {
    const long index = m_results.nextResult();
    selectResult(index);
    if (index >= 0) {
        notify(m_workspace->goToOffset(m_results.offset(static_cast<std::size_t>(index))));
        showPage();
    }
}

std::vector<std::size_t> TForm3::selectedResults() const {
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : m_resultsView->selectionModel()->selectedRows()) {
        rows.push_back(static_cast<std::size_t>(index.row()));
    }
    return rows;
}

void TForm3::jumpToSelectedResult() {
    const auto choice = m_results.jumpChoice(selectedResults());
    if (choice.refusal) {
        notify(choice.refusal);
        return;
    }
    if (!choice.offset) {
        return;
    }
    m_pages->setCurrentIndex(0);
    m_jumpField->setText(qText(fileeditor::hexAddress(m_workspace->addressOf(*choice.offset))));
    jump();
}

void TForm3::jump() {
    notify(m_workspace->jump(stdText(m_baseField->text()), stdText(m_jumpField->text())));
    showPage();
    m_grid->setFocus();
}

void TForm3::setBaseAddress() {
    notify(m_workspace->setBaseAddress(stdText(m_baseField->text())));
    showPage();
}

void TForm3::showFillPanel() {
    // A selection is what the fill is for; without one it starts at the cursor.
    if (const auto selected = m_workspace->selection()) {
        m_fillStart->setText(
            qText(fileeditor::hexAddress(m_workspace->addressOf(selected->first))));
        m_fillEnd->setText(qText(fileeditor::hexAddress(m_workspace->addressOf(selected->last))));
    } else {
        m_fillStart->setText(qText(m_workspace->cursorAddressText()));
    }
    m_fillPanel->show();
    m_fillEnd->setFocus();
}

void TForm3::fill(FillAction action) {
    const fileeditor::FillFields fields{stdText(m_fillValue->text()), stdText(m_fillStart->text()),
                                        stdText(m_fillEnd->text())};
    const auto outcome = m_workspace->fill(action, fields);
    if (outcome.endField) {
        m_fillEnd->setText(qText(*outcome.endField));
    }
    if (outcome.jumpField) {
        m_jumpField->setText(qText(*outcome.jumpField));
    }
    notify(outcome.notice);
    if (!outcome.notice) {
        m_fillPanel->hide();
        m_grid->setFocus();
    }
    showPage();
}

void TForm3::checkIntegrity() {
    const auto start = fileeditor::parseHexAddress(stdText(m_fillStart->text()));
    const auto end = fileeditor::parseHexAddress(stdText(m_fillEnd->text()));
    (void)m_workspace->flush(); // the page on screen is part of what is checked
    const Notice done = m_workspace->checkIntegrity(start.value_or(0), end.value_or(0), m_results);
    resultsChanged();
    notify(done);
}

void TForm3::undo() {
    if (!m_workspace->canUndo()) {
        return;
    }
    notify(m_workspace->undo());
    showPage();
}

void TForm3::redo() {
    if (!m_workspace->canRedo()) {
        return;
    }
    notify(m_workspace->redo());
    showPage();
}

void TForm3::setViewMode(int mode) {
    m_workspace->setViewMode(mode);
    if (QAbstractButton* button = m_viewModes->button(mode)) {
        button->setChecked(true);
    }
    m_grid->update();
}

void TForm3::setPatternMode(PatternMode mode) {
    m_patternMode = mode;
    m_matchCase->setEnabled(mode == PatternMode::Text);
    m_patternLabel->setText(mode == PatternMode::Text ? QStringLiteral("Text search pattern:")
                            : mode == PatternMode::Hexadecimal
                                ? QStringLiteral("Hexadecimal search pattern:")
                                : QStringLiteral("Binary search pattern:"));
}

void TForm3::keepForRecovery() {
    if (m_searchCancel != nullptr) {
        m_searchCancel->store(true); // the search's own loop ends at once
    }
    if (recoveryFolder && m_workspace->modified()) {
        (void)m_workspace->keepForRecovery(recoveryFolder());
    }
    m_keptForRecovery = true;
}

void TForm3::closeEvent(QCloseEvent* event) {
    if (m_searching) {
        event->ignore();
        return;
    }
    // A copy still being made holds no edits: it is dropped. Work kept for recovery needs no
    // question either.
    cancelLoading();
    if (!m_keptForRecovery && (modified() || m_workspace->pageDirty())) {
        const SaveAnswer answer = askSave();
        if (answer == SaveAnswer::Cancel || (answer == SaveAnswer::Save && !saveWithDialog())) {
            event->ignore();
            return;
        }
    }
    m_autoScroll.stop();
    event->accept();
}

} // namespace corvex::hexwin
