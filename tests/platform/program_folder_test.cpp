#include "platform/program_folder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "temporary_home.h"

namespace qj {
namespace {

TEST(ProgramFolder, IsTheHomeVariableAsGbkText) {
    testing::TemporaryHome home;
    EXPECT_EQ(NativePath(ProgramFolder()), home.Path());
    EXPECT_EQ(ProgramFolder().substr(ProgramFolder().size() - 9), "青笺 测试");
    EXPECT_EQ(ProgramPath("OpenAi/待采集关键词.txt"), ProgramFolder() + "/OpenAi/待采集关键词.txt");
    ::setenv("QINGJIAN_HOME", (home.Path().native() + "//").c_str(), 1);
    EXPECT_EQ(NativePath(ProgramFolder()), home.Path());
}

TEST(ProgramFolder, IsTheExecutablesFolderWithoutTheVariable) {
    testing::TemporaryHome home;
    ::unsetenv("QINGJIAN_HOME");
    char exe[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    EXPECT_EQ(NativePath(ProgramFolder()), std::filesystem::path(exe).parent_path());
    ::setenv("QINGJIAN_HOME", "", 1);
    EXPECT_EQ(NativePath(ProgramFolder()), std::filesystem::path(exe).parent_path());
}

TEST(ProgramFolder, NamesCrossTheFileBoundaryUnchanged) {
    const Text gbk = "/tmp/青笺/配置.ini";
    EXPECT_EQ(NativePath(gbk).native(), "/tmp/\xE9\x9D\x92\xE7\xAC\xBA/\xE9\x85\x8D\xE7\xBD\xAE.ini");
    EXPECT_EQ(TextFromNativePath(NativePath(gbk)), gbk);
}

}  // namespace
}  // namespace qj
