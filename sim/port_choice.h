#pragma once

#include "link/port/port_backends.h"
#include "simulator.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::sim {

// The port a run drives: a real backend, or the simulated receiver standing in for one. The
// programs choose it the same way, so a user sees the same choice from either of them.
struct OpenedPort {
    std::unique_ptr<Simulator> simulator; // set when the simulated receiver is in use
    std::unique_ptr<link::PortIo> real;
    // "PORT: ..." naming the backend; when the simulator stands in without being asked for,
    // it also says why no real port was usable.
    std::string description;
    // The port above with its register accesses written to the trace CORVEX_PORT_TRACE names;
    // declared last so that it goes first.
    std::unique_ptr<link::PortIo> traced;

    [[nodiscard]] link::PortIo& io() { return traced ? *traced : real ? *real : simulator->port(); }
};

/// The simulator settings from --sim-dir and the --sim-option values; an error text, empty on
/// success.
[[nodiscard]] std::string makeSimConfig(const std::string& dir,
                                        const std::vector<std::string>& options, SimConfig& config);

/// Opens the port a --port value names: "sim", "ppdev", "ppdev:DEVICE", "direct", or "" for the
/// ppdev port at the standard base when this user may open it, else the simulator. Throws
/// link::PortOpenError when a named real port cannot be opened, SimError when the simulator
/// cannot start.
[[nodiscard]] OpenedPort openPort(std::string_view choice, const SimConfig& config,
                                  link::SysCalls& sys);

} // namespace corvex::sim
