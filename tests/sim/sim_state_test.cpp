#include "sim/image_builder.h"
#include "sim_rig.h"
#include "tests/link/temp_dir.h"

#include <cstdint>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <vector>

namespace corvex::sim::test {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::ThrowsMessage;

using corvex::test::readBytes;
using corvex::test::writeBytes;

// A fresh state folder per test.
class SimulatorState : public ::testing::Test {
protected:
    [[nodiscard]] SimConfig inDir(std::initializer_list<const char*> options = {}) const {
        SimConfig config = simOptions(options);
        config.dir = m_dir.file("state");
        return config;
    }
    [[nodiscard]] std::string flashFile() const { return m_dir.file("state/flash.bin"); }
    corvex::test::TempDir m_dir;
};

TEST_F(SimulatorState, MissingFlashIsCreatedFromTheDefaultImage) {
    {
        Simulator sim(inDir({"receiver=dsi"}));
        EXPECT_EQ(sim.flashPath(), flashFile());
        EXPECT_EQ(sim.bus().eepromImage(), std::vector<std::uint8_t>(0x800, 0xFF));
    }
    EXPECT_EQ(readBytes(flashFile()), defaultFirmwareImage(0x100000, "DSI185D V1.07 SIM"));

    // A run that only reads leaves the files alone: no write, no flush to disk.
    const auto before = fs::last_write_time(flashFile());
    Simulator sim(inDir({"receiver=dsi"}));
    fs::last_write_time(flashFile(), before - std::chrono::hours(1));
    EXPECT_THAT(sim.save(), IsEmpty());
    EXPECT_EQ(fs::last_write_time(flashFile()), before - std::chrono::hours(1));
}

TEST_F(SimulatorState, FlashOfTheWrongSizeIsAnErrorAndStaysUntouched) {
    fs::create_directories(m_dir.file("state"));
    const std::vector<std::uint8_t> small(1000, 0x5A);
    writeBytes(flashFile(), small);
    EXPECT_THAT(
        [&] { const Simulator sim(inDir()); },
        ThrowsMessage<SimError>(AllOf(HasSubstr("holds 1000 bytes"), HasSubstr("2097152"))));
    EXPECT_EQ(readBytes(flashFile()), small);

    // A dsx flash does not fit a dsi receiver either; nor a short EEPROM any receiver.
    writeBytes(flashFile(), std::vector<std::uint8_t>(0x200000, 0xFF));
    EXPECT_THROW(Simulator{inDir({"receiver=dsi"})}, SimError);
    writeBytes(m_dir.file("state/eeprom.bin"), std::vector<std::uint8_t>(100, 0));
    EXPECT_THROW(Simulator{inDir()}, SimError) << "a 100-byte eeprom.bin was accepted";
}

TEST_F(SimulatorState, AFailedSaveLeavesTheOldFileWhole) {
    ReceiverRig rig(inDir());
    Simulator& sim = rig.sim;
    const std::vector<std::uint8_t> before = readBytes(flashFile());
    rig.prologue();
    ASSERT_TRUE(rig.program(rig.base() + 0x8000, 0));

    // A file whose name leaves no room for the part file beside it fails the save before
    // anything is written; flash.bin links to it.
    const std::string longName = m_dir.file("state/" + std::string(250, 'f'));
    fs::rename(flashFile(), longName);
    fs::create_symlink(longName, flashFile());
    EXPECT_THAT(sim.save(), HasSubstr("cannot save " + flashFile()));
    EXPECT_EQ(readBytes(flashFile()), before);
    fs::remove(flashFile());
    fs::rename(longName, flashFile());
}

} // namespace
} // namespace corvex::sim::test
