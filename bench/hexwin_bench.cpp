// The file editor window's costs on its own thread: opening a 1 GiB file until its first page
// is painted (its page cache warm or dropped), Page Down from the key to the pixels, a search run
// from the window, and a 1 MiB selection copied to the clipboard.
// Runs on the offscreen platform, so no display is needed and nothing reaches a screen.
#include "hexwin/file_editor.h"
#include "hexwin/hex_grid.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace corvex;
namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

// A folder beside the build for the large files: the working copy lands on the same file
// system as the file, as it does beside the program.
class Files {
public:
    Files() {
        std::string name = (fs::temp_directory_path() / "corvex-bench-XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr) {
            throw std::runtime_error("cannot make a folder");
        }
        m_dir = name;
    }
    ~Files() {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    Files(const Files&) = delete;
    Files& operator=(const Files&) = delete;

    /// A file of pseudo-random bytes, written once and read back so it sits in the page cache.
    const std::string& image(std::uint64_t mib) {
        auto& name = m_images[mib];
        if (name.empty()) {
            name = (m_dir / ("image" + std::to_string(mib) + ".bin")).string();
            std::mt19937_64 random(mib);
            std::vector<std::uint64_t> block(kMiB / 8);
            std::ofstream out(name, std::ios::binary);
            for (std::uint64_t i = 0; i < mib; ++i) {
                for (auto& word : block) {
                    word = random();
                }
                out.write(reinterpret_cast<const char*>(block.data()),
                          static_cast<std::streamsize>(kMiB));
            }
            out.close();
            // On disk, so that dropping it from the page cache (cold()) really drops it.
            const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
            (void)::fdatasync(fd);
            ::close(fd);
        }
        return name;
    }
    [[nodiscard]] std::string program() const { return (m_dir / "corvex").string(); }

private:
    fs::path m_dir;
    std::map<std::uint64_t, std::string> m_images;
};

Files& files() {
    static Files shared;
    return shared;
}

double peakMiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Drops a file from the page cache, as after a reboot: its next read comes from the disk.
void cold(const std::string& name) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// A file over 64 MiB opens at once and is copied behind a progress bar: waits for the copy.
void waitForTheWorkingCopy(hexwin::TForm3& editor) {
    while (editor.workspace().loading()) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    QApplication::processEvents();
}

hexwin::TForm3* newEditor() {
    auto* editor = new hexwin::TForm3(nullptr, files().program());
    editor->showNotice = [](const fileeditor::Notice& notice) {
        throw std::runtime_error(notice.text);
    };
    editor->show();
    QApplication::processEvents();
    return editor;
}

// From opening the file in a shown window to its first page painted into the backing store;
// the working copy is made behind it. Argument 1: the file's page cache dropped first.
void BM_OpenToFirstPaint(benchmark::State& state) {
    const std::string& image = files().image(static_cast<std::uint64_t>(state.range(0)));
    const bool dropCache = state.range(1) != 0;
    for (auto _ : state) {
        state.PauseTiming();
        hexwin::TForm3* editor = newEditor();
        if (dropCache) {
            cold(image);
        }
        state.ResumeTiming();
        editor->openByName(image);
        editor->findChild<hexwin::HexGrid*>()->repaint();
        state.PauseTiming();
        waitForTheWorkingCopy(*editor);
        delete editor; // the working copy goes with it
        state.ResumeTiming();
    }
    state.counters["peak_MiB"] = peakMiB();
}
BENCHMARK(BM_OpenToFirstPaint)
    ->Args({64, 0})
    ->Args({1024, 0})
    ->Args({1024, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The whole working copy of 1 GiB made behind the first page, until the progress bar goes.
void BM_OpenToWorkingCopy(benchmark::State& state) {
    const std::string& image = files().image(1024);
    for (auto _ : state) {
        state.PauseTiming();
        hexwin::TForm3* editor = newEditor();
        state.ResumeTiming();
        editor->openByName(image);
        waitForTheWorkingCopy(*editor);
        state.PauseTiming();
        delete editor;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenToWorkingCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Ctrl+C on a 1 MiB selection in the hexadecimal pane: the bytes read, "DE AD ..." made (3 MiB
// of text) and handed to the clipboard.
void BM_CopySelection(benchmark::State& state) {
    hexwin::TForm3* editor = newEditor();
    editor->openByName(files().image(64));
    waitForTheWorkingCopy(*editor);
    auto& ws = editor->workspace();
    ws.setCursor(1, 1, true); // the selection starts at offset 0
    ws.setScrollPosition((kMiB - 256) / 16);
    ws.setCursor(32, 16, true); // and ends on the last byte of the first MiB
    auto* grid = editor->findChild<hexwin::HexGrid*>();
    QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    for (auto _ : state) {
        QApplication::sendEvent(grid, &copy);
    }
    if (QApplication::clipboard()->text().size() != static_cast<qsizetype>(3 * kMiB - 1)) {
        state.SkipWithError("the clipboard does not hold the selection");
    }
    delete editor;
}
BENCHMARK(BM_CopySelection)->Unit(benchmark::kMillisecond)->UseRealTime();

// Page Down as a key event to the grid, the page read, the window's fields updated and the
// grid painted; at the end of the file it starts over from the top outside the figure.
void BM_PageDownToPixels(benchmark::State& state) {
    hexwin::TForm3* editor = newEditor();
    editor->openByName(files().image(64));
    waitForTheWorkingCopy(*editor);
    auto* grid = editor->findChild<hexwin::HexGrid*>();
    QKeyEvent pageDown(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
    for (auto _ : state) {
        QApplication::sendEvent(grid, &pageDown);
        QApplication::processEvents(); // the grid, the scroll bar and the offset field painted
        if (editor->workspace().scrollPosition() == editor->workspace().scrollMaximum()) {
            state.PauseTiming();
            editor->workspace().setScrollPosition(0);
            state.ResumeTiming();
        }
    }
    delete editor;
}
BENCHMARK(BM_PageDownToPixels)->Unit(benchmark::kMicrosecond);

// The search button's whole run over a 256 MiB workspace: scan thread, progress poll, results
// list and the jump to the first match. The pattern is taken from the file, so it is found.
void BM_SearchFromWindow(benchmark::State& state) {
    hexwin::TForm3* editor = newEditor();
    const std::string& image = files().image(256);
    editor->openByName(image);
    waitForTheWorkingCopy(*editor);
    editor->setPatternMode(fileeditor::PatternMode::Hexadecimal);
    editor->findChild<QComboBox*>(QStringLiteral("PatternBox"))
        ->setEditText(QStringLiteral("%1").arg(editor->workspace().pageByte(0x40) * 0x1000000u +
                                                   editor->workspace().pageByte(0x41) * 0x10000u +
                                                   editor->workspace().pageByte(0x42) * 0x100u +
                                                   editor->workspace().pageByte(0x43),
                                               8, 16, QLatin1Char('0')));
    for (auto _ : state) {
        editor->search();
        state.PauseTiming();
        editor->results().clear();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 256 * kMiB));
    delete editor;
}
BENCHMARK(BM_SearchFromWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace
