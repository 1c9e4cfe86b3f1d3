#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/process_state.h"
#include "platform/program_folder.h"
#include "settings/settings_store.h"
#include "window/control_names.h"

namespace qj {

void OnMainWindowCreated(WindowModel& window) {
    SetProgramVersion(kProgramVersionNumber);
    const Text version = ProgramVersion();
    window.SetText(control::kLabelCurrentVersion, kPropContent, "当前版本：" + version);
    window.SetText(control::kEditRunLog, kPropContent, AboutText(version));
    Text path = ProgramPath(kSettingsFileTail);
    RestoreEditBoxes(window, path);
    RestoreCheckBoxes(window, path);
    RestoreRadioBoxes(window, path);
    RestoreComboBoxes(window, path);
}

}  // namespace qj
