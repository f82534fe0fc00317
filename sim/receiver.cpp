#include "receiver.h"

#include "link/jobs/area_status.h"
#include "link/jobs/flash_chips.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>

namespace corvex::sim {

namespace {

struct RegisterWrite {
    std::uint32_t address;
    std::uint32_t data;
};

// The EMI set-up each model needs before its flash answers. The receiver's own boot code knows
// these values; they are kept here rather than taken from the link so that a wrong value in the
// link shows up as a dead flash.
constexpr std::array<RegisterWrite, 5> kSetUpDsx{{
    {0x00002030, 0x000016C9},
    {0x00002034, 0x00003000},
    {0x00002038, 0x00003005},
    {0x0000203C, 0x00000000},
    {0x0000204C, 0x0000000F},
}};

constexpr std::array<RegisterWrite, 27> kSetUpDsi{{
    {0x20002000, 0xC00FF802}, {0x20002004, 0x41852825}, {0x20002008, 0xCF192A33},
    {0x2000200C, 0x42404040}, {0x20002010, 0x00000040}, {0x20002000, 0xC0000000},
    {0x20002004, 0x62080726}, {0x20002008, 0xCC483B22}, {0x2000200C, 0x60606160},
    {0x20002010, 0x00000044}, {0x20002000, 0x00000000}, {0x20002004, 0x401009A7},
    {0x20002008, 0xDC000822}, {0x2000200C, 0x31000040}, {0x20002010, 0x00000048},
    {0x20002000, 0xC0000000}, {0x20002004, 0x62060625}, {0x20002008, 0xCCB43B22},
    {0x2000200C, 0x60306160}, {0x20002010, 0x0000004C}, {0x20002000, 0x00000000},
    {0x20002004, 0x00000000}, {0x20002008, 0x00000000}, {0x2000200C, 0xAAAA959A},
    {0x20002010, 0x00000050}, {0x20002000, 0x7FFFFFA8}, {0x20002010, 0x00000020},
}};

std::span<const RegisterWrite> setUpOf(ReceiverModel model) {
    if (model == ReceiverModel::Dsx) {
        return kSetUpDsx;
    }
    return kSetUpDsi;
}

const link::FlashChip* findChip(const std::string& name) {
    for (const link::FlashChip& chip : link::flashChips()) {
        if (name == chip.deviceText) {
            return &chip;
        }
    }
    return nullptr;
}

const link::FlashChip& chipOf(const ReceiverOptions& options) {
    const link::FlashChip* chip =
        findChip(options.chip.empty() ? defaultChipOf(options.model) : options.chip);
    if (chip == nullptr) {
        throw std::invalid_argument("no such chip");
    }
    return *chip;
}

std::vector<std::uint32_t> sectorStartsOf(ReceiverModel model) {
    const std::size_t count = areaCountOf(model);
    return {link::kDefaultAreaStart.begin(),
            link::kDefaultAreaStart.begin() + static_cast<std::ptrdiff_t>(count)};
}

FlashBank makeFlashBank(const ReceiverOptions& options, std::span<const std::uint8_t> image) {
    if (const std::string problem = checkReceiverOptions(options); !problem.empty()) {
        throw std::invalid_argument(problem);
    }
    const std::uint32_t size = flashSizeOf(options.model);
    if (image.size() != size) {
        throw std::invalid_argument("the flash image holds " + std::to_string(image.size()) +
                                    " bytes; the " + modelName(options.model) +
                                    " receiver's flash takes " + std::to_string(size));
    }
    std::vector<std::uint32_t> words(size / 4);
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::uint8_t* b = &image[4 * i];
        words[i] = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                   static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    }
    FlashFaults faults;
    faults.protectedSectors = options.protectedAreas;
    faults.eraseFailSectors = options.eraseFailAreas;
    for (const std::uint32_t address : options.stuckAddresses) {
        faults.stuckOffsets.push_back(*flashOffsetOf(options.model, address));
    }
    return FlashBank(hardwareTypeOf(options.model), chipOf(options), std::move(words),
                     sectorStartsOf(options.model), faults);
}

std::string checkAreas(const std::vector<std::size_t>& areas, const char* option,
                       ReceiverModel model) {
    const std::size_t count = areaCountOf(model);
    for (const std::size_t area : areas) {
        if (area >= count) {
            return std::string(option) + ": the " + modelName(model) + " receiver has areas 0 to " +
                   std::to_string(count - 1);
        }
    }
    return {};
}

} // namespace

const char* modelName(ReceiverModel model) {
    return model == ReceiverModel::Dsx ? "dsx" : "dsi";
}

std::uint32_t hardwareTypeOf(ReceiverModel model) {
    return model == ReceiverModel::Dsx ? 0 : 1;
}

std::uint32_t flashBaseOf(ReceiverModel model) {
    return link::flashFamily(hardwareTypeOf(model))->arrayBase;
}

std::uint32_t flashSizeOf(ReceiverModel model) {
    return model == ReceiverModel::Dsx ? 0x200000 : 0x100000;
}

std::size_t areaCountOf(ReceiverModel model) {
    const std::uint32_t size = flashSizeOf(model);
    return static_cast<std::size_t>(
        std::find(link::kDefaultAreaStart.begin(), link::kDefaultAreaStart.end(), size) -
        link::kDefaultAreaStart.begin());
}

const char* defaultChipOf(ReceiverModel model) {
    return model == ReceiverModel::Dsx ? "AM29LV800BB" : "AM29F400BB";
}

std::optional<std::uint32_t> flashOffsetOf(ReceiverModel model, std::uint32_t address) {
    const std::uint32_t size = flashSizeOf(model);
    if (address - flashBaseOf(model) < size) {
        return address - flashBaseOf(model);
    }
    if (model == ReceiverModel::Dsi && address - kDsiSecondFlashBase < size) {
        return address - kDsiSecondFlashBase;
    }
    return std::nullopt;
}

std::string checkReceiverOptions(const ReceiverOptions& options) {
    const ReceiverModel model = options.model;
    const std::string name = options.chip.empty() ? defaultChipOf(model) : options.chip;
    const link::FlashChip* chip = findChip(name);
    if (chip == nullptr) {
        return "chip " + name + " is not in the chip table";
    }
    if (chip->hardwareType >= 0 &&
        static_cast<std::uint32_t>(chip->hardwareType) != hardwareTypeOf(model)) {
        return "chip " + name + " does not fit the " + modelName(model) + " receiver";
    }
    if (std::string problem = checkAreas(options.protectedAreas, "protect", model);
        !problem.empty()) {
        return problem;
    }
    if (std::string problem = checkAreas(options.eraseFailAreas, "erase-fail", model);
        !problem.empty()) {
        return problem;
    }
    if (options.eeprom.garbledAddress && *options.eeprom.garbledAddress >= Eeprom24c16::kSize) {
        return "eeprom-nack: the EEPROM has addresses 0 to 7FF";
    }
    for (const std::uint32_t address : options.stuckAddresses) {
        if (address % 4 != 0 || !flashOffsetOf(model, address)) {
            std::array<char, 80> text{};
            std::snprintf(text.data(), text.size(), "stuck: %08X is no word of the %s flash",
                          static_cast<unsigned>(address), modelName(model));
            return text.data();
        }
    }
    return {};
}

Receiver::Receiver(const ReceiverOptions& options, std::span<const std::uint8_t> flashImage,
                   std::span<const std::uint8_t> eepromImage)
    : m_model(options.model), m_noPower(options.noPower),
      m_flash(makeFlashBank(options, flashImage)), m_eeprom(eepromImage, options.eeprom) {}

std::uint32_t Receiver::read(std::uint32_t address) {
    const std::lock_guard lock(m_mutex);
    if (m_recording.reads) {
        m_reads.push_back(address);
    }
    if (m_noPower) {
        return 0xFFFFFFFF;
    }
    if (const auto offset = flashOffsetOf(m_model, address)) {
        // Without the EMI set-up the chip selects never go active; the bus reads as all low.
        return m_busReady ? m_flash.read(*offset & ~3U) : 0;
    }
    if (I2cBlocks::claims(address)) {
        const char* refusal = nullptr;
        const std::uint32_t value = m_i2c.read(address, refusal);
        if (refusal != nullptr) {
            anomaly(refusal, address, 0);
        }
        return value;
    }
    const auto it = m_registers.find(address);
    return it == m_registers.end() ? 0 : it->second;
}

void Receiver::write(std::uint32_t address, std::uint32_t data) {
    const std::lock_guard lock(m_mutex);
    if (m_recording.writes) {
        m_writes.emplace_back(address, data);
    }
    if (m_noPower) {
        return;
    }
    if (const auto offset = flashOffsetOf(m_model, address)) {
        if (!m_busReady) {
            anomaly("flash write before bus init", address, data);
        } else if (const char* refusal = m_flash.write(address, *offset & ~3U, data)) {
            anomaly(refusal, address, data);
        }
        return;
    }
    if (I2cBlocks::claims(address)) {
        if (const char* refusal = m_i2c.write(address, data)) {
            anomaly(refusal, address, data);
        }
        return;
    }
    m_registers[address] = data;
    trackBusSetUp(address, data);
}

void Receiver::trackBusSetUp(std::uint32_t address, std::uint32_t data) {
    if (m_busReady) {
        return;
    }
    const std::span<const RegisterWrite> setUp = setUpOf(m_model);
    if (address == setUp[m_setUpProgress].address && data == setUp[m_setUpProgress].data) {
        if (++m_setUpProgress == setUp.size()) {
            m_busReady = true;
        }
        return;
    }
    // A set-up register written out of turn starts the sequence over; other addresses do not
    // disturb it.
    const bool setUpRegister = std::any_of(
        setUp.begin(), setUp.end(), [address](const auto& w) { return w.address == address; });
    if (setUpRegister) {
        m_setUpProgress = address == setUp[0].address && data == setUp[0].data ? 1 : 0;
    }
}

void Receiver::reset() {
    const std::lock_guard lock(m_mutex);
    ++m_resets;
    m_busReady = false;
    m_setUpProgress = 0;
    m_flash.reset();
    m_i2c.reset();
}

void Receiver::anomaly(const char* what, std::uint32_t address, std::uint32_t data) {
    ++m_anomalyCount;
    if (m_anomalies.size() >= kMaxAnomalies) {
        return;
    }
    std::array<char, 128> line{};
    std::snprintf(line.data(), line.size(), "%s (%08X at %08X)", what, static_cast<unsigned>(data),
                  static_cast<unsigned>(address));
    m_anomalies.emplace_back(line.data());
}

std::uint32_t Receiver::flashBase() const {
    return flashBaseOf(m_model);
}

std::uint32_t Receiver::flashSize() const {
    return flashSizeOf(m_model);
}

bool Receiver::busReady() const {
    const std::lock_guard lock(m_mutex);
    return m_busReady;
}

std::vector<std::uint8_t> Receiver::flashImage() const {
    const std::lock_guard lock(m_mutex);
    const std::vector<std::uint32_t>& words = m_flash.words();
    std::vector<std::uint8_t> bytes(words.size() * 4);
    for (std::size_t i = 0; i < words.size(); ++i) {
        for (std::size_t b = 0; b < 4; ++b) {
            bytes[4 * i + b] = static_cast<std::uint8_t>(words[i] >> (8 * b));
        }
    }
    return bytes;
}

std::uint32_t Receiver::flashWord(std::uint32_t offset) const {
    const std::lock_guard lock(m_mutex);
    return m_flash.words().at(offset / 4);
}

std::uint64_t Receiver::flashGeneration() const {
    const std::lock_guard lock(m_mutex);
    return m_flash.generation();
}

std::vector<std::uint8_t> Receiver::eepromImage() const {
    const std::lock_guard lock(m_mutex);
    return {m_eeprom.memory().begin(), m_eeprom.memory().end()};
}

std::uint64_t Receiver::eepromGeneration() const {
    const std::lock_guard lock(m_mutex);
    return m_eeprom.generation();
}

std::uint64_t Receiver::eepromBusyRefusals() const {
    const std::lock_guard lock(m_mutex);
    return m_eeprom.busyRefusals();
}

void Receiver::setRecording(BusRecording recording) {
    const std::lock_guard lock(m_mutex);
    m_recording = recording;
}

void Receiver::poke(std::uint32_t address, std::uint32_t data) {
    const std::lock_guard lock(m_mutex);
    m_registers[address] = data;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> Receiver::writes() const {
    const std::lock_guard lock(m_mutex);
    return m_writes;
}

std::vector<std::uint32_t> Receiver::reads() const {
    const std::lock_guard lock(m_mutex);
    return m_reads;
}

int Receiver::resets() const {
    const std::lock_guard lock(m_mutex);
    return m_resets;
}

std::vector<std::string> Receiver::anomalies() const {
    const std::lock_guard lock(m_mutex);
    return m_anomalies;
}

std::uint64_t Receiver::anomalyCount() const {
    const std::lock_guard lock(m_mutex);
    return m_anomalyCount;
}

void Receiver::clearHistory() {
    const std::lock_guard lock(m_mutex);
    m_writes.clear();
    m_reads.clear();
    m_resets = 0;
    m_anomalies.clear();
    m_anomalyCount = 0;
}

} // namespace corvex::sim
