#include "about_box.h"
#include "app_options.h"
#include "channelwin/channel_editor_window.h"
#include "help_page.h"
#include "hexwin/file_editor.h"
#include "link/guard/program_files.h"
#include "link/port/sys_calls.h"
#include "mainwin/main_window.h"
#include "signal_closer.h"
#include "sim/port_choice.h"
#include "single_instance.h"
#include "widgets/icon_list.h"

#include <QApplication>
#include <QMessageBox>

#include <iostream>
#include <optional>
#include <unistd.h>

namespace {

const QString kTitle = QStringLiteral("Corvex V4.00C");

} // namespace

int main(int argc, char** argv) {
    using namespace corvex;
    std::string error;
    const auto options = app::parseAppOptions({argv + 1, argv + argc}, error);
    if (!options) {
        std::cerr << "corvex: " << error << '\n';
        return 2;
    }
    if (options->help) {
        std::cout << app::appHelpText();
        return 0;
    }
    if (options->version) {
        std::cout << "corvex " << CORVEX_VERSION << '\n';
        return 0;
    }

    // First, before anything is opened: a second start hands its request (show, or open an
    // editor on a file) to the first and ends.
    QString instanceProblem;
    const QString socketFolder = app::SingleInstance::socketFolder(instanceProblem);
    app::SingleInstance instance(socketFolder.isEmpty()
                                     ? QString()
                                     : socketFolder + QLatin1Char('/') +
                                           app::SingleInstance::serverName(kTitle, ::getuid()));
    QString handOverProblem;
    switch (instance.handOver(app::startRequests(*options), handOverProblem)) {
    case app::SingleInstance::HandOver::Taken:
        return 0;
    case app::SingleInstance::HandOver::NotTaken:
        std::cerr << "corvex: " << handOverProblem.toStdString() << '\n';
        return 1;
    case app::SingleInstance::HandOver::NoneRunning:
        break;
    }

    // The port before QApplication: the platform plugin starts threads, and direct access must
    // be granted (and privileges dropped) while this is the only one.
    std::optional<sim::OpenedPort> port;
    sim::SimConfig simConfig;
    error = sim::makeSimConfig(options->simDir, options->simOptions, simConfig);
    if (error.empty()) {
        try {
            port = sim::openPort(options->port, simConfig, link::realSysCalls());
        } catch (const std::exception& failure) {
            error = failure.what();
        }
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("corvex"));
    QApplication::setApplicationVersion(QStringLiteral(CORVEX_VERSION));
    QApplication::setWindowIcon(widgets::programIcon());
    // Ties the windows to corvex.desktop, so a desktop shows the menu entry's name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("corvex"));
    if (!port) {
        std::cerr << "corvex: " << error << '\n';
        QMessageBox::critical(nullptr, QStringLiteral("Error"), QString::fromStdString(error));
        return 2;
    }
    // From here a signal is kept until the window can close on it: a SIGTERM during start-up
    // closes the window as Exit does instead of killing the program half made.
    app::SignalCloser closer;
    // Without it the program still runs; only a second start cannot find it.
    if (!instance.listen(instanceProblem) && !instanceProblem.isEmpty()) {
        std::cerr << "corvex: " << instanceProblem.toStdString() << '\n';
    }

    const QString title =
        port->simulator ? kTitle + QStringLiteral(" - simulated receiver") : kTitle;
    mainwin::MainWindowSetup setup;
    setup.programPath = link::currentProgramPath();
    setup.title = title;
    setup.port = &port->io();
    setup.simulated = port->simulator != nullptr;
    setup.portLine = port->description;
    setup.fileArgument = options->file;
    setup.backupDir = options->backupDir;
    setup.noBackup = options->noBackup;
    setup.showAbout = [](QWidget* parent) { app::showAboutModal(parent); };
    setup.showHelp = [](QWidget* parent) { app::openHelpPage(parent); };
    setup.openHexEditor = [programPath = setup.programPath](QWidget* owner,
                                                            const std::string& file) -> QWidget* {
        auto* editor = new hexwin::TForm3(owner, programPath);
        editor->show();
        if (!file.empty()) {
            (void)editor->openByName(file);
        }
        return editor;
    };
    setup.openChannelEditor = [](QWidget* owner, const std::string& image, bool hex) {
        auto* editor = new channelwin::TForm5(hex, owner);
        editor->setAttribute(Qt::WA_DeleteOnClose);
        editor->show();
        editor->loadImage(image);
        return static_cast<QWidget*>(editor);
    };
    mainwin::TForm9 window(std::move(setup));
    QObject::connect(&instance, &app::SingleInstance::requested, &window,
                     [&window](const app::StartRequest& request) {
                         window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
                         window.show();
                         window.raise();
                         window.activateWindow();
                         // The editor that is open asks about unsaved work before it goes.
                         if (request.kind == app::StartRequest::Kind::HexEditor) {
                             window.openHexEditor(request.file.toStdString());
                         } else if (request.kind == app::StartRequest::Kind::ChannelEditor) {
                             window.openChannelEditor(request.file.toStdString(), request.hex);
                         }
                     });
    // Other windows (the about box in its first seconds, a tool window) must not keep a program
    // whose main window is gone.
    QObject::connect(&window, &mainwin::TForm9::closed, &application, &QApplication::quit,
                     Qt::QueuedConnection);
    // A signal asks nothing, even with a box open: the window answers it and closes from
    // inside its loop.
    QObject::connect(&closer, &app::SignalCloser::closeRequested, &window,
                     &mainwin::TForm9::closeForSignal);
    window.show();
    if (!options->hexEditorFile.empty()) {
        window.openHexEditor(options->hexEditorFile);
    }
    if (!options->channelEditorImage.empty()) {
        window.openChannelEditor(options->channelEditorImage, options->channelEditorHex);
    }

    auto* about = new app::AboutBox(&window);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->show();

    int status = QApplication::exec();
    if (port->simulator) {
        // The receiver's flash outlives the run only through its folder.
        if (const std::string problem = port->simulator->save(); !problem.empty()) {
            std::cerr << "corvex: " << problem << '\n';
            status = 1;
        }
    }
    return status;
}
