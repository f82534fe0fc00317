#include "channels/channel_list_model.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <numeric>
#include <utility>

namespace corvex::channels {

namespace {

std::string withoutLeadingSpaces(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string() : std::string(text.substr(first));
}

} // namespace

bool isEmptyChannelLine(std::string_view line) {
    return fieldText(line, channel_field::kTransponder) == "255";
}

unsigned channelFlagMask(std::string_view line) {
    return (fieldText(line, channel_field::kFavourite) == "1" ? 1U : 0U) |
           (fieldText(line, channel_field::kParental) == "1" ? 2U : 0U) |
           (fieldText(line, channel_field::kActive) == "1" ? 4U : 0U);
}

unsigned channelFlagMask(const ChannelFlags& flags) {
    return (flags.favourite ? 1U : 0U) | (flags.parental ? 2U : 0U) | (flags.active ? 4U : 0U);
}

// ---- State and direct changes ----

void ChannelListModel::reset(std::vector<Line> lines, std::vector<TransponderKey> transponders) {
    m_state.selection.assign(lines.size(), false);
    m_state.lines = std::move(lines);
    m_state.cursor = ListCursor{};
    m_transponders = std::move(transponders);
    m_anchor.reset();
    ++m_image;
    m_history.clear();
    changed();
}

std::size_t ChannelListModel::selectedCount() const {
    return static_cast<std::size_t>(
        std::count(m_state.selection.begin(), m_state.selection.end(), true));
}

std::vector<std::size_t> ChannelListModel::selectedLines() const {
    std::vector<std::size_t> selected;
    for (std::size_t i = 0; i < m_state.selection.size(); ++i) {
        if (m_state.selection[i]) {
            selected.push_back(i);
        }
    }
    return selected;
}

void ChannelListModel::changed() {
    ++m_revision;
    if (m_changed) {
        m_changed();
    }
}

template <typename Edit> void ChannelListModel::edit(Edit&& edit) {
    ListState before = m_state;
    std::forward<Edit>(edit)();
    m_history.record(std::move(before), m_state);
    changed();
}

// ---- Parts of the editing operations ----

std::vector<Line> ChannelListModel::selectedCopy() const {
    std::vector<Line> copied;
    for (std::size_t i = 0; i < size(); ++i) {
        if (m_state.selection[i]) {
            copied.push_back(m_state.lines[i]);
        }
    }
    return copied;
}

void ChannelListModel::removeSelected() {
    std::vector<Line>& lines = m_state.lines;
    std::optional<std::size_t>& current = m_state.cursor.current;
    const bool currentRemoved = current && m_state.selection[*current];
    std::size_t kept = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (m_state.selection[i]) {
            continue;
        }
        if (current == i) {
            current = kept;
        }
        if (kept != i) {
            lines[kept] = std::move(lines[i]);
        }
        ++kept;
    }
    lines.resize(kept);
    m_state.selection.assign(kept, false);
    if (currentRemoved) {
        current.reset();
    }
    m_state.cursor.top = std::min(m_state.cursor.top, kept == 0 ? 0 : kept - 1);
}

void ChannelListModel::insertLines(std::size_t at, const std::vector<Line>& entries, bool select) {
    const auto offset = static_cast<std::ptrdiff_t>(at);
    m_state.lines.insert(m_state.lines.begin() + offset, entries.begin(), entries.end());
    m_state.selection.insert(m_state.selection.begin() + offset, entries.size(), select);
    if (m_state.cursor.current && *m_state.cursor.current >= at) {
        *m_state.cursor.current += entries.size();
    }
}

void ChannelListModel::clearSelected() {
    for (std::size_t i = 0; i < size(); ++i) {
        if (m_state.selection[i]) {
            m_state.lines[i] = Line{std::string(kClearedChannelLine), kClearedChannelReference};
            m_state.selection[i] = false;
        }
    }
}

std::optional<Notice> ChannelListModel::replaceFrom(std::size_t from,
                                                    const std::vector<Line>& entries) {
    std::vector<Line>& lines = m_state.lines;
    std::vector<bool>& selection = m_state.selection;
    if (selectedCount() > 1) {
        selection.assign(lines.size(), false);
    }
    // The entries take the places from `from` on, those past the end included; the channels
    // they overwrite that are not empty follow them, at the end, in their old order.
    const std::size_t overwriteEnd = std::min(from + entries.size(), lines.size());
    std::vector<Line> moved;
    for (std::size_t q = from; q < overwriteEnd; ++q) {
        if (!isEmptyChannelLine(lines[q].text)) {
            moved.push_back(std::move(lines[q]));
        }
        lines[q] = entries[q - from];
        selection[q] = true;
    }
    const auto fitting = static_cast<std::ptrdiff_t>(overwriteEnd - from);
    lines.insert(lines.end(), entries.begin() + fitting, entries.end());
    selection.resize(lines.size(), true);
    m_state.cursor.current = from;
    if (moved.empty()) {
        return std::nullopt;
    }
    const std::size_t firstMoved = lines.size() + 1;
    lines.insert(lines.end(), std::make_move_iterator(moved.begin()),
                 std::make_move_iterator(moved.end()));
    selection.resize(lines.size(), false);
    return Notice{std::string(kMovedByReplacement) + std::to_string(firstMoved),
                  std::string(kMessageTitle)};
}

std::optional<std::vector<Line>> ChannelListModel::clipboardHere(std::optional<Notice>& refusal) {
    if (!m_clipboard || m_clipboard->empty()) {
        return std::nullopt;
    }
    std::vector<Line> lines = *m_clipboard;
    if (m_clipboardImage == m_image) {
        return lines;
    }
    std::vector<const Line*> homeless;
    std::uint32_t reference = m_nextPastedReference;
    for (Line& line : lines) {
        // A cleared channel is the same in every image.
        if (!line.record) {
            continue;
        }
        std::uint8_t& index = line.record->bytes[17];
        if (index == kNoTransponder) {
            line.reference = 0; // as the loader gives every channel without a transponder
            continue;
        }
        const std::optional<TransponderKey>& key = line.record->transponder;
        const auto found = key ? std::find(m_transponders.begin(), m_transponders.end(), *key)
                               : m_transponders.end();
        if (found == m_transponders.end()) {
            homeless.push_back(&line);
            continue;
        }
        index = static_cast<std::uint8_t>(found - m_transponders.begin() + 1);
        char number[8];
        std::snprintf(number, sizeof number, "%3u", unsigned{index});
        line.text.replace(channel_field::kTransponder.first - 1, 3, number);
        line.reference = reference--;
    }
    if (!homeless.empty()) {
        const Line& first = *homeless.front();
        std::string name(fieldText(first.text, channel_field::kName));
        name.erase(name.find_last_not_of(' ') + 1);
        std::string text = "Channel \"" + name + "\" cannot be pasted into this list: ";
        text += first.record->transponder
                    ? "this image has no transponder at " +
                          describeTransponder(*first.record->transponder) + "."
                    : "its transponder was missing in the image it was copied from.";
        if (homeless.size() > 1) {
            // Appended piece by piece: "\r" + std::string trips GCC 12's -Wrestrict at -O3.
            text += '\r';
            text += std::to_string(homeless.size() - 1);
            text += " more channel(s) of the clipboard lack their transponder here as well.";
        }
        refusal = Notice{text, std::string(kMessageTitle)};
        return std::nullopt;
    }
    m_nextPastedReference = reference;
    return lines;
}

// ---- Editing ----

void ChannelListModel::copy() {
    m_clipboard = selectedCopy();
    m_clipboardImage = m_image;
}

void ChannelListModel::cut() {
    const std::vector<std::size_t> selected = selectedLines();
    m_clipboard = selectedCopy();
    m_clipboardImage = m_image;
    if (selected.empty()) {
        return;
    }
    edit([&] {
        const bool currentCut =
            m_state.cursor.current && m_state.selection[*m_state.cursor.current];
        removeSelected();
        if (currentCut && selected.front() < size()) {
            m_state.cursor.current = selected.front();
        }
    });
}

std::optional<Notice> ChannelListModel::paste() {
    std::optional<Notice> refusal;
    const std::optional<std::vector<Line>> entries = clipboardHere(refusal);
    if (entries) {
        edit([&] { insertLines(m_state.cursor.current.value_or(size()), *entries, true); });
    }
    return refusal;
}

std::optional<Notice> ChannelListModel::pasteAfter() {
    std::optional<Notice> refusal;
    const std::optional<std::vector<Line>> entries = clipboardHere(refusal);
    if (entries) {
        edit([&] {
            if (!m_state.cursor.current && size() > 0) {
                m_state.cursor.current = size() - 1;
            }
            insertLines(m_state.cursor.current ? *m_state.cursor.current + 1 : 0, *entries, false);
        });
    }
    return refusal;
}

void ChannelListModel::clear() {
    if (selectedCount() == 0) {
        return;
    }
    edit([&] { clearSelected(); });
}

void ChannelListModel::clearAll() {
    // Not "Select All" then "Clear": with every line already selected, Select All would select
    // by flags and the button would clear only some channels.
    if (size() == 0) {
        return;
    }
    edit([&] {
        m_state.selection.assign(size(), true);
        clearSelected();
    });
}

void ChannelListModel::deleteSelected() {
    const std::vector<std::size_t> selected = selectedLines();
    if (selected.empty()) {
        return;
    }
    edit([&] {
        removeSelected();
        if (selected.front() < size()) {
            m_state.selection[selected.front()] = true;
            m_state.cursor.current = selected.front();
        }
    });
}

std::optional<Notice> ChannelListModel::replace() {
    const auto current = m_state.cursor.current;
    if (!current || *current >= size()) {
        return std::nullopt;
    }
    std::optional<Notice> notice;
    const std::optional<std::vector<Line>> entries = clipboardHere(notice);
    if (entries) {
        edit([&] { notice = replaceFrom(*current, *entries); });
    }
    return notice;
}

DropResult ChannelListModel::drop(std::optional<std::size_t> target) {
    DropResult result;
    std::vector<Line>& lines = m_state.lines;
    // A drop point below the last line has no line under it.
    const bool belowEnd = !target || *target >= lines.size();
    const std::size_t onto = belowEnd ? lines.size() : *target;
    if (selectedCount() >= 2) {
        edit([&] {
            m_clipboard = selectedCopy();
            m_clipboardImage = m_image;
            clearSelected();
            if (belowEnd) {
                m_state.cursor.current = lines.size() - 1;
                insertLines(lines.size(), *m_clipboard, false);
            } else if (m_advancedDragDrop) {
                result.notice = replaceFrom(onto, *m_clipboard);
            } else {
                m_state.cursor.current = onto;
                insertLines(onto, *m_clipboard, true);
            }
        });
        return result;
    }

    const std::optional<std::size_t> dragged = m_state.cursor.current;
    if (!dragged || *dragged >= lines.size()) {
        return result;
    }
    const std::size_t from = *dragged;
    if (belowEnd) {
        edit([&] {
            Line copied = lines[from];
            lines.push_back(std::move(copied));
            m_state.selection.push_back(false);
        });
        return result;
    }
    std::size_t to = onto;
    edit([&] {
        if (m_advancedDragDrop) {
            std::swap(lines[from], lines[to]);
        } else if (to != from) {
            // A line dropped on itself stays where it is (moving it would swallow the cleared
            // line below it, or lose it when it is the last line).
            if (to > from) {
                --to;
                result.pointerUpOneLine = true;
            }
            Line moved = std::move(lines[from]);
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(from));
            m_state.selection.erase(m_state.selection.begin() + static_cast<std::ptrdiff_t>(from));
            if (lines[to].reference != kClearedChannelReference) {
                lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(to), std::move(moved));
                m_state.selection.insert(
                    m_state.selection.begin() + static_cast<std::ptrdiff_t>(to), false);
            } else {
                lines[to] = std::move(moved);
            }
        }
        m_state.selection.assign(lines.size(), false);
        m_state.selection[to] = true;
        m_state.cursor.current = to;
    });
    return result;
}

void ChannelListModel::moveSelected(int direction) {
    const std::size_t count = size();
    if (count < 2 || selectedCount() == 0) {
        return;
    }
    edit([&] {
        std::vector<Line>& lines = m_state.lines;
        std::vector<bool>& selection = m_state.selection;
        std::optional<std::size_t>& current = m_state.cursor.current;
        // Walking toward the edge the lines move to, a selected line swaps with an unselected
        // neighbour; a run that reached the edge finds only selected neighbours and stays.
        const auto swapWith = [&](std::size_t line, std::size_t neighbour) {
            if (selection[line] && !selection[neighbour]) {
                std::swap(lines[line], lines[neighbour]);
                selection[line] = false;
                selection[neighbour] = true;
                if (current == line) {
                    current = neighbour;
                } else if (current == neighbour) {
                    current = line;
                }
            }
        };
        if (direction < 0) {
            for (std::size_t i = 1; i < count; ++i) {
                swapWith(i, i - 1);
            }
        } else {
            for (std::size_t i = count - 1; i-- > 0;) {
                swapWith(i, i + 1);
            }
        }
    });
}

namespace {

// What a line sorts by: a rank that keeps blank names and unreadable fields last, then the
// name in upper case or the field's value.
struct SortKey {
    int rank = 0;
    std::string name;
    long value = 0;
};

SortKey sortKey(std::string_view line, SortColumn column, DisplayMode mode) {
    SortKey key;
    if (column == SortColumn::Name) {
        const std::string_view name = fieldText(line, channel_field::kName);
        key.name.reserve(name.size());
        for (const char c : name) {
            key.name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        key.rank = key.name.find_first_not_of(' ') == std::string::npos ? 1 : 0;
        return key;
    }
    std::optional<long> value;
    if (column == SortColumn::Transponder) {
        value = fieldNumber(line, channel_field::kTransponder);
    } else {
        const FieldPos pos = column == SortColumn::Sid    ? channel_field::kSid
                             : column == SortColumn::Vpid ? channel_field::kVpid
                             : column == SortColumn::Apid ? channel_field::kApid
                                                          : channel_field::kPcr;
        if (const std::optional<std::uint16_t> raw = xswapValue(fieldText(line, pos), mode)) {
            value = *raw;
        }
    }
    key.rank = value ? 0 : 1;
    key.value = value.value_or(LONG_MAX);
    return key;
}

} // namespace

void ChannelListModel::sortBy(SortColumn column, DisplayMode mode) {
    const std::size_t count = size();
    std::vector<SortKey> keys;
    keys.reserve(count);
    for (const Line& line : m_state.lines) {
        keys.push_back(sortKey(line.text, column, mode));
    }
    const auto before = [&](const SortKey& a, const SortKey& b, bool descending) {
        if (a.rank != b.rank) {
            return a.rank < b.rank;
        }
        const bool byName = column == SortColumn::Name;
        if (descending) {
            return byName ? b.name < a.name : b.value < a.value;
        }
        return byName ? a.name < b.name : a.value < b.value;
    };
    const bool descending =
        std::is_sorted(keys.begin(), keys.end(),
                       [&](const SortKey& a, const SortKey& b) { return before(a, b, false); });
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return before(keys[a], keys[b], descending);
    });
    edit([&] {
        std::vector<Line> lines;
        std::vector<bool> selection;
        lines.reserve(count);
        selection.reserve(count);
        std::optional<std::size_t>& current = m_state.cursor.current;
        std::optional<std::size_t> newCurrent;
        for (std::size_t i = 0; i < count; ++i) {
            lines.push_back(std::move(m_state.lines[order[i]]));
            selection.push_back(m_state.selection[order[i]]);
            if (current == order[i]) {
                newCurrent = i;
            }
        }
        m_state.lines = std::move(lines);
        m_state.selection = std::move(selection);
        current = newCurrent;
    });
}

void ChannelListModel::replaceAll(std::vector<Line> lines) {
    edit([&] {
        m_state.selection.assign(lines.size(), false);
        m_state.lines = std::move(lines);
        m_state.cursor = ListCursor{};
    });
}

EditPanelValues ChannelListModel::editPanel() const {
    const auto current = m_state.cursor.current;
    if (selectedCount() != 1 || !current || *current >= size()) {
        return {};
    }
    const std::string_view line = m_state.lines[*current].text;
    const auto field = [line](FieldPos pos) { return withoutLeadingSpaces(fieldText(line, pos)); };
    EditPanelValues values;
    values.name = field(channel_field::kName);
    values.flags.favourite = fieldText(line, channel_field::kFavourite) != "0";
    values.flags.parental = fieldText(line, channel_field::kParental) != "0";
    values.flags.active = fieldText(line, channel_field::kActive) != "0";
    values.transponder = field(channel_field::kTransponder);
    values.sid = field(channel_field::kSid);
    values.vpid = field(channel_field::kVpid);
    values.apid = field(channel_field::kApid);
    values.vecm = field(channel_field::kVecm);
    values.aecm = field(channel_field::kAecm);
    values.pcr = field(channel_field::kPcr);
    return values;
}

// ---- Undo ----

void ChannelListModel::undo() {
    if (m_history.undo(m_state)) {
        changed();
    }
}

void ChannelListModel::redo() {
    if (m_history.redo(m_state)) {
        changed();
    }
}

} // namespace corvex::channels
