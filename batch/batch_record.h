#pragma once

#include <ctime>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "text/types.h"

namespace qj {

// Where the keywords of a part stand.
enum class PartStage {
    kTaken,      // taken from the keyword list; the list's journal may still hold some of them
    kPrepared,   // the part's own; nothing sent yet
    kUploaded,   // its input file is at the service (fileId)
    kSubmitted,  // its batch exists (batchId)
    kEnded,      // the batch will not change any more (endStatus): its results are being settled
    kCollected,  // every result is settled; keywords still open wait for a direct request
};

// A keyword of a part.
struct PartKeyword {
    Text customId;
    Text keyword;
    Bytes line;         // the keyword's line as the list held it, when that is not the keyword itself
    bool done = false;  // its outcome is recorded (article, failure list, or a direct request's)
};

// One part of a batch submission: at most one batch's worth of keywords.
struct BatchPart {
    Text id;  // also the value of the batch's metadata that finds it again
    PartStage stage = PartStage::kTaken;
    std::time_t prepared = 0;  // when its keywords were taken
    Text fileId;
    Text batchId;
    Text endStatus;  // the batch's last status; kNotSubmitted when it could not be submitted
    Text outputFileId;
    Text errorFileId;
    std::vector<PartKeyword> keywords;

    int Open() const;  // keywords not done
};

// The end status of a part whose batch could not be created.
inline constexpr const char* kNotSubmitted = "not_submitted";

// The record of batch submissions, OpenAi/批量任务.txt: which keywords belong to which part, and
// how far each part got, so that a later run (after a kill at any step) neither loses a keyword
// nor submits one twice. A change of stage replaces the file durably (temporary file, flush,
// rename); a keyword's settling is one line appended, which the next replacement folds in.
//
// The file is GBK text, CR LF, one record a line, fields separated by tabs:
//   部分  id  stage  prepared  fileId  batchId  endStatus  outputFileId  errorFileId
//   词    id  customId  keyword  line (hexadecimal digits; empty when the line is the keyword)
//   完成  id  customId
// A backslash, tab, CR or LF inside a keyword is written \\, \t, \r, \n.
class BatchRecord {
public:
    explicit BatchRecord(Text path) : path_(std::move(path)) {}

    // Reads the file; a missing file is an empty record. A line cut short by a kill is passed over
    // (and the file is written whole again at the next change).
    [[nodiscard]] Result<void> Load();
    // Replaces the file with what the record holds now, durably.
    [[nodiscard]] Result<void> Save();
    // Marks a keyword settled and appends that to the file.
    [[nodiscard]] Result<void> MarkDone(const Text& partId, const Text& customId);

    std::vector<BatchPart>& parts() { return parts_; }
    const std::vector<BatchPart>& parts() const { return parts_; }
    BatchPart* Find(const Text& partId);
    // Drops the parts whose every keyword is done (Save writes it).
    void DropSettledParts();
    const Text& path() const { return path_; }

    // The file's bytes for the parts, and the parts of file bytes.
    static Bytes Serialize(const std::vector<BatchPart>& parts);
    static std::vector<BatchPart> Parse(std::string_view bytes, bool* torn = nullptr);

private:
    Text path_;
    std::vector<BatchPart> parts_;
    bool torn_ = false;
};

inline constexpr const char* kBatchRecordTail = "OpenAi/\xC5\xFA\xC1\xBF\xC8\xCE\xCE\xF1.txt";  // OpenAi/批量任务.txt

const char* PartStageName(PartStage stage);

}  // namespace qj
