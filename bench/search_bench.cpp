// The file editor's pattern search over a 256 MiB working copy in the page cache, against a
// plain compare at every offset over the same blocks.
#include "fileeditor/search.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace corvex;
namespace fs = std::filesystem;

constexpr std::size_t kFileBytes = std::size_t{256} << 20;
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
            const std::size_t at = (i * 268'435'399) % (kFileBytes - 4);
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

// Compare at every offset: the same pread blocks and overlap as the search, no skipping.
std::uint64_t baselineScan(int fd, const std::vector<std::uint8_t>& pattern) {
    const std::size_t carry = pattern.size() - 1;
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
        for (std::size_t s = 0; s + pattern.size() <= filled; ++s) {
            if (std::equal(pattern.begin(), pattern.end(), buffer.begin() + static_cast<long>(s))) {
                ++matches;
            }
        }
        kept = std::min(carry, filled);
        std::memmove(buffer.data(), buffer.data() + filled - kept, kept);
    }
}

std::uint64_t fastScan(int fd, const std::vector<std::uint8_t>& pattern) {
    std::uint64_t matches = 0;
    const auto end = fileeditor::scanFile(
        fd, pattern, [&](std::uint64_t, std::span<const std::uint8_t>) { ++matches; });
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

void BM_Search1ByteEveryOffset(benchmark::State& state) {
    static ErasedFile erased;
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

BENCHMARK(BM_Search4Byte)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Baseline4Byte)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Search1ByteFrequent)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Search1ByteEveryOffset)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Scan1ByteFrequent)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Baseline1Byte)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
