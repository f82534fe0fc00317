#include "link/port/port_backends.h"

#include "link/port/direct_port.h"
#include "link/port/ppdev_port.h"

#include <array>
#include <cstdio>

namespace corvex::link {

namespace {

constexpr std::string_view kPpdev = "ppdev";
constexpr std::string_view kDirect = "direct";

PortChoice ppdevChoice(std::unique_ptr<PpdevPort> port, std::uint16_t base) {
    std::string description = "ppdev " + port->devicePath() + " at " + formatPortBase(base);
    return {std::move(port), std::move(description)};
}

} // namespace

std::string formatPortBase(std::uint16_t base) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "0x%03X", static_cast<unsigned>(base));
    return text.data();
}

PortChoice openPortBackend(std::string_view choice, SysCalls& sys, std::uint16_t base) {
    if (choice == kPpdev) {
        return ppdevChoice(PpdevPort::openForBase(sys, base), base);
    }
    if (choice.size() > kPpdev.size() + 1 && choice.substr(0, kPpdev.size()) == kPpdev &&
        choice[kPpdev.size()] == ':') {
        const std::string device(choice.substr(kPpdev.size() + 1));
        return ppdevChoice(PpdevPort::openDevice(sys, device, base), base);
    }
    if (choice == kDirect) {
        return {std::make_unique<DirectPort>(sys, base), "direct I/O at " + formatPortBase(base)};
    }
    throw PortOpenError("unknown port '" + std::string(choice) +
                        "': use sim, ppdev[:DEVICE] or direct");
}

std::optional<PortChoice> openAccessibleRealPort(SysCalls& sys, std::uint16_t base) {
    try {
        return ppdevChoice(PpdevPort::openForBase(sys, base), base);
    } catch (const PortOpenError&) {
        return std::nullopt;
    }
}

std::optional<PortChoice> openDefaultPort(SysCalls& sys, std::string& whyNot) {
    try {
        // The ppdev backend only: as root the direct one opens on any machine, port or none.
        return openPortBackend("ppdev", sys, kDefaultPortBase);
    } catch (const PortOpenError& failure) {
        whyNot = failure.what();
        return std::nullopt;
    }
}

} // namespace corvex::link
