#include "ctl_signals.h"

#include <csignal>
#include <cstdlib>
#include <pthread.h>

namespace corvex::cli {

namespace {

// SIGUSR1 only wakes the watch thread when the program ends.
sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) {
        sigaddset(&set, signal);
    }
    return set;
}

} // namespace

SignalWatch::SignalWatch() {
    const sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A reader that went away (a pager closed) must not kill a run halfway through a flash
    // write: output then fails quietly and the job goes on to its end.
    std::signal(SIGPIPE, SIG_IGN);
    m_thread = std::thread([this] { watch(); });
}

SignalWatch::~SignalWatch() {
    m_done.store(true);
    pthread_kill(m_thread.native_handle(), SIGUSR1);
    m_thread.join();
}

void SignalWatch::watch() {
    const sigset_t set = watchedSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) {
            continue;
        }
        if (signal == SIGUSR1) {
            if (m_done.load()) {
                return;
            }
            continue;
        }
        if (!m_stop.request(signal)) {
            std::_Exit(128 + signal); // asked twice: the user will not wait for the job
        }
    }
}

} // namespace corvex::cli
