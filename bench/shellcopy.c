/* The least a cold launch can do: copy the viewer onto the hard disk the way
 * an installation must, then start it and end.
 *
 *   shellcopy.exe <medium root> <copy folder>
 *
 * Copies <medium root>\VIEWER into the copy folder with one shell operation
 * (FO_COPY, the launcher's flags and progress title), copies the companion
 * kiro\KiroPageHolder.exe with CopyFileA, and starts the copy's viewer with
 * the launcher's command line, working folder and startup information. No
 * probing, space check, link check or staging: what is left of a cold
 * launch's time above this program's is the launcher's own. */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR args, int show)
{
    static char from[MAX_PATH + 2], to[MAX_PATH + 2], path[MAX_PATH], cmd[2 * MAX_PATH + 16],
        dir[MAX_PATH];
    SHFILEOPSTRUCTA op;
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    const char *root, *copy;

    (void)inst; (void)prev; (void)args; (void)show;
    if (__argc != 3)
        return 2;
    root = __argv[1];
    copy = __argv[2];

    if (!CreateDirectoryA(copy, NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
        return 3;
    /* Lists of names end with a second NUL: the buffers are zeroed. */
    snprintf(from, MAX_PATH, "%s\\VIEWER", root);
    snprintf(to, MAX_PATH, "%s", copy);
    ZeroMemory(&op, sizeof op);
    op.wFunc = FO_COPY;
    op.pFrom = from;
    op.pTo = to;
    op.fFlags = FOF_NOCONFIRMATION | FOF_SIMPLEPROGRESS | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
    op.lpszProgressTitle = "Copying Zelvo Disc Advanced Viewer files to HD. Please wait...";
    if (SHFileOperationA(&op) != 0 || op.fAnyOperationsAborted)
        return 4;

    snprintf(dir, sizeof dir, "%s\\kiro", copy);
    CreateDirectoryA(dir, NULL);
    snprintf(from, MAX_PATH, "%s\\kiro\\KiroPageHolder.exe", root);
    snprintf(path, sizeof path, "%s\\kiro\\KiroPageHolder.exe", copy);
    if (!CopyFileA(from, path, FALSE))
        return 5;

    snprintf(dir, sizeof dir, "%s\\VIEWER\\bin", copy);
    snprintf(cmd, sizeof cmd, "\"%s\\KiroZelvo.exe\" data=%s\\", dir, root);
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOW;
    if (!CreateProcessA(NULL, cmd, NULL, NULL, FALSE, 0, NULL, dir, &si, &pi))
        return 1;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}
