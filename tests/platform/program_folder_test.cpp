#include "platform/program_folder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "temporary_home.h"

#if defined(_WIN32)
#include "platform/windows_path.h"
#endif

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

#if defined(_WIN32)
// From the length on where the wide-character functions refuse a path without it, a path takes the
// "\\?\" form: absolute, "\" between its parts, "." and ".." resolved. A shorter one is left alone.
TEST(LongPathForm, IsTakenByPathsTooLongForTheShortOne) {
    std::wstring parts;  // 30 folders, 300 characters
    for (int i = 0; i < 30; ++i) {
        parts += L"\u9752\u7B3A-folder/";
    }
    const auto backslashed = [](std::wstring path) {
        std::replace(path.begin(), path.end(), L'/', L'\\');
        return path;
    };
    EXPECT_EQ(LongPathForm(L"C:/short/./x.txt"), L"C:/short/./x.txt");
    EXPECT_EQ(LongPathForm(L"C:/" + parts + L"./a/../x.txt"), L"\\\\?\\C:\\" + backslashed(parts) + L"x.txt");
    EXPECT_EQ(LongPathForm(L"//server/share/" + parts + L"x.txt"),
              L"\\\\?\\UNC\\server\\share\\" + backslashed(parts) + L"x.txt");
    const std::wstring already = L"\\\\?\\C:\\" + backslashed(parts) + L"x.txt";
    EXPECT_EQ(LongPathForm(already), already);
    // A relative path is put behind the current directory, as the system would have done.
    const std::wstring current = std::filesystem::current_path().native();
    const std::wstring relative = LongPathForm(parts + L"x.txt");
    EXPECT_TRUE(relative.starts_with(L"\\\\?\\")) << relative.size();
    EXPECT_TRUE(relative.ends_with(L"\\" + backslashed(parts) + L"x.txt")) << relative.size();
    EXPECT_NE(relative.find(backslashed(current)), std::wstring::npos) << relative.size();
}
#endif

}  // namespace
}  // namespace qj
