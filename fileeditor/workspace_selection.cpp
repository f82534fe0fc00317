#include "hex_field.h"
#include "link/jobs/plain_text.h"
#include "workspace.h"

#include <array>
#include <cstdio>

// What works on a range of bytes rather than on a page: copy, paste, find from the cursor and
// the line that describes the cursor and the selection.
namespace corvex::fileeditor {

namespace {

constexpr std::string_view kDigits = "0123456789ABCDEF";

bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == ';';
}

// Hexadecimal text as bytes: pairs of digits, written together ("DEADBEEF") or apart ("DE AD",
// "0xDE, 0xAD"). Nullopt for anything else, so a text pasted into the wrong pane is refused
// rather than read as whatever digits it happens to contain.
std::optional<std::vector<std::uint8_t>> parseHexBytes(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    std::size_t i = 0;
    while (i < text.size()) {
        if (isSeparator(text[i])) {
            ++i;
            continue;
        }
        if (text.substr(i, 2) == "0x" || text.substr(i, 2) == "0X") {
            i += 2;
        }
        const std::size_t start = i;
        while (i < text.size() && link::hexDigitValue(text[i]) >= 0) {
            ++i;
        }
        const std::size_t digits = i - start;
        if (digits == 0 || digits % 2 != 0 || (i < text.size() && !isSeparator(text[i]))) {
            return std::nullopt;
        }
        for (std::size_t d = start; d < i; d += 2) {
            bytes.push_back(static_cast<std::uint8_t>(link::hexDigitValue(text[d]) << 4 |
                                                      link::hexDigitValue(text[d + 1])));
        }
    }
    return bytes;
}

std::string tooLarge(std::string_view what) {
    return "The " + std::string(what) + " is too large for the clipboard (at most " +
           std::to_string(kMaxClipboardBytes >> 20) + " MiB).";
}

} // namespace

std::optional<std::uint8_t> Workspace::byteAt(std::uint64_t offset) const {
    if (!loaded() || offset >= m_size) {
        return std::nullopt;
    }
    if (offset >= m_pageOffset &&
        offset < m_pageOffset + static_cast<std::uint64_t>(m_pageLength)) {
        return m_edited[static_cast<std::size_t>(offset - m_pageOffset)];
    }
    std::uint8_t byte = 0;
    const auto got = preadAll(pageFd(), &byte, 1, offset);
    return got && *got == 1 ? std::optional<std::uint8_t>(byte) : std::nullopt;
}

std::optional<Notice> Workspace::copyText(bool characterPane, std::string& text) {
    closeNibble();
    text.clear();
    if (!loaded() || m_size == 0) {
        return std::nullopt;
    }
    const std::uint64_t cursor = std::min(cursorOffset(), m_size - 1);
    const ByteRange range = selection().value_or(ByteRange{cursor, cursor});
    if (range.length() > kMaxClipboardBytes) {
        return Notice{"Info", tooLarge("selection")};
    }
    if (!writeBack()) {
        return Notice{"Error", "The selection could not be read."};
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(range.length()));
    const auto got = preadAll(pageFd(), bytes.data(), bytes.size(), range.first);
    if (!got || *got != bytes.size()) {
        return Notice{"Error", "The selection could not be read."};
    }
    if (characterPane) {
        text.resize(bytes.size());
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const std::uint8_t byte = bytes[i];
            text[i] = byte >= 32 && byte < 127 ? static_cast<char>(byte) : '.';
        }
        return std::nullopt;
    }
    text.resize(bytes.size() * 3 - 1, ' ');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        text[i * 3] = kDigits[bytes[i] >> 4];
        text[i * 3 + 1] = kDigits[bytes[i] & 15];
    }
    return std::nullopt;
}

std::optional<Notice> Workspace::paste(std::string_view text, bool characterPane) {
    closeNibble();
    if (auto busy = refuseWhileLoading()) {
        return busy;
    }
    if (!loaded()) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    if (characterPane) {
        bytes.assign(text.begin(), text.end());
    } else if (auto parsed = parseHexBytes(text)) {
        bytes = std::move(*parsed);
    } else {
        return Notice{"Info",
                      "The clipboard holds no hexadecimal bytes (such as \"DE AD BE EF\")."};
    }
    if (bytes.size() > kMaxClipboardBytes) {
        return Notice{"Info", tooLarge("text to paste")};
    }
    const auto range = selection();
    const std::uint64_t start = range ? range->first : cursorOffset();
    if (bytes.empty() || start >= m_size) {
        return std::nullopt;
    }
    // Over the bytes that are there, never past them: the size of the file stays.
    bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), m_size - start)));
    const Notice failed{"Error", "Paste failed !"};
    if (!writeBack()) {
        return failed;
    }
    const auto size = fileSizeOf(m_work.get());
    m_changes.dropRedo();
    auto before = size ? m_changes.capture(m_work.get(), start, bytes.size()) : std::nullopt;
    if (!before) {
        return failed;
    }
    if (!pwriteAll(m_work.get(), bytes.data(), bytes.size(), start)) {
        (void)m_changes.write(m_work.get(), start, *before);
        readPage();
        return failed;
    }
    ChangeLog::Step step;
    step.offset = start;
    step.before = std::move(*before);
    step.afterLength = bytes.size();
    step.sizeBefore = step.sizeAfter = *size;
    m_changes.push(std::move(step));
    m_selecting = false;
    // The cursor goes past the pasted bytes, as it does past a typed one.
    placeAt(std::min(start + bytes.size(), m_size - 1), cursorInCharacterPane());
    return std::nullopt;
}

std::optional<Notice> Workspace::findFromCursor(std::span<const std::uint8_t> pattern, bool forward,
                                                CaseMatch caseMatch) {
    closeNibble();
    if (auto busy = refuseWhileLoading()) {
        return busy;
    }
    if (!loaded() || pattern.empty()) {
        return std::nullopt;
    }
    if (!writeBack()) {
        return Notice{"Error", "Search failed !"};
    }
    const std::uint64_t cursor = cursorOffset();
    const auto found = findNearest(m_work.get(), pattern, forward ? cursor + 1 : cursor, m_size,
                                   forward, caseMatch);
    if (!found) {
        return Notice{"Info",
                      forward ? "No match after the cursor." : "No match before the cursor."};
    }
    placeAt(*found, cursorInCharacterPane());
    m_selecting = true;
    m_anchor = *found + pattern.size() - 1;
    m_active = *found;
    return std::nullopt;
}

std::string Workspace::statusLine() const {
    if (!loaded()) {
        return {};
    }
    const std::uint64_t at = cursorOffset();
    std::string line = "Address " + hexAddress(addressOf(at)) + "  Offset " + hexAddress(at);
    const auto byte = byteAt(at);
    if (!byte) {
        line += "  past the end of the file\n";
    } else {
        std::array<char, 96> text{};
        std::string bits;
        for (int bit = 7; bit >= 0; --bit) {
            bits += ((*byte >> bit) & 1) != 0 ? '1' : '0';
        }
        std::snprintf(text.data(), text.size(), "  Byte %02X %u %s\n", *byte, *byte, bits.c_str());
        line += text.data();
        std::string words;
        // Words that run past the end of the file are not shown.
        for (const int width : {2, 4}) {
            std::uint32_t little = 0;
            std::uint32_t big = 0;
            bool whole = true;
            for (int i = 0; i < width && whole; ++i) {
                const auto part = byteAt(at + static_cast<std::uint64_t>(i));
                whole = part.has_value();
                little |= static_cast<std::uint32_t>(part.value_or(0)) << (8 * i);
                big = big << 8 | part.value_or(0);
            }
            if (whole) {
                std::snprintf(text.data(), text.size(), "%s%d-bit LE %0*X BE %0*X",
                              words.empty() ? "" : "  ", width * 8, width * 2, little, width * 2,
                              big);
                words += text.data();
            }
        }
        line += words;
    }
    line += "\n";
    if (const auto range = selection()) {
        line += "Selection " + hexAddress(addressOf(range->first)) + " - " +
                hexAddress(addressOf(range->last)) + "  Length " + hexAddress(range->length()) +
                " (" + std::to_string(range->length()) + " bytes)";
    } else {
        line += "No selection";
    }
    return line;
}

} // namespace corvex::fileeditor
