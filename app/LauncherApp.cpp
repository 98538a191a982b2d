// Start-up, command dispatch, the medium's location and the viewer start.
#include "app/LauncherApp.h"

#include <cstring>

CLauncherApp::CLauncherApp()
    : CWinApp(NULL), m_bCopyAllowed(1)
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
// put the medium's root somewhere else entirely.
CString CLauncherApp::GetOwnPath()
{
    CString path;
    DWORD size = 1300;
    for (;;) {
        DWORD length = GetModuleFileNameA(NULL, path.GetBuffer(static_cast<int>(size)), size);
        if (length == 0) {
            path.ReleaseBuffer(0);
            return path;
        }
        if (length < size) {  // a path that was cut fills the whole buffer
            path.ReleaseBuffer(static_cast<int>(length));
            return path;
        }
        if (size >= 32768) {  // longer than any Windows path: give up on it
            path.ReleaseBuffer(0);
            return path;
        }
        size *= 2;
    }
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
        file = CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
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
    CString folder = m_strMediaRoot;
    if (!m_strSharedCopy.IsEmpty())
        folder = m_strSharedCopy;
    else if (!m_strTempCopy.IsEmpty())
        folder = m_strTempCopy;
    else if (!m_strProfileCopy.IsEmpty())
        folder = m_strProfileCopy;
    StartViewer(folder);
}

void CLauncherApp::StartViewer(CString folder)
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
    CreateProcessA(NULL, commandLine.GetBuffer(commandLine.GetLength()), NULL, NULL, FALSE, 0, NULL,
                   workingDir, &startup, &process);
}
