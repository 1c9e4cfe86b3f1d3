#pragma once

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "test_environment.h"

namespace qj::testing {

// A fresh program folder for one test: QINGJIAN_HOME points at it while the object lives, and it
// is removed afterwards. Its name holds Chinese characters, so every file name the program builds
// crosses the GBK/UTF-8 boundary.
class TemporaryHome {
public:
    TemporaryHome() {
        root_ = NewFolder();
        path_ = root_ / std::filesystem::path(u8"青笺 测试");
        std::filesystem::create_directories(path_);
        previous_ = EnvironmentPath("QINGJIAN_HOME");
        SetEnvironmentPath("QINGJIAN_HOME", path_);
    }

    ~TemporaryHome() {
        if (previous_) {
            SetEnvironmentPath("QINGJIAN_HOME", *previous_);
        } else {
            UnsetEnvironment("QINGJIAN_HOME");
        }
        std::error_code error;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, error);
        RemoveTree(root_);
    }

    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;

    // The folder, as the file system names it (UTF-8).
    const std::filesystem::path& Path() const { return path_; }

    // Points the program folder at a folder this process may not write: the temporary folder
    // made read-only, or, for a user whom permissions do not stop (root), /sys, where nobody may
    // create files. On Windows, where a read-only folder still takes new files (and Wine keeps no
    // access lists), the program folder becomes a name that an existing file already has.
    void PointAtUnwritableFolder() {
#if defined(_WIN32)
        const std::filesystem::path taken = root_ / "taken-by-a-file";
        std::ofstream(taken) << "x";
        SetEnvironmentPath("QINGJIAN_HOME", taken);
#else
        std::filesystem::permissions(path_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        if (::access(path_.c_str(), W_OK) == 0) {
            ::setenv("QINGJIAN_HOME", "/sys", 1);
        }
#endif
    }

private:
    // Removes what it can of `folder` and ends, whatever vanishes meanwhile. MinGW's
    // std::filesystem::remove_all spins for ever on an entry it listed that is gone by the time it
    // comes to remove it. Under Wine a deleted file that another process (a child program that has
    // just ended, its console host) still holds stays listed until that handle closes, then goes.
    static void RemoveTree(const std::filesystem::path& folder) {
        std::error_code error;
        for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
             entry.increment(error)) {
            std::error_code ignored;
            if (entry->is_directory(ignored) && !entry->is_symlink(ignored)) {
                RemoveTree(entry->path());
            } else {
                std::filesystem::remove(entry->path(), ignored);
            }
        }
        std::filesystem::remove(folder, error);
    }

    static std::filesystem::path NewFolder() {
        std::random_device seed;
        for (;;) {
            const std::filesystem::path folder =
                std::filesystem::temp_directory_path() / ("qj-home-" + std::to_string(seed()));
            if (std::filesystem::create_directory(folder)) {
                return folder;
            }
        }
    }

    std::filesystem::path root_;
    std::filesystem::path path_;
    std::optional<std::filesystem::path> previous_;
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
