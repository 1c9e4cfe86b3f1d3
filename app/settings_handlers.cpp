#include "app/handlers.h"
#include "platform/program_folder.h"
#include "settings/settings_store.h"
#include "window/control_names.h"

namespace qj {

void OnSaveSettingsClicked(WindowModel& window) {
    Text path = ProgramPath(kSettingsFileTail);
    SaveResult failed = SaveEditBoxes(window, path, control::kEditRunLog);
    for (auto save : {SaveCheckBoxes, SaveRadioBoxes, SaveComboBoxes}) {
        SaveResult next = save(window, path, {});
        if (!failed.failure) {
            failed = std::move(next);
        }
    }
    if (failed.failure) {
        // The user must learn which box to mend when its content is the cause.
        const Text control =
            failed.failedControl.empty() ? Text() : "控件：" + failed.failedControl + "（内容中的换行符无法保存）\r\n";
        window.MessageBox(
            "保存失败！\r\n\r\n" + control + "文件：" + failed.failure->path + "\r\n原因：" + failed.failure->reason,
            kDefaultMessageCaption, MessageIcon::kError);
        return;
    }
    window.MessageBox("保存成功！", kDefaultMessageCaption, MessageIcon::kNone);
}

}  // namespace qj
