#include "virtual_port.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <utility>

namespace corvex::sim {

namespace {

using link::kControlOffset;
using link::kDataOffset;
using link::kExtendedControlOffset;
using link::kStatusDataValid;
using link::kStatusOffset;
using link::kStatusRxAck;

// Status bits that do not carry a handshake line: 0x07 unused (read as 1), pin 10 idle high
// (0x40), pin 11 idle high (0x80 is inverted by the port, reads 0), pin 12 held low (0x20).
constexpr std::uint8_t kStatusFixed = 0x47;
// Nothing plugged in: pins 10 to 13 and 15 all float high.
constexpr std::uint8_t kStatusNoAdapter = 0x7F;
// An I/O address with no port behind it.
constexpr std::uint8_t kNoRegister = 0xFF;
// Data lines nobody drives are pulled up.
constexpr std::uint8_t kFloatingData = 0xFF;

// Power-on values of a typical port: strobe-style outputs idle, pin 17 low, SPP mode.
constexpr std::uint8_t kPowerOnControl = 0xCC;
constexpr std::uint8_t kPowerOnEcr = 0x15;

constexpr std::array<std::uint8_t, 3> kSwitchOn{0x55, 0xAA, 0xB3};
constexpr std::array<std::uint8_t, 3> kSwitchOff{0x55, 0xAA, 0x33};

constexpr std::uint8_t kCommandWrite = 0;
constexpr std::uint8_t kCommandRead = 1;

// Line levels as the adapter sees them on the cable.
struct Pins {
    bool read = false;     // pin 1
    bool txAck = false;    // pin 14
    bool write = false;    // pin 16
    bool resetLow = false; // pin 17 low: reset asserted
    bool released = true;  // the port does not drive the data lines
};

// The port hardware inverts control bits 0, 1 and 3 on their way to pins 1, 14 and 17.
Pins pinsFromControl(std::uint8_t reg) {
    Pins pins;
    pins.read = (reg & 0x01) == 0;
    pins.txAck = (reg & 0x02) == 0;
    pins.write = (reg & 0x04) != 0;
    pins.resetLow = (reg & 0x08) != 0;
    pins.released = (reg & 0x20) != 0;
    return pins;
}

enum class Phase : std::uint8_t {
    Idle,      // waiting for a command byte
    Address,   // collecting the four address bytes
    Data,      // write: collecting the four data bytes
    Presents,  // read: presenting result byte `index`, waiting for Read pulse and acknowledge
    Microcode, // taking the bytes of a microcode program
};

} // namespace

struct VirtualPort::State {
    State(ReceiverBus& receiver, AdapterOptions adapterOptions)
        : bus(receiver), options(adapterOptions), pins(pinsFromControl(kPowerOnControl)) {
        if (options.hangAfter && *options.hangAfter == 0) {
            isHung.store(true, std::memory_order_relaxed);
        }
        publishStatus();
    }

    // --- driving thread ---------------------------------------------------------------------

    [[nodiscard]] std::uint8_t dataLines() const {
        if (!pins.released) {
            return latch;
        }
        return adapterDrives ? adapterByte : kFloatingData;
    }

    void writeData(std::uint8_t value) {
        latch = value;
        watchSwitch();
    }

    void writeControl(std::uint8_t value) {
        control.store(value, std::memory_order_relaxed);
        const Pins before = pins;
        pins = pinsFromControl(value);
        if (options.type == AdapterType::Absent || isHung.load(std::memory_order_relaxed)) {
            return;
        }
        if (pins.resetLow) {
            if (!before.resetLow) {
                reset();
            }
            return;
        }
        if (before.resetLow) {
            // Coming out of reset the adapter starts from the levels it finds, not from edges.
            switchLength = 0;
            return;
        }
        if (before.write && !pins.write) {
            // Data and TxAck as they were while Write was high.
            const std::uint8_t lines =
                before.released ? (adapterDrives ? adapterByte : kFloatingData) : latch;
            takeByte(lines, before.txAck, before.released);
        }
        if (before.read && !pins.read) {
            readPulse();
        }
        watchSwitch();
        publishStatus();
    }

    void takeByte(std::uint8_t value, bool txAck, bool fromReleasedLines) {
        if (isHung.load(std::memory_order_relaxed)) {
            return;
        }
        // A Write pulse ends any switch command: those bytes were data.
        switchLength = 0;
        ++takenCount;
        if (recording.load(std::memory_order_relaxed)) {
            const std::lock_guard lock(recordMutex);
            taken.push_back({value, txAck});
        }
        if (fromReleasedLines) {
            anomaly("byte taken from released data lines", value);
        }
        if (options.hangAfter && takenCount >= *options.hangAfter) {
            hang();
            return;
        }
        // The PC has moved on: a RxAck it left unanswered (the compatible path of detection, a
        // broken-off exchange) is superseded, and raised again if this byte needs an answer.
        rxAck = false;
        if (loopback.load(std::memory_order_relaxed)) {
            loopbackByte(value, txAck);
        } else if (txAck) {
            acknowledgeByte(value);
        } else {
            transactionByte(value);
        }
    }

    void loopbackByte(std::uint8_t value, bool txAck) {
        if (txAck) {
            rxAck = true;
            return;
        }
        // The unknown adapter's echo path garbles the byte.
        present(options.type == AdapterType::Unknown ? static_cast<std::uint8_t>(~value) : value);
    }

    void acknowledgeByte(std::uint8_t value) {
        if (value != 0) {
            anomaly("non-zero acknowledge byte", value);
        }
        if (phase != Phase::Presents) {
            anomaly("acknowledge with no byte presented", value);
            return;
        }
        if (dataValid) {
            anomaly("acknowledge before the presented byte was read", value);
        }
        ++index;
        if (index == 4) {
            // After a broken-off read the last byte was never taken; let go of it anyway.
            dataValid = false;
            adapterDrives = false;
            endTransaction();
            return;
        }
        present(static_cast<std::uint8_t>(word >> (8 * index)));
    }

    void transactionByte(std::uint8_t value) {
        switch (phase) {
        case Phase::Idle:
            if (value != kCommandWrite && value != kCommandRead) {
                // A larger command byte announces a microcode program of that many bytes.
                phase = Phase::Microcode;
                microcodeLeft = value;
                microcode.clear();
                rxAck = true;
                return;
            }
            isRead = value == kCommandRead;
            phase = Phase::Address;
            index = 0;
            address = 0;
            rxAck = true;
            return;
        case Phase::Address:
            address |= static_cast<std::uint32_t>(value) << (8 * index);
            if (++index < 4) {
                rxAck = true;
                return;
            }
            index = 0;
            if (!isRead) {
                phase = Phase::Data;
                word = 0;
                rxAck = true;
                return;
            }
            phase = Phase::Presents;
            word = bus.read(address);
            present(static_cast<std::uint8_t>(word));
            return;
        case Phase::Data:
            word |= static_cast<std::uint32_t>(value) << (8 * index);
            rxAck = true;
            if (++index == 4) {
                bus.write(address, word);
                endTransaction();
            }
            return;
        case Phase::Presents:
            anomaly("data byte where an acknowledge was due", value);
            return;
        case Phase::Microcode:
            microcode.push_back(value);
            rxAck = true;
            if (--microcodeLeft == 0) {
                const std::lock_guard lock(recordMutex);
                uploads.push_back(std::move(microcode));
                microcode.clear();
                endTransaction();
            }
            return;
        }
    }

    void readPulse() {
        if (rxAck) {
            rxAck = false;
            return;
        }
        if (dataValid) {
            // The byte was read while Read was high; the adapter lets go of the lines now.
            dataValid = false;
            adapterDrives = false;
            return;
        }
        anomaly("read pulse with nothing pending", dataLines());
    }

    void present(std::uint8_t value) {
        adapterByte = value;
        adapterDrives = true;
        dataValid = true;
    }

    void endTransaction() {
        phase = Phase::Idle;
        index = 0;
    }

    void dropLines() {
        rxAck = false;
        dataValid = false;
        adapterDrives = false;
    }

    void reset() {
        endTransaction();
        dropLines();
        loopback.store(false, std::memory_order_relaxed);
        switchLength = 0;
        bus.reset();
        publishStatus();
    }

    void hang() {
        isHung.store(true, std::memory_order_relaxed);
        dropLines();
        publishStatus();
    }

    // The loopback switch: three successive values on the data lines while TxAck is high and
    // the port drives them, with no Write pulse in between.
    void watchSwitch() {
        if (!pins.txAck || pins.released || pins.resetLow) {
            switchLength = 0;
            return;
        }
        if (switchLength > 0 && switchSeen[2] == latch) {
            return; // the lines did not change
        }
        switchSeen[0] = switchSeen[1];
        switchSeen[1] = switchSeen[2];
        switchSeen[2] = latch;
        if (++switchLength < 3) {
            return;
        }
        const bool hasLoopback =
            options.type == AdapterType::RevB || options.type == AdapterType::Unknown;
        if (!hasLoopback || isHung.load(std::memory_order_relaxed)) {
            return;
        }
        if (switchSeen == kSwitchOn || switchSeen == kSwitchOff) {
            loopback.store(switchSeen == kSwitchOn, std::memory_order_relaxed);
            endTransaction();
            dropLines();
            publishStatus();
        }
    }

    void publishStatus() {
        std::uint8_t value = kStatusFixed;
        if (options.type == AdapterType::Absent) {
            value = kStatusNoAdapter;
        } else {
            if (dataValid) {
                value |= kStatusDataValid;
            }
            if (rxAck) {
                value |= kStatusRxAck;
            }
        }
        status.store(value, std::memory_order_relaxed);
    }

    void anomaly(const char* what, std::uint8_t value) {
        std::array<char, 96> line{};
        std::snprintf(line.data(), line.size(), "%s (0x%02X, after %llu bytes taken)", what,
                      static_cast<unsigned>(value), static_cast<unsigned long long>(takenCount));
        const std::lock_guard lock(recordMutex);
        anomalies.emplace_back(line.data());
    }

    ReceiverBus& bus;
    const AdapterOptions options;

    // Driving thread only: the port's registers and the adapter's handshake state.
    Pins pins;
    std::uint8_t latch = 0;
    Phase phase = Phase::Idle;
    bool isRead = false;
    int index = 0;
    std::uint32_t address = 0;
    std::uint32_t word = 0;
    bool rxAck = false;
    bool dataValid = false;
    bool adapterDrives = false;
    std::uint8_t adapterByte = 0;
    std::uint64_t takenCount = 0;
    std::array<std::uint8_t, 3> switchSeen{};
    int switchLength = 0;
    std::size_t microcodeLeft = 0;
    std::vector<std::uint8_t> microcode; // the program being taken

    // Written by the driving thread, read by anyone: the status register (the window polls
    // it), the register read-backs and the two modes.
    std::atomic<std::uint8_t> status{0};
    std::atomic<std::uint8_t> control{kPowerOnControl};
    std::atomic<std::uint8_t> ecr{kPowerOnEcr};
    std::atomic<bool> loopback{false};
    std::atomic<bool> isHung{false};
    // Set by the owner, read on every taken byte.
    std::atomic<bool> recording{true};

    // Guards the records: the driving thread appends, tests read them.
    mutable std::mutex recordMutex;
    std::vector<TakenByte> taken;
    std::vector<std::string> anomalies;
    std::vector<std::vector<std::uint8_t>> uploads; // every complete microcode program
};

VirtualPort::VirtualPort(ReceiverBus& bus, AdapterOptions options)
    : m_state(std::make_unique<State>(bus, options)) {}

VirtualPort::~VirtualPort() = default;

std::uint8_t VirtualPort::in(std::uint16_t address) {
    State& s = *m_state;
    // Addresses below the base wrap to large offsets and read as empty.
    switch (static_cast<std::uint16_t>(address - s.options.base)) {
    case kDataOffset:
        return s.dataLines();
    case kStatusOffset:
        return s.status.load(std::memory_order_relaxed);
    case kControlOffset:
        return s.control.load(std::memory_order_relaxed);
    case kExtendedControlOffset:
        return s.ecr.load(std::memory_order_relaxed);
    default:
        return kNoRegister;
    }
}

void VirtualPort::out(std::uint16_t address, std::uint8_t value) {
    State& s = *m_state;
    switch (static_cast<std::uint16_t>(address - s.options.base)) {
    case kDataOffset:
        s.writeData(value);
        return;
    case kControlOffset:
        s.writeControl(value);
        return;
    case kExtendedControlOffset:
        s.ecr.store(value, std::memory_order_relaxed);
        return;
    default:
        return;
    }
}

std::vector<std::uint8_t> VirtualPort::takenBytes() const {
    const std::lock_guard lock(m_state->recordMutex);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(m_state->taken.size());
    for (const TakenByte& b : m_state->taken) {
        bytes.push_back(b.value);
    }
    return bytes;
}

std::vector<TakenByte> VirtualPort::takenLog() const {
    const std::lock_guard lock(m_state->recordMutex);
    return m_state->taken;
}

std::vector<std::string> VirtualPort::anomalies() const {
    const std::lock_guard lock(m_state->recordMutex);
    return m_state->anomalies;
}

std::vector<std::vector<std::uint8_t>> VirtualPort::microcodeUploads() const {
    const std::lock_guard lock(m_state->recordMutex);
    return m_state->uploads;
}

bool VirtualPort::loopbackOn() const {
    return m_state->loopback.load(std::memory_order_relaxed);
}

bool VirtualPort::hung() const {
    return m_state->isHung.load(std::memory_order_relaxed);
}

void VirtualPort::clearRecords() {
    const std::lock_guard lock(m_state->recordMutex);
    m_state->taken.clear();
    m_state->anomalies.clear();
}

void VirtualPort::setRecording(bool on) {
    m_state->recording.store(on, std::memory_order_relaxed);
}

std::uint8_t VirtualPort::controlRegister() const {
    return m_state->control.load(std::memory_order_relaxed);
}

std::uint8_t VirtualPort::extendedControlRegister() const {
    return m_state->ecr.load(std::memory_order_relaxed);
}

bool VirtualPort::resetAsserted() const {
    return pinsFromControl(controlRegister()).resetLow;
}

const AdapterOptions& VirtualPort::options() const {
    return m_state->options;
}

} // namespace corvex::sim
