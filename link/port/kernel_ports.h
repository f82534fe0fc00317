#pragma once

#include "link/port/sys_calls.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace corvex::link {

// What the kernel's parallel-port driver tells about its ports under /proc/sys/dev/parport.

/// The machine's ports: base address -> port number (N of parportN), the lowest number first
/// on a clash; nullopt when the kernel has no parallel-port support loaded.
[[nodiscard]] std::optional<std::map<std::uint16_t, unsigned>> kernelPorts(SysCalls& sys);

/// "parport3" or "/dev/parport3" -> 3; nullopt for any other name.
[[nodiscard]] std::optional<unsigned> parportNumber(std::string_view name);

/// The device that holds port N at this moment ("ppdev0" for a program on /dev/parportN,
/// "lp0" for the printer driver), nullopt when the port is free or the kernel does not say.
/// A claim waits while another holds the port, and through the port device it also stops every
/// other program's requests on it until it ends, so a claim is never made while this says busy.
[[nodiscard]] std::optional<std::string> portHolder(SysCalls& sys, unsigned number);

/// The holder as the user should read it: "ppdev0 (another program)", "lp0".
[[nodiscard]] std::string holderText(const std::string& holder);

/// Why port N cannot carry the adapter's handshake, nullopt when nothing is known against it:
/// the kernel sets the data-direction bit only on ports it found bidirectional (mode
/// TRISTATE); on any other the adapter's bytes could never be read.
[[nodiscard]] std::optional<std::string> portModeProblem(SysCalls& sys, unsigned number);

} // namespace corvex::link
