#include "link/jobs/eeprom_i2c.h"

#include "link/jobs/flash_jobs.h"

#include <chrono>
#include <initializer_list>
#include <utility>

namespace corvex::link {

namespace {

// I2C controller registers.
constexpr std::uint32_t kI2cPrescaler = 0x20009000;
constexpr std::uint32_t kI2cTransmit = 0x20009004;
constexpr std::uint32_t kI2cReceive = 0x20009008;
constexpr std::uint32_t kI2cControl = 0x2000900C;
constexpr std::uint32_t kI2cMode = 0x20009010;
constexpr std::uint32_t kI2cStatus = 0x20009014;
constexpr std::uint32_t kStatusReceived = 0x01;
constexpr std::uint32_t kStatusReady = 0x02;
constexpr std::uint32_t kPrescaler = 300;
constexpr std::uint32_t kControlRunning = 0x318;
constexpr std::uint32_t kFrameMask = 0x1FF;

// Pin block registers; each configuration register has a set and a clear address.
constexpr std::uint32_t kPinSet = 0x2000D004;
constexpr std::uint32_t kPinClear = 0x2000D008;
constexpr std::uint32_t kPinInput = 0x2000D010;
constexpr std::uint32_t kConfig0Set = 0x2000D024;
constexpr std::uint32_t kConfig0Clear = 0x2000D028;
constexpr std::uint32_t kConfig1Set = 0x2000D034;
constexpr std::uint32_t kConfig1Clear = 0x2000D038;
constexpr std::uint32_t kConfig2Set = 0x2000D044;
constexpr std::uint32_t kConfig2Clear = 0x2000D048;

constexpr std::uint32_t kPinDrive = 0x1; // pulls the data line low through the pin block
constexpr std::uint32_t kPinData = 0x2;
constexpr std::uint32_t kPinClock = 0x4;
constexpr std::uint32_t kAllPins = 0x7;

// Data line sensed as input, clock and data drive as open-drain outputs (the configuration
// after set-up, and the one START and STOP return to before they move the lines).
constexpr std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> kPinsIdleConfig = {
    {kConfig2Clear, 5}, {kConfig2Set, 2},   {kConfig1Clear, 2},
    {kConfig1Set, 5},   {kConfig0Clear, 2}, {kConfig0Set, 5},
};

constexpr std::uint64_t kFreeBusPauseUs = 1000;

// How long a wait on the receiver may take: the EEPROM's write cycle (10 ms at most for a
// 24C16), a frame through the controller (under a millisecond), a device walked off the data
// line. The exchanges of such a wait all end, so the window's time-out never sees it: without
// its own bound an absent or unpowered EEPROM would hold the job for ever.
constexpr auto kReceiverWaitBound = std::chrono::milliseconds(50);
// However slow the link, a wait makes this many tries before it gives up.
constexpr int kReceiverWaitTries = 8;

class ReceiverWait {
public:
    ReceiverWait() : m_deadline(Clock::now() + kReceiverWaitBound) {}

    /// Call before each try; true when it is the last. The last try starts after the bound
    /// has passed, so a Guard thread the system left waiting still looks once more.
    [[nodiscard]] bool lastTry() {
        ++m_tries;
        return m_tries >= kReceiverWaitTries && Clock::now() >= m_deadline;
    }

private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point m_deadline;
    int m_tries = 0;
};

} // namespace

void I2cController::pinSequence(
    std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> writes) {
    for (const auto& [address, data] : writes) {
        m_link.writeWord(address, data);
    }
}

void I2cController::setUp() {
    pinSequence({{kI2cControl, 0},
                 {kI2cPrescaler, kPrescaler},
                 {kI2cMode, 0},
                 {kI2cControl, kControlRunning}});
    (void)m_link.readWord(kI2cControl);
    (void)m_link.readWord(kI2cReceive); // drops a frame left from before
    pinSequence({{kPinSet, kAllPins},
                 {kConfig0Clear, 2},
                 {kConfig0Set, 5},
                 {kConfig1Clear, 2},
                 {kConfig1Set, 5},
                 {kConfig2Clear, 5},
                 {kConfig2Set, 2}});
}

bool I2cController::waitFreeBus() {
    std::atomic<std::int32_t>& pending = m_link.flags().pendingDepth;
    pending.fetch_add(1);
    for (ReceiverWait wait;;) {
        const bool last = wait.lastTry();
        // A read broken off returns all ones, which would look like a free bus.
        if (m_link.breakRequested()) {
            return false;
        }
        const std::uint32_t pins = m_link.readWord(kPinInput);
        if (m_link.breakRequested()) {
            return false;
        }
        if ((pins & kPinData) != 0) {
            pending.fetch_sub(1);
            return true;
        }
        if (last) {
            pending.fetch_sub(1); // given up, not broken off: the job reports it itself
            return false;
        }
        // A device left in the middle of a byte holds the data line; the clocks of STOP walk it
        // to the end of that byte.
        stop();
        m_link.pollDelay(kFreeBusPauseUs);
    }
}

void I2cController::start() {
    m_link.writeWord(kPinSet, kAllPins);
    for (const auto& [address, data] : kPinsIdleConfig) {
        m_link.writeWord(address, data);
    }
    pinSequence({{kPinSet, kPinDrive | kPinClock},
                 {kPinClear, kPinDrive},
                 {kPinClear, kPinClock},
                 {kConfig0Set, kAllPins},
                 {kConfig1Set, kAllPins},
                 {kConfig2Set, kAllPins}});
}

void I2cController::stop() {
    pinSequence({{kPinClear, kPinClock}, {kPinSet, kPinDrive | kPinData}});
    for (const auto& [address, data] : kPinsIdleConfig) {
        m_link.writeWord(address, data);
    }
    pinSequence({{kPinClear, kPinDrive | kPinClock}, {kPinSet, kPinClock}, {kPinSet, kPinDrive}});
}

void I2cController::release() {
    pinSequence({{kConfig2Clear, kAllPins},
                 {kConfig1Clear, kAllPins},
                 {kConfig0Clear, kAllPins},
                 {kPinClear, kAllPins}});
}

bool I2cController::pollStatus(std::uint32_t bit) {
    std::atomic<std::int32_t>& pending = m_link.flags().pendingDepth;
    pending.fetch_add(1);
    for (ReceiverWait wait;;) {
        const bool last = wait.lastTry();
        if (m_link.breakRequested()) {
            return false; // PendingDepth stays raised: the wait was left, not finished
        }
        const std::uint32_t status = m_link.readWord(kI2cStatus);
        if (m_link.breakRequested()) {
            return false;
        }
        if ((status & bit) != 0) {
            pending.fetch_sub(1);
            return true;
        }
        if (last) {
            pending.fetch_sub(1);
            return false;
        }
    }
}

std::optional<std::uint32_t> I2cController::exchange(std::uint32_t frame) {
    if (!pollStatus(kStatusReady)) {
        return std::nullopt;
    }
    m_link.writeWord(kI2cTransmit, frame);
    if (!pollStatus(kStatusReceived)) {
        return std::nullopt;
    }
    const std::uint32_t readBack = m_link.readWord(kI2cReceive) & kFrameMask;
    if (m_link.breakRequested()) {
        return std::nullopt;
    }
    return readBack;
}

bool I2cController::sendAcknowledged(std::uint32_t frame) {
    const auto readBack = exchange(frame);
    return readBack && acknowledged(frame, *readBack);
}

bool I2cController::sendEchoed(std::uint32_t frame) {
    const auto readBack = exchange(frame);
    return readBack && echoed(frame, *readBack);
}

bool I2cController::receive(bool last, std::uint8_t& byte) {
    const auto readBack = exchange(last ? kFrameReceiveLast : kFrameReceiveAck);
    if (!readBack) {
        return false;
    }
    byte = static_cast<std::uint8_t>(*readBack >> 1);
    return true;
}

void I2cPins::dataHigh() {
    m_link.writeWord(kPinSet, kPinData);
}

void I2cPins::dataLow() {
    m_link.writeWord(kPinClear, kPinData);
}

void I2cPins::clockPulse() {
    m_link.writeWord(kPinSet, kPinClock);
    m_link.writeWord(kPinClear, kPinClock);
}

void I2cPins::setUp() {
    m_link.writeWord(kConfig0Set, kPinData | kPinClock);
    m_link.writeWord(kConfig1Set, 0);
    m_link.writeWord(kConfig2Set, 0);
    m_link.writeWord(kPinSet, kPinData | kPinClock);
    m_link.writeWord(kPinSet, kPinData | kPinClock);
}

void I2cPins::start() {
    dataLow();
    m_link.writeWord(kPinClear, kPinClock);
}

void I2cPins::repeatedStart() {
    m_link.writeWord(kPinSet, kPinData | kPinClock);
    start();
}

bool I2cPins::send(std::uint32_t frame) {
    for (int bit = 8; bit > 0; --bit) {
        if (((frame >> bit) & 1) != 0) {
            dataHigh();
        } else {
            dataLow();
        }
        clockPulse();
        if (m_link.breakRequested()) {
            return false;
        }
    }
    // The acknowledge slot goes out released; a device that took the byte pulls it low while
    // the clock is high. Without this look an absent EEPROM would read as 2048 bytes of 0xFF.
    dataHigh();
    m_link.writeWord(kPinSet, kPinClock);
    const bool acknowledged = (m_link.readWord(kPinInput) & kPinData) == 0;
    m_link.writeWord(kPinClear, kPinClock);
    return acknowledged && !m_link.breakRequested();
}

bool I2cPins::receive(bool last, std::uint8_t& byte) {
    dataHigh();
    std::uint32_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        m_link.writeWord(kPinSet, kPinClock);
        value <<= 1;
        if ((m_link.readWord(kPinInput) & kPinData) != 0) {
            value |= 1;
        }
        m_link.writeWord(kPinClear, kPinClock);
        if (m_link.breakRequested()) {
            return false;
        }
    }
    if (last) {
        dataHigh();
    } else {
        dataLow();
    }
    clockPulse();
    byte = static_cast<std::uint8_t>(value);
    return true;
}

void I2cPins::stop() {
    m_link.writeWord(kPinClear, kPinData | kPinClock);
    m_link.writeWord(kPinSet, kPinClock);
    m_link.writeWord(kPinSet, kPinData);
}

EepromRead readEepromController(Link& link, EepromImage& image,
                                const std::function<void(std::string_view)>& log) {
    EepromRead result;
    I2cController i2c(link);
    i2c.setUp();
    if (!i2c.waitFreeBus()) {
        result.status = kReadNoFreeBus;
        i2c.release();
        return result;
    }
    log("I2C READY");
    i2c.start();
    if (!i2c.sendAcknowledged(kFrameDeviceWrite)) {
        result.status = kReadDeviceNotAcknowledged;
    } else if (!i2c.sendEchoed(byteFrame(0))) {
        result.status = kReadWordAddressNotEchoed;
    } else {
        i2c.start();
        if (!i2c.sendEchoed(kFrameDeviceRead)) {
            result.status = kReadDeviceReadNotEchoed;
        } else {
            result.status = kReadBroken;
            for (std::uint32_t address = 0; address + 1 < kEepromSize; ++address) {
                if (link.breakRequested()) {
                    break;
                }
                if (address % 256 == 0) {
                    log(formatLine("CURRENTLY READING EEPROM ADDRESS %4.4X", address));
                }
                if (!i2c.receive(false, image[address])) {
                    break;
                }
                ++result.bytes;
            }
            // The last byte goes unacknowledged, which ends the device's sequential read.
            if (result.bytes + 1 == kEepromSize && i2c.receive(true, image[kEepromSize - 1])) {
                result.bytes = kEepromSize;
                result.status = kEepromComplete;
            }
        }
    }
    i2c.stop();
    i2c.release();
    return result;
}

EepromRead readEepromPins(Link& link, EepromImage& image) {
    EepromRead result;
    I2cPins pins(link);
    pins.setUp();
    pins.start();
    if (!pins.send(kFrameDeviceWrite)) {
        result.status = kReadDeviceNotAcknowledged;
    } else if (!pins.send(byteFrame(0))) {
        result.status = kReadWordAddressNotEchoed;
    } else {
        pins.repeatedStart();
        if (!pins.send(kFrameDeviceRead)) {
            result.status = kReadDeviceReadNotEchoed;
        } else {
            std::uint8_t byte = 0;
            while (result.bytes + 1 < kEepromSize && pins.receive(false, byte)) {
                image[result.bytes++] = byte;
            }
            if (result.bytes + 1 == kEepromSize && pins.receive(true, byte)) {
                image[result.bytes++] = byte;
                result.status = kEepromComplete;
            }
        }
    }
    pins.stop();
    return result;
}

std::uint32_t writeEeprom(Link& link, const EepromImage& image) {
    I2cController i2c(link);
    i2c.setUp();
    if (!i2c.waitFreeBus()) {
        i2c.release();
        return kWriteNoFreeBus;
    }
    std::uint32_t address = 0;
    while (address < kEepromSize - 1) {
        // The device ignores its address until the previous page is programmed: poll for it,
        // for no longer than a write cycle can take. An EEPROM that never answers is absent
        // or unpowered.
        for (ReceiverWait wait;;) {
            const bool last = wait.lastTry();
            i2c.start();
            if (link.breakRequested()) {
                i2c.release();
                return kWriteBroken;
            }
            if (i2c.sendAcknowledged(deviceFrameFor(address))) {
                break;
            }
            if (last) {
                i2c.stop();
                i2c.release();
                return kWriteNotAcknowledged;
            }
        }
        // A word address that comes back wrong sends the same page again.
        if (i2c.sendEchoed(byteFrame(address))) {
            for (std::uint32_t i = 0; i < kEepromPage; ++i) {
                if (!i2c.sendEchoed(byteFrame(image[address]))) {
                    i2c.stop();
                    i2c.release();
                    return kWriteNotEchoed + address;
                }
                ++address;
            }
        }
        i2c.stop(); // starts the page's write cycle
    }
    link.writeWord(kPinClear, kAllPins);
    i2c.release();
    return address;
}

} // namespace corvex::link
