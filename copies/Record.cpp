// The record a copy carries of what it held when it was installed, and the
// check of a copy against it. Temp cleaners and virus scanners take files out
// of a copy long after it was installed and leave the stamp: the stamp alone
// cannot tell such a copy from a whole one.
#include "app/LauncherApp.h"

#include <algorithm>
#include <cstring>

// Byte order, as strcmp gives it, without a call into the runtime for each
// pair: a launch compares the names of every folder of its copy.
static int CompareNames(LPCSTR a, LPCSTR b)
{
    while (*a != '\0' && *a == *b) {
        a++;
        b++;
    }
    return static_cast<unsigned char>(*a) - static_cast<unsigned char>(*b);
}

static void SortByName(const CFolderListing& listing, TArray<CFolderListing::Entry>& entries)
{
    auto byName = [&listing](const CFolderListing::Entry& a, const CFolderListing::Entry& b) {
        return CompareNames(listing.Name(a), listing.Name(b)) < 0;
    };
    // File systems mostly list a folder in name order already: then nothing moves.
    if (!std::is_sorted(entries.begin(), entries.end(), byName))
        std::sort(entries.begin(), entries.end(), byName);
}

// The decimal digits of a number, written backwards from the end of
// `digits`, with no string made for it: a walk writes one for every file.
static LPCSTR FormatDecimal(char (&digits)[21], ULONGLONG value)
{
    int first = 20;
    digits[first] = '\0';
    do {
        digits[--first] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return digits + first;
}

static void AppendDecimal(CString& text, ULONGLONG value)
{
    char digits[21];
    text += FormatDecimal(digits, value);
}

// Reads "<digits>" in full into value; FALSE on anything else or an overflow.
// No division: a 32-bit exe divides 64-bit numbers in a runtime call, and a
// record has a number on every line.
static BOOL ParseDecimal(LPCSTR text, ULONGLONG& value)
{
    const ULONGLONG MAX_TENTH = ~0ull / 10;
    const unsigned MAX_LAST = static_cast<unsigned>(~0ull % 10);
    value = 0;
    int count = 0;
    for (; text[count] != '\0'; count++) {
        unsigned digit = static_cast<unsigned>(text[count] - '0');
        if (digit > 9 || value > MAX_TENTH || (value == MAX_TENTH && digit > MAX_LAST))
            return FALSE;
        value = value * 10 + digit;
    }
    return count > 0;
}

// Moves `at` past `part` where the text from `at` begins with it.
static BOOL SkipPart(LPCSTR& at, LPCSTR end, LPCSTR part)
{
    size_t length = strlen(part);
    if (static_cast<size_t>(end - at) < length || memcmp(at, part, length) != 0)
        return FALSE;
    at += length;
    return TRUE;
}

static void AddFileToTally(CCopyTally& tally, ULONGLONG size, LPCSTR relative, LPCSTR name)
{
    char digits[21];
    if (tally.record != NULL) {
        LPCSTR at = tally.record, end = tally.recordEnd;
        if (SkipPart(at, end, FormatDecimal(digits, size)) && SkipPart(at, end, "\t") &&
            SkipPart(at, end, relative) && SkipPart(at, end, name) && SkipPart(at, end, "\r\n"))
            tally.record = at;
        return;
    }
    tally.sizes.push_back(size);
    tally.lines += FormatDecimal(digits, size);
    tally.lines += '\t';
    tally.lines += relative;
    tally.lines += name;
    tally.lines += "\r\n";
}

// Lists a folder once, with the one rule for every walk: FALSE when the
// folder cannot be listed to its end, for a listing cut short (a damaged
// folder) is not the folder.
BOOL CLauncherApp::ListFolder(const CString& folder, CFolderListing& listing)
{
    CFileFind finder;
    BOOL more = finder.FindFile(folder + "\\*");
    if (!more)
        return FALSE;
    while (more) {
        more = finder.FindNextFile();
        if (finder.IsDots())
            continue;
        CFolderListing::Entry entry = {listing.names.size(), finder.GetLength64()};
        listing.names += finder.GetFileNameText();
        listing.names += '\0';
        if (!finder.IsDirectory())
            listing.files.push_back(entry);
        else
            (finder.MatchesMask(FILE_ATTRIBUTE_REPARSE_POINT) ? listing.links : listing.subfolders).push_back(entry);
    }
    SortByName(listing, listing.files);
    SortByName(listing, listing.subfolders);
    return finder.GetListError() == 0;
}

// The one walk of a folder tree: every folder listed once, each folder's
// files before its subfolders. `relative` is the path of `folder` below the
// top of the walk ("" or ending in a backslash). FALSE as soon as a folder
// cannot be listed to its end.
BOOL CLauncherApp::WalkFolder(const CString& folder, const CString& relative, CCopyTally& tally)
{
    CFolderListing listing;
    if (!ListFolder(folder, listing))
        return FALSE;
    for (const CFolderListing::Entry& file : listing.files)
        AddFileToTally(tally, file.size, relative, listing.Name(file));
    // A link may lead anywhere, even back into this tree: never followed.
    for (const CFolderListing::Entry& link : listing.links) {
        if (!tally.removeLinks || !RemoveDirectoryA(folder + "\\" + listing.Name(link)))
            tally.links++;
    }
    for (const CFolderListing::Entry& subfolder : listing.subfolders) {
        CString name = listing.Name(subfolder);
        if (!WalkFolder(folder + "\\" + name, relative + name + "\\", tally))
            return FALSE;
    }
    return TRUE;
}

// What an installation takes from a copy's root, or put there: the companion,
// looked for first, then the VIEWER tree, and the companion's line last, as
// a walk of a new copy gives it. FALSE when either cannot be read in full, or
// a link to a folder lies in the tree: the shell would copy through it.
BOOL CLauncherApp::CountCopy(const CString& root, CCopyTally& tally)
{
    CFileFind companion;
    if (!companion.FindFile(root + "\\kiro\\KiroPageHolder.exe") || !WalkFolder(root + "\\VIEWER", "VIEWER\\", tally))
        return FALSE;
    companion.FindNextFile();
    AddFileToTally(tally, companion.GetLength64(), "kiro\\", "KiroPageHolder.exe");
    return tally.links == 0;
}

// Writes the record of a whole copy into its folder: the lines of a walk of it.
BOOL CLauncherApp::WriteCopyRecord(const CString& copyFolder, const CString& lines)
{
    CString record = COPY_RECORD_FORMAT;
    AppendDecimal(record, COPY_RECORD_VERSION);
    return WriteSmallFile(copyFolder + COPY_RECORD, record + "\r\n" + lines);
}

// Writes a small file of the launcher's own in full; a file cut short goes again.
BOOL CLauncherApp::WriteSmallFile(const CString& path, const CString& text)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD written = 0;
    BOOL wrote = WriteFile(file, static_cast<LPCSTR>(text), static_cast<DWORD>(text.GetLength()), &written, NULL) &&
                 written == static_cast<DWORD>(text.GetLength());
    if (!CloseHandle(file))
        wrote = FALSE;
    if (!wrote)
        DeleteFileA(path);
    return wrote;
}

// Reads a small file of the launcher's own in full. 0, or the error that
// stopped the read.
DWORD CLauncherApp::ReadSmallFile(const CString& path, CString& text)
{
    // A record of tens of thousands of files is a few megabytes; more is no file of ours.
    const int MAX_SIZE = 64 << 20;
    const int CHUNK = 64 << 10;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() != 0 ? GetLastError() : ERROR_ACCESS_DENIED;
    DWORD error = 0;
    int length = 0;
    // Room for the whole file at once: a record grown a chunk at a time is
    // copied into new memory again and again.
    DWORD sizeHigh = 0;
    DWORD size = GetFileSize(file, &sizeHigh);
    bool sizeKnown = size != INVALID_FILE_SIZE && sizeHigh == 0 && size < static_cast<DWORD>(MAX_SIZE);
    int room = sizeKnown ? static_cast<int>(size) + 1 : CHUNK;
    try {
        for (;;) {
            DWORD got = 0;
            if (room == length)
                room += CHUNK;
            LPSTR buffer = text.GetBuffer(room);
            if (!ReadFile(file, buffer + length, static_cast<DWORD>(room - length), &got, NULL)) {
                error = GetLastError() != 0 ? GetLastError() : ERROR_READ_FAULT;
                break;
            }
            length += static_cast<int>(got);
            if (got == 0)
                break;
            if (length > MAX_SIZE) {
                error = ERROR_FILE_TOO_LARGE;
                break;
            }
        }
        text.ReleaseBuffer(length);
    } catch (...) {
        CloseHandle(file);
        throw;
    }
    CloseHandle(file);
    return error;
}

static LPCSTR NextLine(LPCSTR line, LPCSTR end)
{
    while (line < end && *line++ != '\n') {
    }
    return line;
}

// Whether a copy still holds every file its record lists, each with its
// size. Files added since (a Thumbs.db, what the viewer wrote) do not count.
// A copy without a record (made by a launcher on an older disc) and one whose
// record is of a format this launcher does not know pass: the stamp alone
// judges them. A record that cannot be read, or is not one, fails. The copy
// is walked once, as its record was written, and each line of the record
// must be one of the walk's, in the walk's order: a record out of that
// order, or with a path no walk gives ("..", "/"), is none this launcher
// wrote, and no path of it is ever looked up.
BOOL CLauncherApp::MatchesCopyRecord(const CString& copyFolder)
{
    CString record;
    DWORD error = ReadSmallFile(copyFolder + COPY_RECORD, record);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return TRUE;
    LPCSTR end = static_cast<LPCSTR>(record) + record.GetLength();
    LPCSTR line = NextLine(record, end);  // after the format line
    int formatLength = static_cast<int>(strlen(COPY_RECORD_FORMAT));
    int headerLength = static_cast<int>(line - static_cast<LPCSTR>(record));
    if (error != 0 || headerLength < formatLength + 3 || strncmp(record, COPY_RECORD_FORMAT, formatLength) != 0 ||
        record[headerLength - 2] != '\r')
        return FALSE;
    CString header = record.Left(headerLength - 2);
    ULONGLONG version = 0;
    if (!ParseDecimal(static_cast<LPCSTR>(header) + formatLength, version))
        return FALSE;
    if (version != COPY_RECORD_VERSION)
        return TRUE;  // a later launcher's format: no record to this one

    CCopyTally walk;
    walk.record = line;
    walk.recordEnd = end;
    if (line == end || !WalkFolder(copyFolder, "", walk))
        return FALSE;  // a copy always holds files
    return walk.record == end;
}

// ---- What failed lately

static ULONGLONG Now()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime) / 10000;  // milliseconds
}

// Whether installing into the copy target from a medium of this version
// failed within the last day. A clock set back makes the memory void.
BOOL CLauncherApp::IsInstallFailureRemembered()
{
    CString text;
    if (ReadSmallFile(m_strCopyTarget + FAILED_SUFFIX, text) != 0)
        return FALSE;
    int lineEnd = text.Find('\n');
    if (lineEnd < 1 || text[lineEnd - 1] != '\r')
        return FALSE;
    CString version = text.Left(lineEnd - 1);
    CString rest = static_cast<LPCSTR>(text) + lineEnd + 1;
    ULONGLONG when = 0, now = Now();
    if (!ParseDecimal(rest.Left(rest.Find('\r')), when) || strcmp(version, m_strMediaVersion) != 0)
        return FALSE;
    return now >= when && now - when < FAILURE_MEMORY;
}

void CLauncherApp::RememberInstallFailure()
{
    CString memory = m_strMediaVersion + "\r\n";
    AppendDecimal(memory, Now());
    WriteSmallFile(m_strCopyTarget + FAILED_SUFFIX, memory + "\r\n");
}

// TRUE once no memory of a failure is left beside the copy folder.
BOOL CLauncherApp::ForgetInstallFailure(const CString& copyFolder)
{
    CString memory = copyFolder + FAILED_SUFFIX;
    return GetFileAttributesA(memory) == INVALID_FILE_ATTRIBUTES || DeleteFileA(memory);
}
