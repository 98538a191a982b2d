// The launcher: one application object whose member functions are the whole
// program. The command front end lives in app/, copy management in copies/.
#pragma once

#include "platform/Afx.h"

// What one walk of a folder tree found: the size of each file, and a line
// "<size>\t<path>\r\n" for each, its path below the top of the walk; each
// folder's files come in name order, then its subfolders. A walk that checks
// a record collects nothing: it moves `record` past each of the record's
// lines that the walk gives, in order, up to `recordEnd`. Links to folders
// are never followed: each one met is counted, or removed when asked.
struct CCopyTally
{
    TArray<ULONGLONG> sizes;
    CString lines;
    LPCSTR record = NULL;
    LPCSTR recordEnd = NULL;
    int links = 0;
    BOOL removeLinks = FALSE;
};

// One listing of a folder: the names of its files, of its subfolders and of
// its links to folders, each sorted by name (byte order). The names lie in
// one block, each ended by its NUL, so that a folder of thousands of files
// costs one growing block rather than a string each: a launch lists every
// folder of the copy it starts.
struct CFolderListing
{
    struct Entry
    {
        size_t offset;  // of the name in `names`
        ULONGLONG size;
    };
    TText<char> names;
    TArray<Entry> files;
    TArray<Entry> subfolders;
    TArray<Entry> links;

    LPCSTR Name(const Entry& entry) const { return names.c_str() + entry.offset; }
};

// Where a copy lies decides what it must prove before it is used: a copy in
// the user's own temp folder is the user's; one in the shared location or in
// a profile could have been put there by another user.
enum CopyPlace { TEMP_COPY, SHARED_COPY, PROFILE_COPY };

class CLauncherApp : public CWinApp
{
public:
    CLauncherApp();

    BOOL InitInstance() override;

    // Commands
    void ShowCommands();
    void RunLaunchSafely();
    void RunLaunch();
    void RunDelete();
    void RunRepair();

    // Medium and viewer start
    BOOL LocateMedia();
    CString ReadVersionStamp(CString pattern);
    void LaunchBestCopy();
    BOOL StartViewer(CString folder);
    BOOL StartViewerWide(const CWideText& mediaRoot);

    // Versions
    int NextVersionNumber(const CString& text, int& cursor);
    BOOL IsVersionAtLeast(const CString& candidate, const CString& reference);

    // Copy locations
    CString GetAllUsersFolder();
    BOOL IsFolderWritable(CString folder);
    BOOL ProbeSharedLocation(int collect);
    BOOL ProbeTempLocation(int collect);
    BOOL ProbeProfileLocations(int collect);
    BOOL ProbeCopies();

    // Space check
    BOOL HasRoomForCopy();
    ULONGLONG GetFolderSize(CString folder, DWORD clusterSize);

    // Folder operations
    int DeleteFolder(LPCSTR folder);
    BOOL CopyOrMoveFolder(LPCSTR source, LPCSTR destination, BOOL move);
    BOOL InstallCopy();

    // Launcher state
    CString m_strMediaVersion;      // version stamp of the viewer on the medium
    BOOL m_bCopyAllowed;            // 0 once the medium is on neither a fixed nor an optical drive
    CString m_strMediaRoot;         // two folders above the launcher's own folder
    CString m_strCopyTarget;        // copy folder chosen to receive a copy; empty: none
    CString m_strCopySource;        // media root, or an up-to-date copy folder to move
    CStringArray m_arrStaleCopies;  // copy folders to delete
    CString m_strSharedCopy;        // up-to-date copy in the shared location
    CString m_strTempCopy;          // up-to-date copy in the temp location
    CString m_strProfileCopy;       // up-to-date copy in a profile location
    CCopyTally m_tallyCopySource;   // what the space check counted at the copy source (none: no copy can be had)
    CString m_strTalliedSource;     // the copy source it counted
    CString m_strUnusableTarget;    // a copy folder this launch found it cannot clear or stage beside
    CWideText m_wstrMediaRoot;      // the media root as the system gives it, which the ANSI code page may not hold
    HANDLE m_hHeldCopy;             // the trusted copy folder the viewer is to start from, held open

    // Trust in copies other users could have written
    BOOL IsCopyTrusted(const CString& copyFolder);
    void ReleaseHeldCopy();
    SECURITY_ATTRIBUTES MakeSecurityAttributes(SECURITY_DESCRIPTOR& descriptor, WORD control, PACL dacl);
    BOOL CreateCopyFolder(const CString& folder);
    BOOL ProtectCopyFolder(const CString& folder);

private:
    CWideText GetOwnPath();
    CString ToAnsiPath(const CWideText& wide);
    CWideText ToWidePath(const CString& path);
    CString GetTempFolder();
    CString GetShortAnsiPath(const CWideText& wide);
    CString GetAnsiEntryName(const WIN32_FIND_DATAW& entry);
    BOOL LockCopyFolders(CMutex& lock);
    void ShowRepairFailure();
    BOOL IsCopyFolder(const CString& folder);
    BOOL IsCopyUpToDate(const CString& copyFolder, CopyPlace place);
    BOOL IsUsableTarget(const CString& copyFolder);
    BOOL IsSameFolder(const CString& one, const CString& other);
    ULONGLONG RoundToClusters(ULONGLONG size, DWORD clusterSize);
    ULONGLONG SumClusters(const CCopyTally& tally, DWORD clusterSize);
    BOOL CountCopy(const CString& root, CCopyTally& tally);
    BOOL CountCopySource();
    BOOL HoldsFolderLink(const CString& folder, BOOL removeLinks);
    int RemoveTree(const CString& folder);
    int ShellDelete(const CString& folder);
    void DeleteLeftovers(const CString& copyFolder);
    void DeleteLeftoversNamed(const CString& name);
    void ListEveryCopyFolder();
    void DeleteListedCopies(BOOL copies, BOOL memories);
    BOOL IsCopyToBeMade();
    CString FreshSuffix(LPCSTR suffix, const CString& folder, const CString& other);
    BOOL RecoverStagedCopy(const CString& copyFolder);
    BOOL IsInstallFailureRemembered();
    void RememberInstallFailure();
    BOOL ForgetInstallFailure(const CString& copyFolder);
    DWORD ReadSmallFile(const CString& path, CString& text);
    BOOL WriteSmallFile(const CString& path, const CString& text);
    BOOL IsWholeCopy(const CString& folder);
    BOOL CopyIntoPlace(const CString& staging);
    BOOL CopyFromMedium(const CString& staging);
    BOOL MoveCopyIntoPlace(const CString& suffix);
    BOOL RenameWithRetry(const CString& from, const CString& to);
    BOOL ListFolder(const CString& folder, CFolderListing& listing);
    BOOL WalkFolder(const CString& folder, const CString& relative, CCopyTally& tally);
    BOOL WriteCopyRecord(const CString& copyFolder, const CString& lines);
    BOOL MatchesCopyRecord(const CString& copyFolder);
};

// A copy is put together under this name beside its copy folder and takes the
// copy folder's name only once it is complete.
const char STAGING_SUFFIX[] = ".partial";
// A copy folder leaves under this name before it is deleted, so that a delete
// that stops part way never leaves a half copy under the copy folder's name.
const char DELETING_SUFFIX[] = ".deleting";
// What a copy held when it was installed: every file, with its path below the
// copy folder and its size, one "<size>\t<path>" line each after the format
// line, in the order of a walk. A copy that has lost a file since, or whose
// file changed size, is no longer up to date. Launchers on older discs write none.
const char COPY_RECORD[] = "\\ZelvoCopyRecord.txt";
const char COPY_RECORD_FORMAT[] = "ZelvoCopyRecord ";
const ULONGLONG COPY_RECORD_VERSION = 1;
// Leftovers that cannot be removed (a file in them in use, another user's)
// are stepped around: the next of these numbered names beside them is used
// (".partial.1" to ".partial.9").
const int FRESH_NAMES = 9;
// An installation that failed is remembered beside its copy folder under this
// name, with the medium's version and the time, and not tried again from the
// same medium for a while: a disc with a file nobody can read would otherwise
// be copied, for nothing, at every launch.
const char FAILED_SUFFIX[] = ".failed";
const ULONGLONG FAILURE_MEMORY = 24ull * 60 * 60 * 1000;  // milliseconds
// How long the final rename of a new copy is tried again while a virus
// scanner still reads the files just written (milliseconds, and between tries).
const DWORD RENAME_WAIT = 10000;
const DWORD RENAME_RETRY = 200;

// Launchers change copy folders one at a time, whichever user runs them and in
// whichever session: the shared location belongs to every user.
const char COPY_FOLDERS_LOCK[] = "Global\\Zelvo Disc 11 copy folders";
// How long a launcher waits for another one to finish with the copy folders
// (milliseconds) before it does without them.
const DWORD COPY_FOLDERS_WAIT = 60000;
