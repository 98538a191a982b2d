// The record a copy carries of what it held when it was installed, and the
// check of a copy against it. Temp cleaners and virus scanners take files out
// of a copy long after it was installed and leave the stamp: the stamp alone
// cannot tell such a copy from a whole one.
#include "app/LauncherApp.h"

#include <algorithm>
#include <cstring>

static bool ByName(const CCopyFile& a, const CCopyFile& b)
{
    return strcmp(a.name, b.name) < 0;
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

// The `count` bytes at `text` as a string of their own.
static CString Slice(LPCSTR text, int count)
{
    CString slice;
    memcpy(slice.GetBuffer(count), text, static_cast<size_t>(count));
    slice.ReleaseBuffer(count);
    return slice;
}

// Reads "<digits>" in full into value; FALSE on anything else or an overflow.
static BOOL ParseDecimal(const CString& text, ULONGLONG& value)
{
    value = 0;
    if (text.IsEmpty() || text.GetLength() > 20)
        return FALSE;
    for (int i = 0; i < text.GetLength(); i++) {
        char c = text[i];
        if (c < '0' || c > '9')
            return FALSE;
        ULONGLONG next = value * 10 + static_cast<ULONGLONG>(c - '0');
        if (next / 10 != value)
            return FALSE;
        value = next;
    }
    return TRUE;
}

// A path below the copy folder: relative, and never leading out of it. The
// walk steps over double-byte characters, whose second byte may be a '\\'.
static BOOL IsPathInsideCopy(const CString& path)
{
    if (path.Find(':') >= 0)
        return FALSE;
    LPCSTR text = path;
    for (int start = 0;;) {
        int end = start;
        while (text[end] != '\0' && text[end] != '\\')
            end += IsDBCSLeadByte(static_cast<BYTE>(text[end])) && text[end + 1] != '\0' ? 2 : 1;
        int length = end - start;
        if (length == 0 || (text[start] == '.' && (length == 1 || (length == 2 && text[start + 1] == '.'))))
            return FALSE;
        if (text[end] == '\0')
            return TRUE;
        start = end + 1;
    }
}

// One listing of a folder: its files with their sizes and, when asked for,
// its subfolders (links left out: they are never followed), each sorted by
// name. FALSE when the folder cannot be listed to its end.
BOOL CLauncherApp::ListFolder(const CString& folder, std::vector<CCopyFile>& files, std::vector<CCopyFile>* subfolders)
{
    files.clear();
    if (subfolders)
        subfolders->clear();
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(folder + "\\*", &entry);
    if (search == INVALID_HANDLE_VALUE)
        return FALSE;
    BOOL more = TRUE;
    try {
        while (more) {
            CCopyFile found = {entry.cFileName,
                               (static_cast<ULONGLONG>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow};
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                files.push_back(found);
            else if (subfolders && strcmp(entry.cFileName, ".") != 0 && strcmp(entry.cFileName, "..") != 0 &&
                     !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                subfolders->push_back(found);
            more = FindNextFileA(search, &entry);
        }
    } catch (...) {
        FindClose(search);
        throw;
    }
    // A listing that stops on an error (a damaged folder) is not the folder.
    BOOL complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    std::sort(files.begin(), files.end(), ByName);
    if (subfolders)
        std::sort(subfolders->begin(), subfolders->end(), ByName);
    return complete;
}

// Adds the files below `folder` to the record, each folder's files before its
// subfolders, so that a check lists every folder once.
BOOL CLauncherApp::AddFolderToRecord(const CString& folder, const CString& relative, CString& record)
{
    std::vector<CCopyFile> files;
    std::vector<CCopyFile> subfolders;
    if (!ListFolder(folder, files, &subfolders))
        return FALSE;
    for (const CCopyFile& file : files)
        record += Decimal(file.size) + "\t" + relative + file.name + "\r\n";
    for (const CCopyFile& subfolder : subfolders) {
        if (!AddFolderToRecord(folder + "\\" + subfolder.name, relative + subfolder.name + "\\", record))
            return FALSE;
    }
    return TRUE;
}

// Writes the record of a whole copy into its folder.
BOOL CLauncherApp::WriteCopyRecord(const CString& copyFolder)
{
    CString record = COPY_RECORD_FORMAT + Decimal(COPY_RECORD_VERSION) + "\r\n";
    if (!AddFolderToRecord(copyFolder, "", record))
        return FALSE;

    CString path = copyFolder + COPY_RECORD;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD written = 0;
    BOOL wrote = WriteFile(file, static_cast<LPCSTR>(record), static_cast<DWORD>(record.GetLength()), &written,
                           NULL) && written == static_cast<DWORD>(record.GetLength());
    if (!CloseHandle(file))
        wrote = FALSE;
    if (!wrote)
        DeleteFileA(path);
    return wrote;
}

// The record's text, read in full. 0, or the error that stopped the read.
static DWORD ReadRecordText(const CString& path, CString& text)
{
    // A record of tens of thousands of files is a few megabytes; more is no record of ours.
    const int MAX_RECORD = 64 << 20;
    const int CHUNK = 64 << 10;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() != 0 ? GetLastError() : ERROR_ACCESS_DENIED;
    DWORD error = 0;
    int length = 0;
    try {
        for (;;) {
            DWORD got = 0;
            LPSTR buffer = text.GetBuffer(length + CHUNK);
            if (!ReadFile(file, buffer + length, CHUNK, &got, NULL)) {
                error = GetLastError() != 0 ? GetLastError() : ERROR_READ_FAULT;
                break;
            }
            length += static_cast<int>(got);
            if (got == 0)
                break;
            if (length > MAX_RECORD) {
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
// judges them. A record that cannot be read, or is not one, fails.
BOOL CLauncherApp::MatchesCopyRecord(const CString& copyFolder)
{
    CString text;
    DWORD error = ReadRecordText(copyFolder + COPY_RECORD, text);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return TRUE;
    if (error != 0 || (int)strlen(text) != text.GetLength())
        return FALSE;

    LPCSTR all = text;
    int length = text.GetLength();
    int formatLength = static_cast<int>(strlen(COPY_RECORD_FORMAT));
    if (length < formatLength || strncmp(all, COPY_RECORD_FORMAT, static_cast<size_t>(formatLength)) != 0)
        return FALSE;

    CString listed;  // the folder whose listing `files` holds
    std::vector<CCopyFile> files;
    BOOL haveListing = FALSE;
    int lines = 0;
    for (int start = 0; start < length;) {
        int lineEnd = start;
        while (lineEnd < length && all[lineEnd] != '\n')
            lineEnd++;
        int lineLength = lineEnd - start;
        int next = lineEnd < length ? lineEnd + 1 : length;
        if (lineLength > 0 && all[start + lineLength - 1] == '\r')
            lineLength--;
        CString line = Slice(all + start, lineLength);
        start = next;

        if (lines++ == 0) {
            ULONGLONG version = 0;
            if (!ParseDecimal(Slice(static_cast<LPCSTR>(line) + formatLength, lineLength - formatLength), version))
                return FALSE;
            if (version != COPY_RECORD_VERSION)
                return TRUE;  // a later launcher's format: no record to this one
            continue;
        }

        int tab = line.Find('\t');
        ULONGLONG size = 0;
        if (tab <= 0 || !ParseDecimal(line.Left(tab), size))
            return FALSE;
        CString path = static_cast<LPCSTR>(line) + tab + 1;
        if (!IsPathInsideCopy(path))
            return FALSE;
        int slash = path.ReverseFind('\\');
        CString folder = slash < 0 ? CString() : path.Left(slash);
        if (!haveListing || strcmp(folder, listed) != 0) {
            if (!ListFolder(folder.IsEmpty() ? copyFolder : copyFolder + "\\" + folder, files, NULL))
                return FALSE;
            listed = folder;
            haveListing = TRUE;
        }
        CCopyFile wanted = {static_cast<LPCSTR>(path) + slash + 1, size};
        auto found = std::lower_bound(files.begin(), files.end(), wanted, ByName);
        if (found == files.end() || strcmp(found->name, wanted.name) != 0 || found->size != size)
            return FALSE;
    }
    return lines > 1;  // a copy always holds files
}
