#include "link/jobs/flash_jobs.h"

#include "link/guard/guard.h"

namespace corvex::link {

namespace {

constexpr int kSecondsPerDay = 24 * 60 * 60;

GuardRecord& fillFinal(TCorvexThread& guard, std::string_view text, std::uint32_t style) {
    GuardRecord& message = guard.messageRecord();
    message.Code = kMsgFinalReport;
    message.Flag = 0;
    message.Text.assign(text);
    message.Data = style;
    return message;
}

} // namespace

void postFinal(TCorvexThread& guard, std::string_view text, std::uint32_t style) {
    (void)fillFinal(guard, text, style);
    guard.PostMessageRecord();
}

void reportFinal(TCorvexThread& guard, std::string_view text, std::uint32_t style) {
    guard.Log(fillFinal(guard, text, style));
    guard.PostMessageRecord();
}

AreaTable* requireAreaTable(TCorvexThread& guard, const GuardRecord& command) {
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
