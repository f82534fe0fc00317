#pragma once

#include <string_view>

namespace corvex::mainwin {

/// The question asked before a loopback soak test (message code 15); answering No breaks the
/// job off. "\r" is the line break of the window's message boxes.
inline constexpr std::string_view kLoopbackWarning =
    "DIAGNOSTIC LOOPBACK TEST\r\rThese tests can DAMAGE a connected device to your Corvex.\r"
    "Please, be sure that only a PC and Corvex are connect together.\r\rDo you want to continue ?";

} // namespace corvex::mainwin
