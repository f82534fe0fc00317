#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

namespace corvex::mainwin {

// The calls the Guard posts to the window's thread. The Guard thread appends; the thread this
// object lives on runs them in order. A Qt queued call only wakes that thread: the queue itself
// is ours, so that the hand-over stays visible to the thread checker.
class HandOverQueue : public QObject {
public:
    explicit HandOverQueue(QObject* parent = nullptr) : QObject(parent) {}

    /// Any thread: queues `call` and wakes the owner's thread to run it.
    void post(const std::function<void()>& call);
    /// Drops the calls not run yet: their Guard is gone, and a dropped call does nothing when run.
    void clear();
    /// Posted calls running now on the owner's thread, nested in boxes they opened.
    [[nodiscard]] int depth() const { return m_depth; }

private:
    void runPosted();

    std::mutex m_mutex;                         // guards m_posted
    std::deque<std::function<void()>> m_posted; // appended by any thread, taken by the owner's
    int m_depth = 0;                            // the owner's thread alone
};

} // namespace corvex::mainwin
