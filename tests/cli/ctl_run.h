#pragma once

#include "cli/ctl_loop.h"
#include "cli/ctl_session.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace corvex::test {

// One corvexctl run in this process: exit status, printed lines, how long it took.
struct CtlRun {
    int status = 0;
    std::string out;
    std::string err;
    std::chrono::steady_clock::duration took{};
    [[nodiscard]] std::vector<std::string> lines() const {
        std::vector<std::string> all;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            all.push_back(line);
        }
        return all;
    }
    [[nodiscard]] bool hasLine(const std::string& suffix) const {
        const auto all = lines();
        return std::any_of(all.begin(), all.end(),
                           [&](const std::string& line) { return line.ends_with(suffix); });
    }
    [[nodiscard]] std::string lastMessage() const {
        const auto all = lines();
        const auto last = std::find_if(all.rbegin(), all.rend(), [](const auto& line) {
            return line.starts_with("MESSAGE ");
        });
        return last == all.rend() ? std::string() : *last;
    }
};

// A run that has not ended after a minute is stopped as a signal would stop it, so a job that
// never ends fails the test instead of holding it.
inline CtlRun corvexctl(const std::vector<std::string>& args) {
    cli::StopRequest stop;
    std::ostringstream out;
    std::ostringstream err;
    const std::vector<std::string_view> views(args.begin(), args.end());
    const auto started = std::chrono::steady_clock::now();
    auto run =
        std::async(std::launch::async, [&] { return cli::runCorvexctl(views, out, err, &stop); });
    if (run.wait_for(std::chrono::minutes(1)) != std::future_status::ready) {
        (void)stop.request(SIGTERM);
    }
    CtlRun result;
    result.status = run.get();
    result.took = std::chrono::steady_clock::now() - started;
    result.out = out.str();
    result.err = err.str();
    return result;
}

// Each text ends some printed line.
inline void expectLines(const CtlRun& run, std::initializer_list<std::string> lines) {
    for (const std::string& line : lines) {
        EXPECT_TRUE(run.hasLine(line)) << line << " missing in\n" << run.out;
    }
}

} // namespace corvex::test
