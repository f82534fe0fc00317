#include "flash_rig.h"
#include "link/jobs/area_status.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <thread>

namespace corvex::test {
namespace {

using link::AreaEvent;
using link::GuardRecord;
using link::kAreaModeClr;
using link::kAreaModePgm;
using link::kAreaModeSkip;
using ::testing::Contains;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::Not;
using Bytes = std::vector<std::uint8_t>;

constexpr auto& kStart = link::kDefaultAreaStart;
constexpr char kWriteDone[] = "\"Write Firmware\" function completed successful.";

Bytes area(const Bytes& image, std::size_t i) {
    return {image.begin() + kStart[i], image.begin() + kStart[i + 1]};
}

// Changes every 97th byte of the area, so erasing is needed (bits go from 0 to 1 as well).
void scribble(Bytes& image, std::size_t i) {
    for (std::uint32_t offset = kStart[i]; offset < kStart[i + 1]; offset += 97) {
        image[offset] = static_cast<std::uint8_t>(~image[offset] ^ 0x5A);
    }
}

bool hasReport(const FlashRig& rig, const std::string& text) {
    return std::ranges::count(rig.reportTexts(), text) > 0;
}

// The programmed areas of a write, in phase 2 order.
const std::vector<AreaEvent> kProgrammed = [] {
    std::vector<AreaEvent> events{AreaEvent::Erasing, AreaEvent::Programming};
    events.insert(events.end(), 32, AreaEvent::Progress);
    events.push_back(AreaEvent::Programmed);
    return events;
}();

std::vector<AreaEvent> phaseTwo(const FlashRig& rig, std::uint32_t i) {
    auto events = rig.events.of(i);
    // Phase 1 ends with a Reset for every area.
    const auto last = std::find(events.rbegin(), events.rend(), AreaEvent::Reset);
    return {last.base(), events.end()};
}

TEST(FlashWriteJob, PreviewOfAnEqualImageReadsAfreshChangesNothingAndNextTimeReadsNothing) {
    FlashRig rig;
    rig.setModes(kAreaModeSkip, {{0, kAreaModePgm}, {1, kAreaModePgm}, {2, kAreaModeClr}});
    const Bytes flash = rig.flash();
    ASSERT_THAT(area(flash, 2), Not(Each(0xFF))) << "the default image fills area 2";
    // Marks left without a work file count for nothing: every area is read afresh.
    for (std::size_t i = 0; i < 4; ++i) {
        rig.table.setBits(i, link::kAreaReadMark);
    }
    writeBytes(rig.writeFile, flash);
    rig.run("PFW");
    EXPECT_EQ(std::filesystem::file_size(rig.workFile), 0x200000U);
    EXPECT_EQ(rig.events.count(AreaEvent::Reading, 0), 1);
    EXPECT_FALSE(rig.table.has(3, link::kAreaReadMark));
    EXPECT_EQ(rig.events.count(AreaEvent::UpToDate, 0), 1);
    EXPECT_EQ(rig.events.count(AreaEvent::UpToDate, 1), 1);
    EXPECT_EQ(rig.events.count(AreaEvent::NeedsUpdate, 2), 1) << "CLR of a written area";
    EXPECT_EQ(rig.events.count(AreaEvent::Skipped, 18), 1);
    EXPECT_EQ(rig.events.count(AreaEvent::Erasing, 2), 0);
    EXPECT_EQ(rig.flash(), flash);
    EXPECT_EQ(rig.messages(link::kMsgFirmwareName).at(0).Text.view(),
              sim::defaultFirmwareName(sim::ReceiverModel::Dsx));
    const auto report = rig.messages(link::kMsgFinalReport).at(0);
    EXPECT_EQ(report.Text.view(), "Preview \"Write Firmware\" function completed successful.");
    EXPECT_EQ(report.Data, 0x1000U);
    EXPECT_EQ(report.Flag, 0U);

    // The work file now holds the areas: the flash is only asked about protection.
    rig.events.clear();
    rig.recordBus(true);
    rig.run("PFW");
    EXPECT_THAT(rig.events.areaEvents(), Not(Contains(AreaEventRecord{AreaEvent::Reading, 0})));
    const auto reads = rig.sim->bus().reads();
    EXPECT_LE(
        std::count_if(reads.begin(), reads.end(), [](std::uint32_t a) { return a >= 0x7FE00000; }),
        19 * 3);
}

TEST(FlashWriteJob, AChangedImageIsWrittenAndReadsBackByteForByte) {
    FlashRig rig;
    rig.setModes(kAreaModeSkip, {{0, kAreaModePgm}, {1, kAreaModePgm}, {2, kAreaModePgm}});
    Bytes image = rig.flash();
    scribble(image, 1);
    writeBytes(rig.writeFile, image);
    rig.run("WFW");
    EXPECT_THAT(phaseTwo(rig, 1), ::testing::ElementsAreArray(kProgrammed));
    EXPECT_TRUE(phaseTwo(rig, 0).empty());
    EXPECT_EQ(rig.events.count(AreaEvent::UpToDate, 2), 1);
    EXPECT_TRUE(rig.contains("PROGRAMMING AREA 1"));
    EXPECT_FALSE(rig.contains("PROGRAMMING AREA 0"));
    const std::regex completion("PROGRAMMING COMPLETION TIME 00:00:0[0-9]");
    EXPECT_TRUE(std::any_of(rig.log.begin(), rig.log.end(), [&](const std::string& line) {
        return std::regex_match(line, completion);
    }));
    EXPECT_TRUE(hasReport(rig, kWriteDone));
    EXPECT_EQ(rig.flash(), image);
    EXPECT_TRUE(rig.table.has(1, link::kAreaDiffersMark));
    EXPECT_FALSE(rig.table.has(1, link::kAreaReadMark));
    EXPECT_TRUE(rig.table.has(0, link::kAreaReadMark));
    rig.events.clear();
    rig.run("RFW");
    EXPECT_EQ(readBytes(rig.readFile), Bytes(image.begin(), image.begin() + kStart[3]));
    // Only the area the write changed had to be read again.
    rig.run("PFW");
    EXPECT_EQ(rig.events.count(AreaEvent::UpToDate, 1), 1);
}

// An all-ones area is erased and verified without a program command; a CLR area is erased only
// while it is not blank; a second write finds both up to date and touches nothing.
TEST(FlashWriteJob, AllOnesAndClrAreasAreErasedOnlyWhenNotBlankAndNeverProgrammed) {
    FlashRig rig;
    rig.setModes(kAreaModeSkip, {{2, kAreaModePgm}, {3, kAreaModeClr}});
    Bytes image = rig.flash();
    ASSERT_THAT(area(image, 2), Not(Each(0xFF)));
    ASSERT_THAT(area(image, 3), Not(Each(0xFF)));
    std::fill(image.begin() + kStart[2], image.begin() + kStart[3], 0xFF);
    writeBytes(rig.writeFile, image);
    rig.recordBus(true);
    rig.run("WFW");
    EXPECT_THAT(phaseTwo(rig, 2), ::testing::ElementsAreArray(kProgrammed));
    EXPECT_THAT(phaseTwo(rig, 3), ElementsAre(AreaEvent::Erasing, AreaEvent::Erased));
    const Bytes after = rig.flash();
    EXPECT_THAT(Bytes(after.begin() + kStart[2], after.begin() + kStart[4]), Each(0xFF));
    const auto writes = rig.sim->bus().writes();
    EXPECT_EQ(std::count_if(writes.begin(), writes.end(),
                            [](const auto& w) { return w.second == link::kFlashFamily0.program; }),
              0);
    EXPECT_TRUE(hasReport(rig, kWriteDone));
    rig.events.clear();
    const auto generation = rig.sim->bus().flashGeneration();
    rig.run("WFW");
    for (const std::uint32_t i : {2, 3}) {
        EXPECT_EQ(rig.events.count(AreaEvent::UpToDate, i), 1);
        EXPECT_TRUE(phaseTwo(rig, i).empty());
    }
    EXPECT_EQ(rig.sim->bus().flashGeneration(), generation);
}

// A stuck word in area 1 and an erase that never finishes in area 2; both areas need writing.
struct FaultyWrite {
    explicit FaultyWrite(bool stopOnError) : rig({"stuck=7FE08010", "erase-fail=2"}) {
        rig.setModes(kAreaModeSkip, {{1, kAreaModePgm}, {2, kAreaModePgm}});
        Bytes image = rig.flash();
        image[0x8010] = static_cast<std::uint8_t>(~image[0x8010]);
        image[0xC000] = static_cast<std::uint8_t>(~image[0xC000]);
        writeBytes(rig.writeFile, image);
        rig.guard->SetStopOnError(stopOnError);
        rig.run("WFW");
    }
    FlashRig rig;
};

TEST(FlashWriteJob, StopOnErrorEndsTheJobAfterTheFirstFailedAreaElseAllAreTriedAndCounted) {
    FaultyWrite stopped(true);
    FlashRig& rig = stopped.rig;
    ASSERT_TRUE(rig.waitForLine("Operation aborted."));
    EXPECT_EQ(phaseTwo(rig, 1).back(), AreaEvent::ProgramFailed);
    EXPECT_TRUE(phaseTwo(rig, 2).empty());
    EXPECT_TRUE(rig.contains("ERROR PROGRAMMING AREA 1"));
    EXPECT_TRUE(rig.contains("Process stopped on error."));
    EXPECT_FALSE(rig.contains("ERROR ERASING AREA 2"));
    const auto stop = rig.messages(link::kMsgStoppedOnError);
    ASSERT_EQ(stop.size(), 1U);
    EXPECT_EQ(stop[0].Text.view(), "Process stopped on error.\r\rSelect \"Config\" - \"Stop on "
                                   "Error\" to disable this function!");
    // The job's own final report is left out; the Guard's abort report follows.
    EXPECT_EQ(rig.reportTexts(),
              std::vector<std::string>{"Job aborted and Corvex guard ready to start new job !"});

    FaultyWrite all(false);
    EXPECT_EQ(phaseTwo(all.rig, 1).back(), AreaEvent::ProgramFailed);
    EXPECT_THAT(phaseTwo(all.rig, 2), ElementsAre(AreaEvent::Erasing, AreaEvent::EraseFailed));
    EXPECT_TRUE(all.rig.contains("ERROR ERASING AREA 2"));
    const auto counted = all.rig.messages(link::kMsgFinalReport);
    ASSERT_EQ(counted.size(), 1U);
    EXPECT_EQ(counted[0].Text.view(), "\"Write Firmware\" function completed with 2 error(s).");
    EXPECT_EQ(counted[0].Data, 0x0F00U);
    EXPECT_TRUE(all.rig.messages(link::kMsgStoppedOnError).empty());
}

TEST(FlashWriteJob, AProtectedAreaIsShownAndLeftAloneInEitherFamily) {
    for (const bool dsi : {false, true}) {
        FlashRig rig(dsi ? std::vector<std::string>{"receiver=dsi", "protect=1"}
                         : std::vector<std::string>{"protect=1"});
        rig.run(GuardRecord::command("SETHARDWARE", dsi ? 1 : 0));
        rig.setModes(kAreaModeSkip, {{0, kAreaModePgm}, {1, kAreaModePgm}});
        const Bytes flash = rig.flash();
        Bytes image = flash;
        scribble(image, 1);
        writeBytes(rig.writeFile, image);
        rig.run("WFW");
        const auto notes = rig.messages(link::kMsgWriteProtected);
        ASSERT_EQ(notes.size(), 2U) << (dsi ? "dsi" : "dsx");
        EXPECT_EQ(notes[0].Data, 1U);
        EXPECT_EQ(notes[1].Data, 0U);
        const auto all = rig.events.messages();
        const auto areas = rig.events.messageAreas();
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (all[i].Code == link::kMsgWriteProtected) {
                EXPECT_EQ(areas[i], 1U);
            }
        }
        EXPECT_TRUE(rig.table.has(1, link::kAreaProtectedMark));
        EXPECT_FALSE(rig.table.has(0, link::kAreaProtectedMark));
        EXPECT_TRUE(phaseTwo(rig, 1).empty());
        EXPECT_EQ(rig.flash(), flash);
        EXPECT_TRUE(hasReport(rig, kWriteDone)) << "a protected area is not an error";
    }
}

TEST(FlashWriteJob, AShortFileIsWrittenWhenTheAreasPastItsEndAreNotProgrammed) {
    FlashRig rig;
    rig.setModes(kAreaModeSkip, {{0, kAreaModePgm}, {1, kAreaModePgm}, {2, kAreaModeClr}});
    const Bytes flash = rig.flash();
    ASSERT_THAT(area(flash, 2), Not(Each(0xFF)));
    // Ends 102 bytes into the CLR area 2: half a word, then nothing.
    Bytes file(flash.begin(), flash.begin() + kStart[2] + 102);
    scribble(file, 1);
    writeBytes(rig.writeFile, file);
    rig.run("WFW");
    EXPECT_EQ(phaseTwo(rig, 1).back(), AreaEvent::Programmed);
    EXPECT_THAT(phaseTwo(rig, 2), ElementsAre(AreaEvent::Erasing, AreaEvent::Erased));
    EXPECT_EQ(area(rig.flash(), 1), area(file, 1));
    EXPECT_THAT(area(rig.flash(), 2), Each(0xFF));
    EXPECT_TRUE(hasReport(rig, kWriteDone));
}

// The file's exception line: the problem is never cut off, a long name gives up its beginning.
bool isImageException(const std::string& line, const std::string& name,
                      const std::string& problem) {
    const std::string prefix = "*** EXCEPTION ON PROGRAMMING FILE - ";
    const std::string suffix = ": " + problem;
    if (line.size() > 100 || !line.starts_with(prefix) || !line.ends_with(suffix)) {
        return false;
    }
    std::string shown = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
    return shown == name ||
           (line.size() == 100 && shown.starts_with("...") && name.ends_with(shown.substr(3)));
}

// Nothing about the receiver may change for a file that cannot be programmed whole: the job
// ends before its first bus access and the Guard reports the abort, for a preview as well.
TEST(FlashWriteJob, ABadProgrammingFileIsRefusedBeforeTheReceiverIsTouched) {
    const struct {
        const char* what;
        std::string problem;
    } cases[] = {
        {"missing", "cannot open (No such file or directory)"},
        {"empty", "empty"},
        {"100 bytes", "100 bytes, area 0 to 18 needs 2097152"},
        {"areas 0 to 6", "524288 bytes, area 7 to 18 needs 2097152"},
        {"folder", "not a regular file (a folder)"},
        {"FIFO", "not a regular file (a FIFO)"},
        {"device", "not a regular file (a device)"},
    };
    // Makes the file in the rig's folder; returns its name.
    const auto make = [](FlashRig& rig, std::string_view what) {
        const Bytes flash = rig.flash();
        if (what == "empty" || what == "100 bytes") {
            writeBytes(rig.writeFile, Bytes(what == "empty" ? 0 : 100, 0));
        } else if (what == "areas 0 to 6") {
            writeBytes(rig.writeFile, Bytes(flash.begin(), flash.begin() + kStart[7]));
        } else if (what == "folder") {
            std::filesystem::create_directory(rig.writeFile);
        } else if (what == "FIFO") {
            EXPECT_EQ(::mkfifo(rig.writeFile.c_str(), 0600), 0);
        }
        return what == "device" ? std::string("/dev/zero") : rig.writeFile;
    };
    for (const auto& c : cases) {
        for (const char* job : {"WFW", "PFW"}) {
            SCOPED_TRACE(std::string(c.what) + " " + job);
            FlashRig rig;
            rig.setModes(kAreaModePgm);
            const std::string name = make(rig, c.what);
            rig.guard->SetWriteFileName(name);
            const Bytes flash = rig.flash();
            rig.recordBus(true);
            rig.run(job);
            ASSERT_TRUE(rig.waitForLine("Operation aborted."));
            const auto lines = rig.repliesTo(job);
            ASSERT_EQ(lines.size(), 3U);
            EXPECT_EQ(lines[0], "PROGRAMMING FILE " + name);
            EXPECT_TRUE(isImageException(lines[1], name, c.problem)) << lines[1];
            EXPECT_EQ(lines[2], "Operation aborted.");
            EXPECT_EQ(
                rig.reportTexts(),
                std::vector<std::string>{"Job aborted and Corvex guard ready to start new job !"});
            EXPECT_THAT(rig.sim->bus().writes(), ::testing::IsEmpty());
            EXPECT_EQ(rig.flash(), flash);
        }
    }
}

// A file that fails the compare and a user's break stop the job alike: the marks are cleared,
// the job reports itself broken off, and no area of the flash is erased.
TEST(FlashWriteJob, AJobStoppedDuringTheCompareErasesNothing) {
    const struct {
        const char* what;
        const char* problem; // what the exception line says, or null
    } cases[] = {
        {"cut", "65536 bytes, area 3 needs 131072"},
        {"break", nullptr},
    };
    for (const auto& c : cases) {
        for (const char* job : {"WFW", "PFW"}) {
            SCOPED_TRACE(std::string(c.what) + " " + job);
            FlashRig rig;
            rig.setModes(
                kAreaModeSkip,
                {{0, kAreaModePgm}, {1, kAreaModePgm}, {2, kAreaModePgm}, {3, kAreaModePgm}});
            const Bytes flash = rig.flash();
            Bytes image = flash;
            scribble(image, 1);
            writeBytes(rig.writeFile, image);
            const bool cut = c.problem != nullptr;
            rig.events.setHook([&](link::TCorvexThread& guard, AreaEvent event, std::uint32_t i) {
                if (event == AreaEvent::Reading && i == 3) {
                    if (cut) {
                        std::filesystem::resize_file(rig.writeFile, kStart[3]);
                    } else {
                        guard.Break();
                    }
                }
            });
            rig.run(job);
            ASSERT_TRUE(rig.waitForLine("Operation aborted."));
            if (cut) {
                EXPECT_TRUE(std::any_of(rig.log.begin(), rig.log.end(), [&](const auto& line) {
                    return isImageException(line, rig.writeFile, c.problem);
                }));
            }
            EXPECT_EQ(rig.events.count(AreaEvent::NeedsUpdate, 1), 1);
            for (std::uint32_t i = 0; i < 19; ++i) {
                EXPECT_EQ(rig.events.count(AreaEvent::Erasing, i), 0);
                EXPECT_FALSE(rig.table.has(i, link::kAreaReadMark | link::kAreaDiffersMark))
                    << "area " << i;
            }
            const auto reports = rig.messages(link::kMsgFinalReport);
            ASSERT_EQ(reports.size(), 2U);
            EXPECT_EQ(reports[0].Text.view(), "Function Failed - Job aborted.");
            EXPECT_EQ(reports[0].Flag, 1U);
            EXPECT_EQ(reports[0].Data, 0x0F00U);
            EXPECT_EQ(reports[1].Text.view(),
                      "Job aborted and Corvex guard ready to start new job !");
            EXPECT_EQ(rig.flash(), flash);
        }
    }
}

TEST(FlashWriteJob, ATimeOutWhileProgrammingIsABrokenLinkAndNeverASuccess) {
    FlashRig rig;
    rig.setModes(kAreaModeSkip, {{1, kAreaModePgm}});
    Bytes image = rig.flash();
    scribble(image, 1);
    writeBytes(rig.writeFile, image);
    rig.events.setHook([&](link::TCorvexThread&, AreaEvent event, std::uint32_t) {
        if (event == AreaEvent::Programming) {
            rig.port->silence();
        }
    });
    rig.submit("WFW");
    ASSERT_TRUE(rig.waitForLine("PROGRAMMING AREA 1"));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (rig.guard->PendingDepth() == 0 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    rig.guard->BreakOnTimeout();
    ASSERT_TRUE(rig.waitForLine("Communication with Corvex broken."));
    EXPECT_EQ(rig.messages(link::kMsgBrokenLink).size(), 1U);
    EXPECT_FALSE(hasReport(rig, kWriteDone));
    EXPECT_EQ(phaseTwo(rig, 1).back(), AreaEvent::ProgramFailed);
    EXPECT_EQ(rig.guard->PendingDepth(), 0);
}

} // namespace
} // namespace corvex::test
