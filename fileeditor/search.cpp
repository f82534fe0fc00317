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
