// The output files of the job: their names, their paragraph form and how they are written.

#include "run/output_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>

#if !defined(_WIN32)
#include "file_size_limit.h"
#endif
#include "run/keyword_queue.h"
#include "platform/program_folder.h"
#include "temporary_home.h"
#include "text/code_page.h"

namespace qj {
namespace {

// A name part followed by "~" and eight hexadecimal digits, then ".txt".
bool IsTagged(const Text& name, const Text& stem) {
    if (name.size() != stem.size() + 13 || !name.starts_with(stem + "~") || !name.ends_with(".txt")) {
        return false;
    }
    return name.substr(stem.size() + 1, 8).find_first_not_of("0123456789abcdef") == Text::npos;
}

TEST(OutputFileName, ChangesOnlyWhatFatOrNtfsCannotHoldAndTagsWhatItChanged) {
    // Names that need no change stay exactly as they always were.
    for (const Text& keyword :
         {Text("泡脚对身体有什么好处"), Text("  spaced  "), Text("誠"), Text("abc."), Text("COM0"), Text("CONSOLE"),
          Text("con-man.txt"), Text(200, 'x'), Text("100\x80"), Text("a~0123abc"), Text("a~0123abcg"),
          Text("\x81~0123abcd")}) {  // that "~" is the second byte of a character
        EXPECT_EQ(OutputFileName(keyword), keyword + ".txt") << keyword;
    }
    const std::vector<std::pair<Text, Text>> changed = {
        {"../../x", ".._.._x"},
        {"a/b\\c", "a_b_c"},
        {"tab\there", "tab_here"},
        {".", "_"},
        {"..", "__"},
        {"甲:乙*?", "甲_乙__"},
        {"\"<q>|", "__q__"},
        {"CON", "_CON"},
        {"con.txt", "_con.txt"},
        {"Lpt9 .doc", "_Lpt9 .doc"},
        {"nul", "_nul"},
        {"CONOUT$", "_CONOUT$"},
        {"a~0123abcd", "a~0123abcd"},  // looks like a tag of its own
        {"甲\x81", "甲_"},             // a lone lead byte at the end
        {"\x81\x30", "_0"},            // a lead byte without a trail byte: the digit stays
    };
    for (const auto& [keyword, stem] : changed) {
        EXPECT_TRUE(IsTagged(OutputFileName(keyword), stem)) << keyword << " -> " << OutputFileName(keyword);
    }
    // The tag is stable: existing output folders and skipping rely on it.
    EXPECT_EQ(OutputFileName("甲/乙"), "甲_乙~22077c91.txt");
    EXPECT_EQ(OutputFileName("甲_乙"), "甲_乙.txt");
}

TEST(OutputFileName, LongNamesStayWithinTheLimitAndApart) {
    Text longA, longB;
    for (int i = 0; i < 100; ++i) {
        longA += "长";
    }
    longB = longA + "乙";
    longA += "甲";
    const Text na = OutputFileName(longA);
    const Text nb = OutputFileName(longB);
    EXPECT_NE(na, nb);
    EXPECT_LE(AnsiToUtf8(na).size(), 255u);
    EXPECT_LE(AnsiToUtf8(nb).size(), 255u);
    EXPECT_TRUE(na.ends_with(".txt"));
}

// A keyword built from pieces that name rules trip over.
Text RandomKeyword(std::mt19937& random) {
    static const std::vector<Text> kPieces = {"a",   "Z",        "7",    " ",      ".",         "~",         "0123abcd",
                                              "/",   "\\",       ":",    "*",      "?",         "\"",        "<",
                                              ">",   "|",        "\x01", "\x1F",   "\x7F",      "甲",        "乙",
                                              "誠",  "\x81\x40", "\x81", "\xFE",   "\x80",      "\xFF",      "CON",
                                              "nul", "Com3",     "lpt9", "CONIN$", "~0123abcd", "~DEADBEEF", "txt"};
    Text keyword;
    const int pieces = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < pieces; ++i) {
        keyword += kPieces[random() % kPieces.size()];
    }
    if (random() % 20 == 0) {
        for (int i = 0; i < 125; ++i) {
            keyword += random() % 2 ? "长" : "x";
        }
    }
    return keyword;
}

// What FAT and NTFS accept as the name of a file, judged on the name as stored (UTF-8).
::testing::AssertionResult AcceptedByFatAndNtfs(const std::string& utf8) {
    if (utf8.size() > 255) {
        return ::testing::AssertionFailure() << "longer than 255 bytes";
    }
    for (const char c : utf8) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F ||
            std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) {
            return ::testing::AssertionFailure() << "holds byte " << static_cast<int>(static_cast<unsigned char>(c));
        }
    }
    if (utf8.find("\xEF\xBF\xBD") != std::string::npos) {
        return ::testing::AssertionFailure() << "holds a replacement character";
    }
    if (utf8.ends_with(".") || utf8.ends_with(" ")) {
        return ::testing::AssertionFailure() << "ends with a dot or blank";
    }
    std::string base = utf8.substr(0, utf8.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    for (char& c : base) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (const char* device :
         {"CON",  "PRN",  "AUX",  "NUL",  "CONIN$", "CONOUT$", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6",
          "COM7", "COM8", "COM9", "LPT1", "LPT2",   "LPT3",    "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"}) {
        if (base == device) {
            return ::testing::AssertionFailure() << "a device name";
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(OutputFileName, EveryKeywordGetsAValidNameOfItsOwn) {
    std::mt19937 random(12);  // fixed: the same keywords every run
    std::map<Text, Text> owners;
    int kept = 0;
    for (int i = 0; i < 20000; ++i) {
        const Text keyword = RandomKeyword(random);
        const Text name = OutputFileName(keyword);
        const std::string stored = AnsiToUtf8(name);
        ASSERT_TRUE(name.ends_with(".txt")) << keyword;
        ASSERT_TRUE(AcceptedByFatAndNtfs(stored)) << keyword << " -> " << name;
        ASSERT_EQ(Utf8ToAnsi(stored), name) << "the stored name reads back as another text";
        const auto [it, inserted] = owners.emplace(name, keyword);
        ASSERT_TRUE(inserted || it->second == keyword) << it->second << " and " << keyword << " share " << name;
        // A keyword that survives as a stored name, valid and not too long, keeps its name.
        const Text plain = keyword + ".txt";
        const std::string plainStored = AnsiToUtf8(plain);
        const bool tagLike =
            keyword.size() >= 9 && keyword[keyword.size() - 9] == '~' &&
            keyword.substr(keyword.size() - 8).find_first_not_of("0123456789abcdefABCDEF") == Text::npos;
        if (Utf8ToAnsi(plainStored) == plain && AcceptedByFatAndNtfs(plainStored) && !tagLike && keyword != "." &&
            keyword != "..") {
            ASSERT_EQ(name, plain);
            ++kept;
        }
    }
    EXPECT_GT(kept, 1000);             // the plain case really was met
    EXPECT_GT(owners.size(), 15000u);  // and so were many different keywords
}

TEST(ToParagraphHtml, Forms) {
    EXPECT_EQ(ToParagraphHtml("第一段\r\n\r\n第二段"), "<p>第一段</p>\r\n<p>第二段</p>\r\n");
    EXPECT_EQ(ToParagraphHtml("one line"), "<p>one line</p>\r\n");
    EXPECT_EQ(ToParagraphHtml("a<b> & c\r\n"), "<p>a<b> & c</p>\r\n");
    EXPECT_EQ(ToParagraphHtml(""), "");
}

class OutputFilesTest : public ::testing::Test {
protected:
    // The names in the output folder.
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(NativePath(paths_.outputFolder))) {
            const std::u8string name = entry.path().filename().u8string();
            names.insert(std::string(name.begin(), name.end()));
        }
        return names;
    }

    testing::TemporaryHome home_;
    JobPaths paths_ = JobPathsIn(ProgramFolder());
};

TEST_F(OutputFilesTest, ArticlesAreWrittenWholeOrNotAtAllAndLeftoversGo) {
    OutputFolder output(paths_.outputFolder);
    EXPECT_TRUE(output.Save("a/b", "内容"));  // the folder is made on first use
    EXPECT_EQ(ReadFileBytes(paths_.outputFolder + OutputFileName("a/b")), "\xC4\xDA\xC8\xDD");
    EXPECT_TRUE(output.Exists("a/b"));

    // A write cut short (here: the disk "full" after 100 bytes) leaves the earlier article whole and
    // nothing else behind.
    ASSERT_TRUE(output.Save("甲", "earlier"));
#if !defined(_WIN32)  // Windows has no per-process limit on file sizes to cut a write short
    {
        FileSizeLimit limit(100);
        const Result<void> e = output.Save("甲", Text(4096, 'x'));
        ASSERT_FALSE(e);
        EXPECT_EQ(e.error().where, paths_.outputFolder + "甲.txt");
    }
#endif
    EXPECT_EQ(ReadFileBytes(paths_.outputFolder + "甲.txt"), "earlier");
    EXPECT_EQ(Names(), (std::set<std::string>{AnsiToUtf8(OutputFileName("a/b")), AnsiToUtf8("甲.txt")}));

    // What a kill leaves: a partial file, and an empty file a power cut may leave. Neither is an
    // article; the partial file goes at the next run.
    testing::WriteBytes(NativePath(paths_.outputFolder + ".qingjian-abcdefghij.part"), "half");
    testing::WriteBytes(NativePath(paths_.outputFolder + "乙.txt"), "");
    EXPECT_FALSE(output.Exists("乙"));
    EXPECT_EQ(RemovePartialFiles(paths_.outputFolder), 1);
    EXPECT_EQ(Names().size(), 3u);

    // Different keywords, one file each, whatever their names had to become.
    const std::vector<Text> keywords = {"甲/乙", "甲_乙",   "甲:乙", "甲\\乙", "CON",
                                        "con",   "CON.txt", "_CON",  "甲\x81", "甲_"};
    for (const Text& k : keywords) {
        ASSERT_TRUE(output.Save(k, k)) << k;
    }
    for (const Text& k : keywords) {
        EXPECT_EQ(ReadFileBytes(paths_.outputFolder + OutputFileName(k)), k);
    }
    EXPECT_EQ(Names().size(), 3u + keywords.size());
}

TEST_F(OutputFilesTest, FailedKeywordsAreAppended) {
    EXPECT_TRUE(AppendFailedKeyword(paths_.failureList, "k1"));
    EXPECT_TRUE(AppendFailedKeyword(paths_.failureList, "k1"));
    EXPECT_EQ(ReadFileBytes(paths_.failureList), "k1\r\nk1\r\n");
}

}  // namespace
}  // namespace qj
