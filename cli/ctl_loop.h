#pragma once

#include "link/guard/guard.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace corvex::cli {

// corvexctl's event loop, the role the window's event loop plays for the GUI: runs the calls
// the Guard hands over on the thread that owns the session, blocking the Guard until each has
// run, and sleeps until there is something to do: a call, news from the Guard or a signal
// (wake()), or a deadline the owner names.
class Dispatcher final : public link::GuardWake {
public:
    /// Guard side: queues the call for the owner's thread and returns; the Guard waits for it
    /// itself, so a Guard being destroyed can drop a call the owner has not run yet.
    void call(const std::function<void()>& fn);
    /// Any thread: ends the owner's present or next wait.
    void wake() override;
    /// Owner side: sleeps until a call is handed over, wake() is called or `deadline` comes,
    /// then runs the calls queued by then and returns.
    void runPending(std::chrono::steady_clock::time_point deadline);

private:
    // Guards m_tasks and m_woken: the Guard and the signal watch write them, the owner takes.
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<std::function<void()>> m_tasks;
    bool m_woken = false;
};

// The request to stop a run, made by the thread that takes the signals: the running job is
// broken, nothing more is submitted and the Guard is ended.
class StopRequest {
public:
    /// Records the signal and wakes the session; false, and nothing changed, when a signal was
    /// recorded before.
    bool request(int signal);
    /// 0, or the number of the signal recorded.
    [[nodiscard]] int signal() const { return m_signal.load(); }
    /// Whom request() wakes (null: nobody); the session binds itself for the time it runs.
    void bindWake(link::GuardWake* wake);

private:
    std::atomic<int> m_signal{0}; // written by the requesting thread, read by the session
    std::mutex m_wakeMutex;       // guards m_wake: the session binds, the requesting thread calls
    link::GuardWake* m_wake = nullptr;
};

} // namespace corvex::cli
