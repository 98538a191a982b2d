// A small stand-in for the application framework: CString, CStringArray,
// CFileFind and CWinApp, with only what the launcher uses.
#pragma once

#include "platform/Text.h"
#include "platform/Win32.h"

// ANSI (multibyte) text in the system's code page, copied on assignment.
// Searches and trims step over double-byte characters, so the trail byte of
// one (0x5C in code page 932) is never taken for a backslash.
class CString
{
public:
    CString() = default;
    CString(LPCSTR text) : m_text(text ? text : "") {}
    CString(LPCWSTR text) { *this = text; }

    CString& operator=(LPCSTR text);
    CString& operator=(LPCWSTR text);  // converts with the ANSI code page
    CString& operator+=(const CString& more) { m_text += more.m_text; return *this; }
    CString& operator+=(LPCSTR more) { m_text += more ? more : ""; return *this; }
    CString& operator+=(char ch) { m_text += ch; return *this; }

    friend CString operator+(const CString& a, const CString& b) { CString r(a); r += b; return r; }
    friend CString operator+(const CString& a, LPCSTR b) { CString r(a); r += b; return r; }
    friend CString operator+(LPCSTR a, const CString& b) { CString r(a); r += b; return r; }

    operator LPCSTR() const { return m_text.c_str(); }
    int GetLength() const { return static_cast<int>(m_text.size()); }
    BOOL IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    char GetAt(int index) const { return m_text.at(static_cast<size_t>(index)); }
    char operator[](int index) const { return GetAt(index); }

    CString Left(int count) const;
    int Find(char ch, int start = 0) const;
    int ReverseFind(char ch) const;
    CString& TrimLeft(LPCSTR set);
    CString& TrimRight(LPCSTR set);

    // The buffer holds at least minLength characters and a NUL after them.
    LPSTR GetBuffer(int minLength);
    // Ends the text at newLength, or at the first NUL when newLength is -1.
    // A length past the buffer throws: there is no text there to keep.
    void ReleaseBuffer(int newLength = -1);

private:
    // Byte index of each character's start, in order: the multibyte walk.
    template <typename Visit> void ForEachChar(Visit visit) const;

    TText<char> m_text;
};

// The runtime's multibyte comparisons (_mbsicmp, _mbscmp) take unsigned text.
inline const unsigned char* MbText(LPCSTR text)
{
    return reinterpret_cast<const unsigned char*>(text);
}

class CStringArray
{
public:
    INT_PTR GetSize() const { return static_cast<INT_PTR>(m_items.size()); }
    const CString& GetAt(INT_PTR index) const { return m_items.at(static_cast<size_t>(index)); }
    INT_PTR Add(const CString& item) { m_items.push_back(item); return GetSize() - 1; }
    void RemoveAll() { m_items.clear(); }

private:
    TArray<CString> m_items;
};

// Walks the entries of a folder search: FindFile starts it, each FindNextFile
// makes the next entry current and says whether another one follows.
class CFileFind
{
public:
    CFileFind() = default;
    ~CFileFind() { Close(); }
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;

    BOOL FindFile(LPCSTR name);
    BOOL FindNextFile();
    void Close();

    CString GetFileName() const { return m_found.cFileName; }
    // The same name, valid until the next FindNextFile: no copy made.
    LPCSTR GetFileNameText() const { return m_found.cFileName; }
    CString GetFilePath() const;
    ULONGLONG GetLength64() const;
    BOOL IsDots() const;
    BOOL MatchesMask(DWORD mask) const { return (m_found.dwFileAttributes & mask) != 0; }
    BOOL IsDirectory() const { return MatchesMask(FILE_ATTRIBUTE_DIRECTORY); }
    // 0 when the listing ran to its end (or found nothing to list), else the
    // error that cut it short: a listing that fails part way is not the folder.
    DWORD GetListError() const { return m_dwListError; }

private:
    HANDLE m_hFind = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA m_found = {};
    WIN32_FIND_DATAA m_next = {};
    BOOL m_bGotNext = FALSE;
    DWORD m_dwListError = 0;
    CString m_strRoot;
};

// A named mutex held for as long as the object lives (the framework's CMutex
// and CSingleLock in one). A mutex whose holder ended without releasing it
// (killed, crashed) is taken over: Windows hands it on as abandoned.
class CMutex
{
public:
    CMutex() = default;
    ~CMutex() { Close(); }
    CMutex(const CMutex&) = delete;
    CMutex& operator=(const CMutex&) = delete;

    BOOL Create(LPCSTR name, LPSECURITY_ATTRIBUTES attributes);
    // TRUE once this thread holds the mutex, FALSE when it was not had within
    // the timeout (milliseconds) or cannot be waited for.
    BOOL Lock(DWORD timeout);
    void Close();

private:
    HANDLE m_hMutex = NULL;
    int m_nLocks = 0;
};

class CWinApp
{
public:
    explicit CWinApp(LPCSTR appName = NULL);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    virtual int ExitInstance();

    LPCSTR m_pszAppName;
};

CWinApp* AfxGetApp();

// CommandLineToArgvW's answer, in one block released with LocalFree. A plain
// command line is split here, so that a launch need not load the shell (and
// the user interface it brings along) just to read its command.
LPWSTR* AfxCommandLineToArgvW(LPCWSTR commandLine, int* count);

// The framework's entry: runs the one application object and gives the exit code.
int AfxWinMain();
