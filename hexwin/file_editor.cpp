#include "file_editor.h"

#include "fileeditor/hex_field.h"
#include "hex_grid.h"
#include "range_dialog.h"
#include "widgets/qt_text.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QScrollBar>
#include <QShortcut>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <climits>
#include <filesystem>
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
using widgets::qsLatin1;
using widgets::stdLatin1;

TForm3::TForm3(QWidget* owner, const std::string& programPath)
    : QWidget(owner, Qt::Window), m_workspace(std::make_unique<fileeditor::Workspace>(
                                      fileeditor::lockedWorkFileName(programPath, m_workLock))) {
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
    m_statusLine->setText(qsLatin1(ws.statusLine()));
    // Lines past INT_MAX (files beyond 32 GiB) cannot be reached by the bar; the keys still can.
    const auto clampLine = [](std::uint64_t line) {
        return static_cast<int>(std::min<std::uint64_t>(line, INT_MAX));
    };
    m_scrollBar->setRange(0, clampLine(ws.scrollMaximum()));
    m_scrollBar->setValue(clampLine(ws.scrollPosition()));
    m_offsetField->setText(qsLatin1(ws.fileOffsetText()));
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
    dialog.setOffset(qsLatin1(m_workspace->openDialogOffset()));
    dialog.setLength(QStringLiteral("0"));
    for (const auto name : fileeditor::kRangePreferences) {
        dialog.preferenceNames().append(qsLatin1(name));
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
        notify(m_workspace->openWithRange(chosen, stdLatin1(dialog.offset()),
                                          stdLatin1(dialog.length())));
        showPage();
    }
    m_grid->setFocus();
}

bool TForm3::saveWithDialog() {
    TSaveFavDialog dialog(this);
    prepareDialog(dialog);
    dialog.selectFile(QString::fromStdString(m_workspace->currentFileName()));
    dialog.setOffset(qsLatin1(m_workspace->saveDialogOffset()));
    dialog.setLength(QStringLiteral("0"));
    dialog.preferenceNames().append(QStringLiteral("User defined"));
    dialog.setPreferenceIndex(0);
    if (!runDialog(dialog) || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    const std::string chosen = dialog.selectedFiles().first().toStdString();
    if (!confirmSave(m_workspace->checkSave(chosen, stdLatin1(dialog.offset()),
                                            stdLatin1(dialog.length())))) {
        showPage();
        return false;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto refusal =
        m_workspace->saveRange(chosen, stdLatin1(dialog.offset()), stdLatin1(dialog.length()));
    QApplication::restoreOverrideCursor();
    notify(refusal);
    showPage();
    m_grid->setFocus();
    return !refusal;
}

void TForm3::jump() {
    notify(m_workspace->jump(stdLatin1(m_baseField->text()), stdLatin1(m_jumpField->text())));
    showPage();
    m_grid->setFocus();
}

void TForm3::setBaseAddress() {
    notify(m_workspace->setBaseAddress(stdLatin1(m_baseField->text())));
    showPage();
}

void TForm3::showFillPanel() {
    // A selection is what the fill is for; without one it starts at the cursor.
    if (const auto selected = m_workspace->selection()) {
        m_fillStart->setText(
            qsLatin1(fileeditor::hexAddress(m_workspace->addressOf(selected->first))));
        m_fillEnd->setText(
            qsLatin1(fileeditor::hexAddress(m_workspace->addressOf(selected->last))));
    } else {
        m_fillStart->setText(qsLatin1(m_workspace->cursorAddressText()));
    }
    m_fillPanel->show();
    m_fillEnd->setFocus();
}

void TForm3::fill(FillAction action) {
    const fileeditor::FillFields fields{stdLatin1(m_fillValue->text()),
                                        stdLatin1(m_fillStart->text()),
                                        stdLatin1(m_fillEnd->text())};
    const auto outcome = m_workspace->fill(action, fields);
    if (outcome.endField) {
        m_fillEnd->setText(qsLatin1(*outcome.endField));
    }
    if (outcome.jumpField) {
        m_jumpField->setText(qsLatin1(*outcome.jumpField));
    }
    notify(outcome.notice);
    if (!outcome.notice) {
        m_fillPanel->hide();
        m_grid->setFocus();
    }
    showPage();
}

void TForm3::checkIntegrity() {
    const auto start = fileeditor::parseHexAddress(stdLatin1(m_fillStart->text()));
    const auto end = fileeditor::parseHexAddress(stdLatin1(m_fillEnd->text()));
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
    if (m_searchJob != nullptr) {
        m_searchJob->cancel(); // the search's own loop ends at once
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
