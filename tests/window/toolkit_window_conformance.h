#pragma once

// What every toolkit's window must do beyond the window model: calls from other threads, which run
// on the window's thread, and its end, which lets no worker wait. Written once against
// ToolkitWindow and run against the Qt window and the native Windows window. A window joins with
// its maker of the window conformance suite, which also says whether a control's widget is gone:
//
//   struct MyWindowMaker {
//       static std::unique_ptr<ToolkitWindow> Make(const WindowLayout& layout);
//       static bool WidgetGone(ToolkitWindow& window, const Text& name);
//   };
//   INSTANTIATE_TYPED_TEST_SUITE_P(MyWindow, ToolkitWindowConformance, MyWindowMaker);

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "text/text_helpers.h"
#include "window/toolkit_window.h"
#include "window_conformance.h"

namespace qj::testing {

template <class Maker>
class ToolkitWindowConformance : public ::testing::Test {
protected:
    ToolkitWindowConformance() : window_(Maker::Make(ConformanceLayout())) {}
    ToolkitWindow& window() { return *window_; }

    // Lets the window's thread handle its events until `condition` holds; false after twenty
    // seconds.
    bool PumpUntil(const std::function<bool()>& condition) {
        return Until(condition, [this] { window_->ProcessPendingMessages(); });
    }
    // Waits for another thread until `condition` holds, the window's events left alone; false
    // after twenty seconds.
    static bool WaitUntil(const std::function<bool()>& condition) {
        return Until(condition, [] {});
    }

private:
    static bool Until(const std::function<bool()>& condition, const std::function<void()>& meanwhile) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            meanwhile();
            std::this_thread::yield();
        }
        return true;
    }

    std::unique_ptr<ToolkitWindow> window_;
};

TYPED_TEST_SUITE_P(ToolkitWindowConformance);

TYPED_TEST_P(ToolkitWindowConformance, WorkerCallsWaitForTheWindowThreadAndClosingReleasesThem) {
    ToolkitWindow& w = this->window();
    std::atomic<bool> written{false};
    std::thread worker([&] {
        w.SetText(conformance::kLine, kPropContent, "sk-1");
        written = true;
    });
    // The worker's call waits in the window's queue, and nothing changes until the window thread
    // handles its events.
    ASSERT_TRUE(this->WaitUntil([&] { return w.WaitingCalls() != 0; }));
    ASSERT_EQ(w.WaitingCalls(), 1u);
    EXPECT_FALSE(written);
    EXPECT_EQ(w.GetText(conformance::kLine, kPropContent), "");
    ASSERT_TRUE(this->PumpUntil([&] { return written.load(); }));
    worker.join();
    EXPECT_EQ(w.GetText(conformance::kLine, kPropContent), "sk-1");

    // A worker whose call is queued when the window closes returns at once, empty-handed; later
    // calls do not wait at all, from any thread.
    Text read = "unset";
    std::thread late([&] { read = w.GetText(conformance::kButton, kPropCaption); });
    ASSERT_TRUE(this->WaitUntil([&] { return w.WaitingCalls() != 0; }));
    EXPECT_EQ(read, "unset");
    w.Close();
    late.join();
    EXPECT_EQ(read, "");
    EXPECT_FALSE(w.IsOpen());
    EXPECT_TRUE(TypeParam::WidgetGone(w, conformance::kButton));
    std::thread after([&] {
        w.SetText(conformance::kButton, kPropCaption, "x");
        w.SetNumber(conformance::kCheck, kPropChecked, 1);
        read = w.GetText(conformance::kButton, kPropCaption);
    });
    after.join();
    EXPECT_EQ(read, "");
    EXPECT_EQ(w.GetNumber(conformance::kCheck, kPropChecked), 0);
    EXPECT_EQ(w.GetText(conformance::kButton, kPropCaption), "");
}

// A worker that only shows something is not held up by the window: its posted work waits in the
// queue, runs on the window's thread in the order it was posted, and is there for the window
// thread's next call. Once the window is closing, posted work is dropped.
TYPED_TEST_P(ToolkitWindowConformance, PostedWorkRunsOnTheWindowThreadWithoutHoldingTheWorker) {
    ToolkitWindow& w = this->window();
    constexpr int kWorkers = 4;
    constexpr int kLines = 25;
    const std::thread::id windowThread = std::this_thread::get_id();
    std::atomic<int> elsewhere{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int worker = 0; worker < kWorkers; ++worker) {
        workers.emplace_back([&, worker] {
            for (int i = 0; i < kLines; ++i) {
                const Text line = std::to_string(worker) + ":" + std::to_string(i) + "\r\n";
                w.Post([&w, &elsewhere, windowThread, line] {
                    elsewhere += std::this_thread::get_id() != windowThread ? 1 : 0;
                    w.AppendText(conformance::kLines, line);
                });
            }
            ++finished;
        });
    }
    // The window thread handles no event meanwhile: a worker that waited for it would not finish.
    ASSERT_TRUE(this->WaitUntil([&] { return finished == kWorkers; }));
    for (std::thread& worker : workers) {
        worker.join();
    }
    const TextList lines = SplitText(w.GetText(conformance::kLines, kPropContent), "\r\n");
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kWorkers * kLines));
    std::vector<int> next(kWorkers, 0);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int worker = lines[i][0] - '0';
        ASSERT_TRUE(worker >= 0 && worker < kWorkers) << lines[i];
        EXPECT_EQ(lines[i], std::to_string(worker) + ":" + std::to_string(next[worker]++));
    }
    EXPECT_EQ(elsewhere.load(), 0);

    std::atomic<int> ranAfterAll{0};
    std::thread early([&] { w.Post([&] { ++ranAfterAll; }); });
    early.join();
    w.Close();
    std::thread late([&] { w.Post([&] { ++ranAfterAll; }); });
    late.join();
    w.ProcessPendingMessages();
    EXPECT_EQ(ranAfterAll.load(), 0);
}

REGISTER_TYPED_TEST_SUITE_P(ToolkitWindowConformance, WorkerCallsWaitForTheWindowThreadAndClosingReleasesThem,
                            PostedWorkRunsOnTheWindowThreadWithoutHoldingTheWorker);

}  // namespace qj::testing
