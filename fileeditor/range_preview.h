#pragma once

#include <array>
#include <string>
#include <string_view>

namespace corvex::fileeditor {

inline constexpr std::array<std::string_view, 5> kPreviewCaptions = {
    "   Base address", "   Offset", "   Start Address", "   Length", "   End Address"};
inline constexpr std::string_view kFileNotFoundText = "Error:  FILE NOT FOUND";

// What the range dialog's preview window shows: the information line and the five value
// panels beside kPreviewCaptions ("   %8.8X" each, all empty when the information line is an
// error).
struct RangePreview {
    std::string info;
    std::array<std::string, 5> values;
};

/// The preview of the dialog's fields for `fileName`. The offset field holds an address that
/// includes the base, as the editor writes it and reads it back, so the file offset shown is
/// offset - base and the range starts at the offset field's address. An empty length stands for
/// the whole file.
[[nodiscard]] RangePreview previewRange(const std::string& fileName, std::string_view baseText,
                                        std::string_view offsetText, std::string_view lengthText);

} // namespace corvex::fileeditor
