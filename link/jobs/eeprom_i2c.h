#pragma once

#include "link/protocol/link.h"

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <utility>

namespace corvex::link {

// The configuration EEPROM: a 24C16 on the receiver's two-wire bus.
inline constexpr std::uint32_t kEepromSize = 2048;
inline constexpr std::uint32_t kEepromPage = 16;
using EepromImage = std::array<std::uint8_t, kEepromSize>;

// Frames of nine bits: the byte in bits 8..1, the acknowledge slot in bit 0.
inline constexpr std::uint32_t kFrameDeviceWrite = 0x141; // 0xA0, acknowledge slot released
inline constexpr std::uint32_t kFrameDeviceRead = 0x143;  // 0xA1
inline constexpr std::uint32_t kFrameReceiveAck = 0x1FE;  // data released, master acknowledges
inline constexpr std::uint32_t kFrameReceiveLast = 0x1FF; // all released: no acknowledge

/// The frame that sends `byte` with the acknowledge slot released for the device.
[[nodiscard]] constexpr std::uint32_t byteFrame(std::uint32_t byte) {
    return (byte & 0xFF) << 1 | 1;
}
/// The device frame of a write at `address`: the block number in device-address bits 3..1.
[[nodiscard]] constexpr std::uint32_t deviceFrameFor(std::uint32_t address) {
    return kFrameDeviceWrite | ((address >> 6) & 0x1C);
}
/// The frame came back unchanged with the acknowledge slot pulled low.
[[nodiscard]] constexpr bool acknowledged(std::uint32_t frame, std::uint32_t readBack) {
    return readBack == (frame & ~1U);
}
/// The frame's byte came back unchanged, whatever the acknowledge slot held.
[[nodiscard]] constexpr bool echoed(std::uint32_t frame, std::uint32_t readBack) {
    return ((frame ^ readBack) & 0x1FE) == 0;
}

// The receiver's I2C controller and the pin block that hands the bus lines to it, each register
// access one word transaction. Pin bit 0 drives the data line, bit 1 senses it, bit 2 is the
// clock. The poll loops raise PendingDepth while they wait and lower it when the awaited bit
// arrives or the receiver has kept them waiting too long; one that gives up on a break leaves
// it raised, so the Guard reports the wait as a broken link rather than a plain abort. Guard
// thread only.
class I2cController {
public:
    explicit I2cController(Link& link) : m_link(link) {}

    /// Resets and starts the controller and gives the pins their idle configuration.
    void setUp();
    /// Waits for the data line to read high, sending STOP every millisecond; false on a break
    /// or when the line stays low for longer than any device holds it.
    [[nodiscard]] bool waitFreeBus();
    /// START, or repeated START: data falls while the clock is high, then the pins go to the
    /// controller.
    void start();
    /// Takes the pins back and makes the data line rise while the clock is high.
    void stop();
    /// Returns every pin to input.
    void release();
    /// Shifts one frame out; the frame read back (low nine bits), or nothing when a poll gave
    /// up on a break or found the controller not answering.
    [[nodiscard]] std::optional<std::uint32_t> exchange(std::uint32_t frame);
    [[nodiscard]] bool sendAcknowledged(std::uint32_t frame);
    [[nodiscard]] bool sendEchoed(std::uint32_t frame);
    /// Receives one byte, acknowledging it unless it is the last; false on a break.
    [[nodiscard]] bool receive(bool last, std::uint8_t& byte);

private:
    [[nodiscard]] bool pollStatus(std::uint32_t bit);
    void pinSequence(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> writes);

    Link& m_link;
};

// The two bus lines toggled one by one through the pin block: every line change is one
// WriteWord, every data sample one ReadWord. Guard thread only.
class I2cPins {
public:
    explicit I2cPins(Link& link) : m_link(link) {}

    /// Both lines as open-drain outputs, released.
    void setUp();
    /// Data falls while the clock is high, then the clock falls.
    void start();
    /// Repeated START from a clock that is low.
    void repeatedStart();
    /// Nine clocks, most significant bit first, the acknowledge slot released and read while
    /// the clock is high; true when the device acknowledged. A break cuts the loop after its
    /// current bit and returns false.
    [[nodiscard]] bool send(std::uint32_t frame);
    /// Eight clocks sampling the data line, then the master's acknowledge (or none for the
    /// last byte); false when a break cut it short.
    [[nodiscard]] bool receive(bool last, std::uint8_t& byte);
    /// Both lines low, clock high, data high.
    void stop();

private:
    void dataHigh();
    void dataLow();
    void clockPulse();

    Link& m_link;
};

// Status words of the EEPROM read and write routines: 2048 for a complete transfer, else the
// failure code. The pin method, which cannot compare a frame read back, fails with the same
// three address codes when the device does not acknowledge the frame.
inline constexpr std::uint32_t kEepromComplete = kEepromSize;
inline constexpr std::uint32_t kReadNoFreeBus = 0x0EE1E001;
inline constexpr std::uint32_t kReadDeviceNotAcknowledged = 0x0EE1E002;
inline constexpr std::uint32_t kReadWordAddressNotEchoed = 0x0EE1E003;
inline constexpr std::uint32_t kReadDeviceReadNotEchoed = 0x0EE1E004;
inline constexpr std::uint32_t kReadBroken = 0x0EE1B001;
inline constexpr std::uint32_t kWriteNoFreeBus = 0x0EE0E001;
inline constexpr std::uint32_t kWriteBroken = 0x0EE0B001;
// Acknowledge polling gave up: the device address stayed unacknowledged for longer than a
// write cycle takes.
inline constexpr std::uint32_t kWriteNotAcknowledged = 0x0EE0E002;
inline constexpr std::uint32_t kWriteNotEchoed = 0x0EE0A000; // + the EEPROM address
inline constexpr std::uint32_t kEraseMark = 0x20000;         // or-ed into the write codes

struct EepromRead {
    std::uint32_t status = kReadBroken; // kEepromComplete when all 2048 bytes came in
    std::uint32_t bytes = 0;            // bytes stored into the image
};

/// Reads the whole EEPROM through the I2C controller. Logs "I2C READY" and a line every 256
/// bytes through `log`.
EepromRead readEepromController(Link& link, EepromImage& image,
                                const std::function<void(std::string_view)>& log);
/// Reads the whole EEPROM by toggling the pins.
EepromRead readEepromPins(Link& link, EepromImage& image);
/// Writes the image page by page through the controller, waiting out each page's write cycle
/// by acknowledge polling (bounded); kEepromComplete or a write failure code.
std::uint32_t writeEeprom(Link& link, const EepromImage& image);

} // namespace corvex::link
