#pragma once

#include "link/port/port_io.h"
#include "link/port/sys_calls.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace corvex::test {

// A scripted Linux machine for the port backends (procfs, /dev/parportN, port permissions,
// identity, capabilities); register traffic reaches `hardware` (floating without). Every change
// is logged as one line ("open /dev/parport0", "PPCLAIM /dev/parport0", "inb 0x379").
class FakeSysCalls : public link::SysCalls {
public:
    static constexpr int kRawIo = 17;
    explicit FakeSysCalls(link::PortIo* hardware = nullptr);

    // --- the machine ---
    /// parportN at base with its device node; without TRISTATE in modes the kernel never sets
    /// the direction bit.
    FakeSysCalls& addParport(int number, std::uint16_t base,
                             const std::string& modes = "PCSPP,TRISTATE");
    /// Another program holds parportN under this name (devices/active): a claim would wait.
    FakeSysCalls& holdPort(int number, const std::string& holder);
    FakeSysCalls& setOpenError(const std::string& path, int error) {
        m_devices[path].openError = error;
        return *this;
    }
    FakeSysCalls& setClaimError(const std::string& path, int error) {
        m_devices[path].claimError = error;
        return *this;
    }
    /// A kernel without parallel-port support: no /proc/sys/dev/parport.
    void removeParportSupport();
    void setPortInstructions(bool available) { m_portInstructions = available; }
    void setIopermError(int error) { m_iopermError = error; }
    FakeSysCalls& setIdentity(uid_t real, uid_t effective) {
        m_uid = real;
        m_euid = effective;
        return *this;
    }
    void setCapabilities(link::CapabilitySets caps) { m_caps = caps; }
    void setSetresuidError(int error) { m_setresuidError = error; }

    // --- what happened ---
    [[nodiscard]] const std::vector<std::string>& log() const { return m_log; }
    [[nodiscard]] std::vector<std::string> logOf(const std::string& prefix) const;
    [[nodiscard]] long firstIndexOf(const std::string& prefix) const;
    void clearLog() { m_log.clear(); }
    [[nodiscard]] int openDescriptors() const { return static_cast<int>(m_fds.size()); }
    [[nodiscard]] uid_t effectiveUid() const { return m_euid; }
    [[nodiscard]] link::CapabilitySets capabilities() const { return m_caps; }
    [[nodiscard]] bool portAllowed(std::uint16_t address) const {
        return m_iopl == 3 || m_ioperm[address];
    }

    // --- link::SysCalls ---
    int open(const std::string& path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    [[nodiscard]] bool hasPortInstructions() const override { return m_portInstructions; }
    int ioperm(unsigned long from, unsigned long count, int turnOn) override;
    int iopl(int level) override;
    std::uint8_t inb(std::uint16_t address) override;
    void outb(std::uint16_t address, std::uint8_t value) override;
    [[nodiscard]] uid_t getuid() const override { return m_uid; }
    [[nodiscard]] uid_t geteuid() const override { return m_euid; }
    int setresuid(uid_t real, uid_t effective, uid_t saved) override;
    int capget(link::CapabilitySets& sets) override;
    int capset(const link::CapabilitySets& sets) override;
    std::optional<std::string> readTextFile(const std::string& path) override;
    std::optional<std::vector<std::string>> listDirectory(const std::string& path) override;

private:
    struct Device {
        std::uint16_t base = 0;
        int openError = 0;
        int claimError = 0;
        std::uint8_t control = 0;  // the kernel's view of the claimed port's control register
        bool bidirectional = true; // TRISTATE among its modes
        int number = -1;           // parportN; -1 for other device nodes
    };
    struct OpenFile {
        std::string path;
        bool claimed = false;
    };
    void note(std::string line) { m_log.push_back(std::move(line)); }
    void setHolder(const Device& device, const std::string& holder);
    [[nodiscard]] std::string holder(const Device& device) const;
    std::uint8_t hardwareIn(std::uint16_t address) {
        return m_hardware != nullptr ? m_hardware->in(address) : 0xFF;
    }
    void hardwareOut(std::uint16_t address, std::uint8_t value) {
        if (m_hardware != nullptr) {
            m_hardware->out(address, value);
        }
    }
    link::PortIo* m_hardware;
    std::map<std::string, std::string> m_files;
    std::set<std::string> m_directories;
    std::map<std::string, Device> m_devices;
    std::map<int, OpenFile> m_fds;
    int m_nextFd = 3;
    int m_nextClaimName = 0; // the kernel names each claim ppdevN
    bool m_portInstructions = true;
    int m_iopermError = 0;
    int m_iopl = 0;
    std::vector<bool> m_ioperm;
    uid_t m_uid = 0;
    uid_t m_euid = 0;
    int m_setresuidError = 0;
    link::CapabilitySets m_caps;
    std::vector<std::string> m_log;
};

} // namespace corvex::test
