#pragma once

#include "settings/deployment.h"
#include "text/types.h"
#include "window/window_model.h"

namespace qj {

// The update page: the program's version in 透明标签_当前版本 at once, then the version notice the
// deployment's sites publish in 编辑框_最新版本. The window handles its events during the fetch;
// when another showing begins meanwhile, the later one writes the notice.
void ShowVersionTexts(WindowModel& window, const Text& programVersion, const Deployment& deployment);

}  // namespace qj
