// Deleting, copying and moving copy folders through the shell, and putting a
// viewer copy in place.
#include "app/LauncherApp.h"

#include <cstring>

// The shell takes a list of names ended by a second NUL; one path of at most
// 1299 characters fits the buffers.
static const size_t SHELL_BUFFER = 1301;
static const FILEOP_FLAGS SHELL_FLAGS =
    FOF_NOCONFIRMATION | FOF_SIMPLEPROGRESS | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;

// Copy folders lie where other users can write, so one may be a folder link,
// or hold one, planted to point elsewhere; the shell deletes and copies
// through links, and the launcher must never reach beyond the copy folder.
//
// Says whether a folder link lies anywhere inside the folder. With
// removeLinks, each one found is removed first (the link, not what it points
// to), and the answer is whether one stays.
BOOL CLauncherApp::HoldsFolderLink(const CString& folder, BOOL removeLinks)
{
    CCopyTally tally;
    tally.removeLinks = removeLinks;
    WalkFolder(folder, "", tally);
    return tally.links != 0;
}

// Deletes a folder tree through the shell, never through a folder link.
int CLauncherApp::RemoveTree(const CString& folder)
{
    if (folder.GetLength() > (int)SHELL_BUFFER - 2)
        return ERROR_FILENAME_EXCED_RANGE;

    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ERROR_FILE_NOT_FOUND;  // nothing to delete: the shell is not bothered
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return RemoveDirectoryA(folder) ? 0 : ERROR_ACCESS_DENIED;
        if (HoldsFolderLink(folder, TRUE))
            return ERROR_ACCESS_DENIED;  // a link stays: leave the whole tree alone
    }
    return ShellDelete(folder);
}

// Hands a folder that fits the shell's buffer to the shell's delete, which
// shows its progress dialog.
int CLauncherApp::ShellDelete(const CString& folder)
{
    char from[SHELL_BUFFER];
    memset(from, 0, sizeof(from));
    memcpy(from, folder, folder.GetLength());

    SHFILEOPSTRUCTA operation;
    memset(&operation, 0, sizeof(operation));
    operation.hwnd = NULL;
    operation.wFunc = FO_DELETE;
    operation.pFrom = from;
    operation.pTo = NULL;
    operation.fFlags = SHELL_FLAGS;
    operation.hNameMappings = NULL;
    operation.lpszProgressTitle =
        "Deleting older version of Zelvo Disc Advanced Viewer files from HD. Please wait...";
    return SHFileOperationA(&operation);
}

// A copy is never deleted under its own name: a delete that stops part way (a
// file in use, the viewer still running from it) would leave a stamped half
// copy that later launches take for a whole one. The copy first leaves under
// a name no launcher takes for a copy; when it cannot (Windows refuses while a
// program holds a file in it open), it stays whole and the delete has failed.
int CLauncherApp::DeleteFolder(LPCSTR folder)
{
    CString copy = folder;
    if (copy.GetLength() > (int)SHELL_BUFFER - 2)
        return ERROR_FILENAME_EXCED_RANGE;
    DWORD attributes = GetFileAttributesA(copy);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return RemoveTree(copy);
    if (copy.GetLength() + (int)sizeof(DELETING_SUFFIX) + 1 > (int)SHELL_BUFFER - 2)
        return ERROR_FILENAME_EXCED_RANGE;
    if (HoldsFolderLink(copy, TRUE))
        return ERROR_ACCESS_DENIED;  // a link stays: leave the whole tree alone

    DeleteLeftoversNamed(copy + DELETING_SUFFIX);
    CString suffix = FreshSuffix(DELETING_SUFFIX, copy, CString());
    if (suffix.IsEmpty())
        return ERROR_ALREADY_EXISTS;
    CString leaving = copy + suffix;
    if (!MoveFileA(copy, leaving))
        return GetLastError() != 0 ? (int)GetLastError() : ERROR_ACCESS_DENIED;
    return ShellDelete(leaving);  // its links are gone already
}

BOOL CLauncherApp::CopyOrMoveFolder(LPCSTR source, LPCSTR destination, BOOL move)
{
    if (strlen(source) > SHELL_BUFFER - 2 || strlen(destination) > SHELL_BUFFER - 2)
        return FALSE;
    if (!CreateDirectoryA(destination, NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
        return FALSE;

    char from[SHELL_BUFFER];
    char to[SHELL_BUFFER];
    memset(from, 0, sizeof(from));
    memset(to, 0, sizeof(to));
    memcpy(from, source, strlen(source));
    memcpy(to, destination, strlen(destination));

    SHFILEOPSTRUCTA operation;
    memset(&operation, 0, sizeof(operation));
    operation.hwnd = NULL;
    operation.wFunc = move ? FO_MOVE : FO_COPY;
    operation.pFrom = from;
    operation.pTo = to;
    operation.fFlags = SHELL_FLAGS;
    operation.hNameMappings = NULL;
    operation.lpszProgressTitle = "Copying Zelvo Disc Advanced Viewer files to HD. Please wait...";
    int result = SHFileOperationA(&operation);
    // The shell can fail without flagging an abort: that is no success either.
    return result == 0 && !operation.fAnyOperationsAborted;
}

// What an interrupted installation or deletion left beside a copy folder.
void CLauncherApp::DeleteLeftovers(const CString& copyFolder)
{
    DeleteLeftoversNamed(copyFolder + STAGING_SUFFIX);
    DeleteLeftoversNamed(copyFolder + DELETING_SUFFIX);
}

static CString Numbered(const CString& name, int number)
{
    char tail[3] = {'.', static_cast<char>('0' + number), '\0'};
    return number == 0 ? name : name + tail;
}

// Removes a leftover name and the fresh names that stepped around it.
void CLauncherApp::DeleteLeftoversNamed(const CString& name)
{
    for (int i = 0; i <= FRESH_NAMES; i++)
        RemoveTree(Numbered(name, i));
}

// The suffix (".partial", ".partial.1"...) that names nothing yet beside
// `folder` nor, when given, beside `other`; empty when every one is taken.
CString CLauncherApp::FreshSuffix(LPCSTR suffix, const CString& folder, const CString& other)
{
    for (int i = 0; i <= FRESH_NAMES; i++) {
        CString candidate = Numbered(suffix, i);
        if (GetFileAttributesA(folder + candidate) == INVALID_FILE_ATTRIBUTES &&
            (other.IsEmpty() || GetFileAttributesA(other + candidate) == INVALID_FILE_ATTRIBUTES))
            return candidate;
    }
    return CString();
}

// A whole copy that a launcher left under a staging name beside its missing
// copy folder, with its record (a copy whose final rename was held up, or a
// moved one that could not go back), takes the copy folder's name.
BOOL CLauncherApp::RecoverStagedCopy(const CString& copyFolder)
{
    if (GetFileAttributesA(copyFolder) != INVALID_FILE_ATTRIBUTES)
        return FALSE;
    for (int i = 0; i <= FRESH_NAMES; i++) {
        CString staged = Numbered(copyFolder + STAGING_SUFFIX, i);
        if (GetFileAttributesA(staged + COPY_RECORD) == INVALID_FILE_ATTRIBUTES)
            continue;
        if (!ReadVersionStamp(staged + "\\VIEWER\\bin\\Version*.txt").IsEmpty() && MatchesCopyRecord(staged) &&
            MoveFileA(staged, copyFolder)) {
            ForgetInstallFailure(copyFolder);  // the installation did succeed
            return TRUE;
        }
    }
    return FALSE;
}

// Installs by putting the copy together under the staging name and renaming it
// into place once it is complete and checked: whatever stops an installation
// part way (Cancel, a failing disc, a killed process, a power cut), no copy
// folder ever holds a partial copy that the next launch would take for up to
// date. It relies on the space check having counted the source. A copy or
// move that fails once under way is remembered; a target that cannot be
// cleared, or no staging folder made beside it, is unusable for this launch.
BOOL CLauncherApp::InstallCopy()
{
    if (IsSameFolder(m_strCopyTarget, m_strCopySource))
        return TRUE;
    ReleaseHeldCopy();  // the copy to be moved, or one about to be replaced

    DeleteLeftovers(m_strCopyTarget);
    DeleteFolder(m_strCopyTarget);
    // An old copy that could not be cleared (in use, another user's) stays
    // whole, and nothing is copied or moved for nothing.
    if (GetFileAttributesA(m_strCopyTarget) != INVALID_FILE_ATTRIBUTES) {
        m_strUnusableTarget = m_strCopyTarget;
        return FALSE;
    }

    BOOL moving = !IsSameFolder(m_strCopySource, m_strMediaRoot);
    CString suffix = FreshSuffix(STAGING_SUFFIX, m_strCopyTarget, moving ? m_strCopySource : CString());
    // A staging folder is made afresh, never one that someone left there.
    if (suffix.IsEmpty() || (!moving && !CreateCopyFolder(m_strCopyTarget + suffix))) {
        m_strUnusableTarget = m_strCopyTarget;
        return FALSE;
    }
    BOOL installed = moving ? MoveCopyIntoPlace(suffix) : CopyIntoPlace(m_strCopyTarget + suffix);
    if (installed)
        ForgetInstallFailure(m_strCopyTarget);
    return installed;
}

// Copies the medium into the staging folder, checks it against the source's
// count, records it and renames it into place. A whole copy whose rename a
// virus scanner holds up past the wait stays under the staging name, with its
// record, for the next launch to put in place.
BOOL CLauncherApp::CopyIntoPlace(const CString& staging)
{
    BOOL whole = CopyFromMedium(staging) && IsWholeCopy(staging) && WriteCopyRecord(staging, m_tallyCopySource.lines);
    if (whole && RenameWithRetry(staging, m_strCopyTarget))
        return TRUE;
    if (!whole)
        RemoveTree(staging);  // an unfinished copy is of no use to anyone
    RememberInstallFailure();
    return FALSE;
}

// Whether a folder holds just what the space check counted at the copy
// source: the same files, each of the same size.
BOOL CLauncherApp::IsWholeCopy(const CString& folder)
{
    CCopyTally copy;
    return CountCopy(folder, copy) && strcmp(copy.lines, m_tallyCopySource.lines) == 0;
}

// Puts the medium's VIEWER tree and the companion into the staging folder.
BOOL CLauncherApp::CopyFromMedium(const CString& staging)
{
    if (!CopyOrMoveFolder(m_strCopySource + "\\VIEWER", staging, FALSE))
        return FALSE;
    if (!CreateDirectoryA(staging + "\\kiro", NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
        return FALSE;
    return CopyFileA(m_strCopySource + "\\kiro\\KiroPageHolder.exe", staging + "\\kiro\\KiroPageHolder.exe", FALSE);
}

// Renames a folder. A virus scanner still reading the files just written can
// hold that up for some seconds; a folder already under the new name fails
// it at once.
BOOL CLauncherApp::RenameWithRetry(const CString& from, const CString& to)
{
    for (DWORD waited = 0;; waited += RENAME_RETRY) {
        if (MoveFileA(from, to))
            return TRUE;
        DWORD error = GetLastError();
        if (waited >= RENAME_WAIT || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
            return FALSE;
        Sleep(RENAME_RETRY);
    }
}

// Moves the up-to-date copy at the copy source into the target. The copy
// leaves its old place under the staging name before the shell moves it: a
// move across volumes is a copy and a delete, and neither a half-copied
// target nor a half-deleted source may keep the copy folder's name. It
// carries its record along: one made by an older launcher gets one before it
// leaves, so that a copy found under a staging name always has its record.
// While it is the only up-to-date copy it is never deleted: what cannot go
// back stays under the staging name, for a later launch to put in place.
BOOL CLauncherApp::MoveCopyIntoPlace(const CString& suffix)
{
    CString parent = m_strCopyTarget.Left(m_strCopyTarget.ReverseFind('\\'));
    DWORD parentAttributes = GetFileAttributesA(parent);
    if (parentAttributes == INVALID_FILE_ATTRIBUTES || !(parentAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return FALSE;
    DWORD sourceAttributes = GetFileAttributesA(m_strCopySource);
    if (sourceAttributes == INVALID_FILE_ATTRIBUTES || (sourceAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return FALSE;
    CCopyTally source;
    BOOL hasRecord = GetFileAttributesA(m_strCopySource + COPY_RECORD) != INVALID_FILE_ATTRIBUTES;
    if (!WalkFolder(m_strCopySource, "", source) || source.links != 0 ||
        (!hasRecord && !WriteCopyRecord(m_strCopySource, source.lines)))
        return FALSE;

    CString staging = m_strCopyTarget + suffix;
    CString leaving = m_strCopySource + suffix;
    if (!MoveFileA(m_strCopySource, leaving))
        return FALSE;
    // The folder arrives in the parent under its own last name, the staging
    // name. Whatever the shell says, only a whole copy goes on.
    if (!CopyOrMoveFolder(leaving, parent, TRUE) || !IsWholeCopy(staging)) {
        RemoveTree(staging);
        // A copy still whole where it was keeps its name there; a half one goes.
        if (IsWholeCopy(leaving))
            RenameWithRetry(leaving, m_strCopySource);
        else
            RemoveTree(leaving);
        RememberInstallFailure();
        return FALSE;
    }
    if (!ProtectCopyFolder(staging) || !RenameWithRetry(staging, m_strCopyTarget)) {
        RenameWithRetry(staging, m_strCopySource);
        RememberInstallFailure();
        return FALSE;
    }
    return TRUE;
}
