// Renders the program's windows into PNG pictures for the documentation, on the offscreen
// platform and the simulated receiver, so the pictures show what a real session shows and can
// be made again on any machine. Each picture is one line of kPictures.
//
//   corvex_screenshots OUTDIR [NAME...]    (no names: every picture)
#include "link/guard/guard.h"
#include "mainwin/area_map_view.h"
#include "mainwin/guard_feedback.h"
#include "sim/simulator.h"

#include <QApplication>
#include <QPixmap>
#include <QWidget>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using namespace corvex;
namespace fs = std::filesystem;

// Message boxes are not shown; a final report or a broken link ends the job being waited for.
class QuietView final : public mainwin::FeedbackView {
public:
    bool messageBox(const mainwin::MessageBox& box) override {
        lastBox = box;
        return true;
    }
    std::optional<mainwin::MessageBox> lastBox;
};

// A simulated receiver with a Guard whose events reach the window's side on this thread, as in
// the program: the area model and the Guard feedback.
class Session {
public:
    Session()
        : m_dir(fs::temp_directory_path() / ("corvex_screenshots_" + std::to_string(::getpid()))),
          m_feedback(m_model, m_view, "Corvex V4.00C", (m_dir / "corvex.log").string()),
          m_events(m_feedback) {
        fs::create_directories(m_dir);
        m_guard = std::make_unique<link::TCorvexThread>(
            m_sim.port(),
            // Posted: the Guard is destroyed on this thread, which must not be waited for then.
            [](const std::function<void()>& call) {
                QMetaObject::invokeMethod(qApp, call, Qt::QueuedConnection);
            },
            (m_dir / "work.LRF").string());
        m_guard->setAreaTable(&m_table);
        m_guard->bindEvents(&m_events);
        // The simulated flash counts polls, not time: the waits for real chips only slow it.
        m_guard->link().setMicroDelay([](std::uint64_t /*microseconds*/) {});
        m_guard->link().setSleeper([](std::chrono::milliseconds /*ms*/) {});
        m_link = std::make_unique<mainwin::GuardThreadLink>(*m_guard);
        m_feedback.bindGuard(m_link.get());
        m_guard->SetReadFileName((m_dir / "firmware.bin").string());
    }
    ~Session() {
        m_guard.reset();
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    mainwin::AreaModel& model() { return m_model; }

    /// Runs one job to its final message box, handling the Guard's events meanwhile.
    void run(const char* command) {
        m_view.lastBox.reset();
        if (m_guard->Submit(link::GuardRecord::command(command)) < 0) {
            throw std::runtime_error(std::string("the Guard refused ") + command);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!m_view.lastBox) {
            if (std::chrono::steady_clock::now() > deadline) {
                throw std::runtime_error(std::string(command) + " did not finish");
            }
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (m_view.lastBox->title != "Information") {
            throw std::runtime_error(std::string(command) + ": " + m_view.lastBox->text);
        }
    }

private:
    fs::path m_dir;
    sim::Simulator m_sim{sim::SimConfig{}};
    link::AreaTable m_table;
    mainwin::AreaModel m_model{m_table};
    QuietView m_view;
    mainwin::GuardFeedback m_feedback;
    mainwin::FeedbackEvents m_events;
    std::unique_ptr<link::TCorvexThread> m_guard;
    std::unique_ptr<mainwin::GuardThreadLink> m_link;
};

using Build = std::function<std::unique_ptr<QWidget>(Session&)>;

// The "Flashroms" map after "Read Firmware": every area read, its indicator full.
std::unique_ptr<QWidget> areaMap(Session& session) {
    auto view = std::make_unique<mainwin::AreaMapView>(session.model());
    view->show();
    session.run("RFW");
    return view;
}

struct Picture {
    const char* name; // the file is NAME.png
    Build build;
};

const std::array kPictures{
    Picture{"area-map", areaMap},
};

bool render(const Picture& picture, const fs::path& outDir) {
    try {
        Session session;
        std::unique_ptr<QWidget> widget = picture.build(session);
        QApplication::processEvents();
        const fs::path file = outDir / (std::string(picture.name) + ".png");
        if (!widget->grab().save(QString::fromStdString(file.string()), "PNG")) {
            std::fprintf(stderr, "corvex_screenshots: cannot write %s\n", file.c_str());
            return false;
        }
        std::printf("%s\n", file.c_str());
        return true;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "corvex_screenshots: %s: %s\n", picture.name, error.what());
        return false;
    }
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: corvex_screenshots OUTDIR [NAME...]\n");
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        if (std::none_of(kPictures.begin(), kPictures.end(),
                         [&](const Picture& p) { return p.name == std::string(argv[i]); })) {
            std::fprintf(stderr, "corvex_screenshots: no picture named %s\n", argv[i]);
            return 2;
        }
    }
    const fs::path outDir = argv[1];
    std::error_code error;
    fs::create_directories(outDir, error);
    bool ok = true;
    for (const Picture& picture : kPictures) {
        bool wanted = argc == 2;
        for (int i = 2; i < argc; ++i) {
            wanted = wanted || picture.name == std::string(argv[i]);
        }
        if (wanted) {
            ok = render(picture, outDir) && ok;
        }
    }
    return ok ? 0 : 1;
}
