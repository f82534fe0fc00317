#pragma once

#include "link/jobs/guard_record.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace corvex::link {

class BackupKeeper;
class Link;
class Port;
struct AreaTable;

// The per-area events, in slot order; each refers to the Guard's CurrentArea.
enum class AreaEvent : int {
    Progress,
    Reset,
    Reading,
    ReadOK,
    ReadError,
    Erasing,
    Erased,
    EraseFailed,
    Programming,
    Programmed,
    ProgramFailed,
    Skipped,
    UpToDate,
    NeedsUpdate,
};
inline constexpr int kAreaEventCount = 14;

// What a job sees of the thread that runs it: the link, the owner's settings, and the ways to
// report. The Guard implements it; keeping it here lets the jobs sit below the thread that
// dispatches them, and lets a test run a job without one.
class JobContext {
public:
    /// Appends a log line; dropped silently when the LogQueue is full.
    virtual void Log(std::string_view text) = 0;
    virtual void Log(const GuardRecord& record) = 0;
    /// Fills MessageRecord and hands it to the owner; fields not named keep their value.
    virtual void Post(std::uint32_t code, std::string_view text, std::uint32_t data) = 0;
    /// Hands MessageRecord, as the caller has filled it, to the owner.
    virtual void PostMessageRecord() = 0;
    virtual GuardRecord& messageRecord() = 0;
    /// Sets CurrentArea and raises the event.
    virtual void raise(AreaEvent event, std::uint32_t area) = 0;
    /// Sets CurrentArea alone: messages such as code 16 refer to it without an area event.
    virtual void setCurrentArea(std::uint32_t area) = 0;
    /// Asks the running job to stop at its next handshake wait.
    virtual void Break() = 0;
    /// Non-zero while a handshake wait was left unfinished; a time-out adds its own mark.
    [[nodiscard]] virtual std::int32_t PendingDepth() const = 0;

    [[nodiscard]] virtual AreaTable* areaTable() const = 0;
    virtual Link& link() = 0;
    virtual Port& port() = 0;
    [[nodiscard]] virtual std::uint32_t hardwareType() const = 0;
    [[nodiscard]] virtual std::uint32_t areaCount() const = 0;
    [[nodiscard]] virtual std::uint32_t flashBase() const = 0;
    [[nodiscard]] virtual bool stopOnError() const = 0;
    [[nodiscard]] virtual std::string writeFileName() const = 0;
    [[nodiscard]] virtual std::string readFileName() const = 0;
    [[nodiscard]] virtual std::string eeLoadFileName() const = 0;
    [[nodiscard]] virtual std::string eeSaveFileName() const = 0;
    [[nodiscard]] virtual const std::string& tempFileName() const = 0;
    /// PortSetup, ResetPulse and BusInit: the start of every flash, EEPROM and block job.
    /// False when a break cut it short, or when no interface answers on the port: the job is
    /// then broken off as a broken link before its first transaction.
    virtual bool jobPrologue() = 0;
    /// PortSetup alone, for a job that must not reset the receiver (the microcode upload);
    /// false, as above, when no interface answers.
    virtual bool portPrologue() = 0;
    /// What keeps a copy of the flash or EEPROM before a write changes it; null when the owner
    /// wants none.
    [[nodiscard]] virtual BackupKeeper* backupKeeper() const = 0;
    /// The signature job's report of the chip, kept for the backups of later writes until the
    /// hardware selection changes; empty when the chip was not known.
    virtual void noteSignature(std::string text) = 0;
    [[nodiscard]] virtual const std::string& lastSignature() const = 0;

protected:
    JobContext() = default;
    ~JobContext() = default;
    JobContext(const JobContext&) = default;
    JobContext& operator=(const JobContext&) = default;
};

} // namespace corvex::link
