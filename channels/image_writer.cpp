#include "channels/image_writer.h"

#include "link/jobs/job_files.h"
#include "link/jobs/replacing_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <variant>

namespace corvex::channels {

namespace {

constexpr std::uint32_t kBlockSize = 0x10000;

void putBigEndian16(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

void encodeRecord(const ChannelRecord& r, std::uint8_t* p) {
    std::copy(r.name.begin(), r.name.end(), p);
    p[16] = r.flags;
    p[17] = r.transponder;
    std::uint8_t* field = p + 18;
    for (const std::uint16_t value : {r.sid, r.vpid, r.apid, r.vecm, r.aecm, r.pcr}) {
        putBigEndian16(field, value);
        field += 2;
    }
}

// The file's whole contents, read through its descriptor; nullopt with errno set on a failure.
std::optional<std::vector<std::uint8_t>> readAll(int fd, std::size_t expected) {
    std::vector<std::uint8_t> bytes(expected + 1); // one more shows a file that grew
    const ssize_t got = link::readAt(fd, bytes.data(), bytes.size(), 0);
    if (got < 0) {
        return std::nullopt;
    }
    bytes.resize(static_cast<std::size_t>(got));
    return bytes;
}

bool sameFile(const std::string& a, const std::string& b) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::equivalent(a, b, ec)) {
        return true;
    }
    return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec) && !ec;
}

// Why `image` does not give back the list, or nothing when it does.
std::optional<std::string> listMismatch(std::span<const std::uint8_t> image,
                                        std::span<const Line> channels, DisplayMode mode) {
    const LoadResult loaded = loadChannelTables(image, mode);
    if (const auto* failure = std::get_if<LoadFailure>(&loaded)) {
        return failure->text;
    }
    const std::vector<Line>& read = std::get<ChannelTables>(loaded).channels;
    if (read.size() != channels.size()) {
        return "it holds " + std::to_string(read.size()) + " channels instead of " +
               std::to_string(channels.size());
    }
    for (std::size_t i = 0; i < read.size(); ++i) {
        if (read[i].text != storedLineText(channels[i], mode)) {
            return "channel " + std::to_string(i + 1) + " reads back differently";
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<ChannelTablePlace> locateChannelTable(std::span<const std::uint8_t> image) {
    const TableBlocks blocks = findTableBlocks(image);
    if (!blocks.channels || !blocks.transponders) {
        return std::nullopt;
    }
    const std::uint32_t channelBlock = *blocks.channels;
    ChannelTablePlace place;
    place.start = channelBlock + kTableOffset;
    if (image.size() < place.start + 4) {
        return std::nullopt;
    }
    const std::uint64_t length =
        std::uint64_t{image[place.start]} | std::uint64_t{image[place.start + 1]} << 8 |
        std::uint64_t{image[place.start + 2]} << 16 | std::uint64_t{image[place.start + 3]} << 24;
    // The loader reads at least one record and stops at the end of the image.
    const std::uint64_t first = place.start + 4;
    const std::uint64_t records = std::max<std::uint64_t>(
        1, (std::max<std::uint64_t>(length, 4) - 4 + kChannelRecordSize - 1) / kChannelRecordSize);
    const std::uint64_t available = (image.size() - first) / kChannelRecordSize;
    place.oldCount = static_cast<std::size_t>(std::min(records, available));
    place.oldEnd = static_cast<std::size_t>(
        std::min<std::uint64_t>(first + records * kChannelRecordSize, image.size()));
    place.limit = channelBlock + kBlockSize;
    for (const std::uint32_t block : kTableBlocks) {
        if (block > channelBlock && tableTagAt(image, block) != TableTag::None) {
            place.protectedFrom = std::min<std::size_t>(place.protectedFrom, block);
        }
    }
    // A table that already runs further keeps its extent, even into another table's block,
    // where it may only leave the bytes as they are.
    place.limit = std::max(std::min(place.limit, place.protectedFrom), place.oldEnd);
    place.limit = std::min(place.limit, image.size());
    return place;
}

std::optional<ChannelRecord> channelRecordFromLine(std::string_view line, DisplayMode mode) {
    if (line.size() != kChannelLineLength) {
        return std::nullopt;
    }
    ChannelRecord r;
    // Trailing blanks of the name were NUL padding or blanks; NUL keeps it a proper C string.
    const std::string_view name = fieldText(line, channel_field::kName);
    const std::size_t used = name.find_last_not_of(' ') + 1; // 0 for a blank name
    r.name.fill(0);
    std::copy_n(name.begin(), used, r.name.begin());
    r.flags = static_cast<std::uint8_t>(
        (fieldText(line, channel_field::kParental) == "1" ? kFlagParental : 0) |
        (fieldText(line, channel_field::kFavourite) == "1" ? kFlagFavourite : 0) |
        (fieldText(line, channel_field::kActive) == "1" ? kFlagActive : 0));
    const std::optional<long> transponder = fieldNumber(line, channel_field::kTransponder);
    if (!transponder || *transponder < 0 || *transponder > 255) {
        return std::nullopt;
    }
    r.transponder = static_cast<std::uint8_t>(*transponder);
    std::uint16_t* const fields[] = {&r.sid, &r.vpid, &r.apid, &r.vecm, &r.aecm, &r.pcr};
    const FieldPos positions[] = {channel_field::kSid,  channel_field::kVpid, channel_field::kApid,
                                  channel_field::kVecm, channel_field::kAecm, channel_field::kPcr};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        const std::optional<std::uint16_t> value = xswapValue(fieldText(line, positions[i]), mode);
        if (!value) {
            return std::nullopt;
        }
        *fields[i] = *value;
    }
    r.flags |= static_cast<std::uint8_t>(channelCategory(r) << 5);
    return r;
}

std::string storedLineText(const Line& line, DisplayMode mode) {
    if (line.text == kClearedChannelLine) {
        if (const std::optional<ChannelRecord> r = channelRecordFromLine(line.text, mode)) {
            return formatChannelLine(*r, mode);
        }
    }
    return line.text;
}

std::optional<std::vector<std::uint8_t>> imageWithChannels(std::span<const std::uint8_t> source,
                                                           std::span<const Line> channels,
                                                           DisplayMode mode, std::string& error) {
    const std::optional<ChannelTablePlace> place = locateChannelTable(source);
    if (!place) {
        error = std::string(kNoTablesText);
        return std::nullopt;
    }
    if (channels.empty()) {
        // A table always yields its first record when loaded: an empty one cannot be stored.
        error = "An empty channel list cannot be saved: the table holds at least one channel.";
        return std::nullopt;
    }
    const std::size_t room = place->limit > place->start + 4 ? place->limit - place->start - 4 : 0;
    if (channels.size() > room / kChannelRecordSize) {
        error =
            "The channel list no longer fits into the image: " + std::to_string(channels.size()) +
            " channels, room for " + std::to_string(room / kChannelRecordSize) + ".";
        return std::nullopt;
    }
    std::vector<std::uint8_t> image(source.begin(), source.end());
    // The loader reads as many records as the old field gives: kept, it keeps its bytes.
    if (channels.size() != place->oldCount) {
        const std::size_t length = 4 + channels.size() * kChannelRecordSize;
        for (std::size_t i = 0; i < 4; ++i) {
            image[place->start + i] = static_cast<std::uint8_t>(length >> (8 * i));
        }
    }
    std::uint8_t* record = image.data() + place->start + 4;
    for (std::size_t i = 0; i < channels.size(); ++i, record += kChannelRecordSize) {
        const Line& line = channels[i];
        if (line.record) {
            std::copy(line.record->bytes.begin(), line.record->bytes.end(), record);
            continue;
        }
        const std::optional<ChannelRecord> r = channelRecordFromLine(line.text, mode);
        if (!r) {
            error = "Channel " + std::to_string(i + 1) + " cannot be stored: its line is damaged.";
            return std::nullopt;
        }
        encodeRecord(*r, record);
    }
    // The loader reads a long table on through the block of a later table: an edit there
    // would overwrite that table.
    if (place->protectedFrom < image.size() &&
        !std::equal(image.begin() + static_cast<std::ptrdiff_t>(place->protectedFrom), image.end(),
                    source.begin() + static_cast<std::ptrdiff_t>(place->protectedFrom))) {
        error = "The channel list cannot be stored: its table runs into the block of another "
                "table, and the change would overwrite that table.";
        return std::nullopt;
    }
    // A record that now spells a tag where a later block keeps its tag would move a table.
    for (const std::uint32_t block : kTableBlocks) {
        if (tableTagAt(image, block) != tableTagAt(source, block)) {
            error = "The channel list cannot be stored: a channel would stand where the image "
                    "marks its tables.";
            return std::nullopt;
        }
    }
    return image;
}

bool saveListIntoImage(std::span<const std::uint8_t> source, const std::string& sourceName,
                       const std::string& target, std::span<const Line> channels, DisplayMode mode,
                       std::string& error) {
    if (sameFile(sourceName, target)) {
        error = "The list is not saved over the image it was loaded from; choose another file.";
        return false;
    }
    const std::optional<std::vector<std::uint8_t>> image =
        imageWithChannels(source, channels, mode, error);
    if (!image) {
        return false;
    }
    link::ReplacingFile file(target);
    const auto failed = [&](const std::string& why) {
        file.discard();
        error = "cannot write " + target + ": " + why;
        return false;
    };
    if (!file.valid()) {
        error = "cannot create " + target + ": " + file.error();
        return false;
    }
    if (!link::writeAt(file.fd(), image->data(), image->size(), 0)) {
        return failed(std::strerror(errno));
    }
    // Read back before it takes the target's name, so a bad file never replaces a good one.
    const std::optional<std::vector<std::uint8_t>> written = readAll(file.fd(), image->size());
    if (!written) {
        return failed(std::strerror(errno));
    }
    std::optional<std::string> mismatch;
    if (*written != *image) {
        mismatch = "the file reads back differently from what was written";
    } else {
        mismatch = listMismatch(*written, channels, mode);
    }
    if (mismatch) {
        file.discard();
        error = "The new image did not hold the edited list and was deleted: " + *mismatch;
        return false;
    }
    if (!file.commit()) {
        error = "cannot write " + target + ": " + file.error();
        return false;
    }
    return true;
}

} // namespace corvex::channels
