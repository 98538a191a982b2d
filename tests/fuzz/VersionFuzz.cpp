// Feeds arbitrary bytes to the version reader and comparison: no text may make
// them fail, misplace the cursor or give -1 for a number.
#include "app/LauncherApp.h"

#include <cstdint>
#include <cstdlib>
#include <string>

static CLauncherApp& App()
{
    static CLauncherApp app;
    return app;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The input is split at its first NUL into a candidate and a reference.
    std::string bytes(reinterpret_cast<const char*>(data), size);
    size_t split = bytes.find('\0');
    CString candidate = bytes.substr(0, split).c_str();
    CString reference = split == std::string::npos ? "" : bytes.substr(split + 1).c_str();

    for (const CString* text : {&candidate, &reference}) {
        int cursor = 0;
        int previous = -1;
        for (;;) {
            int number = App().NextVersionNumber(*text, cursor);
            if (cursor < 0 || cursor > text->GetLength() || cursor < previous)
                abort();
            if (number == -1) {
                if (cursor != text->GetLength())
                    abort();  // -1 only at the end of the text
                break;
            }
            if (number < 0 || cursor == previous)
                abort();  // every number moves the cursor on
            previous = cursor;
        }
    }

    BOOL forward = App().IsVersionAtLeast(candidate, reference);
    BOOL backward = App().IsVersionAtLeast(reference, candidate);
    if (!forward && !backward)
        abort();  // the order is total: one is always at least the other
    if (!App().IsVersionAtLeast(candidate, candidate))
        abort();
    return 0;
}
