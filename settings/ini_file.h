#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/file_system.h"
#include "text/types.h"

namespace qj {

// Settings files in the Windows ini format: "[section]" lines and "key=value" lines, GBK (a file
// edited by hand may come as UTF-8 or UTF-16: see IniDocument).
//
// Reading: lines end in CR LF or LF; section and key names match without regard to ASCII letter
// case; a value loses its surrounding blanks and one pair of enclosing double quotes. The first
// matching section and key count. ReadIniValue, the classic one-value read, gives a value back in
// a buffer of kIniReadBufferSize bytes that also holds a terminating zero, so at most
// kIniReadBufferSize - 1 bytes of it (never half a double-byte character); a document gives every
// value whole.
//
// Writing creates the file, the section and the key as needed and replaces an existing value in
// place; every other line, comment and section stays byte for byte. Lines it writes end in CR LF.
inline constexpr std::size_t kIniReadBufferSize = 10240;

// The names compare equal, ASCII letters without regard to case (double-byte characters exactly).
bool IniNamesEqual(std::string_view a, std::string_view b);

// Drops the leading bytes with codes up to 32, as names of files, sections and keys are read.
std::string_view SkipLeadingControls(std::string_view name);

// The value of a key in file contents (blanks and quotes dropped, not yet cut), nullopt when the
// section or key is missing.
std::optional<Text> FindIniValue(std::string_view contents, std::string_view section, std::string_view key);

// File contents with the key set to the value.
Bytes SetIniValue(std::string_view contents, std::string_view section, std::string_view key, std::string_view value);

// How a settings file's bytes are text. The program writes GBK; a file edited by hand may be UTF-8
// or UTF-16. A byte-order mark decides; without one, a file is UTF-8 when its bytes are valid UTF-8
// and hold at least one Chinese character as UTF-8 writes it (three bytes); anything else is GBK.
// (A GBK file whose every byte sequence happens to be valid UTF-8 Chinese would be taken as UTF-8;
// the program's own file never is one: its section names are Chinese, and their GBK bytes are no
// valid UTF-8.)
enum class IniEncoding { kGbk, kUtf8, kUtf16LittleEndian, kUtf16BigEndian };
IniEncoding DetectIniEncoding(std::string_view bytes);
// "UTF-8", "UTF-16"..., for a log line.
const char* IniEncodingName(IniEncoding encoding);

// A settings file held in memory as GBK text: read once, changed value by value, written back in
// one replacement, always as GBK.
class IniDocument {
public:
    IniDocument() = default;  // the document of a file that does not exist yet

    // The file's bytes as text: converted to GBK when they are UTF-8 or UTF-16 (byte-order mark
    // dropped; characters GBK lacks become "?").
    static IniDocument FromFileBytes(std::string_view bytes);

    const Text& text() const { return text_; }
    IniEncoding encoding() const { return encoding_; }
    // Whether converting to GBK turned characters GBK lacks into "?".
    bool lossy() const { return lossy_; }

    // The whole value of a key (blanks and one pair of quotes dropped), nullopt when the section or
    // key is missing or a name is empty. Names are taken as ReadIniValue takes them.
    std::optional<Text> Value(std::string_view section, std::string_view key) const;

    // Sets a value as WriteIniValue does; the reason, and the document unchanged, when the value or
    // a name would corrupt the file.
    std::optional<Text> Set(std::string_view section, std::string_view key, std::string_view value);

private:
    Text text_;
    IniEncoding encoding_ = IniEncoding::kGbk;
    bool lossy_ = false;
};

// A settings file read into a document; a missing file is a failure of kind kMissing.
using IniRead = Result<IniDocument>;
[[nodiscard]] IniRead ReadIniDocument(const Text& path);

// Writes a document over the file in one atomic replacement, as GBK. A new file gets newFileMode;
// an existing one keeps its permissions as far as newFileMode allows them (narrowed, never widened).
[[nodiscard]] Result<void> WriteIniDocument(const Text& path, const IniDocument& document,
                                                        unsigned newFileMode = 0600);

// A value as the classic read buffer holds it: at most kIniReadBufferSize - 1 bytes, never half a
// double-byte character.
Text CutToIniReadBuffer(std::string_view value);

// Reads one value, cut to the read buffer; empty when the file, section or key is missing, or a
// name is empty.
Text ReadIniValue(const Text& path, const Text& section, const Text& key);

// Writes one value: the file is read, changed in memory and replaced whole (as GBK), with the
// permissions WriteIniDocument gives it. A value or name holding a line break, an empty name, a
// section name holding "]" or a key holding "=" would corrupt the file and is refused.
[[nodiscard]] Result<void> WriteIniValue(const Text& path, const Text& section, const Text& key,
                                                     const Text& value, unsigned newFileMode = 0600);

// Whether a value can be written at all (it holds no line break).
bool IniValueIsWritable(std::string_view value);

}  // namespace qj
