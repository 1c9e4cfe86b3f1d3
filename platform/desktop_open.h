#pragma once

#include "text/types.h"

namespace qj {

// Opens a file, a folder or a web address (a target holding "://") with the desktop's default
// action, as a double click in the file manager or a click on a link would. Returns once the
// opener is started, without waiting for it; false when no opener could be started.
bool OpenOnDesktop(const Text& target);

}  // namespace qj
