#include "app/handlers.h"
#include "platform/program_folder.h"
#include "settings/settings_store.h"
#include "app/control_names.h"

namespace qj {

void OnSaveSettingsClicked(WindowModel& window) {
    const Text path = ProgramPath(kSettingsFileTail);
    const SaveResult saved = SaveSettings(window, path, control::kEditRunLog);
    if (saved.failure) {
        // The user must learn which box to mend when its content is the cause.
        const Text control =
            saved.failedControl.empty() ? Text() : "控件：" + saved.failedControl + "（内容中的换行符无法保存）\r\n";
        window.MessageBox(
            "保存失败！\r\n\r\n" + control + "文件：" + saved.failure->where + "\r\n原因：" + saved.failure->reason,
            kDefaultMessageCaption, MessageIcon::kError);
        return;
    }
    window.MessageBox("保存成功！", kDefaultMessageCaption, MessageIcon::kNone);
}

}  // namespace qj
