#pragma once

#include "link/guard/log_book.h"
#include "link/guard/timeout_watch.h"
#include "link/jobs/guard_record.h"
#include "mainwin/area_model.h"
#include "mainwin/job_progress.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::mainwin {

// Icon numbers of the status panels, in the icon list the area map shares.
inline constexpr int kIconPanel2Default = 13;
inline constexpr int kIconSelectSignature = 19;
inline constexpr int kIconHint = 21;
inline constexpr int kIconKnownChip = 28;
inline constexpr int kIconBusy = 32;
inline constexpr int kIconFirmware = 34;
inline constexpr int kIconWait = 38;

inline constexpr std::string_view kSelectSignature =
    "Select \"Flash\"-menu, option \"Read Signature\"";
inline constexpr std::string_view kVersionText = "Version 4.00C";
inline constexpr std::string_view kGuardStopped =
    "Corvex Guard is stopped !\rRestart the guard on tabsheet \"Corvex Guard\"";
inline constexpr std::string_view kGuardNotResponding = "Corvex Interface Guard not responding !";
inline constexpr std::string_view kDefaultCommand = "EXIT";

// Lines the Guard page keeps on show; older ones go to the log book file.
inline constexpr std::size_t kLogViewLimit = 100'000;
// Lines that leave the view are written to the log book in blocks of this many.
inline constexpr std::size_t kLogSpillBlock = 2'000;
// Ticks of the 100 ms timer before menu hints return to the status bar.
inline constexpr int kHintTicksAtStart = 10;
inline constexpr int kHintTicksAfterMessage = 20;

// What the window needs from its Guard. The model knows the Guard only by this: the running
// TCorvexThread gives it through GuardThreadLink (guard_links.h), tests through a fake that can
// hang an exchange on demand.
class GuardLink {
public:
    virtual ~GuardLink() = default;
    virtual int Submit(const link::GuardRecord& record) = 0;
    virtual void Break() = 0;
    virtual void BreakOnTimeout() = 0;
    [[nodiscard]] virtual std::int32_t PendingDepth() const = 0;
    [[nodiscard]] virtual std::uint32_t ExchangesDone() const = 0;
    [[nodiscard]] virtual std::uint32_t CurrentArea() const = 0;
    virtual int takeLog(link::GuardRecord& record) = 0;
    [[nodiscard]] virtual bool isIdle() const = 0;
};

enum class BoxKind { Information, Warning, Error, Question };

struct MessageBox {
    std::string title;
    std::string text; // "\r" breaks lines
    BoxKind kind = BoxKind::Information;
    friend bool operator==(const MessageBox&, const MessageBox&) = default;
};

// What the window does on the model's behalf. Calls come on the window's thread, in the order
// the reaction needs them: the panels already show what belongs beside a box when it opens.
class FeedbackView {
public:
    virtual ~FeedbackView() = default;
    /// Shows the box modally; true when the answer is Yes (or OK).
    virtual bool messageBox(const MessageBox& box) = 0;
    /// A diagnostic result (codes 6 and 7) for the control the request named.
    virtual void showDiagResult(const void* /*target*/, const std::string& /*text*/) {}
    /// Closes an open file editor and opens a new one on the file.
    virtual void openFileEditor(const std::string& /*fileName*/) {}
    /// The model's state may have changed: after each message, tick and the Guard's end. The
    /// window redraws the panels and applies the enable states here.
    virtual void refresh() {}
};

// One status panel as it is to be drawn: icon at 4 pixels, text at 25.
struct PanelView {
    std::string text;
    int icon = 0;                  // 0: none
    std::optional<Rgb> background; // nullopt: the window face colour
    friend bool operator==(const PanelView&, const PanelView&) = default;
};

// The window's receiving side of the Guard, free of widgets: the three status panels, the
// reaction to each Guard message, the Guard's end and Restart, the Guard page's log and command
// line, and the 100 ms timer. All calls come on the window's thread.
class GuardFeedback {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    /// `title` is the program's title line, shown on panel 1 at start; `logFile` the log book.
    GuardFeedback(AreaModel& areas, FeedbackView& view, std::string title, std::string logFile,
                  Clock clock = std::chrono::system_clock::now);

    /// The Guard the window now owns (may be null while none runs).
    void bindGuard(GuardLink* guard) { m_guard = guard; }

    // ---- status bar ------------------------------------------------------------------
    [[nodiscard]] PanelView panel(int index) const;
    /// Icon numbers: bits 0-7 panel 0, 8-15 panel 1, 16-23 panel 2.
    [[nodiscard]] std::uint32_t panelIcons() const { return m_panelIcons; }
    /// Job dispatch: hints stop overwriting panel 1, which shows the wait text with icon 38.
    void showWait(std::string_view text);
    /// The hint of the control under the mouse; shown only once the hint handler is back.
    void showHint(std::string_view text);
    void removeHintHandler() { m_hintHandler = false; }
    [[nodiscard]] bool hintHandlerInstalled() const { return m_hintHandler; }
    [[nodiscard]] int hintCountdown() const { return m_hintCountdown; }

    // ---- jobs the window hands over --------------------------------------------------
    /// The Guard took `command` into its queue. Until the Guard is idle again the job runs: the
    /// tick that finds it idle ends it (busy mark, progress, wait text), however it ended.
    void jobSubmitted(const link::GuardRecord& command);
    /// The Guard took a job with `file` as its read file (the file a firmware read saves into).
    void readFileSet(std::string file) { m_readFile = std::move(file); }
    /// The file the last firmware read of this run saved into; empty when none did.
    [[nodiscard]] const std::string& lastFirmwareRead() const { return m_lastFirmwareRead; }
    [[nodiscard]] bool jobRunning() const { return m_jobRunning; }
    /// The whole firmware job's progress ("43 %, 0:12 left"); empty when none runs.
    [[nodiscard]] std::string progressText() const;

    // ---- Guard events ----------------------------------------------------------------
    void onMessage(const link::GuardRecord& message);
    /// An area event for the area the Guard names; progress proves the link alive.
    void onAreaEvent(link::AreaEvent event, std::size_t area);
    /// The Guard has ended.
    void onTerminate();
    /// "Restart": the window has bound `guard`, a new Guard. The next tick submits "RESTART",
    /// and the hardware type is chosen again once the Guard is idle.
    void restart(GuardLink* guard);

    // ---- window state the messages drive ----------------------------------------------
    [[nodiscard]] bool flashGroupEnabled() const { return m_flashGroup; }
    [[nodiscard]] bool mapBusy() const { return m_mapBusy; }
    void setMapBusy(bool busy) { m_mapBusy = busy; }
    [[nodiscard]] bool blockMode() const { return m_blockMode; }
    [[nodiscard]] int loopbackGauge() const { return m_loopbackGauge; }
    [[nodiscard]] bool loopbackControlsEnabled() const { return m_loopbackGauge == 0; }
    [[nodiscard]] bool breakEnabled() const { return m_breakEnabled; }
    [[nodiscard]] bool restartEnabled() const { return m_restartEnabled; }
    void setSwapDataBytes(bool on) { m_swapDataBytes = on; }

    // ---- timer -----------------------------------------------------------------------
    void setTimeoutControl(bool on);
    [[nodiscard]] bool timeoutControl() const { return m_timeoutControl; }
    [[nodiscard]] int timeoutCountdown() const { return m_watch.countdown(); }
    /// While the hidden debugging fields are shown the title carries the time-out counters.
    void setDebugFieldsShown(bool shown) { m_debugFields = shown; }
    [[nodiscard]] std::string title() const;
    /// One 100 ms tick (the diagnostics page's line watch is the window's own).
    void tick();
    /// Takes the Guard's waiting log lines onto the page (also the last ones of a Guard that
    /// has just ended, before it is unbound).
    void drainLog();

    // ---- "Corvex Guard" page ---------------------------------------------------------
    /// The lines on show, oldest first, at most kLogViewLimit.
    [[nodiscard]] const std::deque<std::string>& logLines() const { return m_lines; }
    /// Lines ever added to the view: the window appends the ones it has not shown yet.
    [[nodiscard]] std::uint64_t linesAdded() const { return m_linesAdded; }
    /// A line of the window's own (settings, work file) on the page, stamped like the Guard's.
    void addWindowLine(std::string_view text) { addLine(link::logBookLine(text, m_clock())); }
    /// "Send" or Enter with the command field's text.
    void sendCommand(std::string_view fieldText);
    /// A click on "Corvex Command:": the view goes to the log book and is emptied. A failed
    /// write keeps the view and says so on it; the error is returned ("" on success).
    std::string appendViewToLogBook();
    /// At close: every line not yet in the log book is written. The error, or "".
    std::string closeLogBook();

    /// Code 6's text: `digits` upper-case hex digits; a full word may be shown byte-reversed.
    [[nodiscard]] static std::string diagValueText(std::uint32_t data, std::uint32_t digits,
                                                   bool swapBytes);

private:
    void setPanel(int index, int icon, std::string_view text);
    void setPanelIcon(int index, int icon);
    void showProgress();
    void endJob();
    void finalReport(const link::GuardRecord& message, std::uint32_t currentArea);
    void addLine(std::string_view text);
    std::string writeLogBook(bool includeView);
    void continueRestart();

    AreaModel& m_areas;
    FeedbackView& m_view;
    std::string m_title;
    std::string m_logFile;
    Clock m_clock;
    GuardLink* m_guard = nullptr;

    std::array<std::string, 3> m_panelText;
    std::uint32_t m_panelIcons = 0;
    std::string m_waitText;   // the wait text of the job handed over last
    bool m_waitShown = false; // panel 1 still shows it (with the job's progress at its end)
    int m_hintCountdown = kHintTicksAtStart;
    bool m_hintHandler = false;

    bool m_flashGroup = false;
    bool m_mapBusy = false;
    bool m_blockMode = false;
    int m_loopbackGauge = 0;
    bool m_breakEnabled = true;
    bool m_restartEnabled = false;
    bool m_swapDataBytes = false;

    // The job the window handed over last, until the Guard is idle again.
    bool m_jobRunning = false;
    std::string m_jobCommand;
    bool m_reportShown = false; // its final report has had its box
    JobProgress m_progress;
    std::string m_readFile;         // the read file the Guard holds
    std::string m_lastFirmwareRead; // where this run's last complete firmware read went

    bool m_timeoutControl = true;
    bool m_debugFields = false;
    link::TimeoutWatch m_watch;

    enum class RestartStep { None, SubmitRestart, ChooseHardware };
    RestartStep m_restart = RestartStep::None;

    std::deque<std::string> m_lines;
    std::uint64_t m_linesAdded = 0;
    std::vector<std::string> m_spilled;     // left the view, not yet in the log book
    std::size_t m_spillAt = kLogSpillBlock; // m_spilled's size that triggers the next write
};

} // namespace corvex::mainwin
