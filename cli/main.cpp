#include "ctl_session.h"
#include "ctl_signals.h"

#include <iostream>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
    corvex::cli::SignalWatch signals; // first: every later thread inherits its mask
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    return corvex::cli::runCorvexctl(args, std::cout, std::cerr, &signals.stopRequest());
}
