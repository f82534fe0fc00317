#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvex::sim {

// The firmware name follows this marker and ends with a 0 byte.
inline constexpr std::string_view kFirmwareMarker = "BEGINNING_ID";

// The 64 KiB blocks that can hold a channel or transponder table, and where in a block the tag
// and the table stand.
inline constexpr std::uint32_t kTransponderBlock = 0x10000;
inline constexpr std::uint32_t kChannelBlock = 0x20000;
inline constexpr std::uint32_t kSpareTableBlock = 0x30000;
inline constexpr std::uint32_t kTableTagOffset = 0x20;
inline constexpr std::uint32_t kTableOffset = 0x40;
inline constexpr std::string_view kTransponderTag = "TPT";
inline constexpr std::string_view kChannelTag = "TCS";

inline constexpr std::size_t kTransponderRecordSize = 12;
inline constexpr std::size_t kChannelRecordSize = 30;
inline constexpr std::size_t kChannelNameSize = 16;
// A channel's transponder index for "no transponder".
inline constexpr std::uint8_t kNoTransponder = 255;
inline constexpr std::uint16_t kNoPid = 0xFFFF;

// One transponder record; every multi-byte field is stored big-endian.
struct Transponder {
    std::uint32_t frequency = 0; // kHz above the LNB's local oscillator
    std::uint16_t tid = 0;
    std::uint16_t nid = 0;
    std::uint8_t channelCount = 0;
    std::uint8_t symbolRateCode = 0;
    std::uint8_t fecCode = 0;
    std::uint8_t flags = 0; // bit 0 tone, bit 1 horizontal, bit 2 C band, bit 3 LNB 2
};

// One channel record; every multi-byte field is stored big-endian.
struct Channel {
    std::string name;       // at most 16 bytes; a shorter name is padded with 0 bytes
    std::uint8_t flags = 0; // bit 0 parental, bit 1 favourite, bit 2 active
    std::uint8_t transponder = kNoTransponder; // 1-based number in the transponder table
    std::uint16_t sid = 0;
    std::uint16_t vpid = kNoPid;
    std::uint16_t apid = kNoPid;
    std::uint16_t vecm = kNoPid;
    std::uint16_t aecm = kNoPid;
    std::uint16_t pcr = kNoPid;
};

// Builds a flash image byte by byte. It starts erased (all 0xFF); every put checks that it
// stays inside the image and throws std::out_of_range otherwise. The damage hooks break a table
// that is already in place, for tests of the readers.
class ImageBuilder {
public:
    explicit ImageBuilder(std::size_t size);

    ImageBuilder& fill(std::size_t offset, std::size_t length, std::uint8_t value);
    ImageBuilder& putBytes(std::size_t offset, std::span<const std::uint8_t> bytes);
    /// The characters of text, without a terminator.
    ImageBuilder& putText(std::size_t offset, std::string_view text);
    /// A flash word as the bus reads it: least significant byte first.
    ImageBuilder& putWord(std::size_t offset, std::uint32_t word);
    /// The marker, the name and a 0 byte.
    ImageBuilder& putFirmwareName(std::size_t offset, std::string_view name);
    /// Deterministic bytes that look like machine code: the same seed gives the same bytes.
    ImageBuilder& putCodeLike(std::size_t offset, std::size_t length, std::uint32_t seed);
    /// A table tag at block + 0x20: up to 4 characters, padded with 0 bytes.
    ImageBuilder& putTag(std::uint32_t block, std::string_view tag);
    /// The "TPT" tag and the table at block + 0x40: its length (little-endian, counting itself),
    /// then the records.
    ImageBuilder& putTransponderTable(std::uint32_t block, std::span<const Transponder> records);
    /// The "TCS" tag and the channel table, laid out like the transponder table.
    ImageBuilder& putChannelTable(std::uint32_t block, std::span<const Channel> records);

    /// Overwrites the length field of the table in block (e.g. with one that runs past the end).
    ImageBuilder& setTableLength(std::uint32_t block, std::uint32_t length);
    /// Clears transponder record number (1-based) of the table in block to all zeros.
    ImageBuilder& zeroTransponder(std::uint32_t block, std::size_t number);
    /// Points channel record number (1-based) of the table in block at another transponder.
    ImageBuilder& setChannelTransponder(std::uint32_t block, std::size_t number,
                                        std::uint8_t transponder);

    [[nodiscard]] std::size_t size() const { return m_bytes.size(); }
    [[nodiscard]] const std::vector<std::uint8_t>& bytes() const { return m_bytes; }
    [[nodiscard]] std::vector<std::uint8_t> take() && { return std::move(m_bytes); }

private:
    /// Throws std::out_of_range unless the bytes lie inside the image.
    void checkRange(std::size_t offset, std::size_t length) const;
    [[nodiscard]] std::uint8_t* at(std::size_t offset, std::size_t length);
    void putBigEndian(std::size_t offset, std::uint32_t value, std::size_t bytes);

    std::vector<std::uint8_t> m_bytes;
};

/// The transponders of the default image: a dozen, on both bands and polarisations.
[[nodiscard]] std::vector<Transponder> defaultTransponders();
/// The channels of the default image: a few dozen over those transponders, with radio services
/// and two empty channels.
[[nodiscard]] std::vector<Channel> defaultChannels();
/// A plausible firmware image of size bytes (at least 512 KiB): code with the marker and name
/// in the boot area, the transponder table at 0x10000, the channel table at 0x20000, more code
/// from 0x40000 and erased space after it.
[[nodiscard]] std::vector<std::uint8_t> defaultFirmwareImage(std::size_t size,
                                                             std::string_view firmwareName);

/// `count` transponders (at most 254, the most a channel can refer to), alternating bands and
/// polarisations, with TIDs from 1 on.
[[nodiscard]] std::vector<Transponder> generatedTransponders(std::size_t count);
/// `count` channels named "Channel N", in runs of equal length over transponders 1 to
/// `transponderCount`; every fifth is a radio service, every seventh a favourite.
[[nodiscard]] std::vector<Channel> generatedChannels(std::size_t count,
                                                     std::size_t transponderCount);
/// An erased image of `size` bytes holding only the two tables, transponders at 0x10000 and
/// channels at 0x20000. A long channel table runs on past its block, as its length allows.
[[nodiscard]] std::vector<std::uint8_t> channelTableImage(std::size_t size,
                                                          std::span<const Transponder> transponders,
                                                          std::span<const Channel> channels);

} // namespace corvex::sim
