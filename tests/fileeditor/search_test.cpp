#include "fileeditor/hex_field.h"
#include "fileeditor/integrity.h"
#include "fileeditor/range_preview.h"
#include "fileeditor/search.h"
#include "fileeditor/search_job.h"
#include "tests/link/temp_dir.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <tuple>
#include <unistd.h>

namespace corvex::test {
namespace {

using fileeditor::PatternMode;
using fileeditor::ScanEnd;
using fileeditor::SearchResults;
using Bytes = std::vector<std::uint8_t>;

class Fd {
public:
    explicit Fd(const std::string& name) : m_fd(::open(name.c_str(), O_RDONLY)) {}
    ~Fd() { ::close(m_fd); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    [[nodiscard]] int get() const { return m_fd; }

private:
    int m_fd;
};

struct Found {
    std::uint64_t offset;
    Bytes context;
    friend bool operator==(const Found&, const Found&) = default;
};

std::vector<Found> scan(const std::string& name, const Bytes& pattern,
                        std::size_t blockBytes = fileeditor::kScanBlockBytes,
                        fileeditor::CaseMatch caseMatch = fileeditor::CaseMatch::Exact) {
    Fd fd(name);
    std::vector<Found> found;
    const auto end = fileeditor::scanFile(
        fd.get(), pattern,
        [&](std::uint64_t offset, std::span<const std::uint8_t> context) {
            found.push_back({offset, Bytes(context.begin(), context.end())});
        },
        {}, blockBytes, caseMatch);
    EXPECT_EQ(end, ScanEnd::Completed);
    return found;
}

// The search as plainly as it can be written: a compare at every offset of the whole file.
std::vector<Found> naiveScan(const Bytes& data, const Bytes& pattern, bool ignoreCase = false) {
    const auto same = [ignoreCase](std::uint8_t a, std::uint8_t b) {
        const auto fold = [](std::uint8_t c) {
            return c >= 'A' && c <= 'Z' ? static_cast<std::uint8_t>(c + 32) : c;
        };
        return ignoreCase ? fold(a) == fold(b) : a == b;
    };
    std::vector<Found> found;
    for (std::size_t s = 0; !pattern.empty() && s + pattern.size() <= data.size(); ++s) {
        if (std::equal(pattern.begin(), pattern.end(), data.begin() + static_cast<long>(s), same)) {
            const std::size_t from = s < 16 ? 0 : s - 16;
            const std::size_t to = std::min(from + 64, data.size());
            found.push_back({s, Bytes(data.begin() + static_cast<long>(from),
                                      data.begin() + static_cast<long>(to))});
        }
    }
    return found;
}

TEST(SearchPatterns, AreBuiltFromThePatternBoxText) {
    const std::tuple<std::string, PatternMode, Bytes> cases[] = {
        {"4f 4B-x3", PatternMode::Hexadecimal, {0x4F, 0x4B}},
        {"aA", PatternMode::Hexadecimal, {0xAA}},
        {"7", PatternMode::Hexadecimal, {}},
        {"4f 4B", PatternMode::Text, {'4', 'f', ' ', '4', 'B'}},
        {"00", PatternMode::Binary, {}},
    };
    for (const auto& [text, mode, bytes] : cases) {
        EXPECT_EQ(fileeditor::buildPattern(text, mode), bytes) << text;
    }
    EXPECT_EQ(fileeditor::buildPattern(std::string(70, 'x'), PatternMode::Text).size(), 64u);
    EXPECT_EQ(fileeditor::buildPattern(std::string(140, 'e'), PatternMode::Hexadecimal),
              Bytes(64, 0xEE));
    EXPECT_EQ(fileeditor::refuseSearchButton(PatternMode::Binary)->text, "Not yet implemented !");
    EXPECT_FALSE(fileeditor::refuseSearchButton(PatternMode::Text));
    std::vector<std::string> history = {"a", "b", "c"};
    fileeditor::rememberPattern(history, "c");
    fileeditor::rememberPattern(history, "d");
    EXPECT_EQ(history, (std::vector<std::string>{"d", "c", "b", "a"}));
}

TEST(SearchWorkFile, FindsOverlappingMatchesAndClosesWithTheStatusLine) {
    TempDir dir;
    writeBytes(dir.file("w"), {0xAA, 0xAA, 0xAA});
    SearchResults results;
    results.addStatus("earlier line");
    const auto summary = fileeditor::searchWorkFile(dir.file("w"), Bytes{0xAA}, 0x100, results);
    EXPECT_EQ(summary.matches, 3u);
    EXPECT_FALSE(summary.notice);
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(results.text(1), " 00000100   00000000   ...");
    EXPECT_EQ(results.text(3), " 00000102   00000002   ...");
    EXPECT_EQ(results.offset(3), 2u);
    EXPECT_EQ(results.text(4), "COMPLETED OK - Found 3 matches.");
    EXPECT_TRUE(results.isStatus(4));
    EXPECT_EQ(std::tuple(results.firstResult(), results.lastResult(), results.currentResult()),
              std::tuple(1, 3, 1));
    EXPECT_FALSE(results.canGoPrevious());
    // Braced lists run left to right: next, next, next past the last, then previous.
    EXPECT_EQ((std::vector{results.nextResult(), results.nextResult(), results.nextResult(),
                           results.previousResult()}),
              (std::vector<long>{2, 3, -1, 2}));
    results.erase({4, 0});
    EXPECT_EQ(results.size(), 3u);
    EXPECT_EQ(results.currentResult(), -1);
    EXPECT_FALSE(results.canGoNext());
}

// The context's bytes (clipped at both ends) are SearchScan's; here how the line shows them.
TEST(SearchWorkFile, ShowsContextFromSixteenBytesBeforeEachMatch) {
    TempDir dir;
    Bytes data(100);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>('A' + i % 26);
    }
    writeBytes(dir.file("w"), data);
    SearchResults results;
    fileeditor::searchWorkFile(dir.file("w"), Bytes{'D', 'E'}, 0, results);
    ASSERT_EQ(results.size(), 5u); // DE at 3, 29, 55 and 81
    EXPECT_EQ(results.text(0), " 00000003   00000003   ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQR"
                               "STUVWXYZABCDEFGHIJKL");
    EXPECT_EQ(results.text(1).substr(0, 27), " 0000001D   0000001D   NOPQ");
}

// Small blocks put many boundaries in the way; of the bit-5 pairs only a/A and z/Z are letters.
TEST(SearchScan, AgreesWithACompareAtEveryOffsetExactOrFoldingOnlyAsciiLetters) {
    TempDir dir;
    const Bytes letters = {'a', 'A', 'z', 'Z', '[', '{', '@', '`', 0xC1, 0xE1};
    const Bytes plain = {0xA0, 0xA1, 0xA2, 0xA3};
    const auto caseBlind = fileeditor::CaseMatch::IgnoreAsciiCase;
    std::mt19937 random(20261206);
    for (int round = 0; round < 70; ++round) {
        const bool fold = round >= 40;
        // A narrow alphabet makes many matches, a wide one few.
        const std::size_t width = fold ? (round % 2 == 0 ? 4 : letters.size()) : 1 + round % 4;
        const Bytes& alphabet = fold ? letters : plain;
        Bytes data(1 + random() % 3000);
        for (auto& byte : data) {
            byte = alphabet[random() % width];
        }
        Bytes pattern(round % 3 == 0 ? 1 : 1 + random() % (round % 5 == 0 ? 64 : fold ? 4 : 8));
        for (auto& byte : pattern) {
            byte = alphabet[random() % (fold ? letters.size() : width)];
        }
        const std::string name = dir.file(std::to_string(round) + ".bin");
        writeBytes(name, data);
        for (const std::size_t blockBytes : {std::size_t{1}, std::size_t{97}, std::size_t{4096}}) {
            ASSERT_EQ(
                scan(name, pattern, blockBytes, fold ? caseBlind : fileeditor::CaseMatch::Exact),
                naiveScan(data, pattern, fold))
                << "round " << round << ", block " << blockBytes;
        }
    }
}

// A job scans on its own thread; a cancel right after the start ends a long scan.
TEST(SearchJob, ScansOnItsOwnThreadAndStopsWhenCancelled) {
    TempDir dir;
    writeBytes(dir.file("small"), {0x41, 0x61, 0x41});
    writeBytes(dir.file("large"), {});
    std::filesystem::resize_file(dir.file("large"), std::uint64_t{256} << 20); // sparse
    SearchResults found;
    fileeditor::SearchJob finding(dir.file("small"), {0x41}, 0x100, found,
                                  fileeditor::CaseMatch::IgnoreAsciiCase);
    EXPECT_EQ(finding.wait().matches, 3u);
    EXPECT_TRUE(finding.finished());
    EXPECT_EQ(found.text(found.size() - 1), "COMPLETED OK - Found 3 matches.");
    SearchResults broken;
    fileeditor::SearchJob cancelled(dir.file("large"), {0x41}, 0, broken,
                                    fileeditor::CaseMatch::Exact);
    cancelled.cancel();
    EXPECT_EQ(cancelled.wait().end, ScanEnd::Cancelled);
    EXPECT_EQ(broken.text(0), "CANCELLED - Found 0 matches.");
}

TEST(SearchWorkFile, AFullListIsClearedAndTheSearchGoesOn) {
    TempDir dir;
    writeBytes(dir.file("w"), Bytes(10, 0xAA));
    SearchResults results(4);
    const auto summary = fileeditor::searchWorkFile(dir.file("w"), Bytes{0xAA}, 0, results);
    EXPECT_EQ(summary.matches, 10u);
    EXPECT_EQ(summary.notice->text, "Repeat operation, buffer was full !");
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results.offset(1), 9u);
    EXPECT_EQ(results.text(2), "COMPLETED OK - Found 10 matches.");
    EXPECT_EQ(results.firstResult(), 0);
    EXPECT_EQ(results.lastResult(), 1);
}

// The search makes its lines after the scan: the list must end as if each was added when found.
TEST(SearchWorkFile, EndsWithTheListThatAddingEachLineWouldLeave) {
    TempDir dir;
    Bytes data(200'000);
    std::mt19937 random(7);
    std::generate(data.begin(), data.end(), [&] { return random() % 200; });
    for (const std::size_t at : {5u, 40'000u, 90'000u, 199'990u}) { // far apart, then dense
        data[at] = 0xEE;
    }
    for (std::size_t at = 150'000; at < 150'500; at += 3) {
        data[at] = 0xEE;
    }
    writeBytes(dir.file("w"), data);
    const std::vector<Found> matches = naiveScan(data, {0xEE});
    for (const std::size_t capacity : {1u, 2u, 7u, 100u, 171u, 1000u}) {
        for (const std::size_t before : {0u, 1u, 5u}) {
            SearchResults eager(capacity), batched(capacity);
            for (std::size_t i = 0; i < std::min(before, capacity); ++i) {
                eager.addStatus("old " + std::to_string(i));
                batched.addStatus("old " + std::to_string(i));
            }
            eager.beginSearch();
            for (const Found& match : matches) {
                eager.addMatch(0x100 + match.offset, match.offset, match.context);
            }
            eager.addStatus(fileeditor::searchStatusLine(ScanEnd::Completed, matches.size()));
            eager.endSearch();
            const auto summary =
                fileeditor::searchWorkFile(dir.file("w"), Bytes{0xEE}, 0x100, batched);
            SCOPED_TRACE("capacity " + std::to_string(capacity) + ", before " +
                         std::to_string(before));
            ASSERT_EQ(summary.matches, matches.size());
            ASSERT_EQ(batched.size(), eager.size());
            for (std::size_t i = 0; i < eager.size(); ++i) {
                ASSERT_EQ(batched.text(i), eager.text(i)) << "line " << i;
            }
            EXPECT_EQ(batched.overflows(), eager.overflows());
            EXPECT_EQ(summary.notice.has_value(), eager.overflows() != 0);
            EXPECT_EQ(batched.firstResult(), eager.firstResult());
            EXPECT_EQ(batched.lastResult(), eager.lastResult());
        }
    }
}

TEST(SearchWorkFile, AMissingWorkFileIsAFailureNotAnEmptySuccess) {
    SearchResults results;
    const auto summary =
        fileeditor::searchWorkFile("/nonexistent/corvex.TBF", Bytes{0xAA}, 0, results);
    EXPECT_EQ(summary.end, ScanEnd::ReadFailed);
    EXPECT_EQ(results.text(0), "READ ERROR - Found 0 matches.");
    EXPECT_EQ(results.currentResult(), -1);
}

TEST(SearchResultsList, JumpsOnlyToOneMatchLine) {
    SearchResults results;
    results.addMatch(0x10000010, 0x10, {});
    results.addDifference(0x10000020, 0x20);
    results.addStatus("COMPLETED OK - Found 1 matches.");
    EXPECT_EQ(results.text(1), " 10000020   00000020   ");
    EXPECT_EQ(results.jumpChoice({1}).offset, 0x20u);
    EXPECT_EQ(results.jumpChoice({0, 1}).refusal->text,
              "Cannot jump to multiple addresses.\rPlease select one item and try again.");
    EXPECT_EQ(results.jumpChoice({2}).refusal->text,
              "Cannot jump, you selected a status line.\rPlease select another item and try "
              "again.");
    const auto none = results.jumpChoice({});
    EXPECT_FALSE(none.offset || none.refusal);

    // Past 4 GiB the columns grow rather than name another byte.
    results.addMatch(std::uint64_t{0xFFFFFFF0} + 0x20, 0x20, {});
    results.addDifference(0x1'0000'1000, 0x1'0000'0000);
    EXPECT_EQ(results.text(3), " 100000010   00000020   ");
    EXPECT_EQ(results.text(4), " 100001000   100000000   ");
    EXPECT_EQ(results.jumpChoice({4}).offset, 0x1'0000'0000u);
}

TEST(IntegrityCheck, ComparesTheShortLastBlockAndReportsOnlyRealReadErrors) {
    TempDir dir;
    Bytes source(5000);
    for (std::size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<std::uint8_t>(i * 7);
    }
    writeBytes(dir.file("source"), source);
    Bytes changed = source;
    changed[10] ^= 1;
    changed[4500] ^= 1;
    Bytes longer = source;
    longer.resize(6000, 0xFF);
    // The working copy, the range checked, the notice and the lines listed.
    const std::tuple<Bytes, std::uint32_t, std::uint32_t, std::string, std::string> cases[] = {
        {source, 0, 0xFFFF, "Integrity Check Done", ""},
        {changed, 0, 0xFFFF, "Integrity Check Done",
         " 0000100A   0000000A  | 00002194   00001194  |"},
        {changed, 0, 0x1000, "Integrity Check Done", " 0000100A   0000000A  |"}, // end limits
        {changed, 0x1000, 0xFFFF, "Integrity Check Done", " 00002194   00001194  |"},
        {longer, 0, 0xFFFF, "Read Error 904 1904", ""},
    };
    for (const auto& [work, start, end, notice, lines] : cases) {
        writeBytes(dir.file("work"), work);
        Fd sourceFd(dir.file("source"));
        Fd workFd(dir.file("work"));
        SearchResults results;
        EXPECT_EQ(
            fileeditor::checkIntegrity(sourceFd.get(), workFd.get(), start, end, 0x1000, results)
                .text,
            notice)
            << lines;
        std::string listed;
        for (std::size_t i = 0; i < results.size(); ++i) {
            listed += results.text(i).substr(0, results.text(i).size() - 1) + "|";
        }
        EXPECT_EQ(listed, lines);
    }
}

TEST(RangePreview, ShowsTheRangeWithTheBaseCountedOnce) {
    TempDir dir;
    writeBytes(dir.file("f.bin"), Bytes(256, 0));
    const auto joined = [](const std::array<std::string, 5>& values) {
        std::string text;
        for (const std::string& value : values) {
            text += value.empty() ? "" : value.substr(3) + " ";
        }
        return text;
    };
    // The editor writes base + offset into the offset field; past 4 GiB more digits, no wrap.
    const struct {
        std::string base, offset, length, info, values;
    } cases[] = {
        {"00000000", "00000100", "", "", "00000000 00000100 00000100 00000100 00000200 "},
        {"00000000", "0", "10", "", "00000000 00000000 00000000 00000010 00000010 "},
        {"10000000", "10000100", "", "", "10000000 00000100 10000100 00000100 10000200 "},
        {"FFFFFF00", "FFFFFF80", "100", "", "FFFFFF00 00000080 FFFFFF80 00000100 100000080 "},
        {"10000000", "100", "", "Invalid value found for offset or length.", ""},
        {"0", "1G", "", "Invalid value specified for offset.", ""},
    };
    for (const auto& c : cases) {
        const auto preview =
            fileeditor::previewRange(dir.file("f.bin"), c.base, c.offset, c.length);
        EXPECT_EQ(preview.info, c.info.empty() ? dir.file("f.bin") : c.info) << c.offset;
        EXPECT_EQ(joined(preview.values), c.values) << c.offset;
    }
    const auto missing = fileeditor::previewRange(dir.file("none.bin"), "0", "0", "");
    EXPECT_EQ(missing.info, "Error:  FILE NOT FOUND");
    EXPECT_EQ(missing.values, (std::array<std::string, 5>{}));
}

TEST(HexFields, FilterKeysAndRewriteTheEndAsADecimalLength) {
    for (const auto& [typed, kept] : {std::pair{'b', 'B'}, {'7', '7'}, {'\b', '\b'}}) {
        EXPECT_EQ(fileeditor::filterHexKey(typed), kept);
    }
    for (const char swallowed : {'g', ' ', '\r', 'x', '-'}) {
        EXPECT_FALSE(fileeditor::filterHexKey(swallowed)) << swallowed;
    }
    EXPECT_EQ(fileeditor::parseHexField("FfFfFfFf"), 0xFFFFFFFFu);
    EXPECT_FALSE(fileeditor::parseHexField("123456789"));
    EXPECT_FALSE(fileeditor::parseHexField(""));
    EXPECT_EQ(fileeditor::endFieldAsLength(0x200, "100"), "00000263");
    EXPECT_FALSE(fileeditor::endFieldAsLength(0x200, "1A0"));
    EXPECT_FALSE(fileeditor::endFieldAsLength(0x200, "0"));
}

} // namespace
} // namespace corvex::test
