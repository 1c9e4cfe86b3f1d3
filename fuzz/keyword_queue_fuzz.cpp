// libFuzzer target: the keyword queue over a list file of any bytes, in a scratch folder.
// Properties, with the list read in the encoding the queue decided when it first read it (a mark
// decides; bytes that are no UTF-8 are GBK), its lines cut where a CR, LF, zero byte or 0x1A stands
// (in UTF-16 as a unit; in GBK and UTF-8 none of them is ever part of a double-byte character), and
// the mark of that encoding kept in front:
// - lines taken plus lines left equal the list: every keyword is one line, in order, up to the
//   first line that is empty, blank or starts with another encoding's mark, which ends the run and
//   stays; whenever the list is written (mid-run and at the end) the file holds exactly the lines
//   not taken, byte for byte, and a run that settled everything leaves an empty journal;
// - the encoding stays what it was for the whole run, also when a line appended to the file or a
//   mark that comes to stand first would read otherwise;
// - a line appended to the file during a run is taken in its turn, or kept;
// - keywords taken and then returned or recovered after an interrupted run come back with their
//   lines' bytes and in their order (as a set, when the list repeats a keyword), ahead of the
//   untouched rest, whether or not the list was written in between.
// A keyword equals its line byte for byte when the list is read as GBK, and its text when the line
// is ASCII.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "fuzz_support.h"
#include "run/keyword_queue.h"

namespace {

using qj::IsUtf16;
using qj::ListEncoding;
using qj::fuzz::Shown;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kLeBom = "\xFF\xFE";
constexpr std::string_view kBeBom = "\xFE\xFF";

std::string_view BomOf(ListEncoding e) {
    return e == ListEncoding::kUtf8      ? kUtf8Bom
           : e == ListEncoding::kUtf16Le ? kLeBom
           : e == ListEncoding::kUtf16Be ? kBeBom
                                         : "";
}

char16_t Unit(std::string_view s, std::size_t i, ListEncoding e) {
    const auto a = static_cast<unsigned char>(s[i]), b = static_cast<unsigned char>(s[i + 1]);
    return static_cast<char16_t>(e == ListEncoding::kUtf16Le ? (a | b << 8) : (a << 8 | b));
}

bool EndsLine(char32_t c) {
    return c == '\r' || c == '\n' || c == 0 || c == 0x1A;
}

// `text` in the encoding of a list (ASCII only).
std::string Encoded(std::string_view text, ListEncoding e) {
    if (!IsUtf16(e)) {
        return std::string(text);
    }
    std::string out;
    for (const char c : text) {
        out += e == ListEncoding::kUtf16Le ? std::string{c, '\0'} : std::string{'\0', c};
    }
    return out;
}

struct Line {
    std::string text;
    std::size_t next = 0;  // offset behind its terminator, in the list less its mark
};

std::string_view MarkOf(std::string_view list, ListEncoding e) {
    return !BomOf(e).empty() && list.starts_with(BomOf(e)) ? BomOf(e) : std::string_view();
}

// The lines of a list in encoding `e`, less `mark` in front (by default the mark it starts with).
std::vector<Line> LinesOf(std::string_view list, ListEncoding e, std::optional<std::string_view> mark = std::nullopt) {
    list.remove_prefix(mark.value_or(MarkOf(list, e)).size());
    std::vector<Line> lines;
    const std::size_t step = IsUtf16(e) ? 2 : 1;
    std::size_t at = 0;
    while (at < list.size()) {
        std::size_t end = at;
        while (end + step <= list.size() &&
               !EndsLine(IsUtf16(e) ? Unit(list, end, e) : static_cast<unsigned char>(list[end]))) {
            end += step;
        }
        if (end + step > list.size()) {
            lines.push_back({std::string(list.substr(at)), list.size()});
            break;
        }
        const bool crLf = IsUtf16(e)
                              ? Unit(list, end, e) == '\r' && end + 3 < list.size() && Unit(list, end + 2, e) == '\n'
                              : list[end] == '\r' && end + 1 < list.size() && list[end + 1] == '\n';
        const std::size_t next = end + step * (crLf ? 2 : 1);
        lines.push_back({std::string(list.substr(at, end - at)), next});
        at = next;
    }
    return lines;
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The ASCII text a UTF-16 line stands for, if it is ASCII.
std::optional<std::string> AsciiOfUtf16(std::string_view line, ListEncoding e) {
    std::string ascii;
    if (line.size() % 2 != 0) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < line.size(); i += 2) {
        const char16_t u = Unit(line, i, e);
        if (u >= 0x80) {
            return std::nullopt;
        }
        ascii += static_cast<char>(u);
    }
    return ascii;
}

// Whether a line ends the run: nothing but spaces, tabs and full-width spaces (after a mark of the
// list's own encoding), or a mark of another encoding in front.
bool EndsTheRun(std::string_view line, ListEncoding e) {
    if (e == ListEncoding::kGbk &&
        (line.starts_with(kUtf8Bom) || line.starts_with(kLeBom) || line.starts_with(kBeBom))) {
        return true;
    }
    if (e == ListEncoding::kUtf8 && (line.starts_with(kLeBom) || line.starts_with(kBeBom))) {
        return true;
    }
    if (IsUtf16(e)) {
        if (line.starts_with(e == ListEncoding::kUtf16Le ? kBeBom : kLeBom)) {
            return true;
        }
        if (line.size() % 2 != 0) {
            return false;
        }
        for (std::size_t i = line.starts_with(BomOf(e)) ? 2 : 0; i < line.size(); i += 2) {
            const char16_t u = Unit(line, i, e);
            if (u != ' ' && u != '\t' && u != 0x3000) {
                return false;
            }
        }
        return true;
    }
    if (e == ListEncoding::kUtf8 && line.starts_with(kUtf8Bom)) {
        line.remove_prefix(kUtf8Bom.size());
    }
    const std::string_view wide = e == ListEncoding::kUtf8 ? "\xE3\x80\x80" : "\xA1\xA1";
    while (!line.empty()) {
        if (line[0] == ' ' || line[0] == '\t') {
            line.remove_prefix(1);
        } else if (line.starts_with(wide)) {
            line.remove_prefix(wide.size());
        } else {
            return false;
        }
    }
    return true;
}

// Whether bytes may be read as UTF-8 at all: well-formed in the loose sense (overlong forms pass).
bool MayBeUtf8(std::string_view list) {
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

// The encoding a list must be read in, when its bytes leave no choice.
std::optional<ListEncoding> ForcedEncoding(std::string_view list) {
    if (list.starts_with(kUtf8Bom)) {
        return ListEncoding::kUtf8;
    }
    if (list.starts_with(kLeBom)) {
        return ListEncoding::kUtf16Le;
    }
    if (list.starts_with(kBeBom)) {
        return ListEncoding::kUtf16Be;
    }
    if (!MayBeUtf8(list)) {
        return ListEncoding::kGbk;
    }
    return std::nullopt;
}

bool EndsWithLineEnd(std::string_view list, ListEncoding e) {
    if (list.empty()) {
        return true;
    }
    if (IsUtf16(e)) {
        return list.size() % 2 == 0 && EndsLine(Unit(list, list.size() - 2, e));
    }
    return EndsLine(static_cast<unsigned char>(list.back()));
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
    Model(const std::string& list, ListEncoding encoding) : encoding_(encoding) { Read(list); }

    const std::string& file() const { return file_; }
    ListEncoding encoding() const { return encoding_; }
    const std::vector<Line>& lines() const { return lines_; }
    std::size_t next() const { return next_; }
    const std::vector<std::string>& taken() const { return taken_; }
    bool AtEnd() const { return next_ >= lines_.size(); }

    // The next line was taken as `keyword`.
    void Take(const qj::KeywordQueue::Taken& keyword) {
        QJ_FUZZ_CHECK(!AtEnd(), "an extra keyword " + Shown(keyword.keyword) + " from " + Shown(file_));
        const std::string& line = lines_[next_].text;
        QJ_FUZZ_CHECK(!EndsTheRun(line, encoding_),
                      "the line " + Shown(line) + " that ends the run was taken, from " + Shown(file_));
        QJ_FUZZ_CHECK(!keyword.keyword.empty() &&
                          keyword.keyword.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos,
                      "keyword " + Shown(keyword.keyword) + " from the list " + Shown(file_));
        std::optional<std::string> plain;
        if (encoding_ == ListEncoding::kGbk || (encoding_ == ListEncoding::kUtf8 && IsAscii(line))) {
            plain = line;
        } else if (IsUtf16(encoding_)) {
            plain = AsciiOfUtf16(line, encoding_);
        }
        if (plain) {
            QJ_FUZZ_CHECK(keyword.keyword == *plain && !keyword.lossy,
                          "keyword " + Shown(keyword.keyword) + " for the line " + Shown(line) + " of " + Shown(file_));
        }
        QJ_FUZZ_CHECK(keyword.line == line, "line " + Shown(keyword.line) + " for " + Shown(line));
        taken_.push_back(line);
        ++next_;
    }

    // The run ended before a line that ends it: that line stays.
    void Ended() const {
        QJ_FUZZ_CHECK(AtEnd() || EndsTheRun(lines_[next_].text, encoding_),
                      "ended early on " + Shown(lines_[next_].text) + " of " + Shown(file_));
    }

    // The file as the queue writes it (nothing in front: keywords go back only at the end).
    std::string Rest() const {
        const std::string_view mark = MarkOf(file_, encoding_);
        return std::string(mark) + file_.substr(mark.size() + (next_ == 0 ? 0 : lines_[next_ - 1].next));
    }

    // The queue wrote the file; it reads it from there on in the same encoding.
    void Written() { Read(Rest()); }

    // A user appended a line to `path`. The queue reads the file anew, lines taken and all; unless
    // it has just read it, it writes it at once.
    void Append(const std::string& path) {
        if (!EndsWithLineEnd(file_, encoding_)) {
            return;
        }
        const std::string appended = Encoded("appended\r\n", encoding_);
        WriteFile(path, appended, true);
        const std::size_t next = next_;
        Read(file_ + appended);
        next_ = next;
        if (next_ > 0) {
            Written();
        }
    }

private:
    void Read(std::string file) {
        file_ = std::move(file);
        lines_ = LinesOf(file_, encoding_);
        next_ = 0;
    }

    const ListEncoding encoding_;
    std::string file_;
    std::vector<Line> lines_;
    std::size_t next_ = 0;
    std::vector<std::string> taken_;
};

// The list file and no journal.
void Start(const qj::JobPaths& paths, const std::string& list) {
    std::error_code ignored;
    std::filesystem::remove(paths.journal, ignored);
    WriteFile(paths.keywordList, list);
}

// The encoding a fresh queue decides for the list, which must be the one its bytes force, if any.
ListEncoding Decided(qj::KeywordQueue& queue, const std::string& list) {
    QJ_FUZZ_CHECK(queue.Recover().ok(), "list " + Shown(list));
    const ListEncoding decided = queue.Format().encoding;
    const std::optional<ListEncoding> forced = ForcedEncoding(list);
    QJ_FUZZ_CHECK(!forced || *forced == decided,
                  "the list " + Shown(list) + " was read as " + qj::EncodingName(decided));
    return decided;
}

void CheckFile(const qj::JobPaths& paths, const Model& model, const std::string& list, const char* when) {
    const std::string file = FileBytes(paths.keywordList);
    QJ_FUZZ_CHECK(file == model.Rest(), std::string(when) + ": the file holds " + Shown(file) + " instead of " +
                                            Shown(model.Rest()) + ", from the list " + Shown(list));
}

void CheckEncoding(qj::KeywordQueue& queue, const Model& model, const std::string& list) {
    QJ_FUZZ_CHECK(queue.Format().encoding == model.encoding(),
                  "the encoding changed during the run over " + Shown(list));
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
        qj::KeywordQueue queue(paths, kNoTimedWrites);
        Model model(list, Decided(queue, list));
        for (std::size_t round = 1; round <= 64; ++round) {
            if (round == flushAt) {
                QJ_FUZZ_CHECK(static_cast<bool>(queue.Flush()), "list " + Shown(list));
                CheckFile(paths, model, list, "written mid-run");
                model.Written();
            }
            if (round == appendAt) {
                model.Append(paths.keywordList);
            }
            const qj::Result<qj::KeywordQueue::Taken> taken = queue.TakeNextKeyword();
            QJ_FUZZ_CHECK(taken.ok(), "list " + Shown(list));
            const qj::KeywordQueue::Taken& next = *taken;
            CheckEncoding(queue, model, list);
            if (next.kind == qj::KeywordQueue::Taken::Kind::kEnd) {
                model.Ended();
                break;
            }
            model.Take(next);
            QJ_FUZZ_CHECK(static_cast<bool>(queue.Finish(next.keyword, next.line)), "list " + Shown(list));
        }
        QJ_FUZZ_CHECK(static_cast<bool>(queue.Flush()), "list " + Shown(list));
        CheckFile(paths, model, list, "written at the end");
        QJ_FUZZ_CHECK(FileBytes(paths.journal).empty(),
                      "journal " + Shown(FileBytes(paths.journal)) + " after " + Shown(list));
    }

    // Taken, then partly returned (the last ones first) and partly left in flight by a run that
    // ended without settling them: the next run's recovery restores the list's order.
    Start(paths, list);
    std::optional<Model> model;
    std::vector<std::string> keywords;
    {
        qj::KeywordQueue queue(paths, kNoTimedWrites);
        model.emplace(list, Decided(queue, list));
        while (static_cast<int>(keywords.size()) < interrupted + returned) {
            if (keywords.size() + 1 == flushAt) {
                QJ_FUZZ_CHECK(static_cast<bool>(queue.Flush()), "list " + Shown(list));
                CheckFile(paths, *model, list, "written with keywords in flight");
                model->Written();
            }
            if (keywords.size() + 1 == appendAt) {
                model->Append(paths.keywordList);
            }
            const qj::Result<qj::KeywordQueue::Taken> taken = queue.TakeNextKeyword();
            QJ_FUZZ_CHECK(taken.ok(), "list " + Shown(list));
            const qj::KeywordQueue::Taken& next = *taken;
            CheckEncoding(queue, *model, list);
            if (next.kind == qj::KeywordQueue::Taken::Kind::kEnd) {
                model->Ended();
                break;
            }
            model->Take(next);
            keywords.push_back(next.keyword);
        }
        const std::size_t keep = std::min<std::size_t>(keywords.size(), static_cast<std::size_t>(interrupted));
        for (std::size_t i = keywords.size(); i > keep; --i) {
            QJ_FUZZ_CHECK(static_cast<bool>(queue.Return(keywords[i - 1])), "list " + Shown(list));
        }
    }
    {
        // The recovery reads the list in the encoding of the run it recovers.
        qj::KeywordQueue queue(paths, kNoTimedWrites);
        QJ_FUZZ_CHECK(queue.Recover().ok(), "list " + Shown(list));
        if (!model->taken().empty()) {
            CheckEncoding(queue, *model, list);
        }
    }
    // Every line taken is back in front, then what the file held behind them. With nothing in
    // front, the file is the rest as the run left it.
    const std::string restored = FileBytes(paths.keywordList);
    const std::string detail = "restored " + Shown(restored) + " from " + Shown(list);
    const std::size_t back = model->taken().size();
    if (back == 0) {
        QJ_FUZZ_CHECK(restored == model->Rest(), detail);
        return 0;
    }
    const ListEncoding encoding = model->encoding();
    const std::string_view mark = MarkOf(model->file(), encoding);
    const std::string behind = model->Rest().substr(mark.size());
    // Lines of equal keywords may trade places: one that starts with the mark's bytes may come
    // first, and is the file's mark from then on.
    QJ_FUZZ_CHECK(restored.starts_with(mark), detail);
    const std::vector<Line> now = LinesOf(restored, encoding, mark);
    QJ_FUZZ_CHECK(now.size() == back + model->lines().size() - model->next(), detail);
    // The journal settles a keyword by its text, so of equal keywords any may come back first:
    // with repeated keywords only the set of lines is kept.
    std::vector<std::string> expected = model->taken();
    for (std::string& line : expected) {
        // The last line of a file cut short goes back in whole units: its half unit completed by
        // a zero byte, or by 0xFF where that would make a line end.
        if (IsUtf16(encoding) && line.size() % 2 != 0) {
            line.push_back('\0');
            if (EndsLine(Unit(line, line.size() - 2, encoding))) {
                line.back() = '\xFF';
            }
        }
    }
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
