#include "sim/image_builder.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvex::sim {
namespace {

std::uint32_t littleEndian(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

TEST(ImageBuilder, RefusesWritesOutsideTheImage) {
    ImageBuilder builder(0x20000);
    EXPECT_THROW(builder.putWord(0x1FFFE, 0), std::out_of_range);
    EXPECT_THROW(builder.putChannelTable(kChannelBlock, std::vector<Channel>(1)),
                 std::out_of_range);
    EXPECT_THROW(builder.fill(0x20001, 0, 0), std::out_of_range);
    Channel longName;
    longName.name = "seventeen letters";
    EXPECT_THROW(builder.putChannelTable(kTransponderBlock, std::vector<Channel>{longName}),
                 std::invalid_argument);
    EXPECT_EQ(builder.bytes(), std::vector<std::uint8_t>(0x20000, 0xFF));
}

// The built-in image of either size: the firmware named once in area 0, channel and
// transponder tables whose links and counts agree, code after them and erased space at the end.
TEST(DefaultImage, NamesTheFirmwareOnceAndLinksEveryChannelToATransponderThatCarriesIt) {
    for (const std::size_t size : {0x200000, 0x100000}) {
        SCOPED_TRACE(size);
        const auto image = defaultFirmwareImage(size, "NAME 1.0");
        const std::string text(image.begin(), image.end());
        ASSERT_EQ(image.size(), size);
        const std::size_t at = text.find(std::string("BEGINNING_IDNAME 1.0\0", 21));
        ASSERT_LT(at, 0x8000U);
        EXPECT_EQ(text.find("BEGINNING_ID", at + 1), std::string::npos);
        EXPECT_EQ(text.substr(0x10020, 4), std::string("TPT\0", 4));
        EXPECT_EQ(text.substr(0x20020, 4), std::string("TCS\0", 4));
        const std::uint32_t tptLength = littleEndian(image, 0x10040);
        const std::uint32_t tcsLength = littleEndian(image, 0x20040);
        ASSERT_EQ((tptLength - 4) % 12, 0U);
        ASSERT_EQ((tcsLength - 4) % 30, 0U);
        const std::size_t transponderCount = (tptLength - 4) / 12;
        const std::size_t channelCount = (tcsLength - 4) / 30;
        EXPECT_EQ(transponderCount, 12U);
        EXPECT_GE(channelCount, 24U);
        std::map<std::size_t, std::size_t> carried;
        for (std::size_t i = 0; i < channelCount; ++i) {
            const std::uint8_t index = image[0x20044 + 30 * i + 17];
            if (index != kNoTransponder) {
                ASSERT_GE(index, 1);
                ASSERT_LE(index, transponderCount) << "channel " << i + 1 << " has a broken link";
                ++carried[index];
            }
        }
        for (std::size_t t = 1; t <= transponderCount; ++t) {
            const std::size_t record = 0x10044 + 12 * (t - 1);
            EXPECT_EQ(image[record + 8], carried[t]) << "channel count of transponder " << t;
            EXPECT_NE(image[record + 4] | image[record + 5], 0)
                << "transponder " << t << " has TID 0";
        }
        EXPECT_NE(littleEndian(image, 0x40000), 0xFFFFFFFFU) << "no code after the table blocks";
        EXPECT_TRUE(std::all_of(image.end() - static_cast<std::ptrdiff_t>(size / 4), image.end(),
                                [](std::uint8_t b) { return b == 0xFF; }));
    }
}

} // namespace
} // namespace corvex::sim
