#include <atomic>

#include "app/control_names.h"
#include "app/handlers.h"
#include "app/process_state.h"
#include "app/row_colours.h"
#include "notices/advert_list.h"
#include "notices/notice_sources.h"
#include "text/text_helpers.h"
#include "window/responsive_wait.h"

namespace qj {

namespace {

constexpr int kTitleColumn = 1;

// Every switch of the main tab control counts: a fill of the advert list or a showing of the
// version notice that began before a later one stops touching the window.
std::atomic<unsigned> g_pageSwitches{0};
std::atomic<unsigned> g_versionShowings{0};

// The window's way to wait for a fetch: it keeps handling its events meanwhile.
ExchangeWait KeepingResponsive(WindowModel& window) {
    return [&window](const std::function<void()>& exchange) { RunKeepingWindowResponsive(window, exchange); };
}

// Fills the (empty) advert list from the advert notice of the deployment's sites: one row per line,
// numbered from 1, with its title in column 1 and a colour drawn from kAdvertColours (kept in the
// row colours), its address in the advert links (emptied first). The window handles its events
// during the fetch and after each row.
void FillAdvertList(WindowModel& window) {
    const unsigned pass = g_pageSwitches.load();
    const auto superseded = [&] { return g_pageSwitches.load() != pass; };

    AdvertLinkList& links = AdvertLinks();
    links.Clear();
    const Text text =
        TrimLineBreaks(FetchNoticeText(AdvertNoticeSource(CurrentDeployment()), KeepingResponsive(window)));
    if (superseded()) {
        return;
    }
    for (const Text& line : SplitText(text, "\r\n")) {
        const Text number = std::to_string(window.ListRowCount(control::kListAdverts) + 1);
        const int row = window.ListAddRow(control::kListAdverts, number);
        const AdvertLine advert = ParseAdvertLine(line);
        window.ListSetCellText(control::kListAdverts, row, kTitleColumn, advert.title);
        links.Append(advert.address);
        SetListRowColour(window, RowColours(), control::kListAdverts, row, kTitleColumn,
                         AdvertColour(DrawAdvertColourNumber()));
        window.ProcessPendingMessages();
        if (superseded()) {
            return;
        }
    }
}

// The update page: the program's version in 透明标签_当前版本 at once, then the version notice the
// deployment's sites publish in 编辑框_最新版本. The window handles its events during the fetch;
// when another showing begins meanwhile, the later one writes the notice.
void ShowVersionTexts(WindowModel& window) {
    const unsigned showing = ++g_versionShowings;
    window.SetText(control::kLabelCurrentVersion, kPropContent, "当前软件版本：" + ProgramVersion());
    const Text notice = FetchNoticeText(VersionNoticeSource(CurrentDeployment()), KeepingResponsive(window));
    if (g_versionShowings.load() == showing) {
        window.SetText(control::kEditLatestVersion, kPropContent, notice);
    }
}

}  // namespace

// Every switch empties the advert list; the business page fills it anew, the update page shows the
// version texts.
void OnMainPageSwitched(WindowModel& window, int page) {
    ++g_pageSwitches;
    window.ListClear(control::kListAdverts);
    if (page == page::kBusiness) {
        FillAdvertList(window);
    } else if (page == page::kUpdate) {
        ShowVersionTexts(window);
    }
}

// Opens the address of the selected advert row in the web browser. Nothing happens without a
// selected row, for a row without an address, or for an address that is not http or https.
void OnAdvertListDoubleClicked(WindowModel& window) {
    const long long row = window.GetNumber(control::kListAdverts, kPropListSelection);
    const std::optional<Text> address = AdvertLinks().At(row);
    if (address && IsWebAddress(*address)) {
        window.ShellOpen(*address);
    }
}

}  // namespace qj
