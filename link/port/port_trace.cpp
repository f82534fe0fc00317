#include "link/port/port_trace.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <system_error>

namespace corvex::link {

namespace {

std::string hex(unsigned long value, int digits = 2) {
    std::array<char, 24> text{};
    std::snprintf(text.data(), text.size(), "0x%0*lx", digits, value);
    return text.data();
}

// " = 3" or " = -1 EACCES": the result as the system call gave it, the name of the error.
std::string result(int rc) {
    if (rc >= 0) {
        return " = " + std::to_string(rc);
    }
    const char* name = strerrorname_np(-rc);
    return " = -1 " + (name != nullptr ? std::string(name) : std::to_string(-rc));
}

std::string openFlags(int flags) {
    std::string text;
    switch (flags & O_ACCMODE) {
    case O_RDONLY:
        text = "O_RDONLY";
        break;
    case O_WRONLY:
        text = "O_WRONLY";
        break;
    default:
        text = "O_RDWR";
        break;
    }
    for (const auto& [flag, name] :
         {std::pair{O_NONBLOCK, "O_NONBLOCK"}, std::pair{O_CLOEXEC, "O_CLOEXEC"},
          std::pair{O_EXCL, "O_EXCL"}}) {
        if ((flags & flag) != 0) {
            text.append("|").append(name);
        }
    }
    return text;
}

// How each port-device request passes its argument: a byte in, a byte out, an int in, none.
enum class Argument { None, ByteIn, ByteOut, IntIn, Other };

struct Request {
    unsigned long code;
    const char* name;
    Argument argument;
};

const std::array kRequests{
    Request{PPCLAIM, "PPCLAIM", Argument::None},
    Request{PPRELEASE, "PPRELEASE", Argument::None},
    Request{PPEXCL, "PPEXCL", Argument::None},
    Request{PPRSTATUS, "PPRSTATUS", Argument::ByteOut},
    Request{PPRDATA, "PPRDATA", Argument::ByteOut},
    Request{PPRCONTROL, "PPRCONTROL", Argument::ByteOut},
    Request{PPWDATA, "PPWDATA", Argument::ByteIn},
    Request{PPWCONTROL, "PPWCONTROL", Argument::ByteIn},
    Request{PPDATADIR, "PPDATADIR", Argument::IntIn},
};

std::string capabilityText(const CapabilitySets& sets) {
    return "e=" + hex(sets.effective, 1) + " p=" + hex(sets.permitted, 1) +
           " i=" + hex(sets.inheritable, 1);
}

} // namespace

PortTrace::~PortTrace() {
    const std::lock_guard lock(m_mutex);
    flushRepeats();
}

void PortTrace::flushRepeats() {
    if (m_repeats > 0) {
        m_out << "  (" << m_repeats << " more times)\n" << std::flush;
        m_repeats = 0;
    }
}

void PortTrace::line(std::string text) {
    const std::lock_guard lock(m_mutex);
    if (text == m_last) {
        ++m_repeats;
        return;
    }
    flushRepeats();
    m_out << text << '\n' << std::flush;
    m_last = std::move(text);
}

std::uint8_t TracingPortIo::in(std::uint16_t address) {
    const std::uint8_t value = m_inner.in(address);
    m_trace.line("port in " + hex(address, 3) + " -> " + hex(value));
    return value;
}

void TracingPortIo::out(std::uint16_t address, std::uint8_t value) {
    m_trace.line("port out " + hex(address, 3) + " " + hex(value));
    m_inner.out(address, value);
}

int TracingSysCalls::open(const std::string& path, int flags) {
    const int rc = m_inner.open(path, flags);
    m_trace.line("sys open " + path + " " + openFlags(flags) + result(rc));
    return rc;
}

int TracingSysCalls::close(int fd) {
    const int rc = m_inner.close(fd);
    m_trace.line("sys close " + std::to_string(fd) + result(rc));
    return rc;
}

int TracingSysCalls::ioctl(int fd, unsigned long request, void* arg) {
    const Request* known = nullptr;
    for (const Request& candidate : kRequests) {
        if (candidate.code == request) {
            known = &candidate;
        }
    }
    std::string text = "sys ioctl " + std::to_string(fd) + " ";
    text += known != nullptr ? known->name : hex(request, 8);
    const Argument argument = known != nullptr ? known->argument : Argument::Other;
    if (argument == Argument::ByteIn) {
        text += " " + hex(*static_cast<unsigned char*>(arg));
    } else if (argument == Argument::IntIn) {
        text += " " + std::to_string(*static_cast<int*>(arg));
    }
    const int rc = m_inner.ioctl(fd, request, arg);
    text += result(rc);
    if (argument == Argument::ByteOut && rc >= 0) {
        text += " -> " + hex(*static_cast<unsigned char*>(arg));
    }
    m_trace.line(std::move(text));
    return rc;
}

bool TracingSysCalls::hasPortInstructions() const {
    return m_inner.hasPortInstructions();
}

int TracingSysCalls::ioperm(unsigned long from, unsigned long count, int turnOn) {
    const int rc = m_inner.ioperm(from, count, turnOn);
    m_trace.line("sys ioperm " + hex(from, 3) + " " + std::to_string(count) + " " +
                 std::to_string(turnOn) + result(rc));
    return rc;
}

int TracingSysCalls::iopl(int level) {
    const int rc = m_inner.iopl(level);
    m_trace.line("sys iopl " + std::to_string(level) + result(rc));
    return rc;
}

std::uint8_t TracingSysCalls::inb(std::uint16_t address) {
    const std::uint8_t value = m_inner.inb(address);
    m_trace.line("sys inb " + hex(address, 3) + " -> " + hex(value));
    return value;
}

void TracingSysCalls::outb(std::uint16_t address, std::uint8_t value) {
    m_trace.line("sys outb " + hex(address, 3) + " " + hex(value));
    m_inner.outb(address, value);
}

uid_t TracingSysCalls::getuid() const {
    return m_inner.getuid();
}

uid_t TracingSysCalls::geteuid() const {
    return m_inner.geteuid();
}

int TracingSysCalls::setresuid(uid_t real, uid_t effective, uid_t saved) {
    const int rc = m_inner.setresuid(real, effective, saved);
    m_trace.line("sys setresuid " + std::to_string(real) + " " + std::to_string(effective) + " " +
                 std::to_string(saved) + result(rc));
    return rc;
}

int TracingSysCalls::capget(CapabilitySets& sets) {
    const int rc = m_inner.capget(sets);
    m_trace.line("sys capget" + result(rc) + (rc >= 0 ? " -> " + capabilityText(sets) : ""));
    return rc;
}

int TracingSysCalls::capset(const CapabilitySets& sets) {
    const int rc = m_inner.capset(sets);
    m_trace.line("sys capset " + capabilityText(sets) + result(rc));
    return rc;
}

std::optional<std::string> TracingSysCalls::readTextFile(const std::string& path) {
    auto text = m_inner.readTextFile(path);
    std::string shown;
    if (text) {
        for (const char c : *text) {
            shown += c == '\n'   ? std::string("\\n")
                     : c == '\t' ? std::string("\\t")
                                 : std::string(1, c);
        }
    }
    m_trace.line("sys read " + path + (text ? " -> \"" + shown + "\"" : " failed"));
    return text;
}

std::optional<std::vector<std::string>> TracingSysCalls::listDirectory(const std::string& path) {
    auto names = m_inner.listDirectory(path);
    std::string shown;
    if (names) {
        for (const std::string& name : *names) {
            shown += " " + name;
        }
    }
    m_trace.line("sys list " + path + (names ? " ->" + shown : " failed"));
    return names;
}

PortTrace* environmentPortTrace() {
    // Opened once, on first use, and never closed: the trace must outlive every backend.
    static PortTrace* const trace = []() -> PortTrace* {
        const char* path = std::getenv(std::string(kPortTraceVariable).c_str());
        if (path == nullptr || *path == '\0') {
            return nullptr;
        }
        static std::ofstream file(path, std::ios::app);
        if (!file) {
            std::cerr << kPortTraceVariable << ": cannot open " << path << ": "
                      << std::strerror(errno) << '\n';
            return nullptr;
        }
        static PortTrace opened(file);
        return &opened;
    }();
    return trace;
}

std::unique_ptr<PortIo> traceFromEnvironment(PortIo& io) {
    PortTrace* trace = environmentPortTrace();
    return trace != nullptr ? std::make_unique<TracingPortIo>(io, *trace) : nullptr;
}

} // namespace corvex::link
