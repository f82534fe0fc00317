#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace corvex::link {

// The flash command words of one receiver family. The receiver's 32-bit bus carries two x16
// chips side by side: the low half sees each command byte plainly, the high half sees it through
// the family's own wiring of the data lines.
struct FlashFamily {
    std::uint32_t arrayBase;
    std::uint32_t unlockAddress1;
    std::uint32_t unlockAddress2;
    std::uint32_t unlock1;     // 0xAA
    std::uint32_t unlock2;     // 0x55
    std::uint32_t reset;       // 0xF0, read array
    std::uint32_t autoselect;  // 0x90
    std::uint32_t eraseSetup;  // 0x80
    std::uint32_t sectorErase; // 0x30
    std::uint32_t program;     // 0xA0
    // Sector protection status "1" as it reads back in autoselect mode at sector + 8.
    std::uint32_t protectedStatus;
};

// HardwareType 0: the high half carries each byte with its bit order reversed.
inline constexpr FlashFamily kFlashFamily0{
    0x7FE00000, 0x7FE01554, 0x7FE02AA8, 0x005500AA, 0x00AA0055, 0x000F00F0,
    0x00090090, 0x00010080, 0x000C0030, 0x000500A0, 0x00800001,
};

// HardwareType 1: command bit k travels on bit 2k of the high half.
inline constexpr FlashFamily kFlashFamily1{
    0x7FF00000, 0x7FF01554, 0x7FF02AA8, 0x444400AA, 0x11110055, 0x550000F0,
    0x41000090, 0x40000080, 0x05000030, 0x440000A0, 0x00010001,
};

/// The family of a HardwareType, or null for a type with no flash commands.
[[nodiscard]] const FlashFamily* flashFamily(std::uint32_t hardwareType);

// One known chip as it identifies itself on the bus in autoselect mode.
struct FlashChip {
    int hardwareType;        // 0 or 1; -1 for a chip that answers the same in both families
    std::uint32_t makerWord; // at the array base
    const char* makerText;
    std::uint32_t deviceWord; // at the array base + 4
    std::uint32_t deviceMask; // the bits of the device word that are compared
    const char* deviceText;
};

/// The chip table; adding a chip is one row.
[[nodiscard]] std::span<const FlashChip> flashChips();

struct ChipIdentity {
    std::string text; // "maker: device", as the status bar shows it
    bool known = false;
};

/// Names the chip that answered with these words under the HardwareType.
[[nodiscard]] ChipIdentity identifyChip(std::uint32_t hardwareType, std::uint32_t maker,
                                        std::uint32_t device);

} // namespace corvex::link
