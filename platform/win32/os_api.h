// The real Windows services, in their narrow forms.
//
// On the Windows build this folder is on the include path in place of
// platform/sim, so the core's calls go straight to USER32, KERNEL32, GDI32,
// ADVAPI32 and POWRPROF with nothing in between.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <powrprof.h>
