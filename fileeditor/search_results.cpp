#include "fileeditor/search.h"
#include "fileeditor/work_files.h"

#include <algorithm>

// The "Search Results" list: match, difference and status lines in a ring of fixed capacity, the
// navigation over the last search's matches, and the jump to a selected line.
namespace corvex::fileeditor {

SearchResults::SearchResults(std::size_t capacity)
    : m_capacity(std::max<std::size_t>(capacity, 1)) {}

std::string SearchResults::text(std::size_t index) const {
    const Line& line = m_lines[index];
    if (line.kind == Kind::Status) {
        return {reinterpret_cast<const char*>(line.text.data()), line.textLength};
    }
    return matchLine(line.address, line.offset, std::span(line.text.data(), line.textLength));
}

SearchResults::Line& SearchResults::append() {
    if (m_lines.size() >= m_capacity) [[unlikely]] {
        m_lines.clear();
        ++m_overflows;
        if (m_first >= 0) {
            m_first = 0; // the search still running goes on from the top of the emptied list
        }
    }
    return m_lines.emplace_back();
}

void SearchResults::addMatch(std::uint64_t address, std::uint64_t offset,
                             std::span<const std::uint8_t> context) {
    Line& line = append();
    line.address = address;
    line.offset = offset;
    line.kind = Kind::Match;
    // Stored as read; turned into characters only when the line is shown.
    line.textLength = static_cast<std::uint8_t>(std::min(context.size(), kContextBytes));
    std::copy_n(context.begin(), line.textLength, line.text.begin());
}

bool SearchResults::addMatchesFromFile(int fd, std::uint64_t count,
                                       std::span<const std::uint64_t> lastOffsets,
                                       std::uint64_t baseAddress) {
    const std::uint64_t room = m_capacity - m_lines.size();
    std::uint64_t kept = count;
    if (count > room) {
        // The first line past the room clears the list, and so does every capacity-th after it.
        const std::uint64_t afterFirstClear = count - room;
        m_overflows += static_cast<std::size_t>(1 + (afterFirstClear - 1) / m_capacity);
        m_lines.clear();
        if (m_first >= 0) {
            m_first = 0;
        }
        kept = (afterFirstClear - 1) % m_capacity + 1;
    }
    const std::size_t firstNew = m_lines.size();
    for (std::uint64_t n = count - kept; n < count; ++n) {
        const std::uint64_t offset = lastOffsets[static_cast<std::size_t>(n % m_capacity)];
        m_lines.push_back(Line{baseAddress + offset, offset, {}, 0, Kind::Match});
    }

    // Contexts that lie close together are read in one go; far apart ones each on their own,
    // so a few matches in a large file do not read it all again.
    constexpr std::uint64_t kJoinGap = std::uint64_t{16} << 10;
    const auto contextStart = [](std::uint64_t offset) {
        return offset < kContextBeforeMatch ? 0 : offset - kContextBeforeMatch;
    };
    std::vector<std::uint8_t> buffer;
    for (std::size_t i = firstNew; i < m_lines.size();) {
        const std::uint64_t from = contextStart(m_lines[i].offset);
        std::uint64_t to = from + kContextBytes;
        std::size_t next = i + 1;
        while (next < m_lines.size()) {
            const std::uint64_t nextFrom = contextStart(m_lines[next].offset);
            if (nextFrom > to + kJoinGap || nextFrom + kContextBytes - from > kScanBlockBytes) {
                break;
            }
            to = nextFrom + kContextBytes;
            ++next;
        }
        buffer.resize(static_cast<std::size_t>(to - from));
        const ssize_t got = preadCount(fd, buffer.data(), buffer.size(), from);
        if (got < 0) {
            return false;
        }
        for (; i < next; ++i) {
            Line& line = m_lines[i];
            const std::uint64_t at = contextStart(line.offset) - from;
            const std::uint64_t length = std::min<std::uint64_t>(
                kContextBytes, static_cast<std::uint64_t>(got) - std::min<std::uint64_t>(at, got));
            std::copy_n(buffer.begin() + static_cast<long>(at), length, line.text.begin());
            line.textLength = static_cast<std::uint8_t>(length);
        }
    }
    return true;
}

void SearchResults::addDifference(std::uint64_t address, std::uint64_t offset) {
    Line& line = append();
    line.address = address;
    line.offset = offset;
    line.kind = Kind::Difference;
    line.textLength = 0;
}

void SearchResults::addStatus(std::string_view text) {
    Line& line = append();
    line.address = 0;
    line.offset = 0;
    line.kind = Kind::Status;
    text = text.substr(0, kContextBytes);
    line.textLength = static_cast<std::uint8_t>(text.size());
    std::copy(text.begin(), text.end(), line.text.begin());
}

void SearchResults::forgetSearch() {
    m_first = -1;
    m_last = -1;
    m_current = -1;
}

void SearchResults::erase(std::vector<std::size_t> indices) {
    std::sort(indices.begin(), indices.end());
    std::size_t kept = 0;
    auto selected = indices.begin();
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        while (selected != indices.end() && *selected < i) {
            ++selected;
        }
        if (selected != indices.end() && *selected == i) {
            continue;
        }
        m_lines[kept++] = m_lines[i];
    }
    m_lines.resize(kept);
    forgetSearch();
}

void SearchResults::clear() {
    m_lines.clear();
    forgetSearch();
}

void SearchResults::beginSearch() {
    m_first = static_cast<long>(m_lines.size());
    m_last = -1;
    m_current = -1;
}

void SearchResults::endSearch() {
    // The status line closes the search; its match lines are the ones between.
    const long lastMatch = static_cast<long>(m_lines.size()) - 2;
    if (m_first < 0 || lastMatch < m_first) {
        forgetSearch();
        return;
    }
    m_last = lastMatch;
    m_current = m_first;
}

long SearchResults::previousResult() {
    if (!canGoPrevious()) {
        return -1;
    }
    return --m_current;
}

long SearchResults::nextResult() {
    if (!canGoNext()) {
        return -1;
    }
    return ++m_current;
}

JumpChoice SearchResults::jumpChoice(const std::vector<std::size_t>& selected) const {
    if (selected.size() > 1) {
        return {std::nullopt, Notice{"Info", "Cannot jump to multiple addresses.\rPlease select "
                                             "one item and try again."}};
    }
    if (selected.empty() || selected.front() >= m_lines.size()) {
        return {};
    }
    if (isStatus(selected.front())) {
        return {std::nullopt, Notice{"Info", "Cannot jump, you selected a status line.\rPlease "
                                             "select another item and try again."}};
    }
    return {offset(selected.front()), std::nullopt};
}

} // namespace corvex::fileeditor
