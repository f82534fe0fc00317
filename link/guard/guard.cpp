#include "link/guard/guard.h"

#include "link/guard/guard_commands.h"
#include "link/guard/log_book.h"
#include "link/jobs/area_table.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>

namespace corvex::link {

namespace {

constexpr auto kPassPause = std::chrono::milliseconds(20);
constexpr std::string_view kBrokenLinkReport =
    "Function aborted.\rThe communication with your Corvex interface is broken.";

} // namespace

// One call handed to the owner's thread. The Guard waits on it; the copy the owner queues may
// outlive the Guard, so it shares this state rather than pointing into the Guard.
class HandOver {
public:
    explicit HandOver(const std::function<void()>& call) : m_call(call) {
        // Published under the lock that run() takes first: an owner whose queue synchronises
        // out of the thread checker's sight still reads the call after this point.
        const std::lock_guard lock(m_mutex);
        m_state = State::Pending;
    }

    /// Owner's thread: runs the call unless the Guard has dropped it.
    void run() {
        {
            const std::lock_guard lock(m_mutex);
            if (m_state != State::Pending) {
                return;
            }
            m_state = State::Running;
        }
        std::exception_ptr failure;
        try {
            m_call();
        } catch (...) {
            failure = std::current_exception(); // it belongs to the job that handed the call over
        }
        const std::lock_guard lock(m_mutex);
        m_failure = failure;
        m_state = State::Done;
        m_changed.notify_all();
    }

    /// Guard: waits until the call has run (rethrowing what it threw) or was cancelled.
    void wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] {
            return m_state == State::Done || m_state == State::Dropped || m_released;
        });
        if (m_failure) {
            std::rethrow_exception(m_failure);
        }
    }

    /// Drops the call if it has not started. One that is running is released: the Guard stops
    /// waiting for it, since it may be a message box lower on the stack of the very thread that
    /// is about to join the Guard; the call itself finishes when that stack unwinds.
    void cancel() {
        const std::lock_guard lock(m_mutex);
        if (m_state == State::Pending) {
            m_state = State::Dropped;
        } else if (m_state == State::Running) {
            m_released = true;
        }
        m_changed.notify_all();
    }

private:
    enum class State { Pending, Running, Done, Dropped };

    const std::function<void()> m_call;
    std::mutex m_mutex; // guards m_state and m_failure: the Guard waits, the owner and the
                        // destructor write
    std::condition_variable m_changed;
    State m_state = State::Pending;
    bool m_released = false; // the Guard no longer waits for the running call
    std::exception_ptr m_failure;
};

void dispatchAreaEvent(GuardEvents& events, TCorvexThread& sender, AreaEvent event) {
    using Handler = void (GuardEvents::*)(TCorvexThread&);
    static constexpr std::array<Handler, kAreaEventCount> kHandlers = {
        &GuardEvents::OnProgress,          &GuardEvents::OnAreaReset,
        &GuardEvents::OnAreaReading,       &GuardEvents::OnAreaReadOK,
        &GuardEvents::OnAreaReadError,     &GuardEvents::OnAreaErasing,
        &GuardEvents::OnAreaErased,        &GuardEvents::OnAreaEraseFailed,
        &GuardEvents::OnAreaProgramming,   &GuardEvents::OnAreaProgrammed,
        &GuardEvents::OnAreaProgramFailed, &GuardEvents::OnAreaSkipped,
        &GuardEvents::OnAreaUpToDate,      &GuardEvents::OnAreaNeedsUpdate,
    };
    (events.*kHandlers.at(static_cast<std::size_t>(event)))(sender);
}

TCorvexThread::TCorvexThread(PortIo& io, Synchroniser synchroniser, std::string tempFileName)
    : m_synchroniser(std::move(synchroniser)), m_port(io), m_link(m_port, m_flags),
      m_tempFileName(std::move(tempFileName)) {
    m_thread = std::thread([this] { run(); });
}

TCorvexThread::~TCorvexThread() {
    stop();
}

void TCorvexThread::stop() {
    // Events are no longer delivered from here on: the owner may be the thread that joins
    // below, and a hand-over to it would never return. A running job sees `ending` at its next
    // wait; the break flag is left to the owner's Break, so an idle Guard is not reported as
    // broken off.
    m_terminate.store(true);
    m_flags.ending.store(true);
    std::shared_ptr<HandOver> waiting;
    {
        const std::lock_guard lock(m_handOverMutex);
        waiting = m_handOver;
    }
    if (waiting) {
        waiting->cancel();
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

int TCorvexThread::refuse(GuardStateValue state) {
    GuardRecord refusal;
    refusal.Code = kMsgRejected;
    if (state == GuardStateValue::Stopped) {
        refusal.Text.assign("Corvex guard is not running, command rejected.");
        refusal.Data = kStyleNormal;
    } else {
        refusal.Text.assign("Corvex guard is currently busy. Click BREAK to abort job !");
        refusal.Data = kStyleAttention;
    }
    (void)m_logQueue.append(refusal);
    wakeOwner();
    return -1;
}

int TCorvexThread::Submit(const GuardRecord& record) {
    const std::lock_guard lock(m_stateMutex);
    // A command waiting in the queue is as busy as one running: a second behind it would run
    // with whatever file names the owner set for it, not the ones the first was given.
    if (const auto state = GuardState();
        state != GuardStateValue::Idle || !m_commandQueue.empty()) {
        return refuse(state);
    }
    return m_commandQueue.append(record);
}

int TCorvexThread::Submit(const GuardRecord& record, FileSlot slot, std::string name) {
    const std::lock_guard lock(m_stateMutex);
    if (const auto state = GuardState();
        state != GuardStateValue::Idle || !m_commandQueue.empty()) {
        return refuse(state);
    }
    storeFileName(slot, std::move(name));
    return m_commandQueue.append(record);
}

void TCorvexThread::storeFileName(FileSlot slot, std::string name) {
    switch (slot) {
    case FileSlot::Read:
        SetReadFileName(std::move(name));
        break;
    case FileSlot::Write:
        SetWriteFileName(std::move(name));
        break;
    case FileSlot::EELoad:
        SetEELoadFileName(std::move(name));
        break;
    case FileSlot::EESave:
        SetEESaveFileName(std::move(name));
        break;
    }
}

void TCorvexThread::Break() {
    const std::lock_guard lock(m_stateMutex);
    if (GuardState() != GuardStateValue::Idle) {
        m_flags.breakFlag.store(true);
    }
}

void TCorvexThread::BreakOnTimeout() {
    const std::lock_guard lock(m_stateMutex);
    if (GuardState() == GuardStateValue::Idle) {
        return;
    }
    // The mark goes in before the break so the Guard can tell a time-out from a user break.
    // Under the state lock the Guard cannot go idle in between, so the break is reported, and
    // the report clears the mark.
    m_flags.markBrokenLink();
}

void TCorvexThread::SetStopOnError(bool on) {
    m_stopOnError.store(on, std::memory_order_release);
    Log(on ? "ENABLE STOP ON ERROR" : "DISABLE STOP ON ERROR");
}

void TCorvexThread::SetWriteFileName(std::string name) {
    const std::lock_guard lock(m_fileNameMutex);
    m_writeFileName = std::move(name);
}

void TCorvexThread::SetReadFileName(std::string name) {
    const std::lock_guard lock(m_fileNameMutex);
    m_readFileName = std::move(name);
}

void TCorvexThread::SetEELoadFileName(std::string name) {
    Log(logLineOf("EELOADFILENAME " + name));
    const std::lock_guard lock(m_fileNameMutex);
    m_eeLoadFileName = std::move(name);
}

void TCorvexThread::SetEESaveFileName(std::string name) {
    Log(logLineOf("EESAVEFILENAME " + name));
    const std::lock_guard lock(m_fileNameMutex);
    m_eeSaveFileName = std::move(name);
}

std::string TCorvexThread::eeLoadFileName() const {
    const std::lock_guard lock(m_fileNameMutex);
    return m_eeLoadFileName;
}

std::string TCorvexThread::eeSaveFileName() const {
    const std::lock_guard lock(m_fileNameMutex);
    return m_eeSaveFileName;
}

std::string TCorvexThread::writeFileName() const {
    const std::lock_guard lock(m_fileNameMutex);
    return m_writeFileName;
}

std::string TCorvexThread::readFileName() const {
    const std::lock_guard lock(m_fileNameMutex);
    return m_readFileName;
}

void TCorvexThread::Log(std::string_view text) {
    GuardRecord record;
    record.Text.assign(text);
    Log(record);
}

void TCorvexThread::Log(const GuardRecord& record) {
    (void)m_logQueue.append(record);
    wakeOwner();
}

void TCorvexThread::wakeOwner() {
    if (GuardWake* wake = m_wake.load(std::memory_order_acquire)) {
        wake->wake();
    }
}

void TCorvexThread::Post(std::uint32_t code, std::string_view text, std::uint32_t data) {
    m_messageRecord.Code = code;
    m_messageRecord.Text.assign(text);
    m_messageRecord.Data = data;
    PostMessageRecord();
}

void TCorvexThread::PostMessageRecord() {
    // The call gets a copy: a call released by stop() may still read its message after the Guard
    // has gone on and filled MessageRecord again.
    synchronise([this, message = m_messageRecord] {
        if (GuardEvents* events = m_events.load(std::memory_order_acquire)) {
            events->OnMessage(*this, message);
        }
    });
}

void TCorvexThread::raise(AreaEvent event, std::uint32_t area) {
    m_currentArea.store(area, std::memory_order_release);
    synchronise([this, event] {
        if (GuardEvents* events = m_events.load(std::memory_order_acquire)) {
            dispatchAreaEvent(*events, *this, event);
        }
    });
}

void TCorvexThread::synchronise(const std::function<void()>& call) {
    if (m_terminate.load()) {
        return;
    }
    if (!m_synchroniser) {
        call();
        return;
    }
    auto handOver = std::make_shared<HandOver>(call);
    {
        const std::lock_guard lock(m_handOverMutex);
        if (m_terminate.load()) {
            return;
        }
        m_handOver = handOver;
    }
    m_synchroniser([handOver] { handOver->run(); });
    // A call that threw leaves its finished hand-over in the slot, where cancelling does nothing.
    handOver->wait();
    const std::lock_guard lock(m_handOverMutex);
    m_handOver.reset();
}

bool TCorvexThread::interfaceAnswers() {
    if (!m_link.linesFloat()) {
        return true;
    }
    // Every wait would take the floating lines for an answer and every read would give 0xFF:
    // the job would "succeed" on nothing. It ends here, reported as the broken link it is.
    Log(std::string(interfaceTypeWord(InterfaceType::Absent)) + " CORVEX INTERFACE CONNECTED");
    m_flags.markBrokenLink();
    return false;
}

bool TCorvexThread::portPrologue() {
    m_port.setup();
    return interfaceAnswers();
}

bool TCorvexThread::jobPrologue() {
    m_port.setup();
    // After the reset an adapter is idle, with both input lines low.
    m_link.resetPulse();
    if (!interfaceAnswers() || !m_link.busInit(m_hardwareType)) {
        return false;
    }
    Log("EMI Initialization OK");
    return true;
}

void TCorvexThread::setHardware(std::uint32_t selection) {
    const std::uint32_t oldType = m_hardwareType;
    const std::uint32_t oldBase = m_flashBase;
    switch (selection) {
    case 0:
        m_hardwareType = 0;
        m_areaCount = kDefaultAreaCount;
        m_flashBase = kDefaultFlashBase;
        break;
    case 1:
        m_hardwareType = 1;
        m_areaCount = 11;
        m_flashBase = 0x7FF00000;
        break;
    case 2:
        m_hardwareType = 1;
        m_areaCount = 11;
        m_flashBase = 0xC0000000;
        break;
    default:
        break;
    }
    // The work file holds the flash that was read under the old selection; its read marks
    // would let a write compare another receiver's flash against it. The chip read then names
    // another receiver's chip.
    const bool changed = oldType != m_hardwareType || oldBase != m_flashBase;
    if (changed) {
        m_lastSignature.clear();
    }
    if (AreaTable* table = areaTable(); table != nullptr && changed) {
        for (std::size_t i = 0; i < kAreaSlots; ++i) {
            table->clearBits(i, kAreaReadMark | kAreaDiffersMark);
        }
    }
    Log("Set hardware type: " + std::to_string(m_hardwareType));
}

bool TCorvexThread::setPriority(Priority priority) {
    sched_param param{};
    if (priority == Priority::Idle) {
        return pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) == 0;
    }
    if (pthread_setschedparam(pthread_self(), SCHED_OTHER, &param) != 0) {
        return false;
    }
    // One step above normal; without CAP_SYS_NICE the system refuses and the thread stays at
    // normal priority, which is reported the same way.
    return setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -1) == 0;
}

void TCorvexThread::deadlock() {
    Log("DEADLOCK TEST");
    while (!m_link.breakRequested()) {
        std::this_thread::yield();
    }
    Log("ABORT DEADLOCK");
}

void TCorvexThread::run() {
    (void)setPriority(Priority::Idle);
    try {
        runLoop();
    } catch (const std::exception& error) {
        fatalReport(errno, error.what());
    } catch (...) {
        fatalReport(errno, "unknown exception");
    }
    synchronise([this] {
        if (GuardEvents* events = m_events.load(std::memory_order_acquire)) {
            events->OnTerminate(*this);
        }
    });
}

void TCorvexThread::runLoop() {
    m_guardState.store(static_cast<std::uint32_t>(GuardStateValue::Idle));
    Log("CORVEX GUARD STARTING ...");
    Log("CORVEX GUARD RUNNING - VERSION 1.00 - BUILD 020407");
    for (;;) {
        if (m_terminate.load()) {
            return;
        }
        if (GuardRecord command; takeCommand(command)) {
            wakeOwner(); // busy now: a break the owner holds back can be given
            m_running = command;
            if (!command.Text.empty()) {
                Log(command);
            }
            if (command.Text == "EXIT") {
                {
                    const std::lock_guard lock(m_stateMutex);
                    m_guardState.store(static_cast<std::uint32_t>(GuardStateValue::Stopped));
                }
                Log("Corvex Guard is stopped.");
                return;
            }
            runCommand(*this, command);
            finishCommand();
        }
        std::this_thread::sleep_for(kPassPause);
    }
}

bool TCorvexThread::takeCommand(GuardRecord& command) {
    const std::lock_guard lock(m_stateMutex);
    if (m_commandQueue.empty()) {
        return false;
    }
    // Busy before the queue empties, so the owner never sees "idle, nothing queued" while a
    // command is on its way to being run.
    m_guardState.store(static_cast<std::uint32_t>(GuardStateValue::Busy));
    (void)m_commandQueue.take(command);
    return true;
}

// The abort report belongs to the job it broke off: it is handed over while the Guard is still
// busy with that job, so the owner sees every report of a job before it sees the Guard idle,
// and no command can slip in between the job and its abort report. A second break that comes
// while the report is on its way belongs to the same job and gives no second report.
void TCorvexThread::finishCommand() {
    bool broken = false;
    {
        const std::lock_guard lock(m_stateMutex);
        broken = m_flags.breakFlag.exchange(false);
        if (!broken) {
            m_guardState.store(static_cast<std::uint32_t>(GuardStateValue::Idle));
        }
    }
    if (broken) {
        reportAbort(); // outside the lock: the owner may submit from inside the hand-over
        const std::lock_guard lock(m_stateMutex);
        m_flags.breakFlag.store(false);
        m_guardState.store(static_cast<std::uint32_t>(GuardStateValue::Idle));
    }
    wakeOwner(); // idle: the owner may submit the next command
}

void TCorvexThread::reportAbort() {
    if (m_flags.pendingDepth.load() == 0) {
        Post(kMsgFinalReport, kAbortReport, kStyleNormal);
        Log("Operation aborted.");
        return;
    }
    m_flags.pendingDepth.store(0);
    m_messageRecord.Code = kMsgBrokenLink;
    m_messageRecord.Text.assign(kBrokenLinkReport);
    PostMessageRecord();
    Log("Communication with Corvex broken.");
}

void TCorvexThread::fatalReport(int lastErrno, std::string_view what) {
    {
        const std::lock_guard lock(m_stateMutex);
        m_guardState.store(static_cast<std::uint32_t>(GuardStateValue::Stopped));
    }
    Log("*** FATAL CORVEX GUARD EXCEPTION - " + logBookStamp(std::chrono::system_clock::now()));
    Log(std::string("*** WINDOWS LAST ERROR REPORT \"") + std::strerror(lastErrno) + "\"");
    std::array<char, ShortText::kCapacity + 1> line{};
    std::snprintf(line.data(), line.size(),
                  "*** ERROR:  FUNCTION: %u   ADR:%8.8X   DATA:%8.8X   CALLBACK: %u",
                  static_cast<unsigned>(m_running.Param), static_cast<unsigned>(m_running.Address),
                  static_cast<unsigned>(m_running.Data),
                  static_cast<unsigned>(m_messageRecord.Code));
    Log(line.data());
    // Not part of the fixed report lines, but the one thing that says what actually failed.
    Log("*** " + std::string(what));
}

} // namespace corvex::link
