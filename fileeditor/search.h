#pragma once

#include "fileeditor/notice.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::fileeditor {

inline constexpr std::size_t kMaxPatternBytes = 64;
inline constexpr std::size_t kContextBytes = 64;       // shown after a match line's two columns
inline constexpr std::size_t kContextBeforeMatch = 16; // the context starts this far before it
inline constexpr std::size_t kScanBlockBytes = std::size_t{1} << 20;
inline constexpr std::size_t kResultCapacity = std::size_t{1} << 18;

inline constexpr std::string_view kNotImplementedText = "Not yet implemented !";
inline constexpr std::string_view kBufferFullText = "Repeat operation, buffer was full !";

enum class PatternMode { Text, Hexadecimal, Binary };

/// The bytes to search for, from the pattern box's text: text as it stands, or the hexadecimal
/// digits in it taken in pairs (a lone last digit dropped); at most 64 bytes. Binary mode has
/// no builder yet and gives the empty pattern, which matches nowhere.
[[nodiscard]] std::vector<std::uint8_t> buildPattern(std::string_view text, PatternMode mode);

/// The search button's refusal: binary patterns cannot be entered yet.
[[nodiscard]] std::optional<Notice> refuseSearchButton(PatternMode mode);

/// Puts a pattern just searched for at the top of the pattern history: an entry already there
/// swaps places with the first one, a new one is inserted before it.
void rememberPattern(std::vector<std::string>& history, const std::string& text);

// How a scan is watched and stopped from outside. Both are used on the scanning thread, once
// per block.
struct SearchControl {
    const std::atomic<bool>* cancel = nullptr; // set by any thread to stop the scan
    std::function<void(std::uint64_t bytesDone, std::uint64_t bytesTotal)> progress;
};

enum class ScanEnd { Completed, Cancelled, ReadFailed };

// How the pattern's bytes compare with the file's: exactly, or with the ASCII letters folded
// (A-Z and a-z alike, every other byte still exactly).
enum class CaseMatch { Exact, IgnoreAsciiCase };

// Receives each match in order: its offset and the context bytes, which start 16 bytes before
// the match (at 0 near the start of the file) and run for 64 bytes or to the end of the file.
using MatchSink = std::function<void(std::uint64_t offset, std::span<const std::uint8_t> context)>;

/// Finds every offset of `fd`'s file where `pattern` starts, overlapping ones included, reading
/// blocks of `blockBytes` with pread (the file position is not used). An empty pattern matches
/// nowhere. The context passed to the sink is the file's bytes as they are, whatever `caseMatch`.
ScanEnd scanFile(int fd, std::span<const std::uint8_t> pattern, const MatchSink& sink,
                 const SearchControl& control = {}, std::size_t blockBytes = kScanBlockBytes,
                 CaseMatch caseMatch = CaseMatch::Exact);

/// The match line as the results list shows it: " %8.8X   %8.8X   " with base + offset and
/// offset (more digits past 4 GiB), then each context byte as its character when it is 32..122 and
/// as "." otherwise.
[[nodiscard]] std::string matchLine(std::uint64_t address, std::uint64_t offset,
                                    std::span<const std::uint8_t> context);
/// The line that closes a search: "COMPLETED OK - Found %d matches." when it ran to the end.
[[nodiscard]] std::string searchStatusLine(ScanEnd end, std::uint64_t matches);

// A jump to a selected result line: the file offset it carries, or the notice refusing it;
// neither when nothing is selected.
struct JumpChoice {
    std::optional<std::uint64_t> offset;
    std::optional<Notice> refusal;
};

// The "Search Results" list without its widget: match lines, integrity check lines and status
// lines of every search and check since it was cleared, and where the last search's matches
// lie. It holds at most `capacity` lines; a line that does not fit clears it first, as a full
// list box would refuse it. Lines are stored compactly (no text per line) because a one-byte
// pattern can match millions of times; their text is made when asked for.
class SearchResults {
public:
    explicit SearchResults(std::size_t capacity = kResultCapacity);

    [[nodiscard]] std::size_t size() const { return m_lines.size(); }
    [[nodiscard]] std::size_t capacity() const { return m_capacity; }
    [[nodiscard]] std::string text(std::size_t index) const;
    /// The file offset a line carries; 0 for a status line.
    [[nodiscard]] std::uint64_t offset(std::size_t index) const { return m_lines[index].offset; }
    /// Status lines are the only lines that do not start with a space.
    [[nodiscard]] bool isStatus(std::size_t index) const {
        return m_lines[index].kind == Kind::Status;
    }

    void addMatch(std::uint64_t address, std::uint64_t offset,
                  std::span<const std::uint8_t> context);
    /// Adds `count` match lines at once, leaving the list as adding them one by one would: only
    /// the lines after its last overflow stay, and `lastOffsets` holds the offsets of (at least)
    /// those, match n at index n % capacity(). Their context is read from `fd`; false when that
    /// read fails (the lines stay, some without context).
    bool addMatchesFromFile(int fd, std::uint64_t count, std::span<const std::uint64_t> lastOffsets,
                            std::uint64_t baseAddress);
    /// An integrity check line: the two columns without context.
    void addDifference(std::uint64_t address, std::uint64_t offset);
    void addStatus(std::string_view text);
    /// How often a line found the list full and cleared it, since the list was made.
    [[nodiscard]] std::size_t overflows() const { return m_overflows; }

    /// Deletes the given lines (the selection, in any order) and forgets the last search.
    void erase(std::vector<std::size_t> indices);
    /// Empties the list and forgets the last search.
    void clear();

    // The last search's results: first and last match line and the current one; -1 without.
    void beginSearch();
    /// After the search's status line: the current result is its first match line.
    void endSearch();
    [[nodiscard]] long firstResult() const { return m_first; }
    [[nodiscard]] long lastResult() const { return m_last; }
    [[nodiscard]] long currentResult() const { return m_current; }
    [[nodiscard]] bool canGoPrevious() const { return m_current >= 0 && m_current != m_first; }
    [[nodiscard]] bool canGoNext() const { return m_current >= 0 && m_current != m_last; }
    /// Steps to the previous or next match line of the last search; its index, or -1 at the end.
    long previousResult();
    long nextResult();

    /// Where a jump to the selected lines goes (add the base address for the "Jump to:" field).
    [[nodiscard]] JumpChoice jumpChoice(const std::vector<std::size_t>& selected) const;

private:
    enum class Kind : std::uint8_t { Match, Difference, Status };
    struct Line {
        std::uint64_t address;
        std::uint64_t offset;
        std::array<std::uint8_t, kContextBytes> text; // context bytes, or the status text
        std::uint8_t textLength;
        Kind kind;
    };

    Line& append();
    void forgetSearch();

    std::size_t m_capacity;
    std::vector<Line> m_lines;
    std::size_t m_overflows = 0;
    long m_first = -1;
    long m_last = -1;
    long m_current = -1;
};

// What a search leaves for the window besides its lines.
struct SearchSummary {
    ScanEnd end = ScanEnd::Completed;
    std::uint64_t matches = 0;
    std::optional<Notice> notice; // the list overflowed and was cleared on the way
};

/// A whole search as the search button runs it: scans the working copy as stored on disk (a page
/// not yet written back is not seen), adds a line per match and the closing status line, and
/// sets the navigation to the first match. Run it off the window's thread if you like, but the
/// list is the search's alone until it returns.
SearchSummary searchWorkFile(const std::string& workFile, std::span<const std::uint8_t> pattern,
                             std::uint32_t baseAddress, SearchResults& results,
                             const SearchControl& control = {},
                             CaseMatch caseMatch = CaseMatch::Exact);

/// The nearest start of `pattern` in `fd`'s file among matches that lie wholly below `end`:
/// forward, the first start at or after `from`; backward, the last start before `from`. Nullopt
/// when there is none or the file cannot be read.
[[nodiscard]] std::optional<std::uint64_t> findNearest(int fd,
                                                       std::span<const std::uint8_t> pattern,
                                                       std::uint64_t from, std::uint64_t end,
                                                       bool forward, CaseMatch caseMatch);

} // namespace corvex::fileeditor
