#include "copy_thread.h"

namespace corvex::fileeditor {

CopyThread::CopyThread(OwnedFd from, int to, std::uint64_t size)
    : m_from(std::move(from)), m_to(to), m_size(size) {
    m_thread = std::thread([this] {
        m_end = copyWholeFile(m_from.get(), m_to, m_size, &m_watch);
        m_finished.store(true, std::memory_order_release);
    });
}

CopyThread::~CopyThread() {
    cancel();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

CopyEnd CopyThread::wait() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return m_end;
}

} // namespace corvex::fileeditor
