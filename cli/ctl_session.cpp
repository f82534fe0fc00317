#include "ctl_session.h"

#include "link/guard/guard_commands.h"
#include "link/guard/log_book.h"
#include "link/port/port_backends.h"
#include "mainwin/message_texts.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace corvex::cli {

namespace {

constexpr auto kTick = std::chrono::milliseconds(100);
constexpr std::uint32_t kStyleMask = 0xFF00;
// The Guard logs this before it takes its first command.
constexpr std::string_view kGuardRunning = "CORVEX GUARD RUNNING";

// A final report counts as a failure when it is styled as an error, marks the area stopped, or
// is the Guard's own abort report; so do an unknown chip, a broken link and a stop on error.
bool isFailureReport(const link::GuardRecord& message) {
    switch (message.Code) {
    case link::kMsgSignature:
        return message.Flag != 0; // a chip that is not in the table cannot be flashed
    case link::kMsgFinalReport:
        return (message.Data & kStyleMask) == link::kStyleError || message.Flag != 0 ||
               message.Text == link::kAbortReport;
    case link::kMsgBrokenLink:
    case link::kMsgStoppedOnError:
        return true;
    default:
        return false;
    }
}

} // namespace

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

namespace {

// "0-3,5,7-9", or "none".
std::string areaList(std::uint32_t areas) {
    std::string list;
    for (std::uint32_t area = 0; area < link::kAreaSlots; ++area) {
        if ((areas >> area & 1U) == 0 || (area > 0 && (areas >> (area - 1) & 1U) != 0)) {
            continue; // not in the list, or inside a run printed from its first area
        }
        std::uint32_t last = area;
        while (last + 1 < link::kAreaSlots && (areas >> (last + 1) & 1U) != 0) {
            ++last;
        }
        // Appended piece by piece: GCC 12 -O2 misreads "literal + to_string" as overlapping.
        list.append(list.empty() ? "" : ",").append(std::to_string(area));
        if (last > area) {
            list.append(last == area + 1 ? "," : "-").append(std::to_string(last));
        }
    }
    return list.empty() ? "none" : list;
}

std::string_view signalName(int signal) {
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

} // namespace

CtlSession::CtlSession(const CtlOptions& options, link::PortIo& port, std::string portDescription,
                       std::string workFile, std::ostream& out, std::ostream& err)
    : m_options(options), m_out(out), m_err(err), m_portDescription(std::move(portDescription)),
      m_progress(err, !options.quiet && &err == &std::cerr && ::isatty(STDERR_FILENO) == 1),
      m_areaModel(m_areaTable) {
    for (std::size_t area = 0; area < link::kAreaSlots; ++area) {
        m_areaTable.setMode(area, m_options.areaModes[area]);
    }
    m_guard = std::make_unique<link::TCorvexThread>(
        port, [this](const std::function<void()>& fn) { m_dispatcher.call(fn); },
        std::move(workFile));
    m_guard->setAreaTable(&m_areaTable);
    m_guard->bindEvents(this);
    m_guard->bindWake(&m_dispatcher);
    if (!m_options.noBackup) {
        m_backups = std::make_unique<backup::BackupFolder>(m_options.backupDir);
        m_guard->setBackupKeeper(m_backups.get());
    }
}

CtlSession::~CtlSession() {
    // The Guard has ended (run() waits for that) or is told to end here; its destructor stops
    // handing over events first, so joining it from this thread cannot block on the dispatcher.
    m_guard.reset();
}

void CtlSession::dropPollDelays() {
    m_guard->link().setMicroDelay([](std::uint64_t /*microseconds*/) {});
}

void CtlSession::waitForGuardStart() {
    // These setters log from this thread; before the Guard's own start lines are out, their
    // lines would land among them in an order that changes from run to run. Its lines wake
    // the dispatcher; those logged before the wake was bound are found by the first drain.
    for (drainLog(); !m_guardStarted && !m_terminated; drainLog()) {
        m_dispatcher.runPending(std::chrono::steady_clock::now() + kTick);
    }
}

int CtlSession::run() {
    printLogLine(m_portDescription);
    // Set before the Guard has started, so that the first command can be in its queue when it
    // first looks: these two log nothing.
    if (!m_options.readFile.empty()) {
        m_guard->SetReadFileName(m_options.readFile);
    }
    if (!m_options.writeFile.empty()) {
        m_guard->SetWriteFileName(m_options.writeFile);
    }
    if (!m_options.eepromLoadFile.empty() || !m_options.eepromSaveFile.empty() ||
        m_options.stopOnError) {
        waitForGuardStart();
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

    // When --break-after is due; max() while none is (a plain value: GCC 12 -O2 misreads an
    // optional time point as uninitialised).
    auto breakAt = std::chrono::steady_clock::time_point::max();
    auto nextTick = std::chrono::steady_clock::now() + kTick;
    if (m_stop != nullptr) {
        m_stop->bindWake(&m_dispatcher);
    }
    while (!m_terminated) {
        noticeStop();
        if (m_stopping && m_guard->isIdle()) {
            m_breakPending = false; // nothing runs, and nothing more will be submitted
        }
        if (!m_exitSubmitted && m_guard->isIdle()) {
            const bool hadStarted = m_next > 0;
            submitNext();
            if (!hadStarted && m_next > 0 && m_options.breakAfterMs) {
                breakAt = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(*m_options.breakAfterMs);
            }
        }
        // A due break waits for a job to be running: Break on an idle Guard is ignored, and
        // the job submitted last may not have been taken yet. The Guard wakes us when it is.
        if (m_breakPending && m_guard->GuardState() == link::GuardStateValue::Busy) {
            m_breakPending = false;
            m_guard->Break();
        }
        m_dispatcher.runPending(std::min(nextTick, breakAt));
        drainLog();
        const auto now = std::chrono::steady_clock::now();
        if (now >= breakAt) {
            breakAt = std::chrono::steady_clock::time_point::max();
            m_breakPending = true;
        }
        if (now >= nextTick) {
            tick();
            nextTick += kTick;
            if (nextTick <= now) {
                nextTick =
                    now + kTick; // fell behind: the line still changes 10 times a second at most
            }
        }
    }
    if (m_stop != nullptr) {
        m_stop->bindWake(nullptr);
    }
    drainLog();
    clearProgress();
    m_err << std::flush;
    if (!m_options.logFile.empty() && !m_pendingLogFile.empty()) {
        if (const std::string error = link::appendLogFile(m_options.logFile, m_pendingLogFile);
            !error.empty()) {
            m_err << "corvexctl: " << error << '\n';
            m_failed = true;
        }
    }
    if (m_failed) {
        return 1;
    }
    return m_mismatch ? 3 : 0;
}

void CtlSession::noticeStop() {
    if (m_stopping || m_stop == nullptr || m_stop->signal() == 0) {
        return;
    }
    m_stopping = true;
    m_breakPending = true;
    clearProgress();
    m_err << "corvexctl: " << signalName(m_stop->signal())
          << ": breaking the running job and stopping the Guard\n"
          << std::flush;
}

void CtlSession::tick() {
    drainLog();
    if (m_options.timeoutControl &&
        m_watch.tick(m_guard->PendingDepth(), m_guard->ExchangesDone())) {
        m_guard->BreakOnTimeout();
    }
    showProgress();
}

void CtlSession::drainLog() {
    link::GuardRecord record;
    while (m_guard->takeLog(record) >= 0) {
        printLogLine(record.Text.view());
        m_guardStarted = m_guardStarted || record.Text.view().starts_with(kGuardRunning);
        if (record.Code == link::kMsgRejected) {
            printMessage(record);
            m_failed = true;
        }
    }
}

void CtlSession::printLogLine(std::string_view text) {
    const std::string line = link::logBookLine(text, std::chrono::system_clock::now());
    clearProgress();
    m_err << std::flush;
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
    if (m_terminated) {
        return;
    }
    const std::size_t shown = std::max<std::size_t>(m_next, 1);
    const std::string word = m_next == 0 ? commandAt(0).Text.str() : m_jobText;
    m_progress.draw(shown, commandCount(), word,
                    m_guard->GuardState() == link::GuardStateValue::Busy,
                    m_guard->PendingDepth() > 0, std::chrono::steady_clock::now());
}

void CtlSession::jobReport(const link::GuardRecord& message) {
    if (message.Code == link::kMsgWriteProtected) {
        const std::uint32_t bit = 1U << (m_guard->CurrentArea() % link::kAreaSlots);
        // Data 1: the compare found the sector protected; Data 0: a write had to leave it.
        (message.Data != 0 ? m_protected : m_notWritten) |= bit;
        return;
    }
    if (message.Code != link::kMsgFinalReport || isFailureReport(message)) {
        return;
    }
    if (m_job == "PREVIEW FIRMWARE") {
        m_out << m_jobText << " areas differ: " << areaList(m_differs)
              << "; equal: " << areaList(m_equal) << "; protected: " << areaList(m_protected)
              << '\n'
              << std::flush;
        m_mismatch = m_mismatch || m_differs != 0;
    } else if (m_job == "WRITE FIRMWARE" && m_notWritten != 0) {
        m_out << m_jobText << " protected areas left as they were: " << areaList(m_notWritten)
              << '\n'
              << std::flush;
        m_mismatch = true;
    }
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
    if (message.Code == link::kMsgSignature) {
        m_chip = message.Flag == 0 ? Chip::Known : Chip::Unknown;
        m_chipText = message.Text.str();
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
    jobReport(message);
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
    const std::uint32_t bit = 1U << (area % link::kAreaSlots);
    switch (event) {
    case link::AreaEvent::Progress:
        m_watch.restart();
        if (m_progress.countsSteps()) {
            m_progress.advance(1, std::chrono::steady_clock::now());
        } else {
            const std::uint64_t step = area + 1 < link::kAreaSlots
                                           ? (m_areaTable.AreaStart[area + 1].load() -
                                              m_areaTable.AreaStart[area].load()) /
                                                 32
                                           : 0;
            m_progress.advance(step, std::chrono::steady_clock::now());
        }
        return;
    case link::AreaEvent::Reset:
        return;
    case link::AreaEvent::NeedsUpdate:
        m_differs |= bit;
        break;
    case link::AreaEvent::UpToDate:
        m_equal |= bit;
        break;
    case link::AreaEvent::Erasing:
        startProgramming();
        break;
    default:
        break;
    }
    printArea(area);
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

} // namespace corvex::cli
