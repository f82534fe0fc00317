#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::link {

/// Local date and time as the log book writes it: "dd-MM-yyyy @ hh:mm:ss".
[[nodiscard]] std::string logBookStamp(std::chrono::system_clock::time_point when);

/// One log-book line: the stamp, " - ", then the text.
[[nodiscard]] std::string logBookLine(std::string_view text,
                                      std::chrono::system_clock::time_point when);

/// Appends the lines to the file (created when missing), one per line. Returns an empty string
/// on success, else what went wrong; lines already in the file are never touched.
[[nodiscard]] std::string appendLogFile(const std::string& path,
                                        const std::vector<std::string>& lines);

} // namespace corvex::link
