#include "mainwin/hand_over_queue.h"

namespace corvex::mainwin {

void HandOverQueue::post(const std::function<void()>& call) {
    {
        const std::lock_guard lock(m_mutex);
        m_posted.push_back(call);
    }
    QMetaObject::invokeMethod(
        this, [this] { runPosted(); }, Qt::QueuedConnection);
}

void HandOverQueue::clear() {
    const std::lock_guard lock(m_mutex);
    m_posted.clear();
}

void HandOverQueue::runPosted() {
    while (true) {
        std::function<void()> call;
        {
            const std::lock_guard lock(m_mutex);
            if (m_posted.empty()) {
                return;
            }
            call = std::move(m_posted.front());
            m_posted.pop_front();
        }
        ++m_depth;
        call();
        --m_depth;
    }
}

} // namespace corvex::mainwin
