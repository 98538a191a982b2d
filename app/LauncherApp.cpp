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
        if (count > 1)
            command = args[1];
        LocalFree(args);
    }

    // No argument, /LAUNCH and any word not listed here launch.
    const unsigned char* word = MbText(command);
    if (_mbsicmp(word, MbText("/REPAIR")) == 0)
        RunRepair();
    else if (_mbsicmp(word, MbText("/HELP")) == 0 || _mbsicmp(word, MbText("/?")) == 0)
        ShowCommands();
    else if (_mbsicmp(word, MbText("/DELETE")) == 0)
        RunDelete();
    else if (_mbsicmp(word, MbText("-REGSERVER")) != 0)  // registration is not ours to do
        RunLaunchSafely();
    return FALSE;
}

// Whatever is thrown before the viewer has started (the launch starts it
// last), it still starts: from the up-to-date copy found, else the medium.
// An installation cut short leaves only leftovers that the next launch clears.
void CLauncherApp::RunLaunchSafely()
{
    try {
        RunLaunch();
    } catch (...) {
        try {
            LaunchBestCopy();
        } catch (...) {
            // nothing left to start the viewer with
        }
    }
}

void CLauncherApp::ShowCommands()
{
    MessageBoxA(NULL,
        "/LAUNCH, or no parameter - default, will launch optimal Advanced Viewer copy\n\n"
        "/DELETE - will try to delete all possible Advanced Viewer copies from cache\n\n"
        "/REPAIR - DELETE, than try to put Advanced Viewer from current media to cache, and LAUNCH",
        "Available commands:", MB_OK);
}

// The launcher's own path, read in full however long it is (the system's
// limit is 32,767 characters): a cut path would put the medium's root
// somewhere else entirely. Empty when it cannot be read.
CWideText CLauncherApp::GetOwnPath()
{
    CWideText path(32768, L'\0');
    DWORD length = GetModuleFileNameW(NULL, &path[0], 32768);
    if (length == 0 || length >= 32768)  // a path that was cut fills the whole buffer
        return CWideText();
    path.resize(length);
    return path;
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

// The path up to, and not including, its last backslash; empty without one.
static CWideText ParentFolder(const CWideText& path)
{
    size_t last = path.rfind(L'\\');
    return last == CWideText::npos ? CWideText() : path.substr(0, last);
}

// The root of the volume that holds a path, as GetDriveTypeA takes it: "E:\",
// or "\\server\share\" for a network share, whose path has no colon.
static CString VolumeRoot(const CString& path)
{
    if (strncmp(path, "\\\\", 2) != 0)
        return path.Left(path.Find(':') + 1) + "\\";
    int share = path.Find('\\', 2);
    int end = share < 0 ? -1 : path.Find('\\', share + 1);
    return (end < 0 ? path : path.Left(end)) + "\\";
}

// FALSE when the medium is best started as it is, without looking for
// copies: on a fixed drive, where it is as fast as any copy, or in a folder
// whose path the ANSI code page cannot hold (no ANSI path to a copy could be
// built from it; its ANSI root is then empty).
BOOL CLauncherApp::LocateMedia()
{
    // Worked out on the wide path, where no double-byte character can pass
    // for a backslash, and converted after.
    CWideText launcherFolder = ParentFolder(GetOwnPath());
    m_wstrMediaRoot = ParentFolder(ParentFolder(launcherFolder));
    CString folder = ToAnsiPath(launcherFolder);
    m_strMediaRoot = folder.IsEmpty() ? CString() : ToAnsiPath(m_wstrMediaRoot);
    m_strCopySource = m_strMediaRoot;
    m_strMediaVersion.Empty();
    if (folder.IsEmpty())
        return FALSE;
    m_strMediaVersion = ReadVersionStamp(folder + "\\Version*.txt");

    switch (GetDriveTypeA(VolumeRoot(folder))) {
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
    FindClose(search);  // only the first match counts

    CString path = pattern.Left(pattern.ReverseFind('\\') + 1) + found.cFileName;
    LPSTR buffer = text.GetBuffer(261);
    DWORD bytesRead = 0;
    // Read sharing: two launchers (autorun and a double-click) or a scanner
    // reading the same stamp at once must not make each other's read fail.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        if (!ReadFile(file, buffer, 260, &bytesRead, NULL))
            bytesRead = 0;
        CloseHandle(file);
    }
    // The stamp ends at its first NUL (a stamp saved as UTF-16 holds many),
    // for its readers and for the comparison alike.
    buffer[bytesRead] = '\0';
    text.ReleaseBuffer(-1);
    text.TrimLeft(" .\n\r\t");
    text.TrimRight(" .\n\r\t");
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
    // When a copy's viewer cannot be started after all (quarantined by a
    // virus scanner) the medium still has one.
    BOOL started = !copy.IsEmpty() && StartViewer(copy);
    ReleaseHeldCopy();
    if (!started)
        StartViewer(m_strMediaRoot);
}

// The start-up record of the viewer: its window shown, whatever the launcher
// itself was asked for, and nothing else of the launcher's own record, whose
// cbReserved2 and lpReserved2 carry the runtime's list of handles the launcher
// inherited (the viewer inherits none).
template <typename StartupInfo> static StartupInfo ViewerStartup()
{
    StartupInfo startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    return startup;
}

// Starts the viewer of a copy folder, or of the medium, with the medium's root as its data.
BOOL CLauncherApp::StartViewer(CString folder)
{
    CString workingDir = folder + "\\VIEWER\\bin";
    CString commandLine = "\"" + workingDir + "\\KiroZelvo.exe\" data=" + m_strMediaRoot + "\\";
    STARTUPINFOA startup = ViewerStartup<STARTUPINFOA>();
    PROCESS_INFORMATION process = {};
    // The viewer runs on by itself: its handles go when this process ends.
    return CreateProcessA(NULL, commandLine.GetBuffer(0), NULL, NULL, FALSE, 0, NULL, workingDir, &startup,
                          &process);
}

// Starts the viewer of the medium as it is, through the wide API: its path
// may lie outside the ANSI code page.
BOOL CLauncherApp::StartViewerWide(const CWideText& mediaRoot)
{
    CWideText workingDir = mediaRoot + L"\\VIEWER\\bin";
    CWideText commandLine = L"\"" + workingDir + L"\\KiroZelvo.exe\" data=" + mediaRoot + L"\\";
    STARTUPINFOW startup = ViewerStartup<STARTUPINFOW>();
    PROCESS_INFORMATION process = {};
    return CreateProcessW(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, workingDir.c_str(), &startup,
                          &process);
}
