#include "generation/keyword_queue.h"

#include "text/gbk.h"

namespace qj {

JobPaths JobPathsIn(const Text& programFolder) {
    JobPaths p;
    p.keywordList = programFolder + "/OpenAi/待采集关键词.txt";
    p.journal = programFolder + "/OpenAi/正在生成关键词.txt";
    p.outputFolder = programFolder + "/OpenAi/生成内容/";
    p.failureList = programFolder + "/OpenAi/采集失败采集关键词.txt";
    return p;
}

FirstLine ReadFirstLine(std::string_view contents) {
    FirstLine first;
    std::size_t i = 0;
    while (i < contents.size()) {
        const char c = contents[i];
        if (c == '\n' || c == '\r' || c == '\0' || c == '\x1A') {
            break;
        }
        i += GbkUnitLength(contents, i);
    }
    first.line = Text(contents.substr(0, i));
    if (i < contents.size()) {
        first.terminatorLength = (contents[i] == '\r' && i + 1 < contents.size() && contents[i + 1] == '\n') ? 2 : 1;
    }
    return first;
}

TextList ListLines(const Bytes& contents) {
    TextList lines;
    std::size_t pos = 0;
    while (pos < contents.size()) {
        const FirstLine next = ReadFirstLine(std::string_view(contents).substr(pos));
        lines.push_back(next.line);
        if (next.terminatorLength == 0) {
            break;
        }
        pos += next.line.size() + next.terminatorLength;
    }
    return lines;
}

KeywordQueue::KeywordQueue(JobPaths paths) : paths_(std::move(paths)) {}

int KeywordQueue::Recover(FileError* error) {
    std::lock_guard lock(mutex_);
    Bytes journal;
    FileError e = ReadWholeFile(paths_.journal, journal, true);
    int restored = 0;
    if (e.empty() && !journal.empty()) {
        Bytes front;
        for (const Text& keyword : ListLines(journal)) {
            if (!keyword.empty()) {
                front += keyword + "\r\n";
                ++restored;
            }
        }
        Bytes list;
        e = ReadWholeFile(paths_.keywordList, list, true);
        if (e.empty() && restored > 0) {
            e = WriteFileAtomically(paths_.keywordList, front + list);
        }
        if (e.empty()) {
            e = WriteFileAtomically(paths_.journal, "");
        }
    }
    if (error) {
        *error = e;
    }
    return e.empty() ? restored : 0;
}

KeywordQueue::Taken KeywordQueue::TakeNextKeyword() {
    std::lock_guard lock(mutex_);
    Taken taken;
    Bytes list;
    if (!ReadWholeFile(paths_.keywordList, list).empty() || list.empty()) {
        return taken;  // no list or an empty one: the end
    }
    const FirstLine first = ReadFirstLine(list);
    const Bytes rest = list.substr(first.line.size() + first.terminatorLength);
    if (first.line.empty()) {
        if (FileError e = WriteFileAtomically(paths_.keywordList, rest); !e.empty()) {
            taken.kind = Taken::Kind::kError;
            taken.error = e;
        }
        return taken;
    }
    // Into the journal first, out of the list second: a crash in between duplicates, never loses.
    if (FileError e = AppendToFile(paths_.journal, first.line + "\r\n"); !e.empty()) {
        taken.kind = Taken::Kind::kError;
        taken.error = e;
        return taken;
    }
    if (FileError e = WriteFileAtomically(paths_.keywordList, rest); !e.empty()) {
        RemoveFromJournal(first.line);
        taken.kind = Taken::Kind::kError;
        taken.error = e;
        return taken;
    }
    taken.kind = Taken::Kind::kKeyword;
    taken.keyword = first.line;
    return taken;
}

FileError KeywordQueue::RemoveFromJournal(const Text& keyword) {
    Bytes journal;
    if (FileError e = ReadWholeFile(paths_.journal, journal, true); !e.empty()) {
        return e;
    }
    Bytes kept;
    bool removed = false;
    for (const Text& line : ListLines(journal)) {
        if (!removed && line == keyword) {
            removed = true;
            continue;
        }
        if (!line.empty()) {
            kept += line + "\r\n";
        }
    }
    return WriteFileAtomically(paths_.journal, kept);
}

FileError KeywordQueue::Finish(const Text& keyword) {
    std::lock_guard lock(mutex_);
    return RemoveFromJournal(keyword);
}

FileError KeywordQueue::Return(const Text& keyword) {
    std::lock_guard lock(mutex_);
    Bytes list;
    if (FileError e = ReadWholeFile(paths_.keywordList, list, true); !e.empty()) {
        return e;
    }
    if (FileError e = WriteFileAtomically(paths_.keywordList, keyword + "\r\n" + list); !e.empty()) {
        return e;
    }
    return RemoveFromJournal(keyword);
}

}  // namespace qj
