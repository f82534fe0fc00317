#pragma once

#include "link/jobs/area_status.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace corvex::link {

inline constexpr std::size_t kAreaSlots = 20;

// AreaFlags bits.
inline constexpr std::uint32_t kAreaModeMask = 0x3;
inline constexpr std::uint32_t kAreaModePgm = 0;      // erase and program
inline constexpr std::uint32_t kAreaModeClr = 1;      // erase only
inline constexpr std::uint32_t kAreaModeSkip = 2;     // leave alone
inline constexpr std::uint32_t kAreaIconMask = 0x3FC; // bits 2-9: icon drawn when inactive
inline constexpr std::uint32_t kAreaIconShift = 2;
inline constexpr std::uint32_t kAreaReadMark = 0x1000;        // work file holds the flash contents
inline constexpr std::uint32_t kAreaDiffersMark = 0x8000;     // flash differs from the image
inline constexpr std::uint32_t kAreaProtectedMark = 0x800000; // sector is write-protected
// What the firmware jobs learnt of one receiver's flash in one run; never valid in another.
inline constexpr std::uint32_t kAreaJobMarks =
    kAreaReadMark | kAreaDiffersMark | kAreaProtectedMark;

// The flash areas shared by the window (modes, icon) and the Guard (job marks). Each side
// changes only its own bits of a flags word, with fetch_or / fetch_and, so neither loses the
// other's update.
struct AreaTable {
    AreaTable() {
        for (std::size_t i = 0; i < kAreaSlots; ++i) {
            AreaStart[i].store(kDefaultAreaStart[i], std::memory_order_relaxed);
        }
    }

    /// Area offsets from the start of the flash; area i ends where area i + 1 starts.
    std::array<std::atomic<std::uint32_t>, kAreaSlots> AreaStart;
    /// Mode, icon and job marks of each area.
    std::array<std::atomic<std::uint32_t>, kAreaSlots> AreaFlags{};
    /// Bit per area: its part of the work file was read from the flash by this run. The read
    /// marks are kept in the settings file, so at start they may speak of a work file an
    /// earlier run left; a backup trusts only what this run read. Set by the Guard's jobs.
    std::atomic<std::uint32_t> ReadThisRun{0};

    [[nodiscard]] std::uint32_t mode(std::size_t area) const {
        return AreaFlags[area].load(std::memory_order_acquire) & kAreaModeMask;
    }
    void setMode(std::size_t area, std::uint32_t mode) {
        std::uint32_t old = AreaFlags[area].load(std::memory_order_relaxed);
        while (!AreaFlags[area].compare_exchange_weak(old, (old & ~kAreaModeMask) |
                                                               (mode & kAreaModeMask))) {
        }
    }
    void setBits(std::size_t area, std::uint32_t bits) { AreaFlags[area].fetch_or(bits); }
    void clearBits(std::size_t area, std::uint32_t bits) { AreaFlags[area].fetch_and(~bits); }
    /// Sets the area's read mark after a complete read of it into the work file.
    void markRead(std::size_t area) {
        setBits(area, kAreaReadMark);
        ReadThisRun.fetch_or(1U << area);
    }
    /// The work file holds the area as this run read it from the flash.
    [[nodiscard]] bool readThisRun(std::size_t area) const {
        return has(area, kAreaReadMark) && (ReadThisRun.load() >> area & 1U) != 0;
    }
    [[nodiscard]] bool has(std::size_t area, std::uint32_t bits) const {
        return (AreaFlags[area].load(std::memory_order_acquire) & bits) != 0;
    }
};

} // namespace corvex::link
