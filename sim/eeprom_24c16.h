#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace corvex::sim {

struct EepromFaults {
    // The line is disturbed while the data byte for this address is written: its most
    // significant bit reads inverted, so the sender sees it come back wrong.
    std::optional<std::uint32_t> garbledAddress;
    // No device on the bus: nothing ever acknowledges or drives the data line.
    bool absent = false;
};

// A 24C16 serial EEPROM as its two bus lines see it: 2048 bytes in eight blocks of 256 chosen
// by device-address bits 3..1, a one-byte word address, 16-byte write pages that wrap inside
// the page, and a write cycle after STOP during which the device does not acknowledge its
// address. It acts on line events only (START, STOP, clock edges), so it cannot tell whether
// a controller or bit-banged pins drive it. Not thread-safe: the Receiver serialises access.
class Eeprom24c16 {
public:
    static constexpr std::size_t kSize = 2048;
    static constexpr std::size_t kPageSize = 16;
    // Device-address attempts the write cycle refuses before it has finished.
    static constexpr int kWriteCycleAttempts = 3;

    /// `image` is the memory, all 0xFF when empty; throws std::invalid_argument when it is
    /// neither empty nor 2048 bytes.
    Eeprom24c16(std::span<const std::uint8_t> image, EepromFaults faults);

    /// The data line fell while the clock was high.
    void start();
    /// The data line rose while the clock was high.
    void stop();
    /// The clock rose; `data` is the level of the data line.
    void clockRise(bool data);
    /// The clock fell.
    void clockFall();
    /// Time has passed (the receiver's 100 ms reset pulse): a write cycle has finished.
    void elapse() { m_busyAttempts = 0; }

    /// The device holds the data line low.
    [[nodiscard]] bool pullsDataLow() const { return m_pullsLow; }
    /// The line level the device reads is inverted for this bit (the garbled-address fault).
    [[nodiscard]] bool garblesLine() const { return m_garbling; }
    [[nodiscard]] const std::array<std::uint8_t, kSize>& memory() const { return m_memory; }
    /// Changes whenever a write cycle changed the memory.
    [[nodiscard]] std::uint64_t generation() const { return m_generation; }
    /// Device-address attempts refused because a write cycle was running, since creation.
    [[nodiscard]] std::uint64_t busyRefusals() const { return m_busyRefusals; }

private:
    enum class Phase : std::uint8_t {
        Idle,        // waiting for START
        Device,      // taking the device address
        WordAddress, // taking the word address of a write
        WriteData,   // taking data bytes into the page buffer
        ReadData,    // sending bytes from the address counter on
        Ignore,      // not addressed: waiting for the next START or STOP
    };

    void byteReceived();
    void beginSending();
    void updateGarbling();
    [[nodiscard]] bool receiving() const;

    std::array<std::uint8_t, kSize> m_memory{};
    const EepromFaults m_faults;
    Phase m_phase = Phase::Idle;
    std::uint32_t m_counter = 0; // the address counter, 11 bits
    std::uint8_t m_shift = 0;
    int m_bits = 0;           // bits of the current byte clocked so far
    bool m_sending = false;   // the current byte goes from the device to the master
    bool m_ackSlot = false;   // the ninth clock of the current byte
    bool m_ackWanted = false; // receiving: acknowledge in the ninth clock
    bool m_masterAck = false; // sending: the master pulled the ninth clock low
    bool m_pullsLow = false;
    bool m_garbling = false;
    std::uint32_t m_block = 0; // block of the write in progress
    // The page buffer of the write in progress, written into the memory at STOP.
    std::uint32_t m_pageBase = 0;
    std::array<std::optional<std::uint8_t>, kPageSize> m_page{};
    int m_busyAttempts = 0;
    std::uint64_t m_generation = 0;
    std::uint64_t m_busyRefusals = 0;
};

} // namespace corvex::sim
