#include "platform/run_lock.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/program_folder.h"
#include "temporary_home.h"

namespace qj {
namespace {

TEST(RunLock, OneHolderAtATimeUntilItLetsGo) {
    testing::TemporaryHome home;
    const Text path = ProgramPath("新/文件夹/.run.lock");
    RunLock first;
    RunLock second;
    ASSERT_TRUE(first.TryLock(path));
    EXPECT_TRUE(std::filesystem::is_regular_file(NativePath(path)));
    EXPECT_FALSE(second.TryLock(path));
    first.Unlock();
    ASSERT_TRUE(second.TryLock(path));
    {
        RunLock third;
        EXPECT_FALSE(third.TryLock(path));
    }
    EXPECT_FALSE(first.TryLock(path));  // a failed attempt takes nothing from the holder
}

TEST(RunLock, ALockFileThatCannotBeMadeCountsAsTaken) {
    testing::TemporaryHome home;
    home.PointAtUnwritableFolder();
    RunLock lock;
    EXPECT_TRUE(lock.TryLock(ProgramPath("OpenAi/.run.lock")));
}

}  // namespace
}  // namespace qj
