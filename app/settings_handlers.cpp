#include "app/control_names.h"
#include "app/handlers.h"
#include "app/program_folder.h"
#include "app/settings_store.h"

namespace qj {

void OnSaveSettingsClicked(WindowModel& window) {
    Text path = ProgramPath(kSettingsFileTail);
    std::optional<FileError> failure = SaveEditBoxes(window, path, control::kEditRunLog).failure;
    for (auto save : {SaveCheckBoxes, SaveRadioBoxes, SaveComboBoxes}) {
        std::optional<FileError> next = save(window, path, {}).failure;
        if (!failure) {
            failure = std::move(next);
        }
    }
    if (failure) {
        window.MessageBox("保存失败！\r\n\r\n文件：" + failure->path + "\r\n原因：" + failure->reason,
                          kDefaultMessageCaption, MessageIcon::kError);
        return;
    }
    window.MessageBox("保存成功！", kDefaultMessageCaption, MessageIcon::kNone);
}

}  // namespace qj
