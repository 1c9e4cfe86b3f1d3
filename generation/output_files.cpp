#include "generation/output_files.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "app/program_folder.h"
#include "text/code_page.h"
#include "text/gbk.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr std::size_t kMaxNameBytes = 255;  // of one file-name component, as stored (UTF-8)
constexpr const char* kSuffix = ".txt";

bool IsUnsafeByte(unsigned char c) {
#ifdef _WIN32
    if (c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|') {
        return true;
    }
#endif
    return c == '/' || c == '\\' || c < 0x20 || c == 0x7F;
}

std::uint32_t Fnv1a(const Text& text) {
    std::uint32_t h = 2166136261u;
    for (const char c : text) {
        h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    return h;
}

}  // namespace

Text OutputFileName(const Text& keyword) {
    Text name;
    name.reserve(keyword.size());
    for (std::size_t i = 0; i < keyword.size();) {
        const std::size_t unit = GbkUnitLength(keyword, i);
        if (unit == 1 && IsUnsafeByte(static_cast<unsigned char>(keyword[i]))) {
            name.push_back('_');
        } else {
            name.append(keyword, i, unit);
        }
        i += unit;
    }
    if (name == "." || name == "..") {
        name.assign(name.size(), '_');
    }
    if (AnsiToUtf8(name).size() + 4 <= kMaxNameBytes) {
        return name + kSuffix;
    }
    char tag[16];
    std::snprintf(tag, sizeof tag, "~%08x", Fnv1a(keyword));
    const std::size_t budget = kMaxNameBytes - 4 - 9;
    Text shortened;
    std::size_t utf8Bytes = 0;
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t unit = GbkUnitLength(name, i);
        const std::size_t unitUtf8 = AnsiToUtf8(std::string_view(name).substr(i, unit)).size();
        if (utf8Bytes + unitUtf8 > budget) {
            break;
        }
        shortened.append(name, i, unit);
        utf8Bytes += unitUtf8;
        i += unit;
    }
    return shortened + tag + kSuffix;
}

Text ToParagraphHtml(const Text& text) {
    const TextList lines = SplitText(text, "\r\n");
    if (lines.empty()) {
        return text;
    }
    Text html;
    html.reserve(text.size() + lines.size() * 9);
    for (const Text& line : lines) {
        if (!line.empty()) {
            html += "<p>" + line + "</p>\r\n";
        }
    }
    return html;
}

namespace {

Text OutputPath(const Text& outputFolder, const Text& keyword) {
    Text path = outputFolder;
    if (!path.empty() && path.back() != kPathSeparator) {
        path.push_back(kPathSeparator);
    }
    return path + OutputFileName(keyword);
}

}  // namespace

std::optional<FileError> SaveGeneratedText(const Text& outputFolder, const Text& keyword, const Text& text) {
    if (std::optional<FileError> e = EnsureFolder(outputFolder)) {
        return e;
    }
    // Written in place: should the program die in the middle, the keyword is still in the job's
    // journal and its file is written again by the next run.
    return WriteWholeFile(OutputPath(outputFolder, keyword), text);
}

bool OutputExists(const Text& outputFolder, const Text& keyword) {
    std::error_code ec;
    return std::filesystem::is_regular_file(NativePath(OutputPath(outputFolder, keyword)), ec);
}

std::optional<FileError> AppendFailedKeyword(const Text& failureList, const Text& keyword) {
    const std::size_t slash = failureList.rfind(kPathSeparator);
    if (slash != Text::npos && slash > 0) {
        if (std::optional<FileError> e = EnsureFolder(failureList.substr(0, slash))) {
            return e;
        }
    }
    return AppendToFile(failureList, keyword + "\r\n");
}

}  // namespace qj
