#pragma once

#include "link/port/port_io.h"
#include "link/port/sys_calls.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvex::link {

// A real parallel port through the kernel's user-space port device (/dev/parportN), which
// needs no root: members of the device's group (lp) may claim it.
//
// The kernel does not map port registers one to one, so the register traffic is translated:
//  - data: read and written as they are;
//  - status: read as it is; writes are dropped (the register is read-only);
//  - control: the data-direction bit (0x20) goes through the kernel's direction request, and
//    only when it changes; the line bits (0x0F) go through the control write, also only when
//    they change. The interrupt-enable bit (0x10) belongs to the kernel and is not written.
//    Reads combine the kernel's line bits with the direction last set, because the kernel
//    does not report the direction;
//  - extended control (base + 0x402): writes are dropped, since the kernel already keeps a
//    claimed port in the byte-wide bidirectional mode the port layer asks for; reads return
//    0x35, that mode with its interrupts masked (the port layer reads and discards it).
// Addresses that are none of these registers of a known base read 0xFF and take no writes.
//
// The port layer may move PortBase at run time. A port opened by base opens the device of a
// new base when that base is first used, and a base without a device reads like a port with
// nothing attached (0xFF: both handshake inputs high). A port opened by device name serves
// every base with that one device.
//
// Devices are claimed on open and released when the object goes. A device another program or
// driver holds is not claimed at all: the kernel's claim would wait for it, and stop the
// holder's requests the while. A port the kernel cannot switch to input is refused, since the
// adapter's bytes could not be read on it. in() and out() may be called from several threads
// (the window polls the status while the Guard drives the port).
class PpdevPort final : public PortIo {
public:
    /// Claims the device whose base address (from /proc/sys/dev/parport) is base.
    /// Throws PortOpenError.
    [[nodiscard]] static std::unique_ptr<PpdevPort> openForBase(SysCalls& sys, std::uint16_t base);
    /// Claims the named device, such as /dev/parport1, whatever its base address.
    /// Throws PortOpenError.
    [[nodiscard]] static std::unique_ptr<PpdevPort> openDevice(SysCalls& sys, std::string path,
                                                               std::uint16_t base);

    ~PpdevPort() override;
    PpdevPort(const PpdevPort&) = delete;
    PpdevPort& operator=(const PpdevPort&) = delete;
    PpdevPort(PpdevPort&&) = delete;
    PpdevPort& operator=(PpdevPort&&) = delete;

    std::uint8_t in(std::uint16_t address) override;
    void out(std::uint16_t address, std::uint8_t value) override;

    /// The device that serves the starting base, as "/dev/parport0".
    [[nodiscard]] const std::string& devicePath() const { return m_firstPath; }

private:
    struct Device {
        Device(std::string devicePath, int descriptor)
            : path(std::move(devicePath)), fd(descriptor) {}

        std::string path;
        int fd;
        // What was last set through the kernel; empty until the first control write, so
        // that write sets both whatever state the kernel left.
        std::optional<std::uint8_t> direction;
        std::optional<std::uint8_t> lines;
    };
    struct Register {
        std::uint16_t base;
        std::uint16_t offset;
    };

    PpdevPort(SysCalls& sys, std::uint16_t base);

    [[nodiscard]] std::optional<Register> decode(std::uint16_t address) const;
    // nullptr when no device serves the base or it could not be opened.
    Device* deviceFor(std::uint16_t base);
    void writeControl(Device& device, std::uint8_t value);
    std::uint8_t readByte(Device& device, unsigned long request);
    void writeByte(Device& device, unsigned long request, std::uint8_t value);

    SysCalls& m_sys;
    std::string m_firstPath;
    // Bases whose registers this port answers for: the standard ones, the starting one and
    // those of the machine's ports. Fixed after opening.
    std::vector<std::uint16_t> m_bases;

    // Guards everything below: the Guard thread drives the port, the window reads the status.
    std::mutex m_mutex;
    // Opened by device name: the one device that serves every base.
    std::unique_ptr<Device> m_named;
    // Opened by base: the machine's device paths by base address, and the devices opened so
    // far (nullptr for a device that failed to open, so it is not retried on every access).
    std::map<std::uint16_t, std::string> m_pathsByBase;
    std::map<std::uint16_t, std::unique_ptr<Device>> m_devices;
};

} // namespace corvex::link
