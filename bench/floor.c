/* The least a launcher can do: start the viewer and end.
 *
 *   floor.exe <viewer command line>
 *
 * Everything after this program's own name is handed to CreateProcessA as
 * the viewer's command line, verbatim; the viewer inherits the current folder,
 * so the caller starts floor.exe in the viewer's folder. The startup
 * information is the launcher's: STARTF_USESHOWWINDOW with SW_SHOW. Links to
 * kernel32 only. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR args, int show)
{
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;

    (void)inst; (void)prev; (void)show;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOW;
    ZeroMemory(&pi, sizeof pi);
    if (!CreateProcessA(NULL, args, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return 1;
    return 0;
}
