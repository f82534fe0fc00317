#pragma once

#include "link/jobs/flash_chips.h"
#include "link/protocol/link.h"

#include <cstdint>

namespace corvex::link {

// The flash bank's command cycles over the word link, in the words and at the unlock addresses
// of one receiver family. Guard thread only. A result read while a break is pending is never
// taken as success: a broken-off ReadWord returns 0xFFFFFFFF, which would otherwise pass for an
// erased or verified word.
class FlashOps {
public:
    // Poll limits and waits of the chips' embedded algorithms.
    static constexpr int kEraseAttempts = 10;
    static constexpr int kErasePolls = 5000;
    static constexpr std::uint64_t kErasePollMicroseconds = 200;
    static constexpr int kProgramAttempts = 10;
    static constexpr int kProgramPolls = 2400;
    static constexpr std::uint64_t kProgramPollMicroseconds = 25;
    static constexpr std::uint32_t kErased = 0xFFFFFFFF;
    // Autoselect mode shows a sector's protection status at this offset from the sector.
    static constexpr std::uint32_t kProtectStatusOffset = 8;

    FlashOps(Link& link, const FlashFamily& family) : m_link(link), m_family(family) {}

    /// First unlock, second unlock, then the command word at the first unlock address.
    void commandSequence(std::uint32_t command);
    /// Back to read-array mode, then two reads of the array base to settle the chips.
    void FlashReset();
    /// True when the sector at this bus address is write-protected.
    [[nodiscard]] bool ProtectCheck(std::uint32_t sector);
    /// Erases the sector and waits until it reads back blank; at most kEraseAttempts tries.
    [[nodiscard]] bool SectorErase(std::uint32_t sector);
    /// Programs one word and verifies it; an all-ones word is only verified, never programmed.
    [[nodiscard]] bool ProgramWord(std::uint32_t address, std::uint32_t word);

    [[nodiscard]] const FlashFamily& family() const { return m_family; }

private:
    [[nodiscard]] bool reads(std::uint32_t address, std::uint32_t expected);

    Link& m_link;
    const FlashFamily& m_family;
};

/// FlashReset in the words of the HardwareType; nothing for a type without flash commands.
void FlashReset(Link& link, std::uint32_t hardwareType);

} // namespace corvex::link
