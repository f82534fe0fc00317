#pragma once

#include <string>

namespace corvex::fileeditor {

// A message box the window shows instead of doing what was asked: its title ("Error", "Info")
// and its text, exactly as the user reads it.
struct Notice {
    std::string title;
    std::string text;

    friend bool operator==(const Notice&, const Notice&) = default;
};

} // namespace corvex::fileeditor
