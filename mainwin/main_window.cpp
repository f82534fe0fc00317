#include "main_window.h"

#include "app/icons/icon_list.h"
#include "mainwin/area_map_view.h"
#include "mainwin/diagnostics_page.h"
#include "mainwin/restore_dialog.h"
#include "widgets/unsaved_work.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStaticText>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include <iostream>

namespace corvex::mainwin {

namespace {

constexpr int kTickMs = 100;
constexpr int kPanelHeight = 19;
constexpr std::array<int, 3> kPanelWidths{250, 350, 50};
constexpr int kCommandLimit = 100;

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string std8(const QString& text) {
    return text.toUtf8().toStdString();
}

QString withoutMnemonics(QString caption) {
    return caption.remove(QLatin1Char('&'));
}

// A caption that is a file name ("&" already doubled) gets its mnemonic on its first letter or
// digit, so the entry is reached with one key like every other.
QString withMnemonic(const QString& caption) {
    for (qsizetype at = 0; at < caption.size(); ++at) {
        if (caption.at(at) == QLatin1Char('&')) {
            ++at; // "&&" shows one "&"
        } else if (caption.at(at).isLetterOrNumber()) {
            return caption.left(at) + QLatin1Char('&') + caption.mid(at);
        }
    }
    return caption;
}

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

// The three owner-drawn status panels: icon at 4 pixels, text at 25, as the model gives them.
class StatusPanels : public QWidget {
public:
    StatusPanels(GuardFeedback& feedback, QWidget* parent) : QWidget(parent), m_feedback(feedback) {
        setFixedHeight(kPanelHeight);
        // The bar paints every pixel of what it is asked to, so a changed panel repaints alone
        // instead of the window behind it as well.
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    /// Repaints the panels whose content changed since they were last asked for. The window
    /// asks after every Guard message and tick; most change nothing, and text is costly to draw.
    void sync() {
        for (int index = 0; index < 3; ++index) {
            PanelView view = m_feedback.panel(index);
            auto& drawn = m_drawn.at(static_cast<std::size_t>(index));
            if (view != drawn) {
                drawn = std::move(view);
                update(panelRect(index));
            }
        }
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        painter.fillRect(event->rect(), palette().color(QPalette::Window));
        for (int index = 0; index < 3; ++index) {
            const QRect cell = panelRect(index);
            if (!event->rect().intersects(cell)) {
                continue;
            }
            const QRect box = cell.adjusted(0, 0, -2, 0);
            const PanelView view = m_feedback.panel(index);
            if (view.background) {
                painter.fillRect(box, QColor(view.background->red, view.background->green,
                                             view.background->blue));
            }
            painter.setPen(palette().color(QPalette::Mid));
            painter.drawRect(box.adjusted(0, 0, -1, -1));
            if (view.icon > 0) {
                painter.drawPixmap(cell.left() + 4, (height() - 16) / 2,
                                   app::iconPixmap(view.icon));
            }
            painter.setPen(palette().color(QPalette::WindowText));
            const QRect textBox = box.adjusted(25, 0, -2, 0);
            const QStaticText& text =
                laidOut(index, qs(view.text).replace(QLatin1Char('\r'), QLatin1Char(' ')));
            painter.save();
            painter.setClipRect(textBox);
            painter.drawStaticText(
                QPointF(textBox.left(),
                        textBox.top() + (textBox.height() - text.size().height()) / 2),
                text);
            painter.restore();
        }
    }

private:
    [[nodiscard]] QRect panelRect(int index) const {
        int left = 0;
        for (int before = 0; before < index; ++before) {
            left += kPanelWidths.at(static_cast<std::size_t>(before));
        }
        return {left, 0, kPanelWidths.at(static_cast<std::size_t>(index)), height()};
    }

    // A panel's text laid out once: a repeated step flips panel 1 between the same two texts,
    // and shaping them again on every paint is most of the bar's cost.
    const QStaticText& laidOut(int index, const QString& text) {
        auto& recent = m_laidOut.at(static_cast<std::size_t>(index));
        for (const QStaticText& entry : recent) {
            if (entry.text() == text) {
                return entry;
            }
        }
        std::swap(recent[0], recent[1]);
        recent[0].setTextFormat(Qt::PlainText);
        recent[0].setText(text);
        recent[0].prepare(QTransform(), font());
        return recent[0];
    }

    GuardFeedback& m_feedback;
    std::array<PanelView, 3> m_drawn;
    std::array<std::array<QStaticText, 2>, 3> m_laidOut;
};

// The label above the command field; a click hands the page to the log book.
class ClickLabel : public QLabel {
public:
    ClickLabel(const QString& text, std::function<void()> clicked, QWidget* parent)
        : QLabel(text, parent), m_clicked(std::move(clicked)) {}

protected:
    void mousePressEvent(QMouseEvent* /*event*/) override { m_clicked(); }

private:
    std::function<void()> m_clicked;
};

// Every job the window's models hand the Guard passes here, so the feedback knows which job
// runs and which file a firmware read saves into.
class TForm9::GuardJobsLink final : public GuardJobs {
public:
    GuardJobsLink(link::TCorvexThread& guard, GuardFeedback& feedback)
        : m_guard(guard), m_feedback(feedback) {}
    int Submit(const link::GuardRecord& record) override {
        const int slot = m_guard.Submit(record);
        if (slot >= 0) {
            m_feedback.jobSubmitted(record);
        }
        return slot;
    }
    int Submit(const link::GuardRecord& record, FileSetter setter,
               const std::string& name) override {
        link::FileSlot slot = link::FileSlot::Read;
        switch (setter) {
        case FileSetter::ReadFile:
            slot = link::FileSlot::Read;
            break;
        case FileSetter::WriteFile:
            slot = link::FileSlot::Write;
            break;
        case FileSetter::EESaveFile:
            slot = link::FileSlot::EESave;
            break;
        case FileSetter::EELoadFile:
            slot = link::FileSlot::EELoad;
            break;
        case FileSetter::None:
            return Submit(record);
        }
        const int taken = m_guard.Submit(record, slot, name);
        if (taken >= 0) {
            if (slot == link::FileSlot::Read) {
                m_feedback.readFileSet(name);
            }
            m_feedback.jobSubmitted(record);
        }
        return taken;
    }
    [[nodiscard]] bool busy() const override {
        return m_guard.GuardState() == link::GuardStateValue::Busy || !m_guard.isIdle();
    }

private:
    link::TCorvexThread& m_guard;
    GuardFeedback& m_feedback;
};

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
        *m_setup.port, [this](const std::function<void()>& call) { post(call); }, work);
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
    if (m_callDepth == 0) {
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
    if (m_callDepth > 0) {
        // A released call is still on the stack and refers to its Guard: it goes when the
        // window does.
        m_retired = std::move(m_guard);
        m_retiredLinks = {std::move(m_guardLink), std::move(m_jobsLink)};
    }
    m_guard.reset();
    m_guardLink.reset();
    m_jobsLink.reset();
    const std::lock_guard lock(m_postedMutex);
    m_posted.clear(); // dropped calls do nothing when run; no need to keep them
}

void TForm9::post(const std::function<void()>& call) {
    {
        const std::lock_guard lock(m_postedMutex);
        m_posted.push_back(call);
    }
    QMetaObject::invokeMethod(this, &TForm9::runPosted, Qt::QueuedConnection);
}

void TForm9::runPosted() {
    while (true) {
        std::function<void()> call;
        {
            const std::lock_guard lock(m_postedMutex);
            if (m_posted.empty()) {
                return;
            }
            call = std::move(m_posted.front());
            m_posted.pop_front();
        }
        ++m_callDepth;
        call();
        --m_callDepth;
    }
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

// ---- menus and toolbar ---------------------------------------------------------------------

QAction* TForm9::action(const QString& path) const {
    const auto found = m_actions.find(path);
    return found != m_actions.end() ? found->second : nullptr;
}

QAction* TForm9::addCommand(QMenu* menu, const QString& path, const QString& caption,
                            const QString& hint, std::function<void()> run) {
    QAction* action = menu->addAction(caption);
    action->setStatusTip(hint);
    connect(action, &QAction::triggered, this, std::move(run));
    m_actions[path + QLatin1Char('/') + withoutMnemonics(caption)] = action;
    return action;
}

void TForm9::addJob(QMenu* menu, const QString& path, const QString& caption, const QString& hint,
                    Job job) {
    addCommand(menu, path, caption, hint, [this, job] { m_dispatch.dispatch(job); });
}

void TForm9::buildMenus() {
    QMenuBar* bar = menuBar();
    const QString flashPath = QStringLiteral("Flash");
    QMenu* flash = bar->addMenu(QStringLiteral("&Flash"));
    addJob(flash, flashPath, QStringLiteral("Read Si&gnature"),
           QStringLiteral("Read the signature of the flash chip."), Job::ReadSignature);
    flash->addSeparator();
    addJob(flash, flashPath, QStringLiteral("Read &Firmware"),
           QStringLiteral("Read the firmware and write it to a file."), Job::ReadFirmware);
    addJob(flash, flashPath, QStringLiteral("Pre&view Write Firmware"),
           QStringLiteral("Show which areas a firmware file would change."),
           Job::PreviewWriteFirmware);
    addJob(flash, flashPath, QStringLiteral("&Write Firmware"),
           QStringLiteral("Program a firmware file into the flash."), Job::WriteFirmware);
    addRestoreEntry(flash, flashPath, true);
    for (const char* item :
         {"Read Firmware", "Preview Write Firmware", "Write Firmware", "Restore Backup ..."}) {
        m_flashGroup.push_back(action(flashPath + QLatin1Char('/') + QLatin1String(item)));
    }
    flash->addSeparator();
    const auto preset = [this](AreaPreset which) {
        m_areas.applyPreset(which);
        m_map->refresh();
    };
    addCommand(flash, flashPath, QStringLiteral("Select &data areas"),
               QStringLiteral("Select the data areas for programming."),
               [preset] { preset(AreaPreset::DataAreas); });
    addCommand(flash, flashPath, QStringLiteral("Select c&hannellist areas"),
               QStringLiteral("Select the channel list areas for programming."),
               [preset] { preset(AreaPreset::ChannelListAreas); });
    addCommand(flash, flashPath, QStringLiteral("Select fi&rmware areas"),
               QStringLiteral("Select the firmware areas for programming."),
               [preset] { preset(AreaPreset::FirmwareAreas); });
    flash->addSeparator();
    const auto setAll = [this](std::uint32_t mode) {
        m_areas.setAll(mode);
        m_map->refresh();
    };
    addCommand(flash, flashPath, QStringLiteral("Set all areas to &PGM"),
               QStringLiteral("Erase and program all areas."),
               [setAll] { setAll(link::kAreaModePgm); });
    addCommand(flash, flashPath, QStringLiteral("Set all areas to &CLR"),
               QStringLiteral("Erase all areas."), [setAll] { setAll(link::kAreaModeClr); });
    addCommand(flash, flashPath, QStringLiteral("Set all areas to &SKIP"),
               QStringLiteral("Leave all areas alone."), [setAll] { setAll(link::kAreaModeSkip); });
    flash->addSeparator();
    addCommand(flash, flashPath, QStringLiteral("E&xit"), QStringLiteral("Close Corvex."),
               [this] { close(); });

    const QString eepromPath = QStringLiteral("Eeprom");
    QMenu* eeprom = bar->addMenu(QStringLiteral("&Eeprom"));
    addJob(eeprom, eepromPath, QStringLiteral("&Read Configuration"),
           QStringLiteral("Read the configuration EEPROM and write it to a file."),
           Job::ReadConfiguration);
    addJob(eeprom, eepromPath, QStringLiteral("&View Configuration"),
           QStringLiteral("Read the configuration EEPROM and show it in the file editor."),
           Job::ViewConfiguration);
    addJob(eeprom, eepromPath, QStringLiteral("&Write Configuration"),
           QStringLiteral("Program a file into the configuration EEPROM."),
           Job::WriteConfiguration);
    addJob(eeprom, eepromPath, QStringLiteral("&Erase Configuration"),
           QStringLiteral("Erase the configuration EEPROM."), Job::EraseConfiguration);
    addRestoreEntry(eeprom, eepromPath, false);
    m_flashGroup.push_back(eeprom->menuAction());
    for (QAction* item : eeprom->actions()) {
        m_flashGroup.push_back(item);
    }

    const QString corvexPath = QStringLiteral("Corvex");
    QMenu* corvex = bar->addMenu(QStringLiteral("&Corvex"));
    m_hardware = new QActionGroup(this);
    int type = 0;
    for (const char* caption :
         {"On DSX&6071/6072", "On DSI185D (&Firmware)", "On DSI185D (&Channellist)"}) {
        QAction* radio = addCommand(corvex, corvexPath, QLatin1String(caption),
                                    QStringLiteral("Select the receiver type."), [this, type] {
                                        const int checked = m_dispatch.selectHardware(type);
                                        m_hardware->actions().at(checked)->setChecked(true);
                                        m_map->refresh();
                                    });
        radio->setCheckable(true);
        radio->setChecked(type == 0);
        m_hardware->addAction(radio);
        ++type;
    }
    corvex->addSeparator();
    addJob(corvex, corvexPath, QStringLiteral("&Reset Interface"),
           QStringLiteral("Reset the Corvex interface."), Job::ResetInterface);
    QMenu* priority = corvex->addMenu(QStringLiteral("Corvex &Guard"));
    const QString priorityPath = corvexPath + QStringLiteral("/Corvex Guard");
    addJob(priority, priorityPath, QStringLiteral("&Idle priority"),
           QStringLiteral("Let the Corvex Guard run at idle priority."), Job::IdlePriority);
    addJob(priority, priorityPath, QStringLiteral("&High priority"),
           QStringLiteral("Let the Corvex Guard run at high priority."), Job::HighPriority);
    addCommand(corvex, corvexPath, QStringLiteral("&Diagnostics ..."),
               QStringLiteral("Show the diagnostics page."),
               [this] { m_pages->setCurrentIndex(1); });
    buildLoopbackEntries(corvex, corvexPath);
    corvex->addSeparator();
    addJob(corvex, corvexPath, QStringLiteral("&Upload Microcode"),
           QStringLiteral("Upload a bootcode program into the receiver."), Job::UploadMicrocode);

    const QString toolsPath = QStringLiteral("Tools");
    QMenu* tools = bar->addMenu(QStringLiteral("&Tools"));
    const auto channelEditor = [this](JobDispatch::ChannelMode mode) {
        std::string file;
        if (m_dispatch.openChannelEditor(mode, file)) {
            refresh();
            openChannelEditor(file, mode == JobDispatch::ChannelMode::Hex);
        }
    };
    m_channelDec = addCommand(tools, toolsPath, QStringLiteral("Channel List Editor (&Dec)"),
                              qs(kChannelEditorHint),
                              [channelEditor] { channelEditor(JobDispatch::ChannelMode::Dec); });
    m_channelHex = addCommand(tools, toolsPath, QStringLiteral("Channel List Editor (He&x)"),
                              qs(kChannelEditorHint),
                              [channelEditor] { channelEditor(JobDispatch::ChannelMode::Hex); });
    addCommand(tools, toolsPath, QStringLiteral("&Hex Editor"),
               QStringLiteral("Open the file editor."),
               [this] { openHexEditor(m_setup.fileArgument); });

    const QString configPath = QStringLiteral("Config");
    QMenu* config = bar->addMenu(QStringLiteral("C&onfig"));
    m_timeoutControl =
        addCommand(config, configPath, QStringLiteral("&Timeout control"),
                   QStringLiteral("Break an exchange that hangs for 3 seconds."),
                   [this] { m_feedback.setTimeoutControl(m_timeoutControl->isChecked()); });
    m_timeoutControl->setCheckable(true);
    m_stopOnError = addCommand(config, configPath, QStringLiteral("&Stop on error"),
                               QStringLiteral("Stop writing firmware at the first error."), [this] {
                                   if (m_guard) {
                                       m_guard->SetStopOnError(m_stopOnError->isChecked());
                                   }
                               });
    m_stopOnError->setCheckable(true);
    addBackupSwitch(config, configPath);
    QMenu* defaults = config->addMenu(QStringLiteral("&Default files ..."));
    const QString defaultsPath = configPath + QStringLiteral("/Default files ...");
    // The entries' mnemonics, in the order of FileKind: unique within the submenu.
    constexpr std::array<int, kFileKinds> kEntryMnemonic{0, 0, 5, 7, 0};
    for (std::size_t index = 0; index < kFileKinds; ++index) {
        const auto kind = static_cast<FileKind>(index);
        const QString entry = qs(defaultFileSpec(kind).entry);
        QString caption = entry;
        caption.insert(kEntryMnemonic.at(index), QLatin1Char('&'));
        QMenu* sub = defaults->addMenu(caption);
        QAction* file = sub->addAction(qs(kNoFileSpecified));
        file->setCheckable(true);
        file->setStatusTip(QStringLiteral("The file used without asking."));
        connect(file, &QAction::triggered, this, [this, kind] {
            m_dispatch.chooseDefaultFile(kind);
            updateDefaultFileEntries();
        });
        m_actions[defaultsPath + QLatin1Char('/') + entry] = file;
        m_defaultEntries.at(index) = file;
    }

    const QString helpPath = QStringLiteral("Help");
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    addCommand(help, helpPath, QStringLiteral("Corvex &Help"),
               QStringLiteral("Open the user manual."), [this] {
                   if (m_setup.showHelp) {
                       m_setup.showHelp(this);
                   }
               });
    addCommand(help, helpPath, QStringLiteral("&Web update ..."),
               QStringLiteral("Look for a newer version."), [this] {
                   messageBox({"Information", "At this time, this feature is not implemented.",
                               BoxKind::Information});
               });
    addCommand(help, helpPath, QStringLiteral("&About ..."), QStringLiteral("About Corvex."),
               [this] {
                   if (m_setup.showAbout) {
                       m_setup.showAbout(this);
                   }
               });
}

void TForm9::buildToolbar() {
    QToolBar* toolbar = addToolBar(QStringLiteral("Toolbar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    // Pictures only: with captions the row is wider than the window and Break, the one button
    // a user may need in a hurry, would drop into the overflow menu. The caption stays the
    // button's tooltip, the hint goes to the status bar.
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolbar->setIconSize(QSize(20, 20));
    const QString path = QStringLiteral("Toolbar");
    const auto button = [&](const QString& caption, const char* picture, const QString& hint,
                            std::function<void()> run) {
        QAction* act = toolbar->addAction(app::toolbarIcon(QLatin1String(picture)), caption);
        act->setStatusTip(hint);
        connect(act, &QAction::triggered, this, std::move(run));
        m_actions[path + QLatin1Char('/') + caption] = act;
        return act;
    };
    const auto job = [&](const QString& caption, const char* picture, const QString& hint,
                         Job which) {
        QAction* act =
            button(caption, picture, hint, [this, which] { m_dispatch.dispatch(which); });
        m_flashGroup.push_back(act);
    };
    const auto hintOf = [this](const char* menuPath) {
        return action(QLatin1String(menuPath))->statusTip();
    };
    job(QStringLiteral("Signature"), "signature", hintOf("Flash/Read Signature"),
        Job::ReadSignature);
    job(QStringLiteral("Write"), "write", QStringLiteral("Select file and start programming."),
        Job::WriteFirmware);
    job(QStringLiteral("Preview"), "preview",
        QStringLiteral("Select file to program without start programming."),
        Job::PreviewWriteFirmware);
    job(QStringLiteral("Read"), "read", QStringLiteral("Read firmware and write to file."),
        Job::ReadFirmware);
    toolbar->addSeparator();
    for (const auto& [mode, picture] :
         {std::pair{"PGM", "pgm"}, {"CLR", "clr"}, {"SKIP", "skip"}}) {
        QAction* menuItem = action(QStringLiteral("Flash/Set all areas to ") + QLatin1String(mode));
        button(QLatin1String(mode), picture, menuItem->statusTip(),
               [menuItem] { menuItem->trigger(); });
    }
    toolbar->addSeparator();
    job(QStringLiteral("View EE"), "view-ee", hintOf("Eeprom/View Configuration"),
        Job::ViewConfiguration);
    job(QStringLiteral("Write EE"), "write-ee",
        QStringLiteral("Select file and start programming configuration Eeprom."),
        Job::WriteConfiguration);
    job(QStringLiteral("Erase EE"), "erase-ee", hintOf("Eeprom/Erase Configuration"),
        Job::EraseConfiguration);
    job(QStringLiteral("Read EE"), "read-ee",
        QStringLiteral("Read configuration Eeprom and write to file."), Job::ReadConfiguration);
    toolbar->addSeparator();
    button(QStringLiteral("Reset"), "reset", hintOf("Corvex/Reset Interface"),
           [this] { m_dispatch.dispatch(Job::ResetInterface); });
    button(QStringLiteral("Diagnostics"), "diagnostics", hintOf("Corvex/Diagnostics ..."),
           [this] { m_pages->setCurrentIndex(1); });
    m_breakButton = button(QStringLiteral("Break"), "break", qs(kHintBreak), [this] {
        if (m_guard) {
            m_guard->Break();
        }
    });
}

QWidget* TForm9::buildGuardPage() {
    auto* page = new QWidget(m_pages);
    auto* layout = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;
    row->addWidget(new ClickLabel(
        QStringLiteral("Corvex Command:"),
        [this] {
            if (m_feedback.appendViewToLogBook().empty()) {
                m_logView->clear();
                m_linesShown = m_feedback.linesAdded();
            }
            refresh();
        },
        page));
    m_command = new QLineEdit(qs(kDefaultCommand), page);
    m_command->setMaxLength(kCommandLimit);
    connect(m_command, &QLineEdit::textEdited, this, [this](const QString& text) {
        const int cursor = m_command->cursorPosition();
        m_command->setText(text.toUpper());
        m_command->setCursorPosition(cursor);
    });
    connect(m_command, &QLineEdit::returnPressed, this, [this] {
        sendCommand();
        m_command->clear();
    });
    row->addWidget(m_command, 1);
    m_restart = new QPushButton(QStringLiteral("Restart"), page);
    connect(m_restart, &QPushButton::clicked, this, &TForm9::restartGuard);
    row->addWidget(m_restart);
    auto* send = new QPushButton(QStringLiteral("Send"), page);
    connect(send, &QPushButton::clicked, this, &TForm9::sendCommand);
    row->addWidget(send);
    layout->addLayout(row);
    m_logView = new QPlainTextEdit(page);
    m_logView->setReadOnly(true);
    m_logView->setMaximumBlockCount(static_cast<int>(kLogViewLimit));
    m_logView->setStyleSheet(QStringLiteral("QPlainTextEdit { background: #E0E0E0; }"));
    layout->addWidget(m_logView, 1);
    return page;
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

void TForm9::buildLoopbackEntries(QMenu* corvex, const QString& corvexPath) {
    m_loopbackEnabled =
        addCommand(corvex, corvexPath, QStringLiteral("&Loopback enabled"),
                   QStringLiteral("Switch the interface's internal loopback."),
                   [this] { m_diagPage->setLoopbackChecked(m_loopbackEnabled->isChecked()); });
    m_loopbackEnabled->setCheckable(true);
    QMenu* tests = corvex->addMenu(QStringLiteral("Loopback &test"));
    const QString testsPath = corvexPath + QStringLiteral("/Loopback test");
    const std::array<std::pair<const char*, LoopbackTest>, 3> entries{
        {{"&Ack", LoopbackTest::Ack},
         {"&Data", LoopbackTest::Data},
         {"&Flow", LoopbackTest::Flow}}};
    for (const auto& [caption, test] : entries) {
        addCommand(tests, testsPath, QLatin1String(caption),
                   QStringLiteral("Run the short loopback test."),
                   [this, which = test] { m_diagPage->runLoopbackTest(which, false); });
    }
}

bool TForm9::portLeftAlone() const {
    return !m_guard || m_guard->isIdle() || m_guard->GuardState() == link::GuardStateValue::Stopped;
}

void TForm9::sendCommand() {
    m_feedback.sendCommand(std8(m_command->text()));
    refresh();
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

void TForm9::updateDefaultFileEntries() {
    for (std::size_t index = 0; index < kFileKinds; ++index) {
        const auto kind = static_cast<FileKind>(index);
        m_defaultEntries.at(index)->setText(withMnemonic(qs(m_dispatch.defaultFileCaption(kind))));
        m_defaultEntries.at(index)->setChecked(m_dispatch.defaultFileSet(kind));
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
    m_restart->setEnabled(m_feedback.restartEnabled());
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

    // Only the lines the page has not shown yet, in one piece: the page may hold 100,000.
    const std::deque<std::string>& lines = m_feedback.logLines();
    const std::uint64_t fresh =
        std::min<std::uint64_t>(m_feedback.linesAdded() - m_linesShown, lines.size());
    if (fresh > 0) {
        QString text;
        for (auto line = lines.end() - static_cast<std::ptrdiff_t>(fresh); line != lines.end();
             ++line) {
            if (!text.isEmpty()) {
                text += QLatin1Char('\n');
            }
            text += qs(*line);
        }
        m_logView->appendPlainText(text);
    }
    m_linesShown = m_feedback.linesAdded();
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

void TForm9::addBackupSwitch(QMenu* config, const QString& configPath) {
    m_backupBeforeWrite = addCommand(
        config, configPath, QStringLiteral("&Backup before writing"),
        QStringLiteral("Keep a verified copy of the flash or EEPROM before a write changes it."),
        [this] {
            // Stored only when the user says so: --no-backup is for this run alone.
            m_settings.backupBeforeWrite = m_backupBeforeWrite->isChecked();
            applyBackupSwitch();
        });
    m_backupBeforeWrite->setCheckable(true);
    m_backupBeforeWrite->setChecked(!m_setup.noBackup);
}

void TForm9::addRestoreEntry(QMenu* menu, const QString& path, bool flash) {
    addCommand(menu, path, QStringLiteral("Restore &Backup ..."),
               flash ? QStringLiteral("Write a backup of the flash back into the receiver.")
                     : QStringLiteral("Write a backup of the EEPROM back into the receiver."),
               [this, flash] { restoreBackup(flash); });
}

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
