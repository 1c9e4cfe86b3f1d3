#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/process_state.h"
#include "platform/program_folder.h"
#include "settings/settings_store.h"
#include "app/control_names.h"
#include "app/run_log.h"

namespace qj {

void OnMainWindowCreated(WindowModel& window) {
    OnMainWindowCreated(window, ReadIniDocument(ProgramPath(kSettingsFileTail)));
}

void OnMainWindowCreated(WindowModel& window, const IniRead& settings) {
    SetProgramVersion(kProgramVersionNumber);
    const Text version = ProgramVersion();
    window.SetText(control::kLabelCurrentVersion, kPropContent, "当前版本：" + version);
    window.SetText(control::kEditRunLog, kPropContent, AboutText(version));
    const IniDocument document = settings.value_or(IniDocument());
    RestoreSettings(window, document);
    LogSettingsFileNotes(settings);
}

void LogSettingsFileNotes(const IniRead& settings) {
    // No settings file yet is how every installation starts: the defaults are the settings then.
    // A file that is there but cannot be read is another matter: the user's settings are not in
    // the window, and 保存配置 will not replace the file (it says why when pressed).
    if (!settings && settings.error().kind != ErrorKind::kMissing) {
        RunLog("错误信息：无法读取配置文件 " + Describe(settings.error()) + "，窗口中是默认设置");
    }
    const IniDocument document = settings.value_or(IniDocument());
    if (document.encoding() != IniEncoding::kGbk) {
        const Text encoding = IniEncodingName(document.encoding());
        RunLog("配置文件 " + ProgramPath(kSettingsFileTail) + " 是 " + encoding + " 编码，已按 " + encoding + " 读取" +
               (document.lossy() ? "，其中 GBK 没有的字符成为“?”" : "") + "；保存配置时存为 GBK");
    }
}

}  // namespace qj
