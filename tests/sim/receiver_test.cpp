#include "link/jobs/area_status.h"
#include "link/jobs/flash_chips.h"
#include "sim/flash_bank.h"
#include "sim_rig.h"

#include <cstdint>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace corvex::sim::test {
namespace {

using link::kDefaultAreaStart;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::SizeIs;

// "BEGI", the start of the firmware marker in the default image, as a bus word.
constexpr std::uint32_t kMarkerOffset = 0x100;
constexpr std::uint32_t kMarkerWord = 0x49474542;
// Area 1 of the default image is erased.
constexpr std::uint32_t kErasedOffset = 0x8000;

std::uint32_t sector(std::size_t area) {
    return kDefaultAreaStart[area];
}

// Status bits of both chips as the bus shows them: the high chip's through the wiring.
std::uint32_t statusBits(std::uint32_t hardwareType, std::uint16_t chipBits) {
    return static_cast<std::uint32_t>(wireHighHalf(hardwareType, chipBits)) << 16 | chipBits;
}

// The flash answers only after the model's own bus set-up, whole and in order; a reset closes
// it again.
TEST(ReceiverBusInit, OnlyTheModelsOwnSetUpOpensTheFlashUntilAReset) {
    ReceiverRig dsx;
    const std::uint32_t marker = dsx.base() + kMarkerOffset;
    EXPECT_EQ(dsx.link.readWord(marker), 0U) << "the flash answered before the bus set-up";
    dsx.link.busInit(1);
    EXPECT_EQ(dsx.link.readWord(marker), 0U) << "the dsi set-up opened the dsx flash";
    dsx.link.busInit(0);
    EXPECT_EQ(dsx.link.readWord(marker), kMarkerWord);
    dsx.link.resetPulse();
    EXPECT_EQ(dsx.link.readWord(marker), 0U) << "a reset must close the flash again";
    ReceiverRig dsi(simOptions({"receiver=dsi"}));
    dsi.link.busInit(0);
    EXPECT_EQ(dsi.link.readWord(dsi.base() + kMarkerOffset), 0U);
    dsi.link.busInit(1);
    EXPECT_EQ(dsi.link.readWord(dsi.base() + kMarkerOffset), kMarkerWord);
    // Set-up writes out of order keep it closed until they are all written in order.
    SimConfig config;
    config.record = true;
    ReceiverRig rig(config);
    rig.link.busInit(0);
    const auto setUp = rig.receiver().writes();
    ASSERT_THAT(setUp, SizeIs(5));
    rig.link.resetPulse();
    auto swapped = setUp;
    std::swap(swapped[1], swapped[2]);
    for (const auto& [address, data] : swapped) {
        rig.link.writeWord(address, data);
    }
    EXPECT_FALSE(rig.receiver().busReady()) << "registers written out of order";
    for (const auto& [address, data] : setUp) {
        rig.link.writeWord(address, data);
    }
    EXPECT_TRUE(rig.receiver().busReady());
}

// Writes that are no command the flash takes are each refused and recorded; the flash is
// unchanged and the chips stay ready for commands.
TEST(FlashCommandDecoding, WritesThatAreNoCommandAreRefusedAndChangeNothing) {
    using Writes = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
    const auto other = [](std::uint32_t type) {
        return [type](const link::FlashFamily& f, std::uint32_t target) {
            const link::FlashFamily& o = *link::flashFamily(type);
            return Writes{{f.unlockAddress1, o.unlock1},
                          {f.unlockAddress2, o.unlock2},
                          {f.unlockAddress1, o.program},
                          {target, 0x12345678}};
        };
    };
    const struct {
        const char* model;
        std::function<Writes(const link::FlashFamily&, std::uint32_t)> writes;
        const char* anomaly;
        std::size_t refused;
        bool busInit = true;
    } cases[] = {
        {"receiver=dsx", other(1), "halves disagree", 4},
        {"receiver=dsi", other(0), "halves disagree", 4},
        {"receiver=dsx",
         [](const link::FlashFamily& f, std::uint32_t target) {
             const std::uint32_t w = f.unlock1;
             return Writes{{f.unlockAddress1, w >> 24 | (w >> 8 & 0xFF00) | (w << 8 & 0xFF0000) |
                                                  w << 24}, // bytes swapped
                           {f.unlockAddress2, f.unlock2},
                           {f.unlockAddress1, f.program},
                           {target, 0},
                           {f.unlockAddress1 + 4, f.unlock1}, // the wrong address
                           {f.unlockAddress2, f.unlock2},
                           {f.unlockAddress1, f.program},
                           {target, 0}};
         },
         "no command", 8},
        {"receiver=dsi",
         [](const link::FlashFamily& f, std::uint32_t) {
             const std::uint32_t shift = kDsiSecondFlashBase - f.arrayBase;
             return Writes{{f.unlockAddress1 + shift, f.unlock1},
                           {f.unlockAddress2 + shift, f.unlock2},
                           {f.unlockAddress1 + shift, f.autoselect}};
         },
         "", 3},
        {"receiver=dsx",
         [](const link::FlashFamily& f, std::uint32_t target) {
             return Writes{{f.unlockAddress1, f.unlock1},
                           {f.unlockAddress2, f.unlock2},
                           {f.unlockAddress1, f.program},
                           {target, 0}};
         },
         "flash write before bus init", 4, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.anomaly);
        ReceiverRig rig(simOptions({c.model}));
        rig.anomaliesExpected = true;
        if (c.busInit) {
            rig.prologue();
        }
        const std::uint32_t target = rig.base() + kErasedOffset;
        for (const auto& [address, data] : c.writes(rig.family(), target)) {
            rig.link.writeWord(address, data);
        }
        rig.prologue();
        EXPECT_EQ(rig.link.readWord(target), 0xFFFFFFFFU);
        EXPECT_EQ(rig.link.readWord(rig.base() + kMarkerOffset), kMarkerWord);
        EXPECT_THAT(rig.receiver().anomalies(), SizeIs(c.refused));
        EXPECT_THAT(rig.receiver().anomalies(), Contains(HasSubstr(c.anomaly)));
        rig.command(rig.family().autoselect);
        EXPECT_EQ(rig.link.readWord(rig.base()) & 0xFFFF, 0x0001U) << "chips not ready";
    }
}

TEST(FlashEraseAndProgram, EraseShowsStatusForSeveralPollsThenAllOnes) {
    ReceiverRig rig;
    rig.prologue();
    const std::uint32_t tables = rig.base() + sector(4);
    const std::uint32_t before = rig.receiver().flashWord(sector(5));
    rig.startErase(tables);
    const auto polls = rig.pollUntil(tables, 0xFFFFFFFF);
    ASSERT_THAT(polls, SizeIs(kEraseBusyReads + 1));
    EXPECT_GE(kEraseBusyReads, 3);
    const std::uint32_t dq7 = statusBits(0, kStatusDataPolling);
    const std::uint32_t dq6 = statusBits(0, kStatusToggle);
    for (std::size_t i = 0; i + 1 < polls.size(); ++i) {
        EXPECT_EQ(polls[i] & dq7, 0U) << "DQ7 must read 0 while erasing, poll " << i;
        if (i > 0) {
            EXPECT_EQ((polls[i] ^ polls[i - 1]) & dq6, dq6)
                << "DQ6 must toggle in both halves, poll " << i;
        }
    }
    for (std::uint32_t offset = sector(4); offset < sector(5); offset += 4) {
        ASSERT_EQ(rig.receiver().flashWord(offset), 0xFFFFFFFFU) << std::hex << offset;
    }
    EXPECT_EQ(rig.receiver().flashWord(sector(5)), before) << "the next sector was touched";
}

TEST(FlashEraseAndProgram, ProgramReadsStatusBeforeTheWordAndOnlyClearsBits) {
    ReceiverRig rig;
    rig.prologue();
    const std::uint32_t address = rig.base() + kErasedOffset;
    rig.startProgram(address, 0x12345678);
    const std::uint32_t status = rig.link.readWord(address);
    EXPECT_NE(status, 0x12345678U) << "the word read back before any poll";
    const std::uint32_t dq7 = statusBits(0, kStatusDataPolling);
    EXPECT_EQ(status & dq7, dq7) << "DQ7 must read the complement of bit 7";
    EXPECT_EQ(rig.link.readWord(address), 0x12345678U);
    EXPECT_FALSE(rig.program(address, 0xFFFF00FF)) << "programming cannot set bits";
    EXPECT_EQ(rig.receiver().flashWord(kErasedOffset), 0x12340078U);
}

TEST(FlashEraseAndProgram, AJobThatDoesNotPollLosesTheNextWord) {
    ReceiverRig rig;
    rig.anomaliesExpected = true;
    rig.prologue();
    const std::uint32_t address = rig.base() + kErasedOffset;
    rig.startProgram(address, 0x11111111);
    rig.startProgram(address + 4, 0x22222222);
    EXPECT_EQ(rig.pollUntil(address + 4, 0x22222222).back(), 0xFFFFFFFFU);
    EXPECT_EQ(rig.receiver().flashWord(kErasedOffset + 4), 0xFFFFFFFFU);
    EXPECT_THAT(rig.receiver().anomalies(), Contains(HasSubstr("busy")));
}

TEST(FlashFaults, ProtectedSectorRefusesEraseAndProgram) {
    ReceiverRig rig(simOptions({"protect=5"}));
    rig.prologue();
    const std::vector<std::uint8_t> before = rig.receiver().flashImage();
    EXPECT_FALSE(rig.erase(rig.base() + sector(5)));
    rig.flashReset();
    EXPECT_FALSE(rig.program(rig.base() + sector(5), 0));
    rig.flashReset();
    EXPECT_EQ(rig.receiver().flashImage(), before);
    EXPECT_TRUE(rig.erase(rig.base() + sector(3))) << "an unprotected sector must still erase";
}

} // namespace
} // namespace corvex::sim::test
