// libFuzzer target: the output file name of a keyword. Properties: every name ends in ".txt" and
// is one file-name component that FAT and NTFS accept too (none of \ / : * ? " < > |, no control
// character, no device name such as CON or COM1, also with blanks behind it), at most 255 bytes
// as stored and read back unchanged; two different keywords never share a name; an ordinary
// keyword (letters, digits, Chinese) keeps the name it always had, the keyword and ".txt".
#include <algorithm>
#include <cctype>

#include "fuzz_support.h"
#include "generation/output_files.h"

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
    return 0;
}
