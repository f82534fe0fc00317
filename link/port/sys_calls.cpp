#include "link/port/sys_calls.h"

#include "link/port/port_trace.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/capability.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <system_error>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#endif

namespace corvex::link {

namespace {

// /proc/sys files are a few bytes; anything longer is not one of ours.
constexpr std::streamsize kMaxTextFileSize = 4096;

int resultOrErrno(int rc) {
    return rc < 0 ? -errno : rc;
}

// ppdev's PPCLAIM sleeps until the port is free and gives up on a signal; the request is
// simply repeated, as are interrupted opens.
template <typename Call> int retryOnInterrupt(Call call) {
    int rc = 0;
    do {
        rc = call();
    } while (rc < 0 && errno == EINTR);
    return resultOrErrno(rc);
}

class RealSysCalls final : public SysCalls {
public:
    int open(const std::string& path, int flags) override {
        return retryOnInterrupt([&] { return ::open(path.c_str(), flags); });
    }

    // Linux releases the descriptor even when close reports EINTR, so it is never repeated.
    int close(int fd) override { return resultOrErrno(::close(fd)); }

    int ioctl(int fd, unsigned long request, void* arg) override {
        return retryOnInterrupt([&] { return ::ioctl(fd, request, arg); });
    }

#if defined(__x86_64__) || defined(__i386__)
    [[nodiscard]] bool hasPortInstructions() const override {
        return true;
    }
    int ioperm(unsigned long from, unsigned long count, int turnOn) override {
        return resultOrErrno(::ioperm(from, count, turnOn));
    }
    int iopl(int level) override {
        return resultOrErrno(::iopl(level));
    }
    std::uint8_t inb(std::uint16_t address) override {
        return ::inb(address);
    }
    void outb(std::uint16_t address, std::uint8_t value) override {
        ::outb(value, address);
    }
#else
    [[nodiscard]] bool hasPortInstructions() const override {
        return false;
    }
    int ioperm(unsigned long /*from*/, unsigned long /*count*/, int /*turnOn*/) override {
        return -ENOSYS;
    }
    int iopl(int /*level*/) override {
        return -ENOSYS;
    }
    // Never reached: the direct backend refuses to open without port instructions.
    std::uint8_t inb(std::uint16_t /*address*/) override {
        return 0xFF;
    }
    void outb(std::uint16_t /*address*/, std::uint8_t /*value*/) override {}
#endif

    [[nodiscard]] uid_t getuid() const override {
        return ::getuid();
    }
    [[nodiscard]] uid_t geteuid() const override {
        return ::geteuid();
    }
    int setresuid(uid_t real, uid_t effective, uid_t saved) override {
        return resultOrErrno(::setresuid(real, effective, saved));
    }

    // The raw system calls with the 64-bit (version 3) layout: two 32-bit halves per set.
    int capget(CapabilitySets& sets) override {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> data{};
        const auto rc = ::syscall(SYS_capget, &header, data.data());
        if (rc < 0) {
            return -errno;
        }
        const auto join = [](std::uint32_t low, std::uint32_t high) {
            return (static_cast<std::uint64_t>(high) << 32) | low;
        };
        sets.effective = join(data[0].effective, data[1].effective);
        sets.permitted = join(data[0].permitted, data[1].permitted);
        sets.inheritable = join(data[0].inheritable, data[1].inheritable);
        return 0;
    }

    int capset(const CapabilitySets& sets) override {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> data{};
        for (std::size_t half = 0; half < data.size(); ++half) {
            const auto shift = 32 * half;
            data[half].effective = static_cast<std::uint32_t>(sets.effective >> shift);
            data[half].permitted = static_cast<std::uint32_t>(sets.permitted >> shift);
            data[half].inheritable = static_cast<std::uint32_t>(sets.inheritable >> shift);
        }
        return ::syscall(SYS_capset, &header, data.data()) < 0 ? -errno : 0;
    }

    std::optional<std::string> readTextFile(const std::string& path) override {
        std::ifstream file(path);
        if (!file) {
            return std::nullopt;
        }
        std::string text(static_cast<std::size_t>(kMaxTextFileSize), '\0');
        file.read(text.data(), kMaxTextFileSize);
        if (file.bad()) {
            return std::nullopt;
        }
        text.resize(static_cast<std::size_t>(file.gcount()));
        return text;
    }

    std::optional<std::vector<std::string>> listDirectory(const std::string& path) override {
        std::error_code error;
        std::filesystem::directory_iterator it(path, error);
        if (error) {
            return std::nullopt;
        }
        std::vector<std::string> names;
        for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
            names.push_back(it->path().filename().string());
        }
        if (error) {
            return std::nullopt;
        }
        return names;
    }
};

} // namespace

SysCalls& realSysCalls() {
    static RealSysCalls calls;
    if (PortTrace* trace = environmentPortTrace()) {
        static TracingSysCalls traced(calls, *trace);
        return traced;
    }
    return calls;
}

} // namespace corvex::link
