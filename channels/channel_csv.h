#pragma once

// The channel list as a spreadsheet file: one row per channel line, in the order given, with
// the columns of its transponder joined in; and such a file, rearranged in a spreadsheet, read
// back as the order of a list.

#include "channels/channel_tables.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::channels {

/// CSV text (RFC 4180: fields quoted where needed, CRLF line ends) with a header row and one row
/// per channel line: number (position + 1), name, favourite, parental, active, category,
/// transponder, SID, VPID, APID, VECM, AECM, PCR as shown, then the transponder's frequency in
/// MHz, polarisation ("H"/"V") and symbol rate, blank when the list holds no such transponder.
/// `transponders` may hold expansion lines; only lines with kTransponderLineFlag are looked at.
/// A field starting with =, +, -, @, tab or carriage return gets a leading apostrophe so that a
/// spreadsheet does not run it as a formula; plain numbers and the "-" of a missing PID do not.
[[nodiscard]] std::string channelListCsv(std::span<const Line> channels,
                                         std::span<const Line> transponders);

/// Writes channelListCsv to `path` through link::replaceFileContents, so a failed write leaves
/// an existing file as it was. False with `error` set on a failure.
[[nodiscard]] bool writeChannelListCsv(const std::string& path, std::span<const Line> channels,
                                       std::span<const Line> transponders, std::string& error);

/// The records of a CSV text, each a list of fields: RFC 4180 quoting (doubled quotes inside),
/// CRLF or LF line ends, a leading UTF-8 byte order mark ignored. A last line without an end
/// counts; an empty text has no records.
[[nodiscard]] std::vector<std::vector<std::string>> readCsvRecords(std::string_view csv);

/// A list arranged by a CSV file, and what in the file matched nothing.
struct ArrangedList {
    std::vector<Line> channels;
    std::vector<std::string> warnings;
};

/// Arranges `channels` in the order of the rows of `csv`, a file in channelListCsv's columns
/// (its header row names the Transponder and SID columns; without one they are the 7th and 8th).
/// A row takes the first channel not taken yet with its transponder and SID (read in `mode`), so
/// rows of channels that share the pair, such as cleared ones, keep their order. A row that
/// matches nothing gives a warning; channels no row took follow in their old order. Rows of
/// only empty fields are skipped.
[[nodiscard]] ArrangedList arrangeByCsv(std::span<const Line> channels, std::string_view csv,
                                        DisplayMode mode);

} // namespace corvex::channels
