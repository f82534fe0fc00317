#include "channels/channel_csv.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex::channels {

namespace {

constexpr std::string_view kHeader =
    "Number,Name,Favourite,Parental,Active,Category,Transponder,SID,VPID,APID,VECM,AECM,PCR,"
    "Frequency (MHz),Polarisation,Symbol rate";

std::string_view trimmed(std::string_view text) {
    const std::size_t begin = text.find_first_not_of(' ');
    if (begin == std::string_view::npos) {
        return {};
    }
    return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

// A plain decimal number, negative ones included, and the lone "-" that stands for a missing
// PID: a spreadsheet reads them as values, never as formulas.
bool isPlainNumber(std::string_view field) {
    if (field.starts_with('-')) {
        field.remove_prefix(1);
    }
    const bool digitsAndPoint = field.find_first_not_of("0123456789.") == std::string_view::npos;
    return digitsAndPoint && std::count(field.begin(), field.end(), '.') <= 1 && field != ".";
}

// A spreadsheet runs a cell that starts with one of these as a formula: a channel named
// "=HYPERLINK(...)" in the image would become a live link. Such a field gets a leading
// apostrophe, which makes the cell plain text.
bool looksLikeFormula(std::string_view field) {
    return !field.empty() &&
           std::string_view("=+-@\t\r").find(field.front()) != std::string_view::npos &&
           !isPlainNumber(field);
}

// RFC 4180: a field holding a comma, a quote or a line break is quoted, its quotes doubled.
void appendField(std::string& out, std::string_view field) {
    const std::string_view inert = looksLikeFormula(field) ? "'" : "";
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += inert;
        out += field;
        return;
    }
    out += '"';
    out += inert;
    for (const char c : field) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
}

// The joined-in columns of one transponder line: frequency, polarisation, symbol rate.
struct TransponderInfo {
    std::string_view frequency;
    std::string_view polarisation;
    std::string symbolRate;
};

std::map<long, TransponderInfo> transponderInfo(std::span<const Line> transponders) {
    std::map<long, TransponderInfo> info;
    for (const Line& line : transponders) {
        // Expansion lines are skipped, and so is the empty-channel line: it has no transponder.
        if ((line.reference & kLineKindMask) != kTransponderLineFlag ||
            line.reference == kEmptyChannelReference) {
            continue;
        }
        const std::optional<long> number = fieldNumber(line.text, transponder_field::kNumber);
        const std::optional<long> flags = fieldNumber(line.text, transponder_field::kFlags);
        if (!number || !flags) {
            continue;
        }
        info.try_emplace(
            *number,
            TransponderInfo{trimmed(fieldText(line.text, transponder_field::kFrequency)),
                            (*flags & kHorizontal) != 0 ? "H" : "V",
                            std::string(trimmed(decodeTransponderColumns(line.text).symbolRate))});
    }
    return info;
}

// Written here rather than with the interface library's replacing file: the channel tables
// stand alone and link nothing of the receiver interface.
bool writeReplacing(const std::string& path, std::string_view contents, std::string& error) {
    static std::atomic<unsigned> partCounter{0};
    const std::string partName = path + "." + std::to_string(::getpid()) + "-" +
                                 std::to_string(partCounter.fetch_add(1)) + ".part";
    const int fd = ::open(partName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        // The part file's name is ours; the user asked for `path`.
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    // Keep the permissions of a file being replaced.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        (void)::fchmod(fd, old.st_mode & 07777);
    }
    bool ok = true;
    while (ok && !contents.empty()) {
        const ssize_t written = ::write(fd, contents.data(), contents.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        ok = written > 0;
        if (ok) {
            contents.remove_prefix(static_cast<std::size_t>(written));
        }
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(partName.c_str(), path.c_str()) == 0;
    if (!ok) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        (void)::unlink(partName.c_str());
    }
    return ok;
}

} // namespace

std::string channelListCsv(std::span<const Line> channels, std::span<const Line> transponders) {
    const std::map<long, TransponderInfo> info = transponderInfo(transponders);
    std::string csv(kHeader);
    csv += "\r\n";
    csv.reserve(csv.size() + channels.size() * 120);
    std::size_t number = 0;
    for (const Line& line : channels) {
        csv += std::to_string(++number);
        const auto field = [&](std::string_view text) {
            csv += ',';
            appendField(csv, text);
        };
        // Only trailing spaces go from the name: a blank name stays an empty field.
        const std::string_view name = fieldText(line.text, channel_field::kName);
        field(name.substr(0, name.find_last_not_of(' ') + 1));
        for (const FieldPos pos :
             {channel_field::kFavourite, channel_field::kParental, channel_field::kActive,
              channel_field::kCategory, channel_field::kTransponder, channel_field::kSid,
              channel_field::kVpid, channel_field::kApid, channel_field::kVecm,
              channel_field::kAecm, channel_field::kPcr}) {
            field(trimmed(fieldText(line.text, pos)));
        }
        const std::optional<long> transponder = fieldNumber(line.text, channel_field::kTransponder);
        const auto found = transponder ? info.find(*transponder) : info.end();
        if (found != info.end()) {
            field(found->second.frequency);
            field(found->second.polarisation);
            field(found->second.symbolRate);
        } else {
            csv += ",,,";
        }
        csv += "\r\n";
    }
    return csv;
}

bool writeChannelListCsv(const std::string& path, std::span<const Line> channels,
                         std::span<const Line> transponders, std::string& error) {
    return writeReplacing(path, channelListCsv(channels, transponders), error);
}

} // namespace corvex::channels
