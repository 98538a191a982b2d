// The program's entry on Windows.
#include "platform/Afx.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // Multibyte comparisons (_mbsicmp, _mbscmp) follow the system's ANSI code
    // page, like the text of every path the launcher handles.
    _setmbcp(_MB_CP_ANSI);
    return AfxWinMain();
}
