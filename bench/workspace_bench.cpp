// The file editor's workspace on a large file: opening it (the copy into the working copy),
// moving page by page with an edit on every page, and a fill over most of it with its undo.
#include "fileeditor/workspace.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace corvex;
namespace fs = std::filesystem;

constexpr std::uint64_t kFileBytes = 256ULL << 20;

// One 256 MiB file for every benchmark, written once; the first open pulls it into the page
// cache, so the figures are those of a file the system holds in memory.
class BigFile {
public:
    BigFile()
        : m_dir(fs::temp_directory_path() / ("corvex_ws_bench_" + std::to_string(::getpid()))) {
        fs::create_directories(m_dir);
        std::ofstream out(image(), std::ios::binary);
        std::vector<char> block(1 << 20);
        for (std::size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<char>(i * 31 + 7);
        }
        for (std::uint64_t written = 0; written < kFileBytes; written += block.size()) {
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    ~BigFile() {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    BigFile(const BigFile&) = delete;
    BigFile& operator=(const BigFile&) = delete;

    [[nodiscard]] std::string image() const { return (m_dir / "image.bin").string(); }
    [[nodiscard]] std::string workFile() const { return (m_dir / "corvex.TBF").string(); }

private:
    fs::path m_dir;
};

BigFile& bigFile() {
    static BigFile file;
    return file;
}

double peakMiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_OpenLargeFile(benchmark::State& state) {
    fileeditor::Workspace workspace(bigFile().workFile());
    for (auto _ : state) {
        if (workspace.openByName(bigFile().image())) {
            state.SkipWithError("open failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
    state.counters["peak_MiB"] = peakMiB();
}
BENCHMARK(BM_OpenLargeFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// Page Down with one byte typed on every page, so each move writes the page back and reads
// the next one.
void BM_PageDownWithEdit(benchmark::State& state) {
    fileeditor::Workspace workspace(bigFile().workFile());
    if (workspace.openByName(bigFile().image())) {
        state.SkipWithError("open failed");
        return;
    }
    char digit = '0';
    for (auto _ : state) {
        workspace.setCursor(1, 1);
        workspace.typeCharacter(digit);
        digit = digit == '9' ? '0' : static_cast<char>(digit + 1);
        if (workspace.scrollPosition() == workspace.scrollMaximum()) {
            workspace.setScrollPosition(0);
        } else {
            workspace.pressKey(fileeditor::EditorKey::PageDown);
        }
    }
    state.counters["pages_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PageDownWithEdit)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A fill of 192 MiB and its undo: the old bytes go to the scratch file, not into memory.
void BM_FillAndUndo(benchmark::State& state) {
    fileeditor::Workspace workspace(bigFile().workFile());
    if (workspace.openByName(bigFile().image())) {
        state.SkipWithError("open failed");
        return;
    }
    const fileeditor::FillFields fields{"5A", "01000000", "0CFFFFFF"};
    for (auto _ : state) {
        if (workspace.fill(fileeditor::FillAction::Fill, fields).notice || workspace.undo()) {
            state.SkipWithError("fill or undo failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (192ULL << 20)));
    state.counters["peak_MiB"] = peakMiB();
}
BENCHMARK(BM_FillAndUndo)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
