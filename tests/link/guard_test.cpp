#include "guard_harness.h"
#include "link/guard/guard_commands.h"
#include "link/jobs/area_table.h"
#include "sim/receiver_bus.h"
#include "sim/virtual_port.h"
#include "temp_dir.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace corvex::test {
namespace {

using link::GuardRecord;
using link::GuardStateValue;

const char kBusy[] = "Corvex guard is currently busy. Click BREAK to abort job !";
const char kNotRunning[] = "Corvex guard is not running, command rejected.";
const char kAbort[] = "Job aborted and Corvex guard ready to start new job !";

// The last log record is the refusal with this text and colour.
void expectRefusal(GuardHarness& h, const char* text, std::uint32_t colour) {
    EXPECT_EQ(h.guard->Submit(GuardRecord::command("VERSION")), -1);
    h.drain();
    const GuardRecord refusal = h.logRecords.back();
    EXPECT_EQ(refusal.Text.view(), text);
    EXPECT_EQ(refusal.Code, 3U);
    EXPECT_EQ(refusal.Data, colour);
}

// A Guard starts idle; each command's reply in the log book and the message it posts (code 0:
// none); unknown words are case-sensitive and the empty command has no echo; SETHARDWARE rows
// start from the previous row's state (an unknown selection changes nothing); EXIT stops it and
// later submissions are refused.
TEST(GuardCommands, RepliesSelectionsAndExit) {
    FloatingPort port;
    GuardHarness h(port);
    ASSERT_TRUE(h.waitForLine("CORVEX GUARD RUNNING - VERSION 1.00 - BUILD 020407"));
    EXPECT_EQ(h.log.front(), "CORVEX GUARD STARTING ...");
    EXPECT_EQ(h.guard->GuardState(), GuardStateValue::Idle);
    const struct {
        const char* command;
        const char* reply;
        std::uint32_t code;
        std::uint32_t param;
        const char* message;
    } cases[] = {
        {"VERSION", "3.00 BUILD 020411 / DEBUG EXTENSION 020416", 0, 0, ""},
        {"RESTART", "Corvex Guard is restarted by user program.", 0, 0, ""},
        {"version", "ERROR - UNKNOWN COMMAND SEND \"version\"", 0, 0, ""},
        {"IDLE PRIORITY", "SET GUARD PRIORITY TO IDLE", 2, 0, "Corvex Guard set to Idle priority."},
        {"HPRIO", "SET GUARD PRIORITY TO HIGH", 2, 0, "Corvex Guard set to High priority."},
        {"RESET", "RESET CORVEX INTERFACE", 2, 0, "Corvex reset function completed."},
        {"ENABLEPGM", "Set programming to enabled.", 11, 1, "Set programming to enabled."},
        {"DISABLEPGM", "Set programming to disabled.", 11, 0, "Set programming to disabled."},
    };
    for (const auto& c : cases) {
        const std::size_t before = h.events.messages().size();
        h.run(c.command);
        EXPECT_EQ(h.repliesTo(c.command), std::vector<std::string>{c.reply});
        const auto messages = h.events.messages();
        ASSERT_EQ(messages.size(), before + (c.code != 0 ? 1 : 0)) << c.command;
        if (c.code != 0) {
            EXPECT_EQ(messages.back().Code, c.code);
            EXPECT_EQ(messages.back().Param, c.param);
            EXPECT_EQ(messages.back().Text.view(), c.message);
            EXPECT_EQ(messages.back().Data, 0x1000U);
        }
    }
    const auto before = h.log.size();
    h.run(GuardRecord{});
    ASSERT_EQ(h.log.size(), before + 1);
    EXPECT_EQ(h.log.back(), "ERROR - UNKNOWN COMMAND SEND \"\"");
    h.guard->SetStopOnError(true);
    h.guard->SetStopOnError(false);
    ASSERT_TRUE(h.waitForLine("DISABLE STOP ON ERROR"));
    EXPECT_TRUE(h.contains("ENABLE STOP ON ERROR"));
    EXPECT_FALSE(h.guard->stopOnError());
    const std::uint32_t selections[][4] = {// param, type, areas, flash base
                                           {1, 1, 11, 0x7FF00000},
                                           {0, 0, 19, 0x7FE00000},
                                           {2, 1, 11, 0xC0000000},
                                           {7, 1, 11, 0xC0000000}};
    for (const auto& c : selections) {
        SCOPED_TRACE(c[0]);
        h.run(GuardRecord::command("SETHARDWARE", c[0]));
        EXPECT_EQ(h.repliesTo("SETHARDWARE"),
                  std::vector<std::string>{"Set hardware type: " + std::to_string(c[1])});
        EXPECT_EQ(h.guard->hardwareType(), c[1]);
        EXPECT_EQ(h.guard->areaCount(), c[2]);
        EXPECT_EQ(h.guard->flashBase(), c[3]);
    }
    ASSERT_GE(h.guard->Submit(GuardRecord::command("EXIT")), 0);
    ASSERT_TRUE(h.events.waitForTerminate());
    h.drain();
    EXPECT_EQ(h.repliesTo("EXIT"), std::vector<std::string>{"Corvex Guard is stopped."});
    EXPECT_EQ(h.guard->GuardState(), GuardStateValue::Stopped);
    expectRefusal(h, kNotRunning, 0x1000U);
}

// Two threads submit block writes, each with its own file name: a command is only taken while
// nothing else runs or waits, and each job writes to the file handed over with it.
TEST(GuardSubmit, TwoThreadsHammeringSubmitsGetOneJobAtATimeEachWithItsOwnFile) {
    // An adapter that answers: on an empty port a block job ends before it opens the file.
    sim::RegisterFile bus;
    sim::VirtualPort port(bus);
    GuardHarness h(port);
    h.guard->link().setMicroDelay([](std::uint64_t /*microseconds*/) {});
    const TempDir dir;
    ASSERT_TRUE(h.waitIdle());
    std::mutex acceptedMutex; // guards accepted: both hammering threads append
    std::vector<std::string> accepted;
    std::atomic<int> running{2};
    const auto hammer = [&](char who) {
        for (int i = 0; i < 150; ++i) {
            // Appended piece by piece: GCC 12 -O2 misreads "string + to_string" as overlapping.
            std::string leaf(1, who);
            leaf.append(std::to_string(i));
            const std::string name = dir.file(leaf);
            const GuardRecord block = GuardRecord::command("WBB", 0, 0x7FE00000, 64);
            if (h.guard->Submit(block, link::FileSlot::Read, name) >= 0) {
                const std::lock_guard lock(acceptedMutex);
                accepted.push_back(name);
            }
            // Paced, so the refusal lines never fill the log queue before it is drained.
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        running.fetch_sub(1);
    };
    std::thread a(hammer, 'a');
    std::thread b(hammer, 'b');
    while (running.load() > 0) {
        h.drain();
        std::this_thread::yield();
    }
    a.join();
    b.join();
    ASSERT_TRUE(h.waitIdle());
    h.drain();
    std::vector<std::string> jobs;
    for (const std::string& line : h.log) {
        if (const auto at = line.find(" - " + dir.path().string()); at != std::string::npos) {
            jobs.push_back(line.substr(at + 3, line.find(" (64 bytes)") - at - 3));
        }
    }
    std::sort(jobs.begin(), jobs.end());
    std::sort(accepted.begin(), accepted.end());
    ASSERT_FALSE(accepted.empty());
    EXPECT_EQ(jobs, accepted) << "a job ran with another submission's file, or a second queued";
}

// A signature read starts on the next receiver: the work file's marks of the last must go.
TEST(GuardCommands, ASignatureReadDropsTheJobMarksAndKeepsTheModes) {
    FloatingPort port;
    GuardHarness h(port);
    link::AreaTable table;
    for (std::size_t area = 0; area < link::kAreaSlots; ++area) {
        table.AreaFlags[area].store(link::kAreaReadMark | link::kAreaDiffersMark |
                                    link::kAreaProtectedMark | (11U << link::kAreaIconShift) |
                                    static_cast<std::uint32_t>(area % 3));
    }
    h.guard->setAreaTable(&table);
    h.run("SIGNATURE");
    for (std::size_t area = 0; area < link::kAreaSlots; ++area) {
        EXPECT_EQ(table.AreaFlags[area].load(),
                  (11U << link::kAreaIconShift) | static_cast<std::uint32_t>(area % 3))
            << "area " << area;
    }
}

// Nothing ran that a break or a close could break: no abort is reported.
TEST(GuardBreak, AnIdleGuardHasNothingToBreakOrAbort) {
    FloatingPort port;
    GuardHarness h(port);
    ASSERT_TRUE(h.waitIdle());
    h.guard->Break();
    h.guard->BreakOnTimeout();
    EXPECT_EQ(h.guard->PendingDepth(), 0) << "a time-out mark with no exchange to break";
    h.run("VERSION");
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    h.guard->stop();
    h.drain();
    EXPECT_TRUE(h.events.messages().empty());
    EXPECT_FALSE(h.contains("Operation aborted."));
}

// Records the Guard's state at each wake, for an owner that sleeps until told.
struct WakeRecorder : link::GuardWake {
    void watch(const link::TCorvexThread* guard) { m_guard.store(guard); }
    void wake() override {
        const std::lock_guard lock(m_mutex);
        m_last = m_guard.load()->GuardState();
        m_changed.notify_all();
    }
    bool waitFor(GuardStateValue state) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_last == state; });
    }
    std::atomic<const link::TCorvexThread*> m_guard{nullptr}; // set by the test before binding
    std::mutex m_mutex; // guards m_last: the Guard writes it, the test waits on it
    std::condition_variable m_changed;
    GuardStateValue m_last = GuardStateValue::Stopped;
};

TEST(GuardWake, TheOwnerIsWokenWhenAJobStartsAndWhenTheGuardIsIdleAgain) {
    WakeRecorder wakes; // outlives the Guard, which may be waking it as it ends
    FloatingPort port;
    GuardHarness h(port);
    wakes.watch(h.guard.get());
    h.guard->bindWake(&wakes);
    ASSERT_TRUE(h.waitIdle());
    ASSERT_GE(h.guard->Submit(GuardRecord::command("DEADLOCK")), 0);
    EXPECT_TRUE(wakes.waitFor(GuardStateValue::Busy)) << "a held break could not be given";
    h.guard->Break();
    EXPECT_TRUE(wakes.waitFor(GuardStateValue::Idle)) << "the next command would wait";
    EXPECT_TRUE(h.guard->isIdle());
}

TEST(GuardBreak, DeadlockHoldsTheGuardRefusingJobsUntilBreakThenReportsTheAbort) {
    FloatingPort port;
    GuardHarness h(port);
    ASSERT_GE(h.guard->Submit(GuardRecord::command("DEADLOCK")), 0);
    ASSERT_TRUE(h.waitForLine("DEADLOCK TEST"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(h.guard->GuardState(), GuardStateValue::Busy);
    expectRefusal(h, kBusy, 0x2000U);
    h.guard->Break();
    ASSERT_TRUE(h.events.waitForMessage(5));
    ASSERT_TRUE(h.waitForLine("Operation aborted."));
    EXPECT_EQ(
        h.repliesTo("DEADLOCK"),
        (std::vector<std::string>{"DEADLOCK TEST", kBusy, "ABORT DEADLOCK", "Operation aborted."}));
    const auto report = h.events.messages().back();
    EXPECT_EQ(report.Text.view(), kAbort);
    EXPECT_EQ(report.Data, 0x1000U);
    // The Guard takes the next job normally afterwards.
    h.run("VERSION");
    EXPECT_TRUE(h.contains("3.00 BUILD 020411 / DEBUG EXTENSION 020416"));
}

bool waitUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

// A hung adapter in EMI_INIT: a user's break is an abort, a time-out a broken link, neither
// claims success; destroying the Guard breaks the wait and joins without a report.
TEST(GuardBreak, UserBreakIsAnAbortTimeoutIsABrokenLinkAndDestructionJoins) {
    for (const std::string how : {"break", "timeout", "destroy"}) {
        SCOPED_TRACE(how);
        SilentPort port;
        GuardHarness h(port);
        ASSERT_GE(h.guard->Submit(GuardRecord::command("EMI_INIT")), 0);
        ASSERT_TRUE(waitUntil([&] { return h.guard->PendingDepth() > 0; })) << "not in a wait";
        if (how == "destroy") {
            h.guard.reset(); // returns: the spinning wait sees the break
            EXPECT_TRUE(h.events.messages().empty());
            EXPECT_FALSE(h.events.terminated());
            continue;
        }
        if (how == "timeout") {
            h.guard->BreakOnTimeout();
            ASSERT_TRUE(h.events.waitForMessage(10));
            ASSERT_TRUE(h.waitForLine("Communication with Corvex broken."));
            EXPECT_EQ(h.events.messages().back().Text.view(),
                      "Function aborted.\rThe communication with your Corvex interface is broken.");
        } else {
            h.guard->Break();
            ASSERT_TRUE(h.events.waitForMessage(5));
            ASSERT_TRUE(h.waitForLine("Operation aborted."));
            EXPECT_EQ(h.events.messages().back().Text.view(), kAbort);
        }
        EXPECT_EQ(h.guard->PendingDepth(), 0);
        EXPECT_FALSE(h.contains("EMI Initialization OK"));
        EXPECT_EQ(h.events.messages().size(), 1U);
    }
}

TEST(GuardFatal, AnEscapingErrorEndsTheGuardWithTheReportAndANewGuardTakesOver) {
    ThrowingPort broken;
    GuardHarness h(broken);
    ASSERT_GE(h.guard->Submit(GuardRecord::command("RST", 0, 0x12345678, 0xCAFE)), 0);
    ASSERT_TRUE(h.events.waitForTerminate());
    h.drain();
    const auto lines = h.repliesTo("RST");
    ASSERT_GE(lines.size(), 3U);
    EXPECT_EQ(lines[0].rfind("*** FATAL CORVEX GUARD EXCEPTION - ", 0), 0U) << lines[0];
    EXPECT_EQ(lines[1], "*** WINDOWS LAST ERROR REPORT \"Input/output error\"");
    EXPECT_EQ(lines[2], "*** ERROR:  FUNCTION: 0   ADR:12345678   DATA:0000CAFE   CALLBACK: 0");
    EXPECT_EQ(h.guard->GuardState(), GuardStateValue::Stopped);
    EXPECT_EQ(h.guard->Submit(GuardRecord::command("VERSION")), -1);
    FloatingPort working;
    GuardHarness replacement(working);
    replacement.run("RESTART");
    EXPECT_TRUE(replacement.contains("Corvex Guard is restarted by user program."));
}

// A posted hand-over holds the Guard until the owner runs it; a Guard destroyed while it waits
// leaves a call that does nothing.
TEST(GuardLifecycle, APostedHandOverHoldsTheGuardUntilItRunsAndDestructionDropsIt) {
    FloatingPort port;
    PostingOwner owner;
    Recorder events;
    auto guard = std::make_unique<link::TCorvexThread>(port, owner.synchroniser(), "test.LRF");
    guard->bindEvents(&events);
    ASSERT_GE(guard->Submit(GuardRecord::command("BLOCKMODE")), 0);
    ASSERT_TRUE(owner.waitForCalls(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_EQ(guard->GuardState(), GuardStateValue::Busy) << "went on before the owner ran it";
    owner.runCalls();
    EXPECT_TRUE(waitUntil([&] { return guard->isIdle(); }));
    ASSERT_EQ(events.messages().size(), 1U);

    // A read block waits in a hand-over when its owner goes, just after a time-out it would
    // take as one abandoned word: going ends it all the same.
    SilencingPort quiet(port);
    const TempDir dir;
    auto blocked = std::make_unique<link::TCorvexThread>(quiet, owner.synchroniser(), "test.LRF");
    blocked->bindEvents(&events);
    blocked->SetWriteFileName(dir.file("block.bin"));
    ASSERT_GE(blocked->Submit(GuardRecord::command("RBB", 0, 0x7FE00000, 4096)), 0);
    ASSERT_TRUE(owner.waitForCalls(1));
    blocked->BreakOnTimeout();
    quiet.silence();
    blocked.reset();
    owner.runCalls(); // the dropped call, run late, reaches nobody
    guard.reset();
    EXPECT_EQ(events.messages().size(), 1U);
    EXPECT_FALSE(events.terminated());
    EXPECT_TRUE(dir.names().empty()) << "the broken block left a file";
}

} // namespace
} // namespace corvex::test
