#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace corvex::backup {

/// The SHA-256 digest of the bytes as 64 lower-case hexadecimal digits.
[[nodiscard]] std::string sha256Hex(std::span<const std::uint8_t> bytes);
[[nodiscard]] std::string sha256Hex(std::string_view text);

} // namespace corvex::backup
