#include "platform/signals.h"

#include <gtest/gtest.h>

#include <csignal>

namespace qj {
namespace {

#if !defined(_WIN32)
TEST(InterruptWatch, InterruptsSetTheFlagWhileWatchedAndEndTheProcessAfterwards) {
    for (const int signal : {SIGINT, SIGTERM}) {
        std::atomic<bool> stop{false};
        InterruptWatch watch(stop);
        std::raise(signal);
        EXPECT_TRUE(stop.load()) << signal;
        EXPECT_TRUE(watch.End()) << signal;
    }
    std::atomic<bool> stop{false};
    InterruptWatch quiet(stop);
    EXPECT_FALSE(quiet.End());
    EXPECT_FALSE(stop.load());
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::raise(SIGTERM), ::testing::KilledBySignal(SIGTERM), "");
}
#endif

}  // namespace
}  // namespace qj
