// Start-up, command dispatch, the medium's location and the viewer start.
#include "app/LauncherApp.h"

#include <cstring>

CLauncherApp::CLauncherApp()
    : CWinApp(NULL), m_bCopyAllowed(1), m_tallyCopySource(), m_hHeldCopy(NULL)
{
}

BOOL CLauncherApp::InitInstance()
{
    CString command;

    int count = 0;
    LPWSTR* args = AfxCommandLineToArgvW(GetCommandLineW(), &count);
    if (args != NULL) {
        CString program = args[0];
        if (_mbsicmp(MbText(program), MbText("-REGSERVER")) == 0) {
            LocalFree(args);
            return FALSE;
        }
        command.Empty();
        if (count > 1)
            command = args[1];
        LocalFree(args);
    }

    const unsigned char* word = MbText(command);
    if (command.IsEmpty())
        RunLaunch();
    else if (_mbsicmp(word, MbText("/REPAIR")) == 0)
        RunRepair();
    else if (_mbsicmp(word, MbText("/HELP")) == 0)
        ShowCommands();
    else if (_mbsicmp(word, MbText("/?")) == 0)
        ShowCommands();
    else if (_mbsicmp(word, MbText("/DELETE")) == 0)
        RunDelete();
    else if (_mbsicmp(word, MbText("-REGSERVER")) == 0)
        ;  // registration is not ours to do: nothing happens
    else
        RunLaunch();
    return FALSE;
}

int CLauncherApp::ExitInstance()
{
    return CWinApp::ExitInstance();
}

void CLauncherApp::ShowCommands()
{
    MessageBoxA(NULL,
        "/LAUNCH, or no parameter - default, will launch optimal Advanced Viewer copy\n\n"
        "/DELETE - will try to delete all possible Advanced Viewer copies from cache\n\n"
        "/REPAIR - DELETE, than try to put Advanced Viewer from current media to cache, and LAUNCH",
        "Available commands:", MB_OK);
}

// The launcher's own path, read in full however long it is: a cut path would
// put the medium's root somewhere else entirely. Empty when it cannot be read.
CWideText CLauncherApp::GetOwnPathWide()
{
    CWideText path;
    for (DWORD size = 1300; size <= 32768; size *= 2) {
        path.resize(size);
        DWORD length = GetModuleFileNameW(NULL, &path[0], size);
        if (length == 0)
            break;
        if (length < size) {  // a path that was cut fills the whole buffer
            path.resize(length);
            return path;
        }
    }
    return CWideText();
}

// The launcher's own path as ANSI text. Empty when it cannot be read, or when
// the ANSI code page cannot hold it.
CString CLauncherApp::GetOwnPath()
{
    CWideText wide = GetOwnPathWide();
    if (wide.empty())
        return CString();
    return ToAnsiPath(wide);
}

// A path as ANSI text; empty when the ANSI code page cannot hold it: Windows
// would give '?' or a look-alike letter in place of such a letter, and every
// path built on that text would lead somewhere else. The path holds only when
// it converts back unchanged.
CString CLauncherApp::ToAnsiPath(const CWideText& wide)
{
    CString path;
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, NULL, 0, NULL, NULL);
    if (bytes <= 0)
        return path;
    if (WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, path.GetBuffer(bytes), bytes, NULL, NULL) != bytes) {
        path.ReleaseBuffer(0);
        return path;
    }
    path.ReleaseBuffer(-1);

    CWideText back(wide.size() + 1, L'\0');
    int chars = MultiByteToWideChar(CP_ACP, 0, path, -1, &back[0], static_cast<int>(back.size()));
    if (chars != static_cast<int>(wide.size()) + 1 || back.compare(0, wide.size(), wide) != 0)
        path.Empty();
    return path;
}

BOOL CLauncherApp::LocateMedia()
{
    CString ownPath = GetOwnPath();
    CString launcherFolder = ownPath.Left(ownPath.ReverseFind('\\'));
    m_strMediaVersion = ReadVersionStamp(launcherFolder + "\\Version*.txt");
    CString viewerFolder = launcherFolder.Left(launcherFolder.ReverseFind('\\'));
    m_strMediaRoot = viewerFolder.Left(viewerFolder.ReverseFind('\\'));
    m_strCopySource = m_strMediaRoot;

    CString driveRoot = viewerFolder.Left(viewerFolder.ReverseFind(':') + 2);
    switch (GetDriveTypeA(driveRoot)) {
    case DRIVE_FIXED:
        return FALSE;
    case DRIVE_CDROM:
        return TRUE;
    default:
        m_bCopyAllowed = 0;
        return TRUE;
    }
}

CString CLauncherApp::ReadVersionStamp(CString pattern)
{
    CString text;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return text;

    HANDLE file = INVALID_HANDLE_VALUE;
    try {
        CString path = pattern.Left(pattern.ReverseFind('\\') + 1) + found.cFileName;
        // Read sharing: two launchers (autorun and a double-click) or a scanner
        // reading the same stamp at once must not make each other's read fail.
        file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD bytesRead = 0;
            LPSTR buffer = text.GetBuffer(261);
            if (!ReadFile(file, buffer, 260, &bytesRead, NULL))
                bytesRead = 0;
            text.ReleaseBuffer(static_cast<int>(bytesRead));
            text.TrimLeft(" .\n\r\t");
            text.TrimRight(" .\n\r\t");
            HANDLE opened = file;
            file = INVALID_HANDLE_VALUE;
            CloseHandle(opened);
        }
    } catch (...) {
        // The caller gets the failure; the handles stay ours to close.
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        FindClose(search);
        throw;
    }
    FindClose(search);
    return text;
}

void CLauncherApp::LaunchBestCopy()
{
    CString copy;
    if (!m_strSharedCopy.IsEmpty())
        copy = m_strSharedCopy;
    else if (!m_strTempCopy.IsEmpty())
        copy = m_strTempCopy;
    else if (!m_strProfileCopy.IsEmpty())
        copy = m_strProfileCopy;
    // A copy is judged by its stamp alone; when its viewer cannot be started
    // (quarantined by a virus scanner, damaged) the medium still has one.
    BOOL started = !copy.IsEmpty() && StartViewer(copy);
    ReleaseHeldCopy();
    if (!started)
        StartViewer(m_strMediaRoot);
}

BOOL CLauncherApp::StartViewer(CString folder)
{
    CString workingDir = folder + "\\VIEWER\\bin";
    CString commandLine = "\"" + workingDir + "\\KiroZelvo.exe\" data=" + m_strMediaRoot + "\\";

    STARTUPINFOA startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    GetStartupInfoA(&startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;

    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof(process));

    // The viewer runs on by itself: its handles go when this process ends.
    return CreateProcessA(NULL, commandLine.GetBuffer(commandLine.GetLength()), NULL, NULL, FALSE, 0, NULL,
                          workingDir, &startup, &process);
}

static CWideText UpToLastBackslash(const CWideText& path)
{
    size_t last = path.rfind(L'\\');
    return last == CWideText::npos ? CWideText() : path.substr(0, last);
}

// Starts the viewer from the medium through the wide API, for a medium whose
// path the ANSI code page cannot hold: the command line and working folder of
// a start from the medium, in full Unicode.
BOOL CLauncherApp::StartViewerWide()
{
    CWideText ownPath = GetOwnPathWide();
    if (ownPath.empty())
        return FALSE;
    CWideText mediaRoot = UpToLastBackslash(UpToLastBackslash(UpToLastBackslash(ownPath)));
    CWideText workingDir = mediaRoot + L"\\VIEWER\\bin";
    CWideText commandLine = L"\"" + workingDir + L"\\KiroZelvo.exe\" data=" + mediaRoot + L"\\";

    STARTUPINFOW startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;

    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof(process));
    return CreateProcessW(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, workingDir.c_str(), &startup,
                          &process);
}
