#pragma once

#include <chrono>
#include <string_view>

namespace corvex::test {

// Faults of the simulated receiver that once left a job waiting for ever on an answer that
// never comes, or let it report work it did not do. Each job must end within the bound with
// its failure, and leave no output file behind.
struct FaultRow {
    std::string_view option;  // the simulator fault
    int hardware;             // SETHARDWARE first, or -1
    std::string_view command; // as corvexctl takes it
    // The last message corvexctl prints for the job, as "MESSAGE <code> <text>".
    std::string_view report;
    // Firmware rows run through the window's dispatch too: the text of the last box it shows.
    // Empty for the others.
    std::string_view windowBox;
};

inline constexpr auto kFaultBound = std::chrono::seconds(5);

inline constexpr std::string_view kBrokenLinkMessage =
    "MESSAGE 10 Function aborted.\\rThe communication with your Corvex interface is broken.";
inline constexpr std::string_view kBrokenLinkBox =
    "Function aborted.\rThe communication with your Corvex interface is broken.";
inline constexpr std::string_view kUnknownChipMessage =
    "MESSAGE 1 Unknown FFFFFFFF: Unknown FFFFFFFF";
inline constexpr std::string_view kUnknownChipBox =
    "Read signature can not read correct signature.";

inline constexpr FaultRow kFaultRows[] = {
    {"eeprom-absent", -1, "EEWRITE", "MESSAGE 5 Error writing configuration EEprom.", ""},
    {"eeprom-absent", -1, "EEERASE", "MESSAGE 5 Erasing configuration EEprom failed.", ""},
    {"eeprom-absent", 1, "EEWRITE", "MESSAGE 5 Error writing configuration EEprom.", ""},
    {"adapter=absent", -1, "EEWRITE", kBrokenLinkMessage, ""},
    {"no-power", -1, "EEWRITE", "MESSAGE 5 Error writing configuration EEprom.", ""},
    {"adapter=absent", -1, "RFW", kBrokenLinkMessage, kBrokenLinkBox},
    {"no-power", -1, "RFW", kUnknownChipMessage, kUnknownChipBox},
    {"adapter=absent", -1, "RBB:address=7FE00000,data=1000", kBrokenLinkMessage, kBrokenLinkBox},
    {"adapter=absent", -1, "BOOTCODE", kBrokenLinkMessage, ""},
    {"eeprom-absent", 1, "EEREAD", "MESSAGE 5 Reading configuration EEprom failed.", ""},
    {"adapter=absent", -1, "PFW", kBrokenLinkMessage, kBrokenLinkBox},
    {"no-power", -1, "PFW", kUnknownChipMessage, kUnknownChipBox},
};

} // namespace corvex::test
