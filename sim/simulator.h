#pragma once

#include "receiver.h"
#include "virtual_port.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace corvex::sim {

struct SimConfig {
    AdapterOptions adapter;
    ReceiverOptions receiver;
    // Folder holding the receiver's flash.bin; empty keeps the receiver in memory only.
    std::string dir;
    // Keep every byte the adapter takes and every bus access, for tests. Off by default: a
    // whole-flash job makes millions of them.
    bool record = false;
};

// The simulator cannot start: its options do not fit together, or the state folder cannot be
// read or created. what() is one line.
class SimError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Applies one "key=value" simulator option; returns an error text, empty on success.
[[nodiscard]] std::string applySimOption(SimConfig& config, std::string_view keyValue);
/// Checks what single options cannot: the chip, areas and addresses against the receiver
/// model. Returns a one-line error text, empty when the configuration fits.
[[nodiscard]] std::string checkSimConfig(const SimConfig& config);
/// The firmware name in the model's default image.
[[nodiscard]] const char* defaultFirmwareName(ReceiverModel model);

// The simulated interface and the receiver behind it, as one port backend.
class Simulator {
public:
    static constexpr const char* kFlashFile = "flash.bin";
    static constexpr const char* kEepromFile = "eeprom.bin";

    /// Loads flash.bin from config.dir, or creates the folder and the file from the default
    /// image when it is missing; eeprom.bin likewise, erased when missing. Throws SimError when the
    /// configuration does not fit (checkSimConfig), flash.bin is not the size of the receiver's
    /// flash, or the state cannot be read or created; a file that does not fit is left as it is.
    explicit Simulator(SimConfig config);
    /// Saves the flash when it changed since the last save. A failure here is silent: owners
    /// that report errors call save() first.
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    Simulator(Simulator&&) = delete;
    Simulator& operator=(Simulator&&) = delete;

    /// The backend to hand to link::Port.
    [[nodiscard]] link::PortIo& port() { return m_adapter; }
    [[nodiscard]] VirtualPort& adapter() { return m_adapter; }
    [[nodiscard]] Receiver& bus() { return m_bus; }
    [[nodiscard]] const SimConfig& config() const { return m_config; }
    /// Where the flash is kept; empty without a folder.
    [[nodiscard]] std::string flashPath() const;
    /// Where the EEPROM is kept (all 0xFF when the file is new); empty without a folder.
    [[nodiscard]] std::string eepromPath() const;
    /// Saves flash.bin and eeprom.bin, each when its memory changed since the last save or the
    /// file is missing, so a failed save leaves the previous file whole. Returns a
    /// one-line error text, empty on success or when there is no folder. Call it while the
    /// Guard is idle.
    [[nodiscard]] std::string save();

private:
    SimConfig m_config;
    // Declared before the adapter, which keeps a reference to it.
    Receiver m_bus;
    VirtualPort m_adapter;
    std::uint64_t m_savedGeneration = 0;
    std::uint64_t m_savedEepromGeneration = 0;
};

} // namespace corvex::sim
