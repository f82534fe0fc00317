#pragma once

#include "link/jobs/guard_record.h"

#include <string_view>

namespace corvex::link {

class TCorvexThread;

using CommandAction = void (*)(TCorvexThread& guard, const GuardRecord& command);

// One row of the Guard's command language. Words match exactly: length and case.
struct CommandEntry {
    std::string_view word;
    std::string_view alias; // empty when the command has none
    CommandAction action;
};

/// The row whose word or alias is exactly `text`, or null for an unknown command.
[[nodiscard]] const CommandEntry* findCommand(std::string_view text);

/// Runs one command record on the Guard thread; unknown words get the error line.
void runCommand(TCorvexThread& guard, const GuardRecord& command);

} // namespace corvex::link
