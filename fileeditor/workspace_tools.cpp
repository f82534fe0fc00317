#include "hex_field.h"
#include "integrity.h"
#include "workspace.h"

#include <algorithm>
#include <vector>

// The tools over the whole workspace: base address, jump, fill, reload, skip, undo and redo.
namespace corvex::fileeditor {

namespace {

constexpr std::size_t kScanBlock = std::size_t{64} * 1024;

Notice error(std::string text) {
    return Notice{"Error", std::move(text)};
}

} // namespace

std::optional<Notice> Workspace::setBaseAddress(std::string_view text) {
    closeNibble();
    const auto base = parseHexField(text);
    if (!base) {
        return error("Invalid base address specified !");
    }
    m_base = *base & ~std::uint32_t{15};
    refreshPage();
    return std::nullopt;
}

void Workspace::placeAt(std::uint64_t offset, bool characterPane) {
    if (offset >= m_pageOffset && offset < m_pageOffset + kPageBytes) {
        m_row = static_cast<int>((offset - m_pageOffset) / kRowBytes) + 1;
        refreshPage();
    } else {
        if (!showPage(offset >> 4)) {
            return;
        }
        m_row = static_cast<int>((offset - m_pageOffset) / kRowBytes) + 1;
    }
    const int inRow = static_cast<int>(offset & 15);
    m_column = characterPane ? inRow + kFirstCharColumn : inRow * 2 + kFirstHexColumn;
}

std::optional<Notice> Workspace::goToOffset(std::uint64_t offset) {
    closeNibble();
    if ((offset >> 8) * kRowBytes > m_scrollMax) {
        return error("Invalid jump address.\rJump address out of range !");
    }
    m_selecting = false;
    placeAt(offset, cursorInCharacterPane());
    return std::nullopt;
}

std::optional<Notice> Workspace::jump(std::string_view baseText, std::string_view targetText) {
    closeNibble();
    const auto base = parseHexField(baseText);
    if (!base) {
        return error("Invalid base address specified !");
    }
    const std::uint32_t newBase = *base & ~std::uint32_t{15};
    const auto target = parseHexAddress(targetText);
    if (!target) {
        return error("Invalid jump address specified !");
    }
    if (*target < newBase) {
        return error("Invalid jump address.\rJump address must be higher or equal to base "
                     "address !");
    }
    const std::uint64_t offset = *target - newBase;
    if ((offset >> 8) * kRowBytes > m_scrollMax) {
        return error("Invalid jump address.\rJump address out of range !");
    }
    m_base = newBase;
    m_selecting = false;
    placeAt(offset, cursorInCharacterPane());
    return std::nullopt;
}

FillOutcome Workspace::fill(FillAction action, const FillFields& fields) {
    closeNibble();
    if (auto busy = refuseWhileLoading()) {
        return {busy, {}, {}};
    }
    const auto value = parseHexField(fields.value);
    if (!value || *value > 0xFF) {
        return {error("Invalid fill value !"), {}, {}};
    }
    const auto start = parseHexAddress(fields.start);
    if (!start) {
        return {error("Invalid Start address !"), {}, {}};
    }
    if (fields.end.empty()) {
        return skip(static_cast<std::uint8_t>(*value), *start);
    }
    const auto end = parseHexAddress(fields.end);
    if (!end) {
        return {error("Invalid End address !"), {}, {}};
    }
    if (*start < m_base) {
        return {error("Start address must be higher or equal to Base address !"), {}, {}};
    }
    if (*start > *end) {
        return {error(std::string(kEndAsLengthMessage)), endFieldAsLength(*start, fields.end), {}};
    }
    if (*end - m_base > m_scrollMax * kRowBytes + (kPageBytes - 1)) {
        return {error("End address must be lower or equal than maximum workspace size !"), {}, {}};
    }
    if (!loaded()) {
        return {error("No assigned workspace available !"), {}, {}};
    }
    const Notice failed = error("Fill operation failed !");
    if (!writeBack()) {
        return {failed, {}, {}};
    }
    // The last page may reach past the end of the file; nothing is written there, as no edit is.
    const std::uint64_t first = *start - m_base;
    if (first >= m_size) {
        readPage();
        return {};
    }
    const std::uint64_t length = std::min<std::uint64_t>(*end - m_base, m_size - 1) - first + 1;
    const auto size = fileSizeOf(m_work.get());
    m_changes.dropRedo();
    auto before = size ? m_changes.capture(m_work.get(), first, length) : std::nullopt;
    if (!before) {
        return {failed, {}, {}};
    }
    ChangeLog::Step step;
    step.offset = first;
    step.afterLength = length;
    step.sizeBefore = step.sizeAfter = *size;
    bool done = false;
    if (action == FillAction::Fill) {
        step.after = ChangeLog::repeated(static_cast<std::uint8_t>(*value), length);
        done = m_changes.write(m_work.get(), first, *step.after);
    } else {
        done = copyBytes(m_source.get(), first, m_work.get(), first, length).has_value();
    }
    if (!done) {
        (void)m_changes.write(m_work.get(), first, *before);
        readPage();
        return {failed, {}, {}};
    }
    step.before = std::move(*before);
    m_changes.push(std::move(step));
    m_selecting = false;
    readPage();
    return {};
}

FillOutcome Workspace::skip(std::uint8_t value, std::uint64_t start) {
    if (start < m_base) {
        return {error("Start address must be higher or equal to Base address !"), {}, {}};
    }
    if (!loaded()) {
        return {};
    }
    if (!writeBack()) {
        return {error("Fill operation failed !"), {}, {}};
    }
    std::vector<std::uint8_t> block(kScanBlock);
    for (std::uint64_t offset = start - m_base; offset < m_size;) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), m_size - offset));
        const auto got = preadAll(m_work.get(), block.data(), want, offset);
        if (!got) {
            return {error("Fill operation failed !"), {}, {}};
        }
        const auto end = block.begin() + static_cast<std::ptrdiff_t>(*got);
        const auto found =
            std::find_if(block.begin(), end, [value](std::uint8_t byte) { return byte != value; });
        if (found != end) {
            const std::uint64_t at = offset + static_cast<std::uint64_t>(found - block.begin());
            m_selecting = false;
            placeAt(at, cursorInCharacterPane());
            return {std::nullopt, std::nullopt, hexAddress(addressOf(at))};
        }
        if (*got < want) {
            break;
        }
        offset += *got;
    }
    return {};
}

Notice Workspace::checkIntegrity(std::uint64_t start, std::uint64_t end,
                                 SearchResults& results) const {
    if (auto busy = refuseWhileLoading()) {
        return *busy;
    }
    if (!loaded()) {
        return error("No assigned workspace available !");
    }
    return fileeditor::checkIntegrity(m_source.get(), m_work.get(), start, end, m_base, results);
}

std::optional<Notice> Workspace::applyUndo(bool redo) {
    closeNibble();
    if (auto busy = refuseWhileLoading()) {
        return busy;
    }
    m_selecting = false;
    if (!loaded() || !(redo ? canRedo() : canUndo())) {
        return std::nullopt;
    }
    const Notice failed = error(redo ? "Redo failed !" : "Undo failed !");
    if (!writeBack()) {
        return failed; // the page keeps its edits
    }
    const auto offset = redo ? m_changes.redo(m_work.get()) : m_changes.undo(m_work.get());
    if (!offset) {
        readPage();
        return failed;
    }
    if (*offset < m_size) {
        placeAt(*offset, cursorInCharacterPane());
    } else {
        readPage();
    }
    return std::nullopt;
}

std::optional<Notice> Workspace::undo() {
    return applyUndo(false);
}

std::optional<Notice> Workspace::redo() {
    return applyUndo(true);
}

} // namespace corvex::fileeditor
