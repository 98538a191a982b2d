// Version stamps: dot-separated numbers, compared number by number.
#include "app/LauncherApp.h"

#include <climits>

// Reads the number at the cursor and moves the cursor past the dot that ends
// it. Characters other than digits and dots are skipped, so "7b2" reads as 72.
// Returns -1, cursor unmoved, when the text has no further number.
int CLauncherApp::NextVersionNumber(const CString& text, int& cursor)
{
    int length = text.GetLength();
    if (cursor >= length)
        return -1;

    int value = 0;
    do {
        char ch = text.GetAt(cursor);
        if (ch == '.') {
            ++cursor;
            return value;
        }
        if (ch >= '0' && ch <= '9') {
            int digit = ch - '0';
            // A run of digits too long for an int stays at the largest value.
            value = value > (INT_MAX - digit) / 10 ? INT_MAX : value * 10 + digit;
        }
        ++cursor;
    } while (cursor < length);
    return value;
}

BOOL CLauncherApp::IsVersionAtLeast(const CString& candidate, const CString& reference)
{
    int candidateCursor = 0;
    int referenceCursor = 0;
    for (;;) {
        int mine = NextVersionNumber(candidate, candidateCursor);
        int theirs = NextVersionNumber(reference, referenceCursor);
        if (mine > theirs)
            return TRUE;
        if (mine < theirs)
            return FALSE;
        if (mine == -1)
            return TRUE;
    }
}
