#include "app/control_names.h"
#include "app/handlers.h"
#include "app/program_state.h"
#include "notices/advert_list.h"
#include "notices/version_notice.h"

namespace qj {

// Every switch empties the advert list; the business page fills it anew, the update page shows the
// version texts.
void OnMainPageSwitched(WindowModel& window, int page) {
    NoteNoticePageSwitch();
    window.ListClear(control::kListAdverts);
    if (page == page::kBusiness) {
        FillAdvertList(window);
    } else if (page == page::kUpdate) {
        ShowVersionTexts(window, ProgramVersion());
    }
}

void OnAdvertListDoubleClicked(WindowModel& window) {
    OpenAdvert(window);
}

}  // namespace qj
