#pragma once

#include "link/port/port_io.h"
#include "link/port/sys_calls.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

namespace corvex::link {

// A record of everything the program asked of the port and what came back, one line each: the
// register accesses the port layer makes ("port out 0x37a 0x2f", "port in 0x379 -> 0xd8") and
// the system calls a real backend turns them into ("sys ioctl 3 PPWCONTROL 0x0f = 0",
// "sys open /dev/parport0 = -1 EACCES"). It is how a fault on a real port is found without the
// hardware at hand. Waits poll the status register without pause, so a run of equal lines is
// written once with its count.
//
// Lines may come from several threads (the window polls the status while the Guard drives the
// port); each is written whole and flushed at once, so a process that is killed loses nothing.
class PortTrace {
public:
    explicit PortTrace(std::ostream& out) : m_out(out) {}
    ~PortTrace();
    PortTrace(const PortTrace&) = delete;
    PortTrace& operator=(const PortTrace&) = delete;
    PortTrace(PortTrace&&) = delete;
    PortTrace& operator=(PortTrace&&) = delete;

    void line(std::string text);

private:
    void flushRepeats();

    std::ostream& m_out;
    // Guards the members below and the stream; taken by every thread that writes a line.
    std::mutex m_mutex;
    std::string m_last;
    unsigned long m_repeats = 0;
};

// The port registers as the port layer uses them, each access written to a trace.
class TracingPortIo final : public PortIo {
public:
    TracingPortIo(PortIo& inner, PortTrace& trace) : m_inner(inner), m_trace(trace) {}

    std::uint8_t in(std::uint16_t address) override;
    void out(std::uint16_t address, std::uint8_t value) override;

private:
    PortIo& m_inner;
    PortTrace& m_trace;
};

// The system calls of a real backend, each written to a trace with its result.
class TracingSysCalls final : public SysCalls {
public:
    TracingSysCalls(SysCalls& inner, PortTrace& trace) : m_inner(inner), m_trace(trace) {}

    int open(const std::string& path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    [[nodiscard]] bool hasPortInstructions() const override;
    int ioperm(unsigned long from, unsigned long count, int turnOn) override;
    int iopl(int level) override;
    std::uint8_t inb(std::uint16_t address) override;
    void outb(std::uint16_t address, std::uint8_t value) override;
    [[nodiscard]] uid_t getuid() const override;
    [[nodiscard]] uid_t geteuid() const override;
    int setresuid(uid_t real, uid_t effective, uid_t saved) override;
    int capget(CapabilitySets& sets) override;
    int capset(const CapabilitySets& sets) override;
    [[nodiscard]] std::optional<std::string> readTextFile(const std::string& path) override;
    [[nodiscard]] std::optional<std::vector<std::string>>
    listDirectory(const std::string& path) override;

private:
    SysCalls& m_inner;
    PortTrace& m_trace;
};

/// The environment variable that names the trace file.
inline constexpr std::string_view kPortTraceVariable = "CORVEX_PORT_TRACE";

/// The trace the environment asks for, appended to the file CORVEX_PORT_TRACE names; nullptr
/// when the variable is unset or empty, or the file cannot be opened (which is said once on
/// stderr). Opened on the first call and kept until the process ends.
[[nodiscard]] PortTrace* environmentPortTrace();

/// io wrapped so that its accesses go to the environment's trace; nullptr when there is none.
[[nodiscard]] std::unique_ptr<PortIo> traceFromEnvironment(PortIo& io);

} // namespace corvex::link
