#pragma once

#include <string_view>

namespace qj {

// Writes UTF-8 text to the standard output or the standard error of the process: to a pipe or a
// file as the bytes they are (no line-end translation), to a console window as its characters,
// whatever code page the console has. Flushed at once.
void WriteStandardOutput(std::string_view utf8);
void WriteStandardError(std::string_view utf8);

}  // namespace qj
