#pragma once

#include "link/jobs/guard_record.h"
#include "mainwin/area_model.h"
#include "mainwin/guard_feedback.h"
#include "mainwin/settings_file.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace corvex::mainwin {

// The menu commands and toolbar buttons that hand the Guard a job.
enum class Job {
    ReadSignature,
    ReadFirmware,
    PreviewWriteFirmware,
    WriteFirmware,
    ReadConfiguration,
    ViewConfiguration,
    WriteConfiguration,
    EraseConfiguration,
    ResetInterface,
    IdlePriority,
    HighPriority,
    UploadMicrocode,
};
inline constexpr std::size_t kJobCount = 12;

// Which of the Guard's file names a job's file goes to.
enum class FileSetter { None, ReadFile, WriteFile, EESaveFile, EELoadFile };

struct FileDialogSpec {
    std::string_view title{};
    std::string_view filter; // "Description|*.pattern"
    bool save = false;       // a save dialog, which asks before overwriting
};

struct JobSpec {
    std::string_view command{};  // the command word submitted
    std::string_view waitText{}; // panel 1 while the Guard works; empty: none
    std::optional<FileKind> file{};
    FileDialogSpec dialog{};
    FileSetter setter = FileSetter::None;
    bool sendsFile = false;  // the file goes to the receiver, so it must exist
    bool flashPage = false;  // the "Flashroms" page comes to the front
    bool resetAreas = false; // the map starts from blank
    bool mapBusy = false;    // the map ignores clicks until the final report
};

/// What each job does when it is dispatched.
[[nodiscard]] const JobSpec& jobSpec(Job job);

/// The "Default files ..." entry of each file kind: its submenu caption and its dialog.
struct DefaultFileSpec {
    std::string_view entry;
    FileDialogSpec dialog{};
};
[[nodiscard]] const DefaultFileSpec& defaultFileSpec(FileKind kind);
inline constexpr std::string_view kNoFileSpecified = "No file specified";
/// The microcode entry's caption while it is not set.
inline constexpr std::string_view kNoBootcodeSpecified = "No File Specified";

/// A firmware read saves the first run of PGM areas; with none there is nothing it could save.
inline constexpr std::string_view kNothingToRead =
    "No area is set to PGM: Read Firmware would save nothing.\rSet the areas to read to PGM "
    "first.";
/// Tools > "Channel List Editor" before any firmware read of this run.
inline constexpr std::string_view kNoFirmwareRead =
    "No firmware has been read in this run.\rOpen a firmware image file instead?";
inline constexpr std::string_view kChannelEditorHint = "Make your own channel list ...";

/// The hint of a toolbar button that says more than its menu item.
inline constexpr std::string_view kHintBreak = "Send break to abort the current running job.";

// The Guard as job dispatch sees it: the file names and the command queue.
class GuardJobs {
public:
    virtual ~GuardJobs() = default;
    virtual int Submit(const link::GuardRecord& record) = 0;
    /// Submits with the job's file: the Guard takes the name only with the command, so a
    /// refusal leaves a running job's file alone.
    virtual int Submit(const link::GuardRecord& record, FileSetter setter,
                       const std::string& name) = 0;
    /// A job runs or waits in the queue: the file names and the map are that job's.
    [[nodiscard]] virtual bool busy() const = 0;
    /// While busy: submits `record` only for the Guard to refuse it in its own words, and says
    /// so. The running job may still read the file name it was given, so the caller then asks
    /// nothing and sets no name.
    bool refuseWhileBusy(const link::GuardRecord& record) {
        if (!busy()) {
            return false;
        }
        (void)Submit(record);
        return true;
    }
};

// The window's part in a dispatch: dialogs, the file system and the page control.
class DispatchHost {
public:
    virtual ~DispatchHost() = default;
    /// Shows the file dialog starting at `preset`; nullopt when the user cancels.
    virtual std::optional<std::string> chooseFile(const FileDialogSpec& dialog,
                                                  const std::string& preset) = 0;
    [[nodiscard]] virtual bool fileExists(const std::string& path) const;
    virtual void showFlashPage() {}
    /// Shows the box modally; true when the answer is Yes (or OK).
    virtual bool showMessage(const MessageBox& box) = 0;
};

enum class DispatchResult { Submitted, Refused, Cancelled, FileMissing, NothingToRead };

// The decisions behind the window's menus, free of widgets: which file a job takes, where it
// goes, what the status bar says and what is submitted; the default files and the tool entries.
class JobDispatch {
public:
    JobDispatch(Settings& settings, AreaModel& areas, GuardFeedback& feedback, DispatchHost& host)
        : m_settings(settings), m_areas(areas), m_feedback(feedback), m_host(host) {}

    /// The Guard jobs go to (null while none runs: submissions are then refused).
    void bindGuard(GuardJobs* guard) { m_guard = guard; }

    DispatchResult dispatch(Job job);
    /// The job on `file`, as chosen elsewhere (a backup to restore): no dialog, no default
    /// file, and the job's last-file path stays as it was.
    DispatchResult dispatchWithFile(Job job, const std::string& file);
    /// A Corvex menu radio item; returns the type checked afterwards.
    int selectHardware(int type);

    // ---- Config > "Default files ..." ------------------------------------------------
    [[nodiscard]] bool defaultFileSet(FileKind kind) const {
        return !m_settings.defaultFiles[static_cast<std::size_t>(kind)].empty();
    }
    /// The entry's caption as the menu shows it ("&" doubled so it shows as itself).
    [[nodiscard]] std::string defaultFileCaption(FileKind kind) const;
    /// Asks for the entry's file: OK sets it, Cancel clears it.
    void chooseDefaultFile(FileKind kind);

    // ---- Tools -------------------------------------------------------------------------
    enum class ChannelMode { Dec, Hex };
    /// Whether the channel list editor entry of `mode` is still enabled: opening one of the
    /// two display modes disables the other for the rest of the run.
    [[nodiscard]] bool channelEditorEnabled(ChannelMode mode) const {
        return !m_channelMode || *m_channelMode == mode;
    }
    /// The file the editor opens on: the last firmware read of this run, else an image file
    /// the user is offered to pick. False when the entry is disabled or the user declines.
    bool openChannelEditor(ChannelMode mode, std::string& file);

private:
    DispatchResult dispatchJob(Job job, const std::string* given);
    std::string fileFor(const JobSpec& entry, bool& cancelled);

    Settings& m_settings;
    AreaModel& m_areas;
    GuardFeedback& m_feedback;
    DispatchHost& m_host;
    GuardJobs* m_guard = nullptr;
    std::optional<ChannelMode> m_channelMode;
};

} // namespace corvex::mainwin
