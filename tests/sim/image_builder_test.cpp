#include "sim/image_builder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::sim {
namespace {

std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& bytes, std::size_t offset,
                                std::size_t length) {
    return {bytes.begin() + static_cast<std::ptrdiff_t>(offset),
            bytes.begin() + static_cast<std::ptrdiff_t>(offset + length)};
}

std::uint32_t littleEndian(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

std::uint32_t bigEndian(const std::vector<std::uint8_t>& bytes, std::size_t offset,
                        std::size_t length) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        value = value << 8 | bytes[offset + i];
    }
    return value;
}

std::size_t find(const std::vector<std::uint8_t>& bytes, std::string_view text,
                 std::size_t from = 0) {
    const auto it = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(),
                                text.begin(), text.end());
    return static_cast<std::size_t>(it - bytes.begin());
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
        ASSERT_EQ(image.size(), size);
        const std::size_t at = find(image, "BEGINNING_IDNAME 1.0");
        ASSERT_LT(at, 0x8000U);
        EXPECT_EQ(image[at + 20], 0);
        EXPECT_EQ(find(image, "BEGINNING_ID", at + 1), image.size());
        EXPECT_EQ(slice(image, 0x10020, 4), (std::vector<std::uint8_t>{'T', 'P', 'T', 0}));
        EXPECT_EQ(slice(image, 0x20020, 4), (std::vector<std::uint8_t>{'T', 'C', 'S', 0}));
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
            EXPECT_NE(bigEndian(image, record + 4, 2), 0U) << "transponder " << t << " has TID 0";
        }
        EXPECT_NE(littleEndian(image, 0x40000), 0xFFFFFFFFU) << "no code after the table blocks";
        EXPECT_TRUE(std::all_of(image.end() - static_cast<std::ptrdiff_t>(size / 4), image.end(),
                                [](std::uint8_t b) { return b == 0xFF; }));
    }
}

} // namespace
} // namespace corvex::sim
