#include "eeprom_24c16.h"

#include <algorithm>
#include <stdexcept>

namespace corvex::sim {

namespace {

constexpr std::uint8_t kDeviceMask = 0xF0;
constexpr std::uint8_t kDeviceCode = 0xA0;
constexpr std::uint32_t kBlockBits = 8;

} // namespace

Eeprom24c16::Eeprom24c16(std::span<const std::uint8_t> image, EepromFaults faults)
    : m_faults(faults) {
    if (image.empty()) {
        m_memory.fill(0xFF);
    } else if (image.size() == kSize) {
        std::copy(image.begin(), image.end(), m_memory.begin());
    } else {
        throw std::invalid_argument("the EEPROM image holds " + std::to_string(image.size()) +
                                    " bytes; a 24C16 holds " + std::to_string(kSize));
    }
}

bool Eeprom24c16::receiving() const {
    return m_phase == Phase::Device || m_phase == Phase::WordAddress || m_phase == Phase::WriteData;
}

void Eeprom24c16::start() {
    if (m_faults.absent) {
        return;
    }
    // A START abandons whatever was going on, a page not yet closed by STOP among it.
    m_page = {};
    m_phase = Phase::Device;
    m_sending = false;
    m_bits = 0;
    m_shift = 0;
    m_ackSlot = false;
    m_pullsLow = false;
    updateGarbling();
}

void Eeprom24c16::stop() {
    if (m_faults.absent) {
        return;
    }
    const bool pageWritten = std::any_of(m_page.begin(), m_page.end(),
                                         [](const auto& byte) { return byte.has_value(); });
    if (pageWritten) {
        for (std::size_t i = 0; i < kPageSize; ++i) {
            if (m_page[i]) {
                m_memory[m_pageBase + i] = *m_page[i];
            }
        }
        m_page = {};
        ++m_generation;
        m_busyAttempts = kWriteCycleAttempts;
    }
    m_phase = Phase::Idle;
    m_sending = false;
    m_ackSlot = false;
    m_pullsLow = false;
    updateGarbling();
}

void Eeprom24c16::clockRise(bool data) {
    if (m_phase == Phase::Idle || m_phase == Phase::Ignore) {
        return;
    }
    if (m_ackSlot) {
        if (m_sending) {
            m_masterAck = !data;
        }
    } else if (receiving() && m_bits < 8) {
        m_shift = static_cast<std::uint8_t>(m_shift << 1 | (data ? 1 : 0));
        ++m_bits;
    }
    updateGarbling();
}

void Eeprom24c16::clockFall() {
    if (m_phase == Phase::Idle || m_phase == Phase::Ignore) {
        return;
    }
    if (m_ackSlot) {
        // The ninth clock is over: let go of the line and carry on with the next byte.
        m_ackSlot = false;
        m_pullsLow = false;
        m_bits = 0;
        m_shift = 0;
        if (m_phase == Phase::ReadData) {
            // After its own address the device starts sending; after a byte it sent, only
            // when the master acknowledged it.
            if (!m_sending || m_masterAck) {
                beginSending();
            } else {
                m_phase = Phase::Ignore; // the master wants no more; STOP follows
            }
        }
    } else if (m_phase == Phase::ReadData) {
        if (++m_bits < 8) {
            m_pullsLow = ((m_shift >> (7 - m_bits)) & 1) == 0;
        } else {
            m_pullsLow = false; // the master's acknowledge slot
            m_ackSlot = true;
            m_masterAck = false;
            m_counter = (m_counter + 1) % kSize;
        }
    } else if (m_bits == 8) {
        byteReceived();
        m_ackSlot = true;
        m_pullsLow = m_ackWanted;
    }
    updateGarbling();
}

void Eeprom24c16::byteReceived() {
    m_ackWanted = true;
    switch (m_phase) {
    case Phase::Device:
        if ((m_shift & kDeviceMask) != kDeviceCode) {
            m_ackWanted = false;
            m_phase = Phase::Ignore;
        } else if (m_busyAttempts > 0) {
            // Still programming the last page: the address goes unanswered.
            --m_busyAttempts;
            ++m_busyRefusals;
            m_ackWanted = false;
            m_phase = Phase::Ignore;
        } else if ((m_shift & 1) == 0) {
            m_block = (m_shift >> 1) & 7U;
            m_phase = Phase::WordAddress;
        } else {
            // Reads go on from the address counter, as the last write or read left it.
            m_phase = Phase::ReadData;
        }
        return;
    case Phase::WordAddress:
        m_counter = m_block << kBlockBits | m_shift;
        m_pageBase = m_counter & ~static_cast<std::uint32_t>(kPageSize - 1);
        m_phase = Phase::WriteData;
        return;
    case Phase::WriteData:
        m_page[m_counter - m_pageBase] = m_shift;
        // The counter wraps inside the page: a seventeenth byte overwrites the first.
        m_counter = m_pageBase + ((m_counter + 1) & (kPageSize - 1));
        return;
    default:
        m_ackWanted = false;
        return;
    }
}

void Eeprom24c16::beginSending() {
    m_phase = Phase::ReadData;
    m_sending = true;
    m_shift = m_memory[m_counter];
    m_bits = 0;
    m_pullsLow = (m_shift & 0x80) == 0;
}

void Eeprom24c16::updateGarbling() {
    m_garbling = m_faults.garbledAddress && m_phase == Phase::WriteData && !m_ackSlot &&
                 m_bits == 0 && *m_faults.garbledAddress == m_counter;
}

} // namespace corvex::sim
