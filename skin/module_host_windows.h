#pragma once

#include "skin/loader_platform.h"

namespace qj {

// The module host of this Windows process: imports through LoadLibraryW and GetProcAddress, entry
// points and exports called directly (the image is of this process's own machine).
ModuleHost& WindowsModuleHost();

// The loader platform of this process: its address space and its module host.
LoaderPlatform& WindowsLoaderPlatform();

}  // namespace qj
