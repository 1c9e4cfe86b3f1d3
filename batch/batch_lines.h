#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/types.h"

namespace qj {

// The lines of a provider's batch interface: one request a line in the input file, one result a
// line in the output and error files, matched by their custom_id.

// The custom_id of a keyword: the same keyword gets the same id in every run ("qj-" and sixteen
// hexadecimal digits of a hash of its bytes). Two lines of one part with the same keyword are told
// apart by MakeUniqueCustomIds.
Text CustomIdOf(std::string_view keyword);

// Makes the ids of one part unique in their order: the second of an id gets "-2", the third "-3".
void MakeUniqueCustomIds(TextList& ids);

// A direct request's JSON body as a line of a batch asks it: the same body without the streaming
// fields (a batch answers with one whole reply). The body is returned as it is when it is no JSON
// object.
std::string BatchRequestBody(std::string_view directBody);

// One line of the input file (with its LF): custom_id, method POST, url `chatPath`, the body.
std::string BatchInputLine(std::string_view customId, std::string_view chatPath, std::string_view body);

// Where a list of input lines is cut into parts: at `maxLines` lines or before a line that would
// take a part beyond `maxBytes` (a part holds one line at least, however long).
class PartCutter {
public:
    PartCutter(std::size_t maxLines, unsigned long long maxBytes) : maxLines_(maxLines), maxBytes_(maxBytes) {}

    // Whether a line of `bytes` still fits into the current part; if so it is counted in.
    bool Take(std::size_t bytes);
    // Starts the next part.
    void Cut() { lines_ = 0, bytes_ = 0; }
    std::size_t lines() const { return lines_; }

private:
    std::size_t maxLines_;
    unsigned long long maxBytes_;
    std::size_t lines_ = 0;
    unsigned long long bytes_ = 0;
};

// The most lines and bytes a part may hold: the providers' limits of one batch.
inline constexpr std::size_t kMaxLinesPerPart = 50000;
inline constexpr unsigned long long kDefaultMegabytesPerPart = 100;

// What a batch answered for one line.
struct BatchLineResult {
    bool ok = false;   // a reply with a 2xx status and a body
    int status = 0;    // the reply's status; 0 when the line has none (expired, cancelled...)
    std::string body;  // the reply's body as JSON (UTF-8), as a non-streamed request gets it
    Text error;        // why the line has no reply (GBK, for the run log); empty when ok
};

// The results of a batch by custom_id, from its output file and its error file (either may be
// empty), whatever their order. Only an index of the lines is made; a line is read when its id is
// asked for, so that the results of a batch of 50,000 articles are held once, as the files' bytes
// (which must outlive this). A reply wins over an error for the same id, the output file over the
// error file; a line that is no JSON, or has no custom_id, is passed over and counted.
class BatchResults {
public:
    BatchResults(std::string_view outputFile, std::string_view errorFile);

    std::optional<BatchLineResult> Find(const Text& customId) const;
    std::size_t size() const { return lines_.size(); }
    int unreadable() const { return unreadable_; }

private:
    void Index(std::string_view file);

    std::map<Text, std::vector<std::string_view>> lines_;
    int unreadable_ = 0;
};

}  // namespace qj
