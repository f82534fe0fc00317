#include "mainwin/main_window.h"

#include "mainwin/area_map_view.h"
#include "mainwin/diagnostics_page.h"
#include "mainwin/restore_dialog.h"
#include "mainwin/status_panels.h"
#include "widgets/qt_text.h"
#include "widgets/unsaved_work.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include <iostream>

namespace corvex::mainwin {

using widgets::qs;
using widgets::std8;

namespace {

constexpr int kTickMs = 100;

// "Description|pattern" as a Qt name filter. The pattern is offered in both cases: on Linux
// "*.BIN" alone would hide every "*.bin" file.
QString nameFilter(std::string_view filter) {
    const QString text = qs(filter);
    QString description = text.section(QLatin1Char('|'), 0, 0);
    const QString pattern = text.section(QLatin1Char('|'), 1).toLower();
    if (const qsizetype open = description.lastIndexOf(QStringLiteral(" ("));
        open > 0 && description.endsWith(QLatin1Char(')'))) {
        description.truncate(open);
    }
    return description + QStringLiteral(" (") + pattern + QLatin1Char(' ') + pattern.toUpper() +
           QLatin1Char(')');
}

} // namespace

TForm9::TForm9(MainWindowSetup setup, QWidget* parent)
    : QMainWindow(parent), m_setup(std::move(setup)),
      m_settingsFile(settingsFileName(m_setup.programPath)),
      m_logFile(link::programFileName(m_setup.programPath, "LOG")), m_backups(m_setup.backupDir),
      m_feedback(m_areas, *this, std8(m_setup.title), m_logFile),
      m_dispatch(m_settings, m_areas, m_feedback, *this),
      m_diagModel(m_settings, m_areas, m_feedback, *this) {
    setWindowTitle(m_setup.title);
    setWindowFlags((windowFlags() | Qt::WindowMinimizeButtonHint) & ~Qt::WindowMaximizeButtonHint);

    auto* client = new QWidget(this);
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setCentralWidget(client);

    buildMenus();
    buildToolbar();

    m_pages = new QTabWidget(client);
    m_pages->setTabPosition(QTabWidget::East);
    m_map = new AreaMapView(m_areas, m_pages);
    m_map->setBusyMark([this] { return m_feedback.mapBusy(); });
    m_pages->addTab(m_map, QStringLiteral("Flashroms"));
    m_pages->addTab(buildDiagnosticsPage(), QStringLiteral("Diagnostics"));
    m_pages->addTab(buildGuardPage(), QStringLiteral("Corvex Guard"));
    // The repeat and the line watch run only while the technician looks at the page.
    connect(m_pages, &QTabWidget::currentChanged, this,
            [this](int index) { m_diagPage->setShowing(index == 1); });
    layout->addWidget(m_pages, 1);
    m_panels = new StatusPanels(m_feedback, client);
    layout->addWidget(m_panels);

    // ESC anywhere in the window breaks the running job.
    auto* escape = new QAction(this);
    escape->setShortcut(Qt::Key_Escape);
    escape->setShortcutContext(Qt::WindowShortcut);
    connect(escape, &QAction::triggered, this, [this] {
        if (m_guard) {
            m_guard->Break();
        }
    });
    addAction(escape);

    // Settings first: the area flags must be in place before the Guard gets the table.
    m_feedback.addWindowLine(std::string(kReadingSettingsLine) + m_settingsFile);
    if (const std::string problem = loadSettings(m_settingsFile, m_settings); !problem.empty()) {
        m_feedback.addWindowLine(problem);
    }
    applySettings();
    if (!m_setup.portLine.empty()) {
        m_feedback.addWindowLine(m_setup.portLine);
    }
    std::string error;
    m_workFile = link::lockWorkFile(m_setup.programPath, "LRF", error);
    if (!m_workFile) {
        m_feedback.addWindowLine(error);
    }
    startGuard();

    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
        move(screen->availableGeometry().center() - rect().center());
    }

    connect(&m_timer, &QTimer::timeout, this, &TForm9::onTick);
    m_timer.start(kTickMs);
    refresh();
}

TForm9::~TForm9() {
    stopGuard();
    m_retired.reset();
}

// ---- the Guard -----------------------------------------------------------------------------

void TForm9::startGuard() {
    const std::string work = m_workFile ? m_workFile->path() : std::string();
    m_guard = std::make_unique<link::TCorvexThread>(
        *m_setup.port, [this](const std::function<void()>& call) { m_handOver.post(call); }, work);
    if (m_setup.simulated) {
        m_guard->link().setMicroDelay([](std::uint64_t /*microseconds*/) {});
    }
    m_guard->setAreaTable(&m_table);
    m_guard->bindEvents(&m_events);
    m_guardLink = std::make_unique<GuardThreadLink>(*m_guard);
    m_jobsLink = std::make_unique<GuardJobsLink>(*m_guard, m_feedback);
    m_feedback.bindGuard(m_guardLink.get());
    m_dispatch.bindGuard(m_jobsLink.get());
    m_diagModel.bindGuard(m_jobsLink.get());
    m_guard->SetStopOnError(m_stopOnError->isChecked());
    applyBackupSwitch();
}

void TForm9::stopGuard() {
    if (!m_guard) {
        return;
    }
    m_dispatch.bindGuard(nullptr);
    m_diagModel.bindGuard(nullptr);
    if (m_handOver.depth() == 0) {
        // A running job is broken off (an idle Guard ignores it). A close from inside a call the
        // Guard waits on comes at a report, mostly a job's last: "Operation aborted." after
        // "completed successful" would report what did not happen. Ending stops whatever the
        // job still had to do all the same.
        m_guard->Break();
    }
    // The Guard may wait on a call it posted; stopping drops that call, or releases it when it
    // is running lower on this very stack (a box the Guard waits on), so this returns even
    // while a job runs. The lines the broken job wrote on its way out ("Operation aborted.")
    // still belong on the page and in the log book.
    m_guard->stop();
    m_feedback.drainLog();
    m_feedback.bindGuard(nullptr);
    if (m_handOver.depth() > 0) {
        // A released call is still on the stack and refers to its Guard: it goes when the
        // window does.
        m_retired = std::move(m_guard);
        m_retiredLinks = {std::move(m_guardLink), std::move(m_jobsLink)};
    }
    m_guard.reset();
    m_guardLink.reset();
    m_jobsLink.reset();
    m_handOver.clear();
}

void TForm9::restartGuard() {
    stopGuard();
    startGuard();
    m_feedback.restart(m_guardLink.get());
    refresh();
}

void TForm9::onTick() {
    m_feedback.tick();
    if (m_pages->currentIndex() == 1) {
        m_diagPage->pollLines();
    }
}

QWidget* TForm9::buildGuardPage() {
    m_guardPage =
        new GuardPage(m_feedback, {[this] { restartGuard(); }, [this] { refresh(); }}, m_pages);
    return m_guardPage;
}

QWidget* TForm9::buildDiagnosticsPage() {
    m_diagModel.bindPort(m_setup.port, [this] { return portLeftAlone(); });
    DiagnosticsPage::Hooks hooks;
    hooks.readStatus = [this] {
        // With no Guard there is no port base to read at; an empty port reads like this.
        return m_guard ? m_guard->readStatus() : std::uint8_t{0xFF};
    };
    hooks.resetInterface = [this] { m_dispatch.dispatch(Job::ResetInterface); };
    hooks.breakJob = [this] {
        if (m_guard) {
            m_guard->Break();
        }
    };
    hooks.loopbackChanged = [this](bool on) { m_loopbackEnabled->setChecked(on); };
    m_diagPage = new DiagnosticsPage(m_diagModel, m_feedback, std::move(hooks), m_pages);
    return m_diagPage;
}

bool TForm9::portLeftAlone() const {
    return !m_guard || m_guard->isIdle() || m_guard->GuardState() == link::GuardStateValue::Stopped;
}

void TForm9::placeholder(const QString& tool) {
    messageBox(
        {"Information", std8(tool) + " is not available in this version.", BoxKind::Information});
}

// ---- settings ------------------------------------------------------------------------------

void TForm9::applySettings() {
    m_timeoutControl->setChecked(m_settings.timeoutControl);
    m_feedback.setTimeoutControl(m_settings.timeoutControl);
    m_stopOnError->setChecked(m_settings.stopOnError);
    m_backupBeforeWrite->setChecked(m_settings.backupBeforeWrite && !m_setup.noBackup);
    for (std::size_t area = 0; area < link::kAreaSlots; ++area) {
        m_table.AreaFlags[area].store(m_settings.areaFlags[area]);
    }
    updateDefaultFileEntries();
    m_map->refresh();
}

void TForm9::collectSettings() {
    m_settings.timeoutControl = m_timeoutControl->isChecked();
    m_settings.stopOnError = m_stopOnError->isChecked();
    for (std::size_t area = 0; area < link::kAreaSlots; ++area) {
        m_settings.areaFlags[area] = m_table.AreaFlags[area].load();
    }
}

// ---- what the model asks of the window ------------------------------------------------------

bool TForm9::messageBox(const MessageBox& box) {
    if (m_boxHandler) {
        return m_boxHandler(box);
    }
    QMessageBox message(this);
    message.setWindowTitle(qs(box.title));
    message.setText(qs(box.text).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    switch (box.kind) {
    case BoxKind::Information:
        message.setIcon(QMessageBox::Information);
        break;
    case BoxKind::Warning:
        message.setIcon(QMessageBox::Warning);
        break;
    case BoxKind::Error:
        message.setIcon(QMessageBox::Critical);
        break;
    case BoxKind::Question:
        message.setIcon(QMessageBox::Question);
        message.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        // Enter, Escape and a close for a signal all take the answer that changes nothing.
        message.setDefaultButton(QMessageBox::No);
        message.setEscapeButton(QMessageBox::No);
        break;
    }
    const int answer = message.exec();
    return box.kind != BoxKind::Question || answer == QMessageBox::Yes;
}

void TForm9::showDiagResult(const void* target, const std::string& text) {
    m_diagPage->showResult(target, text);
}

void TForm9::openFileEditor(const std::string& fileName) {
    openHexEditor(fileName);
}

void TForm9::openHexEditor(const std::string& file) {
    if (!m_setup.openHexEditor) {
        placeholder(QStringLiteral("The file editor"));
        return;
    }
    // One editor at a time; one with unsaved edits may refuse to go, and then stays.
    if (m_hexEditor && !m_hexEditor->close()) {
        return;
    }
    m_hexEditor = m_setup.openHexEditor(this, file);
}

void TForm9::openChannelEditor(const std::string& image, bool hex) {
    if (!m_setup.openChannelEditor) {
        placeholder(QStringLiteral("The channel list editor"));
        return;
    }
    std::erase_if(m_channelEditors, [](const QPointer<QWidget>& editor) { return !editor; });
    m_channelEditors.emplace_back(m_setup.openChannelEditor(this, image, hex));
}

std::vector<QWidget*> TForm9::channelEditors() const {
    std::vector<QWidget*> open;
    for (const QPointer<QWidget>& editor : m_channelEditors) {
        if (editor) {
            open.push_back(editor);
        }
    }
    return open;
}

std::optional<std::string> TForm9::chooseFile(const FileDialogSpec& dialog,
                                              const std::string& preset) {
    if (m_fileHandler) {
        return m_fileHandler(dialog, preset);
    }
    const QString filter = nameFilter(dialog.filter);
    const QString chosen =
        dialog.save ? QFileDialog::getSaveFileName(this, qs(dialog.title), qs(preset), filter)
                    : QFileDialog::getOpenFileName(this, qs(dialog.title), qs(preset), filter);
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return std8(chosen);
}

void TForm9::showFlashPage() {
    m_pages->setCurrentIndex(0);
}

void TForm9::refresh() {
    const bool flash = m_feedback.flashGroupEnabled();
    for (QAction* item : m_flashGroup) {
        item->setEnabled(flash);
    }
    m_breakButton->setEnabled(m_feedback.breakEnabled());
    m_channelDec->setEnabled(m_dispatch.channelEditorEnabled(JobDispatch::ChannelMode::Dec));
    m_channelHex->setEnabled(m_dispatch.channelEditorEnabled(JobDispatch::ChannelMode::Hex));
    m_loopbackEnabled->setEnabled(m_feedback.loopbackControlsEnabled());
    if (m_diagPage != nullptr) {
        m_diagPage->refresh();
    }
    const QString title = qs(m_feedback.title());
    if (title != windowTitle()) {
        setWindowTitle(title);
    }

    m_guardPage->refresh();
    m_panels->sync();
}

// ---- window events -------------------------------------------------------------------------

bool TForm9::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        if (!tip.isEmpty()) {
            m_feedback.showHint(std8(tip));
            m_panels->sync();
        }
        return true;
    }
    return QMainWindow::event(event);
}

void TForm9::changeEvent(QEvent* event) {
    // Minimising the main window takes the tool windows with it.
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window != this && window->isVisible() && !window->isModal()) {
                window->showMinimized();
            }
        }
    }
    QMainWindow::changeEvent(event);
}

void TForm9::closeForSignal() {
    m_signalClose = true;
    close();
    if (!m_closed) {
        // A window that is not shown takes no close event; the program must end all the same.
        finishClose();
    }
}

bool TForm9::jobRunning() const {
    return m_guard && !m_guard->isIdle() && m_guard->GuardState() != link::GuardStateValue::Stopped;
}

std::vector<QWidget*> TForm9::toolWindows() const {
    std::vector<QWidget*> tools;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window != this && window->parentWidget() == this && window->isVisible() &&
            !window->isModal()) {
            tools.push_back(window);
        }
    }
    return tools;
}

void TForm9::answerOpenBoxes() {
    // Each box's own loop ends once control returns to it: the calls that opened them (a
    // Guard message among them) then go on with the answer that changes nothing.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QDialog*>(window); box != nullptr && box->isVisible()) {
            box->reject();
        }
    }
}

void TForm9::closeEvent(QCloseEvent* event) {
    if (m_closed) {
        event->accept();
        return;
    }
    if (m_signalClose) {
        // A signal waits on no question: boxes are answered, unsaved work is kept for the next
        // open, and every tool window goes.
        answerOpenBoxes();
        for (QWidget* tool : toolWindows()) {
            if (auto* work = dynamic_cast<widgets::UnsavedWork*>(tool)) {
                work->keepForRecovery();
            }
        }
        for (QWidget* tool : toolWindows()) {
            tool->close();
        }
    } else {
        if (jobRunning() &&
            !messageBox({"Warning", std::string(kBreakAndQuit), BoxKind::Question})) {
            event->ignore();
            return;
        }
        // A tool window with unsaved work asks; when the user keeps it, the program stays.
        for (QWidget* tool : toolWindows()) {
            if (!m_closed && !tool->close()) {
                event->ignore();
                return;
            }
        }
        if (m_closed) {
            // A signal closed the window while a question was open.
            event->accept();
            return;
        }
    }
    finishClose();
    event->accept();
}

void TForm9::finishClose() {
    if (m_closed) {
        return;
    }
    m_closed = true;
    m_timer.stop();
    stopGuard();
    collectSettings();
    m_feedback.addWindowLine(std::string(kWritingSettingsLine) + m_settingsFile);
    if (const std::string problem = saveSettings(m_settingsFile, m_settings); !problem.empty()) {
        m_feedback.addWindowLine(problem);
    }
    if (const std::string problem = m_feedback.closeLogBook(); !problem.empty()) {
        // The page is about to go: the terminal is the last place left to say it.
        std::cerr << "corvex: " << problem << '\n';
    }
    emit closed();
}

// ---- backups before writes ------------------------------------------------------------------

void TForm9::applyBackupSwitch() {
    if (m_guard) {
        // Switched while idle: the menus that change it are the window's, and a job reads the
        // keeper only as it starts its write.
        m_guard->setBackupKeeper(m_backupBeforeWrite->isChecked() ? &m_backups : nullptr);
    }
}

void TForm9::restoreBackup(bool flash) {
    RestoreModel model(m_backups.path(), flash ? backup::kKindFlash : backup::kKindEeprom);
    // The chip the last signature read named; without a known chip the flash group is off.
    const auto refusal = [this, &model] {
        const std::string signature =
            m_feedback.flashGroupEnabled() ? m_feedback.panel(0).text : std::string();
        return model.refusal(static_cast<unsigned>(m_areas.hardwareType()), signature);
    };
    const auto compare = [this, &model] {
        const backup::BackupRecord* chosen = model.chosenBackup();
        if (chosen == nullptr || jobRunning()) {
            return false;
        }
        m_areas.setAll(link::kAreaModePgm);
        m_map->refresh();
        return m_dispatch.dispatchWithFile(Job::PreviewWriteFirmware, chosen->path) ==
               DispatchResult::Submitted;
    };
    bool restore = false;
    if (m_restoreHandler) {
        restore = m_restoreHandler(model);
    } else {
        RestoreBackupDialog dialog(model,
                                   {compare, [this] { return jobRunning(); },
                                    [this] {
                                        return RestoreModel::differingAreas(
                                            m_table,
                                            static_cast<std::uint32_t>(m_areas.shownAreaCount()));
                                    },
                                    refusal},
                                   this);
        restore = dialog.exec() == QDialog::Accepted;
    }
    const backup::BackupRecord* chosen = model.chosenBackup();
    if (!restore || chosen == nullptr) {
        return;
    }
    if (const std::string why = refusal(); !why.empty()) {
        messageBox({"Error", why, BoxKind::Error});
        return;
    }
    if (!messageBox(
            {"Confirm", model.question(m_backupBeforeWrite->isChecked()), BoxKind::Question})) {
        return;
    }
    if (flash) {
        m_areas.setAll(link::kAreaModePgm);
        m_map->refresh();
        m_dispatch.dispatchWithFile(Job::WriteFirmware, chosen->path);
    } else {
        m_dispatch.dispatchWithFile(Job::WriteConfiguration, chosen->path);
    }
}

} // namespace corvex::mainwin
