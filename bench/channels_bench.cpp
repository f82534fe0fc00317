// The channel list editor's heavy operations on a full list: 4,000 channels over 254
// transponders, loaded from an image as the editor loads it. Each iteration starts from a fresh
// copy of the loaded list (copied outside the timed part); the undo step each edit records is
// inside the figure.
#include "channels/channel_csv.h"
#include "channels/channel_editor.h"
#include "sim/image_builder.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace corvex;

constexpr std::size_t kChannels = 4000;
constexpr std::size_t kTransponders = 254;

const channels::ChannelEditor& loaded() {
    static const channels::ChannelEditor editor = [] {
        const std::vector<std::uint8_t> image =
            sim::channelTableImage(0x40000, sim::generatedTransponders(kTransponders),
                                   sim::generatedChannels(kChannels, kTransponders));
        channels::ChannelEditor e(channels::DisplayMode::Decimal);
        if (e.load("bench.bin", image) || e.channels().size() != kChannels ||
            e.transponders().size() != kTransponders + 1) {
            throw std::runtime_error("the benchmark image did not load as expected");
        }
        return e;
    }();
    return editor;
}

void BM_Load(benchmark::State& state) {
    const std::vector<std::uint8_t> image =
        sim::channelTableImage(0x40000, sim::generatedTransponders(kTransponders),
                               sim::generatedChannels(kChannels, kTransponders));
    channels::ChannelEditor editor(channels::DisplayMode::Decimal);
    for (auto _ : state) {
        benchmark::DoNotOptimize(editor.load("bench.bin", image));
    }
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

// 100 lines from the clipboard over lines 2000 to 2099, all of them channels that move to the end.
void BM_Replace100(benchmark::State& state) {
    channels::ChannelListModel start = loaded().channels();
    for (std::size_t i = 0; i < 100; ++i) {
        start.setSelected(i, true);
    }
    start.copy();
    start.deselectAll();
    start.setCurrent(2000);
    for (auto _ : state) {
        state.PauseTiming();
        channels::ChannelListModel model = start;
        state.ResumeTiming();
        benchmark::DoNotOptimize(model.replace());
    }
}
BENCHMARK(BM_Replace100)->Unit(benchmark::kMillisecond);

// Every fourth line selected, spread over the whole list.
void BM_Delete1000(benchmark::State& state) {
    channels::ChannelListModel start = loaded().channels();
    for (std::size_t i = 0; i < kChannels; i += 4) {
        start.setSelected(i, true);
    }
    std::size_t stored = 0;
    for (auto _ : state) {
        state.PauseTiming();
        channels::ChannelListModel model = start;
        state.ResumeTiming();
        model.deleteSelected();
        stored = model.history().storedLines();
    }
    state.counters["undo_lines"] = static_cast<double>(stored);
}
BENCHMARK(BM_Delete1000)->Unit(benchmark::kMillisecond);

void BM_UndoDelete1000(benchmark::State& state) {
    channels::ChannelListModel start = loaded().channels();
    for (std::size_t i = 0; i < kChannels; i += 4) {
        start.setSelected(i, true);
    }
    start.deleteSelected();
    for (auto _ : state) {
        state.PauseTiming();
        channels::ChannelListModel model = start;
        state.ResumeTiming();
        model.undo();
    }
}
BENCHMARK(BM_UndoDelete1000)->Unit(benchmark::kMillisecond);

// 50 selected lines, one in every 80, dropped on line 1000; arg 1: "Advanced Drag && Drop" (copy,
// clear, replace), arg 0: copy, clear, paste before the drop line.
void BM_Drag50(benchmark::State& state) {
    channels::ChannelListModel start = loaded().channels();
    for (std::size_t i = 0; i < 50; ++i) {
        start.setSelected(i * 80 + 3, true);
    }
    start.setCurrent(3);
    start.setAdvancedDragDrop(state.range(0) != 0);
    for (auto _ : state) {
        state.PauseTiming();
        channels::ChannelListModel model = start;
        state.ResumeTiming();
        benchmark::DoNotOptimize(model.drop(1000));
    }
}
BENCHMARK(BM_Drag50)->ArgName("advanced")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A click on a heading: the whole list sorted by the column, as one undo step. Arg 0 sorts by
// name, 1 by SID; the loaded list is in neither order.
void BM_Sort4000(benchmark::State& state) {
    const channels::SortColumn column =
        state.range(0) == 0 ? channels::SortColumn::Name : channels::SortColumn::Sid;
    const channels::ChannelListModel start = loaded().channels();
    for (auto _ : state) {
        state.PauseTiming();
        channels::ChannelListModel model = start;
        state.ResumeTiming();
        model.sortBy(column, channels::DisplayMode::Decimal);
    }
}
BENCHMARK(BM_Sort4000)->ArgName("sid")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The whole corvexctl process: start, read the 4,000-channel image and a 4,000-row CSV (the
// export with its rows reversed), arrange, print, write the new image, read it back, fsync and
// rename it, exit.
void BM_CorvexctlOrderSaveInto(benchmark::State& state) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("corvex-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string image = (dir / "image.bin").string();
    const std::string csv = (dir / "order.csv").string();
    const std::string target = (dir / "arranged.bin").string();
    const std::vector<std::uint8_t> bytes =
        sim::channelTableImage(0x40000, sim::generatedTransponders(kTransponders),
                               sim::generatedChannels(kChannels, kTransponders));
    std::ofstream(image, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const channels::ChannelEditor& editor = loaded();
    std::vector<channels::Line> reversed(editor.channels().lines().rbegin(),
                                         editor.channels().lines().rend());
    std::ofstream(csv, std::ios::binary)
        << channels::channelListCsv(reversed, editor.transponders().lines());
    const char* args[] = {CORVEXCTL_PATH, "--channels",   image.c_str(), "--order", csv.c_str(),
                          "--save-into",  target.c_str(), "--force",     nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t pid = 0;
        int status = -1;
        if (posix_spawn(&pid, CORVEXCTL_PATH, &quiet, nullptr, const_cast<char**>(args), environ) !=
                0 ||
            waitpid(pid, &status, 0) != pid || status != 0) {
            state.SkipWithError("corvexctl failed");
            break;
        }
    }
    posix_spawn_file_actions_destroy(&quiet);
    fs::remove_all(dir);
}
BENCHMARK(BM_CorvexctlOrderSaveInto)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExpandAll(benchmark::State& state) {
    channels::ChannelEditor editor = loaded();
    for (auto _ : state) {
        editor.expandAll();
    }
    state.counters["lines"] = static_cast<double>(editor.transponders().size());
}
BENCHMARK(BM_ExpandAll)->Unit(benchmark::kMillisecond);

} // namespace
