#include "link/guard/log_book.h"
#include "link/guard/program_files.h"
#include "link/guard/timeout_watch.h"
#include "link/jobs/record_queue.h"
#include "temp_dir.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace corvex::test {
namespace {

using link::GuardRecord;
using link::RecordQueue;

TEST(RecordQueue, HoldsAtMost127RecordsInOrderAndCutsTheirTextAt103Characters) {
    RecordQueue queue;
    GuardRecord out;
    EXPECT_EQ(queue.take(out), -1);
    for (int i = 0; i < 127; ++i) {
        ASSERT_EQ(queue.append(GuardRecord::command("X", static_cast<std::uint32_t>(i))), i);
    }
    EXPECT_EQ(queue.append(GuardRecord::command("overflow")), -1);
    ASSERT_EQ(queue.take(out), 0);
    EXPECT_EQ(out.Param, 0U);
    // One slot freed: the ring wraps to slot 127, then to 0 only after another take.
    EXPECT_EQ(queue.append(GuardRecord::command("Y")), 127);
    EXPECT_EQ(queue.append(GuardRecord::command("Z")), -1);
    for (std::uint32_t i = 1; i < 127; ++i) {
        ASSERT_GE(queue.take(out), 0);
        ASSERT_EQ(out.Param, i);
    }
    ASSERT_GE(queue.take(out), 0);
    EXPECT_EQ(out.Text.view(), "Y");
    EXPECT_TRUE(queue.empty());
    const std::string longText(150, 'a');
    EXPECT_EQ(GuardRecord::command(longText).Text.view(), longText.substr(0, 103));
}

// Lines carry the local date and time; appending leaves earlier lines alone and reports failures.
TEST(LogBook, DatedLinesAppendedToTheFile) {
    std::tm local{};
    ASSERT_NE(::strptime("2026-03-07 09:05:03", "%Y-%m-%d %H:%M:%S", &local), nullptr);
    local.tm_isdst = -1;
    const auto when = std::chrono::system_clock::from_time_t(std::mktime(&local));
    EXPECT_EQ(link::logBookLine("EEPROM WRITE - OK", when),
              "07-03-2026 @ 09:05:03 - EEPROM WRITE - OK");
    TempDir dir;
    const std::string path = dir.file("corvex.LOG");
    EXPECT_EQ(link::appendLogFile(path, {"one"}), "");
    EXPECT_EQ(link::appendLogFile(path, {"two", "three"}), "");
    const std::string text = "one\ntwo\nthree\n";
    EXPECT_EQ(readBytes(path), std::vector<std::uint8_t>(text.begin(), text.end()));
    EXPECT_NE(link::appendLogFile(dir.file("missing/x.LOG"), {"x"}), "");
}

TEST(TimeoutWatch, BreaksAfterThirtyPendingTicksAndAgainWhileTheHangLasts) {
    link::TimeoutWatch watch;
    for (int i = 0; i < 20; ++i) {
        ASSERT_FALSE(watch.tick(1, 0));
    }
    watch.restart();
    for (int i = 0; i < 29; ++i) {
        ASSERT_FALSE(watch.tick(1, 0)) << "tick " << i;
    }
    EXPECT_FALSE(watch.tick(0, 0)) << "a finished exchange restarts the count";
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 29; ++i) {
            ASSERT_FALSE(watch.tick(1, 0)) << "round " << round << " tick " << i;
        }
        EXPECT_TRUE(watch.tick(1, 0)) << "round " << round;
    }
    EXPECT_EQ(watch.countdown(), 30);

    // Exchanges that keep ending are a long job, not a hang, however long it runs.
    for (std::uint32_t done = 1; done < 200; ++done) {
        ASSERT_FALSE(watch.tick(1, done)) << "tick " << done;
    }
    link::TimeoutWatch quick(2); // tests make a hang out of fewer ticks
    EXPECT_FALSE(quick.tick(1, 0));
    EXPECT_TRUE(quick.tick(1, 0));
}

TEST(ProgramFiles, NamedAfterTheProgramOrPlacedInTheUserDataFolder) {
    namespace fs = std::filesystem;
    const TempDir dir;
    const auto& root = dir.path();
    fs::create_directories(root / "bin");
    EXPECT_EQ(link::programFileName((root / "bin" / "corvex").string(), "LOG"),
              (root / "bin" / "corvex.LOG").string());

    // A folder the program cannot write to (root ignores modes, so use one that is missing).
    const auto data = root / "data";
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    EXPECT_EQ(link::programFileName((root / "absent" / "corvex").string(), "INI"),
              (data / "corvex" / "corvex.INI").string());
    EXPECT_TRUE(fs::is_directory(data / "corvex"));

    // An installed program writes nothing beside itself, even run by root, who may write there.
    for (const char* program : {"/usr/bin/corvex", "/usr/local/bin/corvex", "/bin/corvex"}) {
        EXPECT_EQ(link::programFileName(program, "INI"), (data / "corvex" / "corvex.INI").string())
            << program;
    }
    ::unsetenv("XDG_DATA_HOME");
}

TEST(ProgramFiles, AWorkFileBelongsToOneRunAtATimeAndTheNextRunTakesTheNextName) {
    const TempDir dir;
    const std::string program = dir.file("corvex");
    std::string error;
    std::vector<link::WorkFile> held;
    for (int slot = 1; slot <= link::WorkFile::kSlots; ++slot) {
        auto file = link::lockWorkFile(program, "LRF", error);
        ASSERT_TRUE(file) << error;
        EXPECT_EQ(file->path(),
                  slot == 1 ? program + ".LRF" : program + "." + std::to_string(slot) + ".LRF");
        held.push_back(std::move(*file));
    }
    EXPECT_FALSE(link::lockWorkFile(program, "LRF", error));
    EXPECT_EQ(error, "the work file " + program +
                         ".LRF and its 7 alternatives are in use by "
                         "other runs");
    held.erase(held.begin() + 2); // the third run ends
    const auto next = link::lockWorkFile(program, "LRF", error);
    ASSERT_TRUE(next) << error;
    EXPECT_EQ(next->path(), program + ".3.LRF");
    std::filesystem::create_directory(dir.file("other.LRF")); // not a file that can be opened
    EXPECT_FALSE(link::lockWorkFile(dir.file("other"), "LRF", error));
    EXPECT_EQ(error.rfind("cannot open the work file " + dir.file("other.LRF") + ": ", 0), 0U)
        << error;
}

} // namespace
} // namespace corvex::test
