/* Holds a file open without sharing, as a program that locks it would.
 *
 *   holdopen.exe <file> <ready file> <milliseconds>
 *
 * Opens <file> for reading with share mode 0, then creates <ready file> so the
 * caller knows the lock is in place, and keeps the handle until the time is
 * up or the process is ended. Exits 1 when the file cannot be opened. */
#include <windows.h>
#include <stdlib.h>

int main(int argc, char **argv)
{
    HANDLE h, ready;

    if (argc != 4)
        return 2;
    h = CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    ready = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (ready != INVALID_HANDLE_VALUE)
        CloseHandle(ready);
    Sleep(strtoul(argv[3], NULL, 10));
    CloseHandle(h);
    return 0;
}
