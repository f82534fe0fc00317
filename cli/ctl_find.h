#pragma once

#include "ctl_options.h"

#include <ostream>

namespace corvex::cli {

/// corvexctl --find: searches the file as the file editor's search would (with --ignore-case
/// blind to the case of A-Z) and prints its result lines and closing status line. Exit status 0
/// when the search ran to the end, 1 when the file could not be read or is no regular file.
int runFind(const CtlOptions& options, std::ostream& out, std::ostream& err);

} // namespace corvex::cli
