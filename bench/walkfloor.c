/* The least a warm launch can do once it must check its copy: list every
 * folder of the copy once, then start the viewer and end.
 *
 *   walkfloor.exe "<copy folder>" <viewer command line>
 *
 * Walks the copy folder and every folder below it with FindFirstFileA and
 * FindNextFileA, one listing per folder, no file opened. Then hands the rest
 * of the command line, verbatim, to CreateProcessA as the viewer's command
 * line, exactly as floor.exe does: the viewer inherits the current folder and
 * the launcher's startup information. Exits with the number of files seen, so
 * that the caller can tell the walk covered the copy; 0 when a folder could
 * not be listed or the viewer not started. Links to kernel32 only. */
#include <windows.h>
#include <string.h>

static char path[MAX_PATH];
static DWORD files;

/* Lists the folder in path (len characters) and every folder below it;
   0 when one cannot be listed. */
static int walk(size_t len)
{
    WIN32_FIND_DATAA fd;
    HANDLE h;
    int ok = 1;

    if (len + 3 > sizeof path)
        return 0;
    memcpy(path + len, "\\*", 3);
    h = FindFirstFileA(path, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    do {
        size_t n = strlen(fd.cFileName);
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files++;
        else if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, "..")) {
            if (len + 1 + n >= sizeof path)
                ok = 0;
            else {
                path[len] = '\\';
                memcpy(path + len + 1, fd.cFileName, n + 1);
                ok = walk(len + 1 + n);
            }
        }
    } while (ok && FindNextFileA(h, &fd));
    FindClose(h);
    return ok;
}

int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR args, int show)
{
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    char *end;
    size_t len;

    (void)inst; (void)prev; (void)show;
    if (*args != '"' || !(end = strchr(args + 1, '"')))
        return 0;
    len = (size_t)(end - args - 1);
    if (len >= sizeof path)
        return 0;
    memcpy(path, args + 1, len);
    path[len] = 0;
    for (args = end + 1; *args == ' '; args++)
        ;
    if (!walk(len))
        return 0;

    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOW;
    ZeroMemory(&pi, sizeof pi);
    if (!CreateProcessA(NULL, args, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return 0;
    return (int)files;
}
