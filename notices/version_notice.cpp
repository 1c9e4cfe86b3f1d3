#include "notices/version_notice.h"

#include <atomic>

#include "app/control_names.h"
#include "notices/notice_sources.h"

namespace qj {

namespace {
std::atomic<unsigned> g_showings{0};
}

void ShowVersionTexts(WindowModel& window, const Text& programVersion) {
    const unsigned showing = ++g_showings;
    window.SetText(control::kLabelCurrentVersion, kPropContent, "当前软件版本：" + programVersion);
    const Text notice = FetchNoticeText(window, VersionNoticeSource(CurrentDeployment()));
    if (g_showings.load() == showing) {
        window.SetText(control::kEditLatestVersion, kPropContent, notice);
    }
}

}  // namespace qj
