#pragma once

#include "link/port/port_io.h"
#include "link/port/sys_calls.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace corvex::link {

// A real port could not be opened. what() is one line that names the device or base and the
// reason, fit to be shown to the user as it is.
class PortOpenError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An opened port backend and the words that tell the user which one is in use.
struct PortChoice {
    std::unique_ptr<PortIo> io;
    std::string description;
};

/// Opens the hardware backend named by a --port value: "ppdev", "ppdev:DEVICE" or "direct".
/// "sim" belongs to the caller, which owns the simulator; this layer does not know it.
/// Throws PortOpenError.
[[nodiscard]] PortChoice openPortBackend(std::string_view choice, SysCalls& sys,
                                         std::uint16_t base);

/// The ppdev port at base, when there is one this user may open; nullopt otherwise.
/// Never the direct backend: as root on a machine without a port, ioperm succeeds all the
/// same, and the absent port would pass for a real one.
[[nodiscard]] std::optional<PortChoice> openAccessibleRealPort(SysCalls& sys, std::uint16_t base);

/// Without --port: the ppdev port at the standard base when this user may open it, else
/// nullopt and `whyNot` says what is missing in words the user can act on.
[[nodiscard]] std::optional<PortChoice> openDefaultPort(SysCalls& sys, std::string& whyNot);

/// "0x378": how port bases appear in descriptions and messages.
[[nodiscard]] std::string formatPortBase(std::uint16_t base);

} // namespace corvex::link
