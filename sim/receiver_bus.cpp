#include "receiver_bus.h"

namespace corvex::sim {

std::uint32_t RegisterFile::read(std::uint32_t address) {
    const std::lock_guard lock(m_mutex);
    m_reads.push_back(address);
    const auto it = m_registers.find(address);
    return it == m_registers.end() ? 0 : it->second;
}

void RegisterFile::write(std::uint32_t address, std::uint32_t data) {
    const std::lock_guard lock(m_mutex);
    m_registers[address] = data;
    m_writes.emplace_back(address, data);
}

void RegisterFile::reset() {
    const std::lock_guard lock(m_mutex);
    ++m_resets;
}

void RegisterFile::poke(std::uint32_t address, std::uint32_t data) {
    const std::lock_guard lock(m_mutex);
    m_registers[address] = data;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> RegisterFile::writes() const {
    const std::lock_guard lock(m_mutex);
    return m_writes;
}

std::vector<std::uint32_t> RegisterFile::reads() const {
    const std::lock_guard lock(m_mutex);
    return m_reads;
}

int RegisterFile::resets() const {
    const std::lock_guard lock(m_mutex);
    return m_resets;
}

void RegisterFile::clearHistory() {
    const std::lock_guard lock(m_mutex);
    m_writes.clear();
    m_reads.clear();
    m_resets = 0;
}

} // namespace corvex::sim
