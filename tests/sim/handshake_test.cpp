#include "sim_rig.h"

#include <cstdint>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace corvex::sim::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr TakenByte plain(std::uint8_t value) {
    return {value, false};
}
constexpr TakenByte framed(std::uint8_t value) {
    return {value, true};
}

// Every word transaction test runs with both byte-send variants; the adapter must not care.
class SimAdapterWordTransactions : public ::testing::TestWithParam<bool> {
protected:
    SimAdapterWordTransactions() { rig.link.setLaptopDriver(GetParam()); }
    SimRig rig;
};

TEST_P(SimAdapterWordTransactions, WriteWordSendsNineBytesLeastSignificantFirst) {
    rig.link.writeWord(0x7FE01554, 0x005500AA);
    EXPECT_THAT(rig.adapter.takenBytes(),
                ElementsAre(0x00, 0x54, 0x15, 0xE0, 0x7F, 0xAA, 0x00, 0x55, 0x00));
    EXPECT_FALSE(rig.rxAck()) << "the last RxAck was left unanswered";
}

TEST_P(SimAdapterWordTransactions, ReadWordReturnsTheRegisterAndAcknowledgesEachByte) {
    rig.bus.poke(0x20002010, 0x8C4B2A19);
    EXPECT_EQ(rig.link.readWord(0x20002010), 0x8C4B2A19U);
    EXPECT_THAT(rig.adapter.takenLog(),
                ElementsAre(plain(0x01), plain(0x10), plain(0x20), plain(0x00), plain(0x20),
                            framed(0x00), framed(0x00), framed(0x00), framed(0x00)));
    EXPECT_THAT(rig.bus.reads(), ElementsAre(0x20002010U));
    EXPECT_FALSE(rig.dataValid() || rig.rxAck()) << "the adapter is not back to idle";
}

TEST_P(SimAdapterWordTransactions, BrokenOffReadLeavesTheAdapterIdle) {
    rig.bus.poke(0x80, 0x01020304);
    rig.anomaliesExpected = true; // acknowledges for bytes never read
    rig.flags.breakFlag = true;   // every wait falls through, no byte is read
    EXPECT_EQ(rig.link.readWord(0x80), 0xFFFFFFFFU);
    EXPECT_FALSE(rig.dataValid() || rig.rxAck()) << "a line stayed up after the fourth acknowledge";
    rig.flags.breakFlag = false;
    EXPECT_EQ(rig.link.readWord(0x80), 0x01020304U);
}

INSTANTIATE_TEST_SUITE_P(ByteSendVariants, SimAdapterWordTransactions, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Laptop" : "Normal"; });

// A Read pulse answers a byte or an acknowledge; after a broken wait there is neither, and
// the adapter would report a pulse with nothing pending.
TEST(LinkWaits, ABrokenWaitEndsWithoutAReadPulse) {
    SimRig rig;
    rig.flags.breakFlag = true;
    rig.link.waitRxAck();
    EXPECT_EQ(rig.link.receiveByte(), 0xFF);
}

// Command byte and address of a read, leaving result byte 0 presented.
void startRead(SimRig& rig, std::uint32_t address) {
    rig.link.sendByte(1);
    for (int shift = 0; shift < 32; shift += 8) {
        rig.link.waitRxAck();
        rig.link.sendByte(static_cast<std::uint8_t>(address >> shift));
    }
}

// Steps a link gets wrong show up as anomalies, so protocol faults cannot pass unnoticed.
TEST(SimAdapterAnomalies, EveryStepOutOfTurnIsReported) {
    const std::pair<const char*, std::function<void(SimRig&)>> cases[] = {
        {"read pulse with nothing pending", [](SimRig& rig) { (void)rig.link.readStrobed(); }},
        {"no byte presented", [](SimRig& rig) { rig.link.acknowledge(); }},
        {"data byte where an acknowledge was due",
         [](SimRig& rig) {
             rig.bus.poke(0x40, 0x11223344);
             startRead(rig, 0x40);
             EXPECT_EQ(rig.link.receiveByte(), 0x44);
             rig.link.sendByte(0);
         }},
        {"non-zero acknowledge byte",
         [](SimRig& rig) {
             startRead(rig, 0x40);
             (void)rig.link.receiveByte();
             rig.port.setLines(link::kLineTxAck);
             rig.link.sendByte(0x80);
             rig.port.clearLines(link::kLineTxAck);
         }},
        {"before the presented byte",
         [](SimRig& rig) {
             startRead(rig, 0x40);
             rig.link.acknowledge();
         }},
        {"byte taken from released data lines",
         [](SimRig& rig) {
             rig.port.writeData(0x12);
             rig.port.setLines(link::kLineWrite);
             rig.port.clearLines(link::kLineWrite);
             EXPECT_THAT(rig.adapter.takenBytes(), ElementsAre(0xFF)) << "the pull-ups";
         }},
    };
    for (const auto& [anomaly, step] : cases) {
        SimRig rig;
        rig.anomaliesExpected = true;
        step(rig);
        EXPECT_THAT(rig.adapter.anomalies(), ElementsAre(HasSubstr(anomaly)));
    }
}

// What the adapter sees is decided by pin levels, so the port layer's own conventions matter.
TEST(SimPortLines, DataRegisterReadsTheLatchOnlyWhileThePortDrives) {
    SimRig rig;
    rig.port.writeData(0x5A);
    rig.port.clearLines(link::kDataInput);
    EXPECT_EQ(rig.port.readData(), 0x5A);
    rig.port.setLines(link::kDataInput);
    EXPECT_EQ(rig.port.readData(), 0xFF) << "released lines with nobody driving float high";
}

// A port layer that forgot the control lines' inversion, over the simulated adapter.
class ForgetfulIo : public link::PortIo {
public:
    explicit ForgetfulIo(link::PortIo& inner) : m_inner(inner) {}
    std::uint8_t in(std::uint16_t address) override { return m_inner.in(address); }
    void out(std::uint16_t address, std::uint8_t value) override {
        const bool control = address == link::kDefaultPortBase + link::kControlOffset;
        m_inner.out(address,
                    static_cast<std::uint8_t>(control ? value ^ link::kControlInversion : value));
    }

private:
    link::PortIo& m_inner;
};

TEST(SimPortLines, PortLayerWithoutTheInversionIsCaught) {
    RegisterFile bus;
    VirtualPort adapter(bus);
    ForgetfulIo io(adapter);
    link::Port port(io);
    link::LinkFlags flags;
    link::Link link(port, flags);
    port.setup();
    // Read and TxAck now idle high; no RxAck would ever come, so let every wait fall through.
    flags.breakFlag = true;
    link.writeWord(0x7FE01554, 0x005500AA);
    EXPECT_THAT(bus.writes(), IsEmpty()) << "the adapter decoded a write from inverted lines";
    EXPECT_THAT(adapter.anomalies(), Not(IsEmpty()));
}

} // namespace
} // namespace corvex::sim::test
