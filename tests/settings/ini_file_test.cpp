#include "settings/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/program_folder.h"
#include "settings/settings_store.h"
#include "temporary_home.h"
#include "text/code_page.h"

namespace qj {
namespace {

using testing::ReadBytes;
using testing::TemporaryHome;
using testing::WriteBytes;

struct SetCase {
    const char* what;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
};

TEST(IniFile, SetValueCreatesAndReplacesKeepingEverythingElse) {
    const SetCase cases[] = {
        {"new file", "", "s", "k", "v", "[s]\r\nk=v\r\n"},
        {"new key goes behind the section's last key", "[s]\r\na=1\r\n[t]\r\nb=2\r\n", "s", "c", "3",
         "[s]\r\na=1\r\nc=3\r\n[t]\r\nb=2\r\n"},
        {"blank line before the next section stays there", "[s]\na=1\n\n[t]\nb=2\n", "s", "c", "3",
         "[s]\na=1\nc=3\r\n\n[t]\nb=2\n"},
        {"value replaced in place, LF lines and comments untouched", "; note\n[a]\nx=1\n\n[b]\ny=2\nz=4\n", "b", "y",
         "3", "; note\n[a]\nx=1\n\n[b]\ny=3\r\nz=4\n"},
        {"new section behind a last line without line end", "[a]\r\nx=1", "b", "y", "2",
         "[a]\r\nx=1\r\n[b]\r\ny=2\r\n"},
        {"new key behind a last line without line end", "[a]\r\nx=1", "a", "y", "2", "[a]\r\nx=1\r\ny=2\r\n"},
        {"names match without regard to case; the file's spelling stays", "[Sec]\r\nKey = 1\r\n", "sEC", "KEY", "2",
         "[Sec]\r\nKey=2\r\n"},
        {"the first of two equal sections counts", "[s]\r\nk=1\r\n[s]\r\nk=2\r\n", "s", "k", "9",
         "[s]\r\nk=9\r\n[s]\r\nk=2\r\n"},
        {"empty value", "[s]\r\nk=old\r\n", "s", "k", "", "[s]\r\nk=\r\n"},
        {"a key in another section is another key", "[a]\r\nk=1\r\n", "b", "k", "2", "[a]\r\nk=1\r\n[b]\r\nk=2\r\n"},
        {"section header with blanks inside the brackets", "[ s ]\r\n", "s", "k", "v", "[ s ]\r\nk=v\r\n"},
        // A file cut short after a CR: the CR becomes a whole line end, never part of a value.
        {"new section behind a last line ending in a lone CR", "[a]\r\nx=假\r", "b", "y", "2",
         "[a]\r\nx=假\r\n[b]\r\ny=2\r\n"},
        {"new key behind a last line ending in a lone CR", "[a]\r\nx=假\r", "a", "y", "2", "[a]\r\nx=假\r\ny=2\r\n"},
    };
    for (const SetCase& c : cases) {
        EXPECT_EQ(SetIniValue(c.before, c.section, c.key, c.value), c.after) << c.what;
    }
}

TEST(IniFile, FindValueDropsBlanksAndOnePairOfQuotes) {
    const std::string file =
        "[s]\r\n"
        "plain=abc\r\n"
        "blanks = \t a b \t\r\n"
        "quoted=\"  q  \"\r\n"
        "twice=\"\"x\"\"\n"
        "open=\"x\n"
        "empty=\r\n"
        "noequals\r\n"
        "[other]\n"
        "plain=zzz\n";
    EXPECT_EQ(FindIniValue(file, "s", "plain"), "abc");
    EXPECT_EQ(FindIniValue(file, "s", "blanks"), "a b");
    EXPECT_EQ(FindIniValue(file, "s", "quoted"), "  q  ");
    EXPECT_EQ(FindIniValue(file, "s", "twice"), "\"x\"");
    EXPECT_EQ(FindIniValue(file, "s", "open"), "\"x");
    EXPECT_EQ(FindIniValue(file, "s", "empty"), "");
    EXPECT_EQ(FindIniValue(file, "S", "PLAIN"), "abc");
    EXPECT_EQ(FindIniValue(file, "other", "plain"), "zzz");
    EXPECT_EQ(FindIniValue(file, "s", "noequals"), std::nullopt);
    EXPECT_EQ(FindIniValue(file, "s", "missing"), std::nullopt);
    EXPECT_EQ(FindIniValue(file, "missing", "plain"), std::nullopt);
}

TEST(IniFile, NamesIgnoreAsciiCaseButNeverSplitADoubleByteCharacter) {
    EXPECT_TRUE(IniNamesEqual("编辑框_Demo_API秘钥", "编辑框_DEMO_api秘钥"));
    // 丄 (81 41) and 乤 (81 61) differ only in a trail byte that looks like 'A' and 'a'.
    EXPECT_FALSE(IniNamesEqual("\x81\x41", "\x81\x61"));
    EXPECT_FALSE(IniNamesEqual("ab", "abc"));
    EXPECT_EQ(FindIniValue("[\x81\x41]\r\nk=1\r\n", "\x81\x61", "k"), std::nullopt);
}

TEST(IniFile, ReadsGbkFileWithChineseNamesOnDisk) {
    TemporaryHome home;
    const Text path = ProgramPath(kSettingsFileTail);
    WriteBytes(NativePath(path), "[编辑框]\n编辑框_Demo_API秘钥=sk-123\n");
    EXPECT_EQ(ReadIniValue(path, "编辑框", "编辑框_Demo_API秘钥"), "sk-123");
    // Leading bytes up to 32 are skipped in the file, section and key names.
    EXPECT_EQ(ReadIniValue(" \t\x01" + path, "\r\n 编辑框", "  编辑框_Demo_API秘钥"), "sk-123");
    EXPECT_EQ(ReadIniValue(path, "  ", "编辑框_Demo_API秘钥"), "");
    EXPECT_EQ(ReadIniValue(path, "编辑框", "\x01"), "");
    EXPECT_EQ(ReadIniValue(ProgramPath("missing.ini"), "编辑框", "编辑框_Demo_API秘钥"), "");
}

// A GBK file must never be read as UTF-8. About 1,900 GBK characters are also a valid two-byte
// UTF-8 sequence (杀 C9 B1 reads as "ɱ"): a file of them stays GBK, every one alone and all together.
// UTF-8 is what holds Chinese as UTF-8 writes it (the byte-order marks: see the main window's test).
TEST(IniFile, TheEncodingIsWhatTheTextWouldBe) {
    Text all = "[s]\r\nk=";
    for (int lead = 0xC2; lead <= 0xDF; ++lead) {
        for (int trail = 0x80; trail <= 0xBF; ++trail) {
            const Text character{static_cast<char>(lead), static_cast<char>(trail)};
            ASSERT_EQ(DetectIniEncoding("[s]\r\nk=" + character + "0\r\n"), IniEncoding::kGbk) << lead << " " << trail;
            all += character;
        }
    }
    EXPECT_EQ(DetectIniEncoding(all), IniEncoding::kGbk);
    EXPECT_EQ(DetectIniEncoding(AnsiToUtf8("[编辑框]\r\n")), IniEncoding::kUtf8);

    // Characters GBK lacks become "?", and the document says so; a "?" of the file's own does not.
    const IniDocument emoji = IniDocument::FromFileBytes(AnsiToUtf8("[编辑框]\r\nk=?") + "\xF0\x9F\x98\x80");
    EXPECT_EQ(emoji.text(), "[编辑框]\r\nk=??");
    EXPECT_TRUE(emoji.lossy());
    EXPECT_FALSE(IniDocument::FromFileBytes(AnsiToUtf8("[编辑框]\r\nk=?")).lossy());
}

TEST(IniFile, ReadBufferHoldsTheValueAndItsTerminatingZero) {
    TemporaryHome home;
    const Text path = ProgramPath("cut.ini");
    WriteBytes(
        NativePath(path), "[s]\r\nascii=" + std::string(20000, 'x') + "\r\nfits=" + std::string(10239, 'y') +
                              "\r\nchinese=" +
                              [] {
                                  std::string s;
                                  for (int i = 0; i < 6000; ++i) {
                                      s += "青";
                                  }
                                  return s;
                              }() +
                              "\r\n");
    EXPECT_EQ(ReadIniValue(path, "s", "ascii"), std::string(10239, 'x'));
    EXPECT_EQ(ReadIniValue(path, "s", "fits"), std::string(10239, 'y'));
    // 5119 characters are 10238 bytes; half of the next one is not returned.
    const Text chinese = ReadIniValue(path, "s", "chinese");
    EXPECT_EQ(chinese.size(), 10238u);
    EXPECT_EQ(chinese.substr(chinese.size() - 2), "青");
}

TEST(IniFile, WriteLeavesTheFileToItsOwnerOnlyWhateverItsModeWas) {
    TemporaryHome home;
    const Text path = ProgramPath(kSettingsFileTail);
    ASSERT_TRUE(WriteIniValue(path, "编辑框", "k", "v"));
    EXPECT_EQ(ReadBytes(NativePath(path)), "[编辑框]\r\nk=v\r\n");
#if defined(_WIN32)
    // Windows has no mode bits: who may read the file is the folder's access list. What is left is
    // that each write replaces the file whole.
    for (const unsigned before : {0644u, 0666u, 0640u, 0400u, 0600u}) {
        ASSERT_TRUE(WriteIniValue(path, "编辑框", "k", "w" + std::to_string(before)));
    }
#else
    struct stat info {};
    ASSERT_EQ(::stat(NativePath(path).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // A file made by hand may be readable by everyone; permissions are narrowed, never widened.
    const std::pair<unsigned, unsigned> modes[] = {
        {0644, 0600}, {0666, 0600}, {0640, 0600}, {0400, 0400}, {0600, 0600}};
    for (const auto& [before, after] : modes) {
        ASSERT_EQ(::chmod(NativePath(path).c_str(), before), 0);
        ASSERT_TRUE(WriteIniValue(path, "编辑框", "k", "w" + std::to_string(before)));
        ASSERT_EQ(::stat(NativePath(path).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, after) << std::oct << before;
    }
#endif
    EXPECT_EQ(ReadBytes(NativePath(path)), "[编辑框]\r\nk=w384\r\n");
    // Nothing but the file is left in the folder: the temporary file was renamed over it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home.Path()), {}), 1);
}

TEST(IniFile, FailedWriteLeavesTheOldFileAndSaysWhy) {
    TemporaryHome home;
    const Text path = ProgramPath(kSettingsFileTail);
    ASSERT_TRUE(WriteIniValue(path, "s", "k", "old"));
    home.PointAtUnwritableFolder();
    const Text unwritable = ProgramPath(kSettingsFileTail);
    const Result<void> written = WriteIniValue(unwritable, "s", "k", "new");
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().where, unwritable);
    EXPECT_FALSE(written.error().reason.empty());
    EXPECT_EQ(ReadBytes(NativePath(path)), "[s]\r\nk=old\r\n");
}

TEST(IniFile, RefusesWhatWouldCorruptTheFile) {
    TemporaryHome home;
    const Text path = ProgramPath(kSettingsFileTail);
    ASSERT_TRUE(WriteIniValue(path, "s", "k", "v"));
    EXPECT_FALSE(WriteIniValue(path, "s", "k", "line\n[s]\nk=injected"));
    EXPECT_FALSE(WriteIniValue(path, "s", "k", "cr\rlf"));
    EXPECT_FALSE(WriteIniValue(path, "s]x", "k", "v"));
    EXPECT_FALSE(WriteIniValue(path, "s", "k=x", "v"));
    EXPECT_FALSE(WriteIniValue(path, " ", "k", "v"));
    EXPECT_EQ(ReadBytes(NativePath(path)), "[s]\r\nk=v\r\n");
}

TEST(IniFile, AFolderInThePlaceOfTheFileIsAFailure) {
    TemporaryHome home;
    const Text path = ProgramPath(kSettingsFileTail);
    std::filesystem::create_directory(NativePath(path));
    const Result<void> written = WriteIniValue(path, "s", "k", "v");
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().reason, "Is a directory");
    EXPECT_EQ(ReadIniValue(path, "s", "k"), "");
}

}  // namespace
}  // namespace qj
