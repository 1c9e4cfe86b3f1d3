#include "batch/batch_record.h"

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "text/ascii.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr const char* kHeading =
    "# 青笺的批量任务记录（程序自用）：在服务商处进行中的批量任务和其中的关键词。"
    "删除它，这些关键词就不会再被取回";
constexpr const char* kPartTag = "部分";
constexpr const char* kKeywordTag = "词";
constexpr const char* kDoneTag = "完成";

constexpr struct {
    PartStage stage;
    const char* name;
} kStageNames[] = {
    {PartStage::kTaken, "取出"},       {PartStage::kPrepared, "准备"}, {PartStage::kUploaded, "已上传"},
    {PartStage::kSubmitted, "已提交"}, {PartStage::kEnded, "已结束"},  {PartStage::kCollected, "已取回"},
};

std::optional<PartStage> StageNamed(std::string_view name) {
    for (const auto& entry : kStageNames) {
        if (name == entry.name) {
            return entry.stage;
        }
    }
    return std::nullopt;
}

// Byte by byte, so that a lone lead byte before an escaped byte cannot take its backslash as the
// second byte of a character when the field is read back.
Text Escaped(std::string_view text) {
    Text escaped;
    for (const char c : text) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\r':
                escaped += "\\r";
                break;
            case '\n':
                escaped += "\\n";
                break;
            default:
                escaped.push_back(c);
        }
    }
    return escaped;
}

Text Unescaped(std::string_view text) {
    Text plain;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\\' && at + 1 < text.size()) {
            const char next = text[++at];
            plain.push_back(next == 't' ? '\t' : next == 'r' ? '\r' : next == 'n' ? '\n' : next);
        } else {
            plain.push_back(text[at]);
        }
    }
    return plain;
}

Text Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    Text hex;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += {kDigits[byte >> 4], kDigits[byte & 15]};
    }
    return hex;
}

std::optional<Bytes> Unhex(std::string_view hex) {
    if (hex.size() % 2 != 0) {
        return std::nullopt;
    }
    Bytes bytes;
    for (std::size_t at = 0; at < hex.size(); at += 2) {
        const long value = HexNumber(hex, at, 2);
        if (value < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(value));
    }
    return bytes;
}

// The tab-separated fields of a line (empty fields kept).
std::vector<std::string_view> TabFields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t from = 0;;) {
        const std::size_t tab = line.find('\t', from);
        fields.push_back(line.substr(from, tab == std::string_view::npos ? std::string_view::npos : tab - from));
        if (tab == std::string_view::npos) {
            return fields;
        }
        from = tab + 1;
    }
}

Text Joined(std::initializer_list<std::string_view> fields) {
    Text line;
    for (const std::string_view field : fields) {
        if (!line.empty()) {
            line += '\t';
        }
        line += field;
    }
    return line + "\r\n";
}

}  // namespace

int BatchPart::Open() const {
    return static_cast<int>(
        std::count_if(keywords.begin(), keywords.end(), [](const PartKeyword& k) { return !k.done; }));
}

const char* PartStageName(PartStage stage) {
    for (const auto& entry : kStageNames) {
        if (entry.stage == stage) {
            return entry.name;
        }
    }
    return "?";
}

Bytes BatchRecord::Serialize(const std::vector<BatchPart>& parts) {
    Bytes bytes = Text(kHeading) + "\r\n";
    for (const BatchPart& part : parts) {
        bytes += Joined({kPartTag, part.id, PartStageName(part.stage), std::to_string(part.prepared), part.fileId,
                         part.batchId, part.endStatus, part.outputFileId, part.errorFileId});
        for (const PartKeyword& keyword : part.keywords) {
            if (!keyword.done) {
                bytes += Joined({kKeywordTag, part.id, keyword.customId, Escaped(keyword.keyword), Hex(keyword.line)});
            }
        }
    }
    return bytes;
}

std::vector<BatchPart> BatchRecord::Parse(std::string_view bytes, bool* torn) {
    std::vector<BatchPart> parts;
    const auto partNamed = [&](std::string_view id) -> BatchPart* {
        for (BatchPart& part : parts) {
            if (part.id == id) {
                return &part;
            }
        }
        return nullptr;
    };
    if (torn != nullptr) {
        *torn = !bytes.empty() && !bytes.ends_with("\r\n");
    }
    for (std::size_t from = 0; from < bytes.size();) {
        const std::size_t end = bytes.find("\r\n", from);
        if (end == std::string_view::npos) {
            break;  // cut short by a kill: not a record
        }
        const std::vector<std::string_view> fields = TabFields(bytes.substr(from, end - from));
        from = end + 2;
        if (fields[0] == kPartTag && fields.size() == 9 && !fields[1].empty()) {
            const std::optional<PartStage> stage = StageNamed(fields[2]);
            long long prepared = 0;
            std::from_chars(fields[3].data(), fields[3].data() + fields[3].size(), prepared);
            if (stage && partNamed(fields[1]) == nullptr) {
                parts.push_back(BatchPart{Text(fields[1]),
                                          *stage,
                                          static_cast<std::time_t>(prepared),
                                          Text(fields[4]),
                                          Text(fields[5]),
                                          Text(fields[6]),
                                          Text(fields[7]),
                                          Text(fields[8]),
                                          {}});
            }
        } else if (fields[0] == kKeywordTag && fields.size() == 5) {
            BatchPart* part = partNamed(fields[1]);
            const std::optional<Bytes> line = Unhex(fields[4]);
            if (part != nullptr && line && !fields[2].empty()) {
                part->keywords.push_back(PartKeyword{Text(fields[2]), Unescaped(fields[3]), *line, false});
            }
        } else if (fields[0] == kDoneTag && fields.size() == 3) {
            if (BatchPart* part = partNamed(fields[1])) {
                for (PartKeyword& keyword : part->keywords) {
                    if (keyword.customId == fields[2]) {
                        keyword.done = true;
                    }
                }
            }
        }
    }
    return parts;
}

Result<void> BatchRecord::Load() {
    const Result<Bytes> bytes = ReadFileBytes(path_);
    if (!bytes) {
        parts_.clear();
        torn_ = false;
        if (bytes.error().kind == ErrorKind::kMissing) {
            return Success();
        }
        return bytes.error();
    }
    parts_ = Parse(*bytes, &torn_);
    return Success();
}

Result<void> BatchRecord::Save() {
    if (Result<void> saved = ReplaceFileContents(path_, Serialize(parts_)); !saved) {
        return saved;
    }
    torn_ = false;
    return Success();
}

Result<void> BatchRecord::MarkDone(const Text& partId, const Text& customId) {
    BatchPart* part = Find(partId);
    if (part == nullptr) {
        return Success();
    }
    for (PartKeyword& keyword : part->keywords) {
        if (keyword.customId == customId) {
            keyword.done = true;
        }
    }
    // After a line cut short the file is whole again first, so the new line starts a line.
    if (torn_) {
        return Save();
    }
    return AppendToFile(path_, Joined({kDoneTag, partId, customId}));
}

BatchPart* BatchRecord::Find(const Text& partId) {
    for (BatchPart& part : parts_) {
        if (part.id == partId) {
            return &part;
        }
    }
    return nullptr;
}

void BatchRecord::DropSettledParts() {
    std::erase_if(parts_, [](const BatchPart& part) { return part.stage >= PartStage::kEnded && part.Open() == 0; });
}

}  // namespace qj
