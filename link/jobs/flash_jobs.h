#pragma once

#include "link/jobs/guard_record.h"
#include "link/jobs/job_context.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace corvex::link {

struct AreaTable;

// The flash jobs as Guard command actions.

/// "SIGNATURE": names the flash chip (message code 1).
void signatureJob(JobContext& guard, const GuardRecord& command);
/// "READ FIRMWARE": flash into the work file, the first run of PGM areas into ReadFileName.
void readFirmwareJob(JobContext& guard, const GuardRecord& command);
/// "WRITE FIRMWARE": brings the flash in line with WriteFileName, area by area.
void writeFirmwareJob(JobContext& guard, const GuardRecord& command);
/// "PREVIEW FIRMWARE": the compare phase of the write job alone.
void previewFirmwareJob(JobContext& guard, const GuardRecord& command);
/// "RBB": `Data` bytes from `Address` on into WriteFileName.
void readBlockJob(JobContext& guard, const GuardRecord& command);
/// "WBB": `Data` bytes of ReadFileName written from `Address` on.
void writeBlockJob(JobContext& guard, const GuardRecord& command);

/// The area table the firmware jobs work on; without one the job is refused with a log line and
/// a failed final report, and null is returned.
[[nodiscard]] AreaTable* requireAreaTable(JobContext& guard, const GuardRecord& command);

/// The final report of a firmware job whose work file could not be created or opened.
inline constexpr std::string_view kWorkFileFailed =
    "Function failed - can not create temporary file.";

/// Posts a job's final report (message code 5) with `Flag` 0, without a log line.
void postFinal(JobContext& guard, std::string_view text, std::uint32_t style);
/// Logs and posts a job's final report (message code 5) with `Flag` 0.
void reportFinal(JobContext& guard, std::string_view text, std::uint32_t style);

/// A log line from a printf pattern; the Guard's records hold at most 103 characters anyway.
template <typename... Args>
[[nodiscard]] std::string formatLine(const char* pattern, Args... args) {
    char line[256];
    std::snprintf(line, sizeof line, pattern, args...);
    return line;
}

/// Seconds from one time of day to a later one; a job that runs past midnight ends at a smaller
/// time of day than it started.
[[nodiscard]] int elapsedSecondsOfDay(int start, int end);

} // namespace corvex::link
