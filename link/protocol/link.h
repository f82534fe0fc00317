#pragma once

#include "link/port/port.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace corvex::link {

// What DetectInterface finds on the port.
enum class InterfaceType : int {
    Absent = 0,     // both input lines float high
    Compatible = 2, // answers, but without the loopback echo
    RevB = 3,       // loopback echo of the probe byte
    Unknown = 4,    // echoes something else
};

// The word that names a detection result in the "CORVEX" reply.
[[nodiscard]] const char* interfaceTypeWord(InterfaceType type);

// The mark a broken link leaves in PendingDepth (a time-out, or no interface on the port): the
// Guard then reports the broken link instead of a plain abort.
inline constexpr std::int32_t kBrokenLinkMark = 1000;

// Flags shared between the Guard and the window; every handshake wait polls breakFlag.
struct LinkFlags {
    /// Breaks the running job as a broken link. The mark goes in before the break, so whoever
    /// sees the break also sees the mark.
    void markBrokenLink() {
        pendingDepth.fetch_add(kBrokenLinkMark);
        breakFlag.store(true);
    }

    // BreakFlag: set by the window (Break), cleared by the Guard.
    std::atomic<bool> breakFlag{false};
    // PendingDepth: Guard +1/-1 around every exchange; +kBrokenLinkMark by the window on a
    // time-out, or by the Guard when a job finds no interface.
    std::atomic<std::int32_t> pendingDepth{0};
    // Guard +1 as each exchange ends, however it ends. The watch reads it to tell a long run of
    // exchanges that each finish (an EEPROM read, a block) from one exchange that hangs.
    std::atomic<std::uint32_t> exchangesDone{0};
    // Set once by the Guard's owner when it destroys the Guard, never cleared: every wait ends
    // from then on, even after a job has cleared breakFlag to go on past a time-out.
    std::atomic<bool> ending{false};
};

// Keeps PendingDepth raised for the length of one exchange, so the window's time-out watch sees
// a wait that does not end, and lowers it again however the exchange ends (a wait falls through
// on a break, so the decrement always runs).
class PendingExchange {
public:
    explicit PendingExchange(LinkFlags& flags) : m_flags(flags) {
        m_flags.pendingDepth.fetch_add(1, std::memory_order_relaxed);
    }
    ~PendingExchange() {
        m_flags.pendingDepth.fetch_sub(1, std::memory_order_relaxed);
        m_flags.exchangesDone.fetch_add(1, std::memory_order_relaxed);
    }
    PendingExchange(const PendingExchange&) = delete;
    PendingExchange& operator=(const PendingExchange&) = delete;

private:
    LinkFlags& m_flags;
};

// The byte handshake and the word transactions over the port. Guard thread only.
class Link {
public:
    using Sleeper = std::function<void(std::chrono::milliseconds)>;
    using MicroDelay = std::function<void(std::uint64_t microseconds)>;

    Link(Port& port, LinkFlags& flags);

    /// Selects the slow byte-send variant for ports that need settling time.
    void setLaptopDriver(bool on) { m_laptopDriver = on; }
    [[nodiscard]] bool laptopDriver() const { return m_laptopDriver; }
    /// Replaces the millisecond sleep (tests and benchmarks keep the protocol, not the waiting).
    void setSleeper(Sleeper sleeper) { m_sleep = std::move(sleeper); }
    /// Replaces the busy-wait between flash polls. The simulated receiver counts polls, not
    /// time, so its owners drop the wait; real hardware keeps delayMicroseconds.
    void setMicroDelay(MicroDelay delay) { m_microDelay = std::move(delay); }

    void sendByte(std::uint8_t byte);
    void waitRxAck();
    /// 0xFF after a break, without touching the lines.
    [[nodiscard]] std::uint8_t receiveByte();
    [[nodiscard]] std::uint8_t readStrobed();
    void acknowledge();

    void writeWord(std::uint32_t address, std::uint32_t data);
    /// 0xFFFFFFFF when the exchange was broken off.
    [[nodiscard]] std::uint32_t readWord(std::uint32_t address);

    void resetPulse();
    void loopbackOn();
    void loopbackOff();
    [[nodiscard]] InterfaceType detectInterface();
    /// Both input lines read high. An adapter never raises DataValid and RxAck together at any
    /// step of an exchange, so this is a port with nothing on it: its lines float high and
    /// every handshake wait would take that for an answer.
    [[nodiscard]] bool linesFloat();
    /// Writes the receiver's external-memory-interface registers for the hardware type.
    /// Returns false when a break cut the sequence short.
    bool busInit(std::uint32_t hardwareType);

    /// Busy-waits on the steady clock; used between flash polls.
    static void delayMicroseconds(std::uint64_t count);
    /// The wait before a flash poll: delayMicroseconds unless replaced.
    void pollDelay(std::uint64_t microseconds) { m_microDelay(microseconds); }

    [[nodiscard]] bool breakRequested() const {
        return m_flags.breakFlag.load(std::memory_order_relaxed) ||
               m_flags.ending.load(std::memory_order_relaxed);
    }
    [[nodiscard]] Port& port() { return m_port; }
    [[nodiscard]] LinkFlags& flags() { return m_flags; }
    void sleepMs(int ms) { m_sleep(std::chrono::milliseconds(ms)); }

private:
    void loopbackSwitch(std::uint8_t command);

    Port& m_port;
    LinkFlags& m_flags;
    bool m_laptopDriver = false;
    Sleeper m_sleep;
    MicroDelay m_microDelay;
};

} // namespace corvex::link
