#pragma once

#include "link/jobs/guard_record.h"
#include "link/jobs/job_context.h"
#include "link/jobs/record_queue.h"
#include "link/port/port.h"
#include "link/protocol/link.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace corvex::link {

class BackupKeeper;
class TCorvexThread;
struct AreaTable;

// What the Guard reports to its owner. Every call runs on the owner's thread (through the
// synchroniser) while the Guard waits, so handlers may touch the owner's state freely.
class GuardEvents {
public:
    virtual ~GuardEvents() = default;

    /// The area's progress indicator advances one of its 32 steps.
    virtual void OnProgress(TCorvexThread& /*sender*/) {}
    /// The area's progress indicator is cleared.
    virtual void OnAreaReset(TCorvexThread& /*sender*/) {}
    /// The area is being read.
    virtual void OnAreaReading(TCorvexThread& /*sender*/) {}
    /// The area was read.
    virtual void OnAreaReadOK(TCorvexThread& /*sender*/) {}
    /// Reading the area failed.
    virtual void OnAreaReadError(TCorvexThread& /*sender*/) {}
    /// The area is being erased.
    virtual void OnAreaErasing(TCorvexThread& /*sender*/) {}
    /// The area was erased.
    virtual void OnAreaErased(TCorvexThread& /*sender*/) {}
    /// Erasing the area failed.
    virtual void OnAreaEraseFailed(TCorvexThread& /*sender*/) {}
    /// The area is being programmed.
    virtual void OnAreaProgramming(TCorvexThread& /*sender*/) {}
    /// The area was programmed and verified.
    virtual void OnAreaProgrammed(TCorvexThread& /*sender*/) {}
    /// Programming the area failed.
    virtual void OnAreaProgramFailed(TCorvexThread& /*sender*/) {}
    /// The area was left alone by its mode.
    virtual void OnAreaSkipped(TCorvexThread& /*sender*/) {}
    /// The area already holds the image's contents.
    virtual void OnAreaUpToDate(TCorvexThread& /*sender*/) {}
    /// The area differs from the image.
    virtual void OnAreaNeedsUpdate(TCorvexThread& /*sender*/) {}
    /// A message for the owner; the record stays valid for the length of the call.
    virtual void OnMessage(TCorvexThread& /*sender*/, const GuardRecord& /*message*/) {}
    /// The Guard has ended (after "EXIT" or a fatal error).
    virtual void OnTerminate(TCorvexThread& /*sender*/) {}
};

// For an owner that sleeps until the Guard has news rather than polling it: told, on the
// Guard's thread, after every log line and every change of GuardState. It must return at once
// and not call back into the Guard.
class GuardWake {
public:
    virtual ~GuardWake() = default;
    virtual void wake() = 0;
};

/// Calls the event handler that belongs to an area event.
void dispatchAreaEvent(GuardEvents& events, TCorvexThread& sender, AreaEvent event);

// Hands a call to the owner's thread. The synchroniser may run it there before it returns (a
// blocking hand-over), or queue a copy to run there later and return at once (a posted
// hand-over); either way the Guard waits until the call has run. Only a posted hand-over can be
// cancelled: when the Guard is stopped while it waits, a call not yet begun is dropped (the
// queued copy does nothing when the owner gets to it, so the owner may run or discard the calls
// it still holds after the Guard is gone), and a call already running on the owner's thread (a
// message box lower on the stack of the thread that stops the Guard) is released: the Guard
// stops waiting for it and ends, and the call finishes on its own when the owner's stack
// unwinds. Such a call still refers to the Guard, so the owner keeps the Guard object until it
// has returned. An owner whose thread is the one that stops the Guard must post: a blocking
// hand-over would wait for a thread that is joining the Guard.
using Synchroniser = std::function<void(const std::function<void()>&)>;

class HandOver;

enum class GuardStateValue : std::uint32_t { Idle = 0, Busy = 1, Stopped = 2 };

// The Guard's file names a submission can carry.
enum class FileSlot { Read, Write, EELoad, EESave };

inline constexpr std::uint32_t kDefaultAreaCount = 19;
inline constexpr std::uint32_t kDefaultFlashBase = 0x7FE00000;

// The Corvex Guard: the one thread that drives the interface. The owner submits text commands;
// the Guard runs them one at a time and reports through the LogQueue and GuardEvents.
class TCorvexThread final : public JobContext {
public:
    /// Create: builds the Guard with its initial values and starts it at idle priority.
    /// An empty synchroniser runs event calls on the Guard's own thread.
    TCorvexThread(PortIo& io, Synchroniser synchroniser, std::string tempFileName);
    /// Ends the thread as stop() does.
    ~TCorvexThread();
    /// Asks the thread to end, breaks any wait, cancels a posted hand-over the Guard waits on
    /// (dropped, or released when it runs) and joins the thread. No event reaches the owner from
    /// here on. The Guard is kept: its LogQueue can then be drained of the lines the ending job
    /// wrote. A running job ends with "Operation aborted." in the log; an idle Guard ends
    /// without it. Later calls do nothing.
    void stop();
    TCorvexThread(const TCorvexThread&) = delete;
    TCorvexThread& operator=(const TCorvexThread&) = delete;

    // ---- owner side -------------------------------------------------------------------
    /// Binds the event handlers (may be null); done once, right after creation.
    void bindEvents(GuardEvents* events) { m_events.store(events, std::memory_order_release); }
    /// Binds the owner's wake (may be null). News from before the binding wakes nobody, so
    /// the owner looks at the log and the state once after binding, before it first sleeps.
    void bindWake(GuardWake* wake) { m_wake.store(wake, std::memory_order_release); }
    /// Queues a command; the slot used, or -1 when refused: while a command runs or waits in
    /// the queue, after the Guard stopped, or when the queue is full. The refusal is logged.
    int Submit(const GuardRecord& record);
    /// Submit with the file the job is to use: the name is stored only when the command is
    /// taken into the queue, in the same step, so a refused submission never changes the file
    /// of a job that runs or waits.
    int Submit(const GuardRecord& record, FileSlot slot, std::string name);
    /// Asks the running job to stop at its next handshake wait; ignored while idle.
    void Break() override;
    /// A hanging exchange: reported as a broken link rather than a user abort. Ignored while
    /// idle, like Break: there is no exchange to break, and the mark would stay behind.
    void BreakOnTimeout();
    void SetStopOnError(bool on);
    /// Hands the Guard the owner's flash area table (may be null: firmware jobs then refuse).
    void setAreaTable(AreaTable* table) { m_areaTable.store(table, std::memory_order_release); }
    /// Hands the Guard what keeps a copy before each flash or EEPROM write (null: none). Set
    /// while idle; the keeper must outlive the Guard or be taken back first.
    void setBackupKeeper(BackupKeeper* keeper) {
        m_backupKeeper.store(keeper, std::memory_order_release);
    }
    void SetWriteFileName(std::string name);
    void SetReadFileName(std::string name);
    /// EELOADFILENAME: the file EEWRITE and BOOTCODE load; logs the name.
    void SetEELoadFileName(std::string name);
    /// EESAVEFILENAME: the file EEREAD and EEVIEW save to; logs the name.
    void SetEESaveFileName(std::string name);
    /// Takes the oldest LogQueue record; the slot used, or -1 when there is none.
    int takeLog(GuardRecord& record) { return m_logQueue.take(record); }
    /// The status register, read from any thread (the diagnostics page polls it).
    [[nodiscard]] std::uint8_t readStatus() { return m_port.readStatus(); }

    [[nodiscard]] std::uint32_t CurrentArea() const {
        return m_currentArea.load(std::memory_order_acquire);
    }
    [[nodiscard]] std::int32_t PendingDepth() const override {
        return m_flags.pendingDepth.load(std::memory_order_acquire);
    }
    /// Exchanges ended so far: while it moves, the interface answers.
    [[nodiscard]] std::uint32_t ExchangesDone() const {
        return m_flags.exchangesDone.load(std::memory_order_relaxed);
    }
    [[nodiscard]] GuardStateValue GuardState() const {
        return static_cast<GuardStateValue>(m_guardState.load(std::memory_order_acquire));
    }
    /// Idle with nothing queued: the next Submit will be taken, and every report of the
    /// previous job (its abort report included) has been handed over.
    [[nodiscard]] bool isIdle() const {
        return GuardState() == GuardStateValue::Idle && m_commandQueue.empty();
    }
    [[nodiscard]] bool stopOnError() const override {
        return m_stopOnError.load(std::memory_order_acquire);
    }

    // ---- Guard side (jobs) ------------------------------------------------------------
    /// Appends a log line; dropped silently when the LogQueue is full.
    void Log(std::string_view text) override;
    void Log(const GuardRecord& record) override;
    /// Fills MessageRecord and hands it to OnMessage; fields not named keep their value.
    void Post(std::uint32_t code, std::string_view text, std::uint32_t data) override;
    /// Hands MessageRecord, as the caller has filled it, to OnMessage.
    void PostMessageRecord() override;
    GuardRecord& messageRecord() override { return m_messageRecord; }
    /// Sets CurrentArea and raises the event.
    void raise(AreaEvent event, std::uint32_t area) override;
    /// Sets CurrentArea alone: messages such as code 16 refer to it without an area event.
    void setCurrentArea(std::uint32_t area) override {
        m_currentArea.store(area, std::memory_order_release);
    }

    [[nodiscard]] AreaTable* areaTable() const override {
        return m_areaTable.load(std::memory_order_acquire);
    }
    Link& link() override { return m_link; }
    Port& port() override { return m_port; }
    [[nodiscard]] std::uint32_t hardwareType() const override { return m_hardwareType; }
    [[nodiscard]] std::uint32_t areaCount() const override { return m_areaCount; }
    [[nodiscard]] std::uint32_t flashBase() const override { return m_flashBase; }
    [[nodiscard]] std::string writeFileName() const override;
    [[nodiscard]] std::string readFileName() const override;
    [[nodiscard]] std::string eeLoadFileName() const override;
    [[nodiscard]] std::string eeSaveFileName() const override;
    [[nodiscard]] const std::string& tempFileName() const override { return m_tempFileName; }
    bool jobPrologue() override;
    bool portPrologue() override;
    [[nodiscard]] BackupKeeper* backupKeeper() const override {
        return m_backupKeeper.load(std::memory_order_acquire);
    }
    void noteSignature(std::string text) override { m_lastSignature = std::move(text); }
    [[nodiscard]] const std::string& lastSignature() const override { return m_lastSignature; }

    // Command actions that need the Guard's private state.
    void setHardware(std::uint32_t selection);
    void setLaptopDriver(std::uint32_t on) { m_link.setLaptopDriver(on != 0); }
    enum class Priority { Idle, High };
    /// Applies a priority to the calling thread (jobs call it on the Guard's own); true when
    /// the system allowed it.
    static bool setPriority(Priority priority);
    void deadlock();

private:
    void run();
    void runLoop();
    [[nodiscard]] bool takeCommand(GuardRecord& command);
    void finishCommand();
    void reportAbort();
    [[nodiscard]] bool interfaceAnswers();
    int refuse(GuardStateValue state);
    void storeFileName(FileSlot slot, std::string name);
    void fatalReport(int lastErrno, std::string_view what);
    void synchronise(const std::function<void()>& call);
    void wakeOwner();
    void setState(GuardStateValue state);

    Synchroniser m_synchroniser;
    std::atomic<GuardEvents*> m_events{nullptr};
    std::atomic<GuardWake*> m_wake{nullptr};      // bound once by the owner, called by the Guard
    std::atomic<AreaTable*> m_areaTable{nullptr}; // owned by the owner, bound once
    // Written by the owner (its backup switch), read by the write jobs.
    std::atomic<BackupKeeper*> m_backupKeeper{nullptr};

    RecordQueue m_commandQueue;
    RecordQueue m_logQueue;

    // Serialises the moves between idle and busy with the owner's checks of them: Submit's
    // "nothing runs or waits, so queue it", Break's and BreakOnTimeout's "a job runs or waits, so
    // break it", and the Guard's "no break came, so go idle". Never held across a hand-over.
    std::mutex m_stateMutex;
    // GuardState: written by the Guard (under m_stateMutex), read by the owner (isIdle) and the
    // jobs' accessors.
    std::atomic<std::uint32_t> m_guardState{0};
    // CurrentArea: written by jobs, read by the owner inside area events.
    std::atomic<std::uint32_t> m_currentArea{0};
    // StopOnError: written by the owner, read by the write job.
    std::atomic<bool> m_stopOnError{false};
    // The owner has asked the thread to end (destructor).
    std::atomic<bool> m_terminate{false};
    LinkFlags m_flags;

    // The posted hand-over the Guard waits on, for the destructor to drop: the Guard sets and
    // resets it, the destructor reads it. Checked against m_terminate under the same lock, so a
    // hand-over is either seen and dropped or never posted.
    std::mutex m_handOverMutex;
    std::shared_ptr<HandOver> m_handOver;

    // Guard thread only.
    Port m_port;
    Link m_link;
    GuardRecord m_messageRecord;
    GuardRecord m_running; // the command being run, for the fatal report
    std::uint32_t m_hardwareType = 0;
    std::uint32_t m_areaCount = kDefaultAreaCount;
    std::uint32_t m_flashBase = kDefaultFlashBase;
    std::string m_lastSignature; // the chip the last signature read found under this selection

    mutable std::mutex m_fileNameMutex; // guards the four file names below
    std::string m_writeFileName;
    std::string m_readFileName;
    std::string m_eeLoadFileName;
    std::string m_eeSaveFileName;
    const std::string m_tempFileName;

    std::thread m_thread; // last: started once everything above exists
};

} // namespace corvex::link
