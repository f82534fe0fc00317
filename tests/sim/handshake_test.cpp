#include "sim_rig.h"

#include <cstdint>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <ostream>
#include <random>
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

TEST_P(SimAdapterWordTransactions, BackToBackTransactionsKeepTheirBytesApart) {
    std::mt19937 random(7);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> written;
    for (int i = 0; i < 64; ++i) {
        written.emplace_back(random() & ~3U, random());
        rig.link.writeWord(written.back().first, written.back().second);
    }
    for (const auto& [address, data] : written) {
        EXPECT_EQ(rig.link.readWord(address), data) << std::hex << "at 0x" << address;
    }
    EXPECT_EQ(rig.bus.writes(), written);
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

// One port access: 'd' data read, 's' status read, 'D' data written, 'C' control lines written.
struct PortStep {
    char kind;
    std::uint8_t value;
    friend bool operator==(const PortStep&, const PortStep&) = default;
    friend std::ostream& operator<<(std::ostream& out, const PortStep& step) {
        return out << step.kind << std::hex << int{step.value};
    }
};

// Records every access the port layer makes, control writes as the line states they set;
// `forgetInversion` undoes the port layer's XOR on the way out, as a faulty port layer would.
class RecordingIo : public link::PortIo {
public:
    explicit RecordingIo(link::PortIo& inner, bool forgetInversion = false)
        : m_inner(inner), m_forget(forgetInversion) {}
    std::uint8_t in(std::uint16_t address) override {
        const auto offset = static_cast<std::uint16_t>(address - link::kDefaultPortBase);
        if (offset == link::kDataOffset || offset == link::kStatusOffset) {
            steps.push_back({offset == link::kDataOffset ? 'd' : 's', 0});
        }
        return m_inner.in(address);
    }
    void out(std::uint16_t address, std::uint8_t value) override {
        const auto offset = static_cast<std::uint16_t>(address - link::kDefaultPortBase);
        if (offset == link::kDataOffset) {
            steps.push_back({'D', value});
        } else if (offset == link::kControlOffset) {
            steps.push_back({'C', static_cast<std::uint8_t>(value ^ link::kControlInversion)});
            value ^= m_forget ? link::kControlInversion : 0;
        }
        m_inner.out(address, value);
    }
    std::vector<PortStep> steps;

private:
    link::PortIo& m_inner;
    bool m_forget;
};

// The port layer over a recorder over the simulated adapter.
struct RecordingRig {
    explicit RecordingRig(bool forgetInversion = false)
        : adapter(bus), io(adapter, forgetInversion), port(io), link(port, flags) {
        link.setSleeper([](auto) {});
        port.setup();
        io.steps.clear();
    }
    RegisterFile bus;
    VirtualPort adapter;
    RecordingIo io;
    link::Port port;
    link::LinkFlags flags;
    link::Link link;
};

TEST(LinkByteSend, EachVariantDrivesThePortInItsOwnOrder) {
    for (const bool laptop : {false, true}) {
        RecordingRig rig;
        rig.link.setLaptopDriver(laptop);
        const std::uint8_t idle = rig.port.shadow();
        const std::uint8_t driving = idle & ~link::kDataInput;
        const std::uint8_t pulse = driving | link::kLineWrite;
        rig.link.sendByte(0x5A);
        const std::vector<PortStep> normal = {
            {'D', 0x5A}, {'C', driving}, {'C', pulse}, {'C', driving}, {'C', idle}};
        // Slow ports: the data lines see all ones first, and the extra accesses give them time.
        const std::vector<PortStep> slow = {
            {'D', 0xFF},    {'C', driving}, {'D', 0x5A}, {'C', driving}, {'C', pulse},
            {'C', driving}, {'C', idle},    {'d', 0},    {'C', idle},    {'d', 0}};
        EXPECT_EQ(rig.io.steps, laptop ? slow : normal) << (laptop ? "laptop" : "normal");
        EXPECT_THAT(rig.adapter.takenBytes(), ElementsAre(0x5A));
        EXPECT_THAT(rig.adapter.anomalies(), IsEmpty());
    }
}

// A silent adapter: every input low. The break arrives while a wait polls the status.
class SilentIo : public link::PortIo {
public:
    explicit SilentIo(link::LinkFlags& flags) : m_flags(flags) {}
    std::uint8_t in(std::uint16_t /*address*/) override {
        m_flags.breakFlag = m_flags.breakFlag || ++m_reads == 3;
        return 0x00;
    }
    void out(std::uint16_t /*address*/, std::uint8_t /*value*/) override {}

private:
    link::LinkFlags& m_flags;
    int m_reads = 0;
};

// A Read pulse answers a byte or an acknowledge; after a broken wait there is neither.
TEST(LinkWaits, ABrokenWaitEndsWithoutAReadPulse) {
    for (const bool receive : {true, false}) {
        link::LinkFlags flags;
        SilentIo silent(flags);
        RecordingIo io(silent);
        link::Port port(io);
        link::Link link(port, flags);
        if (receive) {
            EXPECT_EQ(link.receiveByte(), 0xFF);
        } else {
            link.waitRxAck();
        }
        EXPECT_EQ(io.steps, std::vector<PortStep>(3, {'s', 0})) << (receive ? "receive" : "rx ack");
    }
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

TEST(SimPortLines, PortLayerWithoutTheInversionIsCaught) {
    RecordingRig rig(true);
    // Read and TxAck now idle high; no RxAck would ever come, so let every wait fall through.
    rig.flags.breakFlag = true;
    rig.link.writeWord(0x7FE01554, 0x005500AA);
    EXPECT_THAT(rig.bus.writes(), IsEmpty()) << "the adapter decoded a write from inverted lines";
    EXPECT_THAT(rig.adapter.anomalies(), Not(IsEmpty()));
}

} // namespace
} // namespace corvex::sim::test
