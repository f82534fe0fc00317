#include "link/jobs/diag_jobs.h"

#include "link/jobs/flash_jobs.h"
#include "link/jobs/job_context.h"
#include "link/port/port.h"
#include "link/protocol/link.h"

#include <chrono>
#include <random>
#include <string>

namespace corvex::link {

namespace {

bool statusBit(JobContext& guard, std::uint8_t bit) {
    return (guard.port().readStatus() & bit) != 0;
}

void postProgress(JobContext& guard, std::uint32_t pass) {
    GuardRecord& m = guard.messageRecord();
    m.Code = kMsgLoopProgress;
    m.Data = pass;
    guard.PostMessageRecord();
}

enum class LoopbackMode { Ack, Data, Flow };

const char* loopbackName(LoopbackMode mode) {
    switch (mode) {
    case LoopbackMode::Ack:
        return "Loopback ACK-test";
    case LoopbackMode::Data:
        return "Loopback DATA-test";
    case LoopbackMode::Flow:
        break;
    }
    return "Loopback FLOW-test";
}

// One exchange of a soak test; false when the echo came back wrong or nothing is there to echo.
bool loopbackExchange(JobContext& guard, LoopbackMode mode, std::mt19937& random) {
    Link& link = guard.link();
    // A port with nothing on it lets both input lines float high, and every wait would take
    // that for an answer. An adapter never raises both at once between exchanges.
    if (link.linesFloat()) {
        return false;
    }
    const PendingExchange pending(guard.link().flags());
    if (mode == LoopbackMode::Ack) {
        link.acknowledge();
        link.waitRxAck();
        return true;
    }
    const auto sent = static_cast<std::uint8_t>(random() & 0xFF);
    link.sendByte(sent);
    const std::uint8_t echoed = link.receiveByte();
    return mode == LoopbackMode::Flow || echoed == sent;
}

// The soak tests assume an interface switched to loopback with nothing but the PC on it: on a
// connected receiver the random bytes would be taken as commands, hence the warning first.
void loopbackTest(JobContext& guard, LoopbackMode mode) {
    GuardRecord& m = guard.messageRecord();
    const int exchangesPerPass = m.Data != 0 ? kLoopbackLongPass : kLoopbackShortPass;
    m.Code = kMsgLoopWarning;
    guard.PostMessageRecord();
    m.Code = 0;
    if (guard.link().breakRequested()) {
        return; // the user declined
    }

    std::mt19937 random(
        static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    postProgress(guard, 0);
    bool passed = true;
    for (int pass = 1; pass <= kLoopbackPasses && passed; ++pass) {
        postProgress(guard, static_cast<std::uint32_t>(pass));
        for (int i = 0; i < exchangesPerPass; ++i) {
            // A break ends the test as failed: it did not see all its exchanges through.
            if (!loopbackExchange(guard, mode, random) || guard.link().breakRequested()) {
                passed = false;
                break;
            }
        }
    }
    const std::string text =
        std::string(loopbackName(mode)) + (passed ? " succeeded." : " failed.");
    reportFinal(guard, text, passed ? kStyleNormal : kStyleError);
    postProgress(guard, 0);
    m.Code = 0;
}

void runFunction(JobContext& guard, std::uint32_t pid) {
    GuardRecord& m = guard.messageRecord();
    Link& link = guard.link();
    Port& port = guard.port();
    const auto lowByte = static_cast<std::uint8_t>(m.Data & 0xFF);
    switch (pid) {
    case kPidReadWord:
        m.Data = link.readWord(m.Address);
        m.Code = kMsgDiagValue;
        m.Flag = 8;
        return;
    case kPidWriteWord:
        link.writeWord(m.Address, m.Data);
        return;
    case kPidReceiveByte:
        if (statusBit(guard, kStatusDataValid)) {
            const PendingExchange pending(guard.link().flags());
            m.Data = link.receiveByte();
        }
        link.acknowledge();
        m.Code = kMsgDiagValue;
        m.Flag = 2;
        return;
    case kPidSendByte:
        link.sendByte(lowByte);
        if (statusBit(guard, kStatusRxAck)) {
            const PendingExchange pending(guard.link().flags());
            link.waitRxAck();
        }
        return;
    case kPidAcknowledge:
        link.acknowledge();
        if (statusBit(guard, kStatusRxAck)) {
            const PendingExchange pending(guard.link().flags());
            link.waitRxAck();
        }
        return;
    case kPidPortBase:
        port.setBase(static_cast<std::uint16_t>(m.Address & 0xFFFF));
        return;
    case kPidReadDataLines:
        port.setLines(kDataInput);
        m.Data = port.readData();
        m.Code = kMsgDiagValue;
        m.Flag = 2;
        return;
    case kPidWriteDataLines:
        port.clearLines(kDataInput);
        port.writeData(lowByte);
        return;
    case kPidReadHigh:
        port.setLines(kDataInput);
        port.setLines(kLineRead);
        break;
    case kPidReadLow:
        port.clearLines(kLineRead);
        break;
    case kPidTxAckHigh:
        port.setLines(kLineTxAck);
        break;
    case kPidTxAckLow:
        port.clearLines(kLineTxAck);
        break;
    case kPidWriteHigh:
        port.setLines(kLineWrite);
        break;
    case kPidWriteLow:
        port.clearLines(kLineWrite);
        break;
    case kPidResetHigh:
        port.clearLines(kLineReset);
        break;
    case kPidResetLow:
        port.setLines(kLineReset);
        break;
    case kPidDataValid:
        m.Data = statusBit(guard, kStatusDataValid) ? 1 : 0;
        break;
    case kPidRxAck:
        m.Data = statusBit(guard, kStatusRxAck) ? 1 : 0;
        break;
    case kPidLoopbackOn:
        link.loopbackOn();
        guard.Log("LOOPBACK ENABLED");
        return;
    case kPidLoopbackOff:
        link.loopbackOff();
        guard.Log("LOOPBACK DISABLED");
        return;
    case kPidLoopbackAckTest:
        loopbackTest(guard, LoopbackMode::Ack);
        return;
    case kPidLoopbackDataTest:
        loopbackTest(guard, LoopbackMode::Data);
        return;
    case kPidLoopbackFlowTest:
        loopbackTest(guard, LoopbackMode::Flow);
        return;
    case kPidEchoForever:
        while (!link.breakRequested()) {
            const PendingExchange pending(guard.link().flags());
            link.sendByte(lowByte);
            (void)link.receiveByte();
        }
        return;
    default:
        guard.Log("UNKNOWN DIAGNOSTIC COMMAND");
        return;
    }
    // The line functions: the page put the new state into `Data` and shows it in its panel.
    m.Code = kMsgDiagLine;
}

} // namespace

void diagJob(JobContext& guard, const GuardRecord& request) {
    GuardRecord& m = guard.messageRecord();
    m = request;
    guard.Log(formatLine("IN:    PID: %2d   Adr=%8.8X   Dat=%8.8X", static_cast<int>(request.Param),
                         request.Address, request.Data));
    m.Code = 0;
    runFunction(guard, request.Param);

    m.Text.assign(formatLine("OUT:   PID: %2d   Adr=%8.8X   Dat=%8.8X   CALLBACK: %2d",
                             static_cast<int>(request.Param), m.Address, m.Data,
                             static_cast<int>(m.Code)));
    guard.Log(m.Text.view());
    if (m.Code != 0) {
        guard.PostMessageRecord();
    }
    m.Text.assign("Operation completed");
    m.Code = kMsgDiagDone;
    guard.PostMessageRecord();
}

} // namespace corvex::link
