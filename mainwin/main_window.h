#pragma once

#include "backup/backup_folder.h"
#include "link/guard/guard.h"
#include "link/guard/program_files.h"
#include "mainwin/area_model.h"
#include "mainwin/diagnostics_model.h"
#include "mainwin/guard_feedback.h"
#include "mainwin/guard_links.h"
#include "mainwin/guard_page.h"
#include "mainwin/hand_over_queue.h"
#include "mainwin/job_dispatch.h"
#include "mainwin/restore_model.h"
#include "mainwin/settings_file.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class QAction;
class QActionGroup;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QTabWidget;

namespace corvex::mainwin {

class AreaMapView;
class DiagnosticsPage;
class StatusPanels;

/// Exit or the close button while a job runs.
inline constexpr std::string_view kBreakAndQuit = "A job is running. Break it and quit?";

// What the program hands the window: where it lives, the port and the shell's boxes.
struct MainWindowSetup {
    std::string programPath; // names the settings, log book and work files
    QString title;           // the title line, with a note when the receiver is simulated
    link::PortIo* port = nullptr;
    bool simulated = false;   // the simulated receiver needs no waits between polls
    std::string portLine;     // "PORT: ..." for the Guard page
    std::string fileArgument; // loaded into the file editor when it opens
    std::function<void(QWidget*)> showAbout;
    std::function<void(QWidget*)> showHelp;
    // The offline tools. The program supplies their windows; each returns a new top-level
    // window owned by `owner`, already shown. Left empty, the commands say the tool is missing.
    std::function<QWidget*(QWidget* owner, const std::string& file)> openHexEditor;
    std::function<QWidget*(QWidget* owner, const std::string& image, bool hex)> openChannelEditor;
    std::string backupDir; // --backup-dir; empty: the user's data folder
    bool noBackup = false; // --no-backup: this run writes without a backup first
};

// The main window: menus, toolbar, the three pages, the status panels and the 100 ms timer,
// around the Guard it owns. The decisions live in JobDispatch and GuardFeedback; this class
// turns widgets into their calls and their state into widgets.
class TForm9 : public QMainWindow, private FeedbackView, private DispatchHost {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 735;
    static constexpr int kClientHeight = 520;

    explicit TForm9(MainWindowSetup setup, QWidget* parent = nullptr);
    ~TForm9() override;
    TForm9(const TForm9&) = delete;
    TForm9& operator=(const TForm9&) = delete;

    // Tests answer the boxes and dialogs instead of a user.
    using BoxHandler = std::function<bool(const MessageBox&)>;
    using FileHandler =
        std::function<std::optional<std::string>(const FileDialogSpec&, const std::string&)>;
    void setBoxHandler(BoxHandler handler) { m_boxHandler = std::move(handler); }
    void setFileHandler(FileHandler handler) { m_fileHandler = std::move(handler); }
    /// Chooses in the restore dialog instead of a user: true restores the model's chosen row.
    using RestoreHandler = std::function<bool(RestoreModel&)>;
    void setRestoreHandler(RestoreHandler handler) { m_restoreHandler = std::move(handler); }

    /// The window's menu and toolbar commands by caption path, e.g. "Flash/Read Firmware";
    /// toolbar buttons under "Toolbar/". Null when there is no such command.
    [[nodiscard]] QAction* action(const QString& path) const;
    [[nodiscard]] GuardFeedback& feedback() { return m_feedback; }
    [[nodiscard]] AreaModel& areas() { return m_areas; }
    [[nodiscard]] AreaMapView& map() { return *m_map; }
    [[nodiscard]] const Settings& settings() const { return m_settings; }
    [[nodiscard]] link::TCorvexThread* guard() { return m_guard.get(); }
    [[nodiscard]] QTabWidget& pages() { return *m_pages; }
    [[nodiscard]] QPlainTextEdit& logView() { return m_guardPage->logView(); }
    [[nodiscard]] QLineEdit& commandField() { return m_guardPage->commandField(); }
    [[nodiscard]] std::string logBookFile() const { return m_logFile; }
    [[nodiscard]] DiagnosticsPage& diagnostics() { return *m_diagPage; }

    /// Tools > "Hex Editor" on `file` (none: an empty editor): an open editor is closed first.
    void openHexEditor(const std::string& file);
    /// A further channel list editor on `image`, as from the command line; the open ones stay,
    /// each with its own list.
    void openChannelEditor(const std::string& image, bool hex);
    [[nodiscard]] QWidget* hexEditor() const { return m_hexEditor; }
    /// The channel list editors still open, oldest first.
    [[nodiscard]] std::vector<QWidget*> channelEditors() const;

    /// The close for SIGTERM, SIGHUP and SIGINT: asks nothing. Every open box is answered as
    /// its default (one the Guard waits on too), each tool window keeps its unsaved work for
    /// recovery and closes, a running job is broken off; then settings and log book are
    /// written as for Exit. Works from inside any box's loop.
    void closeForSignal();

signals:
    /// The window has closed for good (settings and log book written): the program ends.
    void closed();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // FeedbackView
    bool messageBox(const MessageBox& box) override;
    void showDiagResult(const void* target, const std::string& text) override;
    void openFileEditor(const std::string& fileName) override;
    void refresh() override;
    // DispatchHost
    std::optional<std::string> chooseFile(const FileDialogSpec& dialog,
                                          const std::string& preset) override;
    void showFlashPage() override;
    bool showMessage(const MessageBox& box) override { return messageBox(box); }

    void buildMenus();
    void buildToolbar();
    QWidget* buildGuardPage();
    QWidget* buildDiagnosticsPage();
    void buildLoopbackEntries(QMenu* corvex, const QString& corvexPath);
    [[nodiscard]] bool portLeftAlone() const;
    QAction* addCommand(QMenu* menu, const QString& path, const QString& caption,
                        const QString& hint, std::function<void()> run);
    void addJob(QMenu* menu, const QString& path, const QString& caption, const QString& hint,
                Job job);
    void startGuard();
    void stopGuard();
    void finishClose();
    void answerOpenBoxes();
    [[nodiscard]] bool jobRunning() const;
    /// The visible top-level windows the window owns: tool windows and the about box.
    [[nodiscard]] std::vector<QWidget*> toolWindows() const;
    void onTick();
    void restartGuard();
    void applySettings();
    void collectSettings();
    void updateDefaultFileEntries();
    void placeholder(const QString& tool);
    // Backups before writes: the Config switch and the two "Restore Backup ..." entries.
    void addBackupSwitch(QMenu* config, const QString& configPath);
    void addRestoreEntry(QMenu* menu, const QString& path, bool flash);
    void applyBackupSwitch();
    void restoreBackup(bool flash);

    MainWindowSetup m_setup;
    std::string m_settingsFile;
    std::string m_logFile;
    Settings m_settings;
    backup::BackupFolder m_backups; // before the Guard, which calls it until it is joined
    link::AreaTable m_table;
    AreaModel m_areas{m_table};
    GuardFeedback m_feedback;
    JobDispatch m_dispatch;
    DiagnosticsModel m_diagModel;
    FeedbackEvents m_events{m_feedback};
    std::optional<link::WorkFile> m_workFile;
    std::unique_ptr<GuardJobsLink> m_jobsLink;
    std::unique_ptr<GuardThreadLink> m_guardLink;
    std::unique_ptr<link::TCorvexThread> m_guard;
    // A Guard stopped while one of its calls was still on the stack (a close from inside a box
    // it waited on), kept until the window goes.
    std::unique_ptr<link::TCorvexThread> m_retired;
    std::pair<std::unique_ptr<GuardThreadLink>, std::unique_ptr<GuardJobsLink>> m_retiredLinks;
    HandOverQueue m_handOver; // the calls the Guard posts to the window's thread

    BoxHandler m_boxHandler;
    FileHandler m_fileHandler;
    RestoreHandler m_restoreHandler;
    QAction* m_backupBeforeWrite = nullptr;
    QTimer m_timer;
    bool m_closed = false;
    bool m_signalClose = false;

    std::map<QString, QAction*> m_actions;
    std::vector<QAction*> m_flashGroup;
    QActionGroup* m_hardware = nullptr;
    QAction* m_timeoutControl = nullptr;
    QAction* m_stopOnError = nullptr;
    std::array<QAction*, kFileKinds> m_defaultEntries{};
    QAction* m_breakButton = nullptr;
    QAction* m_channelDec = nullptr;
    QAction* m_channelHex = nullptr;
    QAction* m_loopbackEnabled = nullptr;
    QPointer<QWidget> m_hexEditor;
    std::vector<QPointer<QWidget>> m_channelEditors; // a closed one reads null

    QTabWidget* m_pages = nullptr;
    AreaMapView* m_map = nullptr;
    DiagnosticsPage* m_diagPage = nullptr;
    GuardPage* m_guardPage = nullptr;
    StatusPanels* m_panels = nullptr;
};

} // namespace corvex::mainwin
