// The main window as a whole on the simulated receiver: how long the program takes to stand
// ready (window built, settings read, Guard started, first paint on screen), and what the window
// costs a firmware read against the headless corvexctl session running the same job on the
// same kind of receiver. Runs on the offscreen platform.
#include "cli/ctl_options.h"
#include "cli/ctl_session.h"
#include "mainwin/area_map_view.h"
#include "mainwin/main_window.h"
#include "sim/simulator.h"

#include <QAction>
#include <QApplication>
#include <QPaintEvent>

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

using namespace corvex;
namespace fs = std::filesystem;

// A private folder for one benchmark's files, removed afterwards.
class Folder {
public:
    Folder() {
        std::string name = (fs::temp_directory_path() / "corvex-bench-XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr) {
            std::abort();
        }
        m_path = name;
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    [[nodiscard]] std::string file(const char* name) const { return (m_path / name).string(); }

private:
    fs::path m_path;
};

// Sees the first paint of a widget.
class FirstPaint : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        painted = painted || event->type() == QEvent::Paint;
        return false;
    }
};

mainwin::MainWindowSetup setupFor(const Folder& folder, sim::Simulator& receiver) {
    mainwin::MainWindowSetup setup;
    setup.programPath = folder.file("corvex");
    setup.title = QStringLiteral("Corvex V4.00C - simulated receiver");
    setup.port = &receiver.port();
    setup.simulated = true;
    return setup;
}

bool waitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// From nothing to a window on screen whose Guard takes commands, with the settings file a
// previous session left (its default files, modes and check marks read back).
void BM_WindowStartUp(benchmark::State& state) {
    Folder folder;
    sim::Simulator receiver{sim::SimConfig{}};
    {
        mainwin::TForm9 previous(setupFor(folder, receiver));
        previous.close(); // writes the settings file and the log book
    }
    for (auto _ : state) {
        auto window = std::make_unique<mainwin::TForm9>(setupFor(folder, receiver));
        FirstPaint paint;
        window->map().installEventFilter(&paint);
        window->show();
        if (!waitFor([&] { return paint.painted && window->guard()->isIdle(); })) {
            state.SkipWithError("the window did not stand ready");
            break;
        }
        state.PauseTiming();
        window->close();
        window.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WindowStartUp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// "RFW" from the menu with the file answered, until the final report clears the map's busy mark:
// the Guard's job plus every event and log line the window takes and paints on the way.
// The Guard runs at idle priority: on a machine busy with other work it gets little time, so
// this pair is only meaningful on a quiet machine.
void BM_ReadFirmwareThroughTheWindow(benchmark::State& state) {
    Folder folder;
    sim::Simulator receiver{sim::SimConfig{}};
    mainwin::TForm9 window(setupFor(folder, receiver));
    window.setBoxHandler([](const mainwin::MessageBox&) { return true; });
    const std::string target = folder.file("read.bin");
    window.setFileHandler(
        [&target](const mainwin::FileDialogSpec&, const std::string&) { return target; });
    window.show();
    window.action(QStringLiteral("Flash/Read Signature"))->trigger();
    if (!waitFor(
            [&] { return window.feedback().flashGroupEnabled() && window.guard()->isIdle(); })) {
        state.SkipWithError("no signature");
        return;
    }
    window.action(QStringLiteral("Flash/Set all areas to PGM"))->trigger(); // as corvexctl's
    QAction* read = window.action(QStringLiteral("Flash/Read Firmware"));
    for (auto _ : state) {
        read->trigger();
        if (!waitFor([&] { return !window.feedback().mapBusy() && window.guard()->isIdle(); })) {
            state.SkipWithError("the read did not end");
            break;
        }
    }
    std::error_code missing;
    state.counters["MiB"] = static_cast<double>(fs::file_size(target, missing)) / (1024.0 * 1024.0);
    window.close();
}
BENCHMARK(BM_ReadFirmwareThroughTheWindow)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

// The same job as corvexctl runs it: "--port sim --read-file F RFW", its session in process
// (Guard start, the job, the log lines, "EXIT"), output to memory instead of a terminal.
void BM_ReadFirmwareThroughCorvexctl(benchmark::State& state) {
    Folder folder;
    sim::Simulator receiver{sim::SimConfig{}};
    std::string error;
    const auto options = cli::parseOptions({"--read-file", folder.file("read.bin"), "RFW"}, error);
    if (!options) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (auto _ : state) {
        std::ostringstream out;
        std::ostringstream err;
        cli::CtlSession session(*options, receiver.port(), "PORT: SIM", folder.file("work.LRF"),
                                out, err);
        session.dropHardwarePauses();
        if (session.run() != 0) {
            state.SkipWithError("corvexctl's read failed");
            break;
        }
    }
    std::error_code missing;
    state.counters["MiB"] =
        static_cast<double>(fs::file_size(folder.file("read.bin"), missing)) / (1024.0 * 1024.0);
}
BENCHMARK(BM_ReadFirmwareThroughCorvexctl)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

} // namespace
