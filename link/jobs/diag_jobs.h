#pragma once

#include "link/jobs/guard_record.h"
#include "link/jobs/job_context.h"

#include <cstdint>

namespace corvex::link {

// The diagnostics page's single steps and the loopback soak tests, as the "DIAG" action.

/// Diagnostic function codes (`Param` of "DIAG").
enum DiagPid : std::uint32_t {
    kPidReadWord = 1,
    kPidWriteWord = 2,
    kPidReceiveByte = 3,
    kPidSendByte = 4,
    kPidAcknowledge = 5,
    kPidPortBase = 6,
    kPidReadDataLines = 7,
    kPidWriteDataLines = 8,
    kPidReadHigh = 9,
    kPidReadLow = 10,
    kPidTxAckHigh = 11,
    kPidTxAckLow = 12,
    kPidWriteHigh = 13,
    kPidWriteLow = 14,
    kPidResetHigh = 15,
    kPidResetLow = 16,
    kPidDataValid = 17,
    kPidRxAck = 18,
    kPidLoopbackOn = 19,
    kPidLoopbackOff = 20,
    kPidLoopbackAckTest = 21,
    kPidLoopbackDataTest = 22,
    kPidLoopbackFlowTest = 23,
    kPidEchoForever = 24,
};

/// Exchanges per pass of a loopback test; a test runs 100 passes.
inline constexpr int kLoopbackPasses = 100;
inline constexpr int kLoopbackShortPass = 1000;
inline constexpr int kLoopbackLongPass = 15000;

/// "DIAG": runs the function `Param` names on `Address`/`Data`, logs the IN and OUT lines,
/// posts the result (callback 6 or 7) when there is one, then "Operation completed" (code 8).
void diagJob(JobContext& guard, const GuardRecord& request);

} // namespace corvex::link
