#pragma once

// <windows.h> and the common controls for the native window, without the macros that collide with
// the window model's names: MessageBox would otherwise become MessageBoxW in every class that
// declares it.
#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>
#include <shellapi.h>

#undef MessageBox
