// libFuzzer target: the output file name of a keyword. Properties: every name ends in ".txt" and
// is one file-name component that FAT and NTFS accept too (none of \ / : * ? " < > |, no control
// character, no device name such as CON or COM1, also with blanks behind it), at most 255 bytes
// as stored and read back unchanged; two different keywords never share a name, also where the
// file system ignores case (NTFS and FAT compare names upper-cased), when keywords that differ
// only in case are written one after the other; a folder holding those names gives every keyword
// the same name again, in whatever order the keywords come; an ordinary keyword (letters, digits,
// Chinese) keeps the name it always had, the keyword and ".txt".
#include <algorithm>
#include <cctype>
#include <clocale>
#include <cwctype>
#include <vector>

#include "fuzz_support.h"
#include "run/output_files.h"

namespace {

using qj::fuzz::Shown;

std::string Upper(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    return upper;
}

// A device name, alone or before an extension, blanks behind it left out as Windows does.
bool IsDeviceName(const std::u16string& stem) {
    std::u16string base = stem.substr(0, stem.find(u'.'));
    while (!base.empty() && base.back() == u' ') {
        base.pop_back();
    }
    std::string ascii;
    for (const char16_t c : base) {
        if (c >= 0x80) {
            return false;
        }
        ascii += static_cast<char>(c);
    }
    ascii = Upper(ascii);
    if (ascii == "CON" || ascii == "PRN" || ascii == "AUX" || ascii == "NUL") {
        return true;
    }
    return ascii.size() == 4 && (ascii.starts_with("COM") || ascii.starts_with("LPT")) && ascii[3] >= '1' &&
           ascii[3] <= '9';
}

void CheckName(const qj::Text& keyword, const qj::Text& name) {
    const std::string detail = "keyword " + Shown(keyword) + " is stored as " + Shown(name);
    QJ_FUZZ_CHECK(name.size() > 4 && name.ends_with(".txt"), detail);
    // Stored as UTF-8 within the 255 bytes of a name, and read back as the same name, so that the
    // next run finds the article again.
    const std::string stored = qj::AnsiToUtf8(name);
    QJ_FUZZ_CHECK(stored.size() <= 255 && qj::Utf8ToAnsi(stored) == name, detail);
    // Judged by characters, as the file system sees them: a GBK trail byte may well be 0x5C.
    const std::u16string stem = qj::GbkToUtf16(std::string_view(name).substr(0, name.size() - 4));
    for (const char16_t c : stem) {
        QJ_FUZZ_CHECK(c >= 0x20 && std::u16string_view(u"\\/:*?\"<>|").find(c) == std::u16string_view::npos, detail);
    }
    // A name may not end in a dot or blank; ".txt" behind the keyword's part sees to that, and a
    // keyword's part may end in either ("a." is stored as "a..txt", as it always was).
    QJ_FUZZ_CHECK(!IsDeviceName(stem), detail);
}

// The keyword's characters upper- or lower-cased by the C library's Unicode tables, a character
// without a partner in GBK as "?".
qj::Text ChangedCase(const qj::Text& keyword, bool upper) {
    std::u16string units = qj::GbkToUtf16(keyword);
    for (char16_t& c : units) {
        c = static_cast<char16_t>(upper ? std::towupper(c) : std::towlower(c));
    }
    return qj::Utf16ToGbk(units);
}

// A name as NTFS and FAT compare it: every character upper-cased.
std::u16string AsCaseBlindFileSystemSees(const qj::Text& name) {
    std::u16string units = qj::GbkToUtf16(name);
    for (char16_t& c : units) {
        c = static_cast<char16_t>(std::towupper(c));
    }
    return units;
}

bool IsOrdinary(const qj::Text& keyword) {
    if (keyword.empty() || keyword.size() > 100 || !qj::fuzz::IsValidGbk(keyword)) {
        return false;
    }
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        const auto c = static_cast<unsigned char>(keyword[i]);
        if (c >= 0x81) {
            ++i;  // a double-byte character: valid GBK says its trail byte follows
        } else if (!std::isalnum(c)) {
            return false;
        }
    }
    return !IsDeviceName(qj::GbkToUtf16(keyword));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Unicode case tables for towupper and towlower.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string first = input.ConsumeRandomLengthString(300);
    const std::string second = input.ConsumeRemainingBytesAsString();
    // An empty line ends a run: no keyword is empty.
    if (first.empty() || second.empty()) {
        return 0;
    }
    const qj::Text firstName = qj::OutputFileName(first);
    const qj::Text secondName = qj::OutputFileName(second);
    CheckName(first, firstName);
    CheckName(second, secondName);
    QJ_FUZZ_CHECK(first == second || firstName != secondName,
                  "keywords " + Shown(first) + " and " + Shown(second) + " share " + Shown(firstName));
    if (IsOrdinary(first)) {
        QJ_FUZZ_CHECK(firstName == first + ".txt", "keyword " + Shown(first) + " is stored as " + Shown(firstName));
    }

    // One run writes the keywords and their case variants into an empty folder.
    const std::vector<qj::Text> keywords = {first,
                                            second,
                                            ChangedCase(first, true),
                                            ChangedCase(first, false),
                                            ChangedCase(second, true),
                                            ChangedCase(second, false)};
    qj::OutputNames run;
    std::vector<qj::Text> names;
    for (const qj::Text& keyword : keywords) {
        names.push_back(run.Claim(keyword));
        CheckName(keyword, names.back());
    }
    QJ_FUZZ_CHECK(names[0] == firstName, "keyword " + Shown(first) + " alone in a folder is stored as " +
                                             Shown(names[0]) + ", not " + Shown(firstName));
    for (std::size_t i = 0; i < keywords.size(); ++i) {
        for (std::size_t j = i + 1; j < keywords.size(); ++j) {
            QJ_FUZZ_CHECK(keywords[i] == keywords[j] ||
                              AsCaseBlindFileSystemSees(names[i]) != AsCaseBlindFileSystemSees(names[j]),
                          "keywords " + Shown(keywords[i]) + " and " + Shown(keywords[j]) + " share " +
                              Shown(names[i]) + " and " + Shown(names[j]));
        }
    }
    // The next run, in the folder that run left, finds every article again, whatever the order.
    qj::OutputNames next(names);
    for (std::size_t i = keywords.size(); i-- > 0;) {
        const qj::Text again = next.Claim(keywords[i]);
        QJ_FUZZ_CHECK(again == names[i], "keyword " + Shown(keywords[i]) + " was stored as " + Shown(names[i]) +
                                             " and is looked for as " + Shown(again));
    }
    return 0;
}
