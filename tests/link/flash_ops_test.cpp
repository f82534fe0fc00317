#include "link/jobs/flash_chips.h"
#include "link/jobs/flash_ops.h"
#include "link/port/port.h"
#include "link/protocol/link.h"
#include "sim/receiver_bus.h"
#include "sim/virtual_port.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <numeric>
#include <utility>
#include <vector>

namespace corvex::test {
namespace {

using link::FlashFamily;
using link::FlashOps;
using ::testing::ElementsAreArray;

using BusWrite = std::pair<std::uint32_t, std::uint32_t>;

// A receiver that answers reads from the test's script, which sees the traffic so far, so it
// can play a chip that takes a word only on some attempt.
struct ScriptedBus : sim::ReceiverBus {
    using Answer = std::function<std::uint32_t(const ScriptedBus& bus, std::uint32_t address)>;
    explicit ScriptedBus(Answer a) : answer(std::move(a)) {}
    std::uint32_t read(std::uint32_t address) override {
        const std::uint32_t value = answer(*this, address);
        reads.push_back(address);
        return value;
    }
    void write(std::uint32_t address, std::uint32_t data) override {
        writes.emplace_back(address, data);
    }
    [[nodiscard]] int count(const std::function<bool(const BusWrite&)>& match) const {
        return static_cast<int>(std::count_if(writes.begin(), writes.end(), match));
    }
    [[nodiscard]] int count(const BusWrite& w) const {
        return count([&](const BusWrite& x) { return x == w; });
    }
    [[nodiscard]] int writesTo(std::uint32_t a) const {
        return count([&](const BusWrite& x) { return x.first == a; });
    }
    Answer answer;
    std::vector<std::uint32_t> reads;
    std::vector<BusWrite> writes;
};

// The link over the simulated adapter in front of a scripted bus; the poll waits are recorded.
struct OpsRig {
    explicit OpsRig(ScriptedBus::Answer answer)
        : bus(std::move(answer)), adapter(bus), port(adapter), link(port, flags) {
        adapter.setRecording(false);
        link.setSleeper([](auto) {});
        link.setMicroDelay([this](std::uint64_t us) { delays.push_back(us); });
        port.setup();
    }
    ScriptedBus bus;
    sim::VirtualPort adapter;
    link::Port port;
    link::LinkFlags flags;
    link::Link link;
    std::vector<std::uint64_t> delays;
};

constexpr std::uint32_t kWord = 0x12345678;
constexpr std::uint32_t kErased = 0xFFFFFFFF;
const FlashFamily* const kFamilies[] = {&link::kFlashFamily0, &link::kFlashFamily1};

TEST(FlashOps, ProgramWordSendsTheFamilysCommandAndPollsUntilTheWordReadsBack) {
    for (const FlashFamily* family : kFamilies) {
        const std::uint32_t address = family->arrayBase + 0x8;
        // Busy for one poll (status bits), then the programmed word.
        OpsRig rig([&](const ScriptedBus& bus, std::uint32_t) {
            return bus.reads.empty() ? 0x00800080U : kWord;
        });
        EXPECT_TRUE(FlashOps(rig.link, *family).ProgramWord(address, kWord));
        EXPECT_THAT(rig.bus.writes, ElementsAreArray(std::vector<BusWrite>{
                                        {family->unlockAddress1, family->unlock1},
                                        {family->unlockAddress2, family->unlock2},
                                        {family->unlockAddress1, family->program},
                                        {address, kWord}}));
        // Two polls, each after its wait, then the verifying read; no reset after success.
        EXPECT_EQ(rig.delays, (std::vector<std::uint64_t>{25, 25}));
        EXPECT_EQ(rig.bus.reads, std::vector<std::uint32_t>(3, address));
    }
}

TEST(FlashOps, ProgramWordResetsAndRetriesAfterAnAttemptThatTimesOut) {
    const FlashFamily& family = link::kFlashFamily1;
    const std::uint32_t address = 0x7FF00040;
    // The word takes only on the third program command.
    OpsRig rig([&](const ScriptedBus& bus, std::uint32_t a) {
        return a == address && bus.writesTo(address) >= 3 ? kWord : 0U;
    });
    EXPECT_TRUE(FlashOps(rig.link, family).ProgramWord(address, kWord));
    EXPECT_EQ(rig.bus.writesTo(address), 3);
    EXPECT_EQ(std::accumulate(rig.delays.begin(), rig.delays.end(), std::uint64_t{0}),
              (2 * 2400 + 1) * 25U);
    EXPECT_EQ(rig.bus.count({family.unlockAddress1, family.reset}), 2);
}

TEST(FlashOps, SectorEraseRetriesAnEraseThatNeverFinishes) {
    const FlashFamily& family = link::kFlashFamily0;
    const std::uint32_t sector = 0x7FE08000;
    // The first erase command is lost; the second one works at once.
    OpsRig rig([&](const ScriptedBus& bus, std::uint32_t a) {
        return a == sector && bus.count({sector, family.sectorErase}) >= 2 ? kErased : 0U;
    });
    EXPECT_TRUE(FlashOps(rig.link, family).SectorErase(sector));
    EXPECT_EQ(rig.bus.count({sector, family.sectorErase}), 2);
    EXPECT_EQ(rig.delays.size(), 5000U + 1U);
}

// A broken-off read returns all ones, which looks like an erased word: no operation may take it
// for success.
TEST(FlashOps, NothingSucceedsOnAReadThatABreakCutShort) {
    OpsRig rig([](const ScriptedBus&, std::uint32_t) { return kErased; });
    rig.flags.breakFlag = true;
    FlashOps flash(rig.link, link::kFlashFamily0);
    EXPECT_FALSE(flash.ProgramWord(0x7FE00000, kErased));
    EXPECT_FALSE(flash.SectorErase(0x7FE00000));
    EXPECT_FALSE(flash.ProgramWord(0x7FE00000, kWord));
    EXPECT_TRUE(rig.delays.empty());
}

} // namespace
} // namespace corvex::test
