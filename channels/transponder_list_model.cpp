#include "channels/transponder_list_model.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <utility>

namespace corvex::channels {

namespace {

// Channel transponder fields come from one byte.
constexpr std::size_t kTransponderNumbers = 256;

Line subLine(const Line& channel, std::size_t index) {
    char number[16];
    std::snprintf(number, sizeof number, "%5zu;", index + 1);
    return Line{channel.text + number, channel.reference};
}

/// The position of the transponder line that `index` belongs to (itself, or the nearest one
/// above), counted among transponder lines only.
std::optional<std::size_t> owningTransponder(const std::vector<Line>& lines, std::size_t index) {
    if (index >= lines.size()) {
        return std::nullopt;
    }
    std::optional<std::size_t> ordinal;
    for (std::size_t i = 0; i <= index; ++i) {
        if ((lines[i].reference & kTransponderLineFlag) != 0) {
            ordinal = ordinal ? *ordinal + 1 : 0;
        }
    }
    return ordinal;
}

std::optional<std::size_t> transponderAt(const std::vector<Line>& lines, std::size_t ordinal) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if ((lines[i].reference & kTransponderLineFlag) != 0 && seen++ == ordinal) {
            return i;
        }
    }
    return std::nullopt;
}

} // namespace

TransponderLineKind transponderLineKind(std::uint32_t reference) {
    if ((reference & kTransponderLineFlag) != 0) {
        return TransponderLineKind::Transponder;
    }
    switch (reference & kLineKindMask) {
    case kSpacerLineKind:
        return TransponderLineKind::Spacer;
    case kHeaderLineKind:
        return TransponderLineKind::Header;
    case kFooterLineKind:
        return TransponderLineKind::Footer;
    default:
        return TransponderLineKind::ChannelSubLine;
    }
}

void TransponderListModel::reset(std::vector<Line> lines) {
    m_lines = std::move(lines);
    m_current.reset();
    m_top = 0;
}

void TransponderListModel::setCurrent(std::optional<std::size_t> index) {
    if (!index || *index < size()) {
        m_current = index;
    }
}

void TransponderListModel::setTop(std::size_t index) {
    if (index < size()) {
        m_top = index;
    }
}

std::optional<long> TransponderListModel::transponderNumber(std::size_t index) const {
    if (index >= size() || kind(index) != TransponderLineKind::Transponder) {
        return std::nullopt;
    }
    std::string_view text = splitField(m_lines[index].text, 0);
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    long number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return number;
}

std::optional<std::size_t> TransponderListModel::findTransponder(long number) const {
    for (std::size_t i = 0; i < size(); ++i) {
        if (transponderNumber(i) == number) {
            return i;
        }
    }
    return std::nullopt;
}

bool TransponderListModel::isExpanded(std::size_t index) const {
    return index + 1 < size() && kind(index) == TransponderLineKind::Transponder &&
           kind(index + 1) != TransponderLineKind::Transponder;
}

void TransponderListModel::appendBlock(std::vector<Line>& out, std::span<const Line> channels,
                                       std::span<const std::size_t> members) const {
    out.push_back(Line{"", kSpacerLineKind});
    out.push_back(Line{"", kHeaderLineKind});
    for (const std::size_t member : members) {
        out.push_back(subLine(channels[member], member));
    }
    out.push_back(Line{std::to_string(members.size()), kFooterLineKind});
}

bool TransponderListModel::expand(std::size_t index, std::span<const Line> channels) {
    const std::optional<long> number = transponderNumber(index);
    if (!number || isExpanded(index)) {
        return false;
    }
    std::vector<std::size_t> members;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (fieldNumber(channels[i].text, channel_field::kTransponder) == *number) {
            members.push_back(i);
        }
    }
    if (members.empty()) {
        return false;
    }
    std::vector<Line> block;
    appendBlock(block, channels, members);
    const auto at = m_lines.begin() + static_cast<std::ptrdiff_t>(index + 1);
    m_lines.insert(at, std::make_move_iterator(block.begin()),
                   std::make_move_iterator(block.end()));
    if (m_current && *m_current > index) {
        *m_current += block.size();
    }
    return true;
}

std::optional<Notice> TransponderListModel::toggleChannels(std::span<const Line> channels) {
    if (!m_current || kind(*m_current) != TransponderLineKind::Transponder) {
        return std::nullopt;
    }
    const std::size_t t = *m_current;
    if (isExpanded(t)) {
        // Up to its footer; a block without one (never built here) ends at the next transponder.
        std::size_t end = t + 1;
        while (end < size() && kind(end) != TransponderLineKind::Footer &&
               kind(end) != TransponderLineKind::Transponder) {
            ++end;
        }
        if (end < size() && kind(end) == TransponderLineKind::Footer) {
            ++end;
        }
        m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(t + 1),
                      m_lines.begin() + static_cast<std::ptrdiff_t>(end));
        m_top = std::min(m_top, m_lines.size() - 1);
        return std::nullopt;
    }
    if (!transponderNumber(t) || expand(t, channels)) {
        return std::nullopt;
    }
    return Notice{std::string(kNoChannelsConnected), std::string(kMessageTitle)};
}

template <typename Build> void TransponderListModel::rebuild(Build&& build) {
    const auto currentOwner = m_current ? owningTransponder(m_lines, *m_current) : std::nullopt;
    const auto topOwner = owningTransponder(m_lines, m_top);
    std::vector<Line> rebuilt;
    rebuilt.reserve(m_lines.size());
    std::forward<Build>(build)(rebuilt);
    m_lines = std::move(rebuilt);
    m_current = currentOwner ? transponderAt(m_lines, *currentOwner) : std::nullopt;
    m_top = topOwner ? transponderAt(m_lines, *topOwner).value_or(0) : 0;
}

void TransponderListModel::expandAll(std::span<const Line> channels) {
    if (m_lines.empty()) {
        return;
    }
    // One pass over the channels into buckets per transponder number, then one pass over the
    // transponders: the same list as expanding each transponder in turn, in linear time.
    std::array<std::vector<std::size_t>, kTransponderNumbers> members;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const std::optional<long> number =
            fieldNumber(channels[i].text, channel_field::kTransponder);
        if (number && *number >= 0 && static_cast<std::size_t>(*number) < kTransponderNumbers) {
            members[static_cast<std::size_t>(*number)].push_back(i);
        }
    }
    rebuild([&](std::vector<Line>& out) {
        out.reserve(m_lines.size() + channels.size() + 4 * kTransponderNumbers);
        for (std::size_t i = 0; i < m_lines.size(); ++i) {
            if (kind(i) != TransponderLineKind::Transponder) {
                continue;
            }
            const std::optional<long> number = transponderNumber(i);
            out.push_back(m_lines[i]);
            if (number && *number >= 0 && static_cast<std::size_t>(*number) < kTransponderNumbers &&
                !members[static_cast<std::size_t>(*number)].empty()) {
                appendBlock(out, channels, members[static_cast<std::size_t>(*number)]);
            }
        }
    });
}

void TransponderListModel::collapseAll() {
    rebuild([&](std::vector<Line>& out) {
        for (std::size_t i = 0; i < m_lines.size(); ++i) {
            if (kind(i) == TransponderLineKind::Transponder) {
                out.push_back(m_lines[i]);
            }
        }
    });
}

} // namespace corvex::channels
