// Where copies of the viewer live on the hard disk, and how they are judged.
#include "app/LauncherApp.h"

#include <cwchar>

CString CLauncherApp::GetAllUsersFolder()
{
    // Windows 6 and later keep the folder shared by all users under PUBLIC.
    LPCSTR name = (GetVersion() & 0xFF) >= 6 ? "PUBLIC" : "ALLUSERSPROFILE";
    CString folder;
    DWORD length = GetEnvironmentVariableA(name, folder.GetBuffer(324), 324);
    if (length == 0 || length >= 324) {  // not set, or too long: the size it needs
        folder.ReleaseBuffer(0);
        return folder;
    }
    folder.ReleaseBuffer(static_cast<int>(length));
    return folder;
}

BOOL CLauncherApp::IsFolderWritable(CString folder)
{
    char name[MAX_PATH] = "";
    BOOL gotName = FALSE;
    HANDLE file = INVALID_HANDLE_VALUE;
    try {
        if (GetTempFileNameA(folder, "dvt", 0, name) == 0)
            return FALSE;
        gotName = TRUE;
        file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE) {
            DeleteFileA(name);
            return FALSE;
        }
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
        DeleteFileA(name);
        return TRUE;
    } catch (...) {
        try {
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
            if (gotName)
                DeleteFileA(name);
        } catch (...) {
            // nothing more can be done; the test still answers FALSE
        }
        return FALSE;
    }
}

// Judges the copy in a copy folder by its stamp against the medium's, and a
// copy that is new enough by its record: one that has lost files since it was
// installed is out of date too. An out-of-date copy is listed for deletion;
// one without a stamp is left alone. A shared copy that another user could
// have written counts as out of date; such a copy in a profile is that
// user's, and is left alone.
BOOL CLauncherApp::IsCopyUpToDate(const CString& copyFolder, CopyPlace place)
{
    CString stamp = ReadVersionStamp(copyFolder + "\\VIEWER\\bin\\Version*.txt");
    if (stamp.IsEmpty())
        return FALSE;
    BOOL trusted = place == TEMP_COPY || IsCopyTrusted(copyFolder);
    if (!trusted && place == PROFILE_COPY)
        return FALSE;
    if (trusted && IsVersionAtLeast(stamp, m_strMediaVersion) && MatchesCopyRecord(copyFolder))
        return TRUE;
    ReleaseHeldCopy();
    m_arrStaleCopies.Add(copyFolder);
    return FALSE;
}

// A location whose copy folder this launch could not clear, or stage a copy
// beside, counts as not writable: the next location gets the copy.
BOOL CLauncherApp::IsUsableTarget(const CString& copyFolder)
{
    return m_strUnusableTarget.IsEmpty() || !IsSameFolder(copyFolder, m_strUnusableTarget);
}

// Windows compares paths without regard to letter case.
BOOL CLauncherApp::IsSameFolder(const CString& one, const CString& other)
{
    return _mbsicmp(MbText(one), MbText(other)) == 0;
}

BOOL CLauncherApp::ProbeSharedLocation(int collect)
{
    CString allUsers = GetAllUsersFolder();
    if (allUsers.IsEmpty())
        return FALSE;
    CString base = allUsers + "\\Application Data";
    CString copy = base + "\\Zelvo Disc 11";
    if (collect) {
        m_arrStaleCopies.Add(copy);
        return TRUE;
    }

    RecoverStagedCopy(copy);
    if (IsCopyUpToDate(copy, SHARED_COPY)) {
        m_strSharedCopy = copy;
        return TRUE;
    }
    if (m_bCopyAllowed && IsUsableTarget(copy) && IsFolderWritable(base))
        m_strCopyTarget = copy;
    return FALSE;
}

// The temp folder as GetTempPathW gives it, trailing backslash and all, as
// ANSI text; empty when there is none to go by. A folder whose path the ANSI
// code page cannot hold (a user name in another alphabet) goes by its short
// path instead.
CString CLauncherApp::GetTempFolder()
{
    CWideText wide(1300, L'\0');
    DWORD length = GetTempPathW(1300, &wide[0]);
    // A path too long for the buffer comes back as the size it needs: the
    // buffer then holds nothing to go by.
    if (length == 0 || length >= 1300)
        return CString();
    wide.resize(wcslen(wide.c_str()));
    if (wide.empty())
        return CString();
    CString folder = ToAnsiPath(wide);
    if (folder.IsEmpty())
        folder = GetShortAnsiPath(wide);
    return folder;
}

// The short (8.3) form of an existing path as ANSI text; empty when it has
// none that the ANSI code page holds. A volume without short names gives the
// long path back.
CString CLauncherApp::GetShortAnsiPath(const CWideText& wide)
{
    CWideText shortPath(1300, L'\0');
    DWORD length = GetShortPathNameW(wide.c_str(), &shortPath[0], 1300);
    if (length == 0 || length >= 1300)
        return CString();
    shortPath.resize(length);
    return ToAnsiPath(shortPath);
}

BOOL CLauncherApp::ProbeTempLocation(int collect)
{
    CString base = GetTempFolder();
    if (base.IsEmpty())
        return FALSE;
    if (base.ReverseFind('\\') == base.GetLength() - 1)
        base = base.Left(base.GetLength() - 1);
    CString copy = base + "\\Zelvo Disc 11";
    if (collect) {
        m_arrStaleCopies.Add(copy);
        return TRUE;
    }

    RecoverStagedCopy(copy);
    if (IsCopyUpToDate(copy, TEMP_COPY)) {
        m_strTempCopy = copy;
        return TRUE;
    }
    if (m_bCopyAllowed && m_strCopyTarget.IsEmpty() && IsUsableTarget(copy) && IsFolderWritable(base))
        m_strCopyTarget = copy;
    return FALSE;
}

BOOL CLauncherApp::ProbeProfileLocations(int collect)
{
    CString allUsers = GetAllUsersFolder();
    if (allUsers.IsEmpty())
        return FALSE;
    CString profiles = allUsers.Left(allUsers.ReverseFind('\\'));

    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(ToWidePath(profiles + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return FALSE;

    BOOL foundUpToDate = FALSE;
    try {
        do {
            if (entry.cFileName[0] == L'.' || !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                continue;
            CString name = GetAnsiEntryName(entry);
            if (name.IsEmpty())
                continue;  // no name that the ANSI calls could follow
            CString copy = profiles + "\\" + name + "\\Local Settings\\Temp\\Zelvo Disc 11";
            if (collect) {
                m_arrStaleCopies.Add(copy);
                continue;
            }
            RecoverStagedCopy(copy);
            if (IsCopyUpToDate(copy, PROFILE_COPY)) {
                m_strProfileCopy = copy;
                foundUpToDate = TRUE;
                break;
            }
        } while (FindNextFileW(search, &entry));
    } catch (...) {
        FindClose(search);  // the search is ours to close, whatever happens
        throw;
    }
    FindClose(search);
    return collect ? TRUE : foundUpToDate;
}

// ANSI text as a wide call takes it: what the ANSI calls make of it.
CWideText CLauncherApp::ToWidePath(const CString& path)
{
    int chars = MultiByteToWideChar(CP_ACP, 0, path, -1, NULL, 0);
    if (chars <= 0)
        return CWideText();
    CWideText wide(static_cast<size_t>(chars), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, &wide[0], chars) != chars)
        return CWideText();
    wide.resize(static_cast<size_t>(chars) - 1);
    return wide;
}

// A folder entry's name as ANSI text: its long name where the ANSI code page
// holds it, else its short (8.3) name; empty when neither can be held (the
// volume makes no short names, or the short name too lies outside it).
CString CLauncherApp::GetAnsiEntryName(const WIN32_FIND_DATAW& entry)
{
    CString name = ToAnsiPath(entry.cFileName);
    if (name.IsEmpty())
        name = ToAnsiPath(entry.cAlternateFileName);
    return name;
}

BOOL CLauncherApp::ProbeCopies()
{
    ReleaseHeldCopy();
    m_strSharedCopy.Empty();
    m_strProfileCopy.Empty();
    m_strTempCopy.Empty();
    m_strCopyTarget.Empty();
    // Every probe starts from the medium: a copy chosen as source for one
    // target is no source for another.
    m_strCopySource = m_strMediaRoot;

    if (ProbeSharedLocation(0))
        return TRUE;
    BOOL sharedIsTarget = !m_strCopyTarget.IsEmpty();

    // An up-to-date copy elsewhere is moved into the shared location rather
    // than copied afresh from the medium.
    if (ProbeTempLocation(0)) {
        if (sharedIsTarget)
            m_strCopySource = m_strTempCopy;
        return TRUE;
    }
    if (ProbeProfileLocations(0)) {
        if (sharedIsTarget)
            m_strCopySource = m_strProfileCopy;
        return TRUE;
    }
    return FALSE;
}
