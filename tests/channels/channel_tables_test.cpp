#include "channels/channel_csv.h"
#include "channels/channel_tables.h"
#include "channels/image_writer.h"
#include "sim/image_builder.h"
#include "tests/link/temp_dir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <variant>
#include <vector>

namespace corvex::test {
namespace {

using channels::ChannelTables;
using channels::DisplayMode;
using channels::Line;
using sim::kChannelBlock;
using sim::kSpareTableBlock;
using sim::kTransponderBlock;

constexpr std::size_t kImageSize = 0x40000;
constexpr std::uint32_t kFirstChannel = kChannelBlock + 0x44;
constexpr std::uint32_t kFirstTransponder = kTransponderBlock + 0x44;

struct Loaded {
    channels::LoadResult result;
    std::vector<std::string> warnings;
    [[nodiscard]] const ChannelTables& tables() const {
        const auto* tables = std::get_if<ChannelTables>(&result);
        if (tables == nullptr) {
            ADD_FAILURE() << "no tables: " << std::get<channels::LoadFailure>(result).text;
            static const ChannelTables none;
            return none;
        }
        return *tables;
    }
};

Loaded load(std::span<const std::uint8_t> image, DisplayMode mode = DisplayMode::Decimal) {
    Loaded loaded;
    loaded.result = channels::loadChannelTables(
        image, mode, [&](const std::string& text) { loaded.warnings.push_back(text); });
    return loaded;
}

sim::Channel channel(std::string name, std::uint8_t transponder = 1) {
    sim::Channel c;
    c.name = std::move(name);
    c.transponder = transponder;
    c.vpid = 0x100;
    return c;
}

sim::ImageBuilder imageWith(const std::vector<sim::Transponder>& transponders,
                            const std::vector<sim::Channel>& channels);
sim::ImageBuilder imageWith(const std::vector<sim::Channel>& channels) {
    return imageWith(sim::generatedTransponders(3), channels);
}

TEST(ChannelTableLocation, ALaterBlockOverridesAnEarlierOneWithTheSameTag) {
    sim::ImageBuilder image = imageWith({channel("Early")});
    image.putChannelTable(kSpareTableBlock, std::vector{channel("Late"), channel("Later")});
    const Loaded loaded = load(image.bytes());
    ASSERT_EQ(loaded.tables().channels.size(), 2u);
    EXPECT_EQ(loaded.tables().channels[0].text.substr(0, 16), "Late            ");
    EXPECT_EQ(loaded.tables().channels[1].reference, kSpareTableBlock + 0x44 + 30);
}

TEST(ChannelTableLocation, WithoutBothTagsNothingLoads) {
    const auto failsWith = [](std::span<const std::uint8_t> bytes, const char* what) {
        const Loaded loaded = load(bytes);
        const auto* failure = std::get_if<channels::LoadFailure>(&loaded.result);
        ASSERT_NE(failure, nullptr) << what;
        EXPECT_EQ(failure->text, "No valid TCS or TPT Tables found !") << what;
        EXPECT_EQ(failure->title, "Error") << what;
    };
    // The tag is four bytes with its NUL: "TPTX" names no table.
    sim::ImageBuilder image = imageWith({channel("A")});
    image.putTag(kTransponderBlock, "TPTX");
    failsWith(image.bytes(), "tag followed by a non-NUL byte");
    failsWith(sim::ImageBuilder(kImageSize).bytes(), "erased image");
    failsWith({}, "empty file");
    // Cut off inside the channel block's tag.
    failsWith(std::span(imageWith({channel("A")}).bytes()).first(kChannelBlock + 0x22),
              "file ending inside a tag");
}

TEST(ChannelTableLengths, TheLengthBoundsTheTableAndTheFileBoundsTheLength) {
    // Five records stand in the table; the file (size 0: the whole image) may cut them off.
    const std::size_t tableEnd = kFirstChannel + 5 * 30;
    const std::tuple<const char*, std::uint32_t, std::size_t, std::size_t> cases[] = {
        {"exact", 4 + 5 * 30, 0, 5},
        {"length 4 still reads the first record", 4, 0, 1},
        {"length 0", 0, 0, 1},
        {"a partial record counts", 4 + 2 * 30 + 1, 0, 3},
        {"past the end of the file ends at the end", 0xFFFF, tableEnd + 29, 5},
        {"near 2^32", 0xFFFFFFFF, tableEnd + 30, 6},
        {"file ends inside the first record", 4 + 5 * 30, kFirstChannel + 10, 0},
        {"file ends inside the length", 4 + 5 * 30, kFirstChannel - 2, 0},
    };
    std::vector<sim::Channel> five;
    for (int i = 0; i < 5; ++i) {
        five.push_back(channel(std::string("C").append(std::to_string(i))));
    }
    for (const auto& [what, length, fileSize, count] : cases) {
        sim::ImageBuilder image = imageWith(five);
        image.setTableLength(kChannelBlock, length);
        const std::span<const std::uint8_t> bytes = image.bytes();
        const Loaded loaded = load(fileSize != 0 ? bytes.first(fileSize) : bytes);
        EXPECT_EQ(loaded.tables().channels.size(), count) << what;
        EXPECT_EQ(loaded.tables().transponders.size(), 4u) << what;
    }
}

TEST(ChannelLines, NamesAreCleanedAndLeftAligned) {
    using namespace std::string_literals;
    const std::pair<std::string, std::string> cases[] = {
        {"  ABC\0\0\0"s, "ABC"},
        {std::string(16, ' '), ""},
        {"A;B\200C", "A B C"},
        {"AB\0CD"s, "AB"},
        {"\1\37Z\177"s, "Z"},
        {"", ""},
        {"Sixteen chars ok", "Sixteen chars ok"},
    };
    for (const auto& [stored, shown] : cases) {
        const Loaded loaded = load(imageWith({channel(stored)}).bytes());
        EXPECT_EQ(loaded.tables().channels.at(0).text.substr(0, 17),
                  shown + std::string(16 - shown.size(), ' ') + ";")
            << shown;
    }
}

TEST(ChannelLines, CategoryFollowsThePids) {
    constexpr std::uint16_t none = 0xFFFF;
    struct Case {
        std::uint16_t sid, vpid, apid, pcr;
        char category;
    };
    const Case cases[] = {
        {1, 0x100, 0x101, 0x100, '1'}, {1, 0, 0x101, none, '0'},   {1, none, 0x101, none, '2'},
        {0, none, none, 0x200, '4'},   {7, none, none, none, '3'}, {0, none, none, none, '0'},
    };
    for (const Case& c : cases) {
        // Stored bits 4-7 never leak into the line.
        const sim::Channel ch{.name = "X",
                              .flags = 0xF0,
                              .transponder = 1,
                              .sid = c.sid,
                              .vpid = c.vpid,
                              .apid = c.apid,
                              .pcr = c.pcr};
        const Loaded loaded = load(imageWith({ch}).bytes());
        EXPECT_EQ(loaded.tables().channels.at(0).text[17], c.category)
            << c.sid << " " << c.vpid << " " << c.apid << " " << c.pcr;
    }
}

TEST(ChannelLines, FieldsStandAtTheirPositionsInBothModes) {
    // Parental and active.
    const sim::Channel ch{
        .name = "Kanal", .flags = 0x05, .transponder = 3, .sid = 0x01FF, .vpid = 0, .pcr = 0x1234};
    const std::vector<std::uint8_t> image = imageWith({ch}).take();
    const Loaded dec = load(image, DisplayMode::Decimal);
    const Loaded hex = load(image, DisplayMode::Hexadecimal);
    EXPECT_EQ(dec.tables().channels.at(0).text,
              "Kanal           ;0;0;1;1;  3;  511;    0;    -;    -;    -; 4660;");
    EXPECT_EQ(hex.tables().channels.at(0).text,
              "Kanal           ;0;0;1;1;  3;01FF ;0000 ;   - ;   - ;   - ;1234 ;");
    EXPECT_EQ(channels::fieldNumber(dec.tables().channels[0].text, channels::channel_field::kSid),
              511);
    EXPECT_EQ(channels::fieldNumber(hex.tables().channels[0].text, channels::channel_field::kSid),
              std::nullopt);
}

// A PID field holds one 16-bit word: a larger number typed into it is refused, never cut.
TEST(ChannelLines, APidFieldReadsBackOnlyWhatAWordHolds) {
    const std::tuple<std::string_view, DisplayMode, std::optional<std::uint16_t>> cases[] = {
        {"65535", DisplayMode::Decimal, 0xFFFF},
        {"65536", DisplayMode::Decimal, std::nullopt},
        {"99999", DisplayMode::Decimal, std::nullopt},
        {" 12x", DisplayMode::Decimal, std::nullopt},
        {"FFFF ", DisplayMode::Hexadecimal, 0xFFFF},
        {"10000", DisplayMode::Hexadecimal, std::nullopt},
        {"   - ", DisplayMode::Hexadecimal, channels::kNoPid},
    };
    for (const auto& [field, mode, value] : cases) {
        EXPECT_EQ(channels::xswapValue(field, mode), value) << field;
    }
}

// Three transponders, or the ones given, and the channels given, in the usual blocks.
sim::ImageBuilder imageWith(const std::vector<sim::Transponder>& transponders,
                            const std::vector<sim::Channel>& channels) {
    sim::ImageBuilder image(kImageSize);
    image.putTransponderTable(kTransponderBlock, transponders);
    image.putChannelTable(kChannelBlock, channels);
    return image;
}

TEST(TransponderLines, FrequencyAddsTheOscillatorOfTheToneBand) {
    for (const auto& [flags, shown] :
         {std::pair<std::uint8_t, const char*>{0x01, "  11700.000"}, {0x00, "  10850.000"}}) {
        // 0x0010C8E0: 1,100,000 kHz
        const sim::Transponder t{.frequency = 0x0010C8E0, .tid = 0xABCD, .flags = flags};
        const Loaded loaded = load(imageWith({t}, {channel("A")}).bytes());
        const Line& line = loaded.tables().transponders.at(0);
        EXPECT_EQ(line.text.substr(7, 11), shown);
        EXPECT_EQ(line.text.size(), 59u);
        EXPECT_EQ(line.reference, kFirstTransponder | 0x01000000);
    }
}

TEST(TransponderLines, ZeroRecordsStillNeededByAChannelRaiseOneWarningEach) {
    sim::ImageBuilder image = imageWith(sim::generatedTransponders(8),
                                        {channel("A", 1), channel("B", 5), channel("E", 255)});
    // Numbers 2 and 5 are needed (the highest in use is 5); number 7 is not.
    image.zeroTransponder(kTransponderBlock, 2)
        .zeroTransponder(kTransponderBlock, 5)
        .zeroTransponder(kTransponderBlock, 7);
    const Loaded loaded = load(image.bytes());
    ASSERT_EQ(loaded.warnings.size(), 2u);
    EXPECT_EQ(loaded.warnings[0], "TPT Interpreter failure detected.\r\rTPT last Index = "
                                  "1\rLink needed for TPT Index = 5\rTID=0");
    EXPECT_NE(loaded.warnings[1].find("TPT last Index = 4\r"), std::string::npos);
    // The damaged records are listed all the same.
    EXPECT_EQ(loaded.tables().transponders.size(), 9u);
}

TEST(TransponderLines, EmptyChannelsNeedNoTransponder) {
    // No channel needs a link: references 0, and a zero transponder table warns of nothing.
    const Loaded loaded =
        load(imageWith(std::vector<sim::Transponder>(3), std::vector(255, channel("Empty", 255)))
                 .bytes());
    EXPECT_TRUE(loaded.warnings.empty());
    ASSERT_EQ(loaded.tables().channels.size(), 255u);
    for (const Line& line : loaded.tables().channels) {
        EXPECT_EQ(line.reference, 0u);
        EXPECT_EQ(line.text.size(), 65u);
    }
    const Line& last = loaded.tables().transponders.back();
    EXPECT_EQ(last.text, " 255;Empty Channel;    0;    0;     0;     0;     0;     0;");
    EXPECT_EQ(last.reference, 0x01000000u);
}

TEST(TransponderLines, RecordsPastThe254thAreLeftOutWithAWarning) {
    const sim::Transponder record{.frequency = 1'000'000, .tid = 1, .nid = 1, .channelCount = 1};
    for (const std::size_t records : {254U, 300U}) {
        const Loaded loaded = load(imageWith(std::vector(records, record), {channel("A")}).bytes());
        EXPECT_EQ(loaded.tables().transponders.size(), 255U);
        EXPECT_EQ(loaded.warnings,
                  records == 254 ? std::vector<std::string>{}
                                 : std::vector<std::string>{
                                       "TPT holds 300 records; a channel can only refer to the "
                                       "first 254, the other 46 were not loaded."});
    }
}

TEST(TransponderColumns, CodesAreDecodedAndBlankForAZeroTid) {
    EXPECT_EQ(channels::symbolRateText(0x10), " 0x10 ?");
    EXPECT_EQ(channels::flagsText(0x00), "Off/Down  V  Ku  LNB-1");
    EXPECT_EQ(channels::flagsText(0xFF), " On/Up    H  C  LNB-2  FF");
    const sim::Transponder live{.tid = 1, .symbolRateCode = 4, .fecCode = 9, .flags = 0x13};
    // A zero record: "0000 " in hexadecimal mode reads as 0 too.
    const Loaded loaded =
        load(imageWith({live, {}}, {channel("A")}).bytes(), DisplayMode::Hexadecimal);
    const auto shown = [&](std::size_t i) {
        const auto c = channels::decodeTransponderColumns(loaded.tables().transponders.at(i).text);
        return c.symbolRate + "|" + c.fec + "|" + c.flags;
    };
    EXPECT_EQ(shown(0), "30000|09?| On/Up    H  Ku  LNB-1  13");
    EXPECT_EQ(shown(1), "||");
}

TEST(ImageFiles, OnlyARegularFileUpToTheLimitIsAnImage) {
    TempDir dir;
    const std::vector<std::uint8_t> bytes = imageWith({channel("A")}).take();
    writeBytes(dir.file("image.bin"), bytes);
    EXPECT_EQ(channels::readImageFile(dir.file("image.bin")), bytes);
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0); // would block a plain open
    std::ofstream(dir.file("huge.bin")).put('x');
    std::filesystem::resize_file(dir.file("huge.bin"),
                                 channels::kMaxImageFileBytes + 1); // sparse: nothing written
    const std::pair<std::string, std::string> refused[] = {
        {dir.file("missing.bin"),
         "cannot open " + dir.file("missing.bin") + ": No such file or directory"},
        {"/dev/zero", "/dev/zero is not a regular file"},
        {dir.file("fifo"), dir.file("fifo") + " is not a regular file"},
        {dir.file("huge.bin"),
         dir.file("huge.bin") + " is larger than 64 MiB, too large for a firmware image"},
    };
    for (const auto& [name, reason] : refused) {
        std::string error;
        EXPECT_EQ(channels::readImageFile(name, &error), std::nullopt) << name;
        EXPECT_EQ(error, reason);
    }
}

TEST(ChannelCsv, RowsFollowTheGivenOrderWithTheirTransponderJoinedIn) {
    const std::vector<Line> transponders = {
        {"   1;    11700.000; 1002;    1;     3;     2;     2;     3;", 0x01010050},
        {"", 0x02000000}, // an expansion line is skipped
        {std::string(channels::kEmptyChannelLine), 0x01000000},
    };
    const std::vector<Line> list = {
        {"Kanal \"1\", Nord ;1;1;0;1;  1;  511;  256;  257;    -;    -;  256;", 0x20044},
        {std::string(channels::kClearedChannelLine), 0},
    };
    EXPECT_EQ(channels::channelListCsv(list, transponders),
              "Number,Name,Favourite,Parental,Active,Category,Transponder,SID,VPID,APID,VECM,"
              "AECM,PCR,Frequency (MHz),Polarisation,Symbol rate\r\n"
              "1,\"Kanal \"\"1\"\", Nord\",1,0,1,1,1,511,256,257,-,-,256,11700.000,H,27500\r\n"
              "2,,0,0,0,0,255,0,0,-,-,-,-,,,\r\n");
    // Fields a spreadsheet would run as a formula are written as text.
    const std::pair<std::string, std::string> names[] = {
        {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
        {"+cmd|' /C calc'", "'+cmd|' /C calc'"},
        {"\tcmd", "'\tcmd"},
        {"-2+3", "'-2+3"},
        {"@SUM(A1:A9)", "'@SUM(A1:A9)"},
        {"-12.5", "-12.5"},
        {"-", "-"},
        {"Sky=Blue + 1", "Sky=Blue + 1"},
        {" =spaced", " =spaced"},
    };
    for (const auto& [name, field] : names) {
        const std::string text = name + std::string(16 - name.size(), ' ');
        const std::vector<Line> list{
            {text + ";1;1;0;1;  1;  511;  256;  257;    -;    -;  256;", 0x20044}};
        const std::string csv = channels::channelListCsv(list, transponders);
        EXPECT_EQ(csv.substr(csv.find("\r\n") + 2, field.size() + 3), "1," + field + ",") << name;
    }
}

TEST(ChannelCsv, RecordsAreReadAsRfc4180WithEitherLineEnd) {
    using Records = std::vector<std::vector<std::string>>;
    const std::pair<std::string_view, Records> cases[] = {
        {"", {}},
        {"a,b\r\n1,2\r\n", {{"a", "b"}, {"1", "2"}}},
        {"a,b\n1,2", {{"a", "b"}, {"1", "2"}}},
        {"\xEF\xBB\xBF"
         "a,,\n",
         {{"a", "", ""}}},
        {"\"Kanal \"\"1\"\", Nord\",x\n", {{"Kanal \"1\", Nord", "x"}}},
        {"\"two\r\nlines\",y\r\n\r\n", {{"two\r\nlines", "y"}, {""}}},
        {"\"open", {{"open"}}},
    };
    for (const auto& [csv, records] : cases) {
        EXPECT_EQ(channels::readCsvRecords(csv), records) << csv;
    }
}

// Channels C1..C6 on transponders 1 to 3, and two cleared ones (transponder 255, SID 0).
std::vector<Line> orderedList(DisplayMode mode) {
    std::vector<sim::Channel> list;
    for (int i = 1; i <= 6; ++i) {
        sim::Channel c = channel(std::string("C").append(std::to_string(i)),
                                 static_cast<std::uint8_t>(1 + i % 3));
        c.sid = static_cast<std::uint16_t>(0x100 + i);
        list.push_back(c);
    }
    std::vector<Line> lines = load(imageWith(list).bytes(), mode).tables().channels;
    lines.insert(lines.begin() + 2, Line{std::string(channels::kClearedChannelLine), 0});
    lines.push_back(Line{std::string(channels::kClearedChannelLine), 0});
    return lines;
}

std::vector<std::string> shortNames(const std::vector<Line>& lines) {
    std::vector<std::string> shown;
    for (const Line& line : lines) {
        std::string name = line.text.substr(0, 16);
        name.erase(name.find_last_not_of(' ') + 1);
        shown.push_back(name.empty() ? "-" : name);
    }
    return shown;
}

TEST(ChannelOrder, ACsvArrangesTheListByTransponderAndSid) {
    using Names = std::vector<std::string>;
    for (const DisplayMode mode : {DisplayMode::Decimal, DisplayMode::Hexadecimal}) {
        const std::vector<Line> list = orderedList(mode);
        const std::string sid4 = mode == DisplayMode::Decimal ? "260" : "0104";
        const std::string header = "Number,Name,Favourite,Parental,Active,Category,Transponder,SID";
        const std::tuple<const char*, std::string, Names, std::size_t> cases[] = {
            {"the export itself", channels::channelListCsv(list, {}),
             Names{"C1", "C2", "-", "C3", "C4", "C5", "C6", "-"}, 0},
            {"rows moved and deleted", header + "\r\n8,C4,1,0,1,1,2," + sid4 + "\r\n1,,,,,,255,0\n",
             Names{"C4", "-", "C1", "C2", "C3", "C5", "C6", "-"}, 0},
            {"columns found by the header",
             "SID,Transponder\r\n" + sid4 + ",2\r\n0,255\r\n0,255\r\n0,255\r\n",
             Names{"C4", "-", "-", "C1", "C2", "C3", "C5", "C6"}, 1},
            {"without a header, the export's columns", "4,C4,1,0,1,1,2," + sid4 + "\n",
             Names{"C4", "C1", "C2", "-", "C3", "C5", "C6", "-"}, 0},
            {"rows that match nothing", header + "\n1,X,0,0,0,0,3," + sid4 + "\n2,Y,,,,,,\n",
             Names{"C1", "C2", "-", "C3", "C4", "C5", "C6", "-"}, 2},
        };
        for (const auto& [what, csv, order, warnings] : cases) {
            const channels::ArrangedList arranged = channels::arrangeByCsv(list, csv, mode);
            EXPECT_EQ(shortNames(arranged.channels), order) << what;
            EXPECT_EQ(arranged.warnings.size(), warnings) << what;
        }
        // Every line keeps its record: the round trip is the list itself.
        EXPECT_EQ(channels::arrangeByCsv(list, channels::channelListCsv(list, {}), mode).channels,
                  list);
    }
    const auto warned = channels::arrangeByCsv(orderedList(DisplayMode::Decimal),
                                               "1,X,0,0,0,0,3,99\n", DisplayMode::Decimal);
    EXPECT_EQ(warned.warnings,
              std::vector<std::string>{
                  "row 1 (transponder \"3\", SID \"99\") matches no channel left in the list"});
}

TEST(ChannelCsv, WritingReplacesTheFileOnlyWhenComplete) {
    TempDir dir;
    const std::string path = dir.file("list.csv");
    std::ofstream(path) << "old";
    const std::vector<Line> list = {{std::string(channels::kClearedChannelLine), 0}};
    std::string error;
    ASSERT_TRUE(channels::writeChannelListCsv(path, list, {}, error)) << error;
    EXPECT_EQ(dir.names(), std::vector<std::string>{"list.csv"});
    EXPECT_EQ(readBytes(path).front(), 'N'); // "Number,Name,...", not "old"
    EXPECT_FALSE(channels::writeChannelListCsv(dir.file("missing/list.csv"), list, {}, error));
    EXPECT_EQ(error,
              "cannot write " + dir.file("missing/list.csv") + ": No such file or directory");
}

// Flag bit 3 (kept, never shown) on channel 1, a named channel without transponder; on disk.
struct SavedImage {
    SavedImage() { writeBytes(source, bytes); }
    TempDir dir;
    std::string source = dir.file("source.bin");
    std::vector<std::uint8_t> bytes =
        imageWith({{.name = "Alpha", .flags = 0x0E, .transponder = 1, .vpid = 0x100},
                   channel("Beta", 2),
                   channel("Gamma", 3),
                   {.name = "Idle", .vpid = 0x100, .apid = 0x1FF}})
            .take();
};

// A new image once replaced a symbolic link, and an old image's mode, with the default mode.
TEST(ChannelImageSave, ALinkIsFollowedAndTheOldImageKeepsItsMode) {
    SavedImage image;
    const std::vector<Line> list = load(image.bytes).tables().channels;
    const std::string real = image.dir.file("real.bin");
    writeBytes(real, {1, 2, 3});
    std::filesystem::permissions(real, std::filesystem::perms(0640));
    const std::string link = image.dir.file("link.bin");
    std::filesystem::create_symlink("real.bin", link);
    for (const std::string& target : {real, link}) {
        std::string error;
        ASSERT_TRUE(channels::saveListIntoImage(image.bytes, image.source, target, list,
                                                DisplayMode::Decimal, error))
            << error;
        EXPECT_EQ(readBytes(real), image.bytes) << target; // the list as loaded: the source
        EXPECT_EQ(std::filesystem::status(real).permissions(), std::filesystem::perms(0640))
            << target;
        EXPECT_TRUE(std::filesystem::is_symlink(link)) << target;
    }
}

TEST(ChannelImageSave, RefusalsLeaveNoFileBehindAndTheTargetUntouched) {
    SavedImage image;
    const std::vector<Line> list = load(image.bytes).tables().channels;
    const std::string target = image.dir.file("target.bin");
    writeBytes(target, {1, 2, 3});
    std::vector<Line> tooMany((0xFFC0 - 4) / 30 + 1, list.front()); // one past the block
    std::vector<Line> wrongRecord = list;
    wrongRecord[0].record = wrongRecord[1].record; // reads back as Beta, not Alpha
    const std::tuple<const char*, std::string, std::vector<Line>, std::string> cases[] = {
        {"the source itself", image.dir.file("./source.bin"), list, "not saved over the image"},
        {"an unwritable folder", image.dir.file("missing/target.bin"), list, "cannot create"},
        {"a table past its block", target, tooMany, "no longer fits"},
        {"an empty list", target, {}, "empty channel list"},
        {"a list the image does not give back", target, wrongRecord, "did not hold"},
    };
    for (const auto& [what, to, lines, expected] : cases) {
        std::string error;
        SCOPED_TRACE(what);
        EXPECT_FALSE(channels::saveListIntoImage(image.bytes, image.source, to, lines,
                                                 DisplayMode::Decimal, error));
        EXPECT_NE(error.find(expected), std::string::npos) << error;
        EXPECT_EQ(readBytes(target), (std::vector<std::uint8_t>{1, 2, 3}));
        EXPECT_EQ(readBytes(image.source), image.bytes);
        EXPECT_EQ(image.dir.names(), (std::vector<std::string>{"source.bin", "target.bin"}));
    }
    tooMany.pop_back(); // exactly the block
    std::string error;
    EXPECT_TRUE(channels::saveListIntoImage(image.bytes, image.source, target, tooMany,
                                            DisplayMode::Decimal, error))
        << error;
}

struct OddImage {
    std::string what;
    std::vector<std::uint8_t> bytes;
};

// Images holding what a writer working from the lines' texts would lose or tidy (hidden bits,
// raw names, a full block, odd or cut lengths, a table over another's tag).
std::vector<OddImage> oddImages() {
    std::vector<OddImage> images;
    images.push_back({"built-in", sim::defaultFirmwareImage(0x80000, "TEST")});
    std::vector<sim::Channel> odd = {channel("Plain"), channel("Idle", sim::kNoTransponder),
                                     channel("  Spaced", sim::kNoTransponder), channel("Raw"),
                                     channel("Lost", 9)};
    odd[1].flags = 0x0F;
    odd[2].flags = 0x08;
    odd[2].name = std::string("  A;b\x80\x01\0tail", 12);
    odd[3].name = std::string("Raw\0\x7F\xFFzz", 8);
    odd[4].flags = 0xFF;
    images.push_back({"odd records", imageWith(odd).take()});
    images.push_back({"the most channels the block takes",
                      sim::channelTableImage(kImageSize, sim::generatedTransponders(3),
                                             sim::generatedChannels((0x10000 - 0x44) / 30, 3))});
    for (const std::uint32_t length : {4, 4 + 2 * 30 + 7}) { // none, or a partial record
        sim::ImageBuilder image = imageWith(odd);
        image.setTableLength(kChannelBlock, length);
        images.push_back({"length " + std::to_string(length), std::move(image).take()});
    }
    std::vector<std::uint8_t> cut = imageWith(odd).take();
    cut.resize(kFirstChannel + 3 * 30 + 7);
    images.push_back({"cut by the end of the file", std::move(cut)});
    // The last two records run over the tag of the transponder table in the spare block.
    sim::ImageBuilder into(kImageSize);
    into.putChannelTable(kChannelBlock, sim::generatedChannels(2184, 3))
        .putTransponderTable(kSpareTableBlock, sim::generatedTransponders(3));
    images.push_back({"a table into another table's block", std::move(into).take()});
    return images;
}

TEST(ChannelImageSave, AnEditChangesOnlyTheRecordsThatChangedAndTheLengthWithTheCount) {
    const struct {
        const char* what;
        std::size_t needs; // channels in the list
        void (*edit)(std::vector<Line>&);
    } edits[] = {
        {"unchanged: the source byte for byte", 0, [](auto&) {}},
        {"first and last swapped", 2, [](auto& l) { std::swap(l.front(), l.back()); }},
        {"reversed", 2, [](auto& l) { std::reverse(l.begin(), l.end()); }},
        {"second deleted", 2, [](auto& l) { l.erase(l.begin() + 1); }},
        {"second cleared", 2,
         [](auto& l) {
             l[1] = Line{std::string(channels::kClearedChannelLine), 0};
         }},
        {"first copied to the end", 1, [](auto& l) { l.push_back(l.front()); }},
    };
    std::vector<std::pair<OddImage, DisplayMode>> runs;
    for (OddImage& image : oddImages()) {
        runs.emplace_back(image, DisplayMode::Decimal);
        runs.emplace_back(std::move(image), DisplayMode::Hexadecimal);
    }
    for (const auto& [image, mode] : runs) {
        const std::vector<Line> loaded = load(image.bytes, mode).tables().channels;
        const auto place = channels::locateChannelTable(image.bytes);
        ASSERT_TRUE(place) << image.what;
        for (const auto& [what, needs, edit] : edits) {
            if (loaded.size() < needs) {
                continue;
            }
            std::vector<Line> list = loaded;
            edit(list);
            std::string error;
            const auto stored = channels::imageWithChannels(image.bytes, list, mode, error);
            if (!stored) {
                EXPECT_TRUE(needs > 0 &&
                            (error.find("no longer fits") != std::string::npos ||
                             error.find("into the block of another table") != std::string::npos))
                    << image.what << ", " << what << ": " << error;
                continue;
            }
            // The image gives back the list; a cleared line reads as stored in its mode.
            const std::vector<Line> read = load(*stored, mode).tables().channels;
            ASSERT_EQ(read.size(), list.size()) << image.what << ", " << what;
            for (std::size_t i = 0; i < list.size(); ++i) {
                EXPECT_EQ(read[i].text, channels::storedLineText(list[i], mode)) << what << i;
            }
            const std::size_t records = place->start + 4;
            for (std::size_t i = 0; i < image.bytes.size(); ++i) {
                if ((*stored)[i] == image.bytes[i]) {
                    continue;
                }
                const std::size_t slot = (i - records) / 30;
                const bool lengthField = i >= place->start && i < records;
                const bool changedRecord = i >= records && slot < list.size() &&
                                           (slot >= loaded.size() || list[slot] != loaded[slot]);
                ASSERT_TRUE(lengthField ? list.size() != loaded.size() : changedRecord)
                    << image.what << ", " << what << ": byte " << i << " changed";
            }
        }
    }
}

TEST(ChannelImageSave, ARecordThatWouldSpellATableTagIsRefused) {
    // Record 2184's name bytes 10-13 lie on the spare block's tag: "ChannelXYZTCS" would spell it.
    const std::vector<std::uint8_t> source = sim::channelTableImage(
        kImageSize, sim::generatedTransponders(3), sim::generatedChannels(2200, 3));
    std::vector<Line> list = load(source).tables().channels;
    ASSERT_EQ(list.size(), 2200U);
    sim::ImageBuilder one(kImageSize);
    one.putTransponderTable(kTransponderBlock, sim::generatedTransponders(1));
    sim::Channel tagged = channel("ChannelXYZTCS", sim::kNoTransponder);
    one.putChannelTable(kChannelBlock, std::vector<sim::Channel>{tagged});
    list[2183] = load(one.bytes()).tables().channels.front();
    ASSERT_EQ(kChannelBlock + 0x44 + 2183 * 30 + 10, kSpareTableBlock + 0x20);
    std::string error;
    EXPECT_FALSE(channels::imageWithChannels(source, list, DisplayMode::Decimal, error));
    EXPECT_NE(error.find("marks its tables"), std::string::npos) << error;
}

} // namespace
} // namespace corvex::test
