#pragma once

#include <cstdint>

namespace corvex::link {

// The owner's watch for a hanging exchange, run on its 100 ms timer: an exchange that stays
// pending for 30 ticks without any progress is broken with BreakOnTimeout.
class TimeoutWatch {
public:
    static constexpr int kTicks = 30;

    /// One timer tick; true exactly once when the pending exchange has hung for kTicks ticks.
    [[nodiscard]] bool tick(std::int32_t pendingDepth) {
        if (pendingDepth <= 0) {
            m_countdown = kTicks;
            return false;
        }
        if (m_countdown > 0) {
            --m_countdown;
            return m_countdown == 0;
        }
        return false;
    }
    /// Progress was seen: the exchange is alive, start counting again.
    void restart() { m_countdown = kTicks; }
    [[nodiscard]] int countdown() const { return m_countdown; }

private:
    int m_countdown = kTicks;
};

} // namespace corvex::link
