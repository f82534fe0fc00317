#pragma once

#include <string>
#include <string_view>

namespace corvex::link {

/// The full path of the running program (/proc/self/exe), or "corvex" when it cannot be read.
[[nodiscard]] std::string currentProgramPath();

/// A file that belongs to the program, named after it: the program's path, ".", the extension
/// ("corvex.LOG"). Where the program's folder is not writable the file goes to the user's data
/// folder ($XDG_DATA_HOME/corvex, else ~/.local/share/corvex), which is created when missing.
[[nodiscard]] std::string programFileName(const std::string& programPath,
                                          std::string_view extension);

} // namespace corvex::link
