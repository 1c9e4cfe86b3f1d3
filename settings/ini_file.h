#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/file_system.h"
#include "text/types.h"

namespace qj {

// Settings files in the Windows ini format: "[section]" lines and "key=value" lines, GBK.
//
// Reading: lines end in CR LF or LF; section and key names match without regard to ASCII letter
// case; a value loses its surrounding blanks and one pair of enclosing double quotes, and comes
// back in a buffer of kIniReadBufferSize bytes that also holds a terminating zero, so at most
// kIniReadBufferSize - 1 bytes of it (never half a double-byte character). The first matching
// section and key count.
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

// Reads one value; empty when the file, section or key is missing, or a name is empty.
Text ReadIniValue(const Text& path, const Text& section, const Text& key);

// Writes one value through an atomic replacement of the whole file. A new file gets newFileMode;
// an existing one keeps its permissions as far as newFileMode allows them (they are narrowed,
// never widened). A value or name holding a line break, an empty name, a section name holding "]"
// or a key holding "=" would corrupt the file and is refused.
[[nodiscard]] std::optional<FileError> WriteIniValue(const Text& path, const Text& section, const Text& key,
                                                     const Text& value, unsigned newFileMode = 0600);

// Whether a value can be written at all (it holds no line break).
bool IniValueIsWritable(std::string_view value);

}  // namespace qj
