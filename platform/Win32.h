// The Win32, shell and runtime services the launcher uses. The Windows build gets
// the real ones; the native test build gets the in-memory machine of the tests.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include <aclapi.h>
#include <mbstring.h>
#include <mbctype.h>
#include <winternl.h>
// ntdll's own calls behind advapi32's OpenProcessToken, GetTokenInformation,
// GetSecurityInfo and GetAce. ntdll is in every process: advapi32, and the
// DLLs it needs, would be loaded at every launch from a shared copy.
extern "C" {
NTSTATUS NTAPI NtOpenProcessToken(HANDLE ProcessHandle, ACCESS_MASK DesiredAccess, PHANDLE TokenHandle);
NTSTATUS NTAPI NtQueryInformationToken(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                                       PVOID TokenInformation, ULONG TokenInformationLength, PULONG ReturnLength);
NTSTATUS NTAPI NtQuerySecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                                     PSECURITY_DESCRIPTOR SecurityDescriptor, ULONG Length, PULONG LengthNeeded);
NTSTATUS NTAPI RtlGetOwnerSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, PSID* Owner,
                                             PBOOLEAN OwnerDefaulted);
NTSTATUS NTAPI RtlGetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, PBOOLEAN DaclPresent, PACL* Dacl,
                                            PBOOLEAN DaclDefaulted);
NTSTATUS NTAPI RtlGetAce(PACL Acl, ULONG AceIndex, PVOID* Ace);
}
#else
#include "FakeWindows.h"
#endif
