#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

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

// The names of one folder's articles. A keyword's article has the name OutputFileName gives it,
// unless a file system that ignores case (NTFS and FAT: Windows, a USB stick) would take that name
// for another one already there: then the keyword gets the tagged form of its name ("~" and the
// hash), which no other keyword has. A name is "there" when the folder held it or this object gave
// it out (Claim). The choice depends on the names alone, so with the same folder a keyword gets the
// same name in every run: a name that is there exactly as the keyword's own plain or tagged name is
// the keyword's article.
class OutputNames {
public:
    OutputNames() = default;
    explicit OutputNames(const std::vector<Text>& present);

    // The name of the keyword's article (`original` as for OutputFileName).
    Text NameOf(const Text& keyword, std::string_view original = {}) const;
    // NameOf, the name then counted as there.
    Text Claim(const Text& keyword, std::string_view original = {});

private:
    void Add(const Text& name);

    std::unordered_set<Text> names_;
    std::unordered_set<std::u16string> caseBlind_;  // the same names, case left out
};

// The output folder of one run, which several workers write into at once. Its names are read when
// first needed; a name is looked up and given out in one step, so that two keywords never take one
// file, whatever the file system and however the workers interleave.
class OutputFolder {
public:
    explicit OutputFolder(Text folder) : folder_(std::move(folder)) {}

    // Whether a keyword's article exists: its file, not empty.
    bool Exists(const Text& keyword, std::string_view original = {});

    // Writes a keyword's text as its article into the folder (created when missing), replacing an
    // older article of the keyword as one step: the file is never seen half written (see
    // WriteFileInOneStep).
    [[nodiscard]] Result<void> Save(const Text& keyword, const Text& text, std::string_view original = {});

    // The name (within the folder) that Save would give the keyword's article now; not given out.
    [[nodiscard]] Result<Text> NameOf(const Text& keyword, std::string_view original = {});

private:
    // The path of the keyword's article; with `claim`, the name is given out to it.
    Result<Text> PathOf(const Text& keyword, std::string_view original, bool claim);

    const Text folder_;
    std::mutex mutex_;
    std::optional<OutputNames> names_;  // once the folder was read
};

// Appends the keyword and CR LF to the failure list, creating it (and its folder) when needed.
[[nodiscard]] Result<void> AppendFailedKeyword(const Text& failureList, const Text& keyword);

}  // namespace qj
