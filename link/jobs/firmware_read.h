#pragma once

#include "link/jobs/job_context.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvex::link {

struct AreaTable;

// A firmware image names itself with this marker followed by the name and a 0 byte.
inline constexpr std::string_view kFirmwareMarker = "BEGINNING_ID";
inline constexpr std::size_t kFirmwareNameLimit = 100;

/// The text between the first firmware marker in the file and the next 0 byte, cut to
/// kFirmwareNameLimit characters; nothing when the file cannot be read, has no marker, or ends
/// before the 0 byte.
[[nodiscard]] std::optional<std::string> findFirmwareName(const std::string& fileName);
/// The same search over bytes in memory.
[[nodiscard]] std::optional<std::string> findFirmwareName(std::span<const std::uint8_t> bytes);

/// Reports the firmware the file holds (message code 4, also logged): its name, or
/// "Unknown Firmware".
void IdentifyFirmware(JobContext& guard, const std::string& fileName);

/// Saves the first run of consecutive PGM areas of the work file into `target`. The target is
/// replaced only by a complete copy; on failure it keeps what it held. With no PGM area nothing
/// is written and the save counts as done.
[[nodiscard]] bool SaveRange(JobContext& guard, const AreaTable& table, const std::string& work,
                             const std::string& target);

/// The bus addresses of an area whose low bits are all clear under this mask start one of the
/// 32 progress steps of the area.
[[nodiscard]] constexpr std::uint32_t progressMask(std::uint32_t start, std::uint32_t end) {
    return ((end - start) >> 5) - 1;
}

enum class AreaRead { Complete, Broken, FileError };

/// Reads the area's flash contents into the file at the area's own offset, word by word, with
/// its log line and progress steps. The caller raises the area's reading and result events.
[[nodiscard]] AreaRead readAreaIntoFile(JobContext& guard, const AreaTable& table,
                                        std::uint32_t area, int fd);

} // namespace corvex::link
