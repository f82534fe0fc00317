#pragma once

#include "ctl_options.h"

#include <ostream>

namespace corvex::cli {

/// corvexctl --channels: reads the image, prints each interpreter warning as "WARNING <text>"
/// (a carriage return written as "\r"); with --order arranges the list as the CSV file says
/// (a row that matches nothing is a "WARNING <file>: row ..." line); then prints the channel
/// lines and the transponder lines, one per line, exactly as the editor holds them; with --csv
/// also writes the export, and with --save-into the list into a new image (read back before it
/// is kept). Needs no port. Returns 0, or 1 with the reason on `err` (unreadable image or CSV,
/// a folder, device or FIFO, a file past the size limit, no tables, failed CSV, NEW exists
/// without --force, failed save or read-back).
int runChannels(const CtlOptions& options, std::ostream& out, std::ostream& err);

} // namespace corvex::cli
