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

static CString Decimal(ULONGLONG value)
{
    char digits[21];
    int first = 20;
    digits[first] = '\0';
    do {
        digits[--first] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return CString(digits + first);
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

// Lists a folder once, links to folders left out: they are never followed.
// FALSE when the folder cannot be listed to its end.
BOOL CLauncherApp::ListFolder(const CString& folder, CFolderListing& listing)
{
    listing.names.clear();
    listing.files.clear();
    listing.subfolders.clear();
    CFileFind finder;
    BOOL more = finder.FindFile(folder + "\\*");
    if (!more)
        return FALSE;
    while (more) {
        more = finder.FindNextFile();
        BOOL isFolder = finder.IsDirectory();
        if (isFolder && (finder.IsDots() || finder.MatchesMask(FILE_ATTRIBUTE_REPARSE_POINT)))
            continue;
        CFolderListing::Entry entry = {listing.names.size(), finder.GetLength64()};
        listing.names += finder.GetFileNameText();
        listing.names += '\0';
        (isFolder ? listing.subfolders : listing.files).push_back(entry);
    }
    SortByName(listing, listing.files);
    SortByName(listing, listing.subfolders);
    // A listing that stops on an error (a damaged folder) is not the folder.
    return finder.GetListError() == 0;
}

// Adds the files below `folder` to the record, each folder's files before its
// subfolders, so that a check lists every folder once.
BOOL CLauncherApp::AddFolderToRecord(const CString& folder, const CString& relative, CString& record)
{
    CFolderListing listing;
    if (!ListFolder(folder, listing))
        return FALSE;
    for (const CFolderListing::Entry& file : listing.files)
        record += Decimal(file.size) + "\t" + relative + listing.Name(file) + "\r\n";
    for (const CFolderListing::Entry& subfolder : listing.subfolders) {
        CString name = listing.Name(subfolder);
        if (!AddFolderToRecord(folder + "\\" + name, relative + name + "\\", record))
            return FALSE;
    }
    return TRUE;
}

// Writes the record of a whole copy into its folder.
BOOL CLauncherApp::WriteCopyRecord(const CString& copyFolder)
{
    CString record = COPY_RECORD_FORMAT + Decimal(COPY_RECORD_VERSION) + "\r\n";
    return AddFolderToRecord(copyFolder, "", record) && WriteSmallFile(copyFolder + COPY_RECORD, record);
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

// Whether a copy still holds every file its record lists, each with its
// size. Files added since (a Thumbs.db, what the viewer wrote) do not count.
// A copy without a record (made by a launcher on an older disc) and one whose
// record is of a format this launcher does not know pass: the stamp alone
// judges them. A record that cannot be read, or is not one, fails. The record
// is taken apart in place, a line at a time, and each folder's lines are
// matched against its listing in one pass, both being in name order: a launch
// pays for this check with every copy it starts, so it costs little more than
// the listings. A record out of that order is none this launcher wrote: it
// fails.
BOOL CLauncherApp::MatchesCopyRecord(const CString& copyFolder)
{
    CString text;
    DWORD error = ReadSmallFile(copyFolder + COPY_RECORD, text);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return TRUE;
    int length = text.GetLength();
    if (error != 0)
        return FALSE;
    int formatLength = static_cast<int>(strlen(COPY_RECORD_FORMAT));
    if (length < formatLength || strncmp(text, COPY_RECORD_FORMAT, static_cast<size_t>(formatLength)) != 0)
        return FALSE;

    // Which bytes begin a double-byte character: a '\\' after one is its second byte.
    bool lead[256];
    for (int b = 0; b < 256; b++)
        lead[b] = b >= 0x80 && IsDBCSLeadByte(static_cast<BYTE>(b));

    LPSTR all = text.GetBuffer(length);
    CString listed;  // the folder that `listing` lists
    CFolderListing listing;
    BOOL haveListing = FALSE;
    size_t unmatched = 0;  // the first file of the listing that no line has matched yet
    int lines = 0;
    for (int start = 0; start < length;) {
        int end = start;
        for (; end < length && all[end] != '\n'; end++) {
            if (all[end] == '\0')
                return FALSE;  // a NUL byte: no record this launcher wrote
        }
        int next = end < length ? end + 1 : end;
        if (end > start && all[end - 1] == '\r')
            end--;
        all[end] = '\0';
        LPSTR line = all + start;
        start = next;

        if (lines++ == 0) {
            ULONGLONG version = 0;
            if (!ParseDecimal(line + formatLength, version))
                return FALSE;
            if (version != COPY_RECORD_VERSION)
                return TRUE;  // a later launcher's format: no record to this one
            continue;
        }

        // "<size>\t<path>": no byte of a double-byte character is a tab.
        LPSTR tab = line;
        while (*tab != '\0' && *tab != '\t')
            tab++;
        ULONGLONG size = 0;
        if (*tab == '\0')
            return FALSE;
        *tab = '\0';
        if (!ParseDecimal(line, size))
            return FALSE;
        // The path stays below the copy folder: no drive, no empty, "." or ".." part.
        // A line of the folder listed last checks only what follows that folder,
        // which an earlier line has passed.
        LPSTR path = tab + 1;
        LPSTR lastSlash = NULL;
        int listedLength = listed.GetLength();
        if (haveListing && listedLength > 0 && strncmp(path, listed, static_cast<size_t>(listedLength)) == 0 &&
            path[listedLength] == '\\')
            lastSlash = path + listedLength;
        LPSTR inListed = lastSlash;
        for (LPSTR part = lastSlash != NULL ? lastSlash + 1 : path;;) {
            LPSTR at = part;
            while (*at != '\0' && *at != '\\' && *at != ':')
                at += lead[static_cast<BYTE>(*at)] && at[1] != '\0' ? 2 : 1;
            int partLength = static_cast<int>(at - part);
            bool dots = part[0] == '.' && (partLength == 1 || (partLength == 2 && part[1] == '.'));
            if (*at == ':' || partLength == 0 || dots)
                return FALSE;
            if (*at == '\0')
                break;
            lastSlash = at;
            part = at + 1;
        }
        LPCSTR name = path;
        LPCSTR folder = "";
        if (lastSlash != NULL) {
            *lastSlash = '\0';
            folder = path;
            name = lastSlash + 1;
        }
        bool inListedFolder = lastSlash != NULL && lastSlash == inListed;
        if (!haveListing || (!inListedFolder && CompareNames(folder, listed) != 0)) {
            if (!ListFolder(*folder ? copyFolder + "\\" + folder : copyFolder, listing))
                return FALSE;
            listed = folder;
            haveListing = TRUE;
            unmatched = 0;
        }
        const TArray<CFolderListing::Entry>& files = listing.files;
        int order = -1;
        while (unmatched < files.size() && (order = CompareNames(listing.Name(files[unmatched]), name)) < 0)
            unmatched++;
        if (order != 0 || files[unmatched].size != size)
            return FALSE;
        unmatched++;
    }
    return lines > 1;  // a copy always holds files
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
    WriteSmallFile(m_strCopyTarget + FAILED_SUFFIX, m_strMediaVersion + "\r\n" + Decimal(Now()) + "\r\n");
}

void CLauncherApp::ForgetInstallFailure(const CString& copyFolder)
{
    CString memory = copyFolder + FAILED_SUFFIX;
    if (GetFileAttributesA(memory) != INVALID_FILE_ATTRIBUTES)
        DeleteFileA(memory);
}
