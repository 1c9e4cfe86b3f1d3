#include "notices/version_notice.h"

#include <atomic>

#include "notices/notice_sources.h"
#include "window/control_names.h"

namespace qj {

namespace {
std::atomic<unsigned> g_showings{0};
}

void ShowVersionTexts(WindowModel& window, const Text& programVersion, const Deployment& deployment) {
    const unsigned showing = ++g_showings;
    window.SetText(control::kLabelCurrentVersion, kPropContent, "当前软件版本：" + programVersion);
    const Text notice = FetchNoticeText(window, VersionNoticeSource(deployment));
    if (g_showings.load() == showing) {
        window.SetText(control::kEditLatestVersion, kPropContent, notice);
    }
}

}  // namespace qj
