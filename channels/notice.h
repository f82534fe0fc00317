#pragma once

#include <string>
#include <string_view>

namespace corvex::channels {

/// A message an operation of the channel list editor raises, for the window to show in a
/// message box. An empty title means a plain message under the application's own title.
struct Notice {
    std::string text;
    std::string title;
    friend bool operator==(const Notice&, const Notice&) = default;
};

/// The title of the editor's informational message boxes.
inline constexpr std::string_view kMessageTitle = "Message";

} // namespace corvex::channels
