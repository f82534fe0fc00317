#include "fake_sys_calls.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

namespace corvex::test {

namespace {

const std::string kProcDir = "/proc/sys/dev/parport";
constexpr std::uint8_t kDirectionBit = 0x20;
constexpr std::uint8_t kLineBits = 0x0F;
// The kernel hands a freshly claimed port over with Init and SelectIn high, data lines driven.
constexpr std::uint8_t kKernelInitialControl = 0x0C;
constexpr std::uint64_t kAllCapabilities = (std::uint64_t{1} << 41) - 1;

std::string hex(std::uint64_t value, const char* format = "0x%02llx") {
    std::array<char, 24> text{};
    std::snprintf(text.data(), text.size(), format, static_cast<unsigned long long>(value));
    return text.data();
}

} // namespace

FakeSysCalls::FakeSysCalls(link::PortIo* hardware)
    : m_hardware(hardware),
      m_ioperm(0x10000, false), m_caps{kAllCapabilities, kAllCapabilities, 0} {
    m_directories.insert(kProcDir);
    m_directories.insert(kProcDir + "/default");
    m_files[kProcDir + "/default/timeslice"] = "200\n";
}

FakeSysCalls& FakeSysCalls::addParport(int number, std::uint16_t base, const std::string& modes) {
    const std::string dir = kProcDir + "/parport" + std::to_string(number);
    m_directories.insert(dir);
    m_directories.insert(dir + "/devices");
    m_files[dir + "/base-addr"] = std::to_string(base) + "\t" + std::to_string(base + 0x400) + "\n";
    m_files[dir + "/modes"] = modes + "\n";
    Device& device = m_devices["/dev/parport" + std::to_string(number)];
    device.base = base;
    device.number = number;
    device.bidirectional = modes.find("TRISTATE") != std::string::npos;
    setHolder(device, "none");
    return *this;
}

FakeSysCalls& FakeSysCalls::holdPort(int number, const std::string& holder) {
    setHolder(m_devices.at("/dev/parport" + std::to_string(number)), holder);
    return *this;
}

void FakeSysCalls::setHolder(const Device& device, const std::string& holder) {
    if (device.number >= 0 && m_directories.contains(kProcDir)) {
        m_files[kProcDir + "/parport" + std::to_string(device.number) + "/devices/active"] =
            holder + "\n";
    }
}

std::string FakeSysCalls::holder(const Device& device) const {
    const auto file =
        m_files.find(kProcDir + "/parport" + std::to_string(device.number) + "/devices/active");
    return file == m_files.end() ? "none" : file->second.substr(0, file->second.find('\n'));
}

void FakeSysCalls::removeParportSupport() {
    std::erase_if(m_directories, [](const std::string& dir) { return dir.starts_with(kProcDir); });
    std::erase_if(m_files, [](const auto& file) { return file.first.starts_with(kProcDir); });
}

std::vector<std::string> FakeSysCalls::logOf(const std::string& prefix) const {
    std::vector<std::string> lines;
    std::copy_if(m_log.begin(), m_log.end(), std::back_inserter(lines),
                 [&](const std::string& line) { return line.starts_with(prefix); });
    return lines;
}

long FakeSysCalls::firstIndexOf(const std::string& prefix) const {
    const auto it = std::find_if(m_log.begin(), m_log.end(),
                                 [&](const std::string& line) { return line.starts_with(prefix); });
    return it == m_log.end() ? -1 : it - m_log.begin();
}

int FakeSysCalls::open(const std::string& path, int /*flags*/) {
    const auto device = m_devices.find(path);
    if (device == m_devices.end()) {
        return -ENOENT;
    }
    if (device->second.openError != 0) {
        return -device->second.openError;
    }
    note("open " + path);
    const int fd = m_nextFd++;
    m_fds[fd] = OpenFile{path, false};
    return fd;
}

int FakeSysCalls::close(int fd) {
    const auto file = m_fds.find(fd);
    if (file == m_fds.end()) {
        ADD_FAILURE() << "close of descriptor " << fd << ", which is not open";
        return -EBADF;
    }
    note("close " + file->second.path + (file->second.claimed ? " (still claimed)" : ""));
    if (file->second.claimed) {
        setHolder(m_devices.at(file->second.path), "none");
    }
    m_fds.erase(file);
    return 0;
}

int FakeSysCalls::ioctl(int fd, unsigned long request, void* arg) {
    const auto file = m_fds.find(fd);
    if (file == m_fds.end()) {
        return -EBADF;
    }
    const std::string& path = file->second.path;
    Device& device = m_devices.at(path);
    auto* byte = static_cast<unsigned char*>(arg);
    if (request == PPCLAIM) {
        if (device.claimError != 0) {
            return -device.claimError;
        }
        if (file->second.claimed) {
            return -EINVAL;
        }
        // The real claim sleeps holding the device's one lock: the holder stands still too.
        if (const std::string holding = holder(device); holding != "none") {
            ADD_FAILURE() << "PPCLAIM on " << path << " while " << holding
                          << " holds the port: the claim would wait, and freeze the holder";
            return -EINTR;
        }
        note("PPCLAIM " + path);
        file->second.claimed = true;
        setHolder(device, "ppdev" + std::to_string(m_nextClaimName++));
        device.control = kKernelInitialControl;
        hardwareOut(static_cast<std::uint16_t>(device.base + 2), device.control);
        return 0;
    }
    if (request == PPRELEASE) {
        if (!file->second.claimed) {
            return -EINVAL;
        }
        note("PPRELEASE " + path);
        file->second.claimed = false;
        setHolder(device, "none");
        return 0;
    }
    // The kernel refuses register requests on a port that is not claimed.
    const bool registerRequest = request == PPRDATA || request == PPWDATA || request == PPRSTATUS ||
                                 request == PPRCONTROL || request == PPWCONTROL ||
                                 request == PPDATADIR;
    if (!registerRequest) {
        return -ENOTTY;
    }
    if (!file->second.claimed) {
        ADD_FAILURE() << "register request on " << path << " before PPCLAIM";
        return -EINVAL;
    }
    const auto base = device.base;
    if (request == PPRDATA) {
        *byte = hardwareIn(base);
        note("PPRDATA " + path);
    } else if (request == PPWDATA) {
        note("PPWDATA " + path + " " + hex(*byte));
        hardwareOut(base, *byte);
    } else if (request == PPRSTATUS) {
        *byte = hardwareIn(static_cast<std::uint16_t>(base + 1));
        note("PPRSTATUS " + path);
    } else if (request == PPRCONTROL) {
        // The kernel reports only the line bits, never the direction.
        *byte = device.control & kLineBits;
        note("PPRCONTROL " + path);
    } else if (request == PPWCONTROL) {
        note("PPWCONTROL " + path + " " + hex(*byte));
        device.control =
            static_cast<std::uint8_t>((device.control & ~kLineBits) | (*byte & kLineBits));
        hardwareOut(static_cast<std::uint16_t>(base + 2), device.control);
    } else {
        const int reverse = *static_cast<int*>(arg);
        note("PPDATADIR " + path + " " + std::to_string(reverse));
        // Without TRISTATE the request succeeds and changes nothing.
        if (device.bidirectional) {
            device.control = static_cast<std::uint8_t>(
                reverse != 0 ? device.control | kDirectionBit : device.control & ~kDirectionBit);
        }
        hardwareOut(static_cast<std::uint16_t>(base + 2), device.control);
    }
    return 0;
}

int FakeSysCalls::ioperm(unsigned long from, unsigned long count, int turnOn) {
    if (from + count > m_ioperm.size() || from + count <= from) {
        return -EINVAL;
    }
    if (turnOn != 0) {
        if (m_iopermError != 0) {
            return -m_iopermError;
        }
        if ((m_caps.effective & (std::uint64_t{1} << kRawIo)) == 0) {
            return -EPERM;
        }
    }
    note("ioperm " + hex(static_cast<unsigned>(from)) + " " + std::to_string(count) + " " +
         std::to_string(turnOn));
    std::fill_n(m_ioperm.begin() + static_cast<long>(from), count, turnOn != 0);
    return 0;
}

int FakeSysCalls::iopl(int level) {
    if (level > m_iopl && (m_caps.effective & (std::uint64_t{1} << kRawIo)) == 0) {
        return -EPERM;
    }
    note("iopl " + std::to_string(level));
    m_iopl = level;
    return 0;
}

std::uint8_t FakeSysCalls::inb(std::uint16_t address) {
    if (!portAllowed(address)) {
        ADD_FAILURE() << "inb " << hex(address) << " without permission: a real process dies";
        return 0xFF;
    }
    note("inb " + hex(address));
    return hardwareIn(address);
}

void FakeSysCalls::outb(std::uint16_t address, std::uint8_t value) {
    if (!portAllowed(address)) {
        ADD_FAILURE() << "outb " << hex(address) << " without permission: a real process dies";
        return;
    }
    note("outb " + hex(address) + " " + hex(value));
    hardwareOut(address, value);
}

int FakeSysCalls::setresuid(uid_t real, uid_t effective, uid_t saved) {
    if (m_setresuidError != 0) {
        return -m_setresuidError;
    }
    note("setresuid " + std::to_string(real) + " " + std::to_string(effective) + " " +
         std::to_string(saved));
    // Leaving root for good clears the capabilities, as the kernel does.
    if (m_euid == 0 && real != 0 && effective != 0 && saved != 0) {
        m_caps.effective = 0;
        m_caps.permitted = 0;
    }
    m_uid = real;
    m_euid = effective;
    return 0;
}

int FakeSysCalls::capget(link::CapabilitySets& sets) {
    sets = m_caps;
    return 0;
}

int FakeSysCalls::capset(const link::CapabilitySets& sets) {
    if ((sets.permitted & ~m_caps.permitted) != 0 || (sets.effective & ~sets.permitted) != 0) {
        return -EPERM;
    }
    note("capset e=" + hex(sets.effective, "0x%llx") + " p=" + hex(sets.permitted, "0x%llx"));
    m_caps = sets;
    return 0;
}

std::optional<std::string> FakeSysCalls::readTextFile(const std::string& path) {
    const auto file = m_files.find(path);
    if (file == m_files.end()) {
        return std::nullopt;
    }
    return file->second;
}

std::optional<std::vector<std::string>> FakeSysCalls::listDirectory(const std::string& path) {
    if (!m_directories.contains(path)) {
        return std::nullopt;
    }
    const std::string prefix = path + "/";
    std::set<std::string> names;
    const auto addChild = [&](const std::string& entry) {
        if (entry.starts_with(prefix)) {
            const std::string rest = entry.substr(prefix.size());
            names.insert(rest.substr(0, rest.find('/')));
        }
    };
    for (const std::string& dir : m_directories) {
        addChild(dir);
    }
    for (const auto& [file, text] : m_files) {
        addChild(file);
    }
    return std::vector<std::string>(names.begin(), names.end());
}

} // namespace corvex::test
