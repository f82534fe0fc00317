#include "link/port/ppdev_port.h"

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

const std::string kParportProcDir = "/proc/sys/dev/parport";
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

constexpr std::string_view kDigits = "0123456789";

// A run of decimal digits no larger than a port address; nullopt for anything else.
std::optional<unsigned> decimal(std::string_view digits) {
    if (digits.empty() || digits.find_first_not_of(kDigits) != std::string_view::npos) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : digits) {
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 0xFFFF) {
            return std::nullopt;
        }
    }
    return value;
}

// "parport3" -> 3; nullopt for the other entries ("default").
std::optional<unsigned> parportNumber(std::string_view name) {
    constexpr std::string_view prefix = "parport";
    return name.starts_with(prefix) ? decimal(name.substr(prefix.size())) : std::nullopt;
}

// base-addr holds the base and the base of the extended registers ("888\t1912\n").
std::optional<std::uint16_t> firstNumber(std::string_view text) {
    const auto first = text.find_first_of(kDigits);
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const auto value = decimal(text.substr(first, text.find_first_not_of(kDigits, first) - first));
    return value ? std::optional(static_cast<std::uint16_t>(*value)) : std::nullopt;
}

// The machine's ports by base address, the lowest-numbered device first on a clash;
// nullopt when the kernel has no parallel-port support loaded.
std::optional<std::map<std::uint16_t, std::string>> scanPorts(SysCalls& sys) {
    const auto entries = sys.listDirectory(kParportProcDir);
    if (!entries) {
        return std::nullopt;
    }
    std::map<unsigned, std::string> byNumber;
    for (const std::string& entry : *entries) {
        if (const auto number = parportNumber(entry)) {
            byNumber.emplace(*number, entry);
        }
    }
    std::map<std::uint16_t, std::string> ports;
    for (const auto& [number, entry] : byNumber) {
        std::string path = kParportProcDir;
        path.append("/").append(entry).append("/base-addr");
        const auto text = sys.readTextFile(path);
        if (const auto base = text ? firstNumber(*text) : std::nullopt) {
            ports.emplace(*base, kDeviceDir + std::to_string(number));
        }
    }
    return ports;
}

// The descriptor of the opened and claimed device, or -errno.
int openClaimed(SysCalls& sys, const std::string& path) {
    const int fd = sys.open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return fd;
    }
    if (const int claim = sys.ioctl(fd, PPCLAIM, nullptr); claim < 0) {
        sys.close(fd);
        return claim;
    }
    return fd;
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
        fail(where, reasonFor(ENODEV) + " (no " + kParportProcDir + ")");
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
    const int fd = openClaimed(sys, port->m_firstPath);
    if (fd < 0) {
        fail(port->m_firstPath + " (" + formatPortBase(base) + ")", reasonFor(-fd));
    }
    port->m_devices.emplace(base, std::make_unique<Device>(port->m_firstPath, fd));
    return port;
}

std::unique_ptr<PpdevPort> PpdevPort::openDevice(SysCalls& sys, std::string path,
                                                 std::uint16_t base) {
    std::unique_ptr<PpdevPort> port(new PpdevPort(sys, base));
    port->m_firstPath = std::move(path);
    const int fd = openClaimed(sys, port->m_firstPath);
    if (fd < 0) {
        fail(port->m_firstPath, reasonFor(-fd));
    }
    port->m_named = std::make_unique<Device>(port->m_firstPath, fd);
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
        if (const int fd = openClaimed(m_sys, path->second); fd >= 0) {
            device = std::make_unique<Device>(path->second, fd);
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
