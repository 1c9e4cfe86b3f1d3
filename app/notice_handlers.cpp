#include "app/handlers.h"
#include "app/process_state.h"
#include "notices/advert_list.h"
#include "notices/version_notice.h"
#include "window/control_names.h"

namespace qj {

// Every switch empties the advert list; the business page fills it anew, the update page shows the
// version texts.
void OnMainPageSwitched(WindowModel& window, int page) {
    NoteNoticePageSwitch();
    window.ListClear(control::kListAdverts);
    if (page == page::kBusiness) {
        FillAdvertList(window, CurrentDeployment(), AdvertLinks(), RowColours());
    } else if (page == page::kUpdate) {
        ShowVersionTexts(window, ProgramVersion(), CurrentDeployment());
    }
}

void OnAdvertListDoubleClicked(WindowModel& window) {
    OpenAdvert(window, AdvertLinks());
}

}  // namespace qj
