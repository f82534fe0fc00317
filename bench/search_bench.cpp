// The file editor's pattern search over a 256 MiB working copy in the page cache (set
// CORVEX_SEARCH_MIB for another size), against a plain compare at every offset over the same
// blocks and against the finders of the C and C++ libraries behind the same scan.
#include "fileeditor/search.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace corvex;
namespace fs = std::filesystem;

const std::size_t kFileBytes = [] {
    const char* mib = std::getenv("CORVEX_SEARCH_MIB");
    return std::size_t{mib != nullptr ? std::strtoul(mib, nullptr, 10) : 256} << 20;
}();
constexpr std::uint8_t kFrequentByte = 0x00; // about one byte in 16, as in a firmware image
const std::vector<std::uint8_t> kFourBytes = {'C', 'V', 'X', '1'};
constexpr std::size_t kPlanted = 1000; // copies of kFourBytes in the file

// One data file for every benchmark, written once and read from the page cache after that.
class DataFile {
public:
    DataFile()
        : m_name(fs::temp_directory_path() / ("corvex_search_" + std::to_string(::getpid()))) {
        std::vector<std::uint8_t> data(kFileBytes);
        std::uint64_t state = 0x9E3779B97F4A7C15u;
        for (auto& byte : data) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            const auto value = static_cast<std::uint8_t>(state >> 24);
            byte = (state & 0xF) == 0 ? kFrequentByte : std::max<std::uint8_t>(value, 1);
        }
        for (std::size_t i = 0; i < kPlanted; ++i) {
            const std::size_t at = (i * std::size_t{268'435'399}) % (kFileBytes - 4);
            std::copy(kFourBytes.begin(), kFourBytes.end(), data.begin() + static_cast<long>(at));
        }
        std::FILE* out = std::fopen(m_name.c_str(), "wb");
        if (out == nullptr || std::fwrite(data.data(), 1, data.size(), out) != data.size() ||
            std::fclose(out) != 0) {
            throw std::runtime_error("cannot write " + m_name.string());
        }
        m_fd = ::open(m_name.c_str(), O_RDONLY);
    }
    ~DataFile() {
        ::close(m_fd);
        fs::remove(m_name);
    }
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    [[nodiscard]] int fd() const { return m_fd; }
    [[nodiscard]] std::string name() const { return m_name.string(); }

private:
    fs::path m_name;
    int m_fd = -1;
};

DataFile& dataFile() {
    static DataFile file;
    return file;
}

// An image erased to 0xFF throughout: a search for FF matches at every offset.
class ErasedFile {
public:
    ErasedFile()
        : m_name(fs::temp_directory_path() / ("corvex_erased_" + std::to_string(::getpid()))) {
        const std::vector<std::uint8_t> data(kFileBytes, 0xFF);
        std::FILE* out = std::fopen(m_name.c_str(), "wb");
        if (out == nullptr || std::fwrite(data.data(), 1, data.size(), out) != data.size() ||
            std::fclose(out) != 0) {
            throw std::runtime_error("cannot write " + m_name.string());
        }
    }
    ~ErasedFile() { fs::remove(m_name); }
    ErasedFile(const ErasedFile&) = delete;
    ErasedFile& operator=(const ErasedFile&) = delete;

    [[nodiscard]] std::string name() const { return m_name.string(); }

private:
    fs::path m_name;
};

// A finder: the first start of the pattern in [from, to), or `to`.
using Finder = std::function<const std::uint8_t*(const std::uint8_t* from, const std::uint8_t* to)>;

// The search's pread blocks and overlap, every match found by `find` and counted.
std::uint64_t finderScan(int fd, std::size_t patternBytes, const Finder& find) {
    const std::size_t carry = patternBytes - 1;
    std::vector<std::uint8_t> buffer(fileeditor::kScanBlockBytes + carry);
    std::size_t kept = 0;
    std::uint64_t offset = 0;
    std::uint64_t matches = 0;
    while (true) {
        const ssize_t got = ::pread(fd, buffer.data() + kept, fileeditor::kScanBlockBytes,
                                    static_cast<off_t>(offset));
        if (got <= 0) {
            return matches;
        }
        offset += static_cast<std::uint64_t>(got);
        const std::size_t filled = kept + static_cast<std::size_t>(got);
        const std::uint8_t* const end = buffer.data() + filled;
        for (const std::uint8_t* at = find(buffer.data(), end); at != end; at = find(at + 1, end)) {
            ++matches;
        }
        kept = std::min(carry, filled);
        std::memmove(buffer.data(), buffer.data() + filled - kept, kept);
    }
}

// Compare at every offset: the same pread blocks and overlap as the search, no skipping.
std::uint64_t baselineScan(int fd, const std::vector<std::uint8_t>& pattern) {
    return finderScan(fd, pattern.size(),
                      [&pattern](const std::uint8_t* from, const std::uint8_t* to) {
                          for (const std::uint8_t* at = from;
                               to - at >= static_cast<std::ptrdiff_t>(pattern.size()); ++at) {
                              if (std::equal(pattern.begin(), pattern.end(), at)) {
                                  return at;
                              }
                          }
                          return to;
                      });
}

Finder memmemFinder(const std::vector<std::uint8_t>& pattern) {
    return [&pattern](const std::uint8_t* from, const std::uint8_t* to) {
        const void* hit =
            ::memmem(from, static_cast<std::size_t>(to - from), pattern.data(), pattern.size());
        return hit != nullptr ? static_cast<const std::uint8_t*>(hit) : to;
    };
}

std::uint8_t foldAscii(std::uint8_t byte) {
    return byte >= 'A' && byte <= 'Z' ? static_cast<std::uint8_t>(byte | 0x20) : byte;
}

// Boyer-Moore-Horspool from the C++ library, exact or with the ASCII letters folded.
Finder horspoolFinder(const std::vector<std::uint8_t>& pattern, fileeditor::CaseMatch caseMatch) {
    if (caseMatch == fileeditor::CaseMatch::Exact) {
        return [searcher = std::boyer_moore_horspool_searcher(pattern.begin(), pattern.end())](
                   const std::uint8_t* from, const std::uint8_t* to) {
            return searcher(from, to).first;
        };
    }
    const auto hash = [](std::uint8_t byte) { return std::hash<std::uint8_t>{}(foldAscii(byte)); };
    const auto same = [](std::uint8_t a, std::uint8_t b) { return foldAscii(a) == foldAscii(b); };
    return
        [searcher = std::boyer_moore_horspool_searcher(pattern.begin(), pattern.end(), hash, same)](
            const std::uint8_t* from, const std::uint8_t* to) { return searcher(from, to).first; };
}

std::uint64_t fastScan(int fd, const std::vector<std::uint8_t>& pattern,
                       fileeditor::CaseMatch caseMatch = fileeditor::CaseMatch::Exact) {
    std::uint64_t matches = 0;
    const auto end = fileeditor::scanFile(
        fd, pattern, [&](std::uint64_t, std::span<const std::uint8_t>) { ++matches; }, {},
        fileeditor::kScanBlockBytes, caseMatch);
    if (end != fileeditor::ScanEnd::Completed) {
        throw std::runtime_error("scan failed");
    }
    return matches;
}

void report(benchmark::State& state, std::uint64_t matches) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
    state.counters["matches"] = static_cast<double>(matches);
}

void BM_Search4Byte(benchmark::State& state) {
    const int fd = dataFile().fd();
    std::uint64_t matches = 0;
    for (auto _ : state) {
        matches = fastScan(fd, kFourBytes);
    }
    report(state, matches);
}

void BM_Baseline4Byte(benchmark::State& state) {
    const int fd = dataFile().fd();
    std::uint64_t matches = 0;
    for (auto _ : state) {
        matches = baselineScan(fd, kFourBytes);
    }
    report(state, matches);
}

// The whole search as the window runs it: results list lines with their context included.
void BM_Search1ByteFrequent(benchmark::State& state) {
    const std::string name = dataFile().name();
    std::uint64_t matches = 0;
    for (auto _ : state) {
        fileeditor::SearchResults results;
        const std::vector<std::uint8_t> pattern = {kFrequentByte};
        matches = fileeditor::searchWorkFile(name, pattern, 0, results).matches;
        benchmark::DoNotOptimize(results.size());
    }
    report(state, matches);
}

ErasedFile& erasedFile() {
    static ErasedFile file;
    return file;
}

void BM_Search1ByteEveryOffset(benchmark::State& state) {
    ErasedFile& erased = erasedFile();
    std::uint64_t matches = 0;
    for (auto _ : state) {
        fileeditor::SearchResults results;
        const std::vector<std::uint8_t> pattern = {0xFF};
        matches = fileeditor::searchWorkFile(erased.name(), pattern, 0, results).matches;
        benchmark::DoNotOptimize(results.size());
    }
    report(state, matches);
}

void BM_Scan1ByteFrequent(benchmark::State& state) {
    const int fd = dataFile().fd();
    std::uint64_t matches = 0;
    for (auto _ : state) {
        matches = fastScan(fd, {kFrequentByte});
    }
    report(state, matches);
}

void BM_Baseline1Byte(benchmark::State& state) {
    const int fd = dataFile().fd();
    std::uint64_t matches = 0;
    for (auto _ : state) {
        matches = baselineScan(fd, {kFrequentByte});
    }
    report(state, matches);
}

// The libraries' finders behind the same count-only scan, against Search4Byte and
// Scan1ByteFrequent; and "cvx1" with the ASCII letters folded (it matches the planted "CVX1").
const std::vector<std::uint8_t> kFourLower = {'c', 'v', 'x', '1'};

void BM_Memmem4Byte(benchmark::State& state) {
    std::uint64_t matches = 0;
    for (auto _ : state) {
        matches = finderScan(dataFile().fd(), kFourBytes.size(), memmemFinder(kFourBytes));
    }
    report(state, matches);
}

void BM_Horspool4Byte(benchmark::State& state) {
    std::uint64_t matches = 0;
    for (auto _ : state) {
        matches = finderScan(dataFile().fd(), kFourBytes.size(),
                             horspoolFinder(kFourBytes, fileeditor::CaseMatch::Exact));
    }
    report(state, matches);
}

void BM_Memmem1ByteFrequent(benchmark::State& state) {
    const std::vector<std::uint8_t> pattern = {kFrequentByte};
    std::uint64_t matches = 0;
    for (auto _ : state) {
        matches = finderScan(dataFile().fd(), 1, memmemFinder(pattern));
    }
    report(state, matches);
}

void BM_Horspool1ByteFrequent(benchmark::State& state) {
    const std::vector<std::uint8_t> pattern = {kFrequentByte};
    std::uint64_t matches = 0;
    for (auto _ : state) {
        matches =
            finderScan(dataFile().fd(), 1, horspoolFinder(pattern, fileeditor::CaseMatch::Exact));
    }
    report(state, matches);
}

// Every offset a match: the densest hits a search can meet.
void BM_Scan1ByteEveryOffset(benchmark::State& state) {
    const int fd = ::open(erasedFile().name().c_str(), O_RDONLY);
    std::uint64_t matches = 0;
    for (auto _ : state) {
        matches = fastScan(fd, {0xFF});
    }
    ::close(fd);
    report(state, matches);
}

void BM_Memmem1ByteEveryOffset(benchmark::State& state) {
    const int fd = ::open(erasedFile().name().c_str(), O_RDONLY);
    const std::vector<std::uint8_t> pattern = {0xFF};
    std::uint64_t matches = 0;
    for (auto _ : state) {
        matches = finderScan(fd, 1, memmemFinder(pattern));
    }
    ::close(fd);
    report(state, matches);
}

void BM_Ours4ByteFolded(benchmark::State& state) {
    std::uint64_t matches = 0;
    for (auto _ : state) {
        matches = fastScan(dataFile().fd(), kFourLower, fileeditor::CaseMatch::IgnoreAsciiCase);
    }
    report(state, matches);
}

void BM_Horspool4ByteFolded(benchmark::State& state) {
    std::uint64_t matches = 0;
    for (auto _ : state) {
        matches = finderScan(dataFile().fd(), kFourLower.size(),
                             horspoolFinder(kFourLower, fileeditor::CaseMatch::IgnoreAsciiCase));
    }
    report(state, matches);
}

BENCHMARK(BM_Search4Byte)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Baseline4Byte)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Search1ByteFrequent)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Search1ByteEveryOffset)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Scan1ByteFrequent)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Baseline1Byte)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Memmem4Byte)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Horspool4Byte)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Memmem1ByteFrequent)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Horspool1ByteFrequent)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Scan1ByteEveryOffset)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Memmem1ByteEveryOffset)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Ours4ByteFolded)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Horspool4ByteFolded)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
