#include "mainwin/area_model.h"

#include <gtest/gtest.h>

namespace corvex::test {
namespace {

using link::AreaEvent;
using mainwin::AreaModel;
using mainwin::AreaPreset;

std::string modes(const link::AreaTable& table, std::size_t count = 19) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out += "PCS?"[table.mode(i)];
    }
    return out;
}

TEST(AreaProgress, ThirtyTwoStepsFillTheWordAndFurtherStepsAreIgnored) {
    std::uint32_t progress = 0;
    for (int i = 0; i < 32; ++i) {
        progress = AreaModel::progressStep(progress);
    }
    EXPECT_EQ(progress, mainwin::kProgressFull);
    EXPECT_EQ(AreaModel::progressStep(progress), mainwin::kProgressFull);
    EXPECT_EQ(AreaModel::progressStep(0), 1U);
    EXPECT_EQ(AreaModel::progressStep(3), 7U); // cell 0 full: cell 1 counts
}

TEST(AreaEvents, ShowTheStatusTheMapDraws) {
    link::AreaTable table;
    AreaModel model(table);
    model.applyAreaEvent(AreaEvent::Reading, 0);
    EXPECT_EQ(model.area(0).statusText, "Reading 32K Data ...");
    EXPECT_TRUE(model.area(0).active);
    model.applyAreaEvent(AreaEvent::ReadOK, 0);
    EXPECT_EQ(model.area(0).statusText, "Reading 32K - OK");
    EXPECT_FALSE(model.area(0).active);
    model.applyAreaEvent(AreaEvent::Reading, 3);
    EXPECT_EQ(model.area(3).statusText, "Reading 64K Data ...") << "the size of the area";
    model.applyAreaEvent(AreaEvent::Programmed, 5);
    EXPECT_EQ(model.area(5).statusColour, mainwin::kLightGreen);
    EXPECT_EQ(model.area(5).statusIcon, mainwin::kIconDone);
    model.applyAreaEvent(AreaEvent::NeedsUpdate, 6);
    EXPECT_EQ(model.area(6).statusColour, mainwin::kLightYellow);
    model.applyAreaEvent(AreaEvent::EraseFailed, 7);
    EXPECT_EQ(model.area(7).statusColour, mainwin::kLightRed);
    EXPECT_EQ(model.area(7).statusText, "Erase failure");
}

TEST(AreaMessages, WriteProtectedStoppedAndColouredStatus) {
    link::AreaTable table;
    AreaModel model(table);
    table.setMode(2, link::kAreaModeClr);
    link::GuardRecord message;
    message.Code = link::kMsgWriteProtected;
    message.Data = 1; // found protected: the icon only
    model.applyMessage(message, 2);
    EXPECT_EQ((table.AreaFlags[2].load() & link::kAreaIconMask) >> link::kAreaIconShift, 11U);
    EXPECT_EQ(table.mode(2), link::kAreaModeClr);
    EXPECT_EQ(model.area(2).statusText, "");
    message.Data = 0; // needed an update: shown (the text is the feedback table's)
    model.applyMessage(message, 2);
    EXPECT_EQ(model.area(2).statusColour, mainwin::kOrange);

    link::GuardRecord stopped;
    stopped.Code = link::kMsgFinalReport;
    model.applyMessage(stopped, 3);
    EXPECT_EQ(model.area(3).statusText, ""); // no Flag: no mark (with one: the feedback table's)

    link::GuardRecord coloured;
    coloured.Code = link::kMsgAreaColour;
    coloured.Address = 0;
    coloured.Data = 38;
    coloured.Param = 0xF0E0C0;
    coloured.Text.assign("Read Binary Block, a text longer than thirty-two");
    model.applyMessage(coloured, 9);
    EXPECT_EQ(model.area(0).statusText, "Read Binary Block, a text longer");
    EXPECT_EQ(model.area(0).statusIcon, 38);
    EXPECT_EQ(model.area(0).statusColour, (mainwin::Rgb{0xC0, 0xE0, 0xF0}));

    model.resetAreaStatus();
    EXPECT_EQ(table.AreaFlags[2].load() & link::kAreaIconMask, 0U);
    EXPECT_EQ(table.mode(2), link::kAreaModeClr);
    EXPECT_EQ(model.area(0).statusText, "");
}

TEST(AreaModes, SetAllAndPresetsForEachHardwareType) {
    link::AreaTable table;
    AreaModel model(table);
    model.setAll(link::kAreaModeClr);
    EXPECT_EQ(modes(table, 20), std::string(20, 'C'));

    model.applyPreset(AreaPreset::DataAreas);
    EXPECT_EQ(modes(table), "PPPPPPPSSSSSSSSSSSS");
    model.applyPreset(AreaPreset::ChannelListAreas);
    EXPECT_EQ(modes(table), "SSSPPSSSSSSSSSSSSSS");
    model.applyPreset(AreaPreset::FirmwareAreas);
    EXPECT_EQ(modes(table), "SSSSSSSPPPPPPPPPPPP");
    EXPECT_EQ(table.mode(19), link::kAreaModeClr); // presets cover areas 0 to 18 only

    ASSERT_EQ(model.selectHardwareType(1, true), 1);
    EXPECT_EQ(model.shownAreaCount(), 11);
    model.applyPreset(AreaPreset::DataAreas);
    EXPECT_EQ(modes(table), std::string(19, 'S'));
    model.applyPreset(AreaPreset::FirmwareAreas);
    EXPECT_EQ(modes(table), std::string(19, 'P'));

    ASSERT_EQ(model.selectHardwareType(2, true), 2);
    model.setAll(link::kAreaModeSkip);
    model.applyPreset(AreaPreset::ChannelListAreas);
    EXPECT_EQ(modes(table), std::string(11, 'P') + std::string(8, 'S'));
}

TEST(AreaModes, ARefusedHardwareChangeLeavesEverythingAsItWas) {
    link::AreaTable table;
    AreaModel model(table);
    model.applyAreaEvent(AreaEvent::Skipped, 1);
    EXPECT_EQ(model.selectHardwareType(1, false), 0);
    EXPECT_EQ(model.shownAreaCount(), 19);
    EXPECT_EQ(model.area(1).statusText, "Skipped");
    EXPECT_EQ(model.selectHardwareType(1, true), 1);
    EXPECT_EQ(model.area(1).statusText, "");
}

TEST(AreaModes, ModeChangesKeepTheGuardsMarks) {
    link::AreaTable table;
    table.setBits(0, link::kAreaReadMark | link::kAreaDiffersMark | link::kAreaProtectedMark);
    AreaModel model(table);
    model.setAll(link::kAreaModeSkip);
    EXPECT_TRUE(table.has(0, link::kAreaReadMark));
    EXPECT_TRUE(table.has(0, link::kAreaDiffersMark));
    EXPECT_TRUE(table.has(0, link::kAreaProtectedMark));
    EXPECT_EQ(table.mode(0), link::kAreaModeSkip);
}

} // namespace
} // namespace corvex::test
