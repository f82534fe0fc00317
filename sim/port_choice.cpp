#include "port_choice.h"

#include "link/port/port_trace.h"

namespace corvex::sim {

std::string makeSimConfig(const std::string& dir, const std::vector<std::string>& options,
                          SimConfig& config) {
    config.dir = dir;
    for (const std::string& option : options) {
        if (std::string problem = applySimOption(config, option); !problem.empty()) {
            return problem;
        }
    }
    return checkSimConfig(config);
}

OpenedPort openPort(std::string_view choice, const SimConfig& config, link::SysCalls& sys) {
    OpenedPort opened;
    std::string whyNoRealPort;
    if (choice.empty()) {
        if (auto real = link::openDefaultPort(sys, whyNoRealPort)) {
            opened.real = std::move(real->io);
            opened.description = "PORT: " + real->description;
        }
    } else if (choice != "sim") {
        auto real = link::openPortBackend(choice, sys, link::kDefaultPortBase);
        opened.real = std::move(real.io);
        opened.description = "PORT: " + real.description;
    }
    if (!opened.real) {
        opened.simulator = std::make_unique<Simulator>(config);
        opened.description = "PORT: simulated Corvex interface at 0x378";
        if (!whyNoRealPort.empty()) {
            opened.description += " - no usable parallel port: " + whyNoRealPort;
        }
    }
    opened.traced =
        link::traceFromEnvironment(opened.real ? *opened.real : opened.simulator->port());
    return opened;
}

} // namespace corvex::sim
