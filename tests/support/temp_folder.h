#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace qj {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
// Its path is plain ASCII, so it is the same text in GBK and in the file system's encoding.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qingjian-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace qj
