#include "app/startup.h"

#include <unistd.h>

#include "app/deployment.h"
#include "app/program_folder.h"
#include "app/program_state.h"
#include "generation/generation_job.h"
#include "http/http_instance.h"
#include "notices/advert_list.h"
#include "notices/row_colours.h"

namespace qj {

void PrepareProcess() {
    // A failed change of directory is harmless: every path the program uses is absolute.
    [[maybe_unused]] const bool changed = ::chdir(NativePath(ProgramFolder()).c_str()) == 0;
    HttpGlobalInit();
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
