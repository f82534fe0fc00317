#pragma once

#include "ctl_options.h"
#include "link/guard/guard.h"
#include "link/guard/timeout_watch.h"
#include "mainwin/area_model.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::cli {

// Runs calls handed over by the Guard on the thread that owns the session, and blocks the
// Guard until each has run: the role the window's event loop plays for the GUI.
class Dispatcher {
public:
    /// Guard side: queues the call and waits until the owner has run it.
    void call(const std::function<void()>& fn);
    /// Owner side: runs handed-over calls until `deadline`.
    void runUntil(std::chrono::steady_clock::time_point deadline);

private:
    struct Task {
        const std::function<void()>* fn;
        bool done = false;
    };
    std::mutex m_mutex; // guards m_tasks and every Task::done
    std::condition_variable m_arrived;
    std::condition_variable m_finished;
    std::deque<Task*> m_tasks;
};

// The headless owner of a Guard: submits the commands one after another, drains the log queue
// every 100 ms, runs the time-out watch and prints what the window would show.
class CtlSession : public link::GuardEvents {
public:
    CtlSession(const CtlOptions& options, link::PortIo& port, std::string portDescription,
               std::ostream& out, std::ostream& err);
    ~CtlSession() override;
    CtlSession(const CtlSession&) = delete;
    CtlSession& operator=(const CtlSession&) = delete;

    /// The simulated receiver counts flash polls rather than time: the waits between polls
    /// only cost wall time there. Call before run().
    void dropPollDelays();

    /// Runs every command and "EXIT"; the exit status (0 all succeeded, 1 any failed).
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
    void tick();
    void drainLog();
    void printLogLine(std::string_view text);
    void printMessage(const link::GuardRecord& message);
    void areaEvent(link::AreaEvent event);
    void printArea(std::size_t area);
    [[nodiscard]] link::GuardRecord commandAt(std::size_t index) const;
    [[nodiscard]] std::size_t commandCount() const;
    void showProgress();

    const CtlOptions& m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    std::string m_portDescription;
    bool m_progressLine;

    Dispatcher m_dispatcher;
    link::AreaTable m_areaTable;    // shared with the Guard's firmware jobs
    mainwin::AreaModel m_areaModel; // what the map would show
    link::TimeoutWatch m_watch;
    std::unique_ptr<link::TCorvexThread> m_guard;

    // Owner thread only: events reach it through the dispatcher.
    bool m_failed = false;
    bool m_terminated = false;
    bool m_exitSubmitted = false;
    std::size_t m_next = 0;
    std::vector<std::string> m_pendingLogFile;
};

/// corvexctl itself: parses the arguments, opens the port and runs the session.
/// Returns the exit status (2 for a usage error, with one line on `err`).
int runCorvexctl(const std::vector<std::string_view>& args, std::ostream& out, std::ostream& err);

} // namespace corvex::cli
