#include "link/guard/guard_commands.h"

#include "link/guard/guard.h"
#include "link/jobs/area_table.h"
#include "link/jobs/diag_jobs.h"
#include "link/jobs/eeprom_jobs.h"
#include "link/jobs/flash_jobs.h"

#include <string>

namespace corvex::link {

namespace {

void detect(TCorvexThread& guard, const GuardRecord& /*command*/) {
    guard.link().flags().breakFlag.store(false);
    const InterfaceType type = guard.link().detectInterface();
    guard.Log(std::string(interfaceTypeWord(type)) + " CORVEX INTERFACE CONNECTED");
}

void version(TCorvexThread& guard, const GuardRecord& /*command*/) {
    guard.Log("3.00 BUILD 020411 / DEBUG EXTENSION 020416");
}

void setHardware(TCorvexThread& guard, const GuardRecord& command) {
    guard.setHardware(command.Param);
}

void emiInit(TCorvexThread& guard, const GuardRecord& /*command*/) {
    // A sequence cut short by a break, or written to an empty port, is not an initialised bus;
    // the abort or broken-link report follows.
    if (guard.portPrologue() && guard.link().busInit(guard.hardwareType())) {
        guard.Log("EMI Initialization OK");
    }
}

void setDriver(TCorvexThread& guard, const GuardRecord& command) {
    guard.setLaptopDriver(command.Param);
}

void blockMode(TCorvexThread& guard, const GuardRecord& /*command*/) {
    guard.Post(kMsgBlockMode, "", guard.messageRecord().Data);
}

void deadlock(TCorvexThread& guard, const GuardRecord& /*command*/) {
    guard.deadlock();
}

void idlePriority(TCorvexThread& guard, const GuardRecord& /*command*/) {
    (void)guard.setPriority(TCorvexThread::Priority::Idle);
    guard.Post(kMsgStatus, "Corvex Guard set to Idle priority.", kStyleNormal);
    guard.Log("SET GUARD PRIORITY TO IDLE");
}

void highPriority(TCorvexThread& guard, const GuardRecord& /*command*/) {
    (void)guard.setPriority(TCorvexThread::Priority::High);
    guard.Post(kMsgStatus, "Corvex Guard set to High priority.", kStyleNormal);
    guard.Log("SET GUARD PRIORITY TO HIGH");
}

void restart(TCorvexThread& guard, const GuardRecord& /*command*/) {
    guard.Log("Corvex Guard is restarted by user program.");
}

void reset(TCorvexThread& guard, const GuardRecord& /*command*/) {
    guard.link().resetPulse();
    guard.Post(kMsgStatus, "Corvex reset function completed.", kStyleNormal);
    guard.Log("RESET CORVEX INTERFACE");
}

void programming(TCorvexThread& guard, bool enabled) {
    const char* text = enabled ? "Set programming to enabled." : "Set programming to disabled.";
    guard.Log(text);
    guard.messageRecord().Param = enabled ? 1 : 0;
    guard.Post(kMsgProgramming, text, guard.messageRecord().Data);
}

void enableProgramming(TCorvexThread& guard, const GuardRecord& /*command*/) {
    programming(guard, true);
}

void disableProgramming(TCorvexThread& guard, const GuardRecord& /*command*/) {
    programming(guard, false);
}

// A job runs on what it sees of the Guard, its JobContext.
template <void (*Job)(JobContext&, const GuardRecord&)>
void job(TCorvexThread& guard, const GuardRecord& command) {
    Job(guard, command);
}

// A signature read is how a technician starts on the next receiver. The work file still holds
// what was read of the last one, and its marks would let a write call an area "Up-to-Date" that
// was never read from this receiver: they go before the chip is even asked.
void signature(TCorvexThread& guard, const GuardRecord& command) {
    if (AreaTable* table = guard.areaTable()) {
        for (std::size_t area = 0; area < kAreaSlots; ++area) {
            table->clearBits(area, kAreaJobMarks);
        }
    }
    signatureJob(guard, command);
}

// "EXIT" is handled by the run loop itself, which owns the thread's end; it is listed so that
// it counts as a known word.
void exitCommand(TCorvexThread& /*guard*/, const GuardRecord& /*command*/) {}

constexpr CommandEntry kCommands[] = {
    {"READ FIRMWARE", "RFW", job<readFirmwareJob>},
    {"WRITE FIRMWARE", "WFW", job<writeFirmwareJob>},
    {"PREVIEW FIRMWARE", "PFW", job<previewFirmwareJob>},
    {"EEREAD", "", job<eepromReadJob>},
    {"EEVIEW", "", job<eepromViewJob>},
    {"EEWRITE", "", job<eepromWriteJob>},
    {"EEERASE", "", job<eepromEraseJob>},
    {"BOOTCODE", "", job<bootcodeJob>},
    {"SIGNATURE", "", signature},
    {"CORVEX", "", detect},
    {"VERSION", "", version},
    {"SETHARDWARE", "", setHardware},
    {"DIAG", "", job<diagJob>},
    {"EMI_INIT", "", emiInit},
    {"SETDRIVER", "", setDriver},
    {"BLOCKMODE", "", blockMode},
    {"WBB", "", job<writeBlockJob>},
    {"RBB", "", job<readBlockJob>},
    {"EXIT", "", exitCommand},
    {"DEADLOCK", "", deadlock},
    {"IDLE PRIORITY", "IPRIO", idlePriority},
    {"HIGH PRIORITY", "HPRIO", highPriority},
    {"RESTART", "", restart},
    {"RESET", "RST", reset},
    {"ENABLEPGM", "", enableProgramming},
    {"DISABLEPGM", "", disableProgramming},
};

} // namespace

const CommandEntry* findCommand(std::string_view text) {
    for (const CommandEntry& entry : kCommands) {
        if (entry.word == text || (!entry.alias.empty() && entry.alias == text)) {
            return &entry;
        }
    }
    return nullptr;
}

void runCommand(TCorvexThread& guard, const GuardRecord& command) {
    if (const CommandEntry* entry = findCommand(command.Text.view())) {
        entry->action(guard, command);
        return;
    }
    guard.Log("ERROR - UNKNOWN COMMAND SEND \"" + command.Text.str() + "\"");
}

} // namespace corvex::link
