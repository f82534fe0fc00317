#include "link/jobs/eeprom_i2c.h"
#include "sim_rig.h"

#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace corvex::sim::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kTransmit = 0x20009004;
constexpr std::uint32_t kStatus = 0x20009014;

TEST(SimEeprom, APageWriteWrapsInsideItsPageAndLandsOnlyAtStop) {
    ReceiverRig rig;
    rig.prologue();
    link::I2cController i2c(rig.link);
    i2c.setUp();
    ASSERT_TRUE(i2c.waitFreeBus());
    constexpr std::uint32_t first = 0x3F5;
    i2c.start();
    ASSERT_TRUE(i2c.sendAcknowledged(link::deviceFrameFor(first)));
    ASSERT_TRUE(i2c.sendEchoed(link::byteFrame(first)));
    Bytes wanted(Eeprom24c16::kSize, 0xFF);
    for (std::uint32_t i = 0; i < 20; ++i) {
        ASSERT_TRUE(i2c.sendAcknowledged(link::byteFrame(i)));
        wanted[0x3F0 + (first + i) % 16] = static_cast<std::uint8_t>(i);
    }
    EXPECT_EQ(rig.receiver().eepromImage(), Bytes(Eeprom24c16::kSize, 0xFF))
        << "the page was written before STOP";
    i2c.stop();
    EXPECT_EQ(rig.receiver().eepromImage(), wanted);

    // The write cycle leaves the address unanswered for a while; a reset outlasts it.
    for (int attempt = 0; attempt < Eeprom24c16::kWriteCycleAttempts; ++attempt) {
        i2c.start();
        EXPECT_FALSE(i2c.sendAcknowledged(link::kFrameDeviceWrite)) << attempt;
    }
    i2c.start();
    EXPECT_TRUE(i2c.sendAcknowledged(link::kFrameDeviceWrite));
    i2c.stop();
    i2c.release();
}

// The controller is strict: a job that skips its set-up or its START gets no EEPROM.
TEST(SimEeprom, TheControllerWorksOnlyAfterItsSetUpAndWithThePinsHandedOver) {
    const std::pair<const char*, std::function<void(ReceiverRig&)>> cases[] = {
        {"before the controller was set up", [](ReceiverRig&) {}},
        {"started without its set-up",
         [](ReceiverRig& rig) {
             rig.link.writeWord(0x20009000, 200); // not the prescaler it needs
             rig.link.writeWord(0x20009010, 0);
             rig.link.writeWord(0x2000900C, 0x318);
         }},
        {"pins were not handed to the controller",
         [](ReceiverRig& rig) { link::I2cController(rig.link).setUp(); }},
    };
    for (const auto& [anomaly, setUp] : cases) {
        ReceiverRig rig;
        rig.anomaliesExpected = true;
        rig.prologue();
        setUp(rig);
        rig.link.writeWord(kTransmit, link::kFrameDeviceWrite);
        for (int poll = 0; poll < 4; ++poll) {
            (void)rig.link.readWord(kStatus);
        }
        EXPECT_NE(rig.link.readWord(0x20009008), link::kFrameDeviceWrite & ~1U) << anomaly;
        EXPECT_THAT(rig.receiver().anomalies(), Contains(HasSubstr(anomaly)));
    }
}

// A set-up controller is strict about the order of a transfer too: a job that gets it wrong
// shows up as an anomaly, whatever the EEPROM makes of it.
TEST(SimEeprom, TheControllerRefusesATransferOutOfOrder) {
    const std::pair<const char*, std::function<void(link::I2cController&, link::Link&)>> cases[] = {
        // The pins handed over as START ends, without the START itself.
        {"sent without a START",
         [](link::I2cController& i2c, link::Link& link) {
             for (const std::uint32_t config : {0x2000D024U, 0x2000D034U, 0x2000D044U}) {
                 link.writeWord(config, 7);
             }
             (void)i2c.sendAcknowledged(link::kFrameDeviceWrite);
         }},
        {"read back before it was received",
         [](link::I2cController& i2c, link::Link& link) {
             i2c.start();
             link.writeWord(kTransmit, link::kFrameDeviceWrite);
             (void)link.readWord(0x20009008);
         }},
        {"read before a device was addressed",
         [](link::I2cController& i2c, link::Link&) {
             i2c.start();
             std::uint8_t byte = 0;
             (void)i2c.receive(false, byte);
         }},
        {"sent in a read transfer",
         [](link::I2cController& i2c, link::Link&) {
             i2c.start();
             (void)i2c.sendEchoed(link::kFrameDeviceRead);
             (void)i2c.sendEchoed(link::byteFrame(0x12));
         }},
        {"read after the last one",
         [](link::I2cController& i2c, link::Link&) {
             i2c.start();
             (void)i2c.sendEchoed(link::kFrameDeviceRead);
             std::uint8_t byte = 0;
             (void)i2c.receive(true, byte);
             (void)i2c.receive(false, byte);
         }},
        {"STOP without a START", [](link::I2cController& i2c, link::Link&) { i2c.stop(); }},
    };
    for (const auto& [anomaly, step] : cases) {
        ReceiverRig rig;
        rig.anomaliesExpected = true;
        rig.prologue();
        link::I2cController i2c(rig.link);
        i2c.setUp();
        ASSERT_TRUE(i2c.waitFreeBus());
        step(i2c, rig.link);
        EXPECT_THAT(rig.receiver().anomalies(), ElementsAre(HasSubstr(anomaly))) << anomaly;
    }
}

} // namespace
} // namespace corvex::sim::test
