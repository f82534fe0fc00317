#pragma once

#include <cstdint>

namespace corvex::link {

// The only seam between the program and parallel-port hardware. Addresses are absolute I/O
// addresses (PortBase + offset), exactly as a port instruction would use them.
class PortIo {
public:
    virtual ~PortIo() = default;

    /// One byte input from an I/O address.
    virtual std::uint8_t in(std::uint16_t address) = 0;
    /// One byte output to an I/O address.
    virtual void out(std::uint16_t address, std::uint8_t value) = 0;
};

// Register offsets from PortBase.
inline constexpr std::uint16_t kDataOffset = 0;
inline constexpr std::uint16_t kStatusOffset = 1;
inline constexpr std::uint16_t kControlOffset = 2;
inline constexpr std::uint16_t kExtendedControlOffset = 0x402;

// Control-shadow bits (logical line states).
inline constexpr std::uint8_t kLineRead = 0x01;  // pin 1
inline constexpr std::uint8_t kLineTxAck = 0x02; // pin 14
inline constexpr std::uint8_t kLineWrite = 0x04; // pin 16
inline constexpr std::uint8_t kLineReset = 0x08; // pin 17, low while the bit is set
inline constexpr std::uint8_t kIrqEnable = 0x10; // left as found
inline constexpr std::uint8_t kDataInput = 0x20; // data lines released when set
// Pins 1 and 14 are inverted by the port hardware; the control register is written with the
// shadow XOR this mask so that those pins follow the shadow bits.
inline constexpr std::uint8_t kControlInversion = 0x03;

// Status-register bits.
inline constexpr std::uint8_t kStatusDataValid = 0x08; // pin 15
inline constexpr std::uint8_t kStatusRxAck = 0x10;     // pin 13

inline constexpr std::uint16_t kDefaultPortBase = 0x378;

} // namespace corvex::link
