#pragma once

// Helpers of the fuzz targets: a property check that ends the run with a readable message (libFuzzer
// then saves the input as a finding), a scratch folder, and what "valid GBK" means.

#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "text/code_page.h"

namespace qj::fuzz {

// Bytes as a C string literal would show them, cut to a readable length.
inline std::string Shown(std::string_view bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string shown = "\"";
    for (std::size_t i = 0; i < bytes.size() && i < 300; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '"' || c == '\\') {
            shown += '\\';
            shown += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            shown += static_cast<char>(c);
        } else {
            shown += "\\x";
            shown += kHex[c >> 4];
            shown += kHex[c & 0xF];
        }
    }
    shown += bytes.size() > 300 ? "\"..." : "\"";
    return shown;
}

[[noreturn]] inline void PropertyViolated(const char* file, int line, const char* condition,
                                          const std::string& detail) {
    std::fprintf(stderr, "\n==qj-fuzz== property violated at %s:%d: %s\n==qj-fuzz== %s\n", file, line, condition,
                 detail.c_str());
    std::abort();
}

// The folder this process may write into; removed when the process ends normally.
inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "qj-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        return pattern;
    }();
    static const bool removeAtExit = [] {
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        return true;
    }();
    static_cast<void>(removeAtExit);
    return folder;
}

// Text that code page 936 reads without a replacement character and without a zero byte, which
// ends a text.
inline bool IsValidGbk(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) {
        return false;
    }
    return GbkToUtf16(text).find(u'\uFFFD') == std::u16string::npos;
}

}  // namespace qj::fuzz

// Ends the run as a finding when `condition` is false; `detail` says with which values.
#define QJ_FUZZ_CHECK(condition, detail)                                            \
    do {                                                                            \
        if (!(condition)) {                                                         \
            ::qj::fuzz::PropertyViolated(__FILE__, __LINE__, #condition, (detail)); \
        }                                                                           \
    } while (false)
