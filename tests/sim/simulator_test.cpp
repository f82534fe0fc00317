#include "link/link.h"
#include "link/port.h"
#include "sim/simulator.h"

#include <array>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <utility>

namespace corvex::sim {
namespace {

using ::testing::ElementsAre;

TEST(SimOptions, AdapterTypesByName) {
    const std::array<std::pair<const char*, AdapterType>, 4> cases{{
        {"adapter=revb", AdapterType::RevB},
        {"adapter=compatible", AdapterType::Compatible},
        {"adapter=unknown", AdapterType::Unknown},
        {"adapter=absent", AdapterType::Absent},
    }};
    for (const auto& [option, type] : cases) {
        SimConfig config;
        config.adapter.type = type == AdapterType::RevB ? AdapterType::Absent : AdapterType::RevB;
        EXPECT_EQ(applySimOption(config, option), "") << option;
        EXPECT_EQ(config.adapter.type, type) << option;
    }
}

TEST(SimOptions, HangAfterTakesAWholeNumber) {
    SimConfig config;
    EXPECT_EQ(applySimOption(config, "hang-after=12"), "");
    EXPECT_EQ(config.adapter.hangAfter, 12U);
    EXPECT_EQ(applySimOption(config, "hang-after=0"), "");
    EXPECT_EQ(config.adapter.hangAfter, 0U);
}

TEST(SimOptions, RejectsBadOptionsWithoutChangingTheConfig) {
    const std::array<std::pair<const char*, const char*>, 12> cases{{
        {"adapter=revc", "adapter must be revb, compatible, unknown or absent"},
        {"adapter=RevB", "adapter must be revb, compatible, unknown or absent"},
        {"adapter", "adapter must be revb, compatible, unknown or absent"},
        {"hang-after=", "hang-after needs a whole number"},
        {"hang-after=-1", "hang-after needs a whole number"},
        {"hang-after=+1", "hang-after needs a whole number"},
        {"hang-after=1.5", "hang-after needs a whole number"},
        {"hang-after=12x", "hang-after needs a whole number"},
        {"hang-after=99999999999999999999999", "hang-after needs a whole number"},
        {"speed=3", "unknown simulator option 'speed'"},
        {"hang_after=3", "unknown simulator option 'hang_after'"},
        {"", "unknown simulator option ''"},
    }};
    for (const auto& [option, error] : cases) {
        SimConfig config;
        EXPECT_EQ(applySimOption(config, option), error) << option;
        EXPECT_EQ(config.adapter.type, AdapterType::RevB) << option;
        EXPECT_FALSE(config.adapter.hangAfter.has_value()) << option;
    }
}

TEST(SimulatorAssembly, OptionsReachTheAdapterAndWordsReachTheBus) {
    SimConfig config;
    ASSERT_EQ(applySimOption(config, "adapter=compatible"), "");
    Simulator sim(config);
    link::Port port(sim.port());
    link::LinkFlags flags;
    link::Link link(port, flags);
    link.setSleeper([](auto) {});
    port.setup();

    EXPECT_EQ(link.detectInterface(), link::InterfaceType::Compatible);
    link.writeWord(0x2030, 0x16C9);
    EXPECT_THAT(sim.bus().writes(),
                ElementsAre(std::pair<std::uint32_t, std::uint32_t>{0x2030, 0x16C9}));
    EXPECT_EQ(sim.bus().read(0x2030), 0x16C9U);
    EXPECT_EQ(&sim.adapter(), &sim.port());
}

} // namespace
} // namespace corvex::sim
