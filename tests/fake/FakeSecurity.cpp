// advapi32's security functions on the fake disk: owners and access lists of
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

// A self-relative security descriptor in a LocalAlloc block, as GetSecurityInfo gives it.
static PSECURITY_DESCRIPTOR MakeDescriptor(const Security& security, PSID* owner, PACL* dacl)
{
    // Self-relative: the header, then the owner and the access list, each found by its offset.
    struct Relative {
        BYTE revision, sbz1;
        WORD control;
        DWORD owner, group, sacl, dacl;
    };
    std::string sid = SidBytes(security.owner);
    std::string acl = security.nullDacl ? std::string() : AclBytes(security.dacl);
    Relative header = {SECURITY_DESCRIPTOR_REVISION, 0,
                       (WORD)(SE_SELF_RELATIVE | SE_DACL_PRESENT | (security.isProtected ? SE_DACL_PROTECTED : 0)),
                       (DWORD)sizeof(Relative), 0, 0, acl.empty() ? 0 : (DWORD)(sizeof(Relative) + sid.size())};
    std::string all = std::string(reinterpret_cast<const char*>(&header), sizeof header) + sid + acl;
    BYTE* block = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, all.size()));
    std::memcpy(block, all.data(), all.size());
    if (owner)
        *owner = block + header.owner;
    if (dacl)
        *dacl = header.dacl ? reinterpret_cast<PACL>(block + header.dacl) : nullptr;
    return reinterpret_cast<PSECURITY_DESCRIPTOR>(block);
}

HANDLE GetCurrentProcess(void) { return (HANDLE)kProcess; }

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD, PHANDLE TokenHandle)
{
    if (Enter("OpenProcessToken", ""))
        return FALSE;
    if ((uintptr_t)ProcessHandle != kProcess)
        return Fail(ERROR_INVALID_HANDLE);
    ++M().openTokens;
    *TokenHandle = (HANDLE)kTokenHandle;
    return TRUE;
}

// The user, who also owns what the launcher creates (a standard user's token).
BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass, LPVOID TokenInformation,
                         DWORD TokenInformationLength, LPDWORD ReturnLength)
{
    if (Enter("GetTokenInformation", TokenInformationClass == TokenUser ? "TokenUser" : "TokenOwner"))
        return FALSE;
    if ((uintptr_t)TokenHandle != kTokenHandle || M().openTokens == 0 ||
        (TokenInformationClass != TokenUser && TokenInformationClass != TokenOwner))
        return Fail(ERROR_INVALID_PARAMETER);
    std::string sid = SidBytes(sid::kUser);
    *ReturnLength = (DWORD)(sizeof(TOKEN_USER) + sid.size());
    if (TokenInformationLength < *ReturnLength)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    BYTE* bytes = static_cast<BYTE*>(TokenInformation) + sizeof(TOKEN_USER);
    std::memcpy(bytes, sid.data(), sid.size());
    if (TokenInformationClass == TokenUser)
        *static_cast<TOKEN_USER*>(TokenInformation) = TOKEN_USER{{bytes, 0}};
    else
        *static_cast<TOKEN_OWNER*>(TokenInformation) = TOKEN_OWNER{bytes};
    return TRUE;
}

DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo, PSID* ppsidOwner,
                      PSID*, PACL* ppDacl, PACL*, PSECURITY_DESCRIPTOR* ppSecurityDescriptor)
{
    if (Enter("GetSecurityInfo", ""))
        return GetLastError();
    Node* node = OpenedNode(handle);
    if (!node || ObjectType != SE_FILE_OBJECT || !ppSecurityDescriptor)
        return ERROR_INVALID_PARAMETER;
    Security security = node->security ? *node->security : Security();
    if (security.unreadable)
        return ERROR_ACCESS_DENIED;
    *ppSecurityDescriptor = MakeDescriptor(security, (SecurityInfo & OWNER_SECURITY_INFORMATION) ? ppsidOwner : nullptr,
                                           (SecurityInfo & DACL_SECURITY_INFORMATION) ? ppDacl : nullptr);
    return ERROR_SUCCESS;
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

BOOL GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce)
{
    if (dwAceIndex >= pAcl->AceCount)
        return Fail(ERROR_INVALID_PARAMETER);
    BYTE* at = reinterpret_cast<BYTE*>(pAcl) + sizeof(ACL);
    for (DWORD i = 0; i < dwAceIndex; i++)
        at += reinterpret_cast<ACE_HEADER*>(at)->AceSize;
    *pAce = at;
    return TRUE;
}
