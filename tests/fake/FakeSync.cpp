// Named mutexes of the fake machine, and another process that may hold one.
#include "FakeState.h"

using namespace fake;
using namespace fake::detail;

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName)
{
    if (Enter("CreateMutexA", Str(lpName)))
        return nullptr;
    if (!lpName || bInitialOwner)
        throw std::logic_error("fake: named mutexes, created unowned, only");
    Machine& m = M();
    MutexState& state = m.mutexes[lpName];
    state.created = true;
    const SECURITY_DESCRIPTOR* sd =
        lpMutexAttributes ? (const SECURITY_DESCRIPTOR*)lpMutexAttributes->lpSecurityDescriptor : nullptr;
    state.record.openToEveryone = sd && sd->Revision == SECURITY_DESCRIPTOR_REVISION &&
                                  (sd->Control & SE_DACL_PRESENT) && !sd->Dacl;
    uintptr_t handle = NewHandle();
    m.mutexHandles[handle] = lpName;
    m.lastError = 0;
    return (HANDLE)handle;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    Machine& m = M();
    auto named = m.mutexHandles.find((uintptr_t)hHandle);
    if (Enter("WaitForSingleObject", named == m.mutexHandles.end() ? "" : named->second))
        return WAIT_FAILED;
    if (named == m.mutexHandles.end())
        return Fail(ERROR_INVALID_HANDLE), WAIT_FAILED;
    MutexState& state = m.mutexes[named->second];
    DWORD result = WAIT_OBJECT_0;
    if (state.owned == 0) {
        switch (state.holder) {
        case MutexHolder::None:
            break;
        case MutexHolder::Forever:
            result = dwMilliseconds == INFINITE ? WAIT_FAILED : WAIT_TIMEOUT;
            break;
        case MutexHolder::Releases:
        case MutexHolder::Dies:
            if (state.whileHeld)
                state.whileHeld();
            result = state.holder == MutexHolder::Dies ? WAIT_ABANDONED : WAIT_OBJECT_0;
            state.holder = MutexHolder::None;
            break;
        }
    }
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
        ++state.owned;
    state.record.waitResults.push_back(result);
    return result;
}

BOOL ReleaseMutex(HANDLE hMutex)
{
    Machine& m = M();
    auto named = m.mutexHandles.find((uintptr_t)hMutex);
    if (Enter("ReleaseMutex", named == m.mutexHandles.end() ? "" : named->second))
        return FALSE;
    if (named == m.mutexHandles.end())
        return Fail(ERROR_INVALID_HANDLE);
    MutexState& state = m.mutexes[named->second];
    if (state.owned == 0)
        return Fail(ERROR_NOT_OWNER);
    --state.owned;
    return TRUE;
}

namespace fake {

void SetMutexHolder(const std::string& name, MutexHolder holder, std::function<void()> whileHeld)
{
    MutexState& state = M().mutexes[name];
    state.holder = holder;
    state.whileHeld = std::move(whileHeld);
}

std::optional<MutexRecord> Mutex(const std::string& name)
{
    auto found = M().mutexes.find(name);
    if (found == M().mutexes.end() || !found->second.created)
        return std::nullopt;
    return found->second.record;
}

}  // namespace fake
