// kernel32 files, folders and volumes on the fake disk.
#include "FakeState.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

using namespace fake;
using namespace fake::detail;

namespace {

std::string Two(const char* from, const char* to) { return Str(from) + " -> " + Str(to); }

HANDLE AsHandle(uintptr_t id) { return (HANDLE)id; }

FileOpen* OpenFile(HANDLE h)
{
    auto it = M().opens.find((uintptr_t)h);
    return (it == M().opens.end() || it->second.external) ? nullptr : &it->second;
}

Drive* CurrentDrive() { return FindDrive(M().currentDirectory.volume); }

// "E:" or "E:\": the volume functions take these as the drive's root.
bool IsDriveRootText(const std::string& s)
{
    return (s.size() == 2 || (s.size() == 3 && (s[2] == '\\' || s[2] == '/'))) && s[1] == ':' &&
           std::isalpha((unsigned char)s[0]);
}

Drive* DriveOfRootText(const std::string& s) { return FindDrive(std::string(1, s[0]) + ":"); }

bool EndsWithBackslash(const std::string& s)
{
    bool last = false;
    for (size_t i = 0; i < s.size();) {
        if (IsLead((unsigned char)s[i]) && i + 1 < s.size()) {
            last = false;
            i += 2;
        } else {
            last = s[i] == '\\' || s[i] == '/';
            ++i;
        }
    }
    return last;
}

WIN32_FIND_DATAA FindData(const std::string& name, const Node* node)
{
    WIN32_FIND_DATAA data;
    std::memset(&data, 0, sizeof data);
    data.dwFileAttributes = node ? Attributes(node) : FILE_ATTRIBUTE_DIRECTORY;
    if (node && !node->folder) {
        data.nFileSizeHigh = (DWORD)(node->Size() >> 32);
        data.nFileSizeLow = (DWORD)node->Size();
    }
    if (node && node->IsLink())
        data.dwReserved0 = IO_REPARSE_TAG_MOUNT_POINT;
    std::strncpy(data.cFileName, name.c_str(), MAX_PATH - 1);
    return data;
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE)
{
    if (Enter("CreateFileA", Str(lpFileName)))
        return INVALID_HANDLE_VALUE;
    Path p;
    DWORD error = 0;
    if (!ParsePath(lpFileName, p, error))
        return Fail(error), INVALID_HANDLE_VALUE;
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING ||
        (dwCreationDisposition == TRUNCATE_EXISTING && !(dwDesiredAccess & GENERIC_WRITE)))
        return Fail(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;

    Lookup found = Resolve(p, true);
    Node* file = found.node;
    DWORD lastError = 0;
    if (file) {
        // A folder opens only as itself, to query or hold it.
        if (file->folder && (!(dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) ||
                             dwCreationDisposition != OPEN_EXISTING || (dwDesiredAccess & GENERIC_WRITE)))
            return Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
        if (dwCreationDisposition == CREATE_NEW)
            return Fail(ERROR_FILE_EXISTS), INVALID_HANDLE_VALUE;
        bool truncate = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
        if ((dwDesiredAccess & GENERIC_WRITE) || truncate) {
            if ((file->attributes & FILE_ATTRIBUTE_READONLY) || CheckWritable(file->parent))
                return Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
        }
        if ((error = CheckShare(file, dwDesiredAccess, dwShareMode)))
            return Fail(error), INVALID_HANDLE_VALUE;
        if (truncate)
            Truncate(file);
        if (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS)
            lastError = ERROR_ALREADY_EXISTS;
    } else {
        if (!found.parent)
            return Fail(found.error), INVALID_HANDLE_VALUE;
        if (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING)
            return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
        if (p.trailingSeparator)
            return Fail(ERROR_INVALID_NAME), INVALID_HANDLE_VALUE;
        Node fresh;
        fresh.attributes = (dwFlagsAndAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                    FILE_ATTRIBUTE_SYSTEM)) | FILE_ATTRIBUTE_ARCHIVE;
        if ((error = PutFile(found.parent, found.leaf, fresh, &file)))
            return Fail(error), INVALID_HANDLE_VALUE;
    }
    uintptr_t id = NewHandle();
    M().opens[id] = FileOpen{file, dwDesiredAccess, dwShareMode, 0, false};
    M().lastError = lastError;
    return AsHandle(id);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead, LPOVERLAPPED)
{
    if (Enter("ReadFile", ""))
        return FALSE;
    FileOpen* open = OpenFile(hFile);
    if (!open)
        return Fail(ERROR_INVALID_HANDLE);
    if (!lpNumberOfBytesRead || (!lpBuffer && nNumberOfBytesToRead))
        return Fail(ERROR_INVALID_PARAMETER);
    *lpNumberOfBytesRead = 0;
    if (!(open->access & GENERIC_READ))
        return Fail(ERROR_ACCESS_DENIED);
    const Node* file = open->node;
    ULONGLONG size = file->Size();
    ULONGLONG n = open->position >= size ? 0 : std::min<ULONGLONG>(nNumberOfBytesToRead, size - open->position);
    if (file->big)
        std::memset(lpBuffer, 0, (size_t)n);
    else if (n)
        std::memcpy(lpBuffer, file->data.data() + open->position, (size_t)n);
    open->position += n;
    *lpNumberOfBytesRead = (DWORD)n;
    return TRUE;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh)
{
    if (Enter("GetFileSize", ""))
        return INVALID_FILE_SIZE;
    FileOpen* open = OpenFile(hFile);
    if (!open)
        return Fail(ERROR_INVALID_HANDLE), INVALID_FILE_SIZE;
    ULONGLONG size = open->node->Size();
    if (lpFileSizeHigh)
        *lpFileSizeHigh = (DWORD)(size >> 32);
    M().lastError = 0;
    return (DWORD)size;
}

// Writes at the file's position; the clusters it grows by come off its volume.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED)
{
    if (Enter("WriteFile", ""))
        return FALSE;
    FileOpen* open = OpenFile(hFile);
    if (!open)
        return Fail(ERROR_INVALID_HANDLE);
    if (!lpNumberOfBytesWritten || (!lpBuffer && nNumberOfBytesToWrite))
        return Fail(ERROR_INVALID_PARAMETER);
    *lpNumberOfBytesWritten = 0;
    if (!(open->access & GENERIC_WRITE))
        return Fail(ERROR_ACCESS_DENIED);
    Node* file = open->node;
    if (file->big)
        throw std::logic_error("the fake does not write into big files");
    size_t end = (size_t)open->position + nNumberOfBytesToWrite;
    Drive* drive = file->drive;
    auto clusters = [drive](ULONGLONG size) {
        ULONGLONG cluster = drive->Cluster();
        return cluster == 0 || size % cluster == 0 ? size : size + (cluster - size % cluster);
    };
    ULONGLONG grows = end > file->data.size() ? clusters(end) - clusters(file->data.size()) : 0;
    if (grows > drive->freeBytes)
        return Fail(ERROR_DISK_FULL);
    drive->freeBytes -= grows;
    if (end > file->data.size())
        file->data.resize(end);
    if (nNumberOfBytesToWrite)
        std::memcpy(&file->data[(size_t)open->position], lpBuffer, nNumberOfBytesToWrite);
    open->position = end;
    *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject)
{
    if (Enter("CloseHandle", ""))
        return FALSE;
    Machine& m = M();
    if (OpenFile(hObject)) {
        m.opens.erase((uintptr_t)hObject);
        return TRUE;
    }
    if (m.mutexHandles.erase((uintptr_t)hObject))
        return TRUE;
    ++m.badHandleCloses;
    return Fail(ERROR_INVALID_HANDLE);
}

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData)
{
    if (Enter("FindFirstFileA", Str(lpFileName)))
        return INVALID_HANDLE_VALUE;
    return StartSearch(lpFileName, lpFindFileData);
}

HANDLE fake::detail::StartSearch(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData)
{
    Path p;
    DWORD error = 0;
    if (!ParsePath(lpFileName, p, error, true))
        return Fail(error), INVALID_HANDLE_VALUE;
    if (!lpFindFileData)
        return Fail(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;
    if (p.parts.empty() || p.trailingSeparator)
        return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
    std::string pattern = p.parts.back();
    p.parts.pop_back();
    Lookup found = Resolve(p, true);
    if (!found.node)
        return Fail(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
    if (!found.node->folder)
        return Fail(ERROR_DIRECTORY), INVALID_HANDLE_VALUE;

    Search search;
    search.pattern = Str(lpFileName);
    if (found.node->parent) {
        for (const char* dots : {".", ".."})
            if (MatchPattern(pattern, dots))
                search.entries.push_back(FindData(dots, nullptr));
    }
    for (auto& child : found.node->children)
        if (MatchPattern(pattern, child->name))
            search.entries.push_back(FindData(child->name, child.get()));
    if (search.entries.empty())
        return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;

    *lpFindFileData = search.entries[0];
    search.next = 1;
    uintptr_t id = NewHandle();
    M().searches[id] = search;
    M().lastError = 0;
    return AsHandle(id);
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData)
{
    auto open = M().searches.find((uintptr_t)hFindFile);
    if (Enter("FindNextFileA", open == M().searches.end() ? "" : open->second.pattern))
        return FALSE;
    return NextSearchEntry(hFindFile, lpFindFileData);
}

BOOL fake::detail::NextSearchEntry(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData)
{
    Machine& m = M();
    auto it = m.searches.find((uintptr_t)hFindFile);
    if (it == m.searches.end()) {
        ++m.badHandleCloses;
        return Fail(ERROR_INVALID_HANDLE);
    }
    Search& search = it->second;
    if (search.next >= search.entries.size())
        return Fail(ERROR_NO_MORE_FILES);
    *lpFindFileData = search.entries[search.next++];
    return TRUE;
}

BOOL FindClose(HANDLE hFindFile)
{
    if (Enter("FindClose", ""))
        return FALSE;
    Machine& m = M();
    if (m.searches.erase((uintptr_t)hFindFile))
        return TRUE;
    ++m.badHandleCloses;
    return Fail(ERROR_INVALID_HANDLE);
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    if (Enter("CreateDirectoryA", Str(lpPathName)))
        return FALSE;
    Path p;
    DWORD error = 0;
    if (!ParsePath(lpPathName, p, error))
        return Fail(error);
    Lookup found = Resolve(p, false);
    if (found.node)
        return Fail(found.node->parent ? ERROR_ALREADY_EXISTS : ERROR_ACCESS_DENIED);
    if (!found.parent)
        return Fail(ERROR_PATH_NOT_FOUND);
    Node* folder = nullptr;
    if ((error = CreateFolder(found.parent, found.leaf, &folder)))
        return Fail(error);
    // An access list given here is the folder's own; the fake keeps its owner the user.
    const SECURITY_DESCRIPTOR* descriptor =
        lpSecurityAttributes ? static_cast<const SECURITY_DESCRIPTOR*>(lpSecurityAttributes->lpSecurityDescriptor) : nullptr;
    if (descriptor && (descriptor->Control & SE_DACL_PRESENT) && descriptor->Dacl) {
        Security security;
        security.dacl = ParseAcl(static_cast<const ACL*>(descriptor->Dacl));
        security.isProtected = (descriptor->Control & SE_DACL_PROTECTED) != 0;
        folder->security = std::make_unique<Security>(security);
    }
    return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR lpPathName)
{
    if (Enter("RemoveDirectoryA", Str(lpPathName)))
        return FALSE;
    Path p;
    DWORD error = 0;
    if (!ParsePath(lpPathName, p, error))
        return Fail(error);
    Lookup found = Resolve(p, false);
    if (!found.node)
        return Fail(found.error);
    if (!found.node->folder)
        return Fail(ERROR_DIRECTORY);
    if ((error = RemoveFolderNode(found.node)))
        return Fail(error);
    return TRUE;
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists)
{
    if (Enter("CopyFileA", Two(lpExistingFileName, lpNewFileName)))
        return FALSE;
    Path from, to;
    DWORD error = 0;
    if (!ParsePath(lpExistingFileName, from, error) || !ParsePath(lpNewFileName, to, error))
        return Fail(error);
    Lookup source = Resolve(from, true);
    if (!source.node)
        return Fail(source.error);
    if (source.node->folder)
        return Fail(ERROR_ACCESS_DENIED);
    if ((error = CheckShare(source.node, GENERIC_READ, FILE_SHARE_READ)))
        return Fail(error);
    Lookup target = Resolve(to, true);
    Node* folder = target.parent;
    std::string name = target.leaf;
    if (target.node) {
        if (target.node == source.node)
            return Fail(ERROR_SHARING_VIOLATION);
        if (target.node->folder)
            return Fail(ERROR_ACCESS_DENIED);
        if (bFailIfExists)
            return Fail(ERROR_FILE_EXISTS);
        folder = target.node->parent;
        name = target.node->name;
    } else if (!folder) {
        return Fail(target.error);
    }
    if ((error = PutFile(folder, name, *source.node)))
        return Fail(error);
    return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName)
{
    if (Enter("DeleteFileA", Str(lpFileName)))
        return FALSE;
    Path p;
    DWORD error = 0;
    if (!ParsePath(lpFileName, p, error))
        return Fail(error);
    Lookup found = Resolve(p, false);
    if (!found.node)
        return Fail(found.error);
    if (found.node->folder)
        return Fail(ERROR_ACCESS_DENIED);
    if ((error = DeleteFileNode(found.node, false)))
        return Fail(error);
    return TRUE;
}

BOOL MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName)
{
    if (Enter("MoveFileA", Two(lpExistingFileName, lpNewFileName)))
        return FALSE;
    Path from, to;
    DWORD error = 0;
    if (!ParsePath(lpExistingFileName, from, error) || !ParsePath(lpNewFileName, to, error))
        return Fail(error);
    Lookup source = Resolve(from, false);
    if (!source.node)
        return Fail(source.error);
    Lookup target = Resolve(to, false);
    if (target.node && target.node != source.node)
        return Fail(ERROR_ALREADY_EXISTS);
    Node* folder = target.node ? target.node->parent : target.parent;
    if (!folder || to.parts.empty())
        return Fail(target.node ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
    if (folder->drive == source.node->drive) {
        if ((error = Rename(source.node, folder, to.parts.back())))
            return Fail(error);
        Leave("MoveFileA", Two(lpExistingFileName, lpNewFileName));
        return TRUE;
    }
    if (source.node->folder)
        return Fail(ERROR_NOT_SAME_DEVICE);
    // A file goes to another volume as a copy followed by a delete.
    if ((error = CheckShare(source.node, 0x00010000, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) ||
        (error = CheckWritable(source.node->parent)) || (error = PutFile(folder, to.parts.back(), *source.node)))
        return Fail(error);
    DeleteFileNode(source.node, true);
    return TRUE;
}

DWORD GetFileAttributesA(LPCSTR lpFileName)
{
    if (Enter("GetFileAttributesA", Str(lpFileName)))
        return INVALID_FILE_ATTRIBUTES;
    Path p;
    DWORD error = 0;
    if (!ParsePath(lpFileName, p, error))
        return Fail(error), INVALID_FILE_ATTRIBUTES;
    Lookup found = Resolve(p, false);
    if (!found.node)
        return Fail(found.error), INVALID_FILE_ATTRIBUTES;
    return Attributes(found.node);
}

UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName)
{
    if (Enter("GetTempFileNameA", Str(lpPathName)))
        return 0;
    Path p;
    DWORD error = 0;
    if (!lpTempFileName)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!ParsePath(lpPathName, p, error))
        return Fail(error);
    Lookup found = Resolve(p, true);
    if (!found.node)
        return Fail(ERROR_PATH_NOT_FOUND);
    if (!found.node->folder)
        return Fail(ERROR_DIRECTORY);

    std::string folderText = lpPathName;
    if (!EndsWithBackslash(folderText))
        folderText += '\\';
    std::string prefix = std::string(lpPrefixString ? lpPrefixString : "").substr(0, 3);
    if (folderText.size() + prefix.size() + 8 >= MAX_PATH)
        return Fail(ERROR_BUFFER_OVERFLOW);
    auto leafFor = [&](UINT number) {
        char tail[16];
        std::snprintf(tail, sizeof tail, "%04X.tmp", number & 0xFFFF);
        return prefix + tail;
    };
    if (uUnique) {
        std::strcpy(lpTempFileName, (folderText + leafFor(uUnique)).c_str());
        return uUnique;
    }
    Machine& m = M();
    for (int tries = 0; tries < 0xFFFF; ++tries) {
        UINT number = m.tempCounter % 0xFFFF + 1;
        ++m.tempCounter;
        std::string leaf = leafFor(number);
        if (FindChild(found.node, leaf))
            continue;
        Node empty;
        empty.attributes = FILE_ATTRIBUTE_ARCHIVE;
        if ((error = PutFile(found.node, leaf, empty)))
            return Fail(error);
        std::strcpy(lpTempFileName, (folderText + leaf).c_str());
        m.lastError = 0;
        return number;
    }
    return Fail(ERROR_FILE_EXISTS);
}

DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer)
{
    if (Enter("GetTempPathA", ""))
        return 0;
    const Machine& m = M();
    const std::string& text = m.tempPath;
    if (text.size() < nBufferLength) {
        std::memcpy(lpBuffer, text.c_str(), text.size() + 1);
        return (DWORD)text.size();
    }
    if (m.tempPathCut && nBufferLength > 0) {
        std::memcpy(lpBuffer, text.data(), nBufferLength - 1);
        lpBuffer[nBufferLength - 1] = '\0';
    }
    return (DWORD)text.size() + 1;
}

UINT GetDriveTypeA(LPCSTR lpRootPathName)
{
    if (Enter("GetDriveTypeA", Str(lpRootPathName)))
        return DRIVE_UNKNOWN;
    Drive* drive = nullptr;
    std::string s = lpRootPathName ? lpRootPathName : "\\";
    if (s == "\\" || s == "/") {
        drive = CurrentDrive();
    } else if (IsDriveRootText(s)) {
        drive = DriveOfRootText(s);
    } else if (s.size() > 2 && s[0] == '\\' && s[1] == '\\') {
        Path p;
        DWORD error = 0;
        if (ParsePath(s.c_str(), p, error) && p.parts.empty())
            drive = FindDrive(p.volume);
    }
    return drive ? drive->type : DRIVE_NO_ROOT_DIR;
}

BOOL GetDiskFreeSpaceA(LPCSTR lpRootPathName, LPDWORD lpSectorsPerCluster, LPDWORD lpBytesPerSector,
                       LPDWORD lpNumberOfFreeClusters, LPDWORD lpTotalNumberOfClusters)
{
    if (Enter("GetDiskFreeSpaceA", Str(lpRootPathName)))
        return FALSE;
    Drive* drive = nullptr;
    std::string s = lpRootPathName ? lpRootPathName : "";
    if (s.empty()) {
        drive = CurrentDrive();
    } else if (IsDriveRootText(s)) {
        drive = DriveOfRootText(s);
    } else {
        Path p;
        DWORD error = 0;
        if (!ParsePath(s.c_str(), p, error))
            return Fail(error);
        drive = FindDrive(p.volume);
        if (drive && !p.parts.empty())
            return Fail(ERROR_INVALID_NAME);
    }
    if (!drive)
        return Fail(ERROR_PATH_NOT_FOUND);
    ULONGLONG cluster = drive->Cluster();
    auto clusters = [&](ULONGLONG bytes) { return cluster ? (DWORD)std::min<ULONGLONG>(bytes / cluster, 0xFFFFFFFFu) : 0; };
    if (lpSectorsPerCluster)
        *lpSectorsPerCluster = drive->sectorsPerCluster;
    if (lpBytesPerSector)
        *lpBytesPerSector = drive->bytesPerSector;
    if (lpNumberOfFreeClusters)
        *lpNumberOfFreeClusters = clusters(drive->freeBytes);
    if (lpTotalNumberOfClusters)
        *lpTotalNumberOfClusters = clusters(drive->totalBytes);
    return TRUE;
}

BOOL GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                         PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes)
{
    if (Enter("GetDiskFreeSpaceExA", Str(lpDirectoryName)))
        return FALSE;
    Drive* drive = nullptr;
    if (!lpDirectoryName) {
        drive = CurrentDrive();
    } else if (IsDriveRootText(lpDirectoryName)) {
        drive = DriveOfRootText(lpDirectoryName);
    } else {
        Path p;
        DWORD error = 0;
        if (!ParsePath(lpDirectoryName, p, error))
            return Fail(error);
        Lookup found = Resolve(p, true);
        if (!found.node)
            return Fail(found.error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : found.error);
        if (!found.node->folder)
            return Fail(ERROR_DIRECTORY);
        drive = found.node->drive;
    }
    if (!drive)
        return Fail(ERROR_PATH_NOT_FOUND);
    if (lpFreeBytesAvailableToCaller)
        lpFreeBytesAvailableToCaller->QuadPart = drive->freeBytes;
    if (lpTotalNumberOfBytes)
        lpTotalNumberOfBytes->QuadPart = drive->totalBytes;
    if (lpTotalNumberOfFreeBytes)
        lpTotalNumberOfFreeBytes->QuadPart = drive->freeBytes;
    return TRUE;
}
