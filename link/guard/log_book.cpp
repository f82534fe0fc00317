#include "link/guard/log_book.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace corvex::link {

std::string logBookStamp(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%d-%m-%Y @ %H:%M:%S", &local);
    return {text, length};
}

std::string logBookLine(std::string_view text, std::chrono::system_clock::time_point when) {
    std::string line = logBookStamp(when);
    line += " - ";
    line += text;
    return line;
}

std::string appendLogFile(const std::string& path, const std::vector<std::string>& lines) {
    std::string block;
    for (const std::string& line : lines) {
        block += line;
        block += '\n';
    }
    // O_APPEND: a second writer (another instance, corvexctl) can never overwrite our lines.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return "cannot open log file " + path + ": " + std::strerror(errno);
    }
    std::string error;
    std::size_t done = 0;
    while (done < block.size()) {
        const ssize_t n = ::write(fd, block.data() + done, block.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = "cannot write log file " + path + ": " + std::strerror(errno);
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && error.empty()) {
        error = "cannot write log file " + path + ": " + std::strerror(errno);
    }
    return error;
}

} // namespace corvex::link
