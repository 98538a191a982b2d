// Pieces of the C++ runtime replaced by smaller ones, so that what the exe
// carries is mostly the launcher (the exe is read from the disc in full at
// every start).
#include <cstdlib>
#include <exception>
#include <new>

// The runtime's default terminate handler names the uncaught exception's type
// on stderr, which a windowed program does not have, and pulls the demangler
// and much of the I/O library into the exe to do it. This one only ends the
// program, as that handler does after its message.
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
}

// In GCC 14, libgcc's thread support for Windows (gthr-win32.o, which the
// runtime's exception allocator needs for its mutex) also holds a thread
// comparison that calls GetThreadId, a function Windows XP lacks: imported,
// it would stop the exe from starting there. The launcher compares no
// threads, so nothing calls it; its import slot is this program's own and
// looks the function up on a call, failing as the function does (0) where the
// system has none. GCC 12's runtime does not name the function, and the slot
// is then dropped with everything else nothing refers to.
#include <windows.h>

namespace {
DWORD WINAPI GetThreadIdWhereThere(HANDLE thread)
{
    typedef DWORD(WINAPI * GetThreadIdFunction)(HANDLE);
    FARPROC found = GetProcAddress(GetModuleHandleA("KERNEL32.dll"), "GetThreadId");
    if (found == NULL) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    return reinterpret_cast<GetThreadIdFunction>(reinterpret_cast<void*>(found))(thread);
}
}

#ifdef _WIN64
#define GET_THREAD_ID_SLOT "__imp_GetThreadId"
#else
#define GET_THREAD_ID_SLOT "__imp__GetThreadId@4"
#endif
extern "C" DWORD(WINAPI* const GetThreadIdSlot)(HANDLE) __asm__(GET_THREAD_ID_SLOT);
extern "C" DWORD(WINAPI* const GetThreadIdSlot)(HANDLE) = GetThreadIdWhereThere;
