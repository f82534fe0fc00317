#include "mainwin/area_map_view.h"
#include "mainwin/diagnostics_page.h"
#include "mainwin/main_window.h"
#include "widgets/icon_list.h"
#include "widgets/qt_text.h"

#include <QAction>
#include <QActionGroup>
#include <QMenuBar>
#include <QTabWidget>
#include <QToolBar>

// The main window's menus and toolbar: every command by its caption path, its hint and what it
// runs.
namespace corvex::mainwin {

using widgets::qs;

namespace {

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

} // namespace

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
        QAction* act = toolbar->addAction(widgets::toolbarIcon(QLatin1String(picture)), caption);
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

void TForm9::updateDefaultFileEntries() {
    for (std::size_t index = 0; index < kFileKinds; ++index) {
        const auto kind = static_cast<FileKind>(index);
        m_defaultEntries.at(index)->setText(withMnemonic(qs(m_dispatch.defaultFileCaption(kind))));
        m_defaultEntries.at(index)->setChecked(m_dispatch.defaultFileSet(kind));
    }
}

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

} // namespace corvex::mainwin
