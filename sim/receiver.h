#pragma once

#include "eeprom_24c16.h"
#include "flash_bank.h"
#include "i2c_blocks.h"
#include "receiver_bus.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvex::sim {

enum class ReceiverModel {
    Dsx, // HardwareType 0: two x16 chips, 2 MiB at 0x7FE00000
    Dsi, // HardwareType 1: two x16 chips, 1 MiB at 0x7FF00000 and again at 0xC0000000
};

// Where the dsi receiver's flash answers a second time: the base of the channel-list hardware
// type. Commands still go to the unlock addresses of the first window.
inline constexpr std::uint32_t kDsiSecondFlashBase = 0xC0000000;

struct ReceiverOptions {
    ReceiverModel model = ReceiverModel::Dsx;
    // A device name of the chip table; empty for the model's usual chip.
    std::string chip;
    std::vector<std::size_t> protectedAreas;
    // Bus addresses of flash words, in either window of the model.
    std::vector<std::uint32_t> stuckAddresses;
    std::vector<std::size_t> eraseFailAreas;
    // Every bus read returns 0xFFFFFFFF and writes vanish.
    bool noPower = false;
    EepromFaults eeprom;
};

/// "dsx" or "dsi", as the receiver= option names them.
[[nodiscard]] const char* modelName(ReceiverModel model);
/// The HardwareType whose bus set-up and flash command words the model answers to.
[[nodiscard]] std::uint32_t hardwareTypeOf(ReceiverModel model);
[[nodiscard]] std::uint32_t flashBaseOf(ReceiverModel model);
[[nodiscard]] std::uint32_t flashSizeOf(ReceiverModel model);
/// Flash areas (and sectors) of the model: the shared area table cut at the flash size.
[[nodiscard]] std::size_t areaCountOf(ReceiverModel model);
[[nodiscard]] const char* defaultChipOf(ReceiverModel model);
/// The flash offset of a bus address in either window of the model.
[[nodiscard]] std::optional<std::uint32_t> flashOffsetOf(ReceiverModel model,
                                                         std::uint32_t address);
/// Checks the options against their model; returns a one-line error text, empty when they fit.
[[nodiscard]] std::string checkReceiverOptions(const ReceiverOptions& options);

struct BusRecording {
    bool writes = false;
    bool reads = false;
};

// The simulated receiver: its EMI registers, the flash bank behind them, the I2C controller and
// pin block with the configuration EEPROM on their bus, and a register file for every other
// address (reads give what was last written there, 0 before). The flash only
// answers once the model's EMI set-up has been written completely and in order since the last
// reset: until then reads give 0 and writes are dropped. Thread-safe: the Guard thread drives
// the bus while tests and the owner read the records and the flash.
class Receiver : public ReceiverBus {
public:
    static constexpr std::size_t kMaxAnomalies = 1000;

    /// flashImage holds the flash byte for byte, words least significant byte first (flash.bin's
    /// layout); eepromImage the EEPROM's 2048 bytes, or nothing for an erased one. Throws
    /// std::invalid_argument when the options do not fit the model or an image is not the size
    /// of its memory.
    Receiver(const ReceiverOptions& options, std::span<const std::uint8_t> flashImage,
             std::span<const std::uint8_t> eepromImage = {});

    std::uint32_t read(std::uint32_t address) override;
    void write(std::uint32_t address, std::uint32_t data) override;
    void reset() override;

    [[nodiscard]] ReceiverModel model() const { return m_model; }
    [[nodiscard]] std::uint32_t flashBase() const;
    [[nodiscard]] std::uint32_t flashSize() const;
    /// The EMI set-up has been written since the last reset: the flash answers.
    [[nodiscard]] bool busReady() const;
    /// A copy of the flash contents in flash.bin's layout.
    [[nodiscard]] std::vector<std::uint8_t> flashImage() const;
    /// The word the array holds at this flash offset, without a bus cycle.
    [[nodiscard]] std::uint32_t flashWord(std::uint32_t offset) const;
    /// Changes whenever a program or erase changed the flash.
    [[nodiscard]] std::uint64_t flashGeneration() const;
    /// A copy of the EEPROM's 2048 bytes (eeprom.bin's layout).
    [[nodiscard]] std::vector<std::uint8_t> eepromImage() const;
    /// Changes whenever a page write changed the EEPROM.
    [[nodiscard]] std::uint64_t eepromGeneration() const;
    /// Device-address attempts the EEPROM refused during its write cycles.
    [[nodiscard]] std::uint64_t eepromBusyRefusals() const;

    /// Which bus accesses to keep; both are off at first, since a whole-flash job makes millions.
    void setRecording(BusRecording recording);
    /// Sets a register without a bus write (test set-up).
    void poke(std::uint32_t address, std::uint32_t data);
    [[nodiscard]] std::vector<std::pair<std::uint32_t, std::uint32_t>> writes() const;
    [[nodiscard]] std::vector<std::uint32_t> reads() const;
    [[nodiscard]] int resets() const;
    /// Bus accesses the receiver refused, one line each; the first kMaxAnomalies are kept.
    [[nodiscard]] std::vector<std::string> anomalies() const;
    [[nodiscard]] std::uint64_t anomalyCount() const;
    /// Forgets the recorded accesses, resets and anomalies.
    void clearHistory();

private:
    void trackBusSetUp(std::uint32_t address, std::uint32_t data);
    void anomaly(const char* what, std::uint32_t address, std::uint32_t data);

    const ReceiverModel m_model;
    const bool m_noPower;

    // Guards everything below: the Guard thread drives the bus, tests and the owner inspect it.
    mutable std::mutex m_mutex;
    FlashBank m_flash;
    Eeprom24c16 m_eeprom;
    I2cBlocks m_i2c{m_eeprom};
    bool m_busReady = false;
    std::size_t m_setUpProgress = 0;
    std::unordered_map<std::uint32_t, std::uint32_t> m_registers;
    BusRecording m_recording;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_writes;
    std::vector<std::uint32_t> m_reads;
    int m_resets = 0;
    std::vector<std::string> m_anomalies;
    std::uint64_t m_anomalyCount = 0;
};

} // namespace corvex::sim
