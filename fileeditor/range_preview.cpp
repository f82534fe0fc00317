#include "range_preview.h"

#include "hex_field.h"

#include <cstdint>
#include <sys/stat.h>

namespace corvex::fileeditor {

RangePreview previewRange(const std::string& fileName, std::string_view baseText,
                          std::string_view offsetText, std::string_view lengthText) {
    struct stat status {};
    if (::stat(fileName.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return {std::string(kFileNotFoundText), {}};
    }
    const auto base = parseHexField(baseText);
    if (!base) {
        return {"Invalid base address specified !", {}};
    }
    const auto address = parseHexAddress(offsetText);
    const auto length =
        lengthText.empty() ? std::optional<std::uint64_t>(0) : parseHexAddress(lengthText);
    // The editor rounds its base address down to a line, and so must the offset it subtracts.
    const std::uint64_t baseAddress = *base & ~std::uint32_t{0xF};
    if (!address || !length) {
        return {!address ? "Invalid value specified for offset."
                         : "Invalid value specified for length.",
                {}};
    }
    if (*address < baseAddress) {
        return {"Invalid value found for offset or length.", {}};
    }
    const std::uint64_t size = *length != 0 ? *length : static_cast<std::uint64_t>(status.st_size);
    const std::uint64_t start = *address;
    RangePreview preview{fileName, {}};
    const std::array<std::uint64_t, 5> values = {baseAddress, start - baseAddress, start, size,
                                                 start + size};
    for (std::size_t i = 0; i < values.size(); ++i) {
        preview.values[i] = "   " + hexAddress(values[i]);
    }
    return preview;
}

} // namespace corvex::fileeditor
