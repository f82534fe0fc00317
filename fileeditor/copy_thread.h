#pragma once

#include "work_files.h"

#include <atomic>
#include <cstdint>
#include <thread>

namespace corvex::fileeditor {

// A working copy made on a thread of its own, so the window shows a file's first page at once
// and takes Cancel while gigabytes are copied. The thread uses only its own descriptor of the
// file it copies and the target descriptor it was given (at explicit offsets); the owner keeps
// the target open, and away from it, until finished() or the object is gone.
class CopyThread {
public:
    /// Starts copying the whole of `from` (`size` bytes) into the empty file `to`.
    CopyThread(OwnedFd from, int to, std::uint64_t size);
    /// Stops the copy and waits for the thread.
    ~CopyThread();
    CopyThread(const CopyThread&) = delete;
    CopyThread& operator=(const CopyThread&) = delete;

    [[nodiscard]] std::uint64_t size() const { return m_size; }
    [[nodiscard]] std::uint64_t copied() const {
        return m_watch.done.load(std::memory_order_relaxed);
    }
    /// The thread has ended; wait() then returns at once.
    [[nodiscard]] bool finished() const { return m_finished.load(std::memory_order_acquire); }
    /// Asks the copy to stop at its next chunk.
    void cancel() { m_watch.cancel.store(true, std::memory_order_relaxed); }
    /// Waits for the thread and tells how the copy ended.
    CopyEnd wait();

private:
    OwnedFd m_from;
    int m_to;
    std::uint64_t m_size;
    CopyWatch m_watch;
    CopyEnd m_end = CopyEnd::Failed;     // written by the thread before it sets m_finished
    std::atomic<bool> m_finished{false}; // set by the thread as its last act, read by the owner
    std::thread m_thread;
};

} // namespace corvex::fileeditor
