// libFuzzer target: the keyword queue over a list file of any bytes, in a scratch folder.
// Properties, with the list's lines cut where a CR, LF, zero byte or 0x1A stands (none of them is
// ever part of a double-byte character, in GBK or UTF-8), and a UTF-8 byte-order mark kept in front:
// - lines taken plus lines left equal the list: every keyword is one line, in order, up to the
//   first empty line (which is cut out); whenever the list is written (mid-run and at the end) the
//   file holds exactly the lines not taken, byte for byte, and a run that settled everything
//   leaves an empty journal;
// - a line appended to the file during a run is taken in its turn, or kept;
// - keywords taken and then returned or recovered after an interrupted run come back with their
//   lines' bytes and in their order (as a set, when the list repeats a keyword), ahead of the
//   untouched rest, whether or not the list was written in between.
// A keyword equals its line byte for byte when the list is read as GBK (it is neither valid UTF-8
// with multi-byte characters nor starts with the UTF-8 byte-order mark), and always when the line
// is ASCII.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "fuzz_support.h"
#include "generation/keyword_queue.h"

namespace {

using qj::fuzz::Shown;

constexpr std::string_view kBom = "\xEF\xBB\xBF";
// What a user appends to the list during a run; only onto a list whose last line is ended, so
// that it is a line of its own.
constexpr std::string_view kAppended = "appended\r\n";

struct Line {
    std::string text;
    std::size_t next = 0;  // offset behind its terminator, in the list less its byte-order mark
};

std::string_view BomOf(std::string_view list) {
    return list.starts_with(kBom) ? kBom : std::string_view();
}

// The lines of a list less `mark` in front (by default the byte-order mark it starts with, if any).
std::vector<Line> LinesOf(std::string_view list, std::optional<std::string_view> mark = std::nullopt) {
    list.remove_prefix(mark.value_or(BomOf(list)).size());
    std::vector<Line> lines;
    std::size_t at = 0;
    while (at < list.size()) {
        const std::size_t end = list.find_first_of(std::string_view("\r\n\0\x1A", 4), at);
        if (end == std::string::npos) {
            lines.push_back({std::string(list.substr(at)), list.size()});
            break;
        }
        const std::size_t next = end + (list[end] == '\r' && end + 1 < list.size() && list[end + 1] == '\n' ? 2 : 1);
        lines.push_back({std::string(list.substr(at, end - at)), next});
        at = next;
    }
    return lines;
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool EndsWithLineEnd(std::string_view list) {
    return list.empty() || std::string_view("\r\n\0\x1A", 4).find(list.back()) != std::string_view::npos;
}

// Whether a list may be read as UTF-8: a byte-order mark, or well-formed UTF-8 that is not ASCII
// (more loosely than the program: overlong forms pass here).
bool MayBeUtf8(std::string_view list) {
    if (list.starts_with(kBom)) {
        return true;
    }
    for (std::size_t i = 0; i < list.size();) {
        const auto lead = static_cast<unsigned char>(list[i]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xE  ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        if (length == 0 || i + length > list.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(list[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return !IsAscii(list);
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, std::string_view bytes, bool append = false) {
    std::ofstream out(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    out << bytes;
}

qj::JobPaths Paths() {
    const std::string& folder = qj::fuzz::ScratchFolder();
    return qj::JobPaths{.keywordList = folder + "/list.txt",
                        .journal = folder + "/journal.txt",
                        .outputFolder = folder + "/out/",
                        .failureList = folder + "/failed.txt",
                        .runLock = folder + "/run.lock"};
}

// What a run over the list should see: the file as the queue last read or wrote it, its lines, the
// next of them to be taken, how they read, and the lines taken so far.
class Model {
public:
    explicit Model(const std::string& list) { Read(list); }

    const std::string& file() const { return file_; }
    const std::vector<Line>& lines() const { return lines_; }
    std::size_t next() const { return next_; }
    const std::vector<std::string>& taken() const { return taken_; }
    bool AtEnd() const { return next_ >= lines_.size(); }

    // The next line was taken as `keyword`.
    void Take(const qj::KeywordQueue::Taken& keyword) {
        QJ_FUZZ_CHECK(!AtEnd(), "an extra keyword " + Shown(keyword.keyword) + " from " + Shown(file_));
        const std::string& line = lines_[next_].text;
        QJ_FUZZ_CHECK(!keyword.keyword.empty() &&
                          keyword.keyword.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos,
                      "keyword " + Shown(keyword.keyword) + " from the list " + Shown(file_));
        if (gbk_ || IsAscii(line)) {
            QJ_FUZZ_CHECK(keyword.keyword == line && !keyword.lossy,
                          "keyword " + Shown(keyword.keyword) + " for the line " + Shown(line) + " of " + Shown(file_));
        }
        taken_.push_back(line);
        ++next_;
    }

    // The run ended on an empty line, which is cut out.
    void TakeEmptyLine() {
        QJ_FUZZ_CHECK(!AtEnd() && lines_[next_].text.empty(), "ended early on " + Shown(file_));
        ++next_;
    }

    // The file as the queue writes it (nothing in front: keywords go back only at the end).
    std::string Rest() const {
        const std::string_view bom = BomOf(file_);
        return std::string(bom) + file_.substr(bom.size() + (next_ == 0 ? 0 : lines_[next_ - 1].next));
    }

    // The queue wrote the file; it reads it from there on as any reader would.
    void Written() { Read(Rest()); }

    // A user appended a line to `path`. The queue reads the file anew, lines taken and all; unless
    // it has just read it, it writes it at once.
    void Append(const std::string& path) {
        if (!EndsWithLineEnd(file_)) {
            return;
        }
        WriteFile(path, kAppended, true);
        const std::size_t next = next_;
        Read(file_ + std::string(kAppended));
        next_ = next;
        if (next_ > 0) {
            Written();
        }
    }

private:
    void Read(std::string file) {
        file_ = std::move(file);
        lines_ = LinesOf(file_);
        next_ = 0;
        gbk_ = !MayBeUtf8(file_);
    }

    std::string file_;
    std::vector<Line> lines_;
    std::size_t next_ = 0;
    bool gbk_ = true;
    std::vector<std::string> taken_;
};

// The list file and no journal.
void Start(const qj::JobPaths& paths, const std::string& list) {
    std::error_code ignored;
    std::filesystem::remove(paths.journal, ignored);
    WriteFile(paths.keywordList, list);
}

void CheckFile(const qj::JobPaths& paths, const Model& model, const std::string& list, const char* when) {
    const std::string file = FileBytes(paths.keywordList);
    QJ_FUZZ_CHECK(file == model.Rest(), std::string(when) + ": the file holds " + Shown(file) + " instead of " +
                                            Shown(model.Rest()) + ", from the list " + Shown(list));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int interrupted = input.ConsumeIntegralInRange<int>(0, 12);
    const int returned = input.ConsumeIntegralInRange<int>(0, 12);
    // Before which take, counted from 1, the list is written, and a line appended; 0: never.
    const std::size_t flushAt = input.ConsumeIntegralInRange<std::size_t>(0, 24);
    const std::size_t appendAt = input.ConsumeIntegralInRange<std::size_t>(0, 24);
    const std::string list = input.ConsumeRemainingBytesAsString();
    // Long enough never to write in the background: every write is one the run asks for.
    constexpr std::chrono::hours kNoTimedWrites(1);

    // Taken until the end: keyword by keyword, each settled.
    const qj::JobPaths paths = Paths();
    Start(paths, list);
    {
        Model model(list);
        qj::KeywordQueue queue(paths, kNoTimedWrites);
        for (std::size_t round = 1; round <= 64; ++round) {
            if (round == flushAt) {
                QJ_FUZZ_CHECK(!queue.Flush(), "list " + Shown(list));
                CheckFile(paths, model, list, "written mid-run");
                model.Written();
            }
            if (round == appendAt) {
                model.Append(paths.keywordList);
            }
            const qj::KeywordQueue::Taken next = queue.TakeNextKeyword();
            QJ_FUZZ_CHECK(next.kind != qj::KeywordQueue::Taken::Kind::kError, "list " + Shown(list));
            if (next.kind == qj::KeywordQueue::Taken::Kind::kEnd) {
                if (!model.AtEnd()) {
                    model.TakeEmptyLine();
                }
                break;
            }
            model.Take(next);
            QJ_FUZZ_CHECK(!queue.Finish(next.keyword), "list " + Shown(list));
        }
        QJ_FUZZ_CHECK(!queue.Flush(), "list " + Shown(list));
        CheckFile(paths, model, list, "written at the end");
        QJ_FUZZ_CHECK(FileBytes(paths.journal).empty(),
                      "journal " + Shown(FileBytes(paths.journal)) + " after " + Shown(list));
    }

    // Taken, then partly returned (the last ones first) and partly left in flight by a run that
    // ended without settling them: the next run's recovery restores the list's order.
    Start(paths, list);
    Model model(list);
    std::vector<std::string> keywords;
    {
        qj::KeywordQueue queue(paths, kNoTimedWrites);
        while (static_cast<int>(keywords.size()) < interrupted + returned) {
            if (keywords.size() + 1 == flushAt) {
                QJ_FUZZ_CHECK(!queue.Flush(), "list " + Shown(list));
                CheckFile(paths, model, list, "written with keywords in flight");
                model.Written();
            }
            if (keywords.size() + 1 == appendAt) {
                model.Append(paths.keywordList);
            }
            const qj::KeywordQueue::Taken next = queue.TakeNextKeyword();
            QJ_FUZZ_CHECK(next.kind != qj::KeywordQueue::Taken::Kind::kError, "list " + Shown(list));
            if (next.kind == qj::KeywordQueue::Taken::Kind::kEnd) {
                if (!model.AtEnd()) {
                    model.TakeEmptyLine();
                }
                break;
            }
            model.Take(next);
            keywords.push_back(next.keyword);
        }
        const std::size_t keep = std::min<std::size_t>(keywords.size(), static_cast<std::size_t>(interrupted));
        for (std::size_t i = keywords.size(); i > keep; --i) {
            QJ_FUZZ_CHECK(!queue.Return(keywords[i - 1]), "list " + Shown(list));
        }
    }
    {
        qj::KeywordQueue queue(paths, kNoTimedWrites);
        std::optional<qj::FileError> error;
        static_cast<void>(queue.Recover(&error));
        QJ_FUZZ_CHECK(!error, "list " + Shown(list));
    }
    // Every line taken is back in front, then what the file held behind them. With nothing in
    // front, the file is the rest as the run left it.
    const std::string restored = FileBytes(paths.keywordList);
    const std::string detail = "restored " + Shown(restored) + " from " + Shown(list);
    const std::size_t back = model.taken().size();
    if (back == 0) {
        QJ_FUZZ_CHECK(restored == model.Rest(), detail);
        return 0;
    }
    const std::string_view bom = BomOf(model.file());
    const std::string behind = model.Rest().substr(bom.size());
    // Lines of equal keywords may trade places: one that starts with the mark's bytes may come
    // first, and is the file's mark from then on.
    QJ_FUZZ_CHECK(restored.starts_with(bom), detail);
    const std::vector<Line> now = LinesOf(restored, bom);
    QJ_FUZZ_CHECK(now.size() == back + model.lines().size() - model.next(), detail);
    // The journal settles a keyword by its text, so of equal keywords any may come back first:
    // with repeated keywords only the set of lines is kept.
    std::vector<std::string> expected = model.taken();
    std::vector<std::string> got;
    for (std::size_t i = 0; i < back; ++i) {
        got.push_back(now[i].text);
    }
    std::vector<std::string> distinct = keywords;
    std::sort(distinct.begin(), distinct.end());
    if (std::adjacent_find(distinct.begin(), distinct.end()) != distinct.end()) {
        std::sort(expected.begin(), expected.end());
        std::sort(got.begin(), got.end());
    }
    QJ_FUZZ_CHECK(got == expected, detail);
    QJ_FUZZ_CHECK(restored.ends_with(behind), detail);
    return 0;
}
