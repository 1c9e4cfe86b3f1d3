// libFuzzer target: the ini layer over a settings file of any bytes, in a scratch folder.
// Properties: a value written is read back (less its surrounding blanks and one pair of quotes);
// writing one key changes no other key's value; a write the layer refuses leaves the file as it
// was; and the file layer reads and writes what the text layer does with the file's text (GBK, or
// a UTF-8 or UTF-16 file converted to GBK).
#include <fstream>
#include <iterator>

#include "fuzz_support.h"
#include "platform/file_system.h"
#include "settings/ini_file.h"

namespace {

using qj::fuzz::Shown;

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// What reading gives back of a written value.
std::string_view AsRead(std::string_view value) {
    value = TrimBlanks(value);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// A name the layer accepts and can find again: not empty, on one line, without blanks around it
// (reading trims them from the file's names), and not read as a section line or a key's end.
bool UsableNames(std::string_view section, std::string_view key) {
    return !section.empty() && !key.empty() && !HasLineBreak(section) && !HasLineBreak(key) &&
           section.find(']') == std::string_view::npos && key.find('=') == std::string_view::npos &&
           TrimBlanks(section) == section && TrimBlanks(key) == key && key.front() != '[';
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    // Names as the file layer takes them: leading control bytes do not count.
    const std::string section(qj::SkipLeadingControls(input.ConsumeRandomLengthString(16)));
    const std::string key(qj::SkipLeadingControls(input.ConsumeRandomLengthString(16)));
    const std::string value = input.ConsumeRandomLengthString(48);
    const std::string otherSection = input.ConsumeRandomLengthString(16);
    const std::string otherKey = input.ConsumeRandomLengthString(16);
    const std::string contents = input.ConsumeRemainingBytesAsString();
    const std::string detail = "file " + Shown(contents) + " [" + Shown(section) + "] " + Shown(key) + "=" +
                               Shown(value) + ", other [" + Shown(otherSection) + "] " + Shown(otherKey);

    const std::string path = qj::fuzz::ScratchFolder() + "/settings.ini";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << contents;
    }
    const bool failure = !qj::WriteIniValue(path, section, key, value);

    if (!UsableNames(section, key) || HasLineBreak(value)) {
        if (failure) {
            QJ_FUZZ_CHECK(FileBytes(path) == contents, "a refused write changed the file: " + detail);
        }
        return 0;
    }
    QJ_FUZZ_CHECK(!failure, "write refused: " + detail);
    const std::string written = FileBytes(path);
    const qj::Text text = qj::IniDocument::FromFileBytes(contents).text();
    QJ_FUZZ_CHECK(written == qj::SetIniValue(text, section, key, value), detail);

    const std::optional<qj::Text> found = qj::FindIniValue(written, section, key);
    QJ_FUZZ_CHECK(found && *found == AsRead(value), detail + " reads back as " + Shown(found.value_or("(none)")));
    // A GBK file whose bytes happen to read as UTF-8 Chinese is taken for UTF-8 (the program's own
    // file, with its Chinese section names, never is): the read then sees the UTF-8 reading.
    if (qj::DetectIniEncoding(written) == qj::IniEncoding::kGbk) {
        QJ_FUZZ_CHECK(qj::ReadIniValue(path, section, key) == AsRead(value), detail);
    }

    if (!(qj::IniNamesEqual(otherSection, section) && qj::IniNamesEqual(otherKey, key))) {
        const std::optional<qj::Text> before = qj::FindIniValue(text, otherSection, otherKey);
        const std::optional<qj::Text> after = qj::FindIniValue(written, otherSection, otherKey);
        QJ_FUZZ_CHECK(before == after, detail + ": the other key was " + Shown(before.value_or("(none)")) + " and is " +
                                           Shown(after.value_or("(none)")));
    }
    return 0;
}
