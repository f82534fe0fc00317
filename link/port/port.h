#pragma once

#include "link/port/port_io.h"

#include <atomic>
#include <cstdint>

namespace corvex::link {

// The port layer: register access relative to PortBase and the control-line shadow that every
// higher layer changes bit by bit. Driven by the Guard thread only, except readStatus(), which
// the window may call at any time (a status read has no side effects).
class Port {
public:
    explicit Port(PortIo& io, std::uint16_t base = kDefaultPortBase) : m_io(io), m_base(base) {}

    [[nodiscard]] std::uint16_t base() const { return m_base.load(std::memory_order_relaxed); }
    void setBase(std::uint16_t base) { m_base.store(base, std::memory_order_relaxed); }

    [[nodiscard]] std::uint8_t readPort(std::uint16_t address) { return m_io.in(address); }
    void writePort(std::uint16_t address, std::uint8_t value) { m_io.out(address, value); }

    [[nodiscard]] std::uint8_t readData() { return m_io.in(base() + kDataOffset); }
    void writeData(std::uint8_t value) { m_io.out(base() + kDataOffset, value); }
    [[nodiscard]] std::uint8_t readStatus() { return m_io.in(base() + kStatusOffset); }

    /// shadow |= mask, then the control register is rewritten from the shadow.
    void setLines(std::uint8_t mask) {
        m_shadow = static_cast<std::uint8_t>(m_shadow | mask);
        writeControl();
    }
    /// shadow &= ~mask, then the control register is rewritten from the shadow.
    void clearLines(std::uint8_t mask) {
        m_shadow = static_cast<std::uint8_t>(m_shadow & ~mask);
        writeControl();
    }

    /// Puts the port into byte-wide bidirectional mode and the lines into their idle state:
    /// data released, Read, TxAck and Write low, reset not asserted.
    void setup();

    [[nodiscard]] std::uint8_t shadow() const { return m_shadow; }
    [[nodiscard]] PortIo& io() { return m_io; }

private:
    void writeControl() {
        m_io.out(base() + kControlOffset, static_cast<std::uint8_t>(m_shadow ^ kControlInversion));
    }

    PortIo& m_io;
    // PortBase: written by the Guard (port choice), read by the window's status poll.
    std::atomic<std::uint16_t> m_base;
    std::uint8_t m_shadow = 0; // Guard thread only
};

} // namespace corvex::link
