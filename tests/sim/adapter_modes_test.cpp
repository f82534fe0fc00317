#include "sim_rig.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>
#include <utility>

namespace corvex::sim::test {
namespace {

using link::InterfaceType;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(SimAdapterDetection, DetectsTheTypeAndLeavesTheAdapterIdle) {
    for (const auto& [adapter, expected] : {std::pair{"adapter=revb", InterfaceType::RevB},
                                            {"adapter=compatible", InterfaceType::Compatible},
                                            {"adapter=unknown", InterfaceType::Unknown},
                                            {"adapter=absent", InterfaceType::Absent}}) {
        SCOPED_TRACE(adapter);
        SimRig rig(simOptions({adapter}).adapter);
        EXPECT_EQ(rig.link.detectInterface(), expected);
        EXPECT_FALSE(rig.adapter.loopbackOn()) << "detection must switch loopback off again";
    }
}

TEST(SimAdapterLoopback, SwitchNeedsTxAckHighAndNoWritePulseInside) {
    SimRig rig;
    rig.anomaliesExpected = true; // the bytes of the broken sequences reach the adapter
    rig.port.clearLines(link::kDataInput);
    for (const std::uint8_t byte : {0x55, 0xAA, 0xB3}) {
        rig.port.writeData(byte);
    }
    rig.port.setLines(link::kDataInput);
    EXPECT_FALSE(rig.adapter.loopbackOn()) << "TxAck low";
    rig.port.setLines(link::kLineTxAck);
    rig.port.clearLines(link::kDataInput);
    rig.port.writeData(0x55);
    rig.port.writeData(0xAA);
    rig.port.setLines(link::kLineWrite);
    rig.port.clearLines(link::kLineWrite);
    rig.port.writeData(0xB3);
    rig.port.setLines(link::kDataInput);
    rig.port.clearLines(link::kLineTxAck);
    EXPECT_FALSE(rig.adapter.loopbackOn()) << "a write pulse inside the sequence";
}

// A reset drops a half-done transaction and loopback; held, it counts once and nothing else.
TEST(SimAdapterReset, AbandonsAHalfDoneTransactionAndLoopback) {
    SimRig rig;
    rig.link.sendByte(0);
    rig.link.waitRxAck();
    rig.link.sendByte(0x44);
    ASSERT_TRUE(rig.rxAck());
    rig.link.resetPulse();
    EXPECT_FALSE(rig.rxAck() || rig.dataValid()) << "reset must drop both input lines";
    EXPECT_EQ(rig.bus.resets(), 1);
    // Left in the address phase, the adapter would take this command byte as an address byte.
    rig.link.writeWord(0x2038, 0x3005);
    EXPECT_THAT(rig.bus.writes(),
                ElementsAre(std::pair<std::uint32_t, std::uint32_t>{0x2038, 0x3005}));
    rig.link.loopbackOn();
    ASSERT_TRUE(rig.adapter.loopbackOn());
    rig.link.resetPulse();
    EXPECT_FALSE(rig.adapter.loopbackOn());
    SimRig held;
    held.port.setLines(link::kLineReset);
    held.link.sendByte(0);
    held.port.setLines(link::kLineTxAck);
    held.port.clearLines(link::kLineTxAck);
    held.port.clearLines(link::kLineReset);
    EXPECT_EQ(held.bus.resets(), 1);
    EXPECT_THAT(held.adapter.takenBytes(), IsEmpty());
    EXPECT_FALSE(held.rxAck());
}

TEST(SimAdapterFaults, HangAfterStopsAnsweringForGood) {
    SimRig rig(simOptions({"hang-after=10"}).adapter);
    rig.link.writeWord(0x203C, 0);
    ASSERT_FALSE(rig.adapter.hung());
    {
        // Breaks the wait after a while, as the window's time-out does for a quiet adapter.
        const std::jthread breaker([&rig] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            rig.flags.breakFlag = true;
        });
        rig.link.writeWord(0x204C, 0xF); // its command byte is the tenth
    }
    EXPECT_TRUE(rig.adapter.hung());
    EXPECT_EQ(rig.adapter.takenBytes().size(), 10U);
    EXPECT_THAT(rig.bus.writes(), ElementsAre(std::pair<std::uint32_t, std::uint32_t>{0x203C, 0}));
    EXPECT_FALSE(rig.rxAck() || rig.dataValid());
    rig.link.resetPulse();
    EXPECT_EQ(rig.link.readWord(0x203C), 0xFFFFFFFFU) << "the break is still set";
    EXPECT_FALSE(rig.rxAck() || rig.dataValid()) << "a reset must not revive a hung adapter";
    EXPECT_EQ(rig.adapter.takenBytes().size(), 10U);
    SimRig never(simOptions({"hang-after=0"}).adapter);
    never.link.sendByte(1);
    EXPECT_FALSE(never.rxAck());
    EXPECT_THAT(never.adapter.takenBytes(), IsEmpty());
}

// The diagnostics page polls the status and the records while a job's thread reads words.
TEST(SimAdapterThreads, StatusReadsFromAnotherThreadDuringReadWords) {
    SimRig rig;
    rig.bus.poke(0x100, 0xCAFEF00D);
    std::atomic<bool> done{false};
    std::atomic<int> badStatus{0};
    std::jthread poller([&] {
        while (!done.load()) {
            const int lines =
                rig.adapter.in(0x379) & ~(link::kStatusDataValid | link::kStatusRxAck);
            badStatus += lines != 0x47 || !rig.adapter.anomalies().empty() ? 1 : 0;
        }
    });
    int wrongWords = 0;
    for (int i = 0; i < 2000; ++i) {
        wrongWords += rig.link.readWord(0x100) != 0xCAFEF00DU ? 1 : 0;
    }
    done = true;
    poller.join();
    EXPECT_EQ(wrongWords, 0);
    EXPECT_EQ(badStatus.load(), 0) << "the poller saw a status byte that is not the adapter's";
}

} // namespace
} // namespace corvex::sim::test
