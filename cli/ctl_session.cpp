#include "ctl_session.h"

#include "backup/restore_check.h"
#include "ctl_backups.h"
#include "ctl_channels.h"
#include "ctl_find.h"
#include "link/guard/guard_commands.h"
#include "link/guard/log_book.h"
#include "link/guard/program_files.h"
#include "link/port/port_backends.h"
#include "link/port/sys_calls.h"
#include "mainwin/message_texts.h"
#include "sim/port_choice.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace corvex::cli {

namespace {

constexpr auto kTick = std::chrono::milliseconds(100);
constexpr std::string_view kAbortReport = "Job aborted and Corvex guard ready to start new job !";
constexpr std::uint32_t kStyleMask = 0xFF00;
// The Guard logs this before it takes its first command.
constexpr std::string_view kGuardRunning = "CORVEX GUARD RUNNING";
// After this long without progress the progress line says the interface keeps it waiting.
constexpr auto kQuietInterface = std::chrono::seconds(1);
// The block jobs raise about 32 progress steps, whatever the block's size.
constexpr std::uint64_t kBlockSteps = 32;

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

bool isReadFirmware(const link::GuardRecord& command) {
    const link::CommandEntry* entry = link::findCommand(command.Text.view());
    return entry != nullptr && entry->word == "READ FIRMWARE";
}

bool readsForCompare(std::uint32_t flags) {
    return (flags & link::kAreaModeMask) != link::kAreaModeSkip &&
           (flags & link::kAreaReadMark) == 0;
}

bool isRead(std::uint32_t flags) {
    return (flags & link::kAreaModeMask) != link::kAreaModeSkip;
}

// The jobs that read or write the flash chip through its command words.
bool needsKnownChip(const link::GuardRecord& command) {
    const link::CommandEntry* entry = link::findCommand(command.Text.view());
    return entry != nullptr && (entry->word == "READ FIRMWARE" || entry->word == "WRITE FIRMWARE" ||
                                entry->word == "PREVIEW FIRMWARE");
}

bool isProgrammed(std::uint32_t flags) {
    return (flags & link::kAreaModeMask) == link::kAreaModePgm &&
           (flags & link::kAreaDiffersMark) != 0 && (flags & link::kAreaProtectedMark) == 0;
}

} // namespace

void Dispatcher::call(const std::function<void()>& fn) {
    const std::lock_guard lock(m_mutex);
    m_tasks.push_back(fn);
    m_arrived.notify_one();
}

void Dispatcher::runUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_mutex);
    while (true) {
        if (!m_arrived.wait_until(lock, deadline, [&] { return !m_tasks.empty(); })) {
            return;
        }
        const std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}

CtlSession::CtlSession(const CtlOptions& options, link::PortIo& port, std::string portDescription,
                       std::string workFile, std::ostream& out, std::ostream& err)
    : m_options(options), m_out(out), m_err(err), m_portDescription(std::move(portDescription)),
      m_progressLine(!options.quiet && &err == &std::cerr && ::isatty(STDERR_FILENO) == 1),
      m_areaModel(m_areaTable) {
    for (std::size_t area = 0; area < link::kAreaSlots; ++area) {
        m_areaTable.setMode(area, m_options.areaModes[area]);
    }
    m_guard = std::make_unique<link::TCorvexThread>(
        port, [this](const std::function<void()>& fn) { m_dispatcher.call(fn); },
        std::move(workFile));
    m_guard->setAreaTable(&m_areaTable);
    m_guard->bindEvents(this);
    if (!m_options.noBackup) {
        m_backups = std::make_unique<backup::BackupFolder>(m_options.backupDir);
        m_guard->setBackupKeeper(m_backups.get());
    }
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

void CtlSession::waitForGuardStart() {
    // The setters log from this thread; before the Guard's own start lines are out, their
    // lines would land among them in an order that changes from run to run.
    while (!m_guardStarted && !m_terminated) {
        m_dispatcher.runUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(2));
        drainLog();
    }
}

int CtlSession::run() {
    printLogLine(m_portDescription);
    waitForGuardStart();
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

    // When --break-after is due; max() while none is (a plain value: GCC 12 -O2 misreads an
    // optional time point as uninitialised).
    auto breakAt = std::chrono::steady_clock::time_point::max();
    auto nextTick = std::chrono::steady_clock::now() + kTick;
    while (!m_terminated) {
        if (!m_stopping && m_stopSignal != nullptr && m_stopSignal->load() != 0) {
            m_stopping = true;
            m_breakPending = true;
            if (m_progressLine) {
                m_err << "\r\x1b[K";
            }
            m_err << "corvexctl: " << signalName(m_stopSignal->load())
                  << ": breaking the running job and stopping the Guard\n"
                  << std::flush;
        }
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
        auto wake = nextTick;
        wake = std::min(wake, breakAt);
        if (m_breakPending) {
            // A due break waits (in 1 ms steps) for a job to be running: Break on an idle
            // Guard is ignored, and the job submitted last may not have been taken yet.
            wake = std::min(wake, std::chrono::steady_clock::now() + std::chrono::milliseconds(1));
        }
        m_dispatcher.runUntil(wake);
        const auto now = std::chrono::steady_clock::now();
        if (now >= breakAt) {
            breakAt = std::chrono::steady_clock::time_point::max();
            m_breakPending = true;
        }
        if (m_breakPending && m_guard->GuardState() == link::GuardStateValue::Busy) {
            m_breakPending = false;
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
    if (m_failed) {
        return 1;
    }
    return m_mismatch ? 3 : 0;
}

bool CtlSession::refusesFlashJob(const link::GuardRecord& command) {
    if (m_options.force || m_chip != Chip::Unknown || !needsKnownChip(command)) {
        return false;
    }
    if (m_progressLine) {
        m_err << "\r\x1b[K";
    }
    m_err << "corvexctl: " << command.Text.view() << " not run: "
          << (m_chipText.empty() ? std::string("no signature was read")
                                 : "the signature reads \"" + escapeLineBreaks(m_chipText) +
                                       "\", not a known flash chip")
          << " (--force runs it anyway)\n"
          << std::flush;
    m_failed = true;
    return true;
}

bool CtlSession::needsSignature(const link::GuardRecord& command) const {
    // A restore is its one write, which first needs to know what it writes into.
    const link::CommandEntry* entry = link::findCommand(command.Text.view());
    return needsKnownChip(command) ||
           (m_restore != nullptr && entry != nullptr &&
            (entry->word == "WRITE FIRMWARE" || entry->word == "EEWRITE"));
}

bool CtlSession::refusesRestore(const link::GuardRecord& command) {
    if (m_restore == nullptr || m_options.force || m_chip == Chip::NotRead) {
        return false;
    }
    const std::string why = backup::restoreRefusal(*m_restore, m_options.hardware.value_or(0),
                                                   m_chip == Chip::Known ? m_chipText : "");
    if (why.empty()) {
        return false;
    }
    if (m_progressLine) {
        m_err << "\r\x1b[K";
    }
    m_err << "corvexctl: " << command.Text.view() << " of " << m_restore->path
          << " not run: " << why << " (--force restores it anyway)\n"
          << std::flush;
    m_failed = true;
    return true;
}

void CtlSession::submitNext() {
    // Refused jobs are passed over; the commands after them still run, as after a failed job.
    while (!m_stopping && m_next < commandCount() &&
           (refusesFlashJob(commandAt(m_next)) || refusesRestore(commandAt(m_next)))) {
        ++m_next;
    }
    const bool last = m_next == commandCount() || m_stopping;
    link::GuardRecord command = last ? link::GuardRecord::command("EXIT") : commandAt(m_next);
    // A flash job on a chip nobody has identified would read or write whatever answers: an
    // empty port or an unpowered receiver reads as all ones, and a read of it "succeeds".
    const bool signatureFirst =
        !last && !m_options.force && m_chip == Chip::NotRead && needsSignature(command);
    if (signatureFirst) {
        command = link::GuardRecord::command("SIGNATURE");
    }
    if (!last && link::findCommand(command.Text.view()) == nullptr) {
        m_failed = true; // the Guard answers with its unknown-command line
    }
    if (!last && isReadFirmware(command) && m_areaModel.readSavesNothing()) {
        // It would report success and write no file: refused before it starts.
        m_err << "corvexctl: " << command.Text.view()
              << " refused: no area is set to PGM, so the read would save nothing\n"
              << std::flush;
        m_failed = true;
        ++m_next;
        return;
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
        startJob(command);
        if (!signatureFirst) {
            ++m_next; // the flash job itself comes once the signature has been read
        }
    }
}

void CtlSession::startJob(const link::GuardRecord& command) {
    const link::CommandEntry* entry = link::findCommand(command.Text.view());
    m_jobText = command.Text.str();
    m_job = entry != nullptr ? entry->word : std::string_view{};
    if (m_job == "SIGNATURE") {
        // Unknown until its report says otherwise: a job broken off sends none.
        m_chip = Chip::Unknown;
        m_chipText.clear();
    } else if (m_job == "SETHARDWARE") {
        m_chip = Chip::NotRead;
    }
    m_differs = m_equal = m_protected = m_notWritten = 0;
    m_phase = Phase{};
    m_lastProgress = std::chrono::steady_clock::now();
    // The Guard is idle: the area marks are what the job will start from.
    if (m_job == "READ FIRMWARE") {
        startPhase("reading", areaBytes(isRead), false);
    } else if (m_job == "WRITE FIRMWARE" || m_job == "PREVIEW FIRMWARE") {
        startPhase("comparing", areaBytes(readsForCompare), false);
    } else if (m_job == "RBB") {
        startPhase("reading", kBlockSteps, true);
    } else if (m_job == "WBB") {
        startPhase("writing", kBlockSteps, true);
    }
}

void CtlSession::startPhase(std::string_view name, std::uint64_t total, bool countsSteps) {
    m_phase = Phase{name, total, 0, countsSteps, std::chrono::steady_clock::now()};
}

std::uint64_t CtlSession::areaBytes(bool (*counts)(std::uint32_t flags)) const {
    std::uint64_t bytes = 0;
    const auto areas = static_cast<std::size_t>(m_areaModel.shownAreaCount());
    for (std::size_t area = 0; area < areas && area + 1 < link::kAreaSlots; ++area) {
        if (counts(m_areaTable.AreaFlags[area].load())) {
            bytes += m_areaTable.AreaStart[area + 1].load() - m_areaTable.AreaStart[area].load();
        }
    }
    return bytes;
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
    const std::size_t shown = std::max<std::size_t>(m_next, 1);
    const std::string word = m_next == 0 ? commandAt(0).Text.str() : m_jobText;
    m_err << "\r\x1b[K[" << shown << '/' << commandCount() << "] " << word;
    const auto now = std::chrono::steady_clock::now();
    if (m_phase.total > 0 && m_guard->GuardState() == link::GuardStateValue::Busy) {
        // Never 100 % while the job runs: the steps are counted where they start.
        const auto percent = std::min<std::uint64_t>(99, m_phase.done * 100 / m_phase.total);
        m_err << ' ' << m_phase.name << ' ' << percent << '%';
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - m_phase.started).count();
        if (m_phase.done > 0) {
            const auto left = static_cast<long long>(
                static_cast<double>(elapsed) / 1000.0 *
                static_cast<double>(m_phase.total - std::min(m_phase.done, m_phase.total)) /
                static_cast<double>(m_phase.done));
            char time[32];
            std::snprintf(time, sizeof time, " %lld:%02lld left", left / 60, left % 60);
            m_err << time;
        }
    }
    if (m_guard->PendingDepth() > 0 && now - m_lastProgress > kQuietInterface) {
        m_err << "  waiting for the interface";
    }
    m_err << std::flush;
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
        m_lastProgress = std::chrono::steady_clock::now();
        if (m_phase.countsSteps) {
            ++m_phase.done;
        } else if (area + 1 < link::kAreaSlots) {
            m_phase.done +=
                (m_areaTable.AreaStart[area + 1].load() - m_areaTable.AreaStart[area].load()) / 32;
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
        if (m_phase.name == "comparing") {
            // The compare has set the differs marks: now the areas to program are known.
            startPhase("programming", areaBytes(isProgrammed), false);
        }
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

int runCorvexctl(const std::vector<std::string_view>& args, std::ostream& out, std::ostream& err,
                 const std::atomic<int>* stopSignal) {
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
        session.setStopSignal(stopSignal);
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
    if (stopSignal != nullptr && stopSignal->load() != 0) {
        status = 128 + stopSignal->load();
    }
    return status;
}

} // namespace corvex::cli
