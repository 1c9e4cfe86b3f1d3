#include "platform/signals.h"

#include <gtest/gtest.h>

#include <csignal>

#if defined(_WIN32)
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "temporary_home.h"
#endif

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
#else
// Windows delivers Ctrl+C to the processes of a console: the watch is tried in a child of this
// program that has a console of its own, which this process joins to press Ctrl+C there.

namespace fs = std::filesystem;

bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 2000; ++i) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

// The child's part (run only when the test below starts it): watch, say so, wait for the stop.
TEST(InterruptWatchChild, DISABLED_WaitsForCtrlC) {
    const std::optional<fs::path> folder = testing::EnvironmentPath("QJ_INTERRUPT_FOLDER");
    ASSERT_TRUE(folder.has_value());
    std::atomic<bool> stop{false};
    InterruptWatch watch(stop);
    testing::WriteBytes(*folder / "ready", "");
    const bool stopped = WaitFor([&] { return stop.load(); });
    const bool interrupted = watch.End();
    testing::WriteBytes(*folder / "result.part", std::string(stopped ? "stopped" : "running") +
                                                     (interrupted ? " interrupted" : " quiet"));
    fs::rename(*folder / "result.part", *folder / "result");
}

TEST(InterruptWatch, CtrlCSetsTheFlagWhileWatched) {
    testing::TemporaryHome home;
    testing::SetEnvironmentPath("QJ_INTERRUPT_FOLDER", home.Path());
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) +
                           L"\" --gtest_also_run_disabled_tests --gtest_filter=InterruptWatchChild.*";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                               &startup, &child));
    const bool ready = WaitFor([&] { return fs::exists(home.Path() / "ready"); });
    FreeConsole();
    const bool attached = ready && AttachConsole(child.dwProcessId);
    SetConsoleCtrlHandler(nullptr, TRUE);  // the Ctrl+C is for the child, not for this process
    const bool sent = attached && GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    const bool ended = WaitForSingleObject(child.hProcess, 20000) == WAIT_OBJECT_0;
    DWORD exitCode = 0;
    GetExitCodeProcess(child.hProcess, &exitCode);
    if (!ended) {
        TerminateProcess(child.hProcess, 9);
    }
    FreeConsole();
    SetConsoleCtrlHandler(nullptr, FALSE);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    testing::UnsetEnvironment("QJ_INTERRUPT_FOLDER");
    EXPECT_TRUE(ready);
    EXPECT_TRUE(sent);
    ASSERT_TRUE(ended);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(testing::ReadBytes(home.Path() / "result"), "stopped interrupted");

    // Without a watch, nothing is remembered.
    std::atomic<bool> stop{false};
    InterruptWatch quiet(stop);
    EXPECT_FALSE(quiet.End());
}
#endif

}  // namespace
}  // namespace qj
