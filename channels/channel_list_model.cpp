#include "channels/channel_list_model.h"

#include <algorithm>
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

void ChannelListModel::reset(std::vector<Line> lines) {
    m_state.selection.assign(lines.size(), false);
    m_state.lines = std::move(lines);
    m_state.cursor = ListCursor{};
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

void ChannelListModel::setSelected(std::size_t index, bool selected) {
    if (index < size()) {
        m_state.selection[index] = selected;
        changed();
    }
}

void ChannelListModel::setCurrent(std::optional<std::size_t> index) {
    if (!index || *index < size()) {
        m_state.cursor.current = index;
        changed();
    }
}

void ChannelListModel::setTop(std::size_t index) {
    if (index < size()) {
        m_state.cursor.top = index;
        changed();
    }
}

void ChannelListModel::selectOnly(std::size_t index) {
    if (index < size()) {
        m_state.selection.assign(size(), false);
        m_state.selection[index] = true;
        m_state.cursor.current = index;
        changed();
    }
}

void ChannelListModel::deselectAll() {
    m_state.selection.assign(size(), false);
    changed();
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

void ChannelListModel::insertClipboard(std::size_t at, bool select) {
    const std::vector<Line>& entries = *m_clipboard;
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

std::optional<Notice> ChannelListModel::replaceFrom(std::size_t from) {
    std::vector<Line>& lines = m_state.lines;
    std::vector<bool>& selection = m_state.selection;
    const std::vector<Line>& entries = *m_clipboard;
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

// ---- Editing ----

void ChannelListModel::copy() {
    m_clipboard = selectedCopy();
}

void ChannelListModel::cut() {
    const std::vector<std::size_t> selected = selectedLines();
    m_clipboard = selectedCopy();
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

void ChannelListModel::paste() {
    if (!m_clipboard || m_clipboard->empty()) {
        return;
    }
    edit([&] { insertClipboard(m_state.cursor.current.value_or(size()), true); });
}

void ChannelListModel::pasteAfter() {
    if (!m_clipboard || m_clipboard->empty()) {
        return;
    }
    edit([&] {
        if (!m_state.cursor.current && size() > 0) {
            m_state.cursor.current = size() - 1;
        }
        insertClipboard(m_state.cursor.current ? *m_state.cursor.current + 1 : 0, false);
    });
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
    if (!current || *current >= size() || !m_clipboard || m_clipboard->empty()) {
        return std::nullopt;
    }
    std::optional<Notice> notice;
    edit([&] { notice = replaceFrom(*current); });
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
            clearSelected();
            if (belowEnd) {
                m_state.cursor.current = lines.size() - 1;
                insertClipboard(lines.size(), false);
            } else if (m_advancedDragDrop) {
                result.notice = replaceFrom(onto);
            } else {
                m_state.cursor.current = onto;
                insertClipboard(onto, true);
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

// ---- Selecting ----

void ChannelListModel::inverseSelection() {
    m_state.selection.flip();
    changed();
}

std::optional<Notice> ChannelListModel::selectAll(const ChannelFlags& boxes) {
    if (size() == 0) {
        return std::nullopt;
    }
    if (selectedCount() < size()) {
        m_state.selection.assign(size(), true);
        changed();
        return std::nullopt;
    }
    const unsigned wanted = channelFlagMask(boxes);
    std::size_t found = 0;
    for (std::size_t i = 0; i < size(); ++i) {
        const bool match = channelFlagMask(m_state.lines[i].text) == wanted;
        m_state.selection[i] = match;
        found += match ? 1 : 0;
    }
    changed();
    return Notice{std::to_string(found) + std::string(kFoundSuffix), ""};
}

std::optional<Notice> ChannelListModel::selectTransponderChannels(long number) {
    std::optional<std::size_t> first;
    for (std::size_t i = 0; i < size(); ++i) {
        const bool match =
            fieldNumber(m_state.lines[i].text, channel_field::kTransponder) == number;
        m_state.selection[i] = match;
        if (match && !first) {
            first = i;
        }
    }
    if (first) {
        m_state.cursor.top = *first;
    }
    changed();
    if (!first) {
        return Notice{std::string(kNoChannelsFound), std::string(kMessageTitle)};
    }
    return std::nullopt;
}

void ChannelListModel::selectCategory() {
    const auto current = m_state.cursor.current;
    if (!current || *current >= size()) {
        return;
    }
    const std::string category(fieldText(m_state.lines[*current].text, channel_field::kCategory));
    std::optional<std::size_t> first;
    for (std::size_t i = 0; i < size(); ++i) {
        const bool match = fieldText(m_state.lines[i].text, channel_field::kCategory) == category;
        m_state.selection[i] = match;
        if (match && !first) {
            first = i;
        }
    }
    m_state.cursor.current = first;
    m_state.cursor.top = first.value_or(m_state.cursor.top);
    changed();
}

void ChannelListModel::showLine(std::size_t index) {
    if (index < size()) {
        m_state.selection.assign(size(), false);
        m_state.selection[index] = true;
        m_state.cursor.current = index;
        m_state.cursor.top = index;
        changed();
    }
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
