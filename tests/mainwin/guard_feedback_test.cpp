#include "mainwin/guard_feedback.h"
#include "mainwin/message_texts.h"
#include "tests/link/temp_dir.h"

#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>

namespace corvex::test {
namespace {

using link::GuardRecord;
using mainwin::BoxKind;
using mainwin::GuardFeedback;
using mainwin::MessageBox;
using mainwin::PanelView;

constexpr std::string_view kTitle = "Corvex V4.00C";

class FakeGuard : public mainwin::GuardLink {
public:
    int Submit(const GuardRecord& record) override {
        if (refuse) {
            return -1;
        }
        submitted.push_back(record);
        return 0;
    }
    void Break() override { ++breaks; }
    void BreakOnTimeout() override { ++timeoutBreaks; }
    [[nodiscard]] std::int32_t PendingDepth() const override { return pending; }
    [[nodiscard]] std::uint32_t ExchangesDone() const override { return 0; }
    [[nodiscard]] std::uint32_t CurrentArea() const override { return area; }
    int takeLog(GuardRecord& record) override {
        if (generated < generate) {
            record = GuardRecord::command("line " + std::to_string(generated++));
            return 0;
        }
        if (log.empty()) {
            return -1;
        }
        record = log.front();
        log.pop_front();
        return 0;
    }
    [[nodiscard]] bool isIdle() const override { return idle; }

    std::vector<GuardRecord> submitted;
    std::deque<GuardRecord> log;
    std::size_t generate = 0; // numbered lines handed out before `log`
    std::size_t generated = 0;
    bool refuse = false;
    bool idle = true;
    int breaks = 0;
    int timeoutBreaks = 0;
    std::int32_t pending = 0;
    std::uint32_t area = 2;
};

class RecordingView : public mainwin::FeedbackView {
public:
    bool messageBox(const MessageBox& box) override {
        boxes.push_back(box);
        panel1AtBox.push_back(feedback->panel(1));
        return answer;
    }
    void showDiagResult(const void* target, const std::string& text) override {
        diag.emplace_back(target, text);
    }
    void openFileEditor(const std::string& fileName) override { editors.push_back(fileName); }

    GuardFeedback* feedback = nullptr;
    bool answer = true;
    std::vector<MessageBox> boxes;
    std::vector<PanelView> panel1AtBox;
    std::vector<std::pair<const void*, std::string>> diag;
    std::vector<std::string> editors;
};

// 07-03-2026 09:05:03 local time: every drained line carries it.
std::chrono::system_clock::time_point fixedTime() {
    std::tm local{};
    ::strptime("2026-03-07 09:05:03", "%Y-%m-%d %H:%M:%S", &local);
    local.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&local));
}
constexpr std::string_view kStamp = "07-03-2026 @ 09:05:03 - ";

std::string stamped(std::string_view text) {
    return std::string(kStamp) + std::string(text);
}

std::vector<std::string> fileLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

struct Rig {
    explicit Rig(const std::string& logFile = "")
        : areas(table),
          feedback(areas, view, std::string(kTitle),
                   logFile.empty() ? dir.file("corvex.LOG") : logFile, [this] { return now; }) {
        view.feedback = &feedback;
        feedback.bindGuard(&guard);
    }
    void ticks(int count) {
        for (int i = 0; i < count; ++i) {
            feedback.tick();
        }
    }
    TempDir dir;
    std::chrono::system_clock::time_point now = fixedTime();
    link::AreaTable table;
    mainwin::AreaModel areas;
    FakeGuard guard;
    RecordingView view;
    GuardFeedback feedback;
};

GuardRecord message(std::uint32_t code, std::string_view text = "", std::uint32_t flag = 0,
                    std::uint32_t data = 0, std::uint32_t param = 0) {
    GuardRecord r = GuardRecord::command(text, param, 0, data);
    r.Code = code;
    r.Flag = flag;
    return r;
}

const PanelView kTitlePanel{std::string(kTitle), 0, std::nullopt};
const int kTarget = 0; // the address stands for the diagnostics control

TEST(StatusPanels, StartWithTheSignatureRequestTheTitleAndTheVersion) {
    Rig rig;
    EXPECT_EQ(rig.feedback.panel(0),
              (PanelView{std::string(mainwin::kSelectSignature), 19, std::nullopt}));
    EXPECT_EQ(rig.feedback.panel(1), kTitlePanel);
    EXPECT_EQ(rig.feedback.panel(2), (PanelView{"Version 4.00C", 13, std::nullopt}));
    EXPECT_EQ(rig.feedback.panelIcons(), 0U);
    EXPECT_FALSE(rig.feedback.flashGroupEnabled());

    rig.feedback.onMessage(message(link::kMsgStatus, "", 0, 0x1000));
    EXPECT_EQ(rig.feedback.panel(1), PanelView{}) << "an empty panel is blank, icon and all";
    rig.feedback.onMessage(message(link::kMsgFirmwareName, "FW 1.2"));
    EXPECT_EQ(rig.feedback.panelIcons(), (16U << 8) | (34U << 16));
}

// Everything a message can change, one "key=value" line each, for the table below to pick from.
std::string snapshot(const Rig& rig) {
    const auto panel = [&](int index) {
        const PanelView view = rig.feedback.panel(index);
        std::string line = view.text + ";" + std::to_string(view.icon);
        if (view.background) {
            line += *view.background == mainwin::kLightGreen ? ";green" : ";red";
        }
        return line;
    };
    std::string boxes;
    for (std::size_t i = 0; i < rig.view.boxes.size(); ++i) {
        const MessageBox& box = rig.view.boxes[i];
        boxes += (i > 0 ? "|" : "") + box.title + ";" + box.text + ";" +
                 std::to_string(static_cast<int>(box.kind)) + ";" + rig.view.panel1AtBox[i].text +
                 ";" + std::to_string(rig.view.panel1AtBox[i].icon);
    }
    std::string diag;
    for (const auto& [target, text] : rig.view.diag) {
        diag += (target == &kTarget ? "target:" : "") + text;
    }
    const auto& area2 = rig.areas.area(2);
    const auto& area5 = rig.areas.area(5);
    return "\np0=" + panel(0) + "\np1=" + panel(1) + "\np2=" + panel(2) + "\nbox=" + boxes +
           "\ngroup=" + std::to_string(rig.feedback.flashGroupEnabled()) +
           "\nbusy=" + std::to_string(rig.feedback.mapBusy()) +
           "\nblock=" + std::to_string(rig.feedback.blockMode()) +
           "\ngauge=" + std::to_string(rig.feedback.loopbackGauge()) + ";" +
           std::to_string(rig.feedback.loopbackControlsEnabled()) +
           "\nbreaks=" + std::to_string(rig.guard.breaks) + "\ndiag=" + diag +
           "\neditor=" + (rig.view.editors.empty() ? "" : rig.view.editors.back()) +
           "\narea2=" + area2.statusText + "\narea5=" + area5.statusText + ";" +
           std::to_string(area5.statusColour == mainwin::kLightGreen) +
           "\nhint=" + std::to_string(rig.feedback.hintCountdown()) + "\n";
}

void expectShows(const Rig& rig, const std::vector<std::string>& lines) {
    const std::string state = snapshot(rig);
    for (const std::string& line : lines) {
        EXPECT_NE(state.find("\n" + line + "\n"), std::string::npos) << line << " in" << state;
    }
}

struct MessageRow {
    const char* name;
    GuardRecord record;
    std::vector<std::string> expected; // lines of the snapshot afterwards
    std::function<void(Rig&)> before = {};
};

GuardRecord targeted(GuardRecord record) {
    record.Target = &kTarget;
    return record;
}

GuardRecord forArea(GuardRecord record, std::uint32_t area) {
    record.Address = area;
    return record;
}

TEST(GuardMessages, EachCodeShowsWhatTheWindowMustShow) {
    const std::string title(kTitle);
    const std::string noChip = "Read signature can not read correct signature.";
    const std::string broken =
        "Function aborted.\rThe communication with your Corvex interface is broken.";
    const std::string reset = "May be you MUST reset the device connected with your Corvex.";
    const auto busy = [](Rig& r) { r.feedback.setMapBusy(true); };
    const auto swap = [](Rig& r) { r.feedback.setSwapDataBytes(true); };
    const auto enable = [](Rig& r) { r.feedback.onMessage(message(11, "", 0, 0, 1)); };
    const std::vector<MessageRow> rows = {
        {"known chip",
         message(1, "AM29LV160DB"),
         {"p0=AM29LV160DB;28;green", "p1=Read signature function completed.;16", "group=1",
          "box="}},
        {"unknown chip",
         message(1, "UNKNOWN", 1),
         {"p0=UNKNOWN;15;red", "p1=" + noChip + ";15", "group=0",
          "box=Information;" + noChip + ";0;" + noChip + ";15"},
         enable},
        {"unknown chip inside a job",
         message(1, "UNKNOWN", 1),
         {"p1=" + noChip + ";15", "box="},
         [](Rig& r) { r.guard.pending = 1; }},
        {"status",
         message(2, "Corvex reset function completed.", 0, 0x1000),
         {"p1=Corvex reset function completed.;16",
          "p0=" + std::string(mainwin::kSelectSignature) + ";19"}},
        {"refusal", message(3, "busy", 0, 0x2000), {"p1=busy;32"}},
        {"refusal by a Guard that has stopped is an error, never done",
         message(3, "not running", 0, 0x1000),
         {"p1=not running;15"}},
        {"firmware name", message(4, "V2.10"), {"p2=V2.10;34", "p1=" + title + ";16"}},
        {"final report",
         message(5, "Failed", 0, 0x0F00),
         {"p1=Ready;16", "box=Information;Failed;0;Failed;15", "busy=0", "area2="},
         busy},
        {"final report stopping the area",
         message(5, "Stopped", 1, 0x1000),
         {"p1=Ready;16", "busy=0", "area2=Operation stopped"},
         busy},
        {"diagnostic word",
         targeted(message(6, "", 8, 0x12345678)),
         {"diag=target:78563412"},
         swap},
        {"diagnostic byte", targeted(message(6, "", 2, 0xA)), {"diag=target:0A"}, swap},
        {"diagnostic line",
         targeted(message(7, "", 0, 1)),
         {"diag=target:1", "p1=" + title + ";0"}},
        {"diagnostics end", message(8, "Operation completed"), {"p1=Operation completed;16"}},
        {"loopback progress", message(9, "", 0, 40), {"gauge=40;0"}},
        {"loopback done", message(9, "", 0, 0), {"gauge=0;1"}},
        {"broken link",
         message(10, broken),
         {"p1=" + reset + ";15", "box=Timeout;" + broken + ";1;" + reset + ";15"}},
        {"programming enabled", message(11, "", 0, 0, 1), {"group=1"}},
        {"programming disabled", message(11, "", 0, 0, 0), {"group=0"}, enable},
        {"EEPROM view", message(12, "/tmp/ee.bin"), {"editor=/tmp/ee.bin", "p1=Ready.;16"}},
        {"block mode on", message(13), {"block=1"}},
        {"block mode off",
         message(13),
         {"block=0"},
         [](Rig& r) { r.feedback.onMessage(message(13)); }},
        {"stopped on error",
         message(14, "Area 3"),
         {"p1=Stopped on error.;15", "box=Stopped;Area 3;2;Stopped on error.;15"}},
        {"loopback warning, Yes",
         message(15),
         {"box=" + title + ";" + std::string(mainwin::kLoopbackWarning) + ";3;" + title + ";0",
          "breaks=0"}},
        {"loopback warning, No", message(15), {"breaks=1"}, [](Rig& r) { r.view.answer = false; }},
        {"write protected", message(16), {"area2=Write Protected"}},
        {"area colour", forArea(message(17, "Checked", 0, 16, 0x7FE07F), 5), {"area5=Checked;1"}},
    };
    for (const MessageRow& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig;
        if (row.before) {
            row.before(rig);
        }
        rig.view.boxes.clear();
        rig.view.panel1AtBox.clear();
        rig.feedback.onMessage(row.record);
        expectShows(rig, row.expected);
        expectShows(rig, {"hint=20"});
    }
}

// However a job ends, the map takes clicks again and panel 1 no longer claims it runs: the
// Guard is idle only after a job's last report, so the tick that finds it idle ends the job.
TEST(JobEnd, EveryEndLeavesTheMapUsableAndPanelOneWithTheOutcome) {
    const std::string reset = "May be you MUST reset the device connected with your Corvex.";
    const std::string wait = "Reading firmware, please wait ...";
    struct Row {
        const char* name;
        std::function<void(Rig&)> end;
        std::vector<std::string> expected;
    };
    const std::vector<Row> rows = {
        {"a time-out: the broken-link report and no final report",
         [](Rig& r) { r.feedback.onMessage(message(10, "Function aborted.")); },
         {"busy=0", "p1=" + reset + ";15"}},
        {"a job that ends without a word", [](Rig&) {}, {"busy=0", "p1=Ready;16"}},
        {"a stop on error",
         [](Rig& r) { r.feedback.onMessage(message(14, "Area 3")); },
         {"busy=0", "p1=Stopped on error.;15"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig;
        rig.guard.idle = false;
        rig.feedback.showWait(wait);
        rig.feedback.setMapBusy(true);
        rig.feedback.tick();
        EXPECT_TRUE(rig.feedback.mapBusy()) << "the job still runs";
        row.end(rig);
        rig.guard.idle = true;
        rig.feedback.tick();
        expectShows(rig, row.expected);
    }
}

// One ESC, one box: the job says it was broken off, and the Guard's own abort report that
// follows goes to panel 1 only. A job that reports nothing itself still gets the Guard's box.
TEST(JobEnd, ABreakGivesOneReport) {
    const GuardRecord failed = message(5, "Function failed - Job aborted.", 1, 0x0F00);
    const GuardRecord aborted = message(5, link::kAbortReport, 0, 0x1000);
    Rig rig;
    rig.guard.idle = false;
    rig.feedback.jobSubmitted(GuardRecord::command("RFW"));
    rig.feedback.onMessage(failed);
    rig.feedback.onMessage(aborted);
    ASSERT_EQ(rig.view.boxes.size(), 1U);
    EXPECT_EQ(rig.view.boxes[0].text, failed.Text.str());
    EXPECT_EQ(rig.feedback.panel(1), (PanelView{aborted.Text.str(), 16, std::nullopt}));
    rig.guard.idle = true;
    rig.feedback.tick();

    rig.guard.idle = false;
    rig.feedback.jobSubmitted(GuardRecord::command("DEADLOCK"));
    rig.feedback.onMessage(aborted);
    ASSERT_EQ(rig.view.boxes.size(), 2U);
    EXPECT_EQ(rig.view.boxes[1].text, aborted.Text.str());
}

// The whole job's share and time left, in the title and at the end of the wait text, while a
// firmware job runs; the counts follow the areas the job visits.
TEST(JobProgress, TitleAndWaitTextCarryTheWholeJobsShareUntilItEnds) {
    Rig rig;
    rig.guard.idle = false;
    rig.areas.setAll(link::kAreaModeSkip);
    rig.table.setMode(0, link::kAreaModePgm); // 32K
    rig.table.setMode(1, link::kAreaModeClr); // 16K: read, not saved
    rig.feedback.showWait("Reading firmware, please wait ...");
    rig.feedback.jobSubmitted(GuardRecord::command("RFW"));
    EXPECT_EQ(rig.feedback.title(), "0 % - Corvex V4.00C");
    for (int step = 0; step < 12; ++step) {
        rig.feedback.onAreaEvent(link::AreaEvent::Progress, 0);
    }
    rig.now += std::chrono::seconds(3);
    rig.feedback.tick();
    EXPECT_EQ(rig.feedback.title(), "25 % - Corvex V4.00C");
    EXPECT_EQ(rig.feedback.panel(1).text, "Reading firmware, please wait ... 25 %, 0:09 left");
    rig.guard.idle = true;
    rig.feedback.tick();
    EXPECT_EQ(rig.feedback.title(), "Corvex V4.00C");
    EXPECT_EQ(rig.feedback.panel(1).text, "Ready");

    // A write: the compare reads area 0, which no read of this run holds; every PGM area may
    // need programming until the compare has said which differ.
    rig.guard.idle = false;
    rig.table.setMode(1, link::kAreaModePgm);
    rig.table.setBits(1, link::kAreaReadMark);
    rig.feedback.jobSubmitted(GuardRecord::command("WFW"));
    for (int step = 0; step < 32; ++step) {
        rig.feedback.onAreaEvent(link::AreaEvent::Progress, 0);
    }
    EXPECT_EQ(rig.feedback.title(), "40 % - Corvex V4.00C"); // 32K of 32K + 48K
    rig.table.setBits(1, link::kAreaDiffersMark);
    rig.feedback.onAreaEvent(link::AreaEvent::Erasing, 1);
    EXPECT_EQ(rig.feedback.title(), "66 % - Corvex V4.00C"); // 32K of 32K + 16K
}

TEST(Hints, ReturnTenTicksAfterStartAndTwentyAfterEachMessageButNotOverAWaitText) {
    Rig rig;
    rig.ticks(9);
    rig.feedback.showHint("too early");
    EXPECT_EQ(rig.feedback.panel(1), kTitlePanel);
    rig.ticks(1);
    rig.feedback.showHint("Read the chip signature.");
    EXPECT_EQ(rig.feedback.panel(1), (PanelView{"Read the chip signature.", 21, std::nullopt}));

    rig.feedback.showWait("Reading firmware, please wait ...");
    rig.ticks(50);
    rig.feedback.showHint("hint");
    EXPECT_EQ(rig.feedback.panel(1),
              (PanelView{"Reading firmware, please wait ...", 38, std::nullopt}))
        << "a job's wait text stays until the Guard says something";
    rig.feedback.onMessage(message(2, "Corvex reset function completed.", 0, 0x1000));
    rig.ticks(19);
    EXPECT_FALSE(rig.feedback.hintHandlerInstalled());
    rig.ticks(1);
    EXPECT_TRUE(rig.feedback.hintHandlerInstalled());
}

TEST(TimeoutCountdown, BreaksAHungExchangeAfterThirtyTicksWithoutProgress) {
    Rig rig;
    rig.guard.pending = 1;
    rig.ticks(29);
    EXPECT_EQ(rig.guard.timeoutBreaks, 0);
    rig.feedback.setDebugFieldsShown(true);
    EXPECT_EQ(rig.feedback.title(), "1 - 1");
    rig.ticks(1);
    EXPECT_EQ(rig.guard.timeoutBreaks, 1);
    EXPECT_EQ(rig.guard.breaks, 0) << "a timeout is not a user break";
    rig.feedback.setDebugFieldsShown(false);
    EXPECT_EQ(rig.feedback.title(), kTitle);

    // Progress of an area and loopback progress each start the count again.
    const std::vector<std::function<void()>> reloads = {
        [&] { rig.feedback.onAreaEvent(link::AreaEvent::Progress, 0); },
        [&] { rig.feedback.onMessage(message(9, "", 0, 10)); },
    };
    for (const auto& reload : reloads) {
        rig.guard.timeoutBreaks = 0;
        rig.ticks(20);
        reload();
        EXPECT_EQ(rig.feedback.timeoutCountdown(), 30);
        rig.ticks(29);
        EXPECT_EQ(rig.guard.timeoutBreaks, 0);
        rig.ticks(1);
        EXPECT_EQ(rig.guard.timeoutBreaks, 1);
    }

    rig.guard.timeoutBreaks = 0;
    rig.guard.pending = 0;
    rig.ticks(100);
    EXPECT_EQ(rig.guard.timeoutBreaks, 0) << "nothing pending, nothing to break";
    rig.guard.pending = 1;
    rig.feedback.setTimeoutControl(false);
    rig.ticks(100);
    EXPECT_EQ(rig.guard.timeoutBreaks, 0) << "\"Timeout control\" off";
}

TEST(GuardPage, DrainsTheLogInOrderWithTheStampAndShowsRefusals) {
    Rig rig;
    GuardRecord refusal = GuardRecord::command(
        "Corvex guard is currently busy. Click BREAK to abort job !", 0, 0, 0x2000);
    refusal.Code = link::kMsgRejected;
    rig.guard.log = {GuardRecord::command("CORVEX GUARD STARTING ..."), refusal,
                     GuardRecord::command("RFW")};
    rig.feedback.tick();
    EXPECT_EQ(rig.feedback.logLines(),
              (std::deque<std::string>{stamped("CORVEX GUARD STARTING ..."),
                                       stamped(refusal.Text.view()), stamped("RFW")}));
    EXPECT_EQ(rig.feedback.linesAdded(), 3U);
    EXPECT_EQ(rig.feedback.panel(1), (PanelView{refusal.Text.str(), 32, std::nullopt}));
}

TEST(GuardPage, KeepsTheLastHundredThousandLinesAndTheLogBookGetsEveryOne) {
    Rig rig;
    const std::size_t total = mainwin::kLogViewLimit + mainwin::kLogSpillBlock + 5;
    rig.guard.generate = total;
    rig.feedback.tick();
    const auto& lines = rig.feedback.logLines();
    ASSERT_EQ(lines.size(), mainwin::kLogViewLimit);
    EXPECT_EQ(lines.front(), stamped("line " + std::to_string(total - mainwin::kLogViewLimit)));
    EXPECT_EQ(lines.back(), stamped("line " + std::to_string(total - 1)));
    const std::string book = rig.dir.file("corvex.LOG");
    EXPECT_EQ(fileLines(book).size(), mainwin::kLogSpillBlock)
        << "lines that leave the view are written at once";

    EXPECT_EQ(rig.feedback.closeLogBook(), "");
    const auto written = fileLines(book);
    ASSERT_EQ(written.size(), total);
    for (std::size_t i = 0; i < total; i += 997) {
        ASSERT_EQ(written[i], stamped("line " + std::to_string(i)));
    }
    EXPECT_EQ(rig.feedback.closeLogBook(), "");
    EXPECT_EQ(fileLines(book).size(), total) << "a second close writes nothing twice";
}

TEST(GuardPage, LabelClickMovesTheViewToTheLogBookAndAFailedWriteKeepsIt) {
    Rig rig;
    rig.guard.log = {GuardRecord::command("one")};
    rig.feedback.tick();
    EXPECT_EQ(rig.feedback.appendViewToLogBook(), "");
    EXPECT_TRUE(rig.feedback.logLines().empty());
    rig.guard.log = {GuardRecord::command("two")};
    rig.feedback.tick();
    EXPECT_EQ(rig.feedback.closeLogBook(), "");
    EXPECT_EQ(fileLines(rig.dir.file("corvex.LOG")),
              (std::vector<std::string>{stamped("one"), stamped("two")}));

    Rig broken(rig.dir.file("missing/corvex.LOG"));
    broken.guard.log = {GuardRecord::command("kept")};
    broken.feedback.tick();
    const std::string error = broken.feedback.appendViewToLogBook();
    EXPECT_NE(error, "");
    EXPECT_EQ(broken.feedback.logLines(),
              (std::deque<std::string>{stamped("kept"), stamped(error)}))
        << "the lines stay on the page, and the page says why";
    EXPECT_NE(broken.feedback.closeLogBook(), "");
}

TEST(CommandField, StopBreaksOtherTextIsSubmittedAndARefusalIsReported) {
    Rig rig;
    rig.feedback.sendCommand("stop");
    EXPECT_EQ(rig.guard.breaks, 1);
    EXPECT_TRUE(rig.guard.submitted.empty());

    rig.feedback.sendCommand("rfw");
    rig.feedback.sendCommand(std::string(150, 'x'));
    ASSERT_EQ(rig.guard.submitted.size(), 2U);
    EXPECT_EQ(rig.guard.submitted[0].Text, "RFW");
    EXPECT_EQ(rig.guard.submitted[1].Text, std::string(100, 'X'));
    EXPECT_TRUE(rig.view.boxes.empty());

    rig.guard.refuse = true;
    rig.feedback.sendCommand("EXIT");
    EXPECT_EQ(rig.view.boxes,
              (std::vector<MessageBox>{{"Information", "Corvex Interface Guard not responding !",
                                        BoxKind::Information}}));
}

TEST(GuardEnd, ReportsTheStopAndRestartChoosesTheHardwareAgainOnceTheGuardIsIdle) {
    Rig rig;
    rig.areas.selectHardwareType(1, true);
    rig.areas.setStatus(0, "Reading 32K - OK", 16);
    rig.guard.log = {GuardRecord::command("Corvex Guard is stopped.")};
    rig.feedback.onTerminate(); // its box and Restart are the window test's
    EXPECT_EQ(rig.feedback.logLines(), std::deque<std::string>{stamped("Corvex Guard is stopped.")})
        << "the Guard's last lines are taken before the window can replace it";
    EXPECT_FALSE(rig.feedback.breakEnabled());

    FakeGuard next;
    next.idle = false;
    rig.feedback.restart(&next);
    EXPECT_TRUE(next.submitted.empty()) << "the new Guard gets a tick to start";
    rig.ticks(3);
    ASSERT_EQ(next.submitted.size(), 1U);
    EXPECT_EQ(next.submitted[0].Text, "RESTART");
    EXPECT_FALSE(rig.feedback.breakEnabled());
    next.idle = true;
    rig.feedback.tick();
    ASSERT_EQ(next.submitted.size(), 2U);
    EXPECT_EQ(next.submitted[1].Text, "SETHARDWARE");
    EXPECT_EQ(next.submitted[1].Param, 1U);
    EXPECT_EQ(rig.areas.area(0).statusText, "") << "the area status starts afresh";
    EXPECT_TRUE(rig.feedback.breakEnabled());
}

} // namespace
} // namespace corvex::test
