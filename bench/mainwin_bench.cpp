// The main window's costs on its own thread: a Guard progress event until its pixels are on the
// map, a whole map paint, one timer tick draining a full log queue onto a full Guard page, and a
// repeated "Read" of the Diagnostics page from the button to the word in its field.
// Runs on the offscreen platform, so no display is needed and nothing reaches a screen.
#include "mainwin/area_map_view.h"
#include "mainwin/diagnostics_page.h"
#include "mainwin/guard_feedback.h"
#include "mainwin/main_window.h"
#include "sim/simulator.h"

#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace corvex;
using link::AreaEvent;
namespace fs = std::filesystem;

constexpr std::size_t kAreas = 19;
constexpr int kStepsToFull = 32; // progress steps from empty to kProgressFull

// Counts the paints the view receives and the pixels they cover.
class PaintCounter : public QObject {
public:
    std::int64_t paints = 0;
    std::int64_t pixels = 0;
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
            for (const QRect& rect : static_cast<QPaintEvent*>(event)->region()) {
                pixels += static_cast<std::int64_t>(rect.width()) * rect.height();
            }
        }
        return false;
    }
};

// A table as a firmware read leaves it halfway: areas done, one reading, the rest waiting.
void midJob(mainwin::AreaModel& model) {
    for (std::size_t area = 0; area < kAreas; ++area) {
        if (area <= 9) {
            model.applyAreaEvent(AreaEvent::Reading, area);
            for (int step = 0; step < (area < 9 ? kStepsToFull : kStepsToFull / 2); ++step) {
                model.applyAreaEvent(AreaEvent::Progress, area);
            }
            if (area < 9) {
                model.applyAreaEvent(AreaEvent::ReadOK, area);
            }
        }
    }
}

// The model takes one Guard progress event, the view marks the cells that changed, and the
// event loop paints them into the window's backing store, as the window does between events.
void BM_ProgressEventToPixels(benchmark::State& state) {
    link::AreaTable table;
    mainwin::AreaModel model(table);
    mainwin::AreaMapView view(model);
    PaintCounter counter;
    view.installEventFilter(&counter);
    view.show();
    QApplication::processEvents();
    counter.paints = 0;
    counter.pixels = 0;

    std::size_t area = 0;
    int steps = 0;
    for (auto _ : state) {
        model.applyAreaEvent(AreaEvent::Progress, area);
        QApplication::processEvents();
        if (++steps == kStepsToFull) {
            steps = 0;
            if (++area == kAreas) {
                // Every indicator full: start over from empty ones, outside the figure.
                state.PauseTiming();
                const std::int64_t paints = counter.paints;
                const std::int64_t pixels = counter.pixels;
                area = 0;
                model.resetAreaStatus();
                QApplication::processEvents();
                counter.paints = paints;
                counter.pixels = pixels;
                state.ResumeTiming();
            }
        }
    }
    const auto events = static_cast<double>(state.iterations());
    state.counters["paints_per_event"] = static_cast<double>(counter.paints) / events;
    state.counters["px_per_event"] = static_cast<double>(counter.pixels) / events;
}
BENCHMARK(BM_ProgressEventToPixels)->Unit(benchmark::kMicrosecond);

// The same for the status events that open and close each area ("Reading ..." then "OK").
void BM_StatusEventToPixels(benchmark::State& state) {
    link::AreaTable table;
    mainwin::AreaModel model(table);
    mainwin::AreaMapView view(model);
    view.show();
    QApplication::processEvents();
    std::size_t area = 0;
    bool reading = true;
    for (auto _ : state) {
        model.applyAreaEvent(reading ? AreaEvent::Reading : AreaEvent::ReadOK, area);
        QApplication::processEvents();
        if (!reading) {
            area = (area + 1) % kAreas;
        }
        reading = !reading;
    }
}
BENCHMARK(BM_StatusEventToPixels)->Unit(benchmark::kMicrosecond);

// Every cell of the grid, heading included, rendered into an image: what an expose or a
// settings load costs.
void BM_WholeMapPaint(benchmark::State& state) {
    link::AreaTable table;
    mainwin::AreaModel model(table);
    midJob(model);
    mainwin::AreaMapView view(model);
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        view.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_WholeMapPaint)->Unit(benchmark::kMicrosecond);

// Hands out log lines as a busy Guard leaves them in its queue.
class QueuedLines final : public mainwin::GuardLink {
public:
    int Submit(const link::GuardRecord& /*record*/) override { return 0; }
    void Break() override {}
    void BreakOnTimeout() override {}
    [[nodiscard]] std::int32_t PendingDepth() const override { return 0; }
    [[nodiscard]] std::uint32_t ExchangesDone() const override { return 0; }
    [[nodiscard]] std::uint32_t CurrentArea() const override { return 0; }
    int takeLog(link::GuardRecord& record) override {
        if (m_queued == 0) {
            return -1;
        }
        --m_queued;
        record = link::GuardRecord::command("Programming area 07, block 0x7FE1C000 verified OK");
        return 0;
    }
    [[nodiscard]] bool isIdle() const override { return true; }
    void fill(std::size_t lines) { m_queued = lines; }

private:
    std::size_t m_queued = 0;
};

class NoBoxes final : public mainwin::FeedbackView {
public:
    bool messageBox(const mainwin::MessageBox& /*box*/) override { return true; }
};

// One 100 ms tick taking a full queue of 127 lines with the page already at its 100,000 lines:
// each new line pushes the oldest towards the log book, which is written every 10,000 lines,
// so one tick in about 79 carries a file write.
void BM_LogDrain127(benchmark::State& state) {
    const fs::path logFile =
        fs::temp_directory_path() / ("corvex_bench_log_" + std::to_string(::getpid()) + ".txt");
    link::AreaTable table;
    mainwin::AreaModel model(table);
    NoBoxes boxes;
    QueuedLines guard;
    mainwin::GuardFeedback feedback(model, boxes, "Corvex V4.00C", logFile.string());
    feedback.bindGuard(&guard);
    guard.fill(mainwin::kLogViewLimit);
    feedback.tick();

    double worst = 0;
    for (auto _ : state) {
        guard.fill(127);
        const auto start = std::chrono::steady_clock::now();
        feedback.tick();
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        worst = std::max(worst, took.count());
    }
    state.counters["lines_kept"] = static_cast<double>(feedback.logLines().size());
    state.counters["worst_ms"] = worst;
    std::error_code ignored;
    fs::remove(logFile, ignored);
}
// Bounded so the log book stays at some 15 MB.
BENCHMARK(BM_LogDrain127)->Unit(benchmark::kMicrosecond)->Iterations(2000);

// The Diagnostics page's repeat toggle, down: every 250 ms "Read" submits PID 1, the Guard
// reads the word from the simulated receiver and hands back its two messages (the word,
// "Operation completed"), which the window shows. One iteration is one such tick; the CPU
// column is the window's thread alone, which sleeps in the event loop while it waits (the
// window's own 100 ms timer runs in between, as it would).
void BM_RepeatedReadTick(benchmark::State& state) {
    const fs::path dir =
        fs::temp_directory_path() / ("corvex_bench_diag_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    {
        sim::Simulator simulator{sim::SimConfig{}};
        mainwin::MainWindowSetup setup;
        setup.programPath = (dir / "corvex").string();
        setup.title = QStringLiteral("Corvex V4.00C");
        setup.port = &simulator.port();
        setup.simulated = true;
        mainwin::TForm9 window(std::move(setup));
        window.setBoxHandler([](const mainwin::MessageBox& /*box*/) { return true; });
        window.show();
        window.pages().setCurrentIndex(1);
        auto* shown = window.diagnostics().findChild<QLineEdit*>(QStringLiteral("readData"));
        constexpr std::uint32_t kRegister = 0x80000000;
        std::uint32_t word = 0;
        const auto nextTick = [&](bool clickRead) {
            simulator.bus().poke(kRegister, ++word); // the Guard is idle between ticks
            const QString expected = QStringLiteral("%1").arg(word, 8, 16, QLatin1Char('0'));
            if (clickRead) {
                window.diagnostics().findChild<QPushButton*>(QStringLiteral("read"))->click();
            }
            // The tick set panel 1 to the wait text; "Operation completed" is the last message.
            while (shown->text().compare(expected, Qt::CaseInsensitive) != 0 ||
                   window.feedback().panel(1).text != "Operation completed") {
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
            // The Guard winds down without the window; the next tick must not find it busy. Its
            // pause after a command is 20 ms, the next tick comes after 250: coarse waits do, and
            // keep the benchmark's own polling out of the window thread's figure.
            while (!window.guard()->isIdle()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        };
        const auto threadTimes = [] {
            rusage usage{};
            ::getrusage(RUSAGE_THREAD, &usage);
            const auto us = [](const timeval& t) { return 1e6 * t.tv_sec + t.tv_usec; };
            return std::make_pair(us(usage.ru_utime), us(usage.ru_stime));
        };
        nextTick(true); // the first paint of the window and its fonts is no part of a tick
        const bool repeating = state.range(0) != 0;
        if (repeating) {
            window.diagnostics().findChild<QPushButton*>(QStringLiteral("repeat"))->click();
        }
        const auto before = threadTimes();
        for (auto _ : state) {
            if (repeating) {
                nextTick(false);
                continue;
            }
            // The baseline: the same window and page, repeat up, for as long as a tick.
            QEventLoop quarter;
            QTimer::singleShot(mainwin::DiagnosticsPage::kRepeatMs, &quarter, &QEventLoop::quit);
            quarter.exec();
        }
        const auto after = threadTimes();
        const auto ticks = static_cast<double>(state.iterations());
        state.counters["user_us"] = (after.first - before.first) / ticks;
        state.counters["sys_us"] = (after.second - before.second) / ticks;
        window.close();
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}
BENCHMARK(BM_RepeatedReadTick)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->Iterations(40);

} // namespace
