#include "run/failure_requeue.h"

#include <cstdlib>

#include "platform/open_file.h"
#include "platform/program_folder.h"

namespace qj {

namespace {

// Carries out a recorded move: the list gets the block unless it already has it, then the failure
// list is emptied and the record removed.
std::optional<FileError> Complete(const JobPaths& paths, const Text& intentPath, std::size_t listSizeBefore,
                                  const Bytes& block) {
    Bytes list;
    if (std::optional<FileError> e = ReadListFile(paths.keywordList, list)) {
        return e;
    }
    const bool appended = list.size() == listSizeBefore + block.size() && list.ends_with(block);
    if (!appended) {
        const Bytes base = ListToAppendTo(list, DetectListFormat(list));
        if (std::optional<FileError> e = ReplaceFileContents(paths.keywordList, base + block)) {
            return e;
        }
    }
    if (std::optional<FileError> e = ReplaceFileContents(paths.failureList, "")) {
        return e;
    }
    RemoveFile(NativePath(intentPath));
    return std::nullopt;
}

}  // namespace

Text RequeueIntentPath(const KeywordQueue& queue) {
    const Text& list = queue.paths().keywordList;
    return list.substr(0, list.rfind(kPathSeparator) + 1) + ".requeue";
}

RequeueResult RequeueFailedKeywords(const JobPaths& paths, const Text& intentPath) {
    RequeueResult result;
    if ((result.error = FinishInterruptedRequeue(paths, intentPath))) {
        return result;
    }
    Bytes failures;
    if ((result.error = ReadListFile(paths.failureList, failures))) {
        return result;
    }
    Bytes list;
    if ((result.error = ReadListFile(paths.keywordList, list))) {
        return result;
    }
    // The failures are the program's text; they go into the list in the list's own encoding.
    const ListFormat format = DetectListFormat(list);
    const Bytes lineEnd = LineEndOf(std::string_view(list).substr(format.bomLength), format.encoding);
    Bytes block;
    for (const Text& keyword : ListLines(failures)) {
        if (!IsBlankLine(keyword, ListEncoding::kGbk)) {
            block += LineFromKeyword(keyword, format.encoding);
            block += lineEnd;
            ++result.moved;
        }
    }
    if (result.moved == 0) {
        return result;
    }
    const Bytes base = ListToAppendTo(list, format);
    // The record: the size of the list the block goes behind, then the block.
    if ((result.error = ReplaceFileContents(intentPath, std::to_string(base.size()) + "\r\n" + block))) {
        return result;
    }
    if ((result.error = ReplaceFileContents(paths.keywordList, base + block))) {
        return result;
    }
    result.error = Complete(paths, intentPath, base.size(), block);
    return result;
}

std::optional<FileError> FinishInterruptedRequeue(const JobPaths& paths, const Text& intentPath) {
    Bytes intent;
    if (std::optional<FileError> e = ReadFileOrEmpty(intentPath, intent)) {
        return e;
    }
    const std::size_t lineEnd = intent.find("\r\n");
    if (lineEnd == Bytes::npos) {
        // No record, or one cut short before it was complete (then nothing had moved yet).
        RemoveFile(NativePath(intentPath));
        return std::nullopt;
    }
    const std::size_t sizeBefore = std::strtoull(intent.substr(0, lineEnd).c_str(), nullptr, 10);
    return Complete(paths, intentPath, sizeBefore, intent.substr(lineEnd + 2));
}

}  // namespace qj
