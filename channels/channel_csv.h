#pragma once

// The channel list as a spreadsheet file: one row per channel line, in the order given, with
// the columns of its transponder joined in.

#include "channels/channel_tables.h"

#include <span>
#include <string>

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

/// Writes channelListCsv to `path`, beside it first and renamed over it when complete, so a
/// failed write leaves an existing file as it was. False with `error` set on a failure.
[[nodiscard]] bool writeChannelListCsv(const std::string& path, std::span<const Line> channels,
                                       std::span<const Line> transponders, std::string& error);

} // namespace corvex::channels
