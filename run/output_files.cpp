#include "run/output_files.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>

#include "platform/program_folder.h"
#include "text/ascii.h"
#include "text/code_page.h"
#include "text/regex_case_fold.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr std::size_t kMaxNameBytes = 255;  // of one file-name component, as stored (UTF-8)
constexpr const char* kSuffix = ".txt";
constexpr std::size_t kTagLength = 9;  // "~" and eight hexadecimal digits

// Bytes that cannot stand in a name on FAT or NTFS (the separators among them), whatever system
// writes the file: the program folder is meant to be carried to a USB stick or a Windows machine.
bool IsRefusedByte(unsigned char c) {
    return c < 0x20 || c == 0x7F ||
           std::string_view("/\\:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos;
}

// The length of the character at `i` as the code-page conversion reads it: a lead byte takes the
// next byte with it only when that is a trail byte.
std::size_t CharacterLength(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x81 || lead > 0xFE || i + 1 >= text.size()) {
        return 1;
    }
    const auto trail = static_cast<unsigned char>(text[i + 1]);
    return trail >= 0x40 && trail <= 0xFE && trail != 0x7F ? 2 : 1;
}

// Whether a character survives the way to a file name and back unchanged (a lone lead byte or a
// pair the code page does not know would become a replacement character, shared by every keyword
// that has one).
bool RoundTrips(std::string_view character) {
    return GbkRoundTrip(character) == character;
}

// The names Windows keeps for devices (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$), in
// any case and with any extension: the part before the first dot counts, blanks at its end left
// out. (The superscript digits that Windows also takes after COM and LPT are not in the code page.)
bool IsReservedDeviceName(std::string_view stem) {
    std::string_view base = stem.substr(0, stem.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.remove_suffix(1);
    }
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
    std::string name;
    for (const char c : base) {
        name.push_back(upper(c));
    }
    for (const char* reserved : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (name == reserved) {
            return true;
        }
    }
    return name.size() == 4 && (name.starts_with("COM") || name.starts_with("LPT")) && name[3] >= '1' && name[3] <= '9';
}

// Whether a name part ends the way a name with a tag ends ("~" and eight hexadecimal digits): such
// a keyword gets a tag of its own, so that no keyword's own name can equal another keyword's tagged one.
// A "~" that is the second byte of a double-byte character is none: a tag never follows half a one.
bool EndsLikeATag(std::string_view stem) {
    if (stem.size() < kTagLength || stem[stem.size() - kTagLength] != '~') {
        return false;
    }
    std::size_t at = 0;
    while (at < stem.size() - kTagLength) {
        at += CharacterLength(stem, at);
    }
    if (at != stem.size() - kTagLength) {
        return false;
    }
    for (std::size_t i = stem.size() - kTagLength + 1; i < stem.size(); ++i) {
        if (HexDigitValue(static_cast<unsigned char>(stem[i])) < 0) {
            return false;
        }
    }
    return true;
}

std::uint32_t Fnv1a(std::string_view text) {
    std::uint32_t h = 2166136261u;
    for (const char c : text) {
        h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    return h;
}

// A keyword's name, with the tag behind it when the name had to change or `tagged` asks for it.
Text FileNameOf(const Text& keyword, bool tagged, std::string_view original) {
    Text stem;
    stem.reserve(keyword.size());
    bool changed = false;
    for (std::size_t i = 0; i < keyword.size();) {
        const std::size_t length = CharacterLength(keyword, i);
        const std::string_view character = std::string_view(keyword).substr(i, length);
        if ((length == 1 && IsRefusedByte(static_cast<unsigned char>(keyword[i]))) || !RoundTrips(character)) {
            stem.push_back('_');
            changed = true;
        } else {
            stem.append(character);
        }
        i += length;
    }
    if (stem == "." || stem == "..") {
        stem.assign(stem.size(), '_');
        changed = true;
    }
    if (IsReservedDeviceName(stem)) {
        stem = "_" + stem;
        changed = true;
    }
    changed = changed || tagged || EndsLikeATag(stem);
    if (!changed && AnsiToUtf8(stem).size() + 4 <= kMaxNameBytes) {
        return stem + kSuffix;
    }
    // A changed or shortened name carries a short hash of the whole keyword, so that two keywords
    // never share a file.
    char tag[16];
    std::snprintf(tag, sizeof tag, "~%08x", Fnv1a(original.empty() ? std::string_view(keyword) : original));
    const std::size_t budget = kMaxNameBytes - 4 - kTagLength;
    Text shortened;
    std::size_t utf8Bytes = 0;
    for (std::size_t i = 0; i < stem.size();) {
        const std::size_t length = CharacterLength(stem, i);
        const std::size_t lengthUtf8 = AnsiToUtf8(std::string_view(stem).substr(i, length)).size();
        if (utf8Bytes + lengthUtf8 > budget) {
            break;
        }
        shortened.append(stem, i, length);
        utf8Bytes += lengthUtf8;
        i += length;
    }
    return shortened + tag + kSuffix;
}

// A name as a file system that ignores case sees it. NTFS and FAT compare names upper-cased
// character by character; here every character stands for the first of its set of case variants
// (simple case folding), which keeps apart no two GBK names that such a file system takes for one
// ("Abc" and "ABC", "Σ" and "σ", "Я" and "я", "Ａ" and "ａ", "Ⅰ" and "ⅰ"). A tag ("~" and digits or
// letters a to f) stays a tag: no GBK character is a case variant of those.
std::u16string CaseBlind(const Text& name) {
    std::u16string units = GbkToUtf16(name);
    for (char16_t& c : units) {
        const auto* pair = std::lower_bound(std::begin(kCaseFoldPairs), std::end(kCaseFoldPairs), c,
                                            [](const CaseFoldPair& p, char16_t unit) { return p.character < unit; });
        if (pair != std::end(kCaseFoldPairs) && pair->character == c) {
            c = pair->smallest;
        }
    }
    return units;
}

}  // namespace

Text OutputFileName(const Text& keyword, std::string_view original) {
    return FileNameOf(keyword, false, original);
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

OutputNames::OutputNames(const std::vector<Text>& present) {
    for (const Text& name : present) {
        Add(name);
    }
}

void OutputNames::Add(const Text& name) {
    if (names_.insert(name).second) {
        caseBlind_.insert(CaseBlind(name));
    }
}

Text OutputNames::NameOf(const Text& keyword, std::string_view original) const {
    const Text plain = OutputFileName(keyword, original);
    if (names_.contains(plain)) {
        return plain;
    }
    // Only the keyword itself has its tagged name (a plain name never ends like a tag), so a file of
    // that name is its article from an earlier run, even when what made the tag necessary is gone.
    Text tagged = FileNameOf(keyword, true, original);
    if (tagged == plain || names_.contains(tagged) || caseBlind_.contains(CaseBlind(plain))) {
        return tagged;
    }
    return plain;
}

Text OutputNames::Claim(const Text& keyword, std::string_view original) {
    Text name = NameOf(keyword, original);
    Add(name);
    return name;
}

Result<Text> OutputFolder::PathOf(const Text& keyword, std::string_view original, bool claim) {
    Text name;
    {
        std::lock_guard lock(mutex_);
        if (!names_) {
            Result<std::vector<Text>> present = ListFolder(folder_);
            if (!present) {
                return present.error();
            }
            names_.emplace(*present);
        }
        name = claim ? names_->Claim(keyword, original) : names_->NameOf(keyword, original);
    }
    Text path = folder_;
    if (!path.empty() && path.back() != kPathSeparator) {
        path.push_back(kPathSeparator);
    }
    return path + name;
}

Result<Text> OutputFolder::NameOf(const Text& keyword, std::string_view original) {
    Result<Text> path = PathOf(keyword, original, false);
    if (!path) {
        return path;
    }
    // PathOf puts the name behind the folder and a separator.
    const std::size_t folder = folder_.size() + (!folder_.empty() && folder_.back() != kPathSeparator ? 1 : 0);
    return path->substr(folder);
}

Result<void> OutputFolder::Save(const Text& keyword, const Text& text, std::string_view original) {
    const Result<Text> path = PathOf(keyword, original, true);
    if (!path) {
        return path.error();
    }
    Result<void> written = WriteFileInOneStep(*path, text);
    if (!written) {
        // The folder is made on first use rather than looked for before every file; another
        // worker may have made it in the meantime, so the write is tried again in any case.
        if (Result<void> made = EnsureFolder(folder_); !made) {
            return made;
        }
        written = WriteFileInOneStep(*path, text);
    }
    return written;
}

bool OutputFolder::Exists(const Text& keyword, std::string_view original) {
    // An empty file is never an article (a reply without text is a failure): it can only be what a
    // power cut left of one, and the keyword is done again.
    const Result<Text> path = PathOf(keyword, original, false);
    const std::optional<unsigned long long> size = path ? RegularFileSize(*path) : std::nullopt;
    return size && *size > 0;
}

Result<void> AppendFailedKeyword(const Text& failureList, const Text& keyword) {
    const std::size_t slash = failureList.rfind(kPathSeparator);
    if (slash != Text::npos && slash > 0) {
        if (Result<void> made = EnsureFolder(failureList.substr(0, slash)); !made) {
            return made;
        }
    }
    return AppendToFile(failureList, keyword + "\r\n");
}

}  // namespace qj
