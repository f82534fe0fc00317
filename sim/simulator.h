#pragma once

#include "receiver_bus.h"
#include "virtual_port.h"

#include <string>
#include <string_view>

namespace corvex::sim {

struct SimConfig {
    AdapterOptions adapter;
    // Folder for the receiver's persistent state; accepted, not used yet.
    std::string dir;
};

/// Applies one "key=value" simulator option; returns an error text, empty on success.
[[nodiscard]] std::string applySimOption(SimConfig& config, std::string_view keyValue);

// The simulated interface and the receiver behind it, as one port backend.
class Simulator {
public:
    explicit Simulator(SimConfig config);

    /// The backend to hand to link::Port.
    [[nodiscard]] link::PortIo& port() { return m_adapter; }
    [[nodiscard]] VirtualPort& adapter() { return m_adapter; }
    [[nodiscard]] RegisterFile& bus() { return m_bus; }
    [[nodiscard]] const SimConfig& config() const { return m_config; }

private:
    SimConfig m_config;
    // Declared before the adapter, which keeps a reference to it.
    RegisterFile m_bus;
    VirtualPort m_adapter;
};

} // namespace corvex::sim
