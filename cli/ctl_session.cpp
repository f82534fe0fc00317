#include "ctl_session.h"

#include "ctl_channels.h"
#include "ctl_find.h"
#include "link/guard/guard_commands.h"
#include "link/guard/log_book.h"
#include "link/guard/program_files.h"
#include "link/port/port_backends.h"
#include "link/port/sys_calls.h"
#include "mainwin/message_texts.h"
#include "sim/simulator.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace corvex::cli {

namespace {

constexpr auto kTick = std::chrono::milliseconds(100);
constexpr std::string_view kAbortReport = "Job aborted and Corvex guard ready to start new job !";
constexpr std::uint32_t kStyleMask = 0xFF00;

// A final report counts as a failure when it is styled as an error, marks the area stopped, or
// is the Guard's own abort report; so do an unknown chip, a broken link and a stop on error.
bool isFailureReport(const link::GuardRecord& message) {
    switch (message.Code) {
    case link::kMsgSignature:
        return message.Flag != 0; // a chip that is not in the table cannot be flashed
    case link::kMsgFinalReport:
        return (message.Data & kStyleMask) == link::kStyleError || message.Flag != 0 ||
               message.Text == kAbortReport;
    case link::kMsgBrokenLink:
    case link::kMsgStoppedOnError:
        return true;
    default:
        return false;
    }
}

// Message boxes break lines at "\r"; one printed line per message keeps the output greppable.
std::string escapeLineBreaks(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\r') {
            escaped += "\\r";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

} // namespace

void Dispatcher::call(const std::function<void()>& fn) {
    Task task{&fn};
    std::unique_lock lock(m_mutex);
    m_tasks.push_back(&task);
    m_arrived.notify_one();
    m_finished.wait(lock, [&] { return task.done; });
}

void Dispatcher::runUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_mutex);
    while (true) {
        if (!m_arrived.wait_until(lock, deadline, [&] { return !m_tasks.empty(); })) {
            return;
        }
        Task* task = m_tasks.front();
        m_tasks.pop_front();
        lock.unlock();
        (*task->fn)();
        lock.lock();
        task->done = true;
        m_finished.notify_all();
    }
}

CtlSession::CtlSession(const CtlOptions& options, link::PortIo& port, std::string portDescription,
                       std::ostream& out, std::ostream& err)
    : m_options(options), m_out(out), m_err(err), m_portDescription(std::move(portDescription)),
      m_progressLine(&err == &std::cerr && ::isatty(STDERR_FILENO) == 1), m_areaModel(m_areaTable) {
    for (std::size_t area = 0; area < link::kAreaSlots; ++area) {
        m_areaTable.setMode(area, m_options.areaModes[area]);
    }
    m_guard = std::make_unique<link::TCorvexThread>(
        port, [this](const std::function<void()>& fn) { m_dispatcher.call(fn); },
        link::programFileName(link::currentProgramPath(), "LRF"));
    m_guard->setAreaTable(&m_areaTable);
    m_guard->bindEvents(this);
}

std::size_t CtlSession::commandCount() const {
    return m_options.commands.size() + (m_options.hardware ? 1 : 0);
}

link::GuardRecord CtlSession::commandAt(std::size_t index) const {
    if (m_options.hardware) {
        if (index == 0) {
            return link::GuardRecord::command("SETHARDWARE", *m_options.hardware);
        }
        --index;
    }
    return m_options.commands[index];
}

CtlSession::~CtlSession() {
    // The Guard has ended (run() waits for that) or is told to end here; its destructor stops
    // handing over events first, so joining it from this thread cannot block on the dispatcher.
    m_guard.reset();
}

void CtlSession::dropPollDelays() {
    m_guard->link().setMicroDelay([](std::uint64_t /*microseconds*/) {});
}

int CtlSession::run() {
    printLogLine(m_portDescription);
    if (!m_options.readFile.empty()) {
        m_guard->SetReadFileName(m_options.readFile);
    }
    if (!m_options.writeFile.empty()) {
        m_guard->SetWriteFileName(m_options.writeFile);
    }
    if (!m_options.eepromLoadFile.empty()) {
        m_guard->SetEELoadFileName(m_options.eepromLoadFile);
    }
    if (!m_options.eepromSaveFile.empty()) {
        m_guard->SetEESaveFileName(m_options.eepromSaveFile);
    }
    if (m_options.stopOnError) {
        m_guard->SetStopOnError(true);
    }

    std::optional<std::chrono::steady_clock::time_point> breakAt;
    auto nextTick = std::chrono::steady_clock::now() + kTick;
    while (!m_terminated) {
        if (!m_exitSubmitted && m_guard->isIdle()) {
            const bool last = m_next == commandCount();
            const link::GuardRecord command =
                last ? link::GuardRecord::command("EXIT") : commandAt(m_next);
            if (!last && link::findCommand(command.Text.view()) == nullptr) {
                m_failed = true; // the Guard answers with its unknown-command line
            }
            const bool accepted = m_guard->Submit(command) >= 0;
            if (command.Text == "SETHARDWARE") {
                m_areaModel.selectHardwareType(static_cast<int>(command.Param), accepted);
            }
            if (!accepted) {
                m_failed = true;
                m_exitSubmitted = true; // stopped Guard: nothing more will run
            } else if (last) {
                m_exitSubmitted = true;
            } else {
                if (m_next == 0 && m_options.breakAfterMs) {
                    breakAt = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(*m_options.breakAfterMs);
                }
                ++m_next;
            }
        }
        auto wake = nextTick;
        if (breakAt) {
            // Once due, the break waits (in 1 ms steps) for a job to be running: Break on an
            // idle Guard is ignored, and the job submitted last may not have been taken yet.
            wake = std::min(wake, std::max(*breakAt, std::chrono::steady_clock::now() +
                                                         std::chrono::milliseconds(1)));
        }
        m_dispatcher.runUntil(wake);
        const auto now = std::chrono::steady_clock::now();
        if (breakAt && now >= *breakAt && m_guard->GuardState() == link::GuardStateValue::Busy) {
            breakAt.reset();
            m_guard->Break();
        }
        if (now >= nextTick) {
            tick();
            nextTick += kTick;
        }
        if (m_exitSubmitted && m_guard->GuardState() == link::GuardStateValue::Stopped &&
            !m_terminated) {
            // A Guard that refused a submission has already ended; its end notification may
            // still be on its way through the dispatcher.
            m_dispatcher.runUntil(std::chrono::steady_clock::now() + kTick);
        }
    }
    drainLog();
    if (m_progressLine) {
        m_err << "\r\x1b[K" << std::flush;
    }
    if (!m_options.logFile.empty() && !m_pendingLogFile.empty()) {
        if (const std::string error = link::appendLogFile(m_options.logFile, m_pendingLogFile);
            !error.empty()) {
            m_err << "corvexctl: " << error << '\n';
            m_failed = true;
        }
    }
    return m_failed ? 1 : 0;
}

void CtlSession::tick() {
    drainLog();
    if (m_options.timeoutControl && m_watch.tick(m_guard->PendingDepth())) {
        m_guard->BreakOnTimeout();
    }
    showProgress();
}

void CtlSession::drainLog() {
    link::GuardRecord record;
    while (m_guard->takeLog(record) >= 0) {
        printLogLine(record.Text.view());
        if (record.Code == link::kMsgRejected) {
            printMessage(record);
            m_failed = true;
        }
    }
}

void CtlSession::printLogLine(std::string_view text) {
    const std::string line = link::logBookLine(text, std::chrono::system_clock::now());
    if (m_progressLine) {
        m_err << "\r\x1b[K" << std::flush;
    }
    m_out << line << '\n' << std::flush;
    if (!m_options.logFile.empty()) {
        m_pendingLogFile.push_back(line);
    }
}

void CtlSession::printMessage(const link::GuardRecord& message) {
    m_out << "MESSAGE " << message.Code;
    // What the window shows for the message: the diagnostics results and the loopback gauge
    // carry their value in `Data`, the loopback warning is the window's own question.
    std::string text;
    switch (message.Code) {
    case link::kMsgDiagValue: {
        char value[16];
        std::snprintf(value, sizeof value, "%0*X", static_cast<int>(std::min(message.Flag, 8U)),
                      message.Data);
        text = value;
        break;
    }
    case link::kMsgDiagLine:
    case link::kMsgLoopProgress:
        text = std::to_string(message.Data);
        break;
    case link::kMsgLoopWarning:
        text = mainwin::kLoopbackWarning;
        break;
    default:
        text = message.Text.str();
        break;
    }
    if (!text.empty()) {
        m_out << ' ' << escapeLineBreaks(text);
    }
    m_out << '\n' << std::flush;
}

void CtlSession::showProgress() {
    if (!m_progressLine || m_terminated) {
        return;
    }
    const std::size_t shown = m_next == 0 ? 1 : m_next;
    const std::string word =
        shown <= commandCount() ? commandAt(shown - 1).Text.str() : std::string("EXIT");
    m_err << "\r\x1b[K[" << shown << '/' << commandCount() << "] " << word;
    if (m_guard->PendingDepth() > 0) {
        m_err << "  waiting for the interface";
    }
    m_err << std::flush;
}

void CtlSession::OnMessage(link::TCorvexThread& /*sender*/, const link::GuardRecord& message) {
    // Log lines queued before the message belong before it in the output.
    drainLog();
    printMessage(message);
    const std::size_t area =
        message.Code == link::kMsgAreaColour ? message.Address : m_guard->CurrentArea();
    const std::string before =
        area < link::kAreaSlots ? m_areaModel.area(area).statusText : std::string();
    m_areaModel.applyMessage(message, m_guard->CurrentArea());
    if (area < link::kAreaSlots && m_areaModel.area(area).statusText != before) {
        printArea(area);
    }
    if (message.Code == link::kMsgLoopProgress) {
        m_watch.restart();
    }
    if (message.Code == link::kMsgLoopWarning) {
        // No window to ask: --yes stands for the user's Yes; anything else is a No.
        m_out << "ANSWER " << (m_options.yes ? "Yes" : "No") << '\n' << std::flush;
        if (!m_options.yes) {
            m_guard->Break();
        }
    }
    if (isFailureReport(message)) {
        m_failed = true;
    }
}

void CtlSession::OnTerminate(link::TCorvexThread& /*sender*/) {
    drainLog();
    m_terminated = true;
    if (!m_exitSubmitted || m_next < commandCount()) {
        m_failed = true; // ended by a fatal error, not by our "EXIT"
    }
}

void CtlSession::areaEvent(link::AreaEvent event) {
    const std::size_t area = m_guard->CurrentArea();
    m_areaModel.applyAreaEvent(event, area);
    if (event == link::AreaEvent::Progress) {
        m_watch.restart();
    } else if (event != link::AreaEvent::Reset) {
        printArea(area);
    }
}

void CtlSession::printArea(std::size_t area) {
    if (!m_options.verbose || area >= link::kAreaSlots) {
        return;
    }
    drainLog();
    char number[8];
    std::snprintf(number, sizeof number, "%2u", static_cast<unsigned>(area));
    m_out << "AREA " << number << ' ' << m_areaModel.area(area).statusText << '\n' << std::flush;
}

void CtlSession::OnProgress(link::TCorvexThread&) {
    areaEvent(link::AreaEvent::Progress);
}
void CtlSession::OnAreaReset(link::TCorvexThread&) {
    areaEvent(link::AreaEvent::Reset);
}
void CtlSession::OnAreaReading(link::TCorvexThread&) {
    areaEvent(link::AreaEvent::Reading);
}
void CtlSession::OnAreaReadOK(link::TCorvexThread&) {
    areaEvent(link::AreaEvent::ReadOK);
}
void CtlSession::OnAreaReadError(link::TCorvexThread&) {
    areaEvent(link::AreaEvent::ReadError);
}
void CtlSession::OnAreaErasing(link::TCorvexThread&) {
    areaEvent(link::AreaEvent::Erasing);
}
void CtlSession::OnAreaErased(link::TCorvexThread&) {
    areaEvent(link::AreaEvent::Erased);
}
void CtlSession::OnAreaEraseFailed(link::TCorvexThread&) {
    areaEvent(link::AreaEvent::EraseFailed);
}
void CtlSession::OnAreaProgramming(link::TCorvexThread&) {
    areaEvent(link::AreaEvent::Programming);
}
void CtlSession::OnAreaProgrammed(link::TCorvexThread&) {
    areaEvent(link::AreaEvent::Programmed);
}
void CtlSession::OnAreaProgramFailed(link::TCorvexThread&) {
    areaEvent(link::AreaEvent::ProgramFailed);
}
void CtlSession::OnAreaSkipped(link::TCorvexThread&) {
    areaEvent(link::AreaEvent::Skipped);
}
void CtlSession::OnAreaUpToDate(link::TCorvexThread&) {
    areaEvent(link::AreaEvent::UpToDate);
}
void CtlSession::OnAreaNeedsUpdate(link::TCorvexThread&) {
    areaEvent(link::AreaEvent::NeedsUpdate);
}

int runCorvexctl(const std::vector<std::string_view>& args, std::ostream& out, std::ostream& err) {
    std::string error;
    const auto options = parseOptions(args, error);
    if (!options) {
        err << "corvexctl: " << error << '\n';
        return 2;
    }
    if (!options->channelsImage.empty()) {
        return runChannels(*options, out, err);
    }
    if (options->findPattern) {
        return runFind(*options, out, err);
    }

    sim::SimConfig simConfig;
    simConfig.dir = options->simDir;
    for (const std::string& option : options->simOptions) {
        if (const std::string problem = sim::applySimOption(simConfig, option); !problem.empty()) {
            err << "corvexctl: " << problem << '\n';
            return 2;
        }
    }
    if (const std::string problem = sim::checkSimConfig(simConfig); !problem.empty()) {
        err << "corvexctl: " << problem << '\n';
        return 2;
    }

    std::unique_ptr<sim::Simulator> simulator;
    std::unique_ptr<link::PortIo> realPort;
    link::PortIo* port = nullptr;
    std::string description;
    try {
        if (options->port.empty()) {
            if (auto real =
                    link::openAccessibleRealPort(link::realSysCalls(), link::kDefaultPortBase)) {
                realPort = std::move(real->io);
                description = "PORT: " + real->description;
            }
        } else if (options->port != "sim") {
            auto real =
                link::openPortBackend(options->port, link::realSysCalls(), link::kDefaultPortBase);
            realPort = std::move(real.io);
            description = "PORT: " + real.description;
        }
    } catch (const link::PortOpenError& failure) {
        err << "corvexctl: " << failure.what() << '\n';
        return 2;
    }
    if (realPort) {
        port = realPort.get();
    } else {
        try {
            simulator = std::make_unique<sim::Simulator>(simConfig);
        } catch (const sim::SimError& failure) {
            err << "corvexctl: " << failure.what() << '\n';
            return 2;
        }
        port = &simulator->port();
        description = "PORT: simulated Corvex interface at 0x378";
    }

    int status = 0;
    {
        CtlSession session(*options, *port, description, out, err);
        if (simulator) {
            session.dropPollDelays();
        }
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
    return status;
}

} // namespace corvex::cli
