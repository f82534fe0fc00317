// libFuzzer target (tools/fuzz) over the channel table loader and the list writer; it aborts
// where a caller's assumption breaks. Byte 0: bits 0-2 the blocks that get a segment (2-byte LE
// length, bytes at block + 0x20, over 0xFF), bit 3 hexadecimal, bit 4 the rest is the image.

#include "channels/channel_csv.h"
#include "channels/channel_tables.h"
#include "channels/image_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <variant>
#include <vector>

namespace {

using namespace corvex::channels;

void require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

std::vector<std::uint8_t> imageFrom(std::span<const std::uint8_t> input) {
    std::vector<std::uint8_t> image;
    if ((input[0] & 0x10) != 0) {
        image.assign(input.begin() + 1, input.end());
        return image;
    }
    std::size_t at = 1;
    for (std::size_t b = 0; b < kTableBlocks.size(); ++b) {
        if ((input[0] & (1u << b)) == 0 || at + 2 > input.size()) {
            continue;
        }
        std::size_t length = input[at] | std::size_t{input[at + 1]} << 8;
        at += 2;
        length = std::min(length, input.size() - at);
        const std::size_t offset = kTableBlocks[b] + kTagOffset;
        if (image.size() < offset + length) {
            image.resize(offset + length, 0xFF);
        }
        std::memcpy(image.data() + offset, input.data() + at, length);
        at += length;
    }
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::vector<std::uint8_t> image = imageFrom({data, size});
    const DisplayMode mode =
        (data[0] & 0x08) != 0 ? DisplayMode::Hexadecimal : DisplayMode::Decimal;
    std::size_t warnings = 0;
    const LoadResult result =
        loadChannelTables(image, mode, [&](const std::string&) { ++warnings; });
    const auto* tables = std::get_if<ChannelTables>(&result);
    if (tables == nullptr) {
        require(std::get<LoadFailure>(result).text == kNoTablesText);
        return 0;
    }
    // Memory stays bounded by the image: one line per whole record it holds.
    require(tables->channels.size() <= image.size() / kChannelRecordSize);
    require(tables->transponders.size() <= 255 && !tables->transponders.empty());
    require(warnings < tables->transponders.size());
    for (const Line& line : tables->channels) {
        require(line.text.size() == kChannelLineLength);
        require(line.reference == 0 || line.reference + kChannelRecordSize <= image.size());
        require(fieldNumber(line.text, channel_field::kTransponder).has_value());
    }
    for (std::size_t i = 0; i + 1 < tables->transponders.size(); ++i) {
        const Line& line = tables->transponders[i];
        require(line.text.size() == kTransponderLineLength);
        require((line.reference & kLineKindMask) == kTransponderLineFlag);
        require(fieldNumber(line.text, transponder_field::kNumber) == static_cast<long>(i + 1));
        (void)decodeTransponderColumns(line.text);
    }
    require(tables->transponders.back().text == kEmptyChannelLine);
    const std::string csv = channelListCsv(tables->channels, tables->transponders);
    require(std::count(csv.begin(), csv.end(), '\n') ==
            static_cast<std::ptrdiff_t>(tables->channels.size() + 1));
    // The list stored back unchanged is the image itself; reversed, it reads back reversed.
    std::string error;
    if (!tables->channels.empty()) {
        const auto same = imageWithChannels(image, tables->channels, mode, error);
        require(same && *same == image);
    }
    std::vector<Line> reversed(tables->channels.rbegin(), tables->channels.rend());
    if (const auto stored = imageWithChannels(image, reversed, mode, error)) {
        require(stored->size() == image.size());
        const LoadResult again = loadChannelTables(*stored, mode);
        const auto* reread = std::get_if<ChannelTables>(&again);
        require(reread != nullptr && reread->channels.size() == reversed.size());
        for (std::size_t i = 0; i < reversed.size(); ++i) {
            require(reread->channels[i].text == storedLineText(reversed[i], mode));
        }
    } else {
        require(!error.empty());
    }
    // Any text as an order: the same channels come back, each once.
    const ArrangedList arranged =
        arrangeByCsv(tables->channels, {reinterpret_cast<const char*>(data), size}, mode);
    require(arranged.channels.size() == tables->channels.size());
    require(std::is_permutation(arranged.channels.begin(), arranged.channels.end(),
                                tables->channels.begin()));
    return 0;
}
