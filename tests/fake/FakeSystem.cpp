// Process, environment, command line, code page and message box functions of
// the fake machine.
#include "FakeState.h"

#include <algorithm>
#include <cctype>

using namespace fake;
using namespace fake::detail;

namespace {

bool FileExists(const std::string& path)
{
    Path p;
    DWORD error = 0;
    if (!ParsePath(path.c_str(), p, error))
        return false;
    Lookup found = Resolve(p, true);
    return found.node && !found.node->folder;
}

bool HasExtension(const std::string& path)
{
    size_t dot = path.rfind('.');
    size_t slash = path.find_last_of("\\/");
    return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

// The executable that CreateProcessA starts for a command line without an
// application name: the quoted first token, or else the shortest run of
// space-separated words that names an existing file (".exe" added when there
// is no extension), as Windows searches it.
std::string ExecutableOf(const std::string& commandLine)
{
    size_t start = commandLine.find_first_not_of(" \t");
    if (start == std::string::npos)
        return "";
    std::vector<std::string> candidates;
    if (commandLine[start] == '"') {
        size_t end = commandLine.find('"', start + 1);
        candidates.push_back(commandLine.substr(start + 1, end == std::string::npos ? end : end - start - 1));
    } else {
        for (size_t end = commandLine.find_first_of(" \t", start);; end = commandLine.find_first_of(" \t", end + 1)) {
            candidates.push_back(commandLine.substr(start, end == std::string::npos ? end : end - start));
            if (end == std::string::npos)
                break;
        }
    }
    for (std::string name : candidates) {
        if (!HasExtension(name))
            name += ".exe";
        if (FileExists(name))
            return name;
    }
    return "";
}

// Splits a command line by the shell's rules. The program name runs to the
// next quote when it starts with one, else to the next blank, and takes no
// escapes. In the arguments, 2n backslashes before a quote give n backslashes
// and the quote opens or closes quoting; 2n+1 give n and a literal quote;
// other backslashes are literal. A run of quotes counts on from the quote
// that began it: every third one is a literal quote, so "" inside quotes
// gives a quote and ends the quoted part.
std::vector<std::wstring> SplitCommandLine(const std::wstring& line)
{
    std::vector<std::wstring> args;
    size_t i = 0, n = line.size();
    std::wstring arg;
    if (i < n && line[i] == L'"') {
        for (++i; i < n && line[i] != L'"'; ++i)
            arg += line[i];
        if (i < n)
            ++i;
    } else {
        for (; i < n && line[i] != L' ' && line[i] != L'\t'; ++i)
            arg += line[i];
    }
    args.push_back(arg);
    arg.clear();

    auto skipBlanks = [&] {
        while (i < n && (line[i] == L' ' || line[i] == L'\t'))
            ++i;
    };
    skipBlanks();
    bool pending = i < n;
    int quotes = 0;  // odd: inside quotes
    size_t backslashes = 0;
    while (i < n) {
        wchar_t c = line[i];
        if ((c == L' ' || c == L'\t') && quotes == 0) {
            args.push_back(arg);
            arg.clear();
            backslashes = 0;
            skipBlanks();
            pending = i < n;
            continue;
        }
        ++i;
        if (c == L'\\') {
            arg += c;
            ++backslashes;
            continue;
        }
        if (c != L'"') {
            arg += c;
            backslashes = 0;
            continue;
        }
        if (backslashes % 2 == 0) {
            arg.erase(arg.size() - backslashes / 2);
            ++quotes;
        } else {
            arg.erase(arg.size() - backslashes / 2 - 1);
            arg += L'"';
        }
        backslashes = 0;
        for (; i < n && line[i] == L'"'; ++i) {
            if (++quotes == 3) {
                arg += L'"';
                quotes = 0;
            }
        }
        if (quotes == 2)
            quotes = 0;
    }
    if (pending)
        args.push_back(arg);
    return args;
}

// The double-byte characters of code page 932 that the fake knows.
const struct {
    uint32_t code;
    const char* bytes;
} kCodePage932[] = {
    {0x8868, "\x95\x5C"},  // 表, trail byte '\'
    {0x30BD, "\x83\x5C"},  // ソ, trail byte '\'
    {0x80FD, "\x94\x5C"},  // 能, trail byte '\'
    {0x4E88, "\x97\x5C"},  // 予, trail byte '\'
    {0x5341, "\x8F\x5C"},  // 十, trail byte '\'
    {0x3042, "\x82\xA0"},  // あ
    {0x30A2, "\x83\x41"},  // ア, trail byte 'A'
    {0x65E5, "\x93\xFA"},  // 日
    {0x672C, "\x96\x7B"},  // 本
    {0x8A9E, "\x8C\xEA"},  // 語
};

void AppendCodePage932(uint32_t c, std::string& out, bool& defaulted, const std::string& fallback)
{
    if (c < 0x80) {
        out += (char)c;
        return;
    }
    if (c >= 0xFF61 && c <= 0xFF9F) {  // half-width katakana: single bytes
        out += (char)(0xA1 + (c - 0xFF61));
        return;
    }
    for (const auto& entry : kCodePage932) {
        if (entry.code == c) {
            out += entry.bytes;
            return;
        }
    }
    out += fallback;
    defaulted = true;
}

// Wide text as ANSI text in a code page (1252 taken as Latin-1); characters the
// code page lacks become `fallback`.
std::string ToAnsi(const wchar_t* text, size_t count, UINT codePage, const std::string& fallback, bool& defaulted)
{
    std::string out;
    defaulted = false;
    for (size_t i = 0; i < count; ++i) {
        uint32_t c = (uint32_t)text[i];
        if (codePage == 932) {
            AppendCodePage932(c, out, defaulted, fallback);
        } else if (c < 0x100) {
            out += (char)c;
        } else {
            out += fallback;
            defaulted = true;
        }
    }
    return out;
}

// GetModuleFileNameW: the path, cut to fit the buffer as Windows cuts it.
template <typename Char>
DWORD CopyModulePath(const std::basic_string<Char>& path, Char* buffer, DWORD size)
{
    if (size == 0)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (path.size() < size) {
        std::copy(path.c_str(), path.c_str() + path.size() + 1, buffer);
        M().lastError = 0;
        return (DWORD)path.size();
    }
    std::copy(path.data(), path.data() + size - 1, buffer);
    buffer[size - 1] = 0;
    M().lastError = ERROR_INSUFFICIENT_BUFFER;
    return size;
}

// One character of multibyte text: a byte, or a lead and a trail byte.
unsigned NextCharacter(const unsigned char*& s, UINT codePage, bool fold)
{
    unsigned c = *s++;
    if (IsLead((unsigned char)c, codePage) && *s)
        return (c << 8) | *s++;
    if (fold && c >= 'A' && c <= 'Z')
        c += 'a' - 'A';
    return c;
}

int CompareMultibyte(const unsigned char* a, const unsigned char* b, bool fold)
{
    UINT codePage = M().codePage;
    for (;;) {
        unsigned ca = *a ? NextCharacter(a, codePage, fold) : 0;
        unsigned cb = *b ? NextCharacter(b, codePage, fold) : 0;
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
}

}  // namespace

std::string fake::detail::ToAnsiText(const std::wstring& text, UINT codePage, bool& defaulted)
{
    return ToAnsi(text.data(), text.size(), codePage, "?", defaulted);
}

std::wstring fake::detail::Widen(const std::string& text, UINT codePage)
{
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = (unsigned char)text[i];
        if (codePage != 932 || c < 0x80) {
            out += (wchar_t)c;  // 1252 taken as Latin-1, as the fake encodes it
        } else if (c >= 0xA1 && c <= 0xDF) {
            out += (wchar_t)(0xFF61 + (c - 0xA1));
        } else {
            wchar_t found = 0x30FB;  // what Windows gives for an unknown character
            for (const auto& entry : kCodePage932)
                if (i + 1 < text.size() && entry.bytes[0] == text[i] && entry.bytes[1] == text[i + 1])
                    found = (wchar_t)entry.code;
            out += found;
            if (IsLead(c, 932) && i + 1 < text.size())
                ++i;
        }
    }
    return out;
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize)
{
    if (Enter("GetModuleFileNameW", ""))
        return 0;
    if (hModule)
        return Fail(ERROR_MOD_NOT_FOUND);
    const Machine& m = M();
    return CopyModulePath(m.modulePathWide.empty() ? Widen(m.modulePath, m.codePage) : m.modulePathWide,
                          lpFilename, nSize);
}

LPWSTR GetCommandLineW(void)
{
    Enter("GetCommandLineW", "");
    return M().commandLine.data();
}

LPWSTR* CommandLineToArgvW(LPCWSTR lpCmdLine, int* pNumArgs)
{
    if (Enter("CommandLineToArgvW", Narrow(lpCmdLine)))
        return nullptr;
    if (!pNumArgs)
        return Fail(ERROR_INVALID_PARAMETER), nullptr;
    std::vector<std::wstring> args;
    if (!lpCmdLine || !*lpCmdLine) {
        const std::string& module = M().modulePath;
        args.push_back(std::wstring(module.begin(), module.end()));
    } else {
        args = SplitCommandLine(lpCmdLine);
    }
    // One block, as the shell allocates it: the pointer array, then the texts.
    size_t chars = 0;
    for (const std::wstring& a : args)
        chars += a.size() + 1;
    size_t pointers = (args.size() + 1) * sizeof(LPWSTR);
    void* block = std::malloc(pointers + chars * sizeof(WCHAR));
    if (!block)
        return Fail(ERROR_NOT_ENOUGH_MEMORY), nullptr;
    LPWSTR* argv = (LPWSTR*)block;
    WCHAR* text = (WCHAR*)((char*)block + pointers);
    for (size_t i = 0; i < args.size(); ++i) {
        argv[i] = text;
        std::wmemcpy(text, args[i].c_str(), args[i].size() + 1);
        text += args[i].size() + 1;
    }
    argv[args.size()] = nullptr;
    M().argvBlocks.insert(block);
    *pNumArgs = (int)args.size();
    return argv;
}

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes)
{
    if (Enter("LocalAlloc", ""))
        return nullptr;
    void* block = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, uBytes ? uBytes : 1) : std::malloc(uBytes ? uBytes : 1);
    if (!block)
        return Fail(ERROR_NOT_ENOUGH_MEMORY), nullptr;
    M().argvBlocks.insert(block);  // released with LocalFree like the shell's blocks
    return block;
}

HLOCAL LocalFree(HLOCAL hMem)
{
    if (Enter("LocalFree", ""))
        return hMem;
    Machine& m = M();
    if (!hMem)
        return nullptr;
    if (!m.argvBlocks.erase(hMem)) {
        ++m.badLocalFrees;
        Fail(ERROR_INVALID_HANDLE);
        return hMem;
    }
    std::free(hMem);
    return nullptr;
}

// The handles and ids of a process the fake "started".
static BOOL StartedProcess(LPPROCESS_INFORMATION info)
{
    Machine& m = M();
    uintptr_t process = NewHandle(), thread = NewHandle();
    info->hProcess = (HANDLE)process;
    info->hThread = (HANDLE)thread;
    info->dwProcessId = (DWORD)(1000 + m.processes.size() * 4);
    info->dwThreadId = info->dwProcessId + 2;
    return TRUE;
}

void GetStartupInfoA(LPSTARTUPINFOA lpStartupInfo)
{
    Enter("GetStartupInfoA", "");
    *lpStartupInfo = M().startupInfo;
    lpStartupInfo->cb = sizeof(STARTUPINFOA);
}

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                    LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation)
{
    Machine& m = M();
    ProcessRecord rec{};
    if (lpApplicationName)
        rec.applicationName = lpApplicationName;
    if (lpCommandLine)
        rec.commandLine = lpCommandLine;
    rec.inheritHandles = bInheritHandles;
    rec.creationFlags = dwCreationFlags;
    rec.environment = lpEnvironment;
    if (lpCurrentDirectory)
        rec.currentDirectory = lpCurrentDirectory;
    rec.hasStartupInfo = lpStartupInfo != nullptr;
    if (lpStartupInfo)
        rec.startupInfo = *lpStartupInfo;

    DWORD error = 0;
    if (Enter("CreateProcessA", lpCommandLine ? lpCommandLine : Str(lpApplicationName))) {
        error = m.lastError;
    } else if (!lpStartupInfo || !lpProcessInformation || (!lpApplicationName && !lpCommandLine)) {
        error = ERROR_INVALID_PARAMETER;
    } else {
        if (lpCurrentDirectory) {
            Path p;
            Lookup found;
            if (ParsePath(lpCurrentDirectory, p, error))
                found = Resolve(p, true);
            if (!found.node || !found.node->folder)
                error = ERROR_DIRECTORY;
        }
        if (!error) {
            rec.executable = lpApplicationName ? (FileExists(lpApplicationName) ? lpApplicationName : "")
                                               : ExecutableOf(lpCommandLine);
            if (rec.executable.empty())
                error = ERROR_FILE_NOT_FOUND;
        }
    }
    rec.result = error ? FALSE : TRUE;
    rec.error = error;
    m.processes.push_back(rec);
    if (error)
        return Fail(error);

    return StartedProcess(lpProcessInformation);
}

void GetStartupInfoW(LPSTARTUPINFOW lpStartupInfo)
{
    Enter("GetStartupInfoW", "");
    const STARTUPINFOA& info = M().startupInfo;
    std::memset(lpStartupInfo, 0, sizeof(*lpStartupInfo));
    lpStartupInfo->cb = sizeof(STARTUPINFOW);
    lpStartupInfo->dwFlags = info.dwFlags;
    lpStartupInfo->wShowWindow = info.wShowWindow;
}

BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory,
                    LPSTARTUPINFOW lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation)
{
    Machine& m = M();
    ProcessRecord rec{};
    rec.wide = true;
    if (lpApplicationName)
        rec.applicationName = Narrow(lpApplicationName);
    if (lpCommandLine)
        rec.commandLine = Narrow(lpCommandLine);
    rec.inheritHandles = bInheritHandles;
    rec.creationFlags = dwCreationFlags;
    rec.environment = lpEnvironment;
    if (lpCurrentDirectory)
        rec.currentDirectory = Narrow(lpCurrentDirectory);
    rec.hasStartupInfo = lpStartupInfo != nullptr;
    if (lpStartupInfo) {
        rec.startupInfo.cb = lpStartupInfo->cb;
        rec.startupInfo.dwFlags = lpStartupInfo->dwFlags;
        rec.startupInfo.wShowWindow = lpStartupInfo->wShowWindow;
    }
    DWORD error = 0;
    if (Enter("CreateProcessW", rec.commandLine.value_or("")))
        error = m.lastError;
    else if (!lpStartupInfo || !lpProcessInformation || (!lpApplicationName && !lpCommandLine))
        error = ERROR_INVALID_PARAMETER;
    rec.result = error ? FALSE : TRUE;
    rec.error = error;
    rec.executable = error ? "" : rec.commandLine.value_or("");
    m.processes.push_back(rec);
    if (error)
        return Fail(error);
    return StartedProcess(lpProcessInformation);
}

DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize)
{
    if (Enter("GetEnvironmentVariableA", Str(lpName)))
        return 0;
    std::string key = Str(lpName);
    for (char& c : key)
        c = (char)std::toupper((unsigned char)c);
    const Machine& m = M();
    auto it = m.env.find(key);
    if (!lpName || it == m.env.end())
        return Fail(ERROR_ENVVAR_NOT_FOUND);
    const std::string& value = it->second;
    if (value.size() >= nSize)
        return (DWORD)value.size() + 1;
    std::memcpy(lpBuffer, value.c_str(), value.size() + 1);
    if (value.empty())
        M().lastError = 0;
    return (DWORD)value.size();
}

DWORD GetVersion(void)
{
    Enter("GetVersion", "");
    return M().version;
}

DWORD GetLastError(void) { return M().lastError; }

int WideCharToMultiByte(UINT CodePage, DWORD, LPCWCH lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCCH lpDefaultChar, LPBOOL lpUsedDefaultChar)
{
    std::wstring logged;
    if (lpWideCharStr)
        logged.assign(lpWideCharStr, cchWideChar < 0 ? std::wcslen(lpWideCharStr) : (size_t)std::max(cchWideChar, 0));
    if (Enter("WideCharToMultiByte", Narrow(logged.c_str())))
        return 0;
    if (!lpWideCharStr || cchWideChar == 0 || cbMultiByte < 0 || (cbMultiByte > 0 && !lpMultiByteStr))
        return Fail(ERROR_INVALID_PARAMETER);
    UINT codePage = (CodePage == CP_ACP || CodePage == 1 || CodePage == 3) ? M().codePage : CodePage;
    if (codePage != 1252 && codePage != 932)
        return Fail(ERROR_INVALID_PARAMETER);
    size_t count = cchWideChar < 0 ? std::wcslen(lpWideCharStr) + 1 : (size_t)cchWideChar;
    bool defaulted;
    std::string out = ToAnsi(lpWideCharStr, count, codePage, lpDefaultChar ? lpDefaultChar : "?", defaulted);
    if (lpUsedDefaultChar)
        *lpUsedDefaultChar = defaulted ? TRUE : FALSE;
    if (cbMultiByte == 0)
        return (int)out.size();
    if (out.size() > (size_t)cbMultiByte) {
        std::memcpy(lpMultiByteStr, out.data(), (size_t)cbMultiByte);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(lpMultiByteStr, out.data(), out.size());
    return (int)out.size();
}

int MultiByteToWideChar(UINT CodePage, DWORD, LPCCH lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar)
{
    if (Enter("MultiByteToWideChar", Str(lpMultiByteStr)))
        return 0;
    if (!lpMultiByteStr || cbMultiByte == 0 || cchWideChar < 0 || (cchWideChar > 0 && !lpWideCharStr))
        return Fail(ERROR_INVALID_PARAMETER);
    UINT codePage = (CodePage == CP_ACP || CodePage == 1 || CodePage == 3) ? M().codePage : CodePage;
    if (codePage != 1252 && codePage != 932)
        return Fail(ERROR_INVALID_PARAMETER);
    std::string text = cbMultiByte < 0 ? std::string(lpMultiByteStr, std::strlen(lpMultiByteStr) + 1)
                                       : std::string(lpMultiByteStr, (size_t)cbMultiByte);
    std::wstring out = Widen(text, codePage);
    if (cchWideChar == 0)
        return (int)out.size();
    if (out.size() > (size_t)cchWideChar) {
        std::wmemcpy(lpWideCharStr, out.data(), (size_t)cchWideChar);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::wmemcpy(lpWideCharStr, out.data(), out.size());
    return (int)out.size();
}

BOOL IsDBCSLeadByte(BYTE TestChar) { return IsLead(TestChar) ? TRUE : FALSE; }

void Sleep(DWORD dwMilliseconds)
{
    Enter("Sleep", std::to_string(dwMilliseconds));
    M().clock += dwMilliseconds;
}

DWORD GetTickCount(void) { return (DWORD)M().clock; }

void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime)
{
    Enter("GetSystemTimeAsFileTime", "");
    const ULONGLONG kNewYear2026 = 134116992000000000ull;  // 100 ns since 1601
    ULONGLONG now = kNewYear2026 + M().clock * 10000;
    lpSystemTimeAsFileTime->dwLowDateTime = (DWORD)now;
    lpSystemTimeAsFileTime->dwHighDateTime = (DWORD)(now >> 32);
}

void fake::AdvanceClock(ULONGLONG milliseconds) { M().clock += milliseconds; }

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    if (Enter("MessageBoxA", Str(lpText)))
        return 0;
    MessageBoxRecord rec{hWnd, std::nullopt, std::nullopt, uType};
    if (lpText)
        rec.text = lpText;
    if (lpCaption)
        rec.caption = lpCaption;
    M().messageBoxes.push_back(rec);
    return IDOK;
}

int _mbsicmp(const unsigned char* string1, const unsigned char* string2)
{
    Enter("_mbsicmp", Str((const char*)string1) + " | " + Str((const char*)string2));
    return CompareMultibyte(string1, string2, true);
}

int _mbscmp(const unsigned char* string1, const unsigned char* string2)
{
    Enter("_mbscmp", Str((const char*)string1) + " | " + Str((const char*)string2));
    return CompareMultibyte(string1, string2, false);
}

