#include "run/failure_requeue.h"

#include <cstdlib>

#include "platform/open_file.h"
#include "platform/program_folder.h"

namespace qj {

namespace {

// Carries out a recorded move: the list gets the block unless it already has it, then the failure
// list is emptied and the record removed.
Result<void> Complete(const JobPaths& paths, const Text& intentPath, std::size_t listSizeBefore, const Bytes& block) {
    const Result<ListFile> read = ReadListFile(paths.keywordList);
    if (!read) {
        return read.error();
    }
    const Bytes& list = read->contents;
    const bool appended = list.size() == listSizeBefore + block.size() && list.ends_with(block);
    if (!appended) {
        const Bytes base = ListToAppendTo(list, DetectListFormat(list));
        if (Result<void> written = ReplaceFileContents(paths.keywordList, base + block); !written) {
            return written;
        }
    }
    if (Result<void> emptied = ReplaceFileContents(paths.failureList, ""); !emptied) {
        return emptied;
    }
    RemoveFile(NativePath(intentPath));
    return Success();
}

}  // namespace

Text RequeueIntentPath(const KeywordQueue& queue) {
    const Text& list = queue.paths().keywordList;
    return list.substr(0, list.rfind(kPathSeparator) + 1) + ".requeue";
}

Result<int> RequeueFailedKeywords(const JobPaths& paths, const Text& intentPath) {
    if (Result<void> finished = FinishInterruptedRequeue(paths, intentPath); !finished) {
        return finished.error();
    }
    const Result<ListFile> failureFile = ReadListFile(paths.failureList);
    if (!failureFile) {
        return failureFile.error();
    }
    const Result<ListFile> listFile = ReadListFile(paths.keywordList);
    if (!listFile) {
        return listFile.error();
    }
    const Bytes& failures = failureFile->contents;
    const Bytes& list = listFile->contents;
    int moved = 0;
    // The failures are the program's text; they go into the list in the list's own encoding.
    const ListFormat format = DetectListFormat(list);
    const Bytes lineEnd = LineEndOf(std::string_view(list).substr(format.bomLength), format.encoding);
    Bytes block;
    for (const Text& keyword : ListLines(failures)) {
        if (!IsBlankLine(keyword, ListEncoding::kGbk)) {
            block += LineFromKeyword(keyword, format.encoding);
            block += lineEnd;
            ++moved;
        }
    }
    if (moved == 0) {
        return moved;
    }
    const Bytes base = ListToAppendTo(list, format);
    // The record: the size of the list the block goes behind, then the block.
    Result<void> done = ReplaceFileContents(intentPath, std::to_string(base.size()) + "\r\n" + block);
    if (done) {
        done = ReplaceFileContents(paths.keywordList, base + block);
    }
    if (done) {
        done = Complete(paths, intentPath, base.size(), block);
    }
    if (!done) {
        return done.error();
    }
    return moved;
}

Result<void> FinishInterruptedRequeue(const JobPaths& paths, const Text& intentPath) {
    const Result<Bytes> read = ReadFileOrEmpty(intentPath);
    if (!read) {
        return read.error();
    }
    const Bytes& intent = *read;
    const std::size_t lineEnd = intent.find("\r\n");
    if (lineEnd == Bytes::npos) {
        // No record, or one cut short before it was complete (then nothing had moved yet).
        RemoveFile(NativePath(intentPath));
        return Success();
    }
    const std::size_t sizeBefore = std::strtoull(intent.substr(0, lineEnd).c_str(), nullptr, 10);
    return Complete(paths, intentPath, sizeBefore, intent.substr(lineEnd + 2));
}

}  // namespace qj
