// The Win32, shell and runtime services the launcher uses. The Windows build gets
// the real ones; the native test build gets the in-memory machine of the tests.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include <aclapi.h>
#include <mbstring.h>
#include <mbctype.h>
#else
#include "FakeWindows.h"
#endif
