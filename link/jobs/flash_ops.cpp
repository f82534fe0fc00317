#include "link/jobs/flash_ops.h"

namespace corvex::link {

void FlashOps::commandSequence(std::uint32_t command) {
    m_link.writeWord(m_family.unlockAddress1, m_family.unlock1);
    m_link.writeWord(m_family.unlockAddress2, m_family.unlock2);
    m_link.writeWord(m_family.unlockAddress1, command);
}

void FlashOps::FlashReset() {
    commandSequence(m_family.reset);
    (void)m_link.readWord(m_family.arrayBase);
    (void)m_link.readWord(m_family.arrayBase);
}

bool FlashOps::reads(std::uint32_t address, std::uint32_t expected) {
    const std::uint32_t value = m_link.readWord(address);
    return value == expected && !m_link.breakRequested();
}

bool FlashOps::ProtectCheck(std::uint32_t sector) {
    commandSequence(m_family.autoselect);
    const std::uint32_t status = m_link.readWord(sector + kProtectStatusOffset);
    FlashReset();
    // Each family reads status "1" back in its own wiring of the high half.
    return status == m_family.protectedStatus && !m_link.breakRequested();
}

bool FlashOps::SectorErase(std::uint32_t sector) {
    for (int attempt = 1; !m_link.breakRequested(); ++attempt) {
        commandSequence(m_family.eraseSetup);
        m_link.writeWord(m_family.unlockAddress1, m_family.unlock1);
        m_link.writeWord(m_family.unlockAddress2, m_family.unlock2);
        m_link.writeWord(sector, m_family.sectorErase);
        for (int poll = 0; poll < kErasePolls; ++poll) {
            m_link.pollDelay(kErasePollMicroseconds);
            if (m_link.readWord(sector) == kErased) {
                break;
            }
        }
        if (reads(sector, kErased) || attempt == kEraseAttempts) {
            const bool erased = reads(sector, kErased);
            FlashReset();
            return erased;
        }
    }
    return false;
}

bool FlashOps::ProgramWord(std::uint32_t address, std::uint32_t word) {
    if (word == kErased) {
        return reads(address, kErased);
    }
    for (int attempt = 1; !m_link.breakRequested(); ++attempt) {
        commandSequence(m_family.program);
        m_link.writeWord(address, word);
        std::uint32_t value = ~word;
        for (int poll = 0; poll < kProgramPolls && value != word; ++poll) {
            m_link.pollDelay(kProgramPollMicroseconds);
            value = m_link.readWord(address);
        }
        if (value != word) {
            FlashReset();
        }
        if (value == word || attempt == kProgramAttempts) {
            return reads(address, word);
        }
    }
    return false;
}

void FlashReset(Link& link, std::uint32_t hardwareType) {
    if (const FlashFamily* family = flashFamily(hardwareType)) {
        FlashOps(link, *family).FlashReset();
    }
}

} // namespace corvex::link
