#pragma once

// Saving an arranged channel list into a new firmware image: the source image with its channel
// table rewritten in the list's order, and nothing else changed.
//
// Every line that carries its record (each channel that came from an image) is written as
// those 30 bytes, so flag bits and name bytes the editor neither shows nor keeps in its text
// survive; only a cleared channel is encoded from its text. The table's length field is
// rewritten only when the number of channels changed. So an unchanged list gives an image equal
// to the source byte for byte, and an edited one differs only in the records whose bytes changed
// (and the length field, when the count did).
// The table keeps its place; it may grow up to the end of its 64 KiB block (or of its old
// extent, when that already ran further), never past the end of the image, and never changes a
// byte in the block of another table (which a long table may already run into).

#include "channels/channel_tables.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace corvex::channels {

/// Where the channel table of an image stands: its length field, the end of the records the
/// loader reads (and how many it reads), the end it may grow to, and the first byte of a later
/// table's block, which a save must leave as it is.
struct ChannelTablePlace {
    std::size_t start = 0;
    std::size_t oldEnd = 0;
    std::size_t oldCount = 0;
    std::size_t limit = 0;
    std::size_t protectedFrom = SIZE_MAX;
};

/// The channel table the loader would read; nullopt when the image lacks either table.
[[nodiscard]] std::optional<ChannelTablePlace>
locateChannelTable(std::span<const std::uint8_t> image);

/// The 30-byte record a channel line stands for, encoded from its text (flags bits 0 to 2,
/// transponder index and the six fields in `mode`); nullopt when a field does not read back.
[[nodiscard]] std::optional<ChannelRecord> channelRecordFromLine(std::string_view line,
                                                                 DisplayMode mode);

/// The text the loader gives for `line` once it is stored: the line itself, except that a
/// cleared channel shows its fields in `mode`.
[[nodiscard]] std::string storedLineText(const Line& line, DisplayMode mode);

/// `source` with its channel table holding `channels` in order; nullopt with `error` set when
/// the list is empty, a line cannot be stored or the table no longer fits.
[[nodiscard]] std::optional<std::vector<std::uint8_t>>
imageWithChannels(std::span<const std::uint8_t> source, std::span<const Line> channels,
                  DisplayMode mode, std::string& error);

/// Writes imageWithChannels to `target` through link::ReplacingFile: the new file beside it is
/// read back, compared with the image made and loaded again to compare with the list, and only
/// then takes the target's place. Refuses a target that is the source file. On any failure
/// nothing is left behind, an existing target is untouched and `error` says why.
[[nodiscard]] bool saveListIntoImage(std::span<const std::uint8_t> source,
                                     const std::string& sourceName, const std::string& target,
                                     std::span<const Line> channels, DisplayMode mode,
                                     std::string& error);

} // namespace corvex::channels
