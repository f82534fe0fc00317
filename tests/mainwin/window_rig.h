#pragma once

#include "mainwin/main_window.h"
#include "sim/simulator.h"
#include "tests/link/temp_dir.h"

#include <QAction>
#include <QTest>

namespace corvex::test {

inline sim::SimConfig simWith(const char* option) { // "": the default receiver
    sim::SimConfig config;
    if (*option != '\0' && !sim::applySimOption(config, option).empty()) {
        qFatal("bad sim option %s", option);
    }
    return config;
}

// The main window over an in-memory simulated receiver, its files and backups in a fresh
// folder. Boxes are answered Yes and recorded; file dialogs take `answer`.
struct WindowRig {
    explicit WindowRig(const std::function<void(mainwin::MainWindowSetup&)>& adjust = {},
                       sim::SimConfig config = {})
        : sim(std::move(config)) {
        mainwin::MainWindowSetup setup;
        setup.programPath = dir.file("corvex");
        setup.title = QStringLiteral("Corvex V4.00C - simulated receiver");
        setup.port = &sim.port();
        setup.simulated = true;
        setup.backupDir = dir.file("backups");
        if (adjust) {
            adjust(setup);
        }
        window = std::make_unique<mainwin::TForm9>(std::move(setup));
        window->setBoxHandler([this](const mainwin::MessageBox& box) {
            boxes.push_back(box);
            return true;
        });
        window->setFileHandler([this](const mainwin::FileDialogSpec& dialog,
                                      const std::string&) -> std::optional<std::string> {
            dialogs.emplace_back(dialog.title);
            return answer;
        });
        window->show();
    }
    QAction& act(const char* path) {
        QAction* found = window->action(QLatin1String(path));
        if (found == nullptr) {
            qFatal("no action %s", path);
        }
        return *found;
    }
    bool idle(int ms = 20000) {
        return QTest::qWaitFor([this] { return window->guard()->isIdle(); }, ms);
    }
    bool readSignature() {
        act("Flash/Read Signature").trigger();
        // Idle too: the next job would be refused while the signature job winds down.
        return QTest::qWaitFor(
            [this] { return window->feedback().flashGroupEnabled() && window->guard()->isIdle(); },
            20000);
    }
    bool boxSaid(const std::string& text) const {
        return std::any_of(boxes.begin(), boxes.end(),
                           [&text](const mainwin::MessageBox& box) { return box.text == text; });
    }
    // Lines of the Guard page that contain `part`.
    int lines(const std::string& part) {
        window->feedback().tick();
        const auto& log = window->feedback().logLines();
        return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const std::string& line) {
            return line.find(part) != std::string::npos;
        }));
    }

    TempDir dir;
    sim::Simulator sim;
    std::unique_ptr<mainwin::TForm9> window;
    std::vector<mainwin::MessageBox> boxes;
    std::vector<std::string> dialogs;
    std::optional<std::string> answer;
};

} // namespace corvex::test
