// The security calls of ntdll and advapi32 on the fake disk: owners and access lists of
// folders, in the binary layout Windows uses, and the process's user.
#include "FakeState.h"

#include <cstdio>
#include <cstdlib>

using namespace fake;
using namespace fake::detail;

namespace {

const uintptr_t kProcess = 0x7ff0;

// "S-1-5-21-..." as a SID's bytes.
std::string SidBytes(const std::string& text)
{
    std::vector<unsigned long long> numbers;
    for (size_t at = 2; at < text.size();) {
        size_t end = text.find('-', at);
        numbers.push_back(std::strtoull(text.c_str() + at, nullptr, 10));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    std::string bytes(8 + 4 * (numbers.size() - 2), '\0');
    bytes[0] = (char)numbers[0];
    bytes[1] = (char)(numbers.size() - 2);
    bytes[7] = (char)numbers[1];
    for (size_t i = 2; i < numbers.size(); i++)
        for (int b = 0; b < 4; b++)
            bytes[8 + 4 * (i - 2) + b] = (char)(numbers[i] >> (8 * b));
    return bytes;
}

size_t SidLength(const void* sid) { return 8 + 4 * static_cast<const BYTE*>(sid)[1]; }

std::string AclBytes(const std::vector<Ace>& aces)
{
    std::string body;
    for (const Ace& ace : aces) {
        std::string sid = SidBytes(ace.sid);
        WORD size = (WORD)(8 + sid.size());
        char header[8] = {(char)ace.type, (char)ace.flags, (char)(size & 0xff), (char)(size >> 8)};
        std::memcpy(header + 4, &ace.mask, 4);
        body += std::string(header, 8) + sid;
    }
    ACL acl = {ACL_REVISION, 0, (WORD)(sizeof(ACL) + body.size()), (WORD)aces.size(), 0};
    return std::string(reinterpret_cast<const char*>(&acl), sizeof acl) + body;
}

Node* OpenedNode(HANDLE handle)
{
    auto it = M().opens.find((uintptr_t)handle);
    return it == M().opens.end() || it->second.external ? nullptr : it->second.node;
}

}  // namespace

static std::string SidText(const void* sid)
{
    const BYTE* b = static_cast<const BYTE*>(sid);
    std::string text = "S-" + std::to_string(b[0]) + "-" + std::to_string(b[7]);
    for (int i = 0; i < b[1]; i++) {
        DWORD sub;
        std::memcpy(&sub, b + 8 + 4 * i, 4);
        text += "-" + std::to_string(sub);
    }
    return text;
}

std::vector<Ace> fake::detail::ParseAcl(const ACL* acl)
{
    std::vector<Ace> aces;
    const BYTE* at = reinterpret_cast<const BYTE*>(acl) + sizeof(ACL);
    for (WORD i = 0; i < acl->AceCount; i++) {
        const ACE_HEADER* header = reinterpret_cast<const ACE_HEADER*>(at);
        DWORD mask;
        std::memcpy(&mask, at + 4, 4);
        aces.push_back({SidText(at + 8), mask, header->AceFlags, header->AceType});
        at += header->AceSize;
    }
    return aces;
}

namespace {

const NTSTATUS kUnsuccessful = (NTSTATUS)0xC0000001;
const NTSTATUS kInvalidHandle = (NTSTATUS)0xC0000008;
const NTSTATUS kInvalidParameter = (NTSTATUS)0xC000000D;
const NTSTATUS kAccessDenied = (NTSTATUS)0xC0000022;
const NTSTATUS kBufferTooSmall = (NTSTATUS)0xC0000023;

// A self-relative descriptor: the header, then the owner and the access
// list, each found by its offset (0: none).
struct Relative {
    BYTE revision, sbz1;
    WORD control;
    DWORD owner, group, sacl, dacl;
};

std::string DescriptorBytes(const Security& security, SECURITY_INFORMATION which)
{
    std::string sid = (which & OWNER_SECURITY_INFORMATION) ? SidBytes(security.owner) : std::string();
    bool dacl = (which & DACL_SECURITY_INFORMATION) != 0;
    std::string acl = dacl && !security.nullDacl ? AclBytes(security.dacl) : std::string();
    WORD control = (WORD)(SE_SELF_RELATIVE | (dacl ? SE_DACL_PRESENT : 0) | (security.isProtected ? SE_DACL_PROTECTED : 0));
    Relative header = {SECURITY_DESCRIPTOR_REVISION, 0, control, sid.empty() ? 0 : (DWORD)sizeof(Relative), 0, 0,
                       acl.empty() ? 0 : (DWORD)(sizeof(Relative) + sid.size())};
    return std::string(reinterpret_cast<const char*>(&header), sizeof header) + sid + acl;
}

const Relative* AsRelative(PSECURITY_DESCRIPTOR descriptor)
{
    const Relative* header = static_cast<const Relative*>(descriptor);
    return header->revision == SECURITY_DESCRIPTOR_REVISION && (header->control & SE_SELF_RELATIVE) ? header : nullptr;
}

}  // namespace

HANDLE GetCurrentProcess(void) { return (HANDLE)kProcess; }

NTSTATUS NtOpenProcessToken(HANDLE ProcessHandle, ACCESS_MASK, PHANDLE TokenHandle)
{
    if (Enter("NtOpenProcessToken", ""))
        return kUnsuccessful;
    if ((uintptr_t)ProcessHandle != kProcess)
        return kInvalidHandle;
    ++M().openTokens;
    *TokenHandle = (HANDLE)kTokenHandle;
    return 0;
}

// The user, who also owns what the launcher creates (a standard user's token).
NTSTATUS NtQueryInformationToken(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                                 PVOID TokenInformation, ULONG TokenInformationLength, PULONG ReturnLength)
{
    if (Enter("NtQueryInformationToken", TokenInformationClass == TokenUser ? "TokenUser" : "TokenOwner"))
        return kUnsuccessful;
    if ((uintptr_t)TokenHandle != kTokenHandle || M().openTokens == 0)
        return kInvalidHandle;
    if (TokenInformationClass != TokenUser && TokenInformationClass != TokenOwner)
        return kInvalidParameter;
    std::string sid = SidBytes(sid::kUser);
    *ReturnLength = (ULONG)(sizeof(TOKEN_USER) + sid.size());
    if (TokenInformationLength < *ReturnLength)
        return kBufferTooSmall;
    BYTE* bytes = static_cast<BYTE*>(TokenInformation) + sizeof(TOKEN_USER);
    std::memcpy(bytes, sid.data(), sid.size());
    if (TokenInformationClass == TokenUser)
        *static_cast<TOKEN_USER*>(TokenInformation) = TOKEN_USER{{bytes, 0}};
    else
        *static_cast<TOKEN_OWNER*>(TokenInformation) = TOKEN_OWNER{bytes};
    return 0;
}

NTSTATUS NtClose(HANDLE Handle)
{
    if (Enter("NtClose", ""))
        return kUnsuccessful;
    if ((uintptr_t)Handle == kTokenHandle && M().openTokens > 0) {
        --M().openTokens;
        return 0;
    }
    ++M().badHandleCloses;
    return kInvalidHandle;
}

NTSTATUS NtQuerySecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                               PSECURITY_DESCRIPTOR SecurityDescriptor, ULONG Length, PULONG LengthNeeded)
{
    if (Enter("NtQuerySecurityObject", ""))
        return kUnsuccessful;
    Node* node = OpenedNode(Handle);
    if (!node)
        return kInvalidHandle;
    Security security = node->security ? *node->security : Security();
    if (security.unreadable)
        return kAccessDenied;
    std::string bytes = DescriptorBytes(security, SecurityInformation);
    *LengthNeeded = (ULONG)bytes.size();
    if (Length < bytes.size())
        return kBufferTooSmall;
    std::memcpy(SecurityDescriptor, bytes.data(), bytes.size());
    return 0;
}

NTSTATUS RtlGetOwnerSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, PSID* Owner, PBOOLEAN OwnerDefaulted)
{
    const Relative* header = AsRelative(SecurityDescriptor);
    if (!header)
        return kInvalidParameter;
    *Owner = header->owner ? (BYTE*)SecurityDescriptor + header->owner : nullptr;
    *OwnerDefaulted = 0;
    return 0;
}

NTSTATUS RtlGetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, PBOOLEAN DaclPresent, PACL* Dacl,
                                      PBOOLEAN DaclDefaulted)
{
    const Relative* header = AsRelative(SecurityDescriptor);
    if (!header)
        return kInvalidParameter;
    *DaclPresent = (header->control & SE_DACL_PRESENT) != 0;
    *Dacl = header->dacl ? reinterpret_cast<PACL>((BYTE*)SecurityDescriptor + header->dacl) : nullptr;
    *DaclDefaulted = 0;
    return 0;
}

DWORD SetNamedSecurityInfoA(LPSTR pObjectName, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo, PSID,
                            PSID, PACL pDacl, PACL)
{
    if (Enter("SetNamedSecurityInfoA", Str(pObjectName)))
        return GetLastError();
    Path p;
    DWORD error = 0;
    if (ObjectType != SE_FILE_OBJECT || SecurityInfo & ~(DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION) ||
        !pDacl || !ParsePath(pObjectName, p, error))
        return error ? error : ERROR_INVALID_PARAMETER;
    Lookup found = Resolve(p, true);
    if (!found.node)
        return found.error ? found.error : ERROR_FILE_NOT_FOUND;
    Security security = found.node->security ? *found.node->security : Security();
    security.dacl = ParseAcl(pDacl);
    security.isProtected = (SecurityInfo & PROTECTED_DACL_SECURITY_INFORMATION) != 0;
    found.node->security = std::make_unique<Security>(security);
    return ERROR_SUCCESS;
}

BOOL InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision)
{
    if (nAclLength < sizeof(ACL) || dwAclRevision != ACL_REVISION)
        return Fail(ERROR_INVALID_PARAMETER);
    *pAcl = ACL{ACL_REVISION, 0, (WORD)nAclLength, 0, 0};
    return TRUE;
}

BOOL AddAccessAllowedAceEx(PACL pAcl, DWORD dwAceRevision, DWORD AceFlags, DWORD AccessMask, PSID pSid)
{
    if (dwAceRevision != ACL_REVISION)
        return Fail(ERROR_INVALID_PARAMETER);
    BYTE* at = reinterpret_cast<BYTE*>(pAcl) + sizeof(ACL);
    for (WORD i = 0; i < pAcl->AceCount; i++)
        at += reinterpret_cast<ACE_HEADER*>(at)->AceSize;
    WORD size = (WORD)(8 + SidLength(pSid));
    if (at + size > reinterpret_cast<BYTE*>(pAcl) + pAcl->AclSize)
        return Fail(ERROR_BUFFER_OVERFLOW);  // Windows: ERROR_ALLOTTED_SPACE_EXCEEDED
    ACE_HEADER header = {ACCESS_ALLOWED_ACE_TYPE, (BYTE)AceFlags, size};
    std::memcpy(at, &header, 4);
    std::memcpy(at + 4, &AccessMask, 4);
    std::memcpy(at + 8, pSid, SidLength(pSid));
    pAcl->AceCount++;
    return TRUE;
}

NTSTATUS RtlGetAce(PACL Acl, ULONG AceIndex, PVOID* Ace)
{
    if (AceIndex >= Acl->AceCount)
        return kInvalidParameter;
    BYTE* at = reinterpret_cast<BYTE*>(Acl) + sizeof(ACL);
    for (ULONG i = 0; i < AceIndex; i++)
        at += reinterpret_cast<ACE_HEADER*>(at)->AceSize;
    *Ace = at;
    return 0;
}
