#include "hex_field.h"

#include <array>
#include <charconv>
#include <cstdio>

namespace corvex::fileeditor {

namespace {

constexpr std::size_t kMaxFieldDigits = 8;

template <typename Value>
std::optional<Value> parseHex(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) {
        return std::nullopt;
    }
    Value value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, 16);
    if (ec != std::errc{} || ptr != end) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<std::uint32_t> parseHexField(std::string_view text) {
    return parseHex<std::uint32_t>(text, kMaxFieldDigits);
}

std::optional<std::uint64_t> parseHexAddress(std::string_view text) {
    return parseHex<std::uint64_t>(text, kAddressDigits);
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

std::string hexAddress(std::uint64_t value) {
    std::array<char, 24> text{};
    const int length =
        std::snprintf(text.data(), text.size(), "%8.8llX", static_cast<unsigned long long>(value));
    return {text.data(), static_cast<std::size_t>(length)};
}

std::optional<std::string> endFieldAsLength(std::uint64_t start, std::string_view endText) {
    std::uint64_t length = 0;
    const char* end = endText.data() + endText.size();
    const auto [ptr, ec] = std::from_chars(endText.data(), end, length, 10);
    if (endText.empty() || ec != std::errc{} || ptr != end || length == 0 ||
        length - 1 > UINT64_MAX - start) {
        return std::nullopt;
    }
    return hexAddress(start + length - 1);
}

} // namespace corvex::fileeditor
