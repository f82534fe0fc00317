#include "flash_rig.h"
#include "link/jobs/flash_chips.h"

#include <algorithm>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

using link::AreaEvent;
using link::GuardRecord;
using link::kAreaModePgm;
using link::kAreaModeSkip;
using link::kAreaReadMark;
using ::testing::Contains;
using ::testing::Each;
using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kDsxBase = 0x7FE00000;
constexpr std::uint32_t kFlashEnd = 0x80000000;

Bytes slice(const Bytes& bytes, std::uint32_t begin, std::uint32_t end) {
    return {bytes.begin() + begin, bytes.begin() + end};
}

bool inFlash(std::uint32_t address) {
    return address >= kDsxBase && address < kFlashEnd;
}

TEST(FlashSignature, NamesTheChipOfEitherFamilyOrReportsItUnknown) {
    struct Case {
        std::vector<std::string> options;
        std::uint32_t hardware;
        std::string text;
        std::uint32_t flag;
    };
    const Case cases[] = {
        {{}, 0, "AMD: AM29LV800BB", 0},
        {{"receiver=dsi"}, 1, "AMD: AM29F400BB", 0},
        {{"chip=M29W800AB"}, 0, "SGS-THOMSON: M29W800AB", 0},
        {{"receiver=dsi", "chip=M29W800AT"}, 1, "SGS-THOMSON: M29W800AT", 0},
        {{"no-power"}, 0, "Unknown FFFFFFFF: Unknown FFFFFFFF", 1},
        // The other family's bus set-up: the flash never answers.
        {{"receiver=dsi"}, 0, "Unknown 00000000: Unknown 00000000", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        FlashRig rig(c.options);
        rig.run(GuardRecord::command("SETHARDWARE", c.hardware));
        rig.run("SIGNATURE");
        const auto reports = rig.messages(link::kMsgSignature);
        ASSERT_EQ(reports.size(), 1U);
        EXPECT_EQ(reports[0].Text.view(), c.text);
        EXPECT_EQ(reports[0].Flag, c.flag);
        EXPECT_TRUE(rig.contains("EMI Initialization OK"));
    }
}

// The simulated chips are all listed; words no chip of the receiver gives come in directly.
TEST(FlashSignature, OnlyAListedMakerAndDevicePairNamesTheChip) {
    const struct {
        std::uint32_t hardware;
        std::uint32_t maker;
        std::uint32_t device;
        const char* text;
    } cases[] = {
        // A known maker does not lend its name to a device it never listed.
        {0, 0x00800001, 0x12345678, "Unknown 00800001: Unknown 12345678"},
        {1, 0x00010001, 0x12340000, "Unknown 00010001: Unknown 12340000"},
        {1, 0x00010001, 0x123422AB, "AMD: AM29F400BB"},
        // The maker word of the other family.
        {1, 0x00800001, 0x44DA225B, "Unknown 00800001: Unknown 44DA225B"},
    };
    for (const auto& c : cases) {
        const link::ChipIdentity chip = link::identifyChip(c.hardware, c.maker, c.device);
        EXPECT_EQ(chip.text, c.text);
        EXPECT_EQ(chip.known, std::string_view(c.text).starts_with("AMD")) << c.text;
    }
}

TEST(FlashSignature, ChannelListTypeReadsTheIdsAtTheFirmwareBaseAndLeavesReadArrayMode) {
    FlashRig rig({"receiver=dsi"});
    rig.run(GuardRecord::command("SETHARDWARE", 2));
    rig.recordBus(true);
    rig.run("SIGNATURE");
    ASSERT_EQ(rig.messages(link::kMsgSignature).at(0).Text.view(), "AMD: AM29F400BB");
    const auto reads = rig.sim->bus().reads();
    EXPECT_THAT(reads, Contains(0x7FF00000U));
    EXPECT_THAT(reads, Contains(0x7FF00004U));
    EXPECT_THAT(reads, Each(::testing::Lt(0xC0000000U)));
    // Back in read-array mode: the array reads as data, not as ids.
    rig.run(GuardRecord::command("RBB", 0, 0xC0000000, 16));
    EXPECT_EQ(readBytes(rig.writeFile), slice(rig.flash(), 0, 16));
}

TEST(FlashReadJob, EveryAreaSkippedGivesAnErasedWorkFileWithoutFlashReads) {
    FlashRig rig;
    rig.setModes(kAreaModeSkip);
    rig.table.setBits(4, kAreaReadMark);
    rig.recordBus(true);
    rig.run("RFW");
    EXPECT_EQ(readBytes(rig.workFile), Bytes(0x200000, 0xFF));
    EXPECT_EQ(std::ranges::count_if(rig.sim->bus().reads(), inFlash), 0);
    EXPECT_FALSE(std::filesystem::exists(rig.readFile));
    EXPECT_TRUE(rig.contains("READ FLASHROM SKIP AREA  0 - Range 7FE00000...7FE07FFF"));
    EXPECT_TRUE(rig.contains("READ FLASHROM SKIP AREA 18 - Range 7FFE0000...7FFFFFFF"));
    for (std::uint32_t i = 0; i < 19; ++i) {
        EXPECT_THAT(rig.events.of(i), ElementsAre(AreaEvent::Reading, AreaEvent::Skipped));
        EXPECT_FALSE(rig.table.has(i, kAreaReadMark)) << "area " << i;
    }
    EXPECT_EQ(rig.messages(link::kMsgFirmwareName).at(0).Text.view(), "Unknown Firmware");
    const auto report = rig.messages(link::kMsgFinalReport).at(0);
    EXPECT_EQ(report.Text.view(), "Read Firmware function completed successful.");
    EXPECT_EQ(report.Data, 0x1000U);
    EXPECT_EQ(report.Flag, 0U);
}

TEST(FlashReadJob, SavesTheFirstRunOfPgmAreasAndMarksWhatWasRead) {
    FlashRig rig;
    rig.setModes(kAreaModeSkip, {{0, kAreaModePgm}, {1, kAreaModePgm}, {3, kAreaModePgm}});
    rig.run("READ FIRMWARE");
    const Bytes flash = rig.flash();
    EXPECT_EQ(readBytes(rig.readFile), slice(flash, 0, 0xC000));
    const Bytes work = readBytes(rig.workFile);
    ASSERT_EQ(work.size(), 0x200000U);
    EXPECT_EQ(slice(work, 0, 0xC000), slice(flash, 0, 0xC000));
    EXPECT_THAT(slice(work, 0xC000, 0x10000), Each(0xFF));
    EXPECT_EQ(slice(work, 0x10000, 0x20000), slice(flash, 0x10000, 0x20000));
    EXPECT_TRUE(rig.contains("READ FLASHROM      AREA  1 - Range 7FE08000...7FE0BFFF"));
    EXPECT_TRUE(rig.contains("READFIRMWARE RANGE 00000000-0000BFFF WRITING TO: " + rig.readFile));
    EXPECT_EQ(rig.events.count(AreaEvent::Progress, 3), 32);
    EXPECT_THAT(rig.events.of(2), ElementsAre(AreaEvent::Reading, AreaEvent::Skipped));
    for (const std::uint32_t i : {0, 1, 3}) {
        EXPECT_TRUE(rig.table.has(i, kAreaReadMark)) << "area " << i;
        EXPECT_EQ(rig.events.of(i).back(), AreaEvent::ReadOK);
    }
    EXPECT_FALSE(rig.table.has(2, kAreaReadMark));
    EXPECT_EQ(rig.messages(link::kMsgFirmwareName).at(0).Text.view(),
              sim::defaultFirmwareName(sim::ReceiverModel::Dsx));
    EXPECT_EQ(rig.reportTexts(),
              std::vector<std::string>{"Read Firmware function completed successful."});
}

TEST(FlashReadJob, ABreakClearsEveryReadMarkAndEndsAsAborted) {
    FlashRig rig;
    rig.setModes(kAreaModePgm);
    writeBytes(rig.readFile, {1, 2, 3});
    rig.events.setHook([](link::TCorvexThread& guard, AreaEvent event, std::uint32_t area) {
        if (area == 1 && event == AreaEvent::Progress) {
            guard.Break();
        }
    });
    rig.run("RFW");
    ASSERT_TRUE(rig.waitForLine("Operation aborted."));
    EXPECT_THAT(rig.events.of(1),
                ElementsAre(AreaEvent::Reading, AreaEvent::Progress, AreaEvent::ReadError));
    EXPECT_TRUE(rig.events.of(2).empty());
    for (std::uint32_t i = 0; i < 20; ++i) {
        EXPECT_FALSE(rig.table.has(i, kAreaReadMark)) << "area " << i;
    }
    const auto reports = rig.messages(link::kMsgFinalReport);
    ASSERT_EQ(reports.size(), 2U);
    EXPECT_EQ(reports[0].Text.view(), "Function failed - Job aborted.");
    EXPECT_EQ(reports[0].Flag, 1U);
    EXPECT_EQ(reports[0].Data, 0x0F00U);
    EXPECT_EQ(reports[1].Text.view(), "Job aborted and Corvex guard ready to start new job !");
    EXPECT_TRUE(rig.contains("Function failed - Job aborted."));
    EXPECT_EQ(readBytes(rig.readFile), (Bytes{1, 2, 3}));
}

TEST(FlashReadJob, AFailedSaveLeavesTheEarlierFileWhole) {
    FlashRig rig;
    rig.setModes(kAreaModeSkip, {{0, kAreaModePgm}, {1, kAreaModePgm}});
    writeBytes(rig.readFile, {1, 2, 3});
    // The work file loses its contents once the last area is read: the copy runs dry.
    rig.events.setHook([&](link::TCorvexThread&, AreaEvent event, std::uint32_t area) {
        if (area == 18 && event == AreaEvent::Skipped) {
            std::filesystem::resize_file(rig.workFile, 0x9000);
        }
    });
    rig.run("RFW");
    EXPECT_TRUE(rig.contains("*** READ ERROR: NO DATA IN TEMPORARY FILE, POSITION 36864"));
    EXPECT_TRUE(rig.contains("Write Error: " + rig.readFile));
    const auto report = rig.messages(link::kMsgFinalReport).at(0);
    EXPECT_EQ(report.Text.view(), "Can not write firmware to disk. Disk full, write protected ?");
    EXPECT_EQ(report.Data, 0x0F00U);
    EXPECT_EQ(readBytes(rig.readFile), (Bytes{1, 2, 3}));
    EXPECT_EQ(rig.dir.names(), (std::vector<std::string>{"read.bin", "work.LRF"}));
}

TEST(FlashReadJob, AWorkFileThatCannotBeCreatedEndsTheJobAsAFailure) {
    FlashRig rig({}, "missing/work.LRF");
    rig.table.setBits(0, kAreaReadMark);
    rig.run("RFW");
    EXPECT_EQ(rig.repliesTo("RFW"),
              (std::vector<std::string>{"READ FIRMWARE - ERROR CREATING TEMPORARY FILE",
                                        "Function failed - can not create temporary file."}));
    const auto reports = rig.messages(link::kMsgFinalReport);
    ASSERT_EQ(reports.size(), 1U);
    EXPECT_EQ(reports[0].Data, 0x0F00U);
    EXPECT_FALSE(rig.table.has(0, kAreaReadMark));
    EXPECT_TRUE(rig.events.areaEvents().empty());
}

TEST(FlashJobs, AChangeOfHardwareForgetsWhatTheWorkFileHeld) {
    FlashRig rig;
    rig.table.setBits(3, kAreaReadMark | link::kAreaDiffersMark);
    rig.run(link::GuardRecord::command("SETHARDWARE", 0)); // no change: marks stay
    EXPECT_TRUE(rig.table.has(3, kAreaReadMark));
    rig.run(link::GuardRecord::command("SETHARDWARE", 2));
    EXPECT_FALSE(rig.table.has(3, kAreaReadMark | link::kAreaDiffersMark));
}

TEST(FlashJobs, FirmwareJobsWithoutAnAreaTableAreRefused) {
    for (const char* word : {"RFW", "WFW", "PFW"}) {
        FlashRig rig;
        rig.guard->setAreaTable(nullptr);
        rig.run(word);
        EXPECT_TRUE(rig.contains(std::string("*** NO FLASH AREA TABLE - ") + word + " NOT RUN"));
        const auto reports = rig.messages(link::kMsgFinalReport);
        ASSERT_EQ(reports.size(), 1U) << word;
        EXPECT_EQ(reports[0].Data, 0x0F00U);
        EXPECT_TRUE(rig.events.areaEvents().empty()) << word;
    }
}

} // namespace
} // namespace corvex::test
