#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace corvex::link {

// One thread's capability sets, one bit per capability number (CAP_SYS_RAWIO is bit 17).
struct CapabilitySets {
    std::uint64_t effective = 0;
    std::uint64_t permitted = 0;
    std::uint64_t inheritable = 0;
};

// The operating-system calls the real port backends make, behind one interface so that tests
// can script a machine (ports, permissions, identities) without touching the real one.
//
// Calls that can fail return what the system call returns on success and the negated errno
// value on failure (never -1 with errno), so a fake need not touch the thread's errno.
class SysCalls {
public:
    virtual ~SysCalls() = default;

    /// open(2); the descriptor or -errno.
    virtual int open(const std::string& path, int flags) = 0;
    /// close(2); 0 or -errno.
    virtual int close(int fd) = 0;
    /// ioctl(2) with a pointer argument (nullptr for requests that take none); >= 0 or -errno.
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;

    /// Whether this machine has port instructions at all (inb/outb, ioperm, iopl).
    [[nodiscard]] virtual bool hasPortInstructions() const = 0;
    /// ioperm(2) for the calling thread; 0 or -errno.
    virtual int ioperm(unsigned long from, unsigned long count, int turnOn) = 0;
    /// iopl(2) for the calling thread; 0 or -errno.
    virtual int iopl(int level) = 0;
    /// One input instruction; only valid on an address the thread was granted.
    virtual std::uint8_t inb(std::uint16_t address) = 0;
    /// One output instruction; only valid on an address the thread was granted.
    virtual void outb(std::uint16_t address, std::uint8_t value) = 0;

    /// getuid(2).
    [[nodiscard]] virtual uid_t getuid() const = 0;
    /// geteuid(2).
    [[nodiscard]] virtual uid_t geteuid() const = 0;
    /// setresuid(2), applied to every thread of the process; 0 or -errno.
    virtual int setresuid(uid_t real, uid_t effective, uid_t saved) = 0;
    /// capget(2) for the calling thread; 0 or -errno.
    virtual int capget(CapabilitySets& sets) = 0;
    /// capset(2) for the calling thread only; 0 or -errno.
    virtual int capset(const CapabilitySets& sets) = 0;

    /// The contents of a small text file, nullopt when it cannot be read.
    [[nodiscard]] virtual std::optional<std::string> readTextFile(const std::string& path) = 0;
    /// The entry names of a directory (without "." and ".."), nullopt when it cannot be listed.
    [[nodiscard]] virtual std::optional<std::vector<std::string>>
    listDirectory(const std::string& path) = 0;
};

/// The calls of the running system; traced when CORVEX_PORT_TRACE names a file.
[[nodiscard]] SysCalls& realSysCalls();

} // namespace corvex::link
