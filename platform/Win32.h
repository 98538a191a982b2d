// The Win32, shell and runtime services the launcher uses. The Windows build gets
// the real ones; the native test build gets the in-memory machine of the tests.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include <aclapi.h>
#include <mbstring.h>
#include <mbctype.h>
// Its lead/trail byte masks clash with template parameter names in the C++20
// standard library headers; the launcher does not use them.
#undef _M1
#undef _M2
#else
#include "FakeWindows.h"
#endif
