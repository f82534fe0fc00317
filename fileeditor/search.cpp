#include "search.h"

#include "link/jobs/plain_text.h"
#include "work_files.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvex::fileeditor {

namespace {

constexpr std::size_t kSampleBytes = std::size_t{64} << 10;
// Bytes that must stay in the buffer from one block to the next: the context before the first
// start not yet examined, and the rest of a pattern or context that runs past a block.
constexpr std::size_t kCarryBytes = kContextBeforeMatch + kContextBytes;

constexpr std::array<char, 256> kShownChar = [] {
    std::array<char, 256> shown{};
    for (std::size_t byte = 0; byte < shown.size(); ++byte) {
        shown[byte] = byte >= 32 && byte <= 122 ? static_cast<char>(byte) : '.';
    }
    return shown;
}();

// Lower-cases the ASCII letters of `size` bytes into `to`; every other byte is copied as it is.
// A case-blind search folds the pattern and each block alike and then compares exactly, so the
// finder below serves both kinds of search.
void foldAsciiCase(const std::uint8_t* from, std::size_t size, std::uint8_t* to) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Shifted so that 'A'..'Z' land on the 26 lowest signed byte values.
    const __m128i shift = _mm_set1_epi8(static_cast<char>(0x80 - 'A'));
    const __m128i bound = _mm_set1_epi8(static_cast<char>(0x80 + 26));
    const __m128i lowerBit = _mm_set1_epi8(0x20);
    for (; size - i >= 16; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        const __m128i upper = _mm_cmplt_epi8(_mm_add_epi8(bytes, shift), bound);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i),
                         _mm_or_si128(bytes, _mm_and_si128(upper, lowerBit)));
    }
#endif
    for (; i < size; ++i) {
        const std::uint8_t byte = from[i];
        to[i] =
            static_cast<unsigned>(byte - 'A') < 26U ? static_cast<std::uint8_t>(byte | 0x20) : byte;
    }
}

// Finds the pattern with memchr on its rarest byte and a compare at each hit. Data in which
// that byte is common anyway (a run of the pattern's own bytes) would make every byte a hit, so
// after too many hits that are no match the rest of the range goes to memmem, whose cost does
// not depend on how often a single byte occurs.
class Finder {
public:
    Finder(std::span<const std::uint8_t> pattern, std::span<const std::uint8_t> sample)
        : m_pattern(pattern) {
        std::array<std::uint32_t, 256> counts{};
        for (const std::uint8_t byte : sample) {
            ++counts[byte];
        }
        for (std::size_t i = 1; i < pattern.size(); ++i) {
            if (counts[pattern[i]] < counts[pattern[m_rare]]) {
                m_rare = i;
            }
        }
    }

    // Calls onMatch for every start in [begin, end - size + 1) where the pattern lies.
    template <typename OnMatch>
    void findAll(const std::uint8_t* begin, const std::uint8_t* end, OnMatch&& onMatch) const {
        const std::size_t size = m_pattern.size();
        if (static_cast<std::size_t>(end - begin) < size) {
            return;
        }
        if (size == 1) {
            findByte(begin, end, onMatch);
            return;
        }
        const std::uint8_t* const lastStart = end - size;
        const std::uint8_t rareByte = m_pattern[m_rare];
        const std::uint8_t* at = begin;
        std::size_t misses = 0;
        while (at <= lastStart) {
            const auto* hit = static_cast<const std::uint8_t*>(
                std::memchr(at + m_rare, rareByte, static_cast<std::size_t>(lastStart - at) + 1));
            if (hit == nullptr) {
                return;
            }
            const std::uint8_t* const start = hit - m_rare;
            at = start + 1;
            if (std::memcmp(start, m_pattern.data(), size) == 0) {
                onMatch(start);
            } else if (++misses > 64 + static_cast<std::size_t>(start - begin) / 16) {
                break;
            }
        }
        while (at <= lastStart) {
            const auto* start = static_cast<const std::uint8_t*>(
                ::memmem(at, static_cast<std::size_t>(end - at), m_pattern.data(), size));
            if (start == nullptr) {
                return;
            }
            onMatch(start);
            at = start + 1;
        }
    }

private:
    // One byte: memchr while it is scarce. Where it comes thick (an erased area searched for FF)
    // a call per hit costs more than testing 16 bytes at a time and taking the hits from a mask.
    template <typename OnMatch>
    void findByte(const std::uint8_t* begin, const std::uint8_t* end, OnMatch&& onMatch) const {
        const std::uint8_t byte = m_pattern[0];
        const std::uint8_t* at = begin;
        std::size_t hits = 0;
        while (at < end) {
            const auto* hit = static_cast<const std::uint8_t*>(
                std::memchr(at, byte, static_cast<std::size_t>(end - at)));
            if (hit == nullptr) {
                return;
            }
            onMatch(hit);
            at = hit + 1;
            if (++hits > 64 + static_cast<std::size_t>(at - begin) / 64) {
                break;
            }
        }
#if defined(__SSE2__)
        const __m128i wanted = _mm_set1_epi8(static_cast<char>(byte));
        for (; end - at >= 16; at += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
            auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted)));
            while (mask != 0) {
                onMatch(at + std::countr_zero(mask));
                mask &= mask - 1;
            }
        }
#endif
        for (; at < end; ++at) {
            if (*at == byte) {
                onMatch(at);
            }
        }
    }

    std::span<const std::uint8_t> m_pattern;
    std::size_t m_rare = 0;
};

// The columns keep eight digits up to 4 GiB and grow past it: an address cut to 32 bits would
// name another byte.
std::string resultColumns(std::uint64_t address, std::uint64_t offset) {
    std::array<char, 48> columns{};
    const int length = std::snprintf(columns.data(), columns.size(), " %8.8llX   %8.8llX   ",
                                     static_cast<unsigned long long>(address),
                                     static_cast<unsigned long long>(offset));
    return {columns.data(), static_cast<std::size_t>(length)};
}

} // namespace

std::vector<std::uint8_t> buildPattern(std::string_view text, PatternMode mode) {
    std::vector<std::uint8_t> pattern;
    if (mode == PatternMode::Text) {
        text = text.substr(0, kMaxPatternBytes);
        pattern.assign(text.begin(), text.end());
    } else if (mode == PatternMode::Hexadecimal) {
        int high = -1;
        for (const char c : text) {
            const int digit = link::hexDigitValue(c);
            if (digit < 0) {
                continue;
            }
            if (high < 0) {
                high = digit;
                continue;
            }
            pattern.push_back(static_cast<std::uint8_t>(high << 4 | digit));
            high = -1;
            if (pattern.size() == kMaxPatternBytes) {
                break;
            }
        }
    }
    return pattern;
}

std::optional<Notice> refuseSearchButton(PatternMode mode) {
    if (mode == PatternMode::Binary) {
        return Notice{"Info", std::string(kNotImplementedText)};
    }
    return std::nullopt;
}

void rememberPattern(std::vector<std::string>& history, const std::string& text) {
    const auto found = std::find(history.begin(), history.end(), text);
    if (found == history.end()) {
        history.insert(history.begin(), text);
    } else {
        std::iter_swap(history.begin(), found);
    }
}

namespace {

// The scan behind scanFile, with the sink's type known, so that a sink as small as one list
// line per match is inlined rather than called through std::function millions of times.
template <typename Sink>
ScanEnd scanBlocks(int fd, std::span<const std::uint8_t> pattern, Sink&& sink,
                   const SearchControl& control, std::size_t blockBytes,
                   CaseMatch caseMatch = CaseMatch::Exact) {
    pattern = pattern.first(std::min(pattern.size(), kMaxPatternBytes));
    if (pattern.empty()) {
        return ScanEnd::Completed;
    }
    const bool fold = caseMatch == CaseMatch::IgnoreAsciiCase;
    std::array<std::uint8_t, kMaxPatternBytes> foldedPattern{};
    if (fold) {
        foldAsciiCase(pattern.data(), pattern.size(), foldedPattern.data());
        pattern = std::span(foldedPattern.data(), pattern.size());
    }
    struct stat status {};
    const std::uint64_t total =
        ::fstat(fd, &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;

    // buffer[0] holds the byte at file offset bufferStart; starts before `next` were examined.
    std::vector<std::uint8_t> buffer(std::max(blockBytes, kCarryBytes) + kCarryBytes);
    // What the finder looks at: the buffer itself, or its folded copy for a case-blind search
    // (the context always comes from the buffer).
    std::vector<std::uint8_t> folded(fold ? buffer.size() : 0);
    const std::uint8_t* const haystack = fold ? folded.data() : buffer.data();
    std::uint64_t bufferStart = 0;
    std::size_t filled = 0;
    std::uint64_t next = 0;
    std::optional<Finder> finder;
    while (true) {
        if (control.cancel != nullptr && control.cancel->load(std::memory_order_relaxed)) {
            return ScanEnd::Cancelled;
        }
        const ssize_t got =
            preadCount(fd, buffer.data() + filled, buffer.size() - filled, bufferStart + filled);
        if (got < 0) {
            return ScanEnd::ReadFailed;
        }
        const bool atEnd = filled + static_cast<std::size_t>(got) < buffer.size();
        filled += static_cast<std::size_t>(got);
        if (fold) {
            foldAsciiCase(buffer.data(), filled, folded.data());
        }
        if (!finder) {
            finder.emplace(pattern, std::span(haystack, std::min(filled, kSampleBytes)));
        }
        const std::uint64_t bufferEnd = bufferStart + filled;
        // Before the end of the file, stop where a match's context could still run past the
        // buffer; those starts are examined with the next block.
        const std::uint64_t limit =
            atEnd ? std::max(next,
                             bufferEnd + 1 - std::min<std::uint64_t>(bufferEnd + 1, pattern.size()))
                  : bufferEnd - (kContextBytes - 1);
        const std::uint64_t scanEnd = std::min(bufferEnd, limit + pattern.size() - 1);
        finder->findAll(
            haystack + (next - bufferStart), haystack + (scanEnd - bufferStart),
            [&](const std::uint8_t* start) {
                const auto offset = bufferStart + static_cast<std::uint64_t>(start - haystack);
                const std::uint64_t from =
                    offset < kContextBeforeMatch ? 0 : offset - kContextBeforeMatch;
                const std::uint64_t to = std::min(from + kContextBytes, bufferEnd);
                sink(offset, std::span(buffer.data() + (from - bufferStart), to - from));
            });
        if (control.progress) {
            control.progress(atEnd ? bufferEnd : limit, std::max(total, bufferEnd));
        }
        if (atEnd) {
            return ScanEnd::Completed;
        }
        next = limit;
        const std::uint64_t keepFrom = next - std::min<std::uint64_t>(next, kContextBeforeMatch);
        filled = static_cast<std::size_t>(bufferEnd - keepFrom);
        std::memmove(buffer.data(), buffer.data() + (keepFrom - bufferStart), filled);
        bufferStart = keepFrom;
    }
}

} // namespace

ScanEnd scanFile(int fd, std::span<const std::uint8_t> pattern, const MatchSink& sink,
                 const SearchControl& control, std::size_t blockBytes, CaseMatch caseMatch) {
    return scanBlocks(fd, pattern, sink, control, blockBytes, caseMatch);
}

std::string matchLine(std::uint64_t address, std::uint64_t offset,
                      std::span<const std::uint8_t> context) {
    std::string line = resultColumns(address, offset);
    for (const std::uint8_t byte : context) {
        line += kShownChar[byte];
    }
    return line;
}

std::string searchStatusLine(ScanEnd end, std::uint64_t matches) {
    const std::string count = std::to_string(matches);
    switch (end) {
    case ScanEnd::Completed:
        return "COMPLETED OK - Found " + count + " matches.";
    case ScanEnd::Cancelled:
        return "CANCELLED - Found " + count + " matches.";
    case ScanEnd::ReadFailed:
        break;
    }
    return "READ ERROR - Found " + count + " matches.";
}

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

SearchSummary searchWorkFile(const std::string& workFile, std::span<const std::uint8_t> pattern,
                             std::uint32_t baseAddress, SearchResults& results,
                             const SearchControl& control, CaseMatch caseMatch) {
    SearchSummary summary;
    const std::size_t overflowsBefore = results.overflows();
    results.beginSearch();
    const int fd = ::open(workFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        summary.end = ScanEnd::ReadFailed;
    } else {
        // A full list is cleared by the next line, so only the last capacity() matches can be in
        // it at the end: the scan keeps just their offsets, and their lines are made afterwards.
        // A one-byte pattern can match millions of times; writing a line with its context for
        // each would cost more than finding them.
        const std::size_t ringSize = results.capacity();
        std::vector<std::uint64_t> lastOffsets;
        std::size_t slot = 0; // matches % ringSize, without a division per match
        summary.end = scanBlocks(
            fd, pattern,
            [&](std::uint64_t offset, std::span<const std::uint8_t>) {
                if (lastOffsets.size() < ringSize) {
                    lastOffsets.push_back(offset);
                } else {
                    lastOffsets[slot] = offset;
                }
                if (++slot == ringSize) {
                    slot = 0;
                }
                ++summary.matches;
            },
            control, kScanBlockBytes, caseMatch);
        if (!results.addMatchesFromFile(fd, summary.matches, lastOffsets, baseAddress)) {
            summary.end = ScanEnd::ReadFailed;
        }
        ::close(fd);
    }
    results.addStatus(searchStatusLine(summary.end, summary.matches));
    results.endSearch();
    if (results.overflows() != overflowsBefore) {
        summary.notice = Notice{"Info", std::string(kBufferFullText)};
    }
    return summary;
}

std::optional<std::uint64_t> findNearest(int fd, std::span<const std::uint8_t> pattern,
                                         std::uint64_t from, std::uint64_t end, bool forward,
                                         CaseMatch caseMatch) {
    pattern = pattern.first(std::min(pattern.size(), kMaxPatternBytes));
    const auto size = fileSizeOf(fd);
    if (pattern.empty() || !size) {
        return std::nullopt;
    }
    end = std::min(end, *size);
    const bool fold = caseMatch == CaseMatch::IgnoreAsciiCase;
    std::array<std::uint8_t, kMaxPatternBytes> foldedPattern{};
    if (fold) {
        foldAsciiCase(pattern.data(), pattern.size(), foldedPattern.data());
        pattern = std::span(foldedPattern.data(), pattern.size());
    }
    // Blocks overlap by the pattern's length less one, so a match across a boundary is seen once.
    const std::uint64_t overlap = pattern.size() - 1;
    std::vector<std::uint8_t> block(kScanBlockBytes + overlap);
    std::optional<Finder> finder;
    // Looks at the starts in [low, high - pattern size]: the first, or the last, match there.
    const auto look = [&](std::uint64_t low, std::uint64_t high) -> std::optional<std::uint64_t> {
        const auto got = preadAll(fd, block.data(), static_cast<std::size_t>(high - low), low);
        if (!got) {
            return std::nullopt;
        }
        if (fold) {
            foldAsciiCase(block.data(), *got, block.data());
        }
        if (!finder) {
            finder.emplace(pattern, std::span(block.data(), std::min(*got, kSampleBytes)));
        }
        std::optional<std::uint64_t> found;
        finder->findAll(block.data(), block.data() + *got, [&](const std::uint8_t* start) {
            if (!forward || !found) {
                found = low + static_cast<std::uint64_t>(start - block.data());
            }
        });
        return found;
    };
    if (forward) {
        for (std::uint64_t low = from; low < end && end - low >= pattern.size();) {
            const std::uint64_t high = std::min<std::uint64_t>(end, low + block.size());
            if (const auto found = look(low, high)) {
                return found;
            }
            if (high == end) {
                break;
            }
            low = high - overlap;
        }
        return std::nullopt;
    }
    // Backward: the last start below `from` ends by from - 1 + pattern size.
    std::uint64_t high = from == 0 ? 0 : std::min<std::uint64_t>(end, from + overlap);
    while (high >= pattern.size()) {
        const std::uint64_t low = high > block.size() ? high - block.size() : 0;
        if (const auto found = look(low, high)) {
            return found;
        }
        if (low == 0) {
            break;
        }
        high = low + overlap;
    }
    return std::nullopt;
}

} // namespace corvex::fileeditor
