#include "platform/program_folder.h"

#include <gtest/gtest.h>

#include "temporary_home.h"

namespace qj {
namespace {

TEST(ProgramFolder, IsTheHomeVariableAsGbkText) {
    testing::TemporaryHome home;
    EXPECT_EQ(NativePath(ProgramFolder()), home.Path());
    EXPECT_EQ(ProgramFolder().substr(ProgramFolder().size() - 9), "青笺 测试");
    EXPECT_EQ(ProgramPath("OpenAi/待采集关键词.txt"), ProgramFolder() + "/OpenAi/待采集关键词.txt");
    testing::SetEnvironmentPath("QINGJIAN_HOME", home.Path().native() + std::filesystem::path("//").native());
    EXPECT_EQ(NativePath(ProgramFolder()), home.Path());
}

// The test program is built into the folder of this source's build; without the variable, that
// is the program folder.
TEST(ProgramFolder, IsTheExecutablesFolderWithoutTheVariable) {
    testing::TemporaryHome home;
    testing::UnsetEnvironment("QINGJIAN_HOME");
    EXPECT_TRUE(ProgramFolder().ends_with("/tests/platform")) << ProgramFolder();
    EXPECT_TRUE(std::filesystem::is_directory(NativePath(ProgramFolder())));
#if !defined(_WIN32)
    ::setenv("QINGJIAN_HOME", "", 1);
    EXPECT_TRUE(ProgramFolder().ends_with("/tests/platform")) << ProgramFolder();
#endif
}

TEST(ProgramFolder, NamesCrossTheFileBoundaryUnchanged) {
    const Text gbk = "/tmp/青笺/配置.ini";
#if defined(_WIN32)
    EXPECT_EQ(NativePath(gbk).native(), L"/tmp/\u9752\u7B3A/\u914D\u7F6E.ini");
    // Names from Windows come with its separators; inside the program every path has "/" (and a
    // character whose second GBK byte is a backslash stays itself).
    EXPECT_EQ(TextFromNativePath(std::filesystem::path(L"C:\\\u9752\u7B3A\\\u8AA0.txt")), "C:/青笺/誠.txt");
#else
    EXPECT_EQ(NativePath(gbk).native(), "/tmp/\xE9\x9D\x92\xE7\xAC\xBA/\xE9\x85\x8D\xE7\xBD\xAE.ini");
#endif
    EXPECT_EQ(TextFromNativePath(NativePath(gbk)), gbk);
}

}  // namespace
}  // namespace qj
