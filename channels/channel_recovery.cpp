#include "channels/channel_recovery.h"

#include "link/jobs/replacing_file.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace corvex::channels {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFirstLine = "corvex arranged channel list 1";
constexpr std::string_view kSuffix = ".channels";

// FNV-1a, 64 bits: names the image's path in the file name and checks its bytes. Not a
// protection against forgery, only against offering a list to an image it was not made on.
std::uint64_t fnv1a(std::span<const std::uint8_t> bytes) {
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const std::uint8_t byte : bytes) {
        hash = (hash ^ byte) * 0x100000001B3ULL;
    }
    return hash;
}

std::string hex64(std::uint64_t value) {
    char text[20];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(value));
    return text;
}

// "firmware.bin-0123456789ABCDEF": every snapshot of this image starts with it.
std::string snapshotStem(const std::string& imageName) {
    std::error_code ec;
    fs::path full = fs::weakly_canonical(fs::absolute(imageName, ec), ec);
    if (full.empty()) {
        full = imageName;
    }
    const std::string path = full.string();
    return full.filename().string() + "-" +
           hex64(fnv1a({reinterpret_cast<const std::uint8_t*>(path.data()), path.size()}));
}

std::string imageLine(std::span<const std::uint8_t> image) {
    return "image " + std::to_string(image.size()) + " " + hex64(fnv1a(image));
}

template <typename Number> std::optional<Number> number(std::string_view text, int base) {
    Number value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// One channel per line: "-" for a cleared channel; "R <reference> <60 hex digits> <frequency>
// <H|V> <symbol-rate code>" ("-" for the last three without a transponder key) for a channel
// with its record; "T <reference> <text>" for any other line.
std::string snapshotLine(const Line& line) {
    if (!line.record && line.text == kClearedChannelLine && line.reference == 0) {
        return "-";
    }
    char head[16];
    std::snprintf(head, sizeof head, "%c %08X ", line.record ? 'R' : 'T', line.reference);
    std::string text = head;
    if (!line.record) {
        return text + line.text;
    }
    for (const std::uint8_t byte : line.record->bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", unsigned{byte});
        text += digits;
    }
    char key[40] = " - - -";
    if (const auto& transponder = line.record->transponder) {
        std::snprintf(key, sizeof key, " %u %c %u", transponder->frequencyKhz,
                      transponder->horizontal ? 'H' : 'V', unsigned{transponder->symbolRateCode});
    }
    return text + key;
}

std::optional<Line> lineFromSnapshot(std::string_view text, DisplayMode mode) {
    if (text == "-") {
        return Line{std::string(kClearedChannelLine), kClearedChannelReference, std::nullopt};
    }
    if (text.size() < 11 || (text[0] != 'R' && text[0] != 'T') || text[1] != ' ' ||
        text[10] != ' ') {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> reference = number<std::uint32_t>(text.substr(2, 8), 16);
    if (!reference) {
        return std::nullopt;
    }
    const char kind = text[0];
    text.remove_prefix(11);
    Line line;
    line.reference = *reference;
    if (kind == 'T') {
        if (text.size() != kChannelLineLength) {
            return std::nullopt;
        }
        line.text = std::string(text);
        return line;
    }
    std::istringstream fields{std::string(text)};
    std::string bytes, frequency, polarisation, code;
    if (!(fields >> bytes >> frequency >> polarisation >> code) ||
        bytes.size() != 2 * kChannelRecordSize) {
        return std::nullopt;
    }
    StoredChannel& stored = line.record.emplace();
    for (std::size_t i = 0; i < kChannelRecordSize; ++i) {
        const auto byte = number<unsigned>(std::string_view(bytes).substr(2 * i, 2), 16);
        if (!byte) {
            return std::nullopt;
        }
        stored.bytes[i] = static_cast<std::uint8_t>(*byte);
    }
    if (frequency != "-") {
        const auto khz = number<std::uint32_t>(frequency, 10);
        const auto rate = number<unsigned>(code, 10);
        if (!khz || !rate || *rate > 0xFF || (polarisation != "H" && polarisation != "V")) {
            return std::nullopt;
        }
        stored.transponder =
            TransponderKey{*khz, polarisation == "H", static_cast<std::uint8_t>(*rate)};
    }
    line.text = formatChannelLine(decodeChannelRecord(stored.bytes), mode);
    return line;
}

std::optional<std::vector<Line>>
readSnapshot(const fs::path& file, std::span<const std::uint8_t> image, DisplayMode mode) {
    std::ifstream in(file, std::ios::binary);
    std::string text;
    if (!std::getline(in, text) || text != kFirstLine || !std::getline(in, text) ||
        text != imageLine(image)) {
        return std::nullopt;
    }
    std::vector<Line> lines;
    while (std::getline(in, text)) {
        std::optional<Line> line = lineFromSnapshot(text, mode);
        if (!line) {
            return std::nullopt;
        }
        lines.push_back(std::move(*line));
    }
    if (in.bad() || lines.empty()) {
        return std::nullopt;
    }
    return lines;
}

} // namespace

std::optional<std::string> keepArrangedList(const std::string& folder, const std::string& imageName,
                                            std::span<const std::uint8_t> image,
                                            std::span<const Line> lines, std::string& error) {
    std::string contents(kFirstLine);
    contents += '\n';
    contents += imageLine(image);
    contents += '\n';
    for (const Line& line : lines) {
        contents += snapshotLine(line);
        contents += '\n';
    }
    // Another window on the same image may have kept its list a moment ago.
    const std::string stem = snapshotStem(imageName);
    std::string name;
    std::error_code ec;
    for (int n = 1; name.empty() || fs::exists(name, ec); ++n) {
        std::string file = stem;
        if (n > 1) {
            file += '-';
            file += std::to_string(n);
        }
        file += kSuffix;
        name = (fs::path(folder) / file).string();
    }
    if (const std::optional<std::string> failure = link::replaceFileContents(
            name, {reinterpret_cast<const std::uint8_t*>(contents.data()), contents.size()})) {
        error = "cannot write " + name + ": " + *failure;
        return std::nullopt;
    }
    return name;
}

std::optional<ArrangedSnapshot> findArrangedList(const std::string& folder,
                                                 const std::string& imageName,
                                                 std::span<const std::uint8_t> image,
                                                 DisplayMode mode) {
    const std::string stem = snapshotStem(imageName);
    std::vector<fs::path> candidates;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(stem) && name.ends_with(kSuffix)) {
            candidates.push_back(it->path());
        }
    }
    std::sort(candidates.begin(), candidates.end());
    for (const fs::path& file : candidates) {
        if (std::optional<std::vector<Line>> lines = readSnapshot(file, image, mode)) {
            return ArrangedSnapshot{file.string(), std::move(*lines)};
        }
    }
    return std::nullopt;
}

} // namespace corvex::channels
