#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvex::fileeditor {

inline constexpr std::string_view kEndAsLengthMessage =
    "Start address can not be higher than End address !\rNow end address is interpreted as "
    "decimal length. Try again.";

/// Digits an address field takes: eight cover every 32-bit address, sixteen every offset of a
/// file past 4 GiB.
inline constexpr int kAddressDigits = 16;

/// A hexadecimal entry field's value: one to eight digits, nothing else (the base address and
/// the fill value are 32-bit).
[[nodiscard]] std::optional<std::uint32_t> parseHexField(std::string_view text);

/// An address or length field: one to sixteen hexadecimal digits, nothing else.
[[nodiscard]] std::optional<std::uint64_t> parseHexAddress(std::string_view text);

/// The key filter of every hexadecimal entry field: digits and A-F (upper-cased) pass, so does
/// backspace; nullopt swallows the key (Enter among them: the field's owner acts on it).
[[nodiscard]] std::optional<char> filterHexKey(char typed);

/// An address as the fields and lines show it: upper-case hexadecimal digits, eight where they
/// suffice and as many as it takes past 4 GiB ("100000120"), so it never names another byte.
[[nodiscard]] std::string hexAddress(std::uint64_t value);

/// The fill panel's answer to a start above the end: the end field read again as a decimal
/// length n gives the new end text start + n - 1. Nullopt when the field holds no decimal
/// length of at least 1 (a zero length would land below the start again).
[[nodiscard]] std::optional<std::string> endFieldAsLength(std::uint64_t start,
                                                          std::string_view endText);

} // namespace corvex::fileeditor
