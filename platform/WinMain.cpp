// The program's entry on Windows: a windowed program (linked with -mwindows),
// entered through main. The runtime's WinMain wrapper only works out WinMain's
// arguments, which the launcher never reads (its command comes from
// GetCommandLineW), and newer MinGW-w64 runtimes import _ismbblead to do it.
#include "platform/Afx.h"

int main()
{
    // Multibyte comparisons (_mbsicmp, _mbscmp) follow the system's ANSI code
    // page, like the text of every path the launcher handles.
    _setmbcp(_MB_CP_ANSI);
    return AfxWinMain();
}
