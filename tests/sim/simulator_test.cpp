#include "link/jobs/flash_chips.h"
#include "sim/simulator.h"
#include "sim_rig.h"

#include <array>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace corvex::sim {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(SimOptions, EveryOptionReachesTheConfig) {
    SimConfig config;
    EXPECT_EQ(applySimOption(config, "hang-after=12"), "");
    EXPECT_EQ(config.adapter.hangAfter, 12U);
    for (const char* option :
         {"hang-after=0", "receiver=dsi", "chip=M29W800AT", "protect=1,10", "protect=4",
          "erase-fail=2", "stuck=7FF00010,0xc0000020", "no-power"}) {
        EXPECT_EQ(applySimOption(config, option), "") << option;
    }
    EXPECT_EQ(config.adapter.hangAfter, 0U);
    const ReceiverOptions& r = config.receiver;
    EXPECT_EQ(r.model, ReceiverModel::Dsi);
    EXPECT_EQ(r.chip, "M29W800AT");
    EXPECT_THAT(r.protectedAreas, ElementsAre(1U, 10U, 4U));
    EXPECT_THAT(r.eraseFailAreas, ElementsAre(2U));
    EXPECT_THAT(r.stuckAddresses, ElementsAre(0x7FF00010U, 0xC0000020U));
    EXPECT_TRUE(r.noPower);
    EXPECT_EQ(checkSimConfig(config), "");
}

TEST(SimOptions, RejectsBadOptionsWithoutChangingTheConfig) {
    const std::array<std::pair<const char*, const char*>, 20> cases{{
        {"adapter=RevB", "adapter must be revb, compatible, unknown or absent"},
        {"adapter", "adapter must be revb, compatible, unknown or absent"},
        {"hang-after=", "hang-after needs a whole number"},
        {"hang-after=-1", "hang-after needs a whole number"},
        {"hang-after=+1", "hang-after needs a whole number"},
        {"hang-after=12x", "hang-after needs a whole number"},
        {"hang-after=99999999999999999999999", "hang-after needs a whole number"},
        {"hang_after=3", "unknown simulator option 'hang_after'"},
        {"", "unknown simulator option ''"},
        {"receiver=dsy", "receiver must be dsx or dsi"},
        {"chip=AM29LV800", "chip must be one of "},
        {"protect=", "protect needs area numbers separated by commas"},
        {"protect=1,,2", "protect needs area numbers separated by commas"},
        {"erase-fail=-1", "erase-fail needs area numbers separated by commas"},
        {"stuck=7FE0000G", "stuck needs hexadecimal addresses separated by commas"},
        {"stuck=100000000", "stuck needs hexadecimal addresses separated by commas"},
        {"no-power=", "no-power takes no value"},
        {"eeprom-nack=xyz", "eeprom-nack needs one hexadecimal EEPROM address"},
        {"eeprom-nack=", "eeprom-nack needs one hexadecimal EEPROM address"},
        {"eeprom-absent=1", "eeprom-absent takes no value"},
    }};
    for (const auto& [option, error] : cases) {
        SimConfig config;
        EXPECT_THAT(applySimOption(config, option), StartsWith(error)) << option;
        const ReceiverOptions& r = config.receiver;
        EXPECT_TRUE(config.adapter.type == AdapterType::RevB && !config.adapter.hangAfter &&
                    r.model == ReceiverModel::Dsx && r.chip.empty() && r.protectedAreas.empty() &&
                    r.eraseFailAreas.empty() && r.stuckAddresses.empty() && !r.noPower)
            << option;
    }
    SimConfig config;
    const std::string error = applySimOption(config, "chip=AM29LV800");
    for (const link::FlashChip& chip : link::flashChips()) {
        EXPECT_THAT(error, HasSubstr(chip.deviceText)) << "the error lists the chips";
    }
}

TEST(SimOptions, ChipsAreasAndAddressesMustFitTheReceiver) {
    const std::array<std::pair<std::vector<const char*>, const char*>, 7> cases{{
        {{"chip=AM29F400BB"}, "chip AM29F400BB does not fit the dsx receiver"},
        {{"receiver=dsi", "chip=AM29LV800BT"}, "chip AM29LV800BT does not fit the dsi receiver"},
        {{"receiver=dsi", "protect=11"}, "protect: the dsi receiver has areas 0 to 10"},
        {{"erase-fail=19"}, "erase-fail: the dsx receiver has areas 0 to 18"},
        {{"stuck=7FE00002"}, "stuck: 7FE00002 is no word of the dsx flash"},
        {{"stuck=C0000000"}, "stuck: C0000000 is no word of the dsx flash"},
        {{"eeprom-nack=800"}, "eeprom-nack: the EEPROM has addresses 0 to 7FF"},
    }};
    for (const auto& [options, error] : cases) {
        SimConfig config;
        for (const char* option : options) {
            ASSERT_EQ(applySimOption(config, option), "") << option;
        }
        EXPECT_EQ(checkSimConfig(config), error);
        EXPECT_THROW(Simulator{config}, SimError) << error;
    }
}

// A long run on the simulator keeps no record of its traffic unless asked to.
TEST(SimulatorAssembly, TrafficIsRecordedOnlyWhenAsked) {
    for (const bool record : {true, false}) {
        SimConfig config;
        config.record = record;
        test::ReceiverRig rig(config);
        rig.link.writeWord(0x2030, 0x16C9);
        EXPECT_EQ(rig.link.readWord(0x2030), 0x16C9U);
        EXPECT_EQ(rig.sim.bus().writes().size(), record ? 1U : 0U);
        EXPECT_EQ(rig.sim.bus().reads().empty(), !record);
        EXPECT_EQ(rig.sim.adapter().takenBytes().empty(), !record);
    }
}

} // namespace
} // namespace corvex::sim
