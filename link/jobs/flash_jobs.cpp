#include "link/jobs/flash_jobs.h"

#include "link/jobs/job_context.h"
#include "link/port/port.h"
#include "link/protocol/link.h"

namespace corvex::link {

namespace {

constexpr int kSecondsPerDay = 24 * 60 * 60;

GuardRecord& fillFinal(JobContext& guard, std::string_view text, std::uint32_t style) {
    GuardRecord& message = guard.messageRecord();
    message.Code = kMsgFinalReport;
    message.Flag = 0;
    message.Text.assign(text);
    message.Data = style;
    return message;
}

} // namespace

void postFinal(JobContext& guard, std::string_view text, std::uint32_t style) {
    (void)fillFinal(guard, text, style);
    guard.PostMessageRecord();
}

void reportFinal(JobContext& guard, std::string_view text, std::uint32_t style) {
    guard.Log(fillFinal(guard, text, style));
    guard.PostMessageRecord();
}

AreaTable* requireAreaTable(JobContext& guard, const GuardRecord& command) {
    AreaTable* const table = guard.areaTable();
    if (table == nullptr) {
        // The owner never handed the table over: nothing says which areas to touch.
        guard.Log("*** NO FLASH AREA TABLE - " + command.Text.str() + " NOT RUN");
        reportFinal(guard, "Function failed - no flash area table.", kStyleError);
    }
    return table;
}

int elapsedSecondsOfDay(int start, int end) {
    const int elapsed = end - start;
    return elapsed < 0 ? elapsed + kSecondsPerDay : elapsed;
}

} // namespace corvex::link
