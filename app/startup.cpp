#include "app/startup.h"

#include "app/process_state.h"
#include "run/job.h"
#include "http/http_instance.h"
#include "platform/program_folder.h"
#include "platform/signals.h"
#include "settings/settings_store.h"

namespace qj {

void PrepareProcess() {
    // A failed change of directory is harmless: every path the program uses is absolute.
    [[maybe_unused]] const bool entered = EnterFolder(ProgramFolder());
    HttpGlobalInit();
    IgnoreFileSizeLimitSignal();
    LoadDeployment(ProgramPath(kSettingsFileTail));
    InstallExitRoutine();
    AtProgramExit([] {
        AdvertLinks().Release();
        RowColours().Release();
    });
    RecoverInterruptedKeywords(ProgramFolder());
}

Text StartUpFailureText() {
    return "运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n";
}

}  // namespace qj
