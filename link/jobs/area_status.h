#pragma once

#include <array>
#include <cstdint>

namespace corvex::link {

// Flash area boundaries as offsets from the start of the flash; area i covers entry i up to,
// not including, entry i + 1. The same for every hardware type.
inline constexpr std::array<std::uint32_t, 20> kDefaultAreaStart{
    0x000000, 0x008000, 0x00C000, 0x010000, 0x020000, 0x040000, 0x060000,
    0x080000, 0x0A0000, 0x0C0000, 0x0E0000, 0x100000, 0x120000, 0x140000,
    0x160000, 0x180000, 0x1A0000, 0x1C0000, 0x1E0000, 0x200000};

} // namespace corvex::link
