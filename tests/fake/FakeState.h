// Internals of the fake machine, shared by its source files. Tests use
// FakeMachine.h instead.
#pragma once

#include "FakeMachine.h"

#include <cstdlib>
#include <memory>
#include <set>

namespace fake::detail {

struct Drive;

struct Node {
    std::string name;
    bool folder = false;
    std::string linkTarget;  // not empty: a folder link to this absolute path
    DWORD attributes = 0;    // files only; folders report theirs from folder/link
    std::string data;
    bool big = false;        // size declared, bytes not stored
    ULONGLONG bigSize = 0;
    bool notWritable = false;
    std::unique_ptr<Security> security;  // none: the default one
    Node* parent = nullptr;
    Drive* drive = nullptr;
    std::vector<std::unique_ptr<Node>> children;

    bool IsLink() const { return !linkTarget.empty(); }
    ULONGLONG Size() const { return big ? bigSize : data.size(); }
};

struct Drive {
    std::string root;  // "C:" or "\\host\share"
    UINT type = DRIVE_FIXED;
    ULONGLONG freeBytes = 0;
    ULONGLONG totalBytes = 0;
    DWORD sectorsPerCluster = 8;
    DWORD bytesPerSector = 512;
    std::unique_ptr<Node> top;

    ULONGLONG Cluster() const { return (ULONGLONG)sectorsPerCluster * bytesPerSector; }
};

// A parsed absolute path: its volume and its names, "." and ".." folded.
struct Path {
    std::string volume;
    std::vector<std::string> parts;
    bool trailingSeparator = false;
};

struct Lookup {
    Node* node = nullptr;    // the entry found
    Node* parent = nullptr;  // its folder (link targets already followed); set when only the last name is missing
    std::string leaf;        // the last name as written
    DWORD error = 0;
};

struct FileOpen {
    Node* node;  // a file, or a folder opened with FILE_FLAG_BACKUP_SEMANTICS
    DWORD access;
    DWORD share;
    ULONGLONG position = 0;
    bool external = false;
};

struct Search {
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
    std::string pattern;  // as the caller wrote it: FindNextFileA's faults aim at it
};

struct Injection {
    std::string function;
    std::string path;  // "": any call; else only calls that name this path
    int countdown;     // 0: every call
    DWORD error;
    bool throws;
    Throw what;
    bool after = false;  // fires once the call took effect (Leave), not before
};

// Calls held up for a while: they fail until the clock reaches `until`.
struct HoldUp {
    std::string function;
    std::string path;  // as for Injection
    DWORD error;
    ULONGLONG until;
};

struct MutexState {
    MutexHolder holder = MutexHolder::None;
    ULONGLONG heldUntil = 0;  // on the clock; ~0: past every wait
    std::function<void()> whileHeld;
    bool created = false;
    int owned = 0;  // by the launcher
    MutexRecord record{};
};

struct Machine {
    std::vector<std::unique_ptr<Drive>> drives;
    Path currentDirectory;

    std::map<std::string, std::string> env;  // key: upper-case name
    std::string tempPath = "C:\\TEMP\\";
    bool tempPathCut = false;
    std::wstring tempPathWide;  // set: the real temp path, tempPath unused
    DWORD version = (7601u << 16) | (1u << 8) | 6u;
    UINT codePage = 1252;
    std::string modulePath = "C:\\app.exe";
    std::wstring modulePathWide;  // set: the real path, modulePath its ANSI form
    std::wstring commandLine = L"\"C:\\app.exe\"";
    STARTUPINFOA startupInfo{};

    bool linksRemovable = true;
    int shellCancelAfter = -1;
    UINT shellCancelFunc = 0;
    int shellError = 0;
    bool shellErrorPerform = false;
    UINT shellErrorFunc = 0;
    bool shellDropsFileErrors = false;

    DWORD lastError = 0;
    UINT tempCounter = 0;
    ULONGLONG clock = 0;  // milliseconds since the machine started

    uintptr_t nextHandle = 0x1000;
    std::map<uintptr_t, FileOpen> opens;  // handles and external opens
    std::map<uintptr_t, Search> searches;
    std::map<std::string, MutexState> mutexes;
    std::map<uintptr_t, std::string> mutexHandles;
    std::set<void*> argvBlocks;
    int openTokens = 0;  // NtOpenProcessToken handles not closed
    int badHandleCloses = 0;
    int badLocalFrees = 0;

    std::vector<Injection> injections;
    std::vector<HoldUp> holdUps;
    std::vector<CallRecord> calls;
    std::vector<ProcessRecord> processes;
    std::vector<MessageBoxRecord> messageBoxes;
    std::vector<ShellOpRecord> shellOps;

    Machine();
    ~Machine();
};

Machine& M();

// Logs the call and applies injections: returns true when the call must fail
// (the last error is already set), throws when a test asked for an exception.
bool Enter(const char* function, const std::string& arg);
// The end of a call that took effect: throws for an injection that fires after it.
void Leave(const char* function, const std::string& arg);
std::string Str(const char* text);
std::string Narrow(const wchar_t* text);  // UTF-8, for logs
std::wstring Widen(const std::string& text, UINT codePage);  // ANSI text in a code page
std::string ToAnsiText(const std::wstring& text, UINT codePage, bool& defaulted);  // its inverse, '?' where it fails
BOOL Fail(DWORD error);                   // sets the last error, returns FALSE

// Code page helpers.
bool IsLead(unsigned char c, UINT codePage);
bool IsLead(unsigned char c);  // in the machine's code page
bool NamesEqual(const std::string& a, const std::string& b);
bool MatchPattern(const std::string& pattern, const std::string& name);
bool HasWildcards(const std::string& name);

// Paths and lookups.
// Win32 functions refuse paths of MAX_PATH characters or more; the control
// functions pass limitLength = false, since a disk can hold longer paths.
bool ParsePath(const char* text, Path& out, DWORD& error, bool wildcardsInLast = false, bool limitLength = true);
Drive* FindDrive(const std::string& volume);
Lookup Resolve(const Path& path, bool followLast);
Node* FollowLink(const Node* link, DWORD& error);
Node* FindChild(const Node* folder, const std::string& name);
DWORD Attributes(const Node* node);
bool IsInside(const Node* node, const Node* folder);  // node == folder or below it

// The entries of an access list the launcher built (FakeSecurity.cpp).
std::vector<Ace> ParseAcl(const ACL* acl);

// Operations shared by kernel32 and the shell, with Windows' checks.
DWORD CheckWritable(const Node* folder);
DWORD CheckShare(const Node* file, DWORD access, DWORD share);
bool HasOpensInside(const Node* node);
DWORD PutFile(Node* folder, const std::string& name, const Node& source, Node** out = nullptr);
void Truncate(Node* file);
DWORD CreateFolder(Node* parent, const std::string& name, Node** out);
DWORD DeleteFileNode(Node* file, bool evenReadOnly);
DWORD RemoveFolderNode(Node* folder);
DWORD Rename(Node* node, Node* newParent, const std::string& newName);

uintptr_t NewHandle();
const uintptr_t kTokenHandle = 0x7ff1;  // the one process token

// The searches behind FindFirstFileA/W and FindNextFileA/W.
HANDLE StartSearch(LPCSTR pattern, LPWIN32_FIND_DATAA first);
BOOL NextSearchEntry(HANDLE search, LPWIN32_FIND_DATAA next);

}  // namespace fake::detail
