// Copies that another user could have written. Every user may create folders
// in the shared location, and may change what others put there; another
// user's profile is theirs. A viewer started from such a copy would run with
// this user's rights whatever program it is, so a copy there is used only
// when nobody but this user, the administrators and the system could have
// written it, and the launcher's own copies are made so that nobody else can.
#include "app/LauncherApp.h"

#include <cstring>

// Accounts every Windows machine has, laid out as a SID.
struct CWellKnownSid
{
    BYTE revision;
    BYTE subCount;
    BYTE authority[6];
    DWORD sub[6];
};
static const CWellKnownSid SYSTEM_SID = {1, 1, {0, 0, 0, 0, 0, 5}, {18}};
static const CWellKnownSid ADMINISTRATORS_SID = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 544}};
static const CWellKnownSid USERS_SID = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 545}};
static const CWellKnownSid TRUSTED_INSTALLER_SID = {
    1, 6, {0, 0, 0, 0, 0, 5}, {80, 956008885, 3418522649u, 1831038044, 1853292631, 2271478464u}};
// Stands for whoever creates an entry below: it gives nothing on the folder itself.
static const CWellKnownSid CREATOR_OWNER_SID = {1, 1, {0, 0, 0, 0, 0, 3}, {0}};

// What lets someone change a folder or what it holds.
static const DWORD CHANGE_RIGHTS = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | FILE_DELETE_CHILD | WRITE_DAC |
                                   WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

static PSID AsSid(const CWellKnownSid& sid)
{
    return const_cast<CWellKnownSid*>(&sid);
}

static BOOL IsSameSid(PSID a, PSID b)
{
    const BYTE* left = static_cast<const BYTE*>(a);
    const BYTE* right = static_cast<const BYTE*>(b);
    return left[1] == right[1] && memcmp(left, right, 8 + 4 * static_cast<size_t>(left[1])) == 0;
}

// An account of this launcher's process token, read into `buffer`: the user
// it runs as (TokenUser), or the owner of what it creates (TokenOwner: the
// user, or the Administrators group for an administrator's full rights).
// Both answers begin with the SID's address. NULL when the token cannot be read.
union CTokenSid
{
    PSID sid;
    BYTE bytes[sizeof(TOKEN_USER) + 68];  // 68: the largest SID
};

static PSID GetTokenSid(CTokenSid& buffer, TOKEN_INFORMATION_CLASS which)
{
    HANDLE token = NULL;
    if (!NT_SUCCESS(NtOpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)))
        return NULL;
    ULONG length = 0;
    NTSTATUS read = NtQueryInformationToken(token, which, &buffer, sizeof(buffer), &length);
    NtClose(token);
    return NT_SUCCESS(read) ? buffer.sid : NULL;
}

// The owner and access list of an open folder, as a descriptor in `buffer`;
// NULL when they cannot be read.
static PSECURITY_DESCRIPTOR ReadFolderSecurity(HANDLE folder, CString& buffer)
{
    ULONG length = 512;
    for (int tries = 0; tries < 2; tries++) {  // the second with the room the first asked for
        ULONG room = length;
        PSECURITY_DESCRIPTOR descriptor = buffer.GetBuffer(static_cast<int>(room));
        if (NT_SUCCESS(NtQuerySecurityObject(folder, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                             descriptor, room, &length)))
            return descriptor;
        if (length <= room || length > 0x30000)  // a descriptor holds two SIDs and one access list at most
            return NULL;
    }
    return NULL;
}

static BOOL IsTrustedAccount(PSID sid, PSID user)
{
    return IsSameSid(sid, user) || IsSameSid(sid, AsSid(ADMINISTRATORS_SID)) || IsSameSid(sid, AsSid(SYSTEM_SID)) ||
           IsSameSid(sid, AsSid(TRUSTED_INSTALLER_SID));
}

// Whether nobody but this user, the administrators and the system could have
// written the copy: its folder is owned by one of them, and its access list
// lets nobody else change the folder or what it holds. A folder whose
// security cannot be read proves nothing, nor does one without an access
// list (FAT). A trusted folder stays held open, so that nobody can rename it
// or put another in its place, until the viewer has started from it.
BOOL CLauncherApp::IsCopyTrusted(const CString& copyFolder)
{
    ReleaseHeldCopy();
    HANDLE folder = CreateFileA(copyFolder, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (folder == INVALID_HANDLE_VALUE)
        return FALSE;
    CTokenSid buffer;
    PSID user = GetTokenSid(buffer, TokenUser);
    CString security;
    PSECURITY_DESCRIPTOR descriptor = ReadFolderSecurity(folder, security);
    PSID owner = NULL;
    PACL dacl = NULL;
    BOOLEAN present = FALSE, defaulted = FALSE;
    BOOL trusted = user != NULL && descriptor != NULL &&
                   NT_SUCCESS(RtlGetOwnerSecurityDescriptor(descriptor, &owner, &defaulted)) &&
                   NT_SUCCESS(RtlGetDaclSecurityDescriptor(descriptor, &present, &dacl, &defaulted)) &&
                   owner != NULL && present && dacl != NULL && IsTrustedAccount(owner, user);
    for (DWORD i = 0; trusted && i < dacl->AceCount; i++) {
        ACCESS_ALLOWED_ACE* ace = NULL;
        if (!NT_SUCCESS(RtlGetAce(dacl, i, reinterpret_cast<PVOID*>(&ace))))
            trusted = FALSE;
        else if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE)
            trusted = !(ace->Mask & CHANGE_RIGHTS) || IsTrustedAccount(&ace->SidStart, user) ||
                      IsSameSid(&ace->SidStart, AsSid(CREATOR_OWNER_SID));
        else
            trusted = ace->Header.AceType == ACCESS_DENIED_ACE_TYPE;  // takes rights away, gives none
    }
    if (!trusted) {
        CloseHandle(folder);
        return FALSE;
    }
    m_hHeldCopy = folder;
    return TRUE;
}

void CLauncherApp::ReleaseHeldCopy()
{
    if (m_hHeldCopy == NULL)
        return;
    CloseHandle(m_hHeldCopy);
    m_hHeldCopy = NULL;
}

// The access list of the launcher's copy folders: the system, the
// administrators and the copy's owner have full control, every user may read
// and run the viewer, and it goes down to everything inside. A copy an
// administrator made is the Administrators group's, and so trusted by every
// user; one a user made, by that user alone.
struct CCopyFolderAcl
{
    union {
        ACL acl;
        DWORD room[128];
    };
    CTokenSid owner;
};

static PACL MakeCopyFolderAcl(CCopyFolderAcl& buffer)
{
    const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    PSID owner = GetTokenSid(buffer.owner, TokenOwner);
    PACL acl = &buffer.acl;
    if (owner == NULL || !InitializeAcl(acl, sizeof(buffer.room), ACL_REVISION) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, AsSid(SYSTEM_SID)) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, AsSid(ADMINISTRATORS_SID)) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, owner) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE,
                               AsSid(USERS_SID)))
        return NULL;
    return acl;
}

// Security attributes around a descriptor of the launcher's own making, as
// InitializeSecurityDescriptor and SetSecurityDescriptorDacl would make it,
// without loading advapi32. SE_DACL_PRESENT with no access list is open to
// every user.
SECURITY_ATTRIBUTES CLauncherApp::MakeSecurityAttributes(SECURITY_DESCRIPTOR& descriptor, WORD control, PACL dacl)
{
    memset(&descriptor, 0, sizeof(descriptor));
    descriptor.Revision = SECURITY_DESCRIPTOR_REVISION;
    descriptor.Control = control;
    descriptor.Dacl = dacl;
    SECURITY_ATTRIBUTES attributes;
    memset(&attributes, 0, sizeof(attributes));
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = &descriptor;
    attributes.bInheritHandle = FALSE;
    return attributes;
}

// Makes a folder for a new copy with that access list, and nothing inherited
// from the folder above, where every user may change what others put there.
BOOL CLauncherApp::CreateCopyFolder(const CString& folder)
{
    CCopyFolderAcl buffer;
    PACL acl = MakeCopyFolderAcl(buffer);
    if (acl == NULL)
        return FALSE;
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes = MakeSecurityAttributes(descriptor, SE_DACL_PRESENT | SE_DACL_PROTECTED, acl);
    return CreateDirectoryA(folder, &attributes);
}

// Gives a copy moved in from elsewhere the same access list, down to its files.
BOOL CLauncherApp::ProtectCopyFolder(const CString& folder)
{
    CCopyFolderAcl buffer;
    PACL acl = MakeCopyFolderAcl(buffer);
    CString name = folder;
    return acl != NULL && SetNamedSecurityInfoA(name.GetBuffer(name.GetLength()), SE_FILE_OBJECT,
                                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                NULL, NULL, acl, NULL) == ERROR_SUCCESS;
}
