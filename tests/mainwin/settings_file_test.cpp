#include "mainwin/settings_file.h"
#include "tests/link/temp_dir.h"

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex::test {
namespace {

using mainwin::FileKind;
using mainwin::Settings;

std::string fileText(const std::string& name) {
    const std::vector<std::uint8_t> bytes = readBytes(name);
    return {bytes.begin(), bytes.end()};
}

void writeText(const std::string& name, std::string_view text) {
    writeBytes(name, std::vector<std::uint8_t>(text.begin(), text.end()));
}

Settings read(std::string_view text, Settings settings = {}) {
    mainwin::readSettings(text, settings);
    return settings;
}

TEST(SettingsFile, KeepsOddPathsVerbatimThroughSaveAndLoad) {
    const std::vector<std::string> odd = {"/home/u/my firmware, v2.bin",
                                          "/tmp/a=b;c#d.bin",
                                          "C:\\old\\[Config]\\x.bin",
                                          "/tmp/caf\xE9-latin1.bin",
                                          "/tmp/\xFF\xFE.bin",
                                          "=leading equals",
                                          ";starts like a comment",
                                          "/tmp/100%&\"q\".bin",
                                          "#hash",
                                          "/x/y z/ÄÖÜ.bin"};
    Settings settings;
    for (std::size_t i = 0; i < mainwin::kFileKinds; ++i) {
        settings.defaultFiles[i] = odd[i];
        settings.lastFiles[i] = odd[i + mainwin::kFileKinds];
    }
    settings.timeoutControl = false;
    settings.areaFlags[0] = 0x00000001; // CLR
    settings.areaFlags[19] = 0x0000002C;
    TempDir dir;
    const std::string path = dir.file("corvex.INI");
    ASSERT_EQ(mainwin::saveSettings(path, settings), "");

    Settings loaded;
    loaded.areaFlags.fill(0);
    EXPECT_EQ(mainwin::loadSettings(path, loaded), "");
    EXPECT_EQ(loaded, settings);
    // A plain INI reader takes everything after "=" on the line, blanks trimmed.
    const std::string text = fileText(path);
    EXPECT_NE(text.find("\nAutoWriteFirmware=/tmp/a=b;c#d.bin\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nLastBootCodePath=/x/y z/ÄÖÜ.bin\n"), std::string::npos) << text;
    EXPECT_EQ(dir.names(), std::vector<std::string>{"corvex.INI"}) << "no part file left behind";
}

TEST(SettingsFile, WritesEveryKeyInItsOrder) {
    Settings settings;
    settings.stopOnError = false;
    settings.backupBeforeWrite = false;
    // Each kind of file goes under its own key, though the two groups list them differently.
    settings.lastFile(FileKind::ReadConfig) = "ee-read";
    settings.defaultFile(FileKind::WriteFirmware) = "fw-write";
    const std::string text = mainwin::settingsText(settings);
    EXPECT_TRUE(text.starts_with(
        "[Config]\nAutoReadFirmware=\nAutoWriteFirmware=fw-write\nAutoReadConfig=\n"
        "AutoWriteConfig=\nAutoBootCode=\nTimeoutControl=1\nStopOnError=0\n\n[LastFiles]\n"
        "LastReadFirmwarePath=\nLastReadEEpromPath=ee-read\nLastWriteFirmwarePath=\n"
        "LastWriteEEpromPath=\nLastBootCodePath=\n\n[Areas]\nArea00=00000002\n"))
        << text;
    // The backup switch comes after every key the file always had.
    EXPECT_TRUE(text.ends_with("\nArea19=00000002\n\n[Backup]\nBackupBeforeWrite=0\n")) << text;
}

TEST(SettingsRead, TakesWhatItCanAndDefaultsTheRest) {
    struct Case {
        const char* what;
        std::string text;
        std::function<void(const Settings&)> check;
    };
    const std::vector<Case> cases = {
        {"no file: both toggles on, every area SKIP, no default file", "",
         [](const Settings& s) { EXPECT_EQ(s, Settings{}); }},
        {"00000001 restores CLR, zz restores SKIP",
         "[Areas]\nArea03=00000001\nArea04=zz\nArea05=\n",
         [](const Settings& s) {
             EXPECT_EQ(s.areaFlags[3], link::kAreaModeClr);
             EXPECT_EQ(s.areaFlags[4], 0x2CU | link::kAreaModeSkip) << "other bits kept";
             EXPECT_EQ(s.areaFlags[5], 0x2CU | link::kAreaModeSkip);
             EXPECT_EQ(s.areaFlags[6], link::kAreaModeSkip) << "missing key: the whole default";
         }},
        {"no mode, too wide or signed: SKIP",
         "[Areas]\nArea00=00000003\nArea01=100000000\nArea02=-1\nArea07=0x1\nArea08=2C",
         [](const Settings& s) {
             for (const int area : {0, 1, 2, 7}) {
                 EXPECT_EQ(s.areaFlags[area], 0x2EU) << area;
             }
             EXPECT_EQ(s.areaFlags[8], 0x2CU) << "short hex is still hex";
         }},
        // An earlier run's read of a flash that may have changed since, or of another
        // receiver, must not let a write call an area "Up-to-Date" it never compared.
        {"the job marks of an earlier run are dropped; mode and area icon stay",
         "[Areas]\nArea00=00809001\nArea01=0080902E\nArea02=00001000\n",
         [](const Settings& s) {
             EXPECT_EQ(s.areaFlags[0], link::kAreaModeClr);
             EXPECT_EQ(s.areaFlags[1], 0x2EU);
             EXPECT_EQ(s.areaFlags[2], link::kAreaModePgm);
         }},
        {"only exactly 1 checks a toggle",
         "[Config]\nTimeoutControl=yes\nStopOnError=\n[Backup]\nBackupBeforeWrite=no\n",
         [](const Settings& s) {
             EXPECT_FALSE(s.timeoutControl);
             EXPECT_FALSE(s.stopOnError);
             EXPECT_FALSE(s.backupBeforeWrite);
         }},
        {"the first of repeated keys and sections wins",
         "[Config]\nAutoBootCode=first\nAutoBootCode=second\n[LastFiles]\n"
         "[config]\nAutoBootCode=third\nTimeoutControl=0\n",
         [](const Settings& s) {
             EXPECT_EQ(s.defaultFiles[4], "first");
             EXPECT_FALSE(s.timeoutControl) << "a repeated section adds its keys";
         }},
        {"keys count only in their own section",
         "Area01=0\n[LastFiles]\nAutoReadFirmware=x\n[Area\nArea02=0\n[Areas]\nTimeoutControl=0",
         [](const Settings& s) { EXPECT_EQ(s, Settings{}); }},
        {"hand-edited: BOM, CRLF, blanks, other case, comments",
         "\xEF\xBB\xBF; kept by hand\r\n [ config ] \r\n  autoreadfirmware =  /a b.bin \r\n"
         "#StopOnError=0\r\nStopOnError\t=\t1\r\n[AREAS]\r\narea10 = 00000000\r\n",
         [](const Settings& s) {
             EXPECT_EQ(s.defaultFiles[0], "/a b.bin");
             EXPECT_TRUE(s.stopOnError);
             EXPECT_EQ(s.areaFlags[10], 0U);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Settings before;
        before.areaFlags.fill(0x2C);
        c.check(read(c.text, before));
    }
}

TEST(SettingsFile, ValuesALineCannotHoldAreWrittenEmpty) {
    Settings settings;
    settings.defaultFile(FileKind::ReadFirmware) = "/tmp/x\n[Config]\nTimeoutControl=0";
    settings.defaultFile(FileKind::WriteFirmware) = "/tmp/trailing blank ";
    settings.lastFile(FileKind::BootCode) = std::string(mainwin::kSettingsValueLimit + 1, 'a');
    settings.lastFile(FileKind::ReadFirmware) = std::string("/tmp/a\0b", 8);
    settings.timeoutControl = true;
    const Settings back = read(mainwin::settingsText(settings));
    EXPECT_TRUE(back.timeoutControl) << "a file name must not add a key";
    EXPECT_EQ(back.defaultFiles, Settings{}.defaultFiles);
    EXPECT_EQ(back.lastFiles, Settings{}.lastFiles);
    EXPECT_FALSE(mainwin::isStorableValue("\tx"));
    EXPECT_TRUE(mainwin::isStorableValue(std::string(mainwin::kSettingsValueLimit, 'a')));
}

TEST(SettingsFile, HostileFilesGiveDefaultsQuickly) {
    TempDir dir;
    const std::string path = dir.file("corvex.INI");
    const std::string good = "[Config]\nAutoBootCode=/boot.bin\n[Areas]\nArea01=00000000\n";
    const auto start = std::chrono::steady_clock::now();

    std::mt19937 random(7);
    std::string junk(1 << 20, '\0');
    for (char& c : junk) {
        c = static_cast<char>("\n\r[]=;A\0"[random() % 8] ^ (random() % 4 == 0 ? random() : 0));
    }
    writeText(path, junk);
    Settings settings;
    (void)mainwin::loadSettings(path, settings); // anything it finds is fine; no crash, no hang

    // 50 MB: the beginning counts, the rest is not read.
    {
        writeText(path, good);
        const int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 50 << 20), 0);
        ::close(fd);
    }
    settings = {};
    EXPECT_NE(mainwin::loadSettings(path, settings).find("only its beginning was read"),
              std::string::npos);
    EXPECT_EQ(settings.defaultFile(FileKind::BootCode), "/boot.bin");

    // A 100 kB key or value is passed over; the lines after it still count.
    writeText(path, "[Config]\n" + std::string(100'000, 'K') + "=1\nAutoReadFirmware=" +
                        std::string(100'000, 'v') + "\n" + good.substr(9));
    settings = {};
    EXPECT_EQ(mainwin::loadSettings(path, settings), "");
    EXPECT_EQ(settings.defaultFile(FileKind::ReadFirmware), "");
    EXPECT_EQ(settings.defaultFile(FileKind::BootCode), "/boot.bin");
    EXPECT_EQ(settings.areaFlags[1], 0U);

    // Neither a folder nor a FIFO without a writer is read, and neither blocks.
    for (const std::string kind : {"folder", "fifo"}) {
        const std::string other = dir.file(kind);
        ASSERT_EQ(kind == "folder" ? ::mkdir(other.c_str(), 0700) : ::mkfifo(other.c_str(), 0600),
                  0);
        settings.timeoutControl = false;
        EXPECT_NE(mainwin::loadSettings(other, settings).find("not a regular file"),
                  std::string::npos);
        EXPECT_EQ(settings, Settings{}) << kind;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(SettingsFile, AFailedSaveKeepsTheOldFileAndSaysWhy) {
    TempDir dir;
    Settings settings;
    settings.stopOnError = false;

    const std::string folder = dir.file("corvex.INI");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    EXPECT_NE(mainwin::saveSettings(folder, settings).find("not written to " + folder + ": "),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(folder));

    EXPECT_NE(mainwin::saveSettings(dir.file("missing/corvex.INI"), settings), "");

    // A folder the user may not write to (root may write anywhere, so only as a user).
    const std::string locked = dir.file("locked");
    ASSERT_EQ(::mkdir(locked.c_str(), 0700), 0);
    const std::string old = locked + "/corvex.INI";
    writeText(old, "[Config]\nStopOnError=1\n");
    ASSERT_EQ(::chmod(locked.c_str(), 0500), 0);
    if (::geteuid() != 0) {
        EXPECT_NE(mainwin::saveSettings(old, settings).find("Permission denied"),
                  std::string::npos);
        EXPECT_EQ(fileText(old), "[Config]\nStopOnError=1\n");
    }
    (void)::chmod(locked.c_str(), 0700);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"corvex.INI", "locked"}));
}

} // namespace
} // namespace corvex::test
