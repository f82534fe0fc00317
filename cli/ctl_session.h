#pragma once

#include "backup/backup_folder.h"
#include "ctl_loop.h"
#include "ctl_options.h"
#include "ctl_progress.h"
#include "link/guard/guard.h"
#include "link/guard/timeout_watch.h"
#include "link/port/port_backends.h"
#include "mainwin/area_model.h"

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::cli {

// The headless owner of a Guard: submits the commands one after another, prints what the
// window would show and runs the time-out watch. It sleeps until the Guard hands over an event,
// logs a line or changes its state, a break is due, a signal comes or its 100 ms tick (the
// watch and the progress line) is due; nothing waits out a tick.
class CtlSession : public link::GuardEvents {
public:
    /// `workFile` is the Guard's work file, which the caller holds for this run alone.
    CtlSession(const CtlOptions& options, link::PortIo& port, std::string portDescription,
               std::string workFile, std::ostream& out, std::ostream& err);
    ~CtlSession() override;
    CtlSession(const CtlSession&) = delete;
    CtlSession& operator=(const CtlSession&) = delete;

    /// The simulated receiver counts flash polls rather than time: the waits between polls
    /// only cost wall time there. Call before run().
    void dropPollDelays();
    /// The progress line on `err`; by default on when `err` is a terminal and not --quiet.
    void setProgressLine(bool on) { m_progress.setOn(on); }
    /// A stop requested from another thread stops the run: the running job is broken,
    /// nothing more is submitted and the Guard is ended. Call before run().
    void setStopRequest(StopRequest* stop) { m_stop = stop; }
    /// The run writes this backup back: its job waits for a signature read and is refused for
    /// another receiver type or chip unless --force. Call before run().
    void setRestore(const backup::BackupRecord* backup) { m_restore = backup; }
    /// The keeper the Guard's writes use (null with --no-backup); tests set its clock.
    [[nodiscard]] backup::BackupFolder* backups() { return m_backups.get(); }

    /// Runs every command and "EXIT"; the exit status: 0 all succeeded, 1 any failed, 3 a
    /// firmware job completed but the flash does not match the image.
    /// With --hardware, "SETHARDWARE" runs first.
    int run();

    void OnProgress(link::TCorvexThread& sender) override;
    void OnAreaReset(link::TCorvexThread& sender) override;
    void OnAreaReading(link::TCorvexThread& sender) override;
    void OnAreaReadOK(link::TCorvexThread& sender) override;
    void OnAreaReadError(link::TCorvexThread& sender) override;
    void OnAreaErasing(link::TCorvexThread& sender) override;
    void OnAreaErased(link::TCorvexThread& sender) override;
    void OnAreaEraseFailed(link::TCorvexThread& sender) override;
    void OnAreaProgramming(link::TCorvexThread& sender) override;
    void OnAreaProgrammed(link::TCorvexThread& sender) override;
    void OnAreaProgramFailed(link::TCorvexThread& sender) override;
    void OnAreaSkipped(link::TCorvexThread& sender) override;
    void OnAreaUpToDate(link::TCorvexThread& sender) override;
    void OnAreaNeedsUpdate(link::TCorvexThread& sender) override;
    void OnMessage(link::TCorvexThread& sender, const link::GuardRecord& message) override;
    void OnTerminate(link::TCorvexThread& sender) override;

private:
    void waitForGuardStart();
    void submitNext();
    /// A flash job that is not to run on the chip the last signature read found: prints why.
    [[nodiscard]] bool refusesFlashJob(const link::GuardRecord& command);
    /// The restore's write, when the backup is not for the receiver the signature named.
    [[nodiscard]] bool refusesRestore(const link::GuardRecord& command);
    [[nodiscard]] bool needsSignature(const link::GuardRecord& command) const;
    void startJob(const link::GuardRecord& command);
    /// The compare of a write has set the differs marks: the bytes to program are known.
    void startProgramming();
    [[nodiscard]] std::uint64_t areaBytes(bool (*counts)(std::uint32_t flags)) const;
    void noticeStop();
    void jobReport(const link::GuardRecord& message);
    void tick();
    void drainLog();
    void printLogLine(std::string_view text);
    void printMessage(const link::GuardRecord& message);
    void areaEvent(link::AreaEvent event);
    void printArea(std::size_t area);
    [[nodiscard]] link::GuardRecord commandAt(std::size_t index) const;
    [[nodiscard]] std::size_t commandCount() const;
    void showProgress();
    /// Erases the progress line before a line of ours goes to `err`.
    void clearProgress() { m_progress.clear(); }

    const CtlOptions& m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    std::string m_portDescription;
    ProgressLine m_progress;
    StopRequest* m_stop = nullptr;

    Dispatcher m_dispatcher;
    link::AreaTable m_areaTable;    // shared with the Guard's firmware jobs
    mainwin::AreaModel m_areaModel; // what the map would show
    link::TimeoutWatch m_watch;
    std::unique_ptr<backup::BackupFolder> m_backups; // outlives the Guard that calls it
    const backup::BackupRecord* m_restore = nullptr;
    std::unique_ptr<link::TCorvexThread> m_guard;

    // Owner thread only: events reach it through the dispatcher.
    bool m_failed = false;
    bool m_mismatch = false; // the flash does not match the image after a completed job
    bool m_terminated = false;
    bool m_exitSubmitted = false;
    bool m_guardStarted = false;
    bool m_stopping = false;
    bool m_breakPending = false; // a break waits for a job to be running
    std::size_t m_next = 0;
    std::vector<std::string> m_pendingLogFile;

    // What the last signature read found, for the flash jobs that follow it (as the window
    // enables its flash menus only after a known chip): NotRead until a SIGNATURE runs, and
    // again after SETHARDWARE, whose receivers take other command words.
    enum class Chip { NotRead, Known, Unknown };
    Chip m_chip = Chip::NotRead;
    std::string m_chipText; // the signature's report; empty when the job sent none

    // The job submitted last: its word as given and as the command table names it, and the
    // areas its events named.
    std::string m_jobText;
    std::string_view m_job;
    std::uint32_t m_differs = 0;    // bit per area
    std::uint32_t m_equal = 0;      // bit per area
    std::uint32_t m_protected = 0;  // bit per area
    std::uint32_t m_notWritten = 0; // protected areas a write left as they were
};

/// Message boxes break lines at "\r"; one printed line per message keeps the output greppable.
[[nodiscard]] std::string escapeLineBreaks(std::string_view text);

/// corvexctl itself: parses the arguments, opens the port and runs the session.
/// Returns the exit status (2 for a usage error, with one line on `err`); 128 + the signal
/// number when `stop` was requested during the run.
int runCorvexctl(const std::vector<std::string_view>& args, std::ostream& out, std::ostream& err,
                 StopRequest* stop = nullptr);

} // namespace corvex::cli
