#pragma once

// The channel (TCS) and transponder (TPT) tables of a firmware image, turned into the channel
// list editor's working model: two lists of fixed-layout text lines, each line carrying a record
// reference.
//
// - Channel lines are exactly 65 characters: name (16) and the fields category, favourite,
//   parental, active, transponder ("%3d") and six xswap texts, each followed by ";". Their
//   reference is the file offset of the 30-byte record, or 0 for a record whose transponder
//   index is 255 (and for a cleared channel).
// - Transponder lines are exactly 59 characters; their reference is the file offset of the
//   12-byte record OR kTransponderLineFlag. The list always ends with kEmptyChannelLine, whose
//   reference is kEmptyChannelReference.
// - The transponder list of the editor window also holds expansion lines, told apart by the
//   reference bits in kLineKindMask.
//
// Fields are read back by fixed 1-based character positions (FieldPos) or as the n-th
// ";"-separated field. Everything here is plain data and free functions: no state, no I/O.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace corvex::channels {

/// How xswap shows the 16-bit PID and ID fields; every other number is decimal.
enum class DisplayMode { Decimal, Hexadecimal };

// Where the tables can stand in an image.
inline constexpr std::array<std::uint32_t, 3> kTableBlocks{0x10000, 0x20000, 0x30000};
inline constexpr std::uint32_t kTagOffset = 0x20;   // 4-byte tag within a block
inline constexpr std::uint32_t kTableOffset = 0x40; // length field within a block

/// What a table block's tag marks it as.
enum class TableTag { None, Transponders, Channels };
/// The tag of the block at `block` ("TPT" or "TCS" and a NUL); None past the image's end.
[[nodiscard]] TableTag tableTagAt(std::span<const std::uint8_t> image, std::uint32_t block);
/// The blocks the tables stand in: for each, the last block tagged for it (a later block
/// overrides an earlier one); nullopt where none is.
struct TableBlocks {
    std::optional<std::uint32_t> transponders;
    std::optional<std::uint32_t> channels;
};
[[nodiscard]] TableBlocks findTableBlocks(std::span<const std::uint8_t> image);
inline constexpr std::size_t kChannelRecordSize = 30;
inline constexpr std::size_t kTransponderRecordSize = 12;
inline constexpr std::size_t kChannelNameSize = 16;
inline constexpr std::uint8_t kNoTransponder = 255;
inline constexpr std::uint16_t kNoPid = 0xFFFF;

inline constexpr std::size_t kChannelLineLength = 65;
inline constexpr std::size_t kTransponderLineLength = 59;

// Record references and the line kinds of the transponder list.
inline constexpr std::uint32_t kLineKindMask = 0x07000000;
inline constexpr std::uint32_t kTransponderLineFlag = 0x01000000;
inline constexpr std::uint32_t kSpacerLineKind = 0x02000000;
inline constexpr std::uint32_t kHeaderLineKind = 0x04000000;
inline constexpr std::uint32_t kFooterLineKind = 0x06000000;
inline constexpr std::uint32_t kEmptyChannelReference = 0x01000000;
inline constexpr std::uint32_t kClearedChannelReference = 0;
/// References of channels pasted from another image, counted down from here: such a channel has
/// no record in this image, yet its reference must neither read as an empty slot (0) nor carry
/// a transponder-list kind bit, and should not meet the offset of a record of the tables, which
/// lie in the image's first 256 KiB.
inline constexpr std::uint32_t kFirstPastedReference = 0x00FFFFFF;

/// The line a cleared channel gets, whatever the display mode.
inline constexpr std::string_view kClearedChannelLine =
    "                ;0;0;0;0;255;    0;    0;    -;    -;    -;    -;";
/// The last line of the transponder list: transponder number 255, for channels without one.
inline constexpr std::string_view kEmptyChannelLine =
    " 255;Empty Channel;    0;    0;     0;     0;     0;     0;";

inline constexpr std::string_view kNoTablesText = "No valid TCS or TPT Tables found !";
inline constexpr std::string_view kNoTablesTitle = "Error";
inline constexpr std::string_view kWarningTitle = "Warning";

// Channel categories, kept in bits 5-7 of the in-memory flags byte.
inline constexpr std::uint8_t kCategoryNone = 0;
inline constexpr std::uint8_t kCategoryVideo = 1;
inline constexpr std::uint8_t kCategoryAudio = 2;
inline constexpr std::uint8_t kCategorySidOnly = 3;
inline constexpr std::uint8_t kCategoryPcrOnly = 4;

// Channel flags bits as stored.
inline constexpr std::uint8_t kFlagParental = 0x01;
inline constexpr std::uint8_t kFlagFavourite = 0x02;
inline constexpr std::uint8_t kFlagActive = 0x04;

// Transponder flags bits as stored.
inline constexpr std::uint8_t kTone22kHz = 0x01;
inline constexpr std::uint8_t kHorizontal = 0x02;
inline constexpr std::uint8_t kCBand = 0x04;
inline constexpr std::uint8_t kLnb2 = 0x08;

/// What identifies a transponder across images: the frequency shown (kHz, band oscillator
/// added), the polarisation and the symbol-rate code. Two images number their transponders as
/// they please; a channel moved between them keeps its transponder by these three.
struct TransponderKey {
    std::uint32_t frequencyKhz = 0;
    bool horizontal = false;
    std::uint8_t symbolRateCode = 0;
    friend bool operator==(const TransponderKey&, const TransponderKey&) = default;
};

/// A channel's own record, carried by its line wherever the line goes (moved, copied, pasted
/// into the list of another image): the 30 bytes as they stood, which a save writes back as they
/// are, so that the bits no line shows (flag bit 3, raw name bytes) survive; and its
/// transponder's key, absent when the index is 255 or names no record of its table.
struct StoredChannel {
    std::array<std::uint8_t, kChannelRecordSize> bytes{};
    std::optional<TransponderKey> transponder;
    friend bool operator==(const StoredChannel&, const StoredChannel&) = default;
};

/// One line of either list with its record reference; a channel line from an image also
/// carries its record (a cleared channel and every transponder-list line carry none).
struct Line {
    Line() = default;
    Line(std::string lineText, std::uint32_t lineReference,
         std::optional<StoredChannel> ownRecord = std::nullopt)
        : text(std::move(lineText)), reference(lineReference), record(std::move(ownRecord)) {}

    std::string text;
    std::uint32_t reference = 0;
    std::optional<StoredChannel> record;
    friend bool operator==(const Line&, const Line&) = default;
};

/// A loaded image: channel lines in table order, transponder lines in table order followed by
/// the empty-channel line, and the key of each transponder line (transponderKeys[n - 1] for
/// transponder n).
struct ChannelTables {
    std::vector<Line> channels;
    std::vector<Line> transponders;
    std::vector<TransponderKey> transponderKeys;
};

/// Why nothing was loaded: a text and title for a message box.
struct LoadFailure {
    std::string text;
    std::string title;
};

using LoadResult = std::variant<ChannelTables, LoadFailure>;

/// Receives each interpreter warning (title kWarningTitle); the text holds "\r" line breaks.
using WarningCallback = std::function<void(const std::string& text)>;

/// A channel can refer to transponders 1 to 254 only, and 255 is the empty-channel line's
/// number: records past the 254th are not loaded.
inline constexpr std::size_t kMaxTransponders = 254;

/// The warning for a transponder table with more than kMaxTransponders records.
[[nodiscard]] std::string droppedTranspondersWarning(std::size_t records);

/// Locates and decodes both tables of an image. Without both tags: LoadFailure with
/// kNoTablesText. A table that runs past the end of the image ends at the end of the image.
/// Every warning of the interpreter check goes to onWarning (which may be empty), and so does
/// droppedTranspondersWarning when records were left out; the load goes on after them.
[[nodiscard]] LoadResult loadChannelTables(std::span<const std::uint8_t> image, DisplayMode mode,
                                           const WarningCallback& onWarning = {});

/// The largest image file read. Firmware images are a few MiB and the tables lie in the first
/// 256 KiB; the limit only keeps a wrong file from being read into memory whole.
inline constexpr std::uint64_t kMaxImageFileBytes = std::uint64_t{64} << 20;

/// Reads a whole image file; nullopt when it cannot be opened or read, is no regular file (a
/// folder, device or FIFO) or is larger than kMaxImageFileBytes, with the reason, naming the
/// file, in `error` when given.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> readImageFile(const std::string& name,
                                                                     std::string* error = nullptr);

// ---- Records as they stand in the image (multi-byte fields big-endian) ----

struct ChannelRecord {
    std::array<std::uint8_t, kChannelNameSize> name{};
    std::uint8_t flags = 0;
    std::uint8_t transponder = kNoTransponder;
    std::uint16_t sid = 0;
    std::uint16_t vpid = kNoPid;
    std::uint16_t apid = kNoPid;
    std::uint16_t vecm = kNoPid;
    std::uint16_t aecm = kNoPid;
    std::uint16_t pcr = kNoPid;
};

struct TransponderRecord {
    std::uint32_t frequency = 0; // kHz above the LNB's local oscillator
    std::uint16_t tid = 0;
    std::uint16_t nid = 0;
    std::uint8_t channelCount = 0;
    std::uint8_t symbolRateCode = 0;
    std::uint8_t fecCode = 0;
    std::uint8_t flags = 0;
};

[[nodiscard]] ChannelRecord decodeChannelRecord(std::span<const std::uint8_t, kChannelRecordSize>);
[[nodiscard]] TransponderRecord
    decodeTransponderRecord(std::span<const std::uint8_t, kTransponderRecordSize>);

/// The 16-character display name: NUL pads the rest with spaces, unprintable bytes and ";"
/// become spaces, and a name with any visible character is left-aligned.
[[nodiscard]] std::string cleanChannelName(std::span<const std::uint8_t, kChannelNameSize> name);
/// The category (kCategory...) derived from the PIDs.
[[nodiscard]] std::uint8_t channelCategory(const ChannelRecord& record);

/// A 16-bit field as five characters. `value` is the field as read big-endian from the image
/// (stored bytes 01 FF give 0x01FF): "%5d" or "%4.4X ", and 0xFFFF shows "    -" or "   - ".
[[nodiscard]] std::string xswap(std::uint16_t value, DisplayMode mode);
/// The value an xswap text stands for (surrounding spaces ignored, "-" for 0xFFFF); nullopt
/// when it does not read as one in `mode`.
[[nodiscard]] std::optional<std::uint16_t> xswapValue(std::string_view field, DisplayMode mode);

/// The 65-character channel line of a record (the category is derived from its PIDs).
[[nodiscard]] std::string formatChannelLine(const ChannelRecord& record, DisplayMode mode);
/// The 59-character line of transponder `number` (1-based).
[[nodiscard]] std::string formatTransponderLine(int number, const TransponderRecord& record,
                                                DisplayMode mode);
/// The shown frequency in kHz: the stored value plus 10,600,000 with the 22 kHz tone, else
/// plus 9,750,000, in unsigned 32-bit arithmetic.
[[nodiscard]] std::uint32_t shownFrequencyKhz(const TransponderRecord& record);
[[nodiscard]] TransponderKey transponderKey(const TransponderRecord& record);
/// "11700.000 MHz, H, 27500 kS/s" for messages.
[[nodiscard]] std::string describeTransponder(const TransponderKey& key);

// ---- Reading lines back ----

/// 1-based character positions of a field, first and last included.
struct FieldPos {
    std::size_t first;
    std::size_t last;
};

namespace channel_field {
inline constexpr FieldPos kName{1, 16};
inline constexpr FieldPos kCategory{18, 18};
inline constexpr FieldPos kFavourite{20, 20};
inline constexpr FieldPos kParental{22, 22};
inline constexpr FieldPos kActive{24, 24};
inline constexpr FieldPos kTransponder{26, 28};
inline constexpr FieldPos kSid{30, 34};
inline constexpr FieldPos kVpid{36, 40};
inline constexpr FieldPos kApid{42, 46};
inline constexpr FieldPos kVecm{48, 52};
inline constexpr FieldPos kAecm{54, 58};
inline constexpr FieldPos kPcr{60, 64};
} // namespace channel_field

namespace transponder_field {
inline constexpr FieldPos kNumber{1, 4};
inline constexpr FieldPos kFrequency{8, 18};
inline constexpr FieldPos kTid{20, 24};
inline constexpr FieldPos kNid{26, 30};
inline constexpr FieldPos kChannelCount{32, 37};
inline constexpr FieldPos kSymbolRateCode{39, 44};
inline constexpr FieldPos kFecCode{46, 51};
inline constexpr FieldPos kFlags{53, 58};
} // namespace transponder_field

/// The characters at pos; shorter (possibly empty) when the line ends inside the field.
[[nodiscard]] std::string_view fieldText(std::string_view line, FieldPos pos);
/// The field read as a decimal number with surrounding spaces removed; nullopt when it is not
/// one (an empty field, "-", or hexadecimal text such as "01FF").
[[nodiscard]] std::optional<long> fieldNumber(std::string_view line, FieldPos pos);
/// The n-th (0-based) ";"-separated field; empty when there are fewer.
[[nodiscard]] std::string_view splitField(std::string_view line, std::size_t n);

// ---- Decoded transponder columns ----

/// The symbol rate in kS/s ("27500"), or " 0x" + two hex digits + " ?" for an unknown code.
[[nodiscard]] std::string symbolRateText(std::uint8_t code);
/// "1/2" ... "8/9", or "%2.2X?" for an unknown code.
[[nodiscard]] std::string fecText(std::uint8_t code);
/// " On/Up  " or "Off/Down", then "  H"/"  V", "  C"/"  Ku", "  LNB-2"/"  LNB-1", and the whole
/// byte in hex ("  F3") when any of bits 4-7 is set.
[[nodiscard]] std::string flagsText(std::uint8_t flags);

/// The three decoded columns of a transponder line as the list shows them.
struct TransponderColumns {
    std::string symbolRate;
    std::string fec;
    std::string flags;
};
/// Decodes a transponder line's codes; all three blank when its TID field reads as 0 (a zero
/// record, and the empty-channel line) or a code field is not a number.
[[nodiscard]] TransponderColumns decodeTransponderColumns(std::string_view transponderLine);

} // namespace corvex::channels
