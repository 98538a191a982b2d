// kernel32's wide file functions on the fake disk. Its names are ANSI text in
// the machine's code page, so wide text goes through that code page; a name
// the code page cannot hold names nothing on the fake disk.
#include "FakeState.h"

#include <algorithm>

using namespace fake;
using namespace fake::detail;

namespace {

// Wide text into a buffer of `size` characters, as the W functions return it:
// its length, or the size it needs (null included) when it does not fit.
DWORD CopyOut(const std::wstring& text, LPWSTR buffer, DWORD size, bool cutWhenShort)
{
    if (text.size() < size) {
        std::copy(text.c_str(), text.c_str() + text.size() + 1, buffer);
        return (DWORD)text.size();
    }
    if (cutWhenShort && size > 0) {
        std::copy(text.data(), text.data() + size - 1, buffer);
        buffer[size - 1] = 0;
    }
    return (DWORD)text.size() + 1;
}

void ToWideData(const WIN32_FIND_DATAA& from, WIN32_FIND_DATAW& to)
{
    std::memset(&to, 0, sizeof to);
    to.dwFileAttributes = from.dwFileAttributes;
    to.nFileSizeHigh = from.nFileSizeHigh;
    to.nFileSizeLow = from.nFileSizeLow;
    to.dwReserved0 = from.dwReserved0;
    std::wstring name = Widen(from.cFileName, M().codePage);
    std::copy(name.begin(), name.begin() + std::min<size_t>(name.size(), MAX_PATH - 1), to.cFileName);
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData)
{
    if (Enter("FindFirstFileW", Narrow(lpFileName)))
        return INVALID_HANDLE_VALUE;
    if (!lpFileName || !lpFindFileData)
        return Fail(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;
    bool outside = false;
    std::string pattern = ToAnsiText(lpFileName, M().codePage, outside);
    if (outside)
        return Fail(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA first;
    HANDLE search = StartSearch(pattern.c_str(), &first);
    if (search != INVALID_HANDLE_VALUE)
        ToWideData(first, *lpFindFileData);
    return search;
}

BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData)
{
    if (Enter("FindNextFileW", ""))
        return FALSE;
    WIN32_FIND_DATAA next;
    if (!NextSearchEntry(hFindFile, &next))
        return FALSE;
    ToWideData(next, *lpFindFileData);
    return TRUE;
}

DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer)
{
    if (Enter("GetTempPathW", ""))
        return 0;
    const Machine& m = M();
    std::wstring text = m.tempPathWide.empty() ? Widen(m.tempPath, m.codePage) : m.tempPathWide;
    return CopyOut(text, lpBuffer, nBufferLength, m.tempPathCut);
}

DWORD GetShortPathNameW(LPCWSTR lpszLongPath, LPWSTR lpszShortPath, DWORD cchBuffer)
{
    if (Enter("GetShortPathNameW", Narrow(lpszLongPath)))
        return 0;
    if (!lpszLongPath)
        return Fail(ERROR_INVALID_PARAMETER);
    return CopyOut(lpszLongPath, lpszShortPath, cchBuffer, false);
}
