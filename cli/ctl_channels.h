#pragma once

#include "ctl_options.h"

#include <ostream>

namespace corvex::cli {

/// corvexctl --channels: reads the image, prints each interpreter warning as "WARNING <text>"
/// (a carriage return written as "\r"), then the channel lines and the transponder lines, one
/// per line, exactly as the editor holds them; with --csv also writes the export. Needs no
/// port. Returns 0, or 1 with the reason on `err` (unreadable image, a folder, device or FIFO, a
/// file past the image size limit, no tables, failed CSV).
int runChannels(const CtlOptions& options, std::ostream& out, std::ostream& err);

} // namespace corvex::cli
