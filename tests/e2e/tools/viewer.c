/* Stand-in for the image viewer KiroZelvo.exe.
 *
 * It writes down how it was started and exits at once. One record is appended
 * per start to the file named by ZELVO_VIEWER_LOG (inherited from the test's
 * starter through the launcher), else to C:\zelvo-e2e\viewer-runs.txt:
 *
 *   BEGIN
 *   exe=<own module path>
 *   cmd=<GetCommandLineA, verbatim>
 *   cwd=<GetCurrentDirectoryA, verbatim>
 *   flags=<STARTUPINFO dwFlags> show=<wShowWindow>
 *   wexe=, wcmd=, wcwd=<the same three read wide, as UTF-8>
 *   END
 *
 * The record is written with one WriteFile call on a file opened for append,
 * retried while another start holds it, so records never interleave. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR args, int show)
{
    char log[MAX_PATH] = "C:\\zelvo-e2e\\viewer-runs.txt";
    char exe[MAX_PATH + 1] = "";
    char cwd[MAX_PATH + 1] = "";
    static char rec[8192];
    static char wexe[4 * MAX_PATH], wcmd[4 * 4096], wcwd[4 * MAX_PATH];
    static WCHAR wide[4096];
    STARTUPINFOA si;
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD n, len;
    int tries;

    (void)inst; (void)prev; (void)args; (void)show;
    if (!GetEnvironmentVariableA("ZELVO_VIEWER_LOG", log, sizeof log)
        || strlen(log) >= sizeof log - 1) {
        strcpy(log, "C:\\zelvo-e2e\\viewer-runs.txt");
        CreateDirectoryA("C:\\zelvo-e2e", NULL);
    }

    /* ZELVO_VIEWER_SLEEP_MS keeps the stand-in alive a while, to check that
       the starter waits for the launcher's children too. */
    if (GetEnvironmentVariableA("ZELVO_VIEWER_SLEEP_MS", rec, 32))
        Sleep(strtoul(rec, NULL, 10));
    GetModuleFileNameA(NULL, exe, MAX_PATH);
    GetCurrentDirectoryA(sizeof cwd, cwd);
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    GetStartupInfoA(&si);

    /* Names outside the ANSI code page reach the viewer only wide. */
    GetModuleFileNameW(NULL, wide, MAX_PATH);
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, wexe, sizeof wexe, NULL, NULL);
    WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, wcmd, sizeof wcmd, NULL, NULL);
    GetCurrentDirectoryW(MAX_PATH, wide);
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, wcwd, sizeof wcwd, NULL, NULL);

    len = (DWORD)_snprintf(rec, sizeof rec - 1,
                           "BEGIN\r\nexe=%s\r\ncmd=%s\r\ncwd=%s\r\nflags=%lu show=%u\r\n"
                           "wexe=%s\r\nwcmd=%s\r\nwcwd=%s\r\nEND\r\n",
                           exe, GetCommandLineA(), cwd,
                           (unsigned long)si.dwFlags, (unsigned)si.wShowWindow, wexe, wcmd, wcwd);
    if ((int)len < 0)
        len = sizeof rec - 1;

    for (tries = 0; tries < 200; tries++) {
        h = CreateFileA(log, FILE_APPEND_DATA, 0, NULL, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, NULL);
        if (h != INVALID_HANDLE_VALUE)
            break;
        Sleep(10);
    }
    if (h == INVALID_HANDLE_VALUE)
        return 2;
    WriteFile(h, rec, len, &n, NULL);
    CloseHandle(h);
    return 0;
}
