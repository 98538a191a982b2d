#include "platform/Afx.h"

#include <cstring>
#include <cwchar>

// ---------------------------------------------------------------- CString

CString& CString::operator=(LPCSTR text)
{
    m_text = text ? text : "";
    return *this;
}

CString& CString::operator=(LPCWSTR text)
{
    m_text.clear();
    if (text == NULL || *text == 0)
        return *this;
    int size = WideCharToMultiByte(CP_ACP, 0, text, -1, NULL, 0, NULL, NULL);
    if (size <= 1)
        return *this;
    TText<char> converted(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &converted[0], size, NULL, NULL);
    converted.resize(strlen(converted.c_str()));
    m_text.swap(converted);
    return *this;
}

template <typename Visit> void CString::ForEachChar(Visit visit) const
{
    size_t i = 0;
    while (i < m_text.size()) {
        size_t width = 1;
        if (IsDBCSLeadByte(static_cast<BYTE>(m_text[i])) && i + 1 < m_text.size())
            width = 2;
        visit(i, width);
        i += width;
    }
}

CString CString::Left(int count) const
{
    CString result;
    if (count > 0)
        result.m_text = m_text.substr(0, static_cast<size_t>(count));
    return result;
}

int CString::Find(char ch, int start) const
{
    int found = -1;
    ForEachChar([&](size_t at, size_t width) {
        if (found < 0 && width == 1 && m_text[at] == ch && static_cast<int>(at) >= start)
            found = static_cast<int>(at);
    });
    return found;
}

int CString::ReverseFind(char ch) const
{
    int found = -1;
    ForEachChar([&](size_t at, size_t width) {
        if (width == 1 && m_text[at] == ch)
            found = static_cast<int>(at);
    });
    return found;
}

CString& CString::TrimLeft(LPCSTR set)
{
    size_t keepFrom = m_text.size();
    bool trimming = true;
    ForEachChar([&](size_t at, size_t width) {
        if (!trimming)
            return;
        if (width == 1 && m_text[at] != '\0' && strchr(set, m_text[at]) != NULL)
            return;
        keepFrom = at;
        trimming = false;
    });
    m_text.erase(0, keepFrom);
    return *this;
}

CString& CString::TrimRight(LPCSTR set)
{
    size_t cutAt = m_text.size();  // start of the trailing run of characters in the set
    bool inRun = false;
    ForEachChar([&](size_t at, size_t width) {
        bool inSet = width == 1 && m_text[at] != '\0' && strchr(set, m_text[at]) != NULL;
        if (inSet && !inRun) {
            cutAt = at;
            inRun = true;
        } else if (!inSet) {
            inRun = false;
        }
    });
    if (inRun)
        m_text.erase(cutAt);
    return *this;
}

LPSTR CString::GetBuffer(int minLength)
{
    if (minLength > GetLength())
        m_text.resize(static_cast<size_t>(minLength), '\0');
    return &m_text[0];
}

void CString::ReleaseBuffer(int newLength)
{
    if (newLength < 0)
        newLength = static_cast<int>(strlen(m_text.c_str()));
    if (newLength > GetLength())
        throw std::exception();
    m_text.resize(static_cast<size_t>(newLength));
}

// -------------------------------------------------------------- CFileFind

BOOL CFileFind::FindFile(LPCSTR name)
{
    Close();
    m_dwListError = 0;
    m_hFind = FindFirstFileA(name, &m_next);
    if (m_hFind == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND)
            m_dwListError = error != 0 ? error : ERROR_READ_FAULT;
        return FALSE;
    }
    m_bGotNext = TRUE;
    CString pattern(name);
    m_strRoot = pattern.Left(pattern.ReverseFind('\\'));
    return TRUE;
}

BOOL CFileFind::FindNextFile()
{
    if (m_hFind == INVALID_HANDLE_VALUE || !m_bGotNext)
        return FALSE;
    m_found = m_next;
    m_bGotNext = ::FindNextFileA(m_hFind, &m_next);
    DWORD error = m_bGotNext ? 0 : GetLastError();
    if (!m_bGotNext && error != ERROR_NO_MORE_FILES)
        m_dwListError = error != 0 ? error : ERROR_READ_FAULT;
    return m_bGotNext;
}

void CFileFind::Close()
{
    if (m_hFind != INVALID_HANDLE_VALUE) {
        FindClose(m_hFind);
        m_hFind = INVALID_HANDLE_VALUE;
    }
    m_bGotNext = FALSE;
}

CString CFileFind::GetFilePath() const
{
    if (m_strRoot.IsEmpty())
        return CString(m_found.cFileName);
    return m_strRoot + "\\" + m_found.cFileName;
}

ULONGLONG CFileFind::GetLength64() const
{
    return (static_cast<ULONGLONG>(m_found.nFileSizeHigh) << 32) | m_found.nFileSizeLow;
}

BOOL CFileFind::IsDots() const
{
    return strcmp(m_found.cFileName, ".") == 0 || strcmp(m_found.cFileName, "..") == 0;
}

// ---------------------------------------------------------------- CMutex

BOOL CMutex::Create(LPCSTR name, LPSECURITY_ATTRIBUTES attributes)
{
    Close();
    m_hMutex = CreateMutexA(attributes, FALSE, name);
    return m_hMutex != NULL;
}

BOOL CMutex::Lock(DWORD timeout)
{
    if (m_hMutex == NULL)
        return FALSE;
    DWORD result = WaitForSingleObject(m_hMutex, timeout);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED)
        return FALSE;
    m_nLocks++;
    return TRUE;
}

void CMutex::Close()
{
    if (m_hMutex == NULL)
        return;
    for (; m_nLocks > 0; m_nLocks--)
        ReleaseMutex(m_hMutex);
    CloseHandle(m_hMutex);
    m_hMutex = NULL;
}

// ---------------------------------------------------------------- CWinApp

static CWinApp* g_pApp = NULL;

CWinApp::CWinApp(LPCSTR appName) : m_pszAppName(appName)
{
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = NULL;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return 0;
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

static bool IsBlank(wchar_t ch)
{
    return ch == L' ' || ch == L'\t';
}

LPWSTR* AfxCommandLineToArgvW(LPCWSTR commandLine, int* count)
{
    // Only where every splitting rule gives the same answer: a program name
    // that is quoted or has no blank, followed by a blank or nothing, and
    // arguments without a double quote or a control character, which are
    // simply the runs of non-blank characters. Anything else goes to the shell.
    const wchar_t* at = commandLine;
    if (at == NULL || *at == 0 || IsBlank(*at))
        return CommandLineToArgvW(commandLine, count);
    TArray<CWideText> args;
    if (*at == L'"') {
        const wchar_t* end = wcschr(at + 1, L'"');
        if (end == NULL || end == at + 1)
            return CommandLineToArgvW(commandLine, count);
        args.emplace_back(at + 1, end);
        at = end + 1;
    } else {
        const wchar_t* end = at;
        while (*end != 0 && !IsBlank(*end) && *end != L'"')
            end++;
        args.emplace_back(at, end);
        at = end;
    }
    if (*at != 0 && !IsBlank(*at))
        return CommandLineToArgvW(commandLine, count);
    for (const wchar_t* rest = at; *rest != 0; rest++)
        if (*rest == L'"' || (*rest < 0x20 && *rest != L'\t'))
            return CommandLineToArgvW(commandLine, count);
    for (;;) {
        while (IsBlank(*at))
            at++;
        if (*at == 0)
            break;
        const wchar_t* end = at;
        while (*end != 0 && !IsBlank(*end))
            end++;
        args.emplace_back(at, end);
        at = end;
    }

    // The shell's layout: the pointers, a NULL, then the texts.
    size_t pointers = (args.size() + 1) * sizeof(LPWSTR);
    size_t chars = 0;
    for (const CWideText& arg : args)
        chars += arg.size() + 1;
    LPWSTR* argv = static_cast<LPWSTR*>(LocalAlloc(LMEM_FIXED, pointers + chars * sizeof(wchar_t)));
    if (argv == NULL)
        return NULL;
    wchar_t* text = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(argv) + pointers);
    for (size_t i = 0; i < args.size(); i++) {
        argv[i] = text;
        memcpy(text, args[i].c_str(), (args[i].size() + 1) * sizeof(wchar_t));
        text += args[i].size() + 1;
    }
    argv[args.size()] = NULL;
    *count = static_cast<int>(args.size());
    return argv;
}

int AfxWinMain()
{
    CWinApp* app = AfxGetApp();
    if (app == NULL)
        return -1;
    // A windowless program: InitInstance does all the work, and with no main
    // window there is never a message loop to run.
    app->InitInstance();
    return app->ExitInstance();
}
