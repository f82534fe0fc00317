#include "image_builder.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>
#include <utility>

namespace corvex::sim {

namespace {

constexpr std::uint8_t kErased = 0xFF;

// Shown frequency = stored value + the LNB's local oscillator: 9750 MHz in the low band (tone
// off), 10600 MHz in the high band (tone on).
constexpr std::uint32_t kLowBandOscillator = 9'750'000;
constexpr std::uint32_t kHighBandOscillator = 10'600'000;
constexpr std::uint8_t kTone = 0x01;
constexpr std::uint8_t kHorizontal = 0x02;

constexpr std::uint8_t kChannelParental = 0x01;
constexpr std::uint8_t kChannelFavourite = 0x02;
constexpr std::uint8_t kChannelActive = 0x04;

constexpr std::size_t kChannelsPerTransponder = 3;

// The boot code and its firmware name sit in area 0; the application code starts after the
// table blocks.
constexpr std::size_t kBootCodeLength = 0x7000;
constexpr std::size_t kFirmwareNameOffset = 0x100;
constexpr std::size_t kLoaderOffset = 0xC000;
constexpr std::size_t kLoaderLength = 0x1800;
constexpr std::size_t kApplicationOffset = 0x40000;

std::uint32_t frequencyMhz(std::uint32_t mhz, bool highBand) {
    return mhz * 1000 - (highBand ? kHighBandOscillator : kLowBandOscillator);
}

} // namespace

ImageBuilder::ImageBuilder(std::size_t size) : m_bytes(size, kErased) {}

void ImageBuilder::checkRange(std::size_t offset, std::size_t length) const {
    if (offset > m_bytes.size() || length > m_bytes.size() - offset) {
        throw std::out_of_range("image write of " + std::to_string(length) + " bytes at " +
                                std::to_string(offset) + " leaves the " +
                                std::to_string(m_bytes.size()) + "-byte image");
    }
}

std::uint8_t* ImageBuilder::at(std::size_t offset, std::size_t length) {
    checkRange(offset, length);
    return m_bytes.data() + offset;
}

ImageBuilder& ImageBuilder::fill(std::size_t offset, std::size_t length, std::uint8_t value) {
    std::uint8_t* p = at(offset, length);
    std::fill(p, p + length, value);
    return *this;
}

ImageBuilder& ImageBuilder::putBytes(std::size_t offset, std::span<const std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), at(offset, bytes.size()));
    return *this;
}

ImageBuilder& ImageBuilder::putText(std::size_t offset, std::string_view text) {
    std::copy(text.begin(), text.end(), at(offset, text.size()));
    return *this;
}

ImageBuilder& ImageBuilder::putWord(std::size_t offset, std::uint32_t word) {
    std::uint8_t* p = at(offset, 4);
    for (std::size_t i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(word >> (8 * i));
    }
    return *this;
}

void ImageBuilder::putBigEndian(std::size_t offset, std::uint32_t value, std::size_t bytes) {
    std::uint8_t* p = at(offset, bytes);
    for (std::size_t i = 0; i < bytes; ++i) {
        p[i] = static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i)));
    }
}

ImageBuilder& ImageBuilder::putFirmwareName(std::size_t offset, std::string_view name) {
    checkRange(offset, kFirmwareMarker.size() + name.size() + 1);
    putText(offset, kFirmwareMarker);
    putText(offset + kFirmwareMarker.size(), name);
    m_bytes[offset + kFirmwareMarker.size() + name.size()] = 0;
    return *this;
}

ImageBuilder& ImageBuilder::putCodeLike(std::size_t offset, std::size_t length,
                                        std::uint32_t seed) {
    // Instruction words: a handful of common opcodes in the top byte, operands below, now and
    // then a zero literal; a xorshift generator keeps it repeatable.
    static constexpr std::array<std::uint8_t, 8> kOpcodes{0x27, 0x3C, 0x8F, 0xAF,
                                                          0x24, 0x10, 0x0C, 0x03};
    std::uint8_t* p = at(offset, length);
    std::uint32_t state = seed == 0 ? 0x9E3779B9 : seed;
    for (std::size_t i = 0; i < length; i += 4) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        std::uint32_t word =
            static_cast<std::uint32_t>(kOpcodes[state >> 29]) << 24 | (state & 0x00FFFFFF);
        if ((state & 0x1F) == 0) {
            word = 0;
        }
        for (std::size_t b = 0; b < 4 && i + b < length; ++b) {
            p[i + b] = static_cast<std::uint8_t>(word >> (8 * b));
        }
    }
    return *this;
}

ImageBuilder& ImageBuilder::putTag(std::uint32_t block, std::string_view tag) {
    if (tag.size() > 4) {
        throw std::invalid_argument("a table tag has at most 4 bytes");
    }
    fill(block + kTableTagOffset, 4, 0);
    return putText(block + kTableTagOffset, tag);
}

ImageBuilder& ImageBuilder::putTransponderTable(std::uint32_t block,
                                                std::span<const Transponder> records) {
    const std::size_t start = block + kTableOffset;
    const std::size_t length = 4 + records.size() * kTransponderRecordSize;
    checkRange(start, length);
    putTag(block, kTransponderTag);
    putWord(start, static_cast<std::uint32_t>(length));
    std::size_t offset = start + 4;
    for (const Transponder& t : records) {
        putBigEndian(offset, t.frequency, 4);
        putBigEndian(offset + 4, t.tid, 2);
        putBigEndian(offset + 6, t.nid, 2);
        const std::array<std::uint8_t, 4> tail{t.channelCount, t.symbolRateCode, t.fecCode,
                                               t.flags};
        putBytes(offset + 8, tail);
        offset += kTransponderRecordSize;
    }
    return *this;
}

ImageBuilder& ImageBuilder::putChannelTable(std::uint32_t block, std::span<const Channel> records) {
    const std::size_t start = block + kTableOffset;
    const std::size_t length = 4 + records.size() * kChannelRecordSize;
    checkRange(start, length);
    for (const Channel& c : records) {
        if (c.name.size() > kChannelNameSize) {
            throw std::invalid_argument("channel name '" + c.name + "' is longer than 16 bytes");
        }
    }
    putTag(block, kChannelTag);
    putWord(start, static_cast<std::uint32_t>(length));
    std::size_t offset = start + 4;
    for (const Channel& c : records) {
        fill(offset, kChannelNameSize, 0);
        putText(offset, c.name);
        const std::array<std::uint8_t, 2> bytes{c.flags, c.transponder};
        putBytes(offset + 16, bytes);
        const std::array<std::uint16_t, 6> fields{c.sid, c.vpid, c.apid, c.vecm, c.aecm, c.pcr};
        for (std::size_t i = 0; i < fields.size(); ++i) {
            putBigEndian(offset + 18 + 2 * i, fields[i], 2);
        }
        offset += kChannelRecordSize;
    }
    return *this;
}

ImageBuilder& ImageBuilder::setTableLength(std::uint32_t block, std::uint32_t length) {
    return putWord(block + kTableOffset, length);
}

ImageBuilder& ImageBuilder::zeroTransponder(std::uint32_t block, std::size_t number) {
    if (number == 0) {
        throw std::out_of_range("transponder numbers start at 1");
    }
    return fill(block + kTableOffset + 4 + (number - 1) * kTransponderRecordSize,
                kTransponderRecordSize, 0);
}

ImageBuilder& ImageBuilder::setChannelTransponder(std::uint32_t block, std::size_t number,
                                                  std::uint8_t transponder) {
    if (number == 0) {
        throw std::out_of_range("channel numbers start at 1");
    }
    const std::array<std::uint8_t, 1> index{transponder};
    return putBytes(block + kTableOffset + 4 + (number - 1) * kChannelRecordSize + 17, index);
}

std::vector<Transponder> defaultTransponders() {
    struct Plan {
        std::uint32_t mhz;
        bool highBand;
        bool horizontal;
        std::uint8_t symbolRateCode;
        std::uint8_t fecCode;
    };
    static constexpr std::array<Plan, 12> kPlans{{
        {10744, false, true, 0, 4},
        {10773, false, true, 2, 2},
        {10832, false, true, 2, 3},
        {10862, false, false, 2, 2},
        {11023, false, true, 1, 2},
        {11097, false, false, 2, 2},
        {11303, false, true, 4, 2},
        {11719, true, true, 2, 2},
        {11778, true, false, 2, 2},
        {11836, true, true, 2, 2},
        {12110, true, true, 2, 2},
        {12266, true, true, 0, 4},
    }};
    std::vector<Transponder> transponders;
    std::uint16_t tid = 1001;
    for (const Plan& p : kPlans) {
        Transponder t;
        t.frequency = frequencyMhz(p.mhz, p.highBand);
        t.tid = tid++;
        t.nid = 1;
        t.channelCount = kChannelsPerTransponder;
        t.symbolRateCode = p.symbolRateCode;
        t.fecCode = p.fecCode;
        t.flags =
            static_cast<std::uint8_t>((p.highBand ? kTone : 0) | (p.horizontal ? kHorizontal : 0));
        transponders.push_back(t);
    }
    return transponders;
}

std::vector<Channel> defaultChannels() {
    // Three services per transponder; a name ending in "FM" or "Radio" is sound only.
    static constexpr std::array<const char*, 36> kNames{
        "Aurora 1",      "Aurora 2",         "Aurora Kids",  "Nordwind TV",
        "Kanal Blau",    "Kanal Gelb",       "Sportwelt",    "Sportwelt 2",
        "Welle Nord FM", "Kinowelt",         "Kino Klassik", "Doku Plus",
        "Musik Box",     "Lumen Radio",      "Jazzkanal FM", "Wetter TV",
        "Teleshop 24",   "Reise TV",         "Info 24",      "Landfunk",
        "Ostwind Radio", "Nachrichten Eins", "Serienwelt",   "Krimi Kanal",
        "Tierwelt",      "Garten TV",        "Alpenblick",   "Bergradio FM",
        "Kochkanal",     "Auto TV",          "Technik 24",   "Gala",
        "Tanzradio FM",  "Familie TV",       "Zeichentrick", "Regional 3"};
    std::vector<Channel> channels;
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        const std::size_t transponder = i / kChannelsPerTransponder + 1;
        const std::size_t slot = i % kChannelsPerTransponder;
        const std::string_view name = kNames[i];
        const bool radio = name.ends_with("FM") || name.ends_with("Radio");
        Channel c;
        c.name = name;
        c.transponder = static_cast<std::uint8_t>(transponder);
        c.sid = static_cast<std::uint16_t>(transponder * 100 + slot + 1);
        c.flags = kChannelActive;
        const auto pidBase = static_cast<std::uint16_t>(0x100 + 0x10 * slot + transponder);
        if (radio) {
            c.apid = static_cast<std::uint16_t>(pidBase + 0x200);
            c.pcr = c.apid;
        } else {
            c.vpid = pidBase;
            c.apid = static_cast<std::uint16_t>(pidBase + 0x100);
            c.pcr = pidBase;
        }
        // The sport and cinema services are scrambled: they carry ECM PIDs.
        if (name.starts_with("Sport") || name.starts_with("Kino")) {
            c.vecm = static_cast<std::uint16_t>(0x1700 + i);
            c.aecm = static_cast<std::uint16_t>(0x1780 + i);
        }
        if (i < 4) {
            c.flags |= kChannelFavourite;
        }
        if (name.starts_with("Krimi")) {
            c.flags |= kChannelParental;
        }
        channels.push_back(c);
    }
    // Two cleared slots at the end, as a receiver leaves deleted channels.
    for (int i = 0; i < 2; ++i) {
        Channel empty;
        empty.vpid = 0;
        channels.push_back(empty);
    }
    return channels;
}

std::vector<std::uint8_t> defaultFirmwareImage(std::size_t size, std::string_view firmwareName) {
    if (size < 2 * kApplicationOffset) {
        throw std::invalid_argument("the default image needs at least 512 KiB");
    }
    ImageBuilder image(size);
    image.putCodeLike(0, kBootCodeLength, 0x0B007);
    image.putFirmwareName(kFirmwareNameOffset, firmwareName);
    image.putCodeLike(kLoaderOffset, kLoaderLength, 0x10AD);
    const std::vector<Transponder> transponders = defaultTransponders();
    const std::vector<Channel> channels = defaultChannels();
    image.putTransponderTable(kTransponderBlock, transponders);
    image.putChannelTable(kChannelBlock, channels);
    // The application fills five eighths of what follows, ending on a 4 KiB boundary; the rest
    // stays erased.
    const std::size_t applicationLength = (size - kApplicationOffset) * 5 / 8 & ~std::size_t{0xFFF};
    image.putCodeLike(kApplicationOffset, applicationLength, 0xA991);
    return std::move(image).take();
}

std::vector<Transponder> generatedTransponders(std::size_t count) {
    if (count > 254) {
        throw std::invalid_argument("a channel can refer to at most 254 transponders");
    }
    std::vector<Transponder> transponders(count);
    for (std::size_t i = 0; i < count; ++i) {
        Transponder& t = transponders[i];
        const bool highBand = i % 2 == 1;
        t.frequency =
            frequencyMhz(static_cast<std::uint32_t>((highBand ? 11700 : 10700) + 2 * i), highBand);
        t.tid = static_cast<std::uint16_t>(i + 1);
        t.nid = 1;
        t.symbolRateCode = 2;
        t.fecCode = 2;
        t.flags = static_cast<std::uint8_t>((highBand ? kTone : 0) | (i % 4 < 2 ? kHorizontal : 0));
    }
    return transponders;
}

std::vector<Channel> generatedChannels(std::size_t count, std::size_t transponderCount) {
    if (transponderCount == 0 || transponderCount > 254) {
        throw std::invalid_argument("channels need 1 to 254 transponders");
    }
    std::vector<Channel> channels(count);
    for (std::size_t i = 0; i < count; ++i) {
        Channel& c = channels[i];
        c.name = "Channel " + std::to_string(i + 1);
        c.transponder = static_cast<std::uint8_t>(i * transponderCount / count + 1);
        c.sid = static_cast<std::uint16_t>(i + 1);
        c.flags = static_cast<std::uint8_t>(kChannelActive | (i % 7 == 0 ? kChannelFavourite : 0));
        const auto pid = static_cast<std::uint16_t>(0x100 + i % 0x1E00);
        if (i % 5 == 4) {
            c.apid = pid;
        } else {
            c.vpid = pid;
            c.apid = static_cast<std::uint16_t>(pid + 1);
        }
        c.pcr = pid;
    }
    return channels;
}

std::vector<std::uint8_t> channelTableImage(std::size_t size,
                                            std::span<const Transponder> transponders,
                                            std::span<const Channel> channels) {
    ImageBuilder image(size);
    image.putTransponderTable(kTransponderBlock, transponders);
    image.putChannelTable(kChannelBlock, channels);
    return std::move(image).take();
}

} // namespace corvex::sim
