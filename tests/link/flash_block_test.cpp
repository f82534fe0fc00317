#include "flash_rig.h"

#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace corvex::test {
namespace {

using link::AreaEvent;
using link::GuardRecord;
using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;

// Plain receiver registers: what is written there reads back.
constexpr std::uint32_t kRegisters = 0x00010000;

// The bus writes into the plain registers of the block jobs.
std::vector<std::pair<std::uint32_t, std::uint32_t>> blockWrites(FlashRig& rig) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> block;
    for (const auto& write : rig.sim->bus().writes()) {
        if (write.first >= kRegisters && write.first < kRegisters + 0x100) {
            block.push_back(write);
        }
    }
    return block;
}

int countPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    return static_cast<int>(std::count_if(
        lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(prefix); }));
}

TEST(FlashBlockJobs, ReadBlockSavesTheWordsWithAProgressStepEveryThirtyFirstOrAtItsEnd) {
    FlashRig rig;
    rig.run(GuardRecord::command("RBB", 0, 0x7FE00000, 4096));
    const Bytes flash = rig.flash();
    EXPECT_EQ(readBytes(rig.writeFile), Bytes(flash.begin(), flash.begin() + 4096));
    const auto lines = rig.repliesTo("RBB");
    EXPECT_THAT(lines,
                ::testing::Contains("7FE00000 00000020 - " + rig.writeFile + " (4096 bytes)"));
    EXPECT_EQ(countPrefix(lines, "Working @ "), 31);
    EXPECT_THAT(lines, ::testing::Contains("Working @ 7FE00080"));
    EXPECT_EQ(rig.events.count(AreaEvent::Progress, 0), 32);
    const auto all = rig.events.messages();
    ASSERT_EQ(all.size(), 3U);
    EXPECT_EQ(all[1].Text.view(), "Reading binary block succeeded.");
    // A small block has one progress step, at its end.
    rig.events.clear();
    rig.run(GuardRecord::command("RBB", 0, 0x7FE00000, 64));
    EXPECT_EQ(readBytes(rig.writeFile).size(), 64U);
    const auto small = rig.repliesTo("RBB");
    EXPECT_THAT(small, ::testing::Contains("7FE00000 FFFFFFFF - " + rig.writeFile + " (64 bytes)"));
    EXPECT_EQ(countPrefix(small, "Working @ "), 0);
    EXPECT_THAT(rig.events.of(0),
                ElementsAre(AreaEvent::Reset, AreaEvent::Progress, AreaEvent::Reset));
}

// A write block puts the file on the bus word for word, stops where a short file ends, and takes
// nothing from a folder or a FIFO (which must not hold the Guard).
TEST(FlashBlockJobs, WriteBlockPutsTheFileOnTheBusWordForWordAndOnlyThat) {
    using Writes = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
    const std::string failed = "Writing binary block failed.";
    const struct {
        std::string what; // "folder", "FIFO", or the file's bytes
        Bytes bytes;
        std::uint32_t size;
        Writes writes;
        std::string line; // the line about the file: its name between these
        std::string tail;
        std::string report;
    } cases[] = {
        {"whole",
         {1, 2, 3, 4, 0xA0, 0xB0, 0xC0, 0xD0, 0x11, 0x22, 0x33, 0x44},
         12,
         {{kRegisters, 0x04030201U}, {kRegisters + 4, 0xD0C0B0A0U}, {kRegisters + 8, 0x44332211U}},
         "00010000 FFFFFFFF - ",
         " (12 bytes)",
         "Writing binary block succeeded."},
        {"short",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
         16,
         {{kRegisters, 0x04030201U}, {kRegisters + 4, 0x08070605U}},
         "*** READ ERROR: END OF FILE ",
         " BEFORE ADDRESS 00010008",
         failed},
        {"folder", {}, 16, {}, "", ": not a regular file (a folder)", failed},
        {"FIFO", {}, 16, {}, "", ": not a regular file (a FIFO)", failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FlashRig rig;
        if (c.what == "folder") {
            ASSERT_EQ(::mkdir(rig.readFile.c_str(), 0755), 0);
        } else if (c.what == "FIFO") {
            ASSERT_EQ(::mkfifo(rig.readFile.c_str(), 0644), 0);
        } else {
            writeBytes(rig.readFile, c.bytes);
        }
        rig.recordBus(true);
        rig.run(GuardRecord::command("WBB", 0, kRegisters, c.size));
        EXPECT_EQ(blockWrites(rig), c.writes);
        EXPECT_TRUE(rig.contains(c.line + rig.readFile + c.tail));
        EXPECT_EQ(rig.reportTexts(), std::vector<std::string>{c.report});
        EXPECT_EQ(rig.messages(link::kMsgAreaColour).at(0).Text.view(), "Write Binary Block");
    }
}

// An adapter that stops answering part way through a job: the owner's time-out watch breaks
// every hang, and the job ends reporting the broken link, never success. The block jobs go on
// past one abandoned word, so a hang on the next word is broken again and ends the block.
TEST(HungInterface, EveryJobEndsAsABrokenLinkOnceTheWatchBreaksIt) {
    // Bus initialisation takes 45 bytes; the adapter hangs on the byte named.
    const struct {
        GuardRecord command;
        int hangAfter;
        int timeouts;
    } cases[] = {
        {GuardRecord::command("RBB", 0, 0x7FE00000, 4), 50, 1},
        {GuardRecord::command("RBB", 0, 0x7FE00000, 4096), 60, 2},
        {GuardRecord::command("WBB", 0, kRegisters, 4), 50, 1},
        {GuardRecord::command("WBB", 0, kRegisters, 64), 60, 2},
        {GuardRecord::command("RFW"), 60, 1},
        {GuardRecord::command("WFW"), 60, 1},
        {GuardRecord::command("PFW"), 60, 1},
        {GuardRecord::command("SIGNATURE"), 60, 1},
        {GuardRecord::command("EEREAD"), 60, 1},
        {GuardRecord::command("EEWRITE"), 60, 1},
        {GuardRecord::command("EEERASE"), 60, 1},
        {GuardRecord::command("BOOTCODE"), 3, 1},
    };
    for (const auto& c : cases) {
        const std::string job = c.command.Text.str();
        SCOPED_TRACE(job + " " + std::to_string(c.command.Data));
        FlashRig rig({"hang-after=" + std::to_string(c.hangAfter)});
        writeBytes(rig.writeFile, job == "WFW" || job == "PFW" ? rig.flash() : Bytes{1, 2, 3});
        writeBytes(rig.readFile, Bytes(c.command.Data, 0x5A));
        writeBytes(rig.dir.file("ee.bin"), Bytes(job == "BOOTCODE" ? 16 : 2048, 0x33));
        rig.guard->SetEESaveFileName(rig.dir.file("ee.bin"));
        rig.guard->SetEELoadFileName(rig.dir.file("ee.bin"));
        const Bytes before = readBytes(rig.writeFile);
        EXPECT_EQ(rig.runWatched(c.command), c.timeouts);
        ASSERT_TRUE(rig.events.waitForMessage(link::kMsgBrokenLink));
        ASSERT_TRUE(rig.waitForLine("Communication with Corvex broken."));
        for (const GuardRecord& report : rig.messages(link::kMsgFinalReport)) {
            EXPECT_NE(report.Data, link::kStyleNormal) << report.Text.str();
        }
        EXPECT_EQ(rig.guard->PendingDepth(), 0);
        if (job == "RBB") {
            EXPECT_TRUE(rig.contains("Reading binary block failed."));
            EXPECT_EQ(readBytes(rig.writeFile), before) << "a block with made-up words was saved";
            EXPECT_EQ(rig.dir.names(),
                      (std::vector<std::string>{"ee.bin", "read.bin", "write.bin"}));
        } else if (job == "WBB") {
            EXPECT_TRUE(rig.contains("Writing binary block failed."));
        }
    }
}

} // namespace
} // namespace corvex::test
