#include "link/jobs/flash_chips.h"

#include <array>
#include <cstdio>

namespace corvex::link {

namespace {

constexpr std::array<FlashChip, 6> kChips{{
    {0, 0x00800001, "AMD", 0x44DA225B, 0xFFFFFFFF, "AM29LV800BB"},
    {0, 0x00800001, "AMD", 0x445B22DA, 0xFFFFFFFF, "AM29LV800BT"},
    {1, 0x00010001, "AMD", 0x000022AB, 0x0000FFFF, "AM29F400BB"},
    {1, 0x00010001, "AMD", 0x00002223, 0x0000FFFF, "AM29F800BT"},
    {-1, 0x00040020, "SGS-THOMSON", 0x00DA005B, 0xFFFFFFFF, "M29W800AB"},
    {-1, 0x00040020, "SGS-THOMSON", 0x00EB00D7, 0xFFFFFFFF, "M29W800AT"},
}};

std::string unknownWord(std::uint32_t word) {
    char text[24];
    std::snprintf(text, sizeof text, "Unknown %8.8X", static_cast<unsigned>(word));
    return text;
}

} // namespace

const FlashFamily* flashFamily(std::uint32_t hardwareType) {
    switch (hardwareType) {
    case 0:
        return &kFlashFamily0;
    case 1:
        return &kFlashFamily1;
    default:
        return nullptr;
    }
}

std::span<const FlashChip> flashChips() {
    return kChips;
}

ChipIdentity identifyChip(std::uint32_t hardwareType, std::uint32_t maker, std::uint32_t device) {
    for (const FlashChip& chip : kChips) {
        const bool family =
            chip.hardwareType < 0 || static_cast<std::uint32_t>(chip.hardwareType) == hardwareType;
        if (family && chip.makerWord == maker &&
            (device & chip.deviceMask) == (chip.deviceWord & chip.deviceMask)) {
            return {std::string(chip.makerText) + ": " + chip.deviceText, true};
        }
    }
    // A maker that matched with an unlisted device is reported as unknown all the same: the
    // pair, not the maker alone, says which commands the chip takes.
    return {unknownWord(maker) + ": " + unknownWord(device), false};
}

} // namespace corvex::link
