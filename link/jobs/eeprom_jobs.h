#pragma once

#include "link/jobs/guard_record.h"
#include "link/jobs/job_context.h"

#include <string_view>

namespace corvex::link {

// The configuration EEPROM and microcode jobs as Guard command actions. The EEPROM jobs work
// through the receiver's I2C controller and pin block (eeprom_i2c.h).

/// "EEREAD": the EEPROM into the save file; HardwareType 0 reads through the controller, 1 by
/// toggling the pins.
void eepromReadJob(JobContext& guard, const GuardRecord& command);
/// "EEVIEW": as "EEREAD", then asks the owner to open the saved file (message code 12).
void eepromViewJob(JobContext& guard, const GuardRecord& command);
/// "EEWRITE": the load file, exactly 2048 bytes, into the EEPROM.
void eepromWriteJob(JobContext& guard, const GuardRecord& command);
/// "EEERASE": every EEPROM byte to 0xFF.
void eepromEraseJob(JobContext& guard, const GuardRecord& command);
/// "BOOTCODE": the load file (2 to 255 bytes) through the interface into the receiver.
void bootcodeJob(JobContext& guard, const GuardRecord& command);

/// The final report of an EEPROM write whose load file does not hold a whole EEPROM image.
inline constexpr std::string_view kEepromWriteFailed = "Error writing configuration EEprom.";

} // namespace corvex::link
