#pragma once

#include <cstdint>

namespace corvex::link {

// The owner's watch for a hanging exchange, run on its timer (100 ms in the window): an exchange
// that stays pending for 30 ticks without any progress is broken with BreakOnTimeout. A job
// whose exchanges keep ending is alive however long it runs without a progress report: on a
// slow or busy machine an EEPROM read may take longer than the 30 ticks. The watch
// starts counting again once it has fired, so an interface that hangs again -- the next word of
// a block, the next job -- is broken again rather than left to spin.
class TimeoutWatch {
public:
    static constexpr int kTicks = 30;

    /// `ticks`: how many ticks without progress make a hang; tests shorten it.
    explicit TimeoutWatch(int ticks = kTicks) : m_ticks(ticks), m_countdown(ticks) {}

    /// One timer tick with the Guard's PendingDepth and its count of ended exchanges; true each
    /// time one exchange has stayed pending the whole count of ticks without progress.
    [[nodiscard]] bool tick(std::int32_t pendingDepth, std::uint32_t exchangesDone) {
        const bool moved = exchangesDone != m_exchangesDone;
        m_exchangesDone = exchangesDone;
        if (pendingDepth <= 0 || moved) {
            m_countdown = m_ticks;
            return false;
        }
        if (--m_countdown > 0) {
            return false;
        }
        m_countdown = m_ticks;
        return true;
    }
    /// Progress was seen: the exchange is alive, start counting again.
    void restart() { m_countdown = m_ticks; }
    [[nodiscard]] int countdown() const { return m_countdown; }

private:
    int m_ticks;
    int m_countdown;
    std::uint32_t m_exchangesDone = 0;
};

} // namespace corvex::link
