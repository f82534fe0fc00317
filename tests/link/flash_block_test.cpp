#include "flash_rig.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
        lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
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
    EXPECT_EQ(all[0].Code, 17U);
    EXPECT_EQ(all[0].Text.view(), "Read Binary Block");
    EXPECT_EQ(all[0].Data, 38U);
    EXPECT_EQ(all[0].Param, 0xF0E0C0U);
    EXPECT_EQ(all[1].Code, 5U);
    EXPECT_EQ(all[1].Text.view(), "Reading binary block succeeded.");
    EXPECT_EQ(all[1].Data, 0x1000U);
    EXPECT_EQ(all[2].Code, 17U);
    EXPECT_TRUE(all[2].Text.empty());
    EXPECT_EQ(all[2].Data, 0U);
    EXPECT_EQ(all[2].Param, 0xE0E0E0U);
    EXPECT_EQ(rig.events.of(0).front(), AreaEvent::Reset);
    EXPECT_EQ(rig.events.of(0).back(), AreaEvent::Reset);

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

TEST(FlashBlockJobs, ABrokenReadBlockLeavesTheEarlierFileWhole) {
    FlashRig rig;
    writeBytes(rig.writeFile, {1, 2, 3});
    rig.events.setHook([](link::TCorvexThread& guard, AreaEvent event, std::uint32_t) {
        if (event == AreaEvent::Progress) {
            guard.Break();
        }
    });
    rig.run(GuardRecord::command("RBB", 0, 0x7FE00000, 4096));
    ASSERT_TRUE(rig.waitForLine("Operation aborted."));
    EXPECT_EQ(readBytes(rig.writeFile), (Bytes{1, 2, 3}));
    EXPECT_EQ(rig.dir.names(), std::vector<std::string>{"write.bin"});
    const auto reports = rig.messages(link::kMsgFinalReport);
    ASSERT_EQ(reports.size(), 1U);
    EXPECT_EQ(reports[0].Text.view(), "Job aborted and Corvex guard ready to start new job !");
}

TEST(FlashBlockJobs, WriteBlockPutsTheFileOnTheBusWordForWord) {
    FlashRig rig;
    const Bytes words{0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0, 0x11, 0x22, 0x33, 0x44};
    writeBytes(rig.readFile, words);
    rig.recordBus(true);
    rig.run(GuardRecord::command("WBB", 0, kRegisters, 12));
    EXPECT_THAT(rig.repliesTo("WBB"),
                ::testing::Contains("00010000 FFFFFFFF - " + rig.readFile + " (12 bytes)"));
    EXPECT_EQ(rig.messages(link::kMsgFinalReport).at(0).Text.view(),
              "Writing binary block succeeded.");
    EXPECT_EQ(rig.messages(link::kMsgAreaColour).at(0).Text.view(), "Write Binary Block");
    EXPECT_THAT(blockWrites(rig), ElementsAre(std::pair{kRegisters, 0x04030201U},
                                              std::pair{kRegisters + 4, 0xD0C0B0A0U},
                                              std::pair{kRegisters + 8, 0x44332211U}));
}

TEST(FlashBlockJobs, WriteBlockStopsWhereAShortFileEndsAndReportsFailure) {
    FlashRig rig;
    writeBytes(rig.readFile, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    rig.recordBus(true);
    rig.run(GuardRecord::command("WBB", 0, kRegisters, 16));
    EXPECT_THAT(blockWrites(rig), ElementsAre(std::pair{kRegisters, 0x04030201U},
                                              std::pair{kRegisters + 4, 0x08070605U}));
    EXPECT_TRUE(
        rig.contains("*** READ ERROR: END OF FILE " + rig.readFile + " BEFORE ADDRESS 00010008"));
    const auto report = rig.messages(link::kMsgFinalReport).at(0);
    EXPECT_EQ(report.Text.view(), "Writing binary block failed.");
    EXPECT_EQ(report.Data, 0x0F00U);
}

} // namespace
} // namespace corvex::test
