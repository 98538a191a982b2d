// Named mutexes of the fake machine, and another process that may hold one.
#include "FakeState.h"

#include <algorithm>

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

const ULONGLONG kForever = ~0ull;

// Waits on the machine's clock for another launcher's hold on a mutex to end.
static DWORD WaitForHolder(Machine& m, MutexState& state, DWORD timeout)
{
    if (state.holder == MutexHolder::None)
        return WAIT_OBJECT_0;
    bool forever = state.heldUntil == kForever;
    if (timeout != INFINITE && (forever || state.heldUntil > m.clock + timeout)) {
        m.clock += timeout;
        return WAIT_TIMEOUT;
    }
    if (forever)
        throw std::logic_error("fake: a wait without end for a mutex held for ever");
    m.clock = std::max(m.clock, state.heldUntil);
    if (state.whileHeld)
        state.whileHeld();
    DWORD result = state.holder == MutexHolder::Dies ? WAIT_ABANDONED : WAIT_OBJECT_0;
    state.holder = MutexHolder::None;
    return result;
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
    DWORD result = state.owned ? WAIT_OBJECT_0 : WaitForHolder(m, state, dwMilliseconds);
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

void SetMutexHolder(const std::string& name, MutexHolder holder, DWORD heldFor, std::function<void()> whileHeld)
{
    MutexState& state = M().mutexes[name];
    state.holder = holder;
    state.heldUntil = heldFor == INFINITE ? kForever : M().clock + heldFor;
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
