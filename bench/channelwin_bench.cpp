// The channel list editor window on a full list: 4,000 channels over 254 transponders in an
// image file. Runs on the offscreen platform, so no display is needed and nothing reaches a
// screen.
#include "channelwin/channel_editor_window.h"
#include "channelwin/line_views.h"
#include "sim/image_builder.h"

#include <QApplication>
#include <QImage>
#include <QTabWidget>

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace {

using namespace corvex;
namespace fs = std::filesystem;

constexpr std::size_t kChannels = 4000;
constexpr std::size_t kTransponders = 254;

// The image file, written once into a private folder that goes at the end of the run.
class ImageFile {
public:
    ImageFile() {
        std::string name = (fs::temp_directory_path() / "corvex-bench-XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr) {
            throw std::runtime_error("cannot make a folder for the benchmark image");
        }
        m_dir = name;
        const std::vector<std::uint8_t> image =
            sim::channelTableImage(0x80000, sim::generatedTransponders(kTransponders),
                                   sim::generatedChannels(kChannels, kTransponders));
        std::ofstream(path(), std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
    }
    ~ImageFile() {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;
    [[nodiscard]] std::string path() const { return (m_dir / "image.bin").string(); }
    [[nodiscard]] std::string file(const char* name) const { return (m_dir / name).string(); }

private:
    fs::path m_dir;
};

const ImageFile& imageFile() {
    static const ImageFile file;
    return file;
}

std::unique_ptr<channelwin::TForm5> openWindow() {
    auto window = std::make_unique<channelwin::TForm5>(false);
    window->setBoxHandler(
        [](const channels::Notice& notice, QMessageBox::Icon, QMessageBox::StandardButtons) {
            if (notice.title == "Error") {
                throw std::runtime_error(notice.text);
            }
            return QMessageBox::Ok;
        });
    window->show();
    window->loadImage(imageFile().path());
    if (window->editor().channels().size() != kChannels) {
        throw std::runtime_error("the benchmark image did not load as expected");
    }
    return window;
}

// From the window's creation to its first complete picture: construction, the load of the
// file, and the paint of the whole window.
void BM_OpenToFirstPaint(benchmark::State& state) {
    QImage picture(QSize(channelwin::TForm5::kClientWidth, channelwin::TForm5::kClientHeight),
                   QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        std::unique_ptr<channelwin::TForm5> window = openWindow();
        window->render(&picture);
        benchmark::DoNotOptimize(picture.constBits());
        state.PauseTiming();
        window.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenToFirstPaint)->Unit(benchmark::kMillisecond);

// One frame of a list: every row in sight painted, half way down the list.
template <bool Transponders> void BM_ListFrame(benchmark::State& state) {
    std::unique_ptr<channelwin::TForm5> window = openWindow();
    channelwin::LineView* view = &window->channelList();
    if constexpr (Transponders) {
        window->editor().expandAll(); // channel sub-lines and headers: the dearest rows
        window->editor().transponders().setTop(window->editor().transponders().size() / 2);
        window->pages().setCurrentIndex(1);
        view = &window->transponderList();
    } else {
        window->editor().channels().setTop(kChannels / 2);
        for (std::size_t i = kChannels / 2; i < kChannels / 2 + 20; i += 3) {
            window->editor().channels().setSelected(i, true);
        }
    }
    view->refresh();
    QImage picture(view->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        view->viewport()->render(&picture);
        benchmark::DoNotOptimize(picture.constBits());
    }
}
BENCHMARK(BM_ListFrame<false>)->Name("BM_ChannelListFrame")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListFrame<true>)->Name("BM_TransponderListFrame")->Unit(benchmark::kMicrosecond);

// 500 selected channels (every eighth) dropped on line 100 in both drop modes, undo step
// included.
void BM_Drop500(benchmark::State& state) {
    std::unique_ptr<channelwin::TForm5> window = openWindow();
    auto& list = window->editor().channels();
    list.setAdvancedDragDrop(state.range(0) != 0);
    const std::vector<channels::Line> start = list.lines();
    for (auto _ : state) {
        state.PauseTiming();
        list.reset(start);
        for (std::size_t i = 0; i < kChannels; i += 8) {
            list.setSelected(i, true);
        }
        list.setCurrent(0);
        state.ResumeTiming();
        window->dropOn(100);
    }
}
BENCHMARK(BM_Drop500)->Arg(1)->Arg(0)->ArgName("advanced")->Unit(benchmark::kMillisecond);

// The whole list, rearranged, into a new image: build, write, read back and rename.
void BM_SaveIntoImage(benchmark::State& state) {
    std::unique_ptr<channelwin::TForm5> window = openWindow();
    auto& list = window->editor().channels();
    for (std::size_t i = 0; i < kChannels; i += 2) {
        list.setSelected(i, true);
    }
    list.cut();
    list.setCurrent(std::nullopt);
    list.pasteAfter();
    window->setBoxHandler([](const channels::Notice&, QMessageBox::Icon,
                             QMessageBox::StandardButtons) { return QMessageBox::Ok; });
    const std::string target = imageFile().file("saved.bin");
    for (auto _ : state) {
        if (!window->saveIntoImage(target)) {
            state.SkipWithError("the save failed");
            break;
        }
    }
}
BENCHMARK(BM_SaveIntoImage)->Unit(benchmark::kMillisecond);

} // namespace
