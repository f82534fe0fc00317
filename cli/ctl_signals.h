#pragma once

#include "ctl_loop.h"

#include <atomic>
#include <thread>

namespace corvex::cli {

// Turns SIGINT, SIGTERM and SIGHUP into a stop request that wakes the session at once: the
// running job is broken as by Break, the log book is written and the simulated receiver saved.
// A second of these signals ends the process at once. The signals are blocked in every thread
// and taken by one thread of ours with sigwait, so no handler runs and any call is safe there.
// Create it first in main(), before any other thread exists, so all threads inherit the mask.
class SignalWatch {
public:
    SignalWatch();
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    /// The first signal caught, for the session to see and be woken by.
    [[nodiscard]] StopRequest& stopRequest() { return m_stop; }

private:
    void watch();

    StopRequest m_stop;
    std::atomic<bool> m_done{false}; // written by the destructor, read by the watch thread
    std::thread m_thread;
};

} // namespace corvex::cli
