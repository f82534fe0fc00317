#include "channels/channel_csv.h"

#include "link/jobs/plain_text.h"
#include "link/jobs/replacing_file.h"

#include <algorithm>
#include <charconv>
#include <deque>
#include <map>
#include <utility>

namespace corvex::channels {

namespace {

constexpr std::string_view kHeader =
    "Number,Name,Favourite,Parental,Active,Category,Transponder,SID,VPID,APID,VECM,AECM,PCR,"
    "Frequency (MHz),Polarisation,Symbol rate";

using link::trimmed;

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
    const std::string csv = channelListCsv(channels, transponders);
    const std::optional<std::string> failure = link::replaceFileContents(
        path, {reinterpret_cast<const std::uint8_t*>(csv.data()), csv.size()});
    if (failure) {
        error = "cannot write " + path + ": " + *failure;
        return false;
    }
    return true;
}

// Hand-written rather than taken from a CSV library: it only reads back the export's own dialect
// (RFC 4180 quoting and CRLF), a few lines that keep the channel core free of another library.
std::vector<std::vector<std::string>> readCsvRecords(std::string_view csv) {
    if (csv.starts_with("\xEF\xBB\xBF")) {
        csv.remove_prefix(3);
    }
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < csv.size(); ++i) {
        const char c = csv[i];
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < csv.size() && csv[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.push_back(std::exchange(field, {}));
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n') {
                ++i;
            }
            record.push_back(std::exchange(field, {}));
            records.push_back(std::exchange(record, {}));
        } else {
            field += c;
        }
    }
    if (!field.empty() || !record.empty() || quoted) {
        record.push_back(std::move(field));
        records.push_back(std::move(record));
    }
    return records;
}

namespace {

// A channel's place in the matching: its transponder and SID as the list shows them.
using MatchKey = std::pair<long, std::uint16_t>;

std::optional<MatchKey> lineKey(std::string_view line, DisplayMode mode) {
    const std::optional<long> transponder = fieldNumber(line, channel_field::kTransponder);
    const std::optional<std::uint16_t> sid = xswapValue(fieldText(line, channel_field::kSid), mode);
    if (!transponder || !sid) {
        return std::nullopt;
    }
    return MatchKey{*transponder, *sid};
}

// A field as the export wrote it, without the apostrophe it puts before formula-like text.
std::string_view exportedField(const std::vector<std::string>& record, std::size_t column) {
    if (column >= record.size()) {
        return {};
    }
    std::string_view field = record[column];
    if (field.starts_with('\'')) {
        field.remove_prefix(1);
    }
    return trimmed(field);
}

} // namespace

ArrangedList arrangeByCsv(std::span<const Line> channels, std::string_view csv, DisplayMode mode) {
    std::vector<std::vector<std::string>> records = readCsvRecords(csv);
    // The export's columns: Number, Name, Favourite, Parental, Active, Category, Transponder, SID.
    std::size_t transponderColumn = 6;
    std::size_t sidColumn = 7;
    std::size_t firstRow = 0;
    if (!records.empty()) {
        const auto& head = records.front();
        const auto named = [&](std::string_view name) {
            return std::find(head.begin(), head.end(), name) - head.begin();
        };
        const auto transponder = static_cast<std::size_t>(named("Transponder"));
        const auto sid = static_cast<std::size_t>(named("SID"));
        if (transponder < head.size() && sid < head.size()) {
            transponderColumn = transponder;
            sidColumn = sid;
            firstRow = 1;
        }
    }

    std::map<MatchKey, std::deque<std::size_t>> unmatched;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (const std::optional<MatchKey> key = lineKey(channels[i].text, mode)) {
            unmatched[*key].push_back(i);
        }
    }
    ArrangedList arranged;
    arranged.channels.reserve(channels.size());
    std::vector<bool> taken(channels.size(), false);
    for (std::size_t row = firstRow; row < records.size(); ++row) {
        const auto& record = records[row];
        if (std::all_of(record.begin(), record.end(),
                        [](const std::string& field) { return trimmed(field).empty(); })) {
            continue;
        }
        const std::string_view transponderText = exportedField(record, transponderColumn);
        const std::string_view sidText = exportedField(record, sidColumn);
        const std::string where = "row " + std::to_string(row + 1) + " (transponder \"" +
                                  std::string(transponderText) + "\", SID \"" +
                                  std::string(sidText) + "\")";
        long transponder = -1;
        const auto [end, ec] = std::from_chars(
            transponderText.data(), transponderText.data() + transponderText.size(), transponder);
        const std::optional<std::uint16_t> sid = xswapValue(sidText, mode);
        if (transponderText.empty() || ec != std::errc() ||
            end != transponderText.data() + transponderText.size() || !sid) {
            arranged.warnings.push_back(where + " has no transponder and SID to match");
            continue;
        }
        const auto found = unmatched.find(MatchKey{transponder, *sid});
        if (found == unmatched.end() || found->second.empty()) {
            arranged.warnings.push_back(where + " matches no channel left in the list");
            continue;
        }
        const std::size_t index = found->second.front();
        found->second.pop_front();
        taken[index] = true;
        arranged.channels.push_back(channels[index]);
    }
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (!taken[i]) {
            arranged.channels.push_back(channels[i]);
        }
    }
    return arranged;
}

} // namespace corvex::channels
