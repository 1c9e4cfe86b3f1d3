#include "app/handlers.h"
#include "run/keyword_queue.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"

namespace qj {

namespace {

constexpr const char* kWorkFolderTail = "OpenAi";

// Creates what is missing of a target, then opens it; a target that cannot be created is reported.
void OpenCreatingMissing(WindowModel& window, const Text& target, bool isFolder) {
    Result<void> made = EnsureFolder(ProgramPath(kWorkFolderTail));
    if (made) {
        made = isFolder ? EnsureFolder(target) : EnsureFile(target);
    }
    if (!made) {
        window.MessageBox("无法打开：" + target + "\r\n\r\n创建失败：" + made.error().where + "\r\n原因：" +
                              made.error().reason,
                          kDefaultMessageCaption, MessageIcon::kError);
        return;
    }
    window.ShellOpen(target);
}

}  // namespace

void OnImportKeywordsClicked(WindowModel& window) {
    OpenCreatingMissing(window, ProgramPath(kKeywordListTail), false);
}

void OnViewOutputClicked(WindowModel& window) {
    OpenCreatingMissing(window, ProgramPath(kOutputFolderTail), true);
}

void OnViewFailedKeywordsClicked(WindowModel& window) {
    OpenCreatingMissing(window, ProgramPath(kFailureListTail), false);
}

}  // namespace qj
