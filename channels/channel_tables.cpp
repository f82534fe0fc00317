#include "channels/channel_tables.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace corvex::channels {

namespace {

constexpr std::array<std::uint8_t, 4> kTransponderTagBytes{'T', 'P', 'T', 0};
constexpr std::array<std::uint8_t, 4> kChannelTagBytes{'T', 'C', 'S', 0};

constexpr std::uint32_t kLowBandOscillatorKhz = 9'750'000;
constexpr std::uint32_t kHighBandOscillatorKhz = 10'600'000;

constexpr std::array<std::uint16_t, 16> kSymbolRates{22000, 27195, 27500, 29900, 30000, 28000,
                                                     25550, 18056, 20000, 27800, 26000, 25500,
                                                     24000, 24500, 19540, 0};
// The FEC texts are three-character pieces of one constant, at these 0-based starts.
constexpr std::string_view kFecPieces = "1/2/3/4/5/6/7/8/9";
constexpr std::array<std::size_t, 6> kFecStarts{0, 2, 4, 8, 12, 14};

std::uint16_t bigEndian16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// The records of the table whose length field stands at `start`: where the first one lies and
// how many there are. The length counts its own four bytes; the first record is read whatever
// it says, and a table that runs past the end of the image ends there (a partial last record
// is dropped), so the count never exceeds what the image holds.
struct RecordRange {
    std::size_t first = 0;
    std::size_t count = 0;
};

RecordRange recordRange(std::span<const std::uint8_t> image, std::size_t start,
                        std::size_t recordSize) {
    if (start > image.size() || image.size() - start < 4) {
        return {};
    }
    const std::uint64_t length =
        std::uint64_t{image[start]} | std::uint64_t{image[start + 1]} << 8 |
        std::uint64_t{image[start + 2]} << 16 | std::uint64_t{image[start + 3]} << 24;
    const std::size_t first = start + 4;
    const std::uint64_t end = start + length;
    std::uint64_t wanted = 1;
    if (end > first) {
        wanted = std::max<std::uint64_t>(1, (end - first + recordSize - 1) / recordSize);
    }
    const std::uint64_t available = (image.size() - first) / recordSize;
    return {first, static_cast<std::size_t>(std::min(wanted, available))};
}

// Builds a line field by field. Every field of both line kinds has a width its values always fit
// (a 16-bit field in five characters, a byte in three), so the lines keep their fixed length;
// the line is one allocation, as a load formats thousands of them.
class LineWriter {
public:
    explicit LineWriter(std::size_t length) { m_line.reserve(length); }

    LineWriter& text(std::string_view text) {
        m_line += text;
        return *this;
    }
    LineWriter& separator() {
        m_line += ';';
        return *this;
    }
    /// value right-aligned in width characters ("%*u").
    LineWriter& decimal(std::uint32_t value, std::size_t width) {
        char digits[10];
        std::size_t count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        if (count < width) {
            m_line.append(width - count, ' ');
        }
        while (count > 0) {
            m_line += digits[--count];
        }
        return *this;
    }
    LineWriter& xswapped(std::uint16_t value, DisplayMode mode) {
        if (mode == DisplayMode::Decimal) {
            return value == kNoPid ? text("    -") : decimal(value, 5);
        }
        if (value == kNoPid) {
            return text("   - ");
        }
        static constexpr std::string_view kHexDigits = "0123456789ABCDEF";
        for (int shift = 12; shift >= 0; shift -= 4) {
            m_line += kHexDigits[(value >> shift) & 0xF];
        }
        m_line += ' ';
        return *this;
    }
    [[nodiscard]] std::string take() { return std::move(m_line); }

private:
    std::string m_line;
};

// The display name into 16 characters (see cleanChannelName).
void cleanNameInto(std::span<const std::uint8_t, kChannelNameSize> name,
                   std::array<char, kChannelNameSize>& text) {
    text.fill(' ');
    for (std::size_t i = 0; i < kChannelNameSize && name[i] != 0; ++i) {
        const std::uint8_t b = name[i];
        text[i] = b < 0x20 || b > 0x7E || b == ';' ? ' ' : static_cast<char>(b);
    }
    // Left-align a name that shows anything; a blank name stays blank.
    const auto visible = std::find_if(text.begin(), text.end(), [](char c) { return c != ' '; });
    std::rotate(text.begin(), visible, text.end());
}

} // namespace

std::string xswap(std::uint16_t value, DisplayMode mode) {
    return LineWriter(5).xswapped(value, mode).take();
}

std::optional<std::uint16_t> xswapValue(std::string_view field, DisplayMode mode) {
    const std::size_t first = field.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view text = field.substr(first, field.find_last_not_of(' ') - first + 1);
    if (text == "-") {
        return kNoPid;
    }
    unsigned value = 0;
    const int base = mode == DisplayMode::Hexadecimal ? 16 : 10;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size() || value > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

ChannelRecord decodeChannelRecord(std::span<const std::uint8_t, kChannelRecordSize> bytes) {
    ChannelRecord r;
    std::copy_n(bytes.begin(), kChannelNameSize, r.name.begin());
    const std::uint8_t* p = bytes.data();
    r.flags = p[16];
    r.transponder = p[17];
    r.sid = bigEndian16(p + 18);
    r.vpid = bigEndian16(p + 20);
    r.apid = bigEndian16(p + 22);
    r.vecm = bigEndian16(p + 24);
    r.aecm = bigEndian16(p + 26);
    r.pcr = bigEndian16(p + 28);
    return r;
}

TransponderRecord
decodeTransponderRecord(std::span<const std::uint8_t, kTransponderRecordSize> bytes) {
    const std::uint8_t* p = bytes.data();
    return {.frequency = bigEndian32(p),
            .tid = bigEndian16(p + 4),
            .nid = bigEndian16(p + 6),
            .channelCount = p[8],
            .symbolRateCode = p[9],
            .fecCode = p[10],
            .flags = p[11]};
}

std::string cleanChannelName(std::span<const std::uint8_t, kChannelNameSize> name) {
    std::array<char, kChannelNameSize> text;
    cleanNameInto(name, text);
    return {text.begin(), text.end()};
}

std::uint8_t channelCategory(const ChannelRecord& r) {
    if (r.vpid != kNoPid) {
        return r.vpid != 0 ? kCategoryVideo : kCategoryNone;
    }
    if (r.apid != kNoPid) {
        return kCategoryAudio;
    }
    if (r.pcr != kNoPid) {
        return kCategoryPcrOnly;
    }
    return r.sid != 0 ? kCategorySidOnly : kCategoryNone;
}

std::string formatChannelLine(const ChannelRecord& r, DisplayMode mode) {
    std::array<char, kChannelNameSize> name;
    cleanNameInto(r.name, name);
    const auto flag = [&](std::uint8_t bit) { return (r.flags & bit) != 0 ? "1" : "0"; };
    LineWriter line(kChannelLineLength);
    line.text({name.data(), name.size()})
        .separator()
        .decimal(channelCategory(r), 1)
        .separator()
        .text(flag(kFlagFavourite))
        .separator()
        .text(flag(kFlagParental))
        .separator()
        .text(flag(kFlagActive))
        .separator()
        .decimal(r.transponder, 3)
        .separator();
    for (const std::uint16_t field : {r.sid, r.vpid, r.apid, r.vecm, r.aecm, r.pcr}) {
        line.xswapped(field, mode).separator();
    }
    return line.take();
}

std::uint32_t shownFrequencyKhz(const TransponderRecord& r) {
    return r.frequency +
           ((r.flags & kTone22kHz) != 0 ? kHighBandOscillatorKhz : kLowBandOscillatorKhz);
}

TransponderKey transponderKey(const TransponderRecord& r) {
    return {shownFrequencyKhz(r), (r.flags & kHorizontal) != 0, r.symbolRateCode};
}

std::string describeTransponder(const TransponderKey& key) {
    char text[64];
    std::snprintf(text, sizeof text, "%u.%03u MHz, %s, %s kS/s", key.frequencyKhz / 1000,
                  key.frequencyKhz % 1000, key.horizontal ? "H" : "V",
                  symbolRateText(key.symbolRateCode).c_str());
    return text;
}

std::string droppedTranspondersWarning(std::size_t records) {
    return "TPT holds " + std::to_string(records) +
           " records; a channel can only refer to the first " + std::to_string(kMaxTransponders) +
           ", the other " + std::to_string(records - kMaxTransponders) + " were not loaded.";
}

std::string formatTransponderLine(int number, const TransponderRecord& r, DisplayMode mode) {
    // MHz with three decimals by integer arithmetic ("%11.3f"), exact for every kHz value.
    const std::uint32_t khz = shownFrequencyKhz(r);
    char head[32];
    std::snprintf(head, sizeof head, "%4d;  %7u.%03u;", number, khz / 1000, khz % 1000);
    LineWriter line(kTransponderLineLength);
    line.text(head).xswapped(r.tid, mode).separator().xswapped(r.nid, mode).separator();
    for (const std::uint8_t field : {r.channelCount, r.symbolRateCode, r.fecCode, r.flags}) {
        line.decimal(field, 6).separator();
    }
    return line.take();
}

TableTag tableTagAt(std::span<const std::uint8_t> image, std::uint32_t block) {
    if (image.size() < std::size_t{block} + kTagOffset + 4) {
        return TableTag::None;
    }
    const auto tag = image.subspan(block + kTagOffset, 4);
    if (std::ranges::equal(tag, kTransponderTagBytes)) {
        return TableTag::Transponders;
    }
    return std::ranges::equal(tag, kChannelTagBytes) ? TableTag::Channels : TableTag::None;
}

TableBlocks findTableBlocks(std::span<const std::uint8_t> image) {
    TableBlocks found;
    for (const std::uint32_t block : kTableBlocks) {
        switch (tableTagAt(image, block)) {
        case TableTag::Transponders:
            found.transponders = block;
            break;
        case TableTag::Channels:
            found.channels = block;
            break;
        case TableTag::None:
            break;
        }
    }
    return found;
}

LoadResult loadChannelTables(std::span<const std::uint8_t> image, DisplayMode mode,
                             const WarningCallback& onWarning) {
    const TableBlocks blocks = findTableBlocks(image);
    if (!blocks.channels || !blocks.transponders) {
        return LoadFailure{std::string(kNoTablesText), std::string(kNoTablesTitle)};
    }
    const std::size_t channelStart = *blocks.channels + kTableOffset;
    const std::size_t transponderStart = *blocks.transponders + kTableOffset;

    ChannelTables tables;
    // A record past the 254th could never be referred to, and numbering it would give two
    // lines the number 255 (and, past 9999, overflow the line's four-character number field).
    RecordRange transponders = recordRange(image, transponderStart, kTransponderRecordSize);
    const std::size_t transponderRecords = transponders.count;
    transponders.count = std::min(transponders.count, kMaxTransponders);
    const auto transponderAt = [&](std::size_t number) {
        const std::size_t offset = transponders.first + (number - 1) * kTransponderRecordSize;
        return decodeTransponderRecord(image.subspan(offset).first<kTransponderRecordSize>());
    };
    tables.transponderKeys.reserve(transponders.count);
    for (std::size_t number = 1; number <= transponders.count; ++number) {
        tables.transponderKeys.push_back(transponderKey(transponderAt(number)));
    }

    int highestTransponder = 0;
    const RecordRange channels = recordRange(image, channelStart, kChannelRecordSize);
    tables.channels.reserve(channels.count);
    for (std::size_t i = 0; i < channels.count; ++i) {
        const std::size_t offset = channels.first + i * kChannelRecordSize;
        const auto bytes = image.subspan(offset).first<kChannelRecordSize>();
        const ChannelRecord r = decodeChannelRecord(bytes);
        if (r.transponder != kNoTransponder) {
            highestTransponder = std::max<int>(highestTransponder, r.transponder);
        }
        Line& line = tables.channels.emplace_back();
        line.text = formatChannelLine(r, mode);
        line.reference = r.transponder == kNoTransponder ? 0 : static_cast<std::uint32_t>(offset);
        StoredChannel& stored = line.record.emplace();
        std::copy(bytes.begin(), bytes.end(), stored.bytes.begin());
        if (r.transponder >= 1 && r.transponder <= transponders.count) {
            stored.transponder = tables.transponderKeys[r.transponder - 1];
        }
    }

    // Said first: a damaged table's warnings that follow may run into hundreds.
    if (transponderRecords > transponders.count && onWarning) {
        onWarning(droppedTranspondersWarning(transponderRecords));
    }
    tables.transponders.reserve(transponders.count + 1);
    for (std::size_t i = 0; i < transponders.count; ++i) {
        const std::size_t offset = transponders.first + i * kTransponderRecordSize;
        const TransponderRecord r = transponderAt(i + 1);
        const int added = static_cast<int>(i);
        // A zero record where a channel still needs a transponder: the link is broken.
        if (r.tid == 0 && r.nid == 0 && r.channelCount == 0 && added < highestTransponder &&
            onWarning) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "TPT Interpreter failure detected.\r\rTPT last Index = %d\rLink needed "
                          "for TPT Index = %d\rTID=0",
                          added, highestTransponder);
            onWarning(text);
        }
        tables.transponders.push_back({formatTransponderLine(added + 1, r, mode),
                                       static_cast<std::uint32_t>(offset) | kTransponderLineFlag});
    }
    tables.transponders.push_back({std::string(kEmptyChannelLine), kEmptyChannelReference});
    return tables;
}

std::optional<std::vector<std::uint8_t>> readImageFile(const std::string& name,
                                                       std::string* error) {
    const auto fail = [&](std::string reason) -> std::optional<std::vector<std::uint8_t>> {
        if (error != nullptr) {
            *error = std::move(reason);
        }
        return std::nullopt;
    };
    const auto notRegular = [&] { return fail(name + " is not a regular file"); };
    const auto tooLarge = [&] {
        return fail(name + " is larger than " + std::to_string(kMaxImageFileBytes >> 20) +
                    " MiB, too large for a firmware image");
    };
    // Looked at before it is opened: a FIFO would hold the open until a writer comes, and a
    // device such as /dev/zero never ends.
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) {
        return fail("cannot open " + name + ": " + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return notRegular();
    }
    if (static_cast<std::uint64_t>(info.st_size) > kMaxImageFileBytes) {
        return tooLarge();
    }
    // Plain reads rather than a stream: a stream reports a read error (an I/O fault) by throwing
    // from deep inside its buffer. Non-blocking in case the name became a FIFO meanwhile.
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return fail("cannot open " + name + ": " + std::strerror(errno));
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return notRegular();
    }
    constexpr std::size_t kChunk = 64 * 1024;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(info.st_size) + kChunk);
    int readError = 0;
    // A file that grows while it is read stops one chunk past the limit.
    while (bytes.size() <= kMaxImageFileBytes) {
        const std::size_t used = bytes.size();
        bytes.resize(used + kChunk);
        const ssize_t got = ::read(fd, bytes.data() + used, kChunk);
        if (got < 0 && errno == EINTR) {
            bytes.resize(used);
            continue;
        }
        bytes.resize(used + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (got <= 0) {
            readError = got < 0 ? errno : 0;
            break;
        }
    }
    ::close(fd);
    if (readError != 0) {
        return fail("cannot read " + name + ": " + std::strerror(readError));
    }
    if (bytes.size() > kMaxImageFileBytes) {
        return tooLarge();
    }
    return bytes;
}

std::string_view fieldText(std::string_view line, FieldPos pos) {
    if (pos.first == 0 || line.size() < pos.first || pos.last < pos.first) {
        return {};
    }
    return line.substr(pos.first - 1, std::min(pos.last, line.size()) - pos.first + 1);
}

std::optional<long> fieldNumber(std::string_view line, FieldPos pos) {
    std::string_view text = fieldText(line, pos);
    const std::size_t begin = text.find_first_not_of(' ');
    if (begin == std::string_view::npos) {
        return std::nullopt;
    }
    text = text.substr(begin, text.find_last_not_of(' ') - begin + 1);
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string_view splitField(std::string_view line, std::size_t n) {
    for (; n > 0; --n) {
        const std::size_t semicolon = line.find(';');
        if (semicolon == std::string_view::npos) {
            return {};
        }
        line.remove_prefix(semicolon + 1);
    }
    return line.substr(0, line.find(';'));
}

std::string symbolRateText(std::uint8_t code) {
    char text[16];
    if (code < kSymbolRates.size()) {
        std::snprintf(text, sizeof text, "%u", unsigned{kSymbolRates[code]});
    } else {
        std::snprintf(text, sizeof text, " 0x%2.2X ?", unsigned{code});
    }
    return text;
}

std::string fecText(std::uint8_t code) {
    if (code < kFecStarts.size()) {
        return std::string(kFecPieces.substr(kFecStarts[code], 3));
    }
    char text[8];
    std::snprintf(text, sizeof text, "%2.2X?", unsigned{code});
    return text;
}

std::string flagsText(std::uint8_t flags) {
    std::string text = (flags & kTone22kHz) != 0 ? " On/Up  " : "Off/Down";
    text += (flags & kHorizontal) != 0 ? "  H" : "  V";
    text += (flags & kCBand) != 0 ? "  C" : "  Ku";
    text += (flags & kLnb2) != 0 ? "  LNB-2" : "  LNB-1";
    if ((flags & 0xF0) != 0) {
        char extra[8];
        std::snprintf(extra, sizeof extra, "  %2.2X", unsigned{flags});
        text += extra;
    }
    return text;
}

TransponderColumns decodeTransponderColumns(std::string_view line) {
    const std::optional<long> tid = fieldNumber(line, transponder_field::kTid);
    const std::optional<long> symbolRate = fieldNumber(line, transponder_field::kSymbolRateCode);
    const std::optional<long> fec = fieldNumber(line, transponder_field::kFecCode);
    const std::optional<long> flags = fieldNumber(line, transponder_field::kFlags);
    const auto isByte = [](const std::optional<long>& v) { return v && *v >= 0 && *v <= 0xFF; };
    if ((tid && *tid == 0) || !isByte(symbolRate) || !isByte(fec) || !isByte(flags)) {
        return {};
    }
    return {symbolRateText(static_cast<std::uint8_t>(*symbolRate)),
            fecText(static_cast<std::uint8_t>(*fec)), flagsText(static_cast<std::uint8_t>(*flags))};
}

} // namespace corvex::channels
