#include "app/control_names.h"
#include "app/handlers.h"

namespace qj {

// Every switch empties the advert list; the notices that fill pages 3 and 4 are not part of the
// program yet.
void OnMainPageSwitched(WindowModel& window, int) {
    window.ListClear(control::kListAdverts);
}

// Opening an advert needs the advert links of the notices, not part of the program yet.
void OnAdvertListDoubleClicked(WindowModel&) {}

}  // namespace qj
