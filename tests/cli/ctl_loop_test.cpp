#include "cli/ctl_loop.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace corvex::cli::test {
namespace {

using Clock = std::chrono::steady_clock;

// The loop sleeps with no tick to wake it: each source of news must end the wait by itself,
// whether it comes before the loop sleeps or while it does.
TEST(CtlLoop, EachSourceOfNewsEndsTheWaitAtOnce) {
    struct Source {
        const char* name;
        std::function<void(Dispatcher&, StopRequest&, bool& ran)> fire;
    };
    const Source sources[] = {
        {"a handed-over call",
         [](Dispatcher& d, StopRequest&, bool& ran) { d.call([&ran] { ran = true; }); }},
        {"news from the Guard", [](Dispatcher& d, StopRequest&, bool&) { d.wake(); }},
        {"a signal", [](Dispatcher&, StopRequest& s, bool&) { (void)s.request(SIGTERM); }},
    };
    for (const Source& source : sources) {
        for (const bool whileAsleep : {false, true}) {
            Dispatcher dispatcher;
            StopRequest stop;
            stop.bindWake(&dispatcher);
            bool ran = false;
            std::thread firing;
            if (whileAsleep) {
                firing = std::thread([&] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    source.fire(dispatcher, stop, ran);
                });
            } else {
                source.fire(dispatcher, stop, ran);
            }
            const auto started = Clock::now();
            dispatcher.runPending(started + std::chrono::minutes(2));
            EXPECT_LT(Clock::now() - started, std::chrono::minutes(1))
                << source.name << (whileAsleep ? ", while asleep" : ", before");
            if (firing.joinable()) {
                firing.join();
            }
            EXPECT_EQ(ran, source.name == sources[0].name) << source.name;
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
