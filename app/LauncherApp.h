// The launcher: one application object whose member functions are the whole
// program. The command front end lives in app/, copy management in copies/.
#pragma once

#include "platform/Afx.h"

// What the files of a viewer copy come to: how many there are and their exact
// sizes. The space check counts them at the copy source; a new copy must come
// to the same before it takes the copy folder's name.
struct CCopyTally
{
    ULONGLONG files;
    ULONGLONG bytes;
};

class CLauncherApp : public CWinApp
{
public:
    CLauncherApp();

    BOOL InitInstance() override;
    int ExitInstance() override;

    // Commands
    void ShowCommands();
    void RunLaunch();
    void RunDelete();
    void RunRepair();

    // Medium and viewer start
    BOOL LocateMedia();
    CString ReadVersionStamp(CString pattern);
    void LaunchBestCopy();
    BOOL StartViewer(CString folder);
    BOOL StartViewerWide();

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
    ULONGLONG GetFolderSize(CString folder, DWORD clusterSize, CCopyTally* tally = NULL);

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
    CCopyTally m_tallyCopySource;   // what the last space check counted at the copy source

private:
    CWideText GetOwnPathWide();
    CString GetOwnPath();
    BOOL LockCopyFolders(CMutex& lock);
    void ShowRepairFailure();
    BOOL IsCopyUpToDate(const CString& copyFolder);
    ULONGLONG RoundToClusters(ULONGLONG size, DWORD clusterSize);
    BOOL HoldsFolderLink(const CString& folder, BOOL removeLinks);
    int RemoveTree(const CString& folder);
    int ShellDelete(const CString& folder);
    void DeleteLeftover(const CString& folder);
    void DeleteLeftovers(const CString& copyFolder);
    BOOL IsWholeCopy(const CString& folder);
    BOOL CopyFromMedium(const CString& staging);
    BOOL MoveCopyIntoPlace(const CString& staging);
    BOOL RenameToTarget(const CString& staging);
};

// A copy is put together under this name beside its copy folder and takes the
// copy folder's name only once it is complete.
const char STAGING_SUFFIX[] = ".partial";
// A copy folder leaves under this name before it is deleted, so that a delete
// that stops part way never leaves a half copy under the copy folder's name.
const char DELETING_SUFFIX[] = ".deleting";
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
