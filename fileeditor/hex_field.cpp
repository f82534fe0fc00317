#include "hex_field.h"

#include <array>
#include <charconv>
#include <cstdio>

namespace corvex::fileeditor {

namespace {

constexpr std::size_t kMaxHexDigits = 8;

} // namespace

std::optional<std::uint32_t> parseHexField(std::string_view text) {
    if (text.empty() || text.size() > kMaxHexDigits) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, 16);
    if (ec != std::errc{} || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<char> filterHexKey(char typed) {
    if (typed == '\b' || (typed >= '0' && typed <= '9') || (typed >= 'A' && typed <= 'F')) {
        return typed;
    }
    if (typed >= 'a' && typed <= 'f') {
        return static_cast<char>(typed - 'a' + 'A');
    }
    return std::nullopt;
}

std::string hex8(std::uint64_t value) {
    std::array<char, 16> text{};
    const int length = std::snprintf(text.data(), text.size(), "%8.8X",
                                     static_cast<unsigned>(static_cast<std::uint32_t>(value)));
    return {text.data(), static_cast<std::size_t>(length)};
}

std::optional<std::string> endFieldAsLength(std::uint32_t start, std::string_view endText) {
    std::uint64_t length = 0;
    const char* end = endText.data() + endText.size();
    const auto [ptr, ec] = std::from_chars(endText.data(), end, length, 10);
    if (endText.empty() || ec != std::errc{} || ptr != end || length == 0 ||
        start + length - 1 > UINT32_MAX) {
        return std::nullopt;
    }
    return hex8(start + length - 1);
}

} // namespace corvex::fileeditor
