#include "ctl_backups.h"
#include "ctl_channels.h"
#include "ctl_find.h"
#include "ctl_session.h"
#include "link/guard/program_files.h"
#include "link/port/sys_calls.h"
#include "sim/port_choice.h"

namespace corvex::cli {

int runCorvexctl(const std::vector<std::string_view>& args, std::ostream& out, std::ostream& err,
                 StopRequest* stop) {
    std::string error;
    const auto options = parseOptions(args, error);
    if (!options) {
        err << "corvexctl: " << error << '\n';
        return 2;
    }
    if (options->help) {
        out << kHelp;
        return 0;
    }
    if (options->version) {
        out << "corvexctl " << CORVEX_VERSION << '\n';
        return 0;
    }
    if (!options->channelsImage.empty()) {
        return runChannels(*options, out, err);
    }
    if (options->findPattern) {
        return runFind(*options, out, err);
    }
    if (options->listBackups) {
        return runListBackups(*options, out, err);
    }
    std::optional<RestorePlan> restore;
    if (!options->restoreFile.empty()) {
        restore = planRestore(*options, err);
        if (!restore) {
            return 1;
        }
    }
    const CtlOptions& runOptions = restore ? restore->options : *options;

    sim::SimConfig simConfig;
    if (const std::string problem =
            sim::makeSimConfig(options->simDir, options->simOptions, simConfig);
        !problem.empty()) {
        err << "corvexctl: " << problem << '\n';
        return 2;
    }

    // Before the port: a run that cannot have a work file of its own must not touch it.
    auto workFile = link::lockWorkFile(link::currentProgramPath(), "LRF", error);
    if (!workFile) {
        err << "corvexctl: " << error << '\n';
        return 1;
    }

    sim::OpenedPort port;
    try {
        port = sim::openPort(options->port, simConfig, link::realSysCalls());
    } catch (const link::PortOpenError& failure) {
        err << "corvexctl: " << failure.what() << '\n';
        return 2;
    } catch (const sim::SimError& failure) {
        err << "corvexctl: " << failure.what() << '\n';
        return 2;
    }
    std::unique_ptr<sim::Simulator>& simulator = port.simulator;

    int status = 0;
    {
        CtlSession session(runOptions, port.io(), port.description, workFile->path(), out, err);
        if (simulator) {
            session.dropPollDelays();
        }
        session.setStopRequest(stop);
        session.setRestore(restore ? &restore->backup : nullptr);
        status = session.run();
    }
    if (simulator) {
        // The receiver's flash outlives the run only through its folder: a failed save is a
        // failed run, and the previous flash.bin is still there.
        if (const std::string problem = simulator->save(); !problem.empty()) {
            err << "corvexctl: " << problem << '\n';
            status = 1;
        }
    }
    if (stop != nullptr && stop->signal() != 0) {
        status = 128 + stop->signal();
    }
    return status;
}

} // namespace corvex::cli
