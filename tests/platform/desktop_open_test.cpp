#include "platform/desktop_open.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/program_folder.h"
#include "temporary_home.h"

namespace qj {
namespace {

namespace fs = std::filesystem;

#if !defined(_WIN32)
// Puts a folder holding a stand-in for the desktop's opener at the front of PATH; the stand-in
// writes its arguments, one per line, into a file of its own folder.
class FakeOpener {
public:
    explicit FakeOpener(const fs::path& folder) : folder_(folder) {
        testing::WriteBytes(folder / "xdg-open",
                            "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.part\" && mv \"$0.part\" \"$0.args\"\n");
        fs::permissions(folder / "xdg-open", fs::perms::owner_all);
        if (const char* path = std::getenv("PATH")) {
            savedPath_ = path;
        }
        ::setenv("PATH", (folder.native() + ":" + savedPath_).c_str(), 1);
    }
    ~FakeOpener() { ::setenv("PATH", savedPath_.c_str(), 1); }

    // What the opener was given, once it has run; empty when it did not run within the time.
    std::string Arguments() {
        const fs::path args = folder_ / "xdg-open.args";
        for (int i = 0; i < 2000 && !fs::exists(args); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::string seen = testing::ReadBytes(args);
        fs::remove(args);
        return seen;
    }

private:
    fs::path folder_;
    std::string savedPath_;
};

TEST(OpenOnDesktop, HandsFilesFoldersAndAddressesToTheDesktopsOpener) {
    testing::TemporaryHome home;
    FakeOpener opener(home.Path());
    const struct {
        Text target;
        std::string argument;
    } cases[] = {
        {"/tmp/青笺/待采集关键词.txt",
         "/tmp/\xE9\x9D\x92\xE7\xAC\xBA/\xE5\xBE\x85\xE9\x87\x87\xE9\x9B\x86\xE5\x85\xB3"
         "\xE9\x94\xAE\xE8\xAF\x8D.txt"},
        {"https://qingjian.example/a?b=c&d", "https://qingjian.example/a?b=c&d"},
        // A relative name that starts like an option is not taken for one.
        {"-h", "./-h"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(OpenOnDesktop(c.target));
        EXPECT_EQ(opener.Arguments(), c.argument + "\n");
    }
}

TEST(OpenOnDesktop, FailsWithoutAnOpener) {
    testing::TemporaryHome home;
    const std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", home.Path().c_str(), 1);
    EXPECT_FALSE(OpenOnDesktop("https://qingjian.example/"));
    ::setenv("PATH", savedPath.c_str(), 1);
}

#else
// Windows opens a file by its type's registered action; a command script is run by the command
// interpreter, which makes it a witness of what the desktop was asked to open.

// Waits until the file exists (at most ten seconds; the script moves it into place whole) and gives
// its bytes.
std::string ContentOnceWritten(const fs::path& file) {
    for (int i = 0; i < 2000 && !fs::exists(file); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return testing::ReadBytes(file);
}

TEST(OpenOnDesktop, HandsFilesToTheirRegisteredAction) {
    testing::TemporaryHome home;
    const fs::path script = home.Path() / u8"打开.cmd";
    testing::WriteBytes(script, "@echo opened>\"%~dp0opened.part\"\r\n@move \"%~dp0opened.part\" \"%~dp0opened.txt\"\r\n");
    // A GBK path with "/" between its parts, as the program builds them.
    ASSERT_TRUE(OpenOnDesktop(TextFromNativePath(script)));
    EXPECT_EQ(ContentOnceWritten(home.Path() / "opened.txt"), "opened\r\n");
}

TEST(OpenOnDesktop, FailsForWhatNothingCanOpen) {
    testing::TemporaryHome home;
    EXPECT_FALSE(OpenOnDesktop(TextFromNativePath(home.Path() / "missing" / "nothing.txt")));
}
#endif

}  // namespace
}  // namespace qj
