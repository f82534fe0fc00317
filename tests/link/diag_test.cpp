#include "link/guard/guard.h"
#include "link/jobs/diag_jobs.h"
#include "sim/receiver_bus.h"
#include "sim/virtual_port.h"
#include "tests/link/guard_harness.h"

#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace corvex::test {
namespace {

using link::GuardRecord;

GuardRecord diag(std::uint32_t pid, std::uint32_t address = 0, std::uint32_t data = 0) {
    return GuardRecord::command("DIAG", pid, address, data);
}

// Answers the loopback warning as the user would, and records every message.
class Answering : public Recorder {
public:
    explicit Answering(bool yes) : m_yes(yes) {}
    void OnMessage(link::TCorvexThread& sender, const GuardRecord& message) override {
        Recorder::OnMessage(sender, message);
        if (message.Code == link::kMsgLoopWarning && !m_yes) {
            sender.Break();
        }
    }

private:
    bool m_yes;
};

// A Guard on a simulated adapter with a plain register file behind it.
struct DiagRig {
    explicit DiagRig(sim::AdapterType type = sim::AdapterType::RevB, bool answerYes = true)
        : DiagRig(adapterOptions(type), answerYes) {}
    explicit DiagRig(const sim::AdapterOptions& options, bool answerYes = true)
        : adapter(bus, options), answers(answerYes), harness(adapter) {
        harness.guard->bindEvents(&answers);
    }
    static sim::AdapterOptions adapterOptions(sim::AdapterType type) {
        sim::AdapterOptions options;
        options.type = type;
        return options;
    }
    [[nodiscard]] std::vector<std::uint32_t> codes() const {
        std::vector<std::uint32_t> result;
        for (const GuardRecord& m : answers.messages()) {
            result.push_back(m.Code);
        }
        return result;
    }
    [[nodiscard]] GuardRecord last(std::uint32_t code) const {
        GuardRecord found;
        for (const GuardRecord& m : answers.messages()) {
            if (m.Code == code) {
                found = m;
            }
        }
        return found;
    }
    sim::RegisterFile bus;
    sim::VirtualPort adapter;
    Answering answers; // outlives the Guard that reports to it
    GuardHarness harness;
};

// Keeps the bytes put on the data lines, in order.
class DataLines : public link::PortIo {
public:
    explicit DataLines(link::PortIo& inner) : m_inner(inner) {}
    std::uint8_t in(std::uint16_t address) override { return m_inner.in(address); }
    void out(std::uint16_t address, std::uint8_t value) override {
        m_inner.out(address, value);
        if (address == link::kDefaultPortBase) {
            const std::lock_guard lock(m_mutex);
            m_bytes.push_back(value);
        }
    }
    /// The bytes so far; forgets them.
    std::vector<std::uint8_t> take() {
        const std::lock_guard lock(m_mutex);
        return std::exchange(m_bytes, {});
    }

private:
    link::PortIo& m_inner;
    std::mutex m_mutex; // guards m_bytes: the Guard writes, the test takes
    std::vector<std::uint8_t> m_bytes;
};

TEST(GuardDriver, SetDriverChoosesHowEveryByteIsSent) {
    sim::RegisterFile bus;
    sim::VirtualPort adapter(bus);
    DataLines lines(adapter);
    GuardHarness harness(lines);
    const std::vector<std::uint8_t> word = {0x00, 0x00, 0x90, 0x00, 0x20, 0x78, 0x56, 0x34, 0x12};
    for (const std::uint32_t laptop : {1U, 0U}) {
        harness.run(GuardRecord::command("SETDRIVER", laptop));
        (void)lines.take();
        harness.run(diag(link::kPidWriteWord, 0x20009000, 0x12345678));
        std::vector<std::uint8_t> expected;
        for (const std::uint8_t byte : word) {
            // The slow variant puts all ones on the lines before each byte.
            if (laptop != 0) {
                expected.push_back(0xFF);
            }
            expected.push_back(byte);
        }
        EXPECT_EQ(lines.take(), expected) << "SETDRIVER " << laptop;
        EXPECT_EQ(bus.writes().back(), std::make_pair(0x20009000U, 0x12345678U));
    }
}

// Words travel both ways and the result goes to its field; an unknown function is logged and
// still completes; the port base moves every later access; single handshake steps move one byte
// through the loopback; each line function drives one control line.
TEST(DiagFunctions, EachFunctionOnOneRig) {
    DiagRig rig;
    rig.harness.run(diag(link::kPidWriteWord, 0x20009000, 0x12345678));
    EXPECT_EQ(rig.bus.writes().back(), std::make_pair(0x20009000U, 0x12345678U));
    EXPECT_EQ(rig.codes(), (std::vector<std::uint32_t>{link::kMsgDiagDone}))
        << "a write has no result to show";
    rig.harness.run(diag(link::kPidReadWord, 0x20009000));
    const GuardRecord value = rig.last(link::kMsgDiagValue);
    EXPECT_EQ(value.Data, 0x12345678U);
    EXPECT_EQ(value.Flag, 8U);
    EXPECT_EQ(value.Text, "OUT:   PID:  1   Adr=20009000   Dat=12345678   CALLBACK:  6");
    EXPECT_TRUE(rig.harness.contains("IN:    PID:  1   Adr=20009000   Dat=00000000"));
    EXPECT_EQ(rig.last(link::kMsgDiagDone).Text, "Operation completed");
    rig.harness.run(diag(25, 0x10, 0x20));
    EXPECT_EQ(rig.harness.repliesTo("DIAG"),
              (std::vector<std::string>{"IN:    PID: 25   Adr=00000010   Dat=00000020",
                                        "UNKNOWN DIAGNOSTIC COMMAND",
                                        "OUT:   PID: 25   Adr=00000010   Dat=00000020   "
                                        "CALLBACK:  0"}));
    EXPECT_EQ(rig.codes().size(), 4U) << "an unknown function posts only its completion";
    EXPECT_EQ(rig.codes().back(), link::kMsgDiagDone);
    rig.harness.run(diag(link::kPidPortBase, 0xFFFF0278));
    EXPECT_TRUE(
        rig.harness.contains("OUT:   PID:  6   Adr=FFFF0278   Dat=00000000   CALLBACK:  0"));
    rig.harness.run("CORVEX");
    EXPECT_EQ(rig.harness.log.back(), "NO CORVEX INTERFACE CONNECTED");
    rig.harness.run(diag(link::kPidPortBase, 0x378));
    rig.harness.run("CORVEX");
    EXPECT_EQ(rig.harness.log.back(), "VELMAR (REV B) CORVEX INTERFACE CONNECTED");
    rig.harness.run(diag(link::kPidLoopbackOn));
    EXPECT_TRUE(rig.harness.contains("LOOPBACK ENABLED"));
    rig.harness.run(diag(link::kPidDataValid));
    EXPECT_EQ(rig.last(link::kMsgDiagLine).Data, 0U) << "nothing presented yet";
    rig.harness.run(diag(link::kPidSendByte, 0, 0x1A5));
    rig.harness.run(diag(link::kPidDataValid));
    const GuardRecord valid = rig.last(link::kMsgDiagLine);
    EXPECT_EQ(valid.Data, 1U) << "the echoed byte waits on the data lines";
    rig.harness.run(diag(link::kPidReceiveByte));
    const GuardRecord received = rig.last(link::kMsgDiagValue);
    EXPECT_EQ(received.Data, 0xA5U) << "only the low byte of Data is sent";
    EXPECT_EQ(received.Flag, 2U);
    rig.harness.run(diag(link::kPidLoopbackOff));
    EXPECT_TRUE(rig.harness.contains("LOOPBACK DISABLED"));
    EXPECT_TRUE(rig.adapter.anomalies().empty()) << rig.adapter.anomalies().front();
    EXPECT_EQ(rig.harness.guard->PendingDepth(), 0);
    // Each row: the function that sets the line's register bit, the one that clears it, the bit.
    const std::uint32_t cases[][3] = {{link::kPidReadHigh, link::kPidReadLow, link::kLineRead},
                                      {link::kPidTxAckHigh, link::kPidTxAckLow, link::kLineTxAck},
                                      {link::kPidWriteHigh, link::kPidWriteLow, link::kLineWrite},
                                      {link::kPidResetLow, link::kPidResetHigh, link::kLineReset}};
    for (const auto& c : cases) {
        for (const bool set : {true, false}) {
            rig.harness.run(diag(c[set ? 0 : 1], 0, set ? 1 : 0));
            EXPECT_EQ((rig.harness.guard->port().shadow() & c[2]) != 0, set) << "PID " << c[0];
            EXPECT_EQ(rig.last(link::kMsgDiagLine).Data, set ? 1U : 0U) << "the panel's state";
        }
    }
}

// Each soak test passes only against an echoing interface in loopback. The first wrong echo
// ends the data test; an interface that does not echo holds it until the user breaks it, which
// is an abort, not a broken link; nothing answering passes no test; a declined warning runs none.
TEST(LoopbackTests, PassOnlyAgainstAnEchoingInterfaceInLoopback) {
    using link::kMsgFinalReport;
    using link::kMsgLoopProgress;
    using link::kMsgLoopWarning;
    const std::string aborted = "Job aborted and Corvex guard ready to start new job !";
    using T = sim::AdapterType;
    const std::uint32_t data = link::kPidLoopbackDataTest;
    const std::uint32_t ack = link::kPidLoopbackAckTest;
    const std::uint32_t flow = link::kPidLoopbackFlowTest;
    const std::string dataFailed = "Loopback DATA-test failed.";
    // messages: warning, 0, passes 1..100, report, 0; a failure starts one pass.
    const struct {
        T type;
        bool yes;      // the answer to the warning
        bool loopback; // switched on first
        bool userBreak;
        std::uint32_t pid;
        std::string report;
        std::string logged; // the test's own verdict in the log, if the report is another
        std::size_t messages;
    } cases[] = {
        {T::RevB, true, true, false, data, "Loopback DATA-test succeeded.", "", 104},
        {T::RevB, true, true, false, ack, "Loopback ACK-test succeeded.", "", 104},
        {T::RevB, true, true, false, flow, "Loopback FLOW-test succeeded.", "", 104},
        {T::Unknown, true, true, false, data, dataFailed, "", 5},
        {T::Compatible, true, true, true, data, aborted, dataFailed, 0},
        {T::RevB, true, false, true, data, aborted, dataFailed, 0},
        {T::Absent, true, true, false, ack, "Loopback ACK-test failed.", "", 5},
        {T::Absent, true, true, false, data, dataFailed, "", 5},
        {T::Absent, true, true, false, flow, "Loopback FLOW-test failed.", "", 5},
        {T::RevB, false, true, false, data, aborted, "", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.report + " " + std::to_string(static_cast<int>(c.type)));
        DiagRig rig(c.type, c.yes);
        if (c.loopback) {
            rig.harness.run(diag(link::kPidLoopbackOn));
        }
        rig.harness.submit(diag(c.pid));
        if (c.userBreak) {
            EXPECT_TRUE(rig.answers.waitForMessage(kMsgLoopProgress));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            rig.harness.guard->Break();
        }
        EXPECT_TRUE(rig.harness.waitIdle());
        if (c.report == aborted) {
            EXPECT_TRUE(rig.harness.waitForLine("Operation aborted."));
        }
        EXPECT_TRUE(rig.answers.waitForMessage(kMsgFinalReport));
        std::vector<std::uint32_t> codes = rig.codes();
        std::erase_if(codes, [](std::uint32_t c) { return c == link::kMsgDiagDone; });
        EXPECT_EQ(rig.last(kMsgFinalReport).Text.str(), c.report);
        EXPECT_EQ(rig.last(kMsgFinalReport).Data,
                  c.report.ends_with("failed.") ? link::kStyleError : link::kStyleNormal);
        if (c.messages != 0) {
            EXPECT_EQ(codes.size(), c.messages);
            EXPECT_EQ(codes.front(), kMsgLoopWarning);
            EXPECT_EQ(codes.back(), c.yes ? kMsgLoopProgress : kMsgFinalReport);
            EXPECT_EQ(rig.last(kMsgLoopProgress).Data, 0U) << "the gauge is cleared at the end";
        }
        EXPECT_EQ(rig.harness.contains(c.logged), !c.logged.empty());
    }

    SilentPort nothing;
    Answering answers(true);
    GuardHarness harness(nothing);
    harness.guard->bindEvents(&answers);
    harness.submit(diag(link::kPidLoopbackAckTest));
    ASSERT_TRUE(answers.waitForMessage(kMsgLoopProgress));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    harness.guard->Break();
    EXPECT_TRUE(harness.waitForLine("Operation aborted.")) << "a user break, not a broken link";
    EXPECT_TRUE(harness.contains("Loopback ACK-test failed."));
}

// An adapter that has stopped answering is not detected (an empty port: see the port base).
TEST(LoopbackTests, AHungAdapterIsNotDetected) {
    sim::AdapterOptions hung;
    hung.hangAfter = 0;
    DiagRig rig(hung);
    rig.harness.run("CORVEX");
    EXPECT_EQ(rig.harness.log.back(), "NO CORVEX INTERFACE CONNECTED");
}

} // namespace
} // namespace corvex::test
