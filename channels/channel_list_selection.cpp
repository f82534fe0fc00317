#include "channels/channel_list_model.h"

#include <algorithm>

// The channel list's cursor and selection: the clicks and keys of the list and the selecting
// commands of its menu. None of them is an edit: undo passes them by.
namespace corvex::channels {

void ChannelListModel::setSelected(std::size_t index, bool selected) {
    if (index < size()) {
        m_state.selection[index] = selected;
        changed();
    }
}

void ChannelListModel::setCurrent(std::optional<std::size_t> index) {
    if (!index || *index < size()) {
        m_state.cursor.current = index;
        m_anchor = index;
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
        m_anchor = index;
        changed();
    }
}

void ChannelListModel::deselectAll() {
    m_state.selection.assign(size(), false);
    changed();
}

void ChannelListModel::extendSelection(std::size_t index) {
    if (index >= size()) {
        return;
    }
    // An anchor an edit left past the end falls back to the current line.
    std::size_t anchor = m_anchor.value_or(m_state.cursor.current.value_or(index));
    if (anchor >= size()) {
        anchor = m_state.cursor.current.value_or(index);
    }
    m_anchor = anchor;
    m_state.selection.assign(size(), false);
    std::fill(m_state.selection.begin() + static_cast<std::ptrdiff_t>(std::min(anchor, index)),
              m_state.selection.begin() + static_cast<std::ptrdiff_t>(std::max(anchor, index)) + 1,
              true);
    m_state.cursor.current = index;
    changed();
}

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

} // namespace corvex::channels
