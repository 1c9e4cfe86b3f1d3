// libFuzzer target: the keyword queue over a list file of any bytes, in a scratch folder.
// Properties, with the list's lines cut where a CR, LF, zero byte or 0x1A stands (none of them is
// ever part of a double-byte character, in GBK or UTF-8):
// - lines taken plus lines left equal the list: every keyword is one line, in order, up to the
//   first empty line (which is cut out), and the file keeps the rest byte for byte;
// - keywords taken and then returned or recovered after an interrupted run come back in their
//   order (as a set, when the list repeats a keyword), ahead of the untouched rest.
// A keyword equals its line byte for byte when the list is read as GBK (it is neither valid UTF-8
// with multi-byte characters nor starts with the UTF-8 byte-order mark), and always when the line
// is ASCII.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz_support.h"
#include "generation/keyword_queue.h"

namespace {

using qj::fuzz::Shown;

struct Line {
    std::string text;
    std::size_t next = 0;  // offset behind its terminator
};

std::vector<Line> LinesOf(const std::string& list) {
    std::vector<Line> lines;
    std::size_t at = 0;
    while (at < list.size()) {
        const std::size_t end = list.find_first_of(std::string_view("\r\n\0\x1A", 4), at);
        if (end == std::string::npos) {
            lines.push_back({list.substr(at), list.size()});
            break;
        }
        const std::size_t next = end + (list[end] == '\r' && end + 1 < list.size() && list[end + 1] == '\n' ? 2 : 1);
        lines.push_back({list.substr(at, end - at), next});
        at = next;
    }
    return lines;
}

bool IsAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

// Whether a list may be read as UTF-8: a byte-order mark, or well-formed UTF-8 that is not ASCII.
bool MayBeUtf8(std::string_view list) {
    if (list.starts_with("\xEF\xBB\xBF")) {
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

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
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

class Check {
public:
    explicit Check(const std::string& list) : list_(list), gbk_(!MayBeUtf8(list)) {}

    // The keyword read from `line` of the list.
    void Keyword(const std::string& keyword, const std::string& line) const {
        QJ_FUZZ_CHECK(!keyword.empty() && keyword.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos,
                      "keyword " + Shown(keyword) + " from the list " + Shown(list_));
        if (gbk_ || IsAscii(line)) {
            QJ_FUZZ_CHECK(keyword == line,
                          "keyword " + Shown(keyword) + " for the line " + Shown(line) + " of " + Shown(list_));
        }
    }

    // Line `i` of the file now against line `i` of what it should hold.
    void SameLine(const std::string& now, const std::string& expected, const std::string& file) const {
        if (gbk_ || IsAscii(expected)) {
            QJ_FUZZ_CHECK(now == expected, "line " + Shown(now) + " instead of " + Shown(expected) + " in " +
                                               Shown(file) + " from the list " + Shown(list_));
        }
    }

    bool Gbk() const { return gbk_; }

private:
    const std::string& list_;
    bool gbk_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int interrupted = input.ConsumeIntegralInRange<int>(0, 12);
    const int returned = input.ConsumeIntegralInRange<int>(0, 12);
    const std::string list = input.ConsumeRemainingBytesAsString();
    const std::vector<Line> lines = LinesOf(list);
    const Check check(list);
    const qj::JobPaths paths = Paths();
    std::error_code ignored;
    std::filesystem::remove(paths.journal, ignored);

    // Taken until the end: keyword by keyword, each settled.
    WriteFile(paths.keywordList, list);
    std::size_t taken = 0;
    bool endedOnEmptyLine = false;
    {
        qj::KeywordQueue queue(paths);
        for (int round = 0; round < 64; ++round) {
            const qj::KeywordQueue::Taken next = queue.TakeNextKeyword();
            QJ_FUZZ_CHECK(next.kind != qj::KeywordQueue::Taken::Kind::kError, "list " + Shown(list));
            if (next.kind == qj::KeywordQueue::Taken::Kind::kEnd) {
                endedOnEmptyLine = taken < lines.size();
                break;
            }
            QJ_FUZZ_CHECK(taken < lines.size(), "an extra keyword " + Shown(next.keyword) + " from " + Shown(list));
            check.Keyword(next.keyword, lines[taken].text);
            ++taken;
            QJ_FUZZ_CHECK(!queue.Finish(next.keyword), "list " + Shown(list));
        }
    }
    QJ_FUZZ_CHECK(!endedOnEmptyLine || lines[taken].text.empty(), "ended early on " + Shown(list));
    const std::size_t consumed = taken + (endedOnEmptyLine ? 1 : 0);
    const std::size_t restAt = consumed == 0 ? 0 : lines[consumed - 1].next;
    QJ_FUZZ_CHECK(FileBytes(paths.keywordList) == list.substr(restAt),
                  "left " + Shown(FileBytes(paths.keywordList)) + " of " + Shown(list));

    // Taken, then partly returned (the last ones first) and partly left in flight by a run that
    // ended without settling them: the next run's recovery restores the list's order.
    std::filesystem::remove(paths.journal, ignored);
    WriteFile(paths.keywordList, list);
    std::vector<std::string> keywords;
    bool cutEmptyLine = false;
    {
        qj::KeywordQueue queue(paths);
        while (static_cast<int>(keywords.size()) < interrupted + returned) {
            const qj::KeywordQueue::Taken next = queue.TakeNextKeyword();
            QJ_FUZZ_CHECK(next.kind != qj::KeywordQueue::Taken::Kind::kError, "list " + Shown(list));
            if (next.kind == qj::KeywordQueue::Taken::Kind::kEnd) {
                cutEmptyLine = keywords.size() < lines.size();
                break;
            }
            keywords.push_back(next.keyword);
        }
        const std::size_t keep = std::min<std::size_t>(keywords.size(), static_cast<std::size_t>(interrupted));
        for (std::size_t i = keywords.size(); i > keep; --i) {
            QJ_FUZZ_CHECK(!queue.Return(keywords[i - 1]), "list " + Shown(list));
        }
    }
    {
        qj::KeywordQueue queue(paths);
        std::optional<qj::FileError> error;
        static_cast<void>(queue.Recover(&error));
        QJ_FUZZ_CHECK(!error, "list " + Shown(list));
    }
    const std::string restored = FileBytes(paths.keywordList);
    const std::vector<Line> now = LinesOf(restored);
    const std::size_t rest = keywords.size() + (cutEmptyLine ? 1 : 0);
    QJ_FUZZ_CHECK(now.size() + (cutEmptyLine ? 1 : 0) == lines.size(),
                  "restored " + Shown(restored) + " from " + Shown(list));
    // The journal settles a keyword by its text, so of equal keywords any may come back first:
    // with repeated keywords only the set of lines is kept.
    std::vector<std::string> expected;
    std::vector<std::string> got;
    for (std::size_t i = 0; i < keywords.size(); ++i) {
        expected.push_back(lines[i].text);
        got.push_back(now[i].text);
    }
    std::vector<std::string> distinct = keywords;
    std::sort(distinct.begin(), distinct.end());
    const bool repeated = std::adjacent_find(distinct.begin(), distinct.end()) != distinct.end();
    if (repeated) {
        std::sort(expected.begin(), expected.end());
        std::sort(got.begin(), got.end());
    }
    for (std::size_t i = 0; i < keywords.size() && (check.Gbk() || !repeated); ++i) {
        check.SameLine(got[i], expected[i], restored);
    }
    const std::size_t untouchedAt = rest == 0 ? 0 : lines[rest - 1].next;
    QJ_FUZZ_CHECK(restored.ends_with(std::string_view(list).substr(untouchedAt)),
                  "restored " + Shown(restored) + " from " + Shown(list));
    return 0;
}
