#pragma once

#include "link/jobs/guard_record.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace corvex::link {

// A ring of 128 GuardRecords with 127 usable slots. Appends are serialised (the LogQueue has
// two producers: the Guard and a refused Submit); the single consumer takes without a lock.
class RecordQueue {
public:
    static constexpr std::uint32_t kSlots = 128;
    static constexpr std::uint32_t kMask = kSlots - 1;

    /// Copies the record in; the slot index used, or -1 when the queue is full.
    int append(const GuardRecord& record) {
        const std::lock_guard lock(m_appendMutex);
        const std::uint32_t write = m_write.load(std::memory_order_relaxed);
        const std::uint32_t next = (write + 1) & kMask;
        if (next == m_read.load(std::memory_order_acquire)) {
            return -1;
        }
        m_slots[write] = record;
        m_write.store(next, std::memory_order_release);
        return static_cast<int>(write);
    }

    /// Copies the oldest record out; the slot index used, or -1 when the queue is empty.
    int take(GuardRecord& record) {
        const std::uint32_t read = m_read.load(std::memory_order_relaxed);
        if (read == m_write.load(std::memory_order_acquire)) {
            return -1;
        }
        record = m_slots[read];
        m_read.store((read + 1) & kMask, std::memory_order_release);
        return static_cast<int>(read);
    }

    [[nodiscard]] bool empty() const {
        return m_read.load(std::memory_order_acquire) == m_write.load(std::memory_order_acquire);
    }

private:
    std::array<GuardRecord, kSlots> m_slots{};
    // Read index: written by the consumer only. Write index: written under m_appendMutex.
    std::atomic<std::uint32_t> m_read{0};
    std::atomic<std::uint32_t> m_write{0};
    std::mutex m_appendMutex; // serialises producers
};

} // namespace corvex::link
