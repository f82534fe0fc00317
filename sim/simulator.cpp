#include "simulator.h"

#include "image_builder.h"
#include "link/jobs/flash_chips.h"
#include "link/jobs/replacing_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

namespace corvex::sim {

namespace {

namespace fs = std::filesystem;

bool parseAdapterType(std::string_view text, AdapterType& type) {
    if (text == "revb") {
        type = AdapterType::RevB;
    } else if (text == "compatible") {
        type = AdapterType::Compatible;
    } else if (text == "unknown") {
        type = AdapterType::Unknown;
    } else if (text == "absent") {
        type = AdapterType::Absent;
    } else {
        return false;
    }
    return true;
}

template <typename Number> bool parseNumber(std::string_view text, Number& value, int base = 10) {
    const char* const end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    return !text.empty() && ec == std::errc() && ptr == end;
}

// "a,b,c" into numbers; all or nothing, so a bad item leaves the configuration alone.
template <typename Number>
bool parseList(std::string_view text, std::vector<Number>& out, int base) {
    std::vector<Number> items;
    while (true) {
        const std::size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        if (base == 16 && (item.starts_with("0x") || item.starts_with("0X"))) {
            item.remove_prefix(2);
        }
        Number value{};
        if (!parseNumber(item, value, base)) {
            return false;
        }
        items.push_back(value);
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    out.insert(out.end(), items.begin(), items.end());
    return true;
}

std::string chipNames() {
    std::string names;
    for (const link::FlashChip& chip : link::flashChips()) {
        names += names.empty() ? "" : ", ";
        names += chip.deviceText;
    }
    return names;
}

std::string systemError(const std::string& what, const fs::path& path, int error) {
    return "cannot " + what + " " + path.string() + ": " + std::strerror(error);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Through the program's one saver: the old file stays whole until the new one is on disk.
std::string writeReplacing(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    if (const auto problem = link::replaceFileContents(path.string(), bytes)) {
        return "cannot save " + path.string() + ": " + *problem;
    }
    return {};
}

std::vector<std::uint8_t> defaultImageOf(ReceiverModel model) {
    return defaultFirmwareImage(flashSizeOf(model), defaultFirmwareName(model));
}

// The flash contents the receiver starts with: flash.bin from the folder, or the default image
// (written to the folder when it has none yet).
std::vector<std::uint8_t> initialFlash(const SimConfig& config) {
    if (const std::string problem = checkSimConfig(config); !problem.empty()) {
        throw SimError(problem);
    }
    const ReceiverModel model = config.receiver.model;
    if (config.dir.empty()) {
        return defaultImageOf(model);
    }
    const fs::path path = fs::path(config.dir) / Simulator::kFlashFile;
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        if (errno != ENOENT) {
            throw SimError(systemError("open", path, errno));
        }
        std::error_code made;
        fs::create_directories(config.dir, made);
        if (made) {
            throw SimError("cannot create " + config.dir + ": " + made.message());
        }
        std::vector<std::uint8_t> image = defaultImageOf(model);
        if (const std::string problem = writeReplacing(path, image); !problem.empty()) {
            throw SimError(problem);
        }
        return image;
    }
    const std::size_t size = flashSizeOf(model);
    // One byte more than fits tells a long file from a right one.
    std::vector<std::uint8_t> image(size + 1);
    const std::size_t got = std::fread(image.data(), 1, image.size(), file.get());
    if (std::ferror(file.get()) != 0) {
        throw SimError(systemError("read", path, errno));
    }
    if (got != size) {
        throw SimError(path.string() + " holds " + (got > size ? "more than " : "") +
                       std::to_string(got > size ? size : got) + " bytes; the " + modelName(model) +
                       " receiver's flash takes " + std::to_string(size));
    }
    image.resize(size);
    return image;
}

// The EEPROM contents the receiver starts with: eeprom.bin from the folder, or an erased
// EEPROM (nothing is written until the run saves).
std::vector<std::uint8_t> initialEeprom(const SimConfig& config) {
    if (config.dir.empty()) {
        return {};
    }
    const fs::path path = fs::path(config.dir) / Simulator::kEepromFile;
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        if (errno != ENOENT) {
            throw SimError(systemError("open", path, errno));
        }
        return {};
    }
    std::vector<std::uint8_t> image(Eeprom24c16::kSize + 1);
    const std::size_t got = std::fread(image.data(), 1, image.size(), file.get());
    if (std::ferror(file.get()) != 0) {
        throw SimError(systemError("read", path, errno));
    }
    if (got != Eeprom24c16::kSize) {
        throw SimError(path.string() + " holds " + (got > Eeprom24c16::kSize ? "more than " : "") +
                       std::to_string(std::min(got, Eeprom24c16::kSize)) +
                       " bytes; the EEPROM takes " + std::to_string(Eeprom24c16::kSize));
    }
    image.resize(Eeprom24c16::kSize);
    return image;
}

} // namespace

std::string applySimOption(SimConfig& config, std::string_view keyValue) {
    const std::size_t equals = keyValue.find('=');
    const std::string_view key = keyValue.substr(0, equals);
    const bool hasValue = equals != std::string_view::npos;
    const std::string_view value = hasValue ? keyValue.substr(equals + 1) : std::string_view();

    if (key == "adapter") {
        if (!parseAdapterType(value, config.adapter.type)) {
            return "adapter must be revb, compatible, unknown or absent";
        }
        return {};
    }
    if (key == "hang-after") {
        std::uint64_t count = 0;
        if (!parseNumber(value, count)) {
            return "hang-after needs a whole number";
        }
        config.adapter.hangAfter = count;
        return {};
    }
    if (key == "receiver") {
        if (value == "dsx") {
            config.receiver.model = ReceiverModel::Dsx;
        } else if (value == "dsi") {
            config.receiver.model = ReceiverModel::Dsi;
        } else {
            return "receiver must be dsx or dsi";
        }
        return {};
    }
    if (key == "chip") {
        for (const link::FlashChip& chip : link::flashChips()) {
            if (value == chip.deviceText) {
                config.receiver.chip = value;
                return {};
            }
        }
        return "chip must be one of " + chipNames();
    }
    if (key == "protect") {
        if (!parseList(value, config.receiver.protectedAreas, 10)) {
            return "protect needs area numbers separated by commas";
        }
        return {};
    }
    if (key == "erase-fail") {
        if (!parseList(value, config.receiver.eraseFailAreas, 10)) {
            return "erase-fail needs area numbers separated by commas";
        }
        return {};
    }
    if (key == "stuck") {
        if (!parseList(value, config.receiver.stuckAddresses, 16)) {
            return "stuck needs hexadecimal addresses separated by commas";
        }
        return {};
    }
    if (key == "eeprom-nack") {
        std::vector<std::uint32_t> address;
        if (!parseList(value, address, 16) || address.size() != 1) {
            return "eeprom-nack needs one hexadecimal EEPROM address";
        }
        config.receiver.eeprom.garbledAddress = address.front();
        return {};
    }
    if (key == "eeprom-absent") {
        if (hasValue) {
            return "eeprom-absent takes no value";
        }
        config.receiver.eeprom.absent = true;
        return {};
    }
    if (key == "no-power") {
        if (hasValue) {
            return "no-power takes no value";
        }
        config.receiver.noPower = true;
        return {};
    }
    return "unknown simulator option '" + std::string(key) + "'";
}

std::string checkSimConfig(const SimConfig& config) {
    return checkReceiverOptions(config.receiver);
}

const char* defaultFirmwareName(ReceiverModel model) {
    return model == ReceiverModel::Dsx ? "DSX6071 V2.31 SIM" : "DSI185D V1.07 SIM";
}

Simulator::Simulator(SimConfig config)
    : m_config(std::move(config)),
      m_bus(m_config.receiver, initialFlash(m_config), initialEeprom(m_config)),
      m_adapter(m_bus, m_config.adapter), m_savedGeneration(m_bus.flashGeneration()),
      m_savedEepromGeneration(m_bus.eepromGeneration()) {
    m_adapter.setRecording(m_config.record);
    m_bus.setRecording({.writes = m_config.record, .reads = m_config.record});
}

Simulator::~Simulator() {
    if (!m_config.dir.empty() && (m_bus.flashGeneration() != m_savedGeneration ||
                                  m_bus.eepromGeneration() != m_savedEepromGeneration)) {
        static_cast<void>(save());
    }
}

std::string Simulator::flashPath() const {
    if (m_config.dir.empty()) {
        return {};
    }
    return (fs::path(m_config.dir) / kFlashFile).string();
}

std::string Simulator::eepromPath() const {
    if (m_config.dir.empty()) {
        return {};
    }
    return (fs::path(m_config.dir) / kEepromFile).string();
}

std::string Simulator::save() {
    if (m_config.dir.empty()) {
        return {};
    }
    // Each file is written only once its memory changed, or when a run finds none yet: a run
    // that only reads costs no write and no flush to disk.
    std::error_code ignored;
    std::string problem;
    const std::uint64_t generation = m_bus.flashGeneration();
    if (generation != m_savedGeneration || !fs::exists(flashPath(), ignored)) {
        problem = writeReplacing(flashPath(), m_bus.flashImage());
        if (problem.empty()) {
            m_savedGeneration = generation;
        }
    }
    const std::uint64_t eepromGeneration = m_bus.eepromGeneration();
    if (eepromGeneration != m_savedEepromGeneration || !fs::exists(eepromPath(), ignored)) {
        std::string eepromProblem = writeReplacing(eepromPath(), m_bus.eepromImage());
        if (eepromProblem.empty()) {
            m_savedEepromGeneration = eepromGeneration;
        } else if (problem.empty()) {
            problem = std::move(eepromProblem);
        }
    }
    return problem;
}

} // namespace corvex::sim
