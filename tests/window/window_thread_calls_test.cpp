// The calls from other threads to a window's thread, with the test's thread as the window thread:
// it runs what is queued only when a test lets it, so every interleaving below is forced, not hoped
// for.

#include "window/window_thread_calls.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace qj {
namespace {

// The window thread's side, an event loop whose only events are the wakes: the queue runs once per
// wake, and only while the test lets the loop run.
class WindowThread {
public:
    WindowThread() : calls([this] { ++wakes; }) {}

    // Handles wakes until `condition` holds; false after twenty seconds.
    bool RunUntil(const std::function<bool()>& condition) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            if (wakes.load() > handled_) {
                ++handled_;
                calls.RunQueued();
            }
            std::this_thread::yield();
        }
        return true;
    }

    std::atomic<int> wakes{0};
    WindowThreadCalls calls;

private:
    int handled_ = 0;
};

// Waits, running nothing on the window thread, until `condition` holds; false after twenty seconds.
bool WaitUntil(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

// Workers mix posted work and calls in an order of their own (a seeded random one); whatever the
// mix, everything runs on the window thread, each worker's items in the order it made them, and a
// call sees every item its worker made before it.
TEST(WindowThreadCalls, EveryWorkersItemsRunOnTheWindowThreadInItsOwnOrder) {
    constexpr int kWorkers = 6;
    constexpr int kItems = 200;
    for (unsigned seed = 1; seed <= 5; ++seed) {
        SCOPED_TRACE(seed);
        WindowThread window;
        const std::thread::id windowThread = std::this_thread::get_id();
        // Window thread only.
        std::vector<std::pair<int, int>> ran;
        bool elsewhere = false;
        std::atomic<int> finished{0};
        std::vector<int> callsSawTooLittle(kWorkers, 0);
        std::vector<std::thread> workers;
        for (int w = 0; w < kWorkers; ++w) {
            workers.emplace_back([&, w] {
                std::mt19937 random(seed * 100 + static_cast<unsigned>(w));
                for (int i = 0; i < kItems; ++i) {
                    auto item = [&, w, i] {
                        elsewhere = elsewhere || std::this_thread::get_id() != windowThread;
                        ran.emplace_back(w, i);
                    };
                    if (random() % 3 == 0) {
                        const std::size_t seen = window.calls.Call([&] {
                            item();
                            return ran.size();
                        });
                        if (seen < static_cast<std::size_t>(i + 1)) {
                            ++callsSawTooLittle[static_cast<std::size_t>(w)];
                        }
                    } else {
                        window.calls.Post(item);
                    }
                }
                ++finished;
            });
        }
        ASSERT_TRUE(window.RunUntil([&] { return finished == kWorkers; }));
        for (std::thread& worker : workers) {
            worker.join();
        }
        ASSERT_TRUE(window.RunUntil([&] { return ran.size() == kWorkers * kItems; }));
        EXPECT_FALSE(elsewhere);
        ASSERT_EQ(ran.size(), static_cast<std::size_t>(kWorkers * kItems));
        std::map<int, int> next;
        for (const auto& [w, i] : ran) {
            EXPECT_EQ(i, next[w]++) << "worker " << w;
        }
        EXPECT_EQ(callsSawTooLittle, std::vector<int>(kWorkers, 0));
        // One wake carries every item queued before the window thread got to it.
        EXPECT_LT(window.wakes.load(), kWorkers * kItems);
    }
}

TEST(WindowThreadCalls, PostingNeverWaitsAndTheWindowThreadsNextCallSeesWhatWasPosted) {
    WindowThread window;
    int shown = 0;  // window thread only
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) {
            window.calls.Post([&] { ++shown; });
        }
    });
    // The window thread runs nothing meanwhile, so a post that waited would never return.
    worker.join();
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(window.calls.Call([&] { return shown; }), 100);
    // Work posted on the window thread itself runs at once.
    window.calls.Post([&] { ++shown; });
    EXPECT_EQ(shown, 101);
}

TEST(WindowThreadCalls, ClosingReleasesWaitingCallsAndDropsWhatIsQueued) {
    WindowThread window;
    std::atomic<int> ran{0};
    constexpr int kWaiting = 4;
    std::vector<std::string> results(kWaiting, "unset");
    std::vector<std::thread> workers;
    for (int w = 0; w < kWaiting; ++w) {
        workers.emplace_back([&, w] {
            window.calls.Post([&] { ++ran; });
            results[static_cast<std::size_t>(w)] = window.calls.Call([&] {
                ++ran;
                return std::string("ran");
            });
        });
    }
    ASSERT_TRUE(WaitUntil([&] { return window.calls.WaitingCalls() == kWaiting; }));
    window.calls.BeginClosing();
    for (std::thread& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(results, std::vector<std::string>(kWaiting, ""));
    EXPECT_EQ(window.calls.WaitingCalls(), 0u);
    // Nothing of it runs later, and later calls and posts from workers return at once.
    std::thread late([&] {
        window.calls.Post([&] { ++ran; });
        EXPECT_EQ(window.calls.Call([&] { return ++ran; }), 0);
    });
    late.join();
    window.calls.RunQueued();
    EXPECT_EQ(ran.load(), 0);
}

// A call that opens a modal loop (a message box) on the window thread: the calls queued behind it
// run inside that loop, while it is still open.
TEST(WindowThreadCalls, CallsQueuedBehindAModalLoopRunInsideIt) {
    WindowThread window;
    std::atomic<bool> modalOpen{false};
    std::atomic<bool> secondReturned{false};
    std::atomic<bool> firstReturned{false};
    bool secondSawTheLoopOpen = false;
    std::thread second([&] {
        ASSERT_TRUE(WaitUntil([&] { return modalOpen.load(); }));
        secondSawTheLoopOpen = window.calls.Call([&] { return modalOpen.load(); });
        secondReturned = true;
    });
    std::thread first([&] {
        window.calls.Call([&] {
            modalOpen = true;
            // The modal loop: it handles the window's wakes until the other call has run.
            EXPECT_TRUE(window.RunUntil([&] { return secondReturned.load(); }));
            modalOpen = false;
        });
        firstReturned = true;
    });
    EXPECT_TRUE(window.RunUntil([&] { return firstReturned.load(); }));
    first.join();
    second.join();
    EXPECT_TRUE(secondSawTheLoopOpen);
}

}  // namespace
}  // namespace qj
