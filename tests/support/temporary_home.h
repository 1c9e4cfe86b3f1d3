#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace qj::testing {

// A fresh program folder for one test: QINGJIAN_HOME points at it while the object lives, and it
// is removed afterwards. Its name holds Chinese characters, so every file name the program builds
// crosses the GBK/UTF-8 boundary.
class TemporaryHome {
public:
    TemporaryHome() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qj-home-XXXXXX").native();
        root_ = ::mkdtemp(pattern.data());
        path_ = root_ / "\xE9\x9D\x92\xE7\xAC\xBA \xE6\xB5\x8B\xE8\xAF\x95";  // "青笺 测试" in UTF-8
        std::filesystem::create_directories(path_);
        if (const char* old = std::getenv("QINGJIAN_HOME")) {
            previous_ = old;
            hadPrevious_ = true;
        }
        ::setenv("QINGJIAN_HOME", path_.c_str(), 1);
    }

    ~TemporaryHome() {
        if (hadPrevious_) {
            ::setenv("QINGJIAN_HOME", previous_.c_str(), 1);
        } else {
            ::unsetenv("QINGJIAN_HOME");
        }
        std::error_code error;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, error);
        std::filesystem::remove_all(root_, error);
    }

    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;

    // The folder, as the file system names it (UTF-8).
    const std::filesystem::path& Path() const { return path_; }

    // Points the program folder at a folder this process may not write: the temporary folder
    // made read-only, or, for a user whom permissions do not stop (root), /sys, where nobody may
    // create files.
    void PointAtUnwritableFolder() {
        std::filesystem::permissions(path_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        if (::access(path_.c_str(), W_OK) == 0) {
            ::setenv("QINGJIAN_HOME", "/sys", 1);
        }
    }

private:
    std::filesystem::path root_;
    std::filesystem::path path_;
    std::string previous_;
    bool hadPrevious_ = false;
};

inline std::string ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace qj::testing
