#include "receiver_rig.h"
#include "sim/image_builder.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <initializer_list>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace corvex::sim::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::vector<std::uint8_t> fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// A fresh state folder per test, removed afterwards.
class SimulatorState : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = fs::temp_directory_path() /
                ("corvex-sim-" + std::string(info->name()) + "-" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    [[nodiscard]] SimConfig inDir(std::initializer_list<const char*> options = {}) const {
        SimConfig config = simOptions(options);
        config.dir = m_dir.string();
        return config;
    }
    [[nodiscard]] fs::path flashFile() const { return m_dir / "flash.bin"; }

    fs::path m_dir;
};

TEST_F(SimulatorState, MissingFlashIsCreatedFromTheDefaultImage) {
    {
        const Simulator sim(inDir({"receiver=dsi"}));
        EXPECT_EQ(sim.flashPath(), flashFile().string());
    }
    EXPECT_EQ(fileBytes(flashFile()), defaultFirmwareImage(0x100000, "DSI185D V1.07 SIM"));
}

TEST_F(SimulatorState, AProgrammedWordIsThereInTheNextRun) {
    {
        ReceiverRig rig(inDir());
        rig.prologue();
        ASSERT_TRUE(rig.program(rig.base() + 0x8010, 0xCAFEF00D));
    }
    ReceiverRig rig(inDir());
    rig.prologue();
    EXPECT_EQ(rig.link.readWord(rig.base() + 0x8010), 0xCAFEF00DU);
    const std::vector<std::uint8_t> bytes = fileBytes(flashFile());
    ASSERT_EQ(bytes.size(), 0x200000U);
    EXPECT_EQ(bytes[0x8010], 0x0D) << "flash.bin keeps words least significant byte first";
    EXPECT_EQ(bytes[0x8013], 0xCA);
}

TEST_F(SimulatorState, FlashOfTheWrongSizeIsAnErrorAndStaysUntouched) {
    fs::create_directories(m_dir);
    const std::vector<std::uint8_t> small(1000, 0x5A);
    writeFile(flashFile(), small);

    try {
        const Simulator sim(inDir());
        ADD_FAILURE() << "a 1000-byte flash.bin was accepted";
    } catch (const SimError& e) {
        EXPECT_THAT(e.what(), HasSubstr("holds 1000 bytes"));
        EXPECT_THAT(e.what(), HasSubstr("2097152"));
    }
    EXPECT_EQ(fileBytes(flashFile()), small);

    // A dsx flash does not fit a dsi receiver either.
    writeFile(flashFile(), std::vector<std::uint8_t>(0x200000, 0xFF));
    EXPECT_THROW(Simulator{inDir({"receiver=dsi"})}, SimError);
}

TEST_F(SimulatorState, AFailedSaveLeavesTheOldFileWhole) {
    Simulator sim(inDir());
    const std::vector<std::uint8_t> before = fileBytes(flashFile());
    link::Port port(sim.port());
    link::LinkFlags flags;
    link::Link link(port, flags);
    link.setSleeper([](auto) {});
    port.setup();
    link.busInit(0);
    const link::FlashFamily& f = link::kFlashFamily0;
    link.writeWord(f.unlockAddress1, f.unlock1);
    link.writeWord(f.unlockAddress2, f.unlock2);
    link.writeWord(f.unlockAddress1, f.program);
    link.writeWord(f.arrayBase + 0x8000, 0);
    static_cast<void>(link.readWord(f.arrayBase + 0x8000));

    // A folder where the new file should go makes the save fail before the rename.
    fs::create_directory(m_dir / "flash.bin.new");
    EXPECT_THAT(sim.save(), HasSubstr("flash.bin.new"));
    EXPECT_EQ(fileBytes(flashFile()), before);

    fs::remove(m_dir / "flash.bin.new");
    EXPECT_THAT(sim.save(), IsEmpty());
    EXPECT_EQ(fileBytes(flashFile()), sim.bus().flashImage());
    EXPECT_NE(fileBytes(flashFile()), before);
}

} // namespace
} // namespace corvex::sim::test
