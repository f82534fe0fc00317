#include "ctl_loop.h"

namespace corvex::cli {

void Dispatcher::call(const std::function<void()>& fn) {
    const std::lock_guard lock(m_mutex);
    m_tasks.push_back(fn);
    m_arrived.notify_one();
}

void Dispatcher::wake() {
    const std::lock_guard lock(m_mutex);
    m_woken = true;
    m_arrived.notify_one();
}

void Dispatcher::runPending(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_mutex);
    m_arrived.wait_until(lock, deadline, [&] { return m_woken || !m_tasks.empty(); });
    m_woken = false;
    while (!m_tasks.empty()) {
        const std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}

bool StopRequest::request(int signal) {
    int none = 0;
    if (!m_signal.compare_exchange_strong(none, signal)) {
        return false;
    }
    const std::lock_guard lock(m_wakeMutex);
    if (m_wake != nullptr) {
        m_wake->wake();
    }
    return true;
}

void StopRequest::bindWake(link::GuardWake* wake) {
    const std::lock_guard lock(m_wakeMutex);
    m_wake = wake;
}

} // namespace corvex::cli
