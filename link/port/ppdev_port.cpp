#include "link/port/ppdev_port.h"

#include "link/port/kernel_ports.h"
#include "link/port/port_backends.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <string_view>
#include <sys/ioctl.h>
#include <system_error>
#include <utility>

namespace corvex::link {

namespace {

const std::string kDeviceDir = "/dev/parport";

// The bases the port choice offers; a named device serves them whatever its own base.
constexpr std::array<std::uint16_t, 3> kStandardBases{0x378, 0x278, 0x3BC};

// The extended-control value reads return: byte-wide bidirectional mode, interrupts masked,
// which is what the kernel keeps a claimed port in.
constexpr std::uint8_t kEcrByteMode = 0x35;
constexpr std::uint8_t kControlLines = kLineRead | kLineTxAck | kLineWrite | kLineReset;
constexpr std::uint8_t kFloatingBus = 0xFF;

std::string reasonFor(int error) {
    switch (error) {
    case ENOENT:
    case ENXIO:
        return "no such port";
    case EACCES:
    case EPERM:
        return "permission denied: add the user to group lp";
    case ENOTTY:
    case ENODEV:
        return "not supported on this machine";
    default:
        return std::error_code(error, std::generic_category()).message();
    }
}

[[noreturn]] void fail(const std::string& where, const std::string& reason) {
    throw PortOpenError("ppdev " + where + ": " + reason);
}

// The machine's ports by base address, with their device paths; nullopt when the kernel has
// no parallel-port support loaded.
std::optional<std::map<std::uint16_t, std::string>> scanPorts(SysCalls& sys) {
    const auto ports = kernelPorts(sys);
    if (!ports) {
        return std::nullopt;
    }
    std::map<std::uint16_t, std::string> paths;
    for (const auto& [base, number] : *ports) {
        paths.emplace(base, kDeviceDir + std::to_string(number));
    }
    return paths;
}

// An opened and claimed device, or why there is none.
struct Claim {
    int fd = -1;
    std::string problem;
};

Claim openClaimed(SysCalls& sys, const std::string& path) {
    const int fd = sys.open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return {-1, reasonFor(-fd)};
    }
    // Only the kernel's own account tells a port that is held by another program: the claim
    // itself would wait for it, and stop that program's requests the while.
    std::optional<std::string> problem;
    if (const auto number = parportNumber(path)) {
        if (const auto holder = portHolder(sys, *number)) {
            problem = "busy: the port is held by " + holderText(*holder);
        } else {
            problem = portModeProblem(sys, *number);
        }
    }
    if (!problem) {
        if (const int claim = sys.ioctl(fd, PPCLAIM, nullptr); claim < 0) {
            problem = reasonFor(-claim);
        }
    }
    if (problem) {
        sys.close(fd);
        return {-1, *problem};
    }
    return {fd, {}};
}

} // namespace

PpdevPort::PpdevPort(SysCalls& sys, std::uint16_t base) : m_sys(sys), m_bases{base} {
    for (const std::uint16_t standard : kStandardBases) {
        if (standard != base) {
            m_bases.push_back(standard);
        }
    }
}

std::unique_ptr<PpdevPort> PpdevPort::openForBase(SysCalls& sys, std::uint16_t base) {
    const std::string where = "at " + formatPortBase(base);
    auto ports = scanPorts(sys);
    if (!ports) {
        fail(where, reasonFor(ENODEV) + " (no /proc/sys/dev/parport)");
    }
    const auto found = ports->find(base);
    if (found == ports->end()) {
        std::string others;
        for (const auto& [otherBase, path] : *ports) {
            others += (others.empty() ? " (ports found at " : ", ") + formatPortBase(otherBase);
        }
        fail(where, reasonFor(ENOENT) + (others.empty() ? "" : others + ")"));
    }

    std::unique_ptr<PpdevPort> port(new PpdevPort(sys, base));
    for (const auto& [portBase, path] : *ports) {
        if (std::find(port->m_bases.begin(), port->m_bases.end(), portBase) ==
            port->m_bases.end()) {
            port->m_bases.push_back(portBase);
        }
    }
    port->m_firstPath = found->second;
    port->m_pathsByBase = std::move(*ports);
    const Claim claim = openClaimed(sys, port->m_firstPath);
    if (claim.fd < 0) {
        fail(port->m_firstPath + " (" + formatPortBase(base) + ")", claim.problem);
    }
    port->m_devices.emplace(base, std::make_unique<Device>(port->m_firstPath, claim.fd));
    return port;
}

std::unique_ptr<PpdevPort> PpdevPort::openDevice(SysCalls& sys, std::string path,
                                                 std::uint16_t base) {
    std::unique_ptr<PpdevPort> port(new PpdevPort(sys, base));
    port->m_firstPath = std::move(path);
    const Claim claim = openClaimed(sys, port->m_firstPath);
    if (claim.fd < 0) {
        fail(port->m_firstPath, claim.problem);
    }
    port->m_named = std::make_unique<Device>(port->m_firstPath, claim.fd);
    return port;
}

PpdevPort::~PpdevPort() {
    const auto release = [this](Device& device) {
        m_sys.ioctl(device.fd, PPRELEASE, nullptr);
        m_sys.close(device.fd);
    };
    if (m_named) {
        release(*m_named);
    }
    for (auto& [base, device] : m_devices) {
        if (device) {
            release(*device);
        }
    }
}

std::optional<PpdevPort::Register> PpdevPort::decode(std::uint16_t address) const {
    for (const std::uint16_t base : m_bases) {
        const auto offset = static_cast<std::uint16_t>(address - base);
        if (address >= base && (offset <= kControlOffset || offset == kExtendedControlOffset)) {
            return Register{base, offset};
        }
    }
    return std::nullopt;
}

PpdevPort::Device* PpdevPort::deviceFor(std::uint16_t base) {
    if (m_named) {
        return m_named.get();
    }
    if (const auto open = m_devices.find(base); open != m_devices.end()) {
        return open->second.get();
    }
    std::unique_ptr<Device> device;
    if (const auto path = m_pathsByBase.find(base); path != m_pathsByBase.end()) {
        if (const Claim claim = openClaimed(m_sys, path->second); claim.fd >= 0) {
            device = std::make_unique<Device>(path->second, claim.fd);
        }
    }
    return m_devices.emplace(base, std::move(device)).first->second.get();
}

std::uint8_t PpdevPort::readByte(Device& device, unsigned long request) {
    unsigned char value = 0;
    // A failed request reads like a floating bus: the link's waits then see no interface
    // instead of a stale byte.
    return m_sys.ioctl(device.fd, request, &value) < 0 ? kFloatingBus : value;
}

void PpdevPort::writeByte(Device& device, unsigned long request, std::uint8_t value) {
    unsigned char byte = value;
    m_sys.ioctl(device.fd, request, &byte);
}

void PpdevPort::writeControl(Device& device, std::uint8_t value) {
    // Each change is one system call on the handshake's critical path, so unchanged parts
    // are not sent again; a failed request forgets the state so the next write retries it.
    const auto direction = static_cast<std::uint8_t>(value & kDataInput);
    if (device.direction != direction) {
        int reverse = direction != 0 ? 1 : 0;
        const bool done = m_sys.ioctl(device.fd, PPDATADIR, &reverse) >= 0;
        device.direction = done ? std::optional(direction) : std::nullopt;
    }
    const auto lines = static_cast<std::uint8_t>(value & kControlLines);
    if (device.lines != lines) {
        unsigned char byte = lines;
        const bool done = m_sys.ioctl(device.fd, PPWCONTROL, &byte) >= 0;
        device.lines = done ? std::optional(lines) : std::nullopt;
    }
}

std::uint8_t PpdevPort::in(std::uint16_t address) {
    const auto reg = decode(address);
    if (!reg) {
        return kFloatingBus;
    }
    const std::lock_guard lock(m_mutex);
    Device* device = deviceFor(reg->base);
    if (device == nullptr) {
        return kFloatingBus;
    }
    switch (reg->offset) {
    case kDataOffset:
        return readByte(*device, PPRDATA);
    case kStatusOffset:
        return readByte(*device, PPRSTATUS);
    case kControlOffset: {
        unsigned char value = 0;
        if (m_sys.ioctl(device->fd, PPRCONTROL, &value) < 0) {
            return kFloatingBus;
        }
        // A port the kernel just claimed drives the data lines until told otherwise.
        return static_cast<std::uint8_t>((value & ~kDataInput) | device->direction.value_or(0));
    }
    default:
        return kEcrByteMode;
    }
}

void PpdevPort::out(std::uint16_t address, std::uint8_t value) {
    const auto reg = decode(address);
    if (!reg || reg->offset == kStatusOffset || reg->offset == kExtendedControlOffset) {
        return;
    }
    const std::lock_guard lock(m_mutex);
    Device* device = deviceFor(reg->base);
    if (device == nullptr) {
        return;
    }
    if (reg->offset == kDataOffset) {
        writeByte(*device, PPWDATA, value);
    } else {
        writeControl(*device, value);
    }
}

} // namespace corvex::link
