#include "i2c_blocks.h"

namespace corvex::sim {

namespace {

constexpr std::uint32_t kControllerSpan = 0x18;
constexpr std::uint32_t kPinSpan = 0x4C;

constexpr std::uint32_t kCtlPrescaler = 0x00;
constexpr std::uint32_t kCtlTransmit = 0x04;
constexpr std::uint32_t kCtlReceive = 0x08;
constexpr std::uint32_t kCtlControl = 0x0C;
constexpr std::uint32_t kCtlMode = 0x10;
constexpr std::uint32_t kCtlStatus = 0x14;

constexpr std::uint32_t kPrescalerValue = 300;
constexpr std::uint32_t kControlRunning = 0x318;
constexpr std::uint32_t kStatusReceived = 0x01;
constexpr std::uint32_t kStatusReady = 0x02;
constexpr std::uint32_t kFrameMask = 0x1FF;
constexpr std::uint32_t kFrameReceiveAck = 0x1FE;  // data released, the master acknowledges
constexpr std::uint32_t kFrameReceiveLast = 0x1FF; // all released: the last byte

constexpr std::uint32_t kPinOutput = 0x00;
constexpr std::uint32_t kPinSet = 0x04;
constexpr std::uint32_t kPinClear = 0x08;
constexpr std::uint32_t kPinInput = 0x10;
constexpr std::uint32_t kPinConfig = 0x20; // +0x10 per configuration register
constexpr std::uint32_t kPinMask = 0x07;   // the three pins of the bus

constexpr int kDataPin = 1;
constexpr int kClockPin = 2;

} // namespace

I2cBlocks::I2cBlocks(Eeprom24c16& eeprom) : m_eeprom(eeprom) {}

bool I2cBlocks::claims(std::uint32_t address) {
    return address - kControllerBase < kControllerSpan || address - kPinBase < kPinSpan;
}

std::uint32_t I2cBlocks::read(std::uint32_t address, const char*& refusal) {
    refusal = nullptr;
    if (address - kControllerBase < kControllerSpan) {
        switch (address - kControllerBase) {
        case kCtlPrescaler:
            return m_prescaler;
        case kCtlReceive:
            if (m_busyPolls > 0) {
                refusal = "I2C frame read back before it was received";
            }
            m_received = false;
            return m_receive;
        case kCtlControl:
            return m_control;
        case kCtlStatus:
            if (!m_enabled) {
                return 0;
            }
            if (m_busyPolls > 0) {
                if (--m_busyPolls == 0) {
                    m_received = true;
                }
                return 0;
            }
            return kStatusReady | (m_received ? kStatusReceived : 0);
        default:
            refusal = "I2C controller register cannot be read";
            return 0;
        }
    }
    const std::uint32_t offset = address - kPinBase;
    if (offset == kPinOutput) {
        return m_output;
    }
    if (offset == kPinInput) {
        // Pins 0 and 1 both sit on the data line.
        return (m_sda ? 0x3U : 0U) | (m_scl ? 0x4U : 0U);
    }
    if (offset >= kPinConfig && offset % 0x10 == 0) {
        return m_config[(offset - kPinConfig) / 0x10];
    }
    refusal = "pin block register cannot be read";
    return 0;
}

const char* I2cBlocks::write(std::uint32_t address, std::uint32_t data) {
    const char* refusal = address - kControllerBase < kControllerSpan
                              ? writeController(address - kControllerBase, data)
                              : writePins(address - kPinBase, data);
    settle();
    if (refusal == nullptr) {
        refusal = m_lineRefusal;
    }
    m_lineRefusal = nullptr;
    return refusal;
}

const char* I2cBlocks::writeController(std::uint32_t offset, std::uint32_t data) {
    switch (offset) {
    case kCtlPrescaler:
    case kCtlMode:
        if (m_enabled) {
            return "I2C controller reconfigured while running";
        }
        if (offset == kCtlPrescaler) {
            m_prescaler = data;
        } else {
            m_modeWritten = data == 0;
        }
        return nullptr;
    case kCtlControl:
        m_control = data;
        if (data == 0) {
            m_enabled = false;
            m_busyPolls = 0;
            m_received = false;
            return nullptr;
        }
        if (data != kControlRunning) {
            m_enabled = false;
            return "unknown I2C controller mode";
        }
        m_enabled = m_prescaler == kPrescalerValue && m_modeWritten;
        return m_enabled ? nullptr : "I2C controller started without its set-up";
    case kCtlTransmit:
        if (!m_enabled) {
            return "I2C frame sent before the controller was set up";
        }
        if (m_busyPolls > 0) {
            return "I2C frame sent while the last one was still going out";
        }
        if (!controllerOwnsBus()) {
            // The controller clocks into nothing: it reads back whatever the data line holds.
            m_receive = m_sda ? kFrameMask : 0;
            m_busyPolls = kTransferPolls;
            m_received = false;
            return "I2C frame sent while the pins were not handed to the controller";
        }
        {
            const char* refusal = checkFrame(data & kFrameMask);
            transfer(data & kFrameMask);
            return refusal;
        }
    default:
        return "I2C controller register cannot be written";
    }
}

const char* I2cBlocks::writePins(std::uint32_t offset, std::uint32_t data) {
    data &= kPinMask;
    switch (offset) {
    case kPinOutput:
        m_output = data;
        return nullptr;
    case kPinSet:
        m_output |= data;
        return nullptr;
    case kPinClear:
        m_output &= ~data;
        return nullptr;
    default:
        break;
    }
    if (offset >= kPinConfig && offset < kPinConfig + 0x30) {
        std::uint32_t& config = m_config[(offset - kPinConfig) / 0x10];
        switch (offset % 0x10) {
        case 0x0:
            config = data;
            return nullptr;
        case 0x4:
            config |= data;
            return nullptr;
        case 0x8:
            config &= ~data;
            return nullptr;
        default:
            break;
        }
    }
    return "pin block register cannot be written";
}

int I2cBlocks::pinMode(int pin) const {
    int mode = 0;
    for (int i = 0; i < 3; ++i) {
        mode |= static_cast<int>((m_config[i] >> pin) & 1U) << i;
    }
    return mode;
}

bool I2cBlocks::pinPullsLow(int pin) const {
    const int mode = pinMode(pin);
    const bool output = mode == 1 || mode == 2 || mode == 3;
    return output && ((m_output >> pin) & 1U) == 0;
}

bool I2cBlocks::controllerOwnsBus() const {
    return pinMode(kDataPin) >= 6 && pinMode(kClockPin) >= 6;
}

const char* I2cBlocks::checkFrame(std::uint32_t frame) {
    const bool receiveFrame = frame == kFrameReceiveAck || frame == kFrameReceiveLast;
    switch (m_transfer) {
    case Transfer::Idle:
        return "I2C frame sent without a START";
    case Transfer::Address:
        if (receiveFrame) {
            return "I2C byte read before a device was addressed";
        }
        // Bit 1 of the frame is the direction bit of the address byte.
        m_transfer = (frame & 0x2U) != 0 ? Transfer::Reading : Transfer::Writing;
        return nullptr;
    case Transfer::Writing:
        return nullptr; // 0x1FF here is a data byte 0xFF
    case Transfer::Reading:
        if (!receiveFrame) {
            return "I2C byte sent in a read transfer";
        }
        if (frame == kFrameReceiveLast) {
            m_transfer = Transfer::ReadDone;
        }
        return nullptr;
    case Transfer::ReadDone:
        return "I2C byte read after the last one";
    }
    return nullptr;
}

void I2cBlocks::transfer(std::uint32_t frame) {
    std::uint32_t read = 0;
    for (int bit = 8; bit >= 0; --bit) {
        m_ctlDataLow = ((frame >> bit) & 1U) == 0;
        settle();
        m_ctlClockLow = false;
        settle();
        read = read << 1 | (m_sampled ? 1U : 0U);
        m_ctlClockLow = true;
        settle();
    }
    m_ctlDataLow = false;
    settle();
    m_receive = read;
    m_busyPolls = kTransferPolls;
    m_received = false;
}

void I2cBlocks::settle() {
    const bool owned = controllerOwnsBus();
    // Each pass handles one change; the EEPROM answers an edge by changing its own drive,
    // which the next pass picks up (always while the clock is low).
    for (int pass = 0; pass < 4; ++pass) {
        const bool sda = !(pinPullsLow(0) || pinPullsLow(kDataPin) || (owned && m_ctlDataLow) ||
                           m_eeprom.pullsDataLow());
        const bool scl = !(pinPullsLow(kClockPin) || (owned && m_ctlClockLow));
        if (sda == m_sda && scl == m_scl) {
            return;
        }
        if (scl != m_scl) {
            if (!scl) {
                // A clock that falls together with the data line falls first.
                m_scl = false;
                m_eeprom.clockFall();
                continue;
            }
            // A clock that rises together with the data line rises last.
            m_sda = sda;
            m_scl = true;
            m_sampled = m_sda != m_eeprom.garblesLine();
            m_eeprom.clockRise(m_sampled);
            continue;
        }
        m_sda = sda;
        if (m_scl) {
            if (m_sda) {
                if (m_transfer == Transfer::Idle) {
                    m_lineRefusal = "I2C STOP without a START";
                }
                m_transfer = Transfer::Idle;
                m_eeprom.stop();
            } else {
                m_transfer = Transfer::Address;
                m_eeprom.start();
            }
        }
    }
}

void I2cBlocks::reset() {
    m_output = 0;
    m_config[0] = m_config[1] = m_config[2] = 0;
    m_prescaler = 0;
    m_control = 0;
    m_modeWritten = false;
    m_enabled = false;
    m_busyPolls = 0;
    m_received = false;
    m_receive = 0;
    m_ctlDataLow = false;
    m_ctlClockLow = true;
    m_eeprom.elapse();
    settle();
    m_lineRefusal = nullptr; // lines released by a reset are no master's doing
}

} // namespace corvex::sim
