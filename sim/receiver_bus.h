#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvex::sim {

// The receiver's side of the adapter: 32-bit reads and writes on its bus.
class ReceiverBus {
public:
    virtual ~ReceiverBus() = default;

    /// One 32-bit bus read, as a word transaction delivers it.
    virtual std::uint32_t read(std::uint32_t address) = 0;
    /// One 32-bit bus write, as a word transaction delivers it.
    virtual void write(std::uint32_t address, std::uint32_t data) = 0;
    /// The receiver was reset (pin 17 held low).
    virtual void reset() {}
};

// A plain register file: reads return what was last written (0 before that). It keeps the
// order of every write so tests can check bus sequences such as the EMI set-up.
class RegisterFile : public ReceiverBus {
public:
    std::uint32_t read(std::uint32_t address) override;
    void write(std::uint32_t address, std::uint32_t data) override;
    void reset() override;

    /// Sets a register without recording a bus write (test set-up).
    void poke(std::uint32_t address, std::uint32_t data);
    [[nodiscard]] std::vector<std::pair<std::uint32_t, std::uint32_t>> writes() const;
    [[nodiscard]] std::vector<std::uint32_t> reads() const;
    [[nodiscard]] int resets() const;
    void clearHistory();

private:
    // Guards everything below: the Guard thread drives the bus, tests inspect it.
    mutable std::mutex m_mutex;
    std::unordered_map<std::uint32_t, std::uint32_t> m_registers;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_writes;
    std::vector<std::uint32_t> m_reads;
    int m_resets = 0;
};

} // namespace corvex::sim
