#pragma once

#include <optional>

#include "platform/file_system.h"
#include "text/types.h"

namespace qj {

// The file name of a keyword's output: the keyword and ".txt", a name that FAT and NTFS accept too
// (the program folder may be carried to a USB stick or a Windows machine). What such a name cannot
// hold becomes "_": the characters \ / : * ? " < > |, control bytes, bytes that are not whole
// characters of the code page; a reserved device name (CON, NUL, COM1, ...) gets a "_" in front.
// Such a changed name, and a name longer than the file system allows (255 bytes as stored, then
// shortened), gets "~" and a hash of the whole keyword behind it, so that two keywords never share a
// file (a keyword whose own name ends like such a tag gets one too). Every other keyword, Chinese
// included, keeps exactly its name. `original`, when not empty, is what the keyword was read from
// (its list line as UTF-8, when characters GBK lacks became "?" in it) and what the tag is made of,
// so that keywords that differ only in such characters get files of their own.
Text OutputFileName(const Text& keyword, std::string_view original = {});

// The paragraph form: every non-empty line between "<p>" and "</p>\r\n"; a text without lines
// stays as it is.
Text ToParagraphHtml(const Text& text);

// Writes a keyword's text into the output folder (created when missing), replacing an older file
// of the same name as one step: the file is never seen half written (see WriteFileInOneStep).
[[nodiscard]] std::optional<FileError> SaveGeneratedText(const Text& outputFolder, const Text& keyword,
                                                         const Text& text, std::string_view original = {});

// Whether a keyword's output exists: its file, not empty.
bool OutputExists(const Text& outputFolder, const Text& keyword, std::string_view original = {});

// Appends the keyword and CR LF to the failure list, creating it (and its folder) when needed.
[[nodiscard]] std::optional<FileError> AppendFailedKeyword(const Text& failureList, const Text& keyword);

}  // namespace qj
