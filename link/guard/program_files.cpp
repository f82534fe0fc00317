#include "link/guard/program_files.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace corvex::link {

namespace fs = std::filesystem;

std::string currentProgramPath() {
    std::error_code error;
    const fs::path path = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string("corvex") : path.string();
}

std::string programFileName(const std::string& programPath, std::string_view extension) {
    const fs::path program(programPath);
    std::string name = program.filename().string();
    name += '.';
    name += extension;

    fs::path folder = program.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    if (::access(folder.c_str(), W_OK) == 0) {
        return (folder / name).string();
    }
    fs::path data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0') {
        data = fs::path(xdg) / "corvex";
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        data = fs::path(home) / ".local" / "share" / "corvex";
    } else {
        data = fs::temp_directory_path() / "corvex";
    }
    std::error_code ignored; // a folder that cannot be made shows up when the file is opened
    fs::create_directories(data, ignored);
    return (data / name).string();
}

} // namespace corvex::link
