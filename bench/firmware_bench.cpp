// Whole-stack firmware jobs on the simulated receiver: the Guard thread, the job, the work file,
// the target file and the area events, as corvexctl runs them. Each figure includes the Guard's
// fixed 20 ms pause between commands.
#include "backup/backup_folder.h"
#include "link/guard/guard.h"
#include "link/jobs/area_table.h"
#include "sim/counting_port.h"
#include "sim/simulator.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

using namespace corvex;
namespace fs = std::filesystem;

// Counts final reports; events run on the Guard's thread (no synchroniser).
class Reports : public link::GuardEvents {
public:
    void OnMessage(link::TCorvexThread& /*sender*/, const link::GuardRecord& message) override {
        if (message.Code == link::kMsgFinalReport || message.Code == link::kMsgBrokenLink ||
            message.Code == link::kMsgStoppedOnError) {
            m_lastOk.store(message.Code == link::kMsgFinalReport &&
                           (message.Data & 0xFF00) == link::kStyleNormal);
            m_reports.fetch_add(1);
        }
    }
    [[nodiscard]] int reports() const { return m_reports.load(); }
    [[nodiscard]] bool lastOk() const { return m_lastOk.load(); }

private:
    std::atomic<int> m_reports{0};
    std::atomic<bool> m_lastOk{false};
};

using sim::CountingPort;

class Rig {
public:
    Rig() : m_dir(fs::temp_directory_path() / ("corvex_bench_" + std::to_string(::getpid()))) {
        fs::create_directories(m_dir);
        m_sim = std::make_unique<sim::Simulator>(sim::SimConfig{});
        m_port = std::make_unique<CountingPort>(m_sim->port());
        m_guard = std::make_unique<link::TCorvexThread>(*m_port, link::Synchroniser{},
                                                        (m_dir / "work.LRF").string());
        m_guard->setAreaTable(&m_table);
        m_guard->bindEvents(&m_reports);
        // The simulated receiver counts polls, not time: the 25/200 us waits before each flash
        // poll and the 100 ms reset pulse would measure the clock, not the program.
        m_guard->link().setMicroDelay([](std::uint64_t /*microseconds*/) {});
        m_guard->link().setSleeper([](std::chrono::milliseconds /*ms*/) {});
    }
    ~Rig() {
        m_guard.reset();
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    [[nodiscard]] std::string path(const char* name) const { return (m_dir / name).string(); }
    link::AreaTable& table() { return m_table; }
    link::TCorvexThread& guard() { return *m_guard; }
    [[nodiscard]] std::uint64_t portAccesses() const { return m_port->count(); }

    /// Runs one job to its final report; throws when it did not succeed.
    void run(const char* command) {
        const int before = m_reports.reports();
        while (!m_guard->isIdle()) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        if (m_guard->Submit(link::GuardRecord::command(command)) < 0) {
            throw std::runtime_error(std::string("refused: ") + command);
        }
        while (m_reports.reports() == before) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        if (!m_reports.lastOk()) {
            throw std::runtime_error(std::string(command) + " did not succeed");
        }
    }

private:
    fs::path m_dir;
    Reports m_reports;
    link::AreaTable m_table;
    std::unique_ptr<sim::Simulator> m_sim;
    std::unique_ptr<CountingPort> m_port;
    std::unique_ptr<link::TCorvexThread> m_guard;
};

std::vector<char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void reportPeakMemory(benchmark::State& state) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_ReadFirmware(benchmark::State& state) {
    Rig rig;
    rig.guard().SetReadFileName(rig.path("read.bin"));
    for (auto _ : state) {
        rig.run("RFW");
    }
    reportPeakMemory(state);
}
BENCHMARK(BM_ReadFirmware)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Every area differs from the flash: each run writes the other of two images, so every area is
// compared, erased, programmed and verified every time.
void BM_WriteFirmware(benchmark::State& state) {
    Rig rig;
    rig.guard().SetReadFileName(rig.path("original.bin"));
    rig.run("RFW");
    std::vector<char> changed = readFile(rig.path("original.bin"));
    for (std::size_t area = 0; area + 1 < link::kDefaultAreaStart.size(); ++area) {
        changed.at(link::kDefaultAreaStart[area] + 0x100) ^= 0x5A;
    }
    writeFile(rig.path("changed.bin"), changed);
    bool toChanged = true;
    for (auto _ : state) {
        rig.guard().SetWriteFileName(rig.path(toChanged ? "changed.bin" : "original.bin"));
        rig.run("WFW");
        toChanged = !toChanged;
    }
    reportPeakMemory(state);
}
BENCHMARK(BM_WriteFirmware)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The work file already holds the flash (read marks set): the preview only compares files.
void BM_PreviewEqualImage(benchmark::State& state) {
    Rig rig;
    rig.guard().SetReadFileName(rig.path("image.bin"));
    rig.run("RFW");
    rig.guard().SetWriteFileName(rig.path("image.bin"));
    for (auto _ : state) {
        rig.run("PFW");
    }
    reportPeakMemory(state);
}
BENCHMARK(BM_PreviewEqualImage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// "WFW" of an image that differs in every area, with a backup first (backup:1) and without
// (backup:0). `areas`: 0 every area PGM (the compare reads them all, the backup reuses that),
// 1 area 0 PGM and the rest SKIP (the backup reads what the compare did not). Each iteration
// keeps its backup in a fresh folder, so none is found already kept.
void BM_WriteFirmwareBackup(benchmark::State& state) {
    const bool keep = state.range(0) != 0;
    const bool onlyArea0 = state.range(1) != 0;
    Rig rig;
    rig.guard().SetReadFileName(rig.path("original.bin"));
    rig.run("RFW");
    std::vector<char> changed = readFile(rig.path("original.bin"));
    for (std::size_t area = 0; area + 1 < link::kDefaultAreaStart.size(); ++area) {
        changed.at(link::kDefaultAreaStart[area] + 0x100) ^= 0x5A;
    }
    writeFile(rig.path("changed.bin"), changed);
    for (std::size_t area = 1; onlyArea0 && area < link::kAreaSlots; ++area) {
        rig.table().setMode(area, link::kAreaModeSkip);
    }
    bool toChanged = true;
    int folder = 0;
    std::uint64_t accesses = 0;
    std::unique_ptr<backup::BackupFolder> backups;
    for (auto _ : state) {
        state.PauseTiming();
        backups = std::make_unique<backup::BackupFolder>(
            rig.path(("backups" + std::to_string(folder++)).c_str()));
        rig.guard().setBackupKeeper(keep ? backups.get() : nullptr);
        // What the write finds read already is what a RFW, or the last write's compare, left.
        for (std::size_t area = 0; area < link::kAreaSlots; ++area) {
            rig.table().clearBits(area, link::kAreaReadMark);
        }
        rig.guard().SetWriteFileName(rig.path(toChanged ? "changed.bin" : "original.bin"));
        const std::uint64_t before = rig.portAccesses();
        state.ResumeTiming();
        rig.run("WFW");
        accesses += rig.portAccesses() - before;
        toChanged = !toChanged;
    }
    rig.guard().setBackupKeeper(nullptr);
    state.counters["port_accesses"] =
        static_cast<double>(accesses) / static_cast<double>(state.iterations());
    reportPeakMemory(state);
}
BENCHMARK(BM_WriteFirmwareBackup)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"backup", "area0_only"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

// One "RFW" of the whole flash, with its port accesses: what the backup's extra reads compare to.
void BM_ReadFirmwareAccesses(benchmark::State& state) {
    Rig rig;
    rig.guard().SetReadFileName(rig.path("read.bin"));
    std::uint64_t accesses = 0;
    for (auto _ : state) {
        const std::uint64_t before = rig.portAccesses();
        rig.run("RFW");
        accesses += rig.portAccesses() - before;
    }
    state.counters["port_accesses"] =
        static_cast<double>(accesses) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ReadFirmwareAccesses)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

} // namespace
