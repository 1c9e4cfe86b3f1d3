#pragma once

#include <functional>

#include "window/window_model.h"

namespace qj {

// Runs `work` on a helper thread while the calling thread lets `window` handle its pending events,
// and returns once `work` has ended. On the window's thread this keeps the window painting and
// answering the user during a long exchange (its handlers may then run again, nested in this call);
// on any other thread it simply waits. `work` must not call into the window.
void RunKeepingWindowResponsive(WindowModel& window, const std::function<void()>& work);

}  // namespace qj
