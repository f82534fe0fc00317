#pragma once

#include "link/port/port_io.h"

#include <atomic>
#include <cstdint>

namespace corvex::sim {

/// Counts the register accesses that pass through it to another port: what a job, or a part of
/// one such as a backup, costs in exchanges with the receiver.
class CountingPort final : public link::PortIo {
public:
    explicit CountingPort(link::PortIo& inner) : m_inner(inner) {}
    std::uint8_t in(std::uint16_t address) override {
        m_count.fetch_add(1, std::memory_order_relaxed);
        return m_inner.in(address);
    }
    void out(std::uint16_t address, std::uint8_t value) override {
        m_count.fetch_add(1, std::memory_order_relaxed);
        m_inner.out(address, value);
    }
    [[nodiscard]] std::uint64_t count() const { return m_count.load(); }

private:
    link::PortIo& m_inner;
    std::atomic<std::uint64_t> m_count{0}; // written by the Guard thread, read between jobs
};

} // namespace corvex::sim
