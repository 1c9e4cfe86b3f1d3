#pragma once

#include <optional>

#include "app/file_system.h"
#include "text/types.h"

namespace qj {

// The file name of a keyword's output: the keyword and ".txt". Characters that cannot stand in one
// file-name component (separators, zero and control bytes) become "_", as do the names "." and "..";
// a name longer than the file system allows (255 bytes as stored) is shortened and given a short
// hash of the whole keyword, so that two long keywords do not share a file. Ordinary keywords,
// Chinese included, keep their names.
Text OutputFileName(const Text& keyword);

// The paragraph form: every non-empty line between "<p>" and "</p>\r\n"; a text without lines
// stays as it is.
Text ToParagraphHtml(const Text& text);

// Writes a keyword's text into the output folder (created when missing), replacing an older file
// of the same name as one step.
std::optional<FileError> SaveGeneratedText(const Text& outputFolder, const Text& keyword, const Text& text);

// Whether the output file of a keyword exists.
bool OutputExists(const Text& outputFolder, const Text& keyword);

// Appends the keyword and CR LF to the failure list, creating it (and its folder) when needed.
std::optional<FileError> AppendFailedKeyword(const Text& failureList, const Text& keyword);

}  // namespace qj
