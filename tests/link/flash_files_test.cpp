#include "link/jobs/firmware_read.h"
#include "link/jobs/flash_jobs.h"
#include "link/jobs/job_files.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace corvex::test {
namespace {

std::vector<std::uint8_t> imageWithText(std::size_t at, const std::string& text,
                                        std::size_t size = 3 * 4096) {
    std::vector<std::uint8_t> image(size, 0xFF);
    std::copy(text.begin(), text.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
    return image;
}

const std::string kMarker = "BEGINNING_ID";

TEST(FirmwareName, FoundWhereverBlockEdgesFallInTheMarkerOrTheName) {
    TempDir dir;
    const std::string file = dir.file("image.bin");
    const std::string named = kMarker + "DSX 2.07" + std::string(1, '\0');
    // Every cut of the marker and of the name by the first block edge.
    for (std::size_t at = 4096 - named.size(); at <= 4096; ++at) {
        writeBytes(file, imageWithText(at, named));
        EXPECT_EQ(link::findFirmwareName(file), "DSX 2.07") << "marker at " << at;
    }
}

TEST(FirmwareName, FoundAfterAFailedAttemptCutToAHundredOrUnknown) {
    TempDir dir;
    const std::string file = dir.file("image.bin");
    // The stray first letter sits on the last byte of a block, the marker starts the next one.
    writeBytes(file, imageWithText(4095, "B" + kMarker + "ABC" + std::string(1, '\0')));
    EXPECT_EQ(link::findFirmwareName(file), "ABC");
    writeBytes(file, imageWithText(10, "BEGINNBEGINNING_IDQ" + std::string(1, '\0')));
    EXPECT_EQ(link::findFirmwareName(file), "Q");
    writeBytes(file, imageWithText(4000, kMarker + std::string(300, 'n') + std::string(1, '\0')));
    EXPECT_EQ(link::findFirmwareName(file), std::string(100, 'n')) << "cut to a hundred";
    // Unknown without the marker, without the closing zero byte or without the file.
    writeBytes(file, imageWithText(0, "BEGINNING_I"));
    EXPECT_FALSE(link::findFirmwareName(file));
    writeBytes(file, imageWithText(4096 * 3 - 14, kMarker + "AB"));
    EXPECT_FALSE(link::findFirmwareName(file));
    EXPECT_FALSE(link::findFirmwareName(dir.file("missing.bin")));
}

TEST(CompletionTime, ARunPastMidnightCountsTheDayItCrossed) {
    EXPECT_EQ(link::elapsedSecondsOfDay(3600, 3725), 125);
    EXPECT_EQ(link::elapsedSecondsOfDay(86390, 5), 15);
    EXPECT_EQ(link::elapsedSecondsOfDay(0, 0), 0);
}

TEST(ReplacingFile, TheTargetChangesOnlyOnCommit) {
    TempDir dir;
    const std::string target = dir.file("saved.bin");
    writeBytes(target, {1, 2, 3});
    ::chmod(target.c_str(), 0640);
    {
        link::ReplacingFile file(target);
        ASSERT_TRUE(file.valid());
        const std::uint8_t bytes[] = {9, 9};
        ASSERT_TRUE(link::writeAt(file.fd(), bytes, sizeof bytes, 0));
        EXPECT_EQ(readBytes(target), (std::vector<std::uint8_t>{1, 2, 3}));
        // Dropped without a commit.
    }
    EXPECT_EQ(readBytes(target), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"saved.bin"});
    link::ReplacingFile file(target);
    const std::uint8_t bytes[] = {7};
    ASSERT_TRUE(link::writeAt(file.fd(), bytes, sizeof bytes, 0));
    ASSERT_TRUE(file.commit());
    EXPECT_EQ(readBytes(target), std::vector<std::uint8_t>{7});
    EXPECT_EQ(dir.names(), std::vector<std::string>{"saved.bin"});
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640U) << "the replaced file's permissions are kept";
    // A folder that does not exist is reported, not created.
    link::ReplacingFile missing(dir.file("no/such/folder.bin"));
    EXPECT_FALSE(missing.valid());
    EXPECT_FALSE(missing.commit());
    EXPECT_EQ(missing.error(), "No such file or directory");
    EXPECT_EQ(link::replaceFileContents(dir.file("no/such/folder.bin"), bytes),
              "No such file or directory");
    EXPECT_FALSE(link::ReplacingFile("").valid());
}

TEST(ReplacingFile, ASymbolicLinkIsFollowedAndStaysALink) {
    TempDir dir;
    writeBytes(dir.file("real.bin"), {1, 2, 3});
    ::chmod(dir.file("real.bin").c_str(), 0600);
    ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0700), 0);
    // An absolute link, a relative one from another folder, and a chain of both.
    ASSERT_EQ(::symlink(dir.file("real.bin").c_str(), dir.file("absolute.bin").c_str()), 0);
    ASSERT_EQ(::symlink("../real.bin", dir.file("sub/relative.bin").c_str()), 0);
    ASSERT_EQ(::symlink("sub/relative.bin", dir.file("chain.bin").c_str()), 0);
    std::uint8_t value = 10;
    for (const char* name : {"absolute.bin", "sub/relative.bin", "chain.bin"}) {
        const std::uint8_t bytes[] = {value};
        ASSERT_EQ(link::replaceFileContents(dir.file(name), bytes), std::nullopt) << name;
        struct stat info {};
        ASSERT_EQ(::lstat(dir.file(name).c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode)) << name << " was replaced by a regular file";
        EXPECT_EQ(readBytes(dir.file("real.bin")), std::vector<std::uint8_t>{value}) << name;
        ASSERT_EQ(::stat(dir.file("real.bin").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600U) << name;
        ++value;
    }
    // A dangling link names the file the save creates.
    ASSERT_EQ(::symlink("new.bin", dir.file("dangling.bin").c_str()), 0);
    const std::uint8_t bytes[] = {42};
    ASSERT_EQ(link::replaceFileContents(dir.file("dangling.bin"), bytes), std::nullopt);
    EXPECT_EQ(readBytes(dir.file("new.bin")), std::vector<std::uint8_t>{42});
}

} // namespace
} // namespace corvex::test
