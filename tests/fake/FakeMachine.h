// Control side of the in-memory Windows machine behind FakeWindows.h.
//
// Tests build a machine (drives, folders, files, folder links, environment,
// command line...), run launcher code against the Win32 functions of
// FakeWindows.h, then read back the disk, the records of what the launcher
// asked for (processes, message boxes, shell operations, calls) and the
// handle counters.
//
// Rules of the fake disk, as Windows has them:
// - Paths are ANSI text in the machine's code page: "E:\x", "\x" (root of the
//   current drive), "x" (below the current folder), "E:x", and UNC volumes
//   "\\host\share\x" once added as a drive. '/' counts as '\'; "." and ".."
//   are folded away before anything is looked up. Paths of MAX_PATH (260)
//   characters or more fail with ERROR_FILENAME_EXCED_RANGE.
// - Names compare without regard to case, for ASCII letters only. In code page
//   932 the second byte of a double-byte character is never folded and never
//   taken for '\'.
// - Entries of a folder keep the order in which they were added; searches and
//   shell operations go through them in that order. A search sees the folder
//   as it was when FindFirstFileA started.
// - A folder link (junction) is an entry with FILE_ATTRIBUTE_DIRECTORY |
//   FILE_ATTRIBUTE_REPARSE_POINT that names another folder. Paths pass
//   through links; functions that act on an entry itself (GetFileAttributesA,
//   RemoveDirectoryA, DeleteFileA, MoveFileA, FindFirstFileA listing) see the
//   link. The shell's FO_DELETE goes through links and deletes what lies
//   behind them, then fails to remove the link and stops there, as Wine 8's
//   shell does.
// - Free space: writes take whole clusters (sectors per cluster x bytes per
//   sector) of the file's volume, deletes and truncations give them back; a
//   write that does not fit fails with ERROR_DISK_FULL. What the control
//   functions below add or remove does not change the free space: a test
//   states the free space it wants after laying out the disk.
// - Not modelled: short (8.3) names, trailing dots and spaces in names, the
//   DOS wildcard forms other than "*.*" (which matches every name), file
//   times (zero), access rights beyond the "not writable" folder switch.
//
// Where Windows leaves room, the fake chooses:
// - GetDriveTypeA: "E:\" and "E:" give drive E:'s type, NULL and "\" the
//   current drive's, "\\host\share\" that volume's; "" and every other text
//   DRIVE_NO_ROOT_DIR.
// - GetDiskFreeSpaceA: NULL, "" and "\" are the current drive, "E:" and "E:\"
//   drive E:; a path below a root fails with ERROR_INVALID_NAME, a missing
//   drive with ERROR_PATH_NOT_FOUND. GetDiskFreeSpaceExA takes any existing
//   folder (through a link: the volume the link leads to).
// - GetTempFileNameA: "<up to 3 prefix bytes><4 upper-case hex digits>.tmp",
//   numbers counting up from 1 across calls; a missing folder fails with
//   ERROR_PATH_NOT_FOUND, a folder that is not writable with ERROR_ACCESS_DENIED.
// - CreateProcessW records the start and succeeds: the fake disk has no names
//   outside the code page, so there is nothing to look for.
// - CreateProcessA checks the current directory first (ERROR_DIRECTORY), then
//   the executable (ERROR_FILE_NOT_FOUND); names resolve against the fake's
//   current folder, there is no PATH search.
// - SHFileOperationA deletes, copies or moves one file or folder (no
//   wildcards) into a folder that exists; a move within a volume is a rename,
//   across volumes a copy and a delete. Anything else (FO_RENAME, several
//   sources, a new name at the destination, a move onto an existing entry)
//   is not modelled and throws std::logic_error. A request refused before any
//   work begins (missing source: 2; a drive root: 0x74; into its own subtree:
//   0x76; onto itself: 0x71; empty list: 0x7C) changes nothing and leaves
//   fAnyOperationsAborted FALSE. Once work has begun the first error stops it,
//   is returned, and sets fAnyOperationsAborted (Windows: "silently aborted by
//   the system" under FOF_NOERRORUI). Copies read through links in the source
//   and write through links at the destination. Read-only files are deleted
//   like any other.
// - ReadFile without a byte count pointer fails with ERROR_INVALID_PARAMETER.
#pragma once

#include "FakeWindows.h"

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fake {

// Thrown from inside a fake Win32 function when a test asks for it.
struct FakeException : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Misuse of the control functions (a path that cannot be laid out, a folder
// where a file was expected...) throws std::logic_error.

// A blank machine: drive C: (fixed, 1 GiB free, 4096-byte clusters) with an
// empty root, current folder C:\, no environment variables, temp path
// "C:\TEMP\" (the folder itself does not exist), Windows 6.1 build 7601, code
// page 1252, launcher path "C:\app.exe", command line "\"C:\app.exe\"",
// start-up info all zero, no records, no injections, every switch at its
// Windows setting.
void Reset();

// ---- Volumes. `root` is "E:" (also accepted: "E:\", "e") or "\\host\share".
void AddDrive(const std::string& root, UINT type, ULONGLONG freeBytes = 1ull << 30);
void SetDriveType(const std::string& root, UINT type);
void SetDriveFreeBytes(const std::string& root, ULONGLONG freeBytes);
void SetDriveGeometry(const std::string& root, DWORD sectorsPerCluster, DWORD bytesPerSector);
void SetCurrentDirectory(const std::string& folder);  // must exist

// ---- Disk contents. Every Add creates the missing parent folders.
void AddFolder(const std::string& path);
void AddFile(const std::string& path, const std::string& contents = "",
             DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);  // replaces an existing file
// A file of the given size whose bytes are not stored (they read as zeros);
// for sizes of 4 GiB and more.
void AddBigFile(const std::string& path, ULONGLONG size);
// A folder link at `path` to the folder `target` (an absolute path; it need
// not exist: a dangling link makes paths through it fail).
void AddLink(const std::string& path, const std::string& target);
// A folder whose entries the launcher may not create, delete or rename, and
// whose files it may not open for writing (ERROR_ACCESS_DENIED). Not passed
// on to subfolders.
void SetFolderWritable(const std::string& folder, bool writable);
void Remove(const std::string& path);  // file, folder tree or link (not what it points to)

// ---- Owners and permissions of folders, as NtQuerySecurityObject reports them.
// Accounts are SID texts. The launcher runs as kUser.
namespace sid {
const std::string kUser = "S-1-5-21-7-7-7-1001";
const std::string kOtherUser = "S-1-5-21-7-7-7-1002";
const std::string kAdministrators = "S-1-5-32-544";
const std::string kUsers = "S-1-5-32-545";
const std::string kSystem = "S-1-5-18";
const std::string kTrustedInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const std::string kEveryone = "S-1-1-0";
const std::string kInteractive = "S-1-5-4";
const std::string kCreatorOwner = "S-1-3-0";
}  // namespace sid
struct Ace {
    std::string sid;
    DWORD mask;
    BYTE flags;  // OBJECT_INHERIT_ACE...
    BYTE type = ACCESS_ALLOWED_ACE_TYPE;
    bool operator==(const Ace& other) const
    {
        return sid == other.sid && mask == other.mask && flags == other.flags && type == other.type;
    }
};
struct Security {
    std::string owner = sid::kUser;
    // Unless set, a folder is its owner's and the system's, and every user may read it.
    std::vector<Ace> dacl = {{sid::kSystem, FILE_ALL_ACCESS, 3}, {sid::kUser, FILE_ALL_ACCESS, 3},
                             {sid::kUsers, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, 3}};
    bool nullDacl = false;    // no access list at all (FAT): everyone may do anything
    bool isProtected = false;  // inherits nothing from its folder
    bool unreadable = false;   // NtQuerySecurityObject fails with STATUS_ACCESS_DENIED
};
void SetSecurity(const std::string& path, const Security& security);
// What the folder's security is now: as set by a test, or by the launcher's
// CreateDirectoryA or SetNamedSecurityInfoA (these keep the owner and set the access list).
Security GetSecurity(const std::string& path);

bool Exists(const std::string& path);    // the entry itself; a dangling link exists
bool IsFolder(const std::string& path);  // folders and folder links
bool IsLink(const std::string& path);
std::string Contents(const std::string& file);
// Every entry below `folder`, depth first in folder order, as paths relative
// to `folder`; folders and links end with '\'. Links are not entered. The
// files appear in the order in which the shell copies, moves or deletes them.
std::vector<std::string> ListTree(const std::string& folder);
// The same entries mapped to what they hold: a file's contents (a big file:
// "<N bytes>"), "<folder>", or "<link to TARGET>". Compare two snapshots to
// prove that nothing below a folder changed.
std::map<std::string, std::string> Snapshot(const std::string& folder);

// ---- Environment and process.
void SetEnv(const std::string& name, const std::string& value);  // names ignore case
void UnsetEnv(const std::string& name);
void SetTempPath(const std::string& text);  // returned as it stands, checked by nobody
// When GetTempPathA's buffer is too small it returns the size needed and
// writes nothing (Windows); with this switch it writes the text cut to fit.
void SetTempPathCutWhenShort(bool cut);
// A temp folder with letters that the code page may not hold: GetTempPathW
// gives it as it is. The fake's volumes make no short names: GetShortPathNameW
// gives every path back as it stands (Windows, with short names switched off),
// and the wide searches list no cAlternateFileName.
void SetTempPathWide(const std::wstring& text);
void SetVersion(BYTE major, BYTE minor, WORD build = 7601);
void SetCodePage(UINT codePage);  // 1252 or 932: IsDBCSLeadByte, conversions, paths, _mbs*
void SetModulePath(const std::string& path);
// A launcher path with letters that the code page may not hold: the W
// functions see it as it is.
void SetModulePathWide(const std::wstring& path);
void SetCommandLine(const std::wstring& commandLine);
void SetStartupInfo(const STARTUPINFOA& info);  // GetStartupInfoA hands it back, cb set

// Another process holding a file open (e.g. the stamp file with share mode 0).
// Returns an id for ReleaseExternalOpen.
int HoldOpenExternally(const std::string& file, DWORD access, DWORD shareMode);
void ReleaseExternalOpen(int id);

// ---- Fault injection. `function` is the Win32 name, e.g. "CopyFileA";
// `path`, when given, the file, folder or drive the call must name, as the
// caller writes it (either one of a call's two paths; SHFileOperationA: its
// first source). `nth` counts such calls from now on, 1 = the next one; 0 =
// every one. A failing call does nothing, sets the error and returns the
// function's failure value (SHFileOperationA returns the error as its result,
// CommandLineToArgvW returns NULL).
void FailCall(const std::string& function, int nth, DWORD error, const std::string& path = "");
enum class Throw { BadAlloc, Fake };
void ThrowFromCall(const std::string& function, int nth, Throw what, const std::string& path = "");
// The process dies right after a MoveFileA that names `path` took effect
// (the next such call, counted as for FailCall): it throws once the rename is done.
void ThrowAfterMove(const std::string& path);
// Calls of `function` that name `path` fail with `error` until the clock has
// moved on by `milliseconds` (a virus scanner holding a new file for a while).
void HoldUpCall(const std::string& function, const std::string& path, DWORD error, DWORD milliseconds);
void ClearInjections();

// Windows removes a folder link with RemoveDirectoryA; Wine 8 cannot
// (ERROR_DIR_NOT_EMPTY). Default true.
void SetLinksRemovable(bool removable);
// Wine 8: a copy of a folder passes over each file inside it that cannot be
// read or written, and reports success. Default false (the error stops it).
void SetShellDropsFileErrors(bool drops);
// The user presses Cancel in the progress dialog after `files` files were
// written (or deleted) by a shell operation: the operation stops there,
// fAnyOperationsAborted is TRUE and the result is ERROR_CANCELLED. Applies to
// every following operation with wFunc == onlyFunc (0: any) until set to -1.
void ShellCancelAfterFiles(int files, UINT onlyFunc = 0);
// Shell operations with wFunc == onlyFunc (0: any) return `result` without
// setting fAnyOperationsAborted; `perform` says whether the work is still
// done. result 0 switches it off.
void ShellReturnError(int result, bool perform, UINT onlyFunc = 0);

// ---- Time. The machine's clock starts at 0 and moves only when the launcher
// waits: Sleep and waits that time out advance it by their time, a wait for a
// mutex that another launcher lets go advances it to that moment.
// GetTickCount reads it, and GetSystemTimeAsFileTime as 2026-01-01 plus the
// clock; calls held up with HoldUpCall fail until it passes their end.
void AdvanceClock(ULONGLONG milliseconds);  // time passes between two runs

// ---- Named mutexes and another launcher holding one. Mutexes are created open;
// waiting on one held by the launcher itself succeeds at once (recursion).
enum class MutexHolder {
    None,      // free
    Releases,  // another launcher releases it `heldFor` ms from now, after `whileHeld` ran
    Dies,      // its holder ends `heldFor` ms from now, after `whileHeld` ran: WAIT_ABANDONED
};
// A wait that reaches the moment of release or death takes the mutex there;
// one that ends before it times out. heldFor = INFINITE: held past every wait.
void SetMutexHolder(const std::string& name, MutexHolder holder, DWORD heldFor = 0,
                    std::function<void()> whileHeld = {});
struct MutexRecord {
    bool openToEveryone;  // created with a security descriptor that has no access list
    std::vector<DWORD> waitResults;
};
std::optional<MutexRecord> Mutex(const std::string& name);  // nullopt: never created

// ---- Records.
struct CallRecord {
    std::string function;
    std::string arg;  // the main argument: a path ("from -> to" for two), a name, a text
};
const std::vector<CallRecord>& Calls();  // GetLastError, SetLastError, IsDBCSLeadByte are not logged
int CallCount(const std::string& function, const std::string& argContains = "");
void ClearCalls();

struct ProcessRecord {
    std::optional<std::string> applicationName;
    std::optional<std::string> commandLine;
    BOOL inheritHandles;
    DWORD creationFlags;
    LPVOID environment;
    std::optional<std::string> currentDirectory;
    bool hasStartupInfo;
    STARTUPINFOA startupInfo;  // copy of the caller's record (cb included)
    BOOL result;
    DWORD error;               // 0 on success
    std::string executable;    // the file that was started, on success
    bool wide;                 // CreateProcessW: the texts above are UTF-8
};
const std::vector<ProcessRecord>& Processes();

struct MessageBoxRecord {
    HWND owner;
    std::optional<std::string> text;
    std::optional<std::string> caption;
    UINT type;
};
const std::vector<MessageBoxRecord>& MessageBoxes();

struct ShellOpRecord {
    HWND hwnd;
    UINT func;
    FILEOP_FLAGS flags;
    std::vector<std::string> from;  // the double-NUL list, read up to its end
    bool toIsNull;
    std::vector<std::string> to;
    LPVOID nameMappings;
    std::optional<std::string> progressTitle;
    int result;
    BOOL aborted;
};
const std::vector<ShellOpRecord>& ShellOps();

// ---- Resource counters.
int OpenFileHandles();        // CreateFileA and NtOpenProcessToken handles not closed yet
int OpenSearches();           // FindFirstFileA handles not closed yet
int OutstandingArgvBlocks();  // CommandLineToArgvW and LocalAlloc blocks not released with LocalFree
int BadHandleCloses();        // CloseHandle/FindClose/FindNextFileA on a handle that is not open
int BadLocalFrees();          // LocalFree of a block that is not live (double free included)
int OpenMutexHandles();       // CreateMutexA handles not closed
int OwnedMutexes();           // waits that succeeded and were not released

}  // namespace fake
