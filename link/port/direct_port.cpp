#include "link/port/direct_port.h"

#include "link/port/kernel_ports.h"
#include "link/port/port_backends.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <linux/capability.h>
#include <optional>
#include <string>
#include <system_error>

namespace corvex::link {

namespace {

constexpr std::array<std::uint16_t, 3> kStandardBases{0x378, 0x278, 0x3BC};
constexpr std::uint16_t kRegisterCount = kControlOffset + 1;
constexpr int kIoplAllPorts = 3;
constexpr std::uint64_t kRawIoCapability = std::uint64_t{1} << CAP_SYS_RAWIO;

std::string errorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

std::string reasonFor(int error) {
    switch (error) {
    case EPERM:
    case EACCES:
        return "permission denied: run as root or grant CAP_SYS_RAWIO";
    case ENOSYS:
        return "not supported on this machine";
    default:
        return errorText(error);
    }
}

// Leaves the process unable to gain port access again: a setuid program returns to the real
// user (setresuid reaches every thread), and this thread loses CAP_SYS_RAWIO. The access
// already granted stays, since the kernel checks the privilege only when it is granted.
std::optional<std::string> dropPrivileges(SysCalls& sys) {
    const uid_t user = sys.getuid();
    if (sys.geteuid() != user) {
        if (const int rc = sys.setresuid(user, user, user); rc < 0) {
            return "could not return to the real user: " + errorText(-rc);
        }
    }
    CapabilitySets caps;
    if (const int rc = sys.capget(caps); rc < 0) {
        return "could not read the capabilities: " + errorText(-rc);
    }
    if (((caps.effective | caps.permitted) & kRawIoCapability) != 0) {
        caps.effective &= ~kRawIoCapability;
        caps.permitted &= ~kRawIoCapability;
        if (const int rc = sys.capset(caps); rc < 0) {
            return "could not drop CAP_SYS_RAWIO: " + errorText(-rc);
        }
    }
    return std::nullopt;
}

} // namespace

DirectPort::DirectPort(SysCalls& sys, std::uint16_t base) : m_sys(sys) {
    const std::string where = "direct I/O at " + formatPortBase(base);
    const auto fail = [&where](const std::string& reason) {
        throw PortOpenError(where + ": " + reason);
    };
    if (!sys.hasPortInstructions()) {
        fail("not supported on this machine");
    }
    // The port instructions pass by the kernel's sharing of the port: while a program or a
    // driver holds it there, both would drive the same lines.
    if (const auto ports = kernelPorts(sys)) {
        if (const auto port = ports->find(base); port != ports->end()) {
            if (const auto holder = portHolder(sys, port->second)) {
                fail("busy: the kernel's parport" + std::to_string(port->second) + " is held by " +
                     holderText(*holder));
            }
        }
    }

    m_ranges.push_back({base, kRegisterCount});
    m_ranges.push_back({static_cast<std::uint16_t>(base + kExtendedControlOffset), 1});
    for (const std::uint16_t standard : kStandardBases) {
        if (standard != base) {
            m_ranges.push_back({standard, kRegisterCount});
            m_ranges.push_back({static_cast<std::uint16_t>(standard + kExtendedControlOffset), 1});
        }
    }

    bool allPorts = false;
    for (const Range& range : m_ranges) {
        const int rc = sys.ioperm(range.from, range.count, 1);
        if (rc == -EINVAL) {
            // Older kernels keep the port bitmap only up to 0x3FF, which leaves out the extended
            // control register; the I/O privilege level opens every port instead.
            allPorts = true;
            break;
        }
        if (rc < 0) {
            fail(reasonFor(-rc));
        }
    }
    if (allPorts) {
        if (const int rc = sys.iopl(kIoplAllPorts); rc < 0) {
            fail(reasonFor(-rc));
        }
    }

    if (const auto error = dropPrivileges(sys)) {
        // Refuse to run privileged: give the access back before reporting.
        for (const Range& range : m_ranges) {
            sys.ioperm(range.from, range.count, 0);
        }
        if (allPorts) {
            sys.iopl(0);
        }
        fail(*error);
    }
}

bool DirectPort::granted(std::uint16_t address) const {
    return std::any_of(m_ranges.begin(), m_ranges.end(), [address](const Range& range) {
        return address >= range.from && address - range.from < range.count;
    });
}

// An address outside the grant would kill the process with a segmentation fault, so it is
// answered here like an empty bus.
std::uint8_t DirectPort::in(std::uint16_t address) {
    return granted(address) ? m_sys.inb(address) : std::uint8_t{0xFF};
}

void DirectPort::out(std::uint16_t address, std::uint8_t value) {
    if (granted(address)) {
        m_sys.outb(address, value);
    }
}

} // namespace corvex::link
