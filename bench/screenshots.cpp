// Renders the program's windows into PNG pictures for the documentation, on the offscreen
// platform and the simulated receiver, so the pictures show what a real session shows and can
// be made again on any machine. Each picture is one line of kPictures.
//
//   corvex_screenshots OUTDIR [NAME...]    (no names: every picture)
#include "app/about_box.h"
#include "channelwin/channel_editor_window.h"
#include "channelwin/line_views.h"
#include "hexwin/file_editor.h"
#include "hexwin/hex_grid.h"
#include "hexwin/range_dialog.h"
#include "link/guard/guard.h"
#include "mainwin/area_map_view.h"
#include "mainwin/guard_feedback.h"
#include "mainwin/guard_links.h"
#include "mainwin/main_window.h"
#include "mainwin/restore_dialog.h"
#include "sim/image_builder.h"
#include "sim/simulator.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QWidget>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace corvex;
namespace fs = std::filesystem;

// A fresh private folder for one session's files. Its name shows in the log book's lines, so it
// stays short.
fs::path makeTempDir() {
    std::string name = (fs::temp_directory_path() / "corvex-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr) {
        throw std::runtime_error("cannot make a folder in " + fs::temp_directory_path().string());
    }
    return name;
}

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
        : m_dir(makeTempDir()),
          m_feedback(m_model, m_view, "Corvex V4.00C", (m_dir / "corvex.log").string()),
          m_events(m_feedback) {
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

// Waits for `done`, handling events meanwhile; `what` names the wait when it takes too long.
void waitFor(const std::function<bool()>& done, const std::string& what) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error(what + " did not finish");
        }
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// The main window over a simulated receiver, its settings, log book and work files in a fresh
// folder, after "Read Firmware" through its menus as a user does it. Boxes are answered at once
// (and a box that is not a final "Information" ends the picture); the save dialog names a file
// of that folder. The read's final report is in the status bar only while its box is up, so
// the window is taken then, as the user sees it behind the box.
class WindowSession {
public:
    WindowSession() : m_dir(makeTempDir()) {
        mainwin::MainWindowSetup setup;
        setup.programPath = (m_dir / "corvex").string();
        setup.title = QStringLiteral("Corvex V4.00C - simulated receiver");
        setup.port = &m_sim.port();
        setup.simulated = true;
        setup.portLine = "PORT: simulated receiver";
        m_window = std::make_unique<mainwin::TForm9>(std::move(setup));
        m_window->setBoxHandler([this](const mainwin::MessageBox& box) {
            m_boxes.push_back(box);
            if (m_reading && box.kind == mainwin::BoxKind::Information) {
                m_atFinalReport = m_window->grab();
            }
            return true;
        });
        m_window->setFileHandler([this](const mainwin::FileDialogSpec&,
                                        const std::string&) -> std::optional<std::string> {
            return (m_dir / "firmware.bin").string();
        });
        m_window->show();
        readFirmware();
    }
    ~WindowSession() {
        m_window.reset();
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    WindowSession(const WindowSession&) = delete;
    WindowSession& operator=(const WindowSession&) = delete;

    mainwin::TForm9& window() { return *m_window; }
    /// The window while the read's final box was up.
    [[nodiscard]] const QPixmap& atFinalReport() const { return m_atFinalReport; }
    /// The window as the read passed 40 % of the whole job.
    [[nodiscard]] const QPixmap& midRead() const { return m_midRead; }

private:
    void trigger(const char* path) {
        QAction* action = m_window->action(QLatin1String(path));
        if (action == nullptr || !action->isEnabled()) {
            throw std::runtime_error(std::string("no enabled command ") + path);
        }
        action->trigger();
    }
    // A job is over when its final box has come and the Guard takes the next command.
    void runJob(const char* path) {
        m_boxes.clear();
        trigger(path);
        waitFor(
            [this] {
                const std::string progress = m_window->feedback().progressText();
                if (m_reading && m_midRead.isNull() && !progress.empty() &&
                    std::stoi(progress) >= 40) {
                    m_midRead = m_window->grab();
                }
                return !m_boxes.empty() && m_window->guard()->isIdle();
            },
            path);
        if (m_boxes.back().kind != mainwin::BoxKind::Information) {
            throw std::runtime_error(std::string(path) + ": " + m_boxes.back().text);
        }
    }
    void readFirmware() {
        // The flash commands wait for a known chip.
        trigger("Flash/Read Signature");
        waitFor(
            [this] {
                return m_window->feedback().flashGroupEnabled() && m_window->guard()->isIdle();
            },
            "Flash/Read Signature");
        trigger("Flash/Set all areas to PGM");
        m_reading = true;
        runJob("Flash/Read Firmware");
        m_reading = false;
        waitFor([this] { return !m_window->feedback().mapBusy(); }, "the area map");
        // The log book's lines reach the page on the window's timer, after the box.
        const QString report = QString::fromStdString(m_boxes.back().text);
        waitFor([this, &report] { return m_window->logView().toPlainText().contains(report); },
                "the log book");
    }

    fs::path m_dir;
    sim::Simulator m_sim{sim::SimConfig{}};
    std::unique_ptr<mainwin::TForm9> m_window;
    std::vector<mainwin::MessageBox> m_boxes;
    bool m_reading = false;
    QPixmap m_atFinalReport;
    QPixmap m_midRead;
};

// The file editor on a 64 KiB image in a fresh folder: a page with a few bytes patched (their
// change marks show) and the cursor in the character pane.
class EditorSession {
public:
    EditorSession() : m_dir(makeTempDir()) {
        m_image = (m_dir / "dsx6071.bin").string();
        std::vector<char> bytes(std::size_t{64} * 1024);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>((i * 37 + (i >> 8)) & 0xFF);
        }
        const std::string text = "DSX6071 FLASH IMAGE V2.31  TPT TABLE  TCS TABLE";
        std::copy(text.begin(), text.end(), bytes.begin() + 0x120);
        std::ofstream(m_image, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        m_editor = std::make_unique<hexwin::TForm3>(nullptr, (m_dir / "corvex").string());
        m_editor->setAttribute(Qt::WA_DeleteOnClose, false);
        m_editor->showNotice = [](const fileeditor::Notice& notice) {
            throw std::runtime_error(notice.text);
        };
        m_editor->resize(900, 600);
        m_editor->show();
        m_editor->openByName(m_image);
        m_editor->findChild<QLineEdit*>(QStringLiteral("JumpField"))
            ->setText(QStringLiteral("00000100"));
        m_editor->jump();
        // Four bytes patched through the grid's keys, as the user types them.
        QWidget* grid = m_editor->findChild<hexwin::HexGrid*>();
        const auto press = [grid](int key, Qt::KeyboardModifiers modifiers, const QString& text) {
            QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
            QApplication::sendEvent(grid, &event);
        };
        for (const char typed : std::string("DEADBEEF")) {
            press(0, Qt::NoModifier, QString(QLatin1Char(typed)));
        }
        // Then the image's name selected in the character pane with Shift and the arrows.
        press(Qt::Key_Down, Qt::NoModifier, {});
        press(Qt::Key_Down, Qt::NoModifier, {});
        press(Qt::Key_Home, Qt::NoModifier, {});
        press(Qt::Key_Tab, Qt::NoModifier, {});
        for (int i = 0; i < 18; ++i) {
            press(Qt::Key_Right, Qt::ShiftModifier, {});
        }
        QApplication::processEvents();
    }
    ~EditorSession() {
        m_editor.reset();
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    EditorSession(const EditorSession&) = delete;
    EditorSession& operator=(const EditorSession&) = delete;

    hexwin::TForm3& editor() { return *m_editor; }
    [[nodiscard]] const std::string& image() const { return m_image; }
    [[nodiscard]] const fs::path& dir() const { return m_dir; }

private:
    fs::path m_dir;
    std::string m_image;
    std::unique_ptr<hexwin::TForm3> m_editor;
};

// What the pictures are made from; each is made on first use and shared by the pictures after.
class Studio {
public:
    Session& session() {
        if (!m_session) {
            m_session = std::make_unique<Session>();
        }
        return *m_session;
    }
    WindowSession& windowAfterRead() {
        if (!m_window) {
            m_window = std::make_unique<WindowSession>();
        }
        return *m_window;
    }
    EditorSession& editor() {
        if (!m_editor) {
            m_editor = std::make_unique<EditorSession>();
        }
        return *m_editor;
    }
    /// Keeps a widget of one picture until the pictures are done.
    QWidget& keep(std::unique_ptr<QWidget> widget) {
        m_widgets.push_back(std::move(widget));
        return *m_widgets.back();
    }

private:
    std::unique_ptr<Session> m_session;
    std::unique_ptr<WindowSession> m_window;
    std::unique_ptr<EditorSession> m_editor;
    std::vector<std::unique_ptr<QWidget>> m_widgets; // after the sessions: destroyed first
};

using Build = std::function<QPixmap(Studio&)>;

// The "Flashroms" map alone after "Read Firmware": every area read, its indicator full.
QPixmap areaMap(Studio& studio) {
    auto view = std::make_unique<mainwin::AreaMapView>(studio.session().model());
    view->show();
    studio.session().run("RFW");
    return studio.keep(std::move(view)).grab();
}

// The whole main window, menus and status bar included, on one page after the read.
// The "Flashroms" page as the read ends: the map full, the final report in the status bar.
QPixmap flashromsPage(Studio& studio) {
    return studio.windowAfterRead().atFinalReport();
}

// The "Flashroms" page while the read runs: its share and time left after the wait text.
QPixmap readingPage(Studio& studio) {
    return studio.windowAfterRead().midRead();
}

// The whole window on another page after the read.
Build windowPage(int page) {
    return [page](Studio& studio) {
        mainwin::TForm9& window = studio.windowAfterRead().window();
        window.pages().setCurrentIndex(page);
        QApplication::processEvents();
        return window.grab();
    };
}

QPixmap aboutBox(Studio& studio) {
    // Long enough not to close itself before it is taken.
    auto box = std::make_unique<app::AboutBox>(nullptr, 600000);
    box->show();
    QApplication::processEvents();
    return studio.keep(std::move(box)).grab();
}

QPixmap fileEditor(Studio& studio) {
    return studio.editor().editor().grab();
}

// The range open dialog as the editor presets it, on the image's folder with the image chosen.
hexwin::TOpenFavDialog& rangeDialog(Studio& studio) {
    EditorSession& session = studio.editor();
    auto dialog = std::make_unique<hexwin::TOpenFavDialog>(nullptr);
    dialog->setDirectory(QString::fromStdString(session.dir().string()));
    dialog->setNameFilter(QStringLiteral("Binary Files (*.BIN *.bin)"));
    dialog->selectFile(QString::fromStdString(session.image()));
    dialog->setBaseAdr(QStringLiteral("00000000"));
    dialog->setOffset(QStringLiteral("00000100"));
    dialog->setLength(QStringLiteral("0"));
    for (const auto name : fileeditor::kRangePreferences) {
        dialog->preferenceNames().append(
            QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
    }
    dialog->resize(640, 420);
    dialog->show();
    QApplication::processEvents();
    auto& kept = studio.keep(std::move(dialog));
    return static_cast<hexwin::TOpenFavDialog&>(kept);
}

QPixmap rangeDialogPicture(Studio& studio) {
    return rangeDialog(studio).grab();
}

QPixmap rangePreview(Studio& studio) {
    auto& dialog = rangeDialog(studio);
    std::unique_ptr<QDialog> preview(dialog.makePreview(nullptr));
    preview->show();
    QApplication::processEvents();
    return studio.keep(std::move(preview)).grab();
}

// Flash > "Restore Backup ...": three backups of the simulated receivers' flash, the newest
// chosen and compared with the receiver.
QPixmap restoreBackup(Studio& /*studio*/) {
    const fs::path dir = makeTempDir();
    backup::BackupFolder folder(dir.string());
    std::time_t when = 1796654102; // 2026-12-07 14:35:02 UTC
    folder.setClock([&when] { return when; });
    struct Made {
        std::uint32_t hardwareType;
        std::uint32_t flashBase;
        const char* signature;
        std::time_t later;
    };
    for (const Made& made : {Made{0, 0x7FE00000, "AMD: AM29LV800BB", 0},
                             Made{1, 0x7FF00000, "AMD: AM29F400BB", 86400 + 3121},
                             Made{0, 0x7FE00000, "AMD: AM29LV800BB", 2 * 86400 + 907}}) {
        sim::SimConfig config;
        if (made.hardwareType == 1) {
            (void)sim::applySimOption(config, "receiver=dsi");
        }
        std::vector<std::uint8_t> flash = sim::Simulator(config).bus().flashImage();
        flash[made.later % flash.size()] ^= 0x5A; // each a flash of its own
        link::BackupRequest request;
        request.content = flash;
        request.hardwareType = made.hardwareType;
        request.flashBase = made.flashBase;
        request.signature = made.signature;
        when = 1796654102 + made.later;
        (void)folder.keep(request);
    }
    mainwin::RestoreModel model(dir.string(), backup::kKindFlash);
    link::AreaTable table;
    for (const std::size_t area : {0, 1, 6}) {
        table.setBits(area, link::kAreaDiffersMark);
    }
    auto dialog = std::make_unique<mainwin::RestoreBackupDialog>(
        model, mainwin::RestoreDialogHooks{
                   [] { return true; }, [] { return false; },
                   [table = &table] { return mainwin::RestoreModel::differingAreas(*table, 19); },
                   [] { return std::string(); }});
    dialog->show();
    dialog->compareButton().click();
    waitFor([&dialog] { return dialog->statusText().startsWith(QStringLiteral("Areas")); },
            "the compare");
    const QPixmap picture = dialog->grab();
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return picture;
}

// The channel list editor on the simulated receiver's firmware, sorted by name with a click on
// the heading, with one channel picked. `advanced` false switches to simple mode on a screen of
// 1280 by 560 pixels.
Build channelEditor(bool advanced, bool transponders) {
    return [advanced, transponders](Studio& studio) {
        const fs::path dir = makeTempDir();
        const std::string image = (dir / "firmware.bin").string();
        const std::vector<std::uint8_t> bytes = sim::defaultFirmwareImage(0x80000, "DSX6071");
        std::ofstream(image, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        auto editor = std::make_unique<channelwin::TForm5>(false);
        editor->setScreenSize(QSize(1280, 560));
        editor->show();
        editor->loadImage(image);
        fs::remove_all(dir);
        emit editor->channelHeader().sectionClicked(1);
        // A click on channel 4 fills the edit panel.
        QWidget* rows = editor->channelList().viewport();
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent click(type, QPointF(100, 3 * 18 + 5), rows->mapToGlobal(QPointF(100, 59)),
                              Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(rows, &click);
        }
        auto& list = editor->editor().channels();
        if (transponders) {
            list.setSelected(4, true);
            editor->editor().jumpToTransponder();
            editor->editor().viewFamilyChannels();
        }
        if (!advanced) {
            editor->button(QStringLiteral("Switch to advanced mode"))->click();
        }
        editor->pages().setCurrentIndex(transponders ? 1 : 0);
        QApplication::processEvents();
        return studio.keep(std::move(editor)).grab();
    };
}

struct Picture {
    const char* name; // the file is NAME.png
    Build build;
};

const std::array kPictures{
    Picture{"main-flashroms", flashromsPage},
    Picture{"main-reading", readingPage},
    Picture{"main-guard", windowPage(2)},
    Picture{"main-diagnostics", windowPage(1)},
    Picture{"area-map", areaMap},
    Picture{"about", aboutBox},
    Picture{"file-editor", fileEditor},
    Picture{"range-dialog", rangeDialogPicture},
    Picture{"range-preview", rangePreview},
    Picture{"channel-editor", channelEditor(true, false)},
    Picture{"channel-editor-simple", channelEditor(false, false)},
    Picture{"channel-editor-transponders", channelEditor(true, true)},
    Picture{"restore-backup", restoreBackup},
};

bool render(const Picture& picture, Studio& studio, const fs::path& outDir) {
    try {
        const QPixmap pixmap = picture.build(studio);
        const fs::path file = outDir / (std::string(picture.name) + ".png");
        if (pixmap.isNull() || !pixmap.save(QString::fromStdString(file.string()), "PNG")) {
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
    Studio studio;
    for (const Picture& picture : kPictures) {
        bool wanted = argc == 2;
        for (int i = 2; i < argc; ++i) {
            wanted = wanted || picture.name == std::string(argv[i]);
        }
        if (wanted) {
            ok = render(picture, studio, outDir) && ok;
        }
    }
    return ok ? 0 : 1;
}
