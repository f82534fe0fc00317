#include "link/port/kernel_ports.h"

#include <algorithm>

namespace corvex::link {

namespace {

const std::string kParportProcDir = "/proc/sys/dev/parport";
constexpr std::string_view kDigits = "0123456789";
constexpr std::string_view kParport = "parport";

// A run of decimal digits no larger than a port address; nullopt for anything else.
std::optional<unsigned> decimal(std::string_view digits) {
    if (digits.empty() || digits.find_first_not_of(kDigits) != std::string_view::npos) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : digits) {
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 0xFFFF) {
            return std::nullopt;
        }
    }
    return value;
}

// base-addr holds the base and the base of the extended registers ("888\t1912\n").
std::optional<std::uint16_t> firstNumber(std::string_view text) {
    const auto first = text.find_first_of(kDigits);
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const auto value = decimal(text.substr(first, text.find_first_not_of(kDigits, first) - first));
    return value ? std::optional(static_cast<std::uint16_t>(*value)) : std::nullopt;
}

std::string portFile(unsigned number, std::string_view name) {
    return kParportProcDir + "/" + std::string(kParport) + std::to_string(number) + "/" +
           std::string(name);
}

// The first line of a /proc file, without its line end.
std::optional<std::string> firstLine(SysCalls& sys, const std::string& path) {
    auto text = sys.readTextFile(path);
    if (text) {
        text->erase(std::min(text->find('\n'), text->size()));
    }
    return text;
}

} // namespace

std::optional<unsigned> parportNumber(std::string_view name) {
    if (const auto slash = name.rfind('/'); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }
    return name.starts_with(kParport) ? decimal(name.substr(kParport.size())) : std::nullopt;
}

std::optional<std::map<std::uint16_t, unsigned>> kernelPorts(SysCalls& sys) {
    const auto entries = sys.listDirectory(kParportProcDir);
    if (!entries) {
        return std::nullopt;
    }
    std::map<unsigned, std::string> byNumber;
    for (const std::string& entry : *entries) {
        if (const auto number = parportNumber(entry)) {
            byNumber.emplace(*number, entry);
        }
    }
    std::map<std::uint16_t, unsigned> ports;
    for (const auto& [number, entry] : byNumber) {
        const auto text = sys.readTextFile(portFile(number, "base-addr"));
        if (const auto base = text ? firstNumber(*text) : std::nullopt) {
            ports.emplace(*base, number);
        }
    }
    return ports;
}

std::optional<std::string> portHolder(SysCalls& sys, unsigned number) {
    auto holder = firstLine(sys, portFile(number, "devices/active"));
    if (!holder || holder->empty() || *holder == "none") {
        return std::nullopt;
    }
    return holder;
}

std::string holderText(const std::string& holder) {
    return holder.starts_with("ppdev") ? holder + " (another program)" : holder;
}

std::optional<std::string> portModeProblem(SysCalls& sys, unsigned number) {
    const auto modes = firstLine(sys, portFile(number, "modes"));
    if (!modes || modes->find("TRISTATE") != std::string::npos) {
        return std::nullopt;
    }
    return "the port cannot release its data lines (modes " + *modes +
           "): set it to bidirectional, EPP or ECP in the firmware setup";
}

} // namespace corvex::link
