#include "cli/ctl_loop.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace corvex::cli::test {
namespace {

using Clock = std::chrono::steady_clock;

// The loop sleeps with no tick to wake it: each source of news must end the wait by itself,
// whether it comes before the loop sleeps or while it does.
TEST(CtlLoop, EachSourceOfNewsEndsTheWaitAtOnce) {
    const char* const sources[] = {"a handed-over call", "news from the Guard", "a signal"};
    for (int source = 0; source < 3; ++source) {
        for (const bool whileAsleep : {false, true}) {
            SCOPED_TRACE(std::string(sources[source]) +
                         (whileAsleep ? ", while asleep" : ", before"));
            Dispatcher dispatcher;
            StopRequest stop;
            stop.bindWake(&dispatcher);
            bool ran = false;
            const auto fire = [&] {
                if (source == 0) {
                    dispatcher.call([&ran] { ran = true; });
                } else if (source == 1) {
                    dispatcher.wake();
                } else {
                    (void)stop.request(SIGTERM);
                }
            };
            std::jthread firing;
            if (whileAsleep) {
                firing = std::jthread([&] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    fire();
                });
            } else {
                fire();
            }
            const auto started = Clock::now();
            dispatcher.runPending(started + std::chrono::minutes(2));
            EXPECT_LT(Clock::now() - started, std::chrono::minutes(1));
            firing = {};
            EXPECT_EQ(ran, source == 0);
            stop.bindWake(nullptr);
        }
    }
}

TEST(CtlLoop, TheFirstSignalIsKeptAndASecondIsRefused) {
    StopRequest stop;
    EXPECT_EQ(stop.signal(), 0);
    EXPECT_TRUE(stop.request(SIGINT));
    EXPECT_FALSE(stop.request(SIGTERM)) << "the watch ends the process on a second signal";
    EXPECT_EQ(stop.signal(), SIGINT);
}

} // namespace
} // namespace corvex::cli::test
