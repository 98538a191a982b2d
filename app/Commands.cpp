// The three commands: launch, delete and repair.
#include "app/LauncherApp.h"

// Waits for the machine-wide lock on the copy folders. TRUE once this launcher
// holds it; FALSE when another launcher kept it past the wait, or it cannot be
// had at all. A launcher that ended while holding it hands it on as abandoned;
// whatever it left half done is cleaned up as after any interrupted
// installation.
BOOL CLauncherApp::LockCopyFolders(CMutex& lock)
{
    // Open to every user (no access list), as the shared location is: a lock
    // that only its creator could open would keep other users' launchers out.
    SECURITY_DESCRIPTOR everyone;
    SECURITY_ATTRIBUTES attributes = MakeSecurityAttributes(everyone, SE_DACL_PRESENT, NULL);
    return lock.Create(COPY_FOLDERS_LOCK, &attributes) && lock.Lock(COPY_FOLDERS_WAIT);
}

void CLauncherApp::RunLaunch()
{
    if (!LocateMedia()) {  // on a fixed drive, or outside the ANSI code page: the medium as it is
        StartViewerWide(m_wstrMediaRoot);
        return;
    }

    // Another launcher is changing the copy folders and has not finished in
    // time: the medium serves without them.
    CMutex lock;
    if (!LockCopyFolders(lock)) {
        StartViewer(m_strMediaRoot);
        return;
    }

    ProbeCopies();

    // A target found unusable on the way counts as not writable, and the
    // next location is tried once; an installation that failed lately from
    // this medium is not tried again for nothing.
    for (int tries = 0; tries < 2 && IsCopyToBeMade() && !IsInstallFailureRemembered(); tries++) {
        DeleteListedCopies(TRUE, FALSE);
        // What interrupted runs left anywhere would otherwise take the room the copy needs.
        ListEveryCopyFolder();
        DeleteListedCopies(FALSE, FALSE);
        CString target = m_strCopyTarget;
        // A failure there could not be remembered, and would be paid for at every launch.
        BOOL usable = ForgetInstallFailure(target);
        if (!usable)
            m_strUnusableTarget = target;
        else if (!HasRoomForCopy())
            break;
        BOOL installed = usable && InstallCopy();
        ProbeCopies();
        if (installed || !IsSameFolder(target, m_strUnusableTarget))
            break;
    }

    // Still under the lock: no other launcher may change the copy the viewer
    // is about to start from.
    LaunchBestCopy();
}

// Nothing is copied from a medium without a stamp (or whose stamp cannot be
// read): no launch could ever take such a copy for up to date. A stamped copy
// may still be moved.
BOOL CLauncherApp::IsCopyToBeMade()
{
    return m_strSharedCopy.IsEmpty() && m_bCopyAllowed && !m_strCopyTarget.IsEmpty() &&
           !IsSameFolder(m_strCopyTarget, m_strCopySource) &&
           (!m_strMediaVersion.IsEmpty() || !IsSameFolder(m_strCopySource, m_strMediaRoot));
}

// Lists the copy folder of every location, there or not, without looking at it.
void CLauncherApp::ListEveryCopyFolder()
{
    ProbeSharedLocation(1);
    ProbeTempLocation(1);
    ProbeProfileLocations(1);
}

// Deletes, for each listed copy folder, what interrupted runs left beside it,
// and with `copies` the folder itself, with `memories` the memory of a failed
// installation; then empties the list. One folder that cannot be deleted
// does not stop the others.
void CLauncherApp::DeleteListedCopies(BOOL copies, BOOL memories)
{
    for (INT_PTR i = 0; i < m_arrStaleCopies.GetSize(); i++) {
        try {
            CString copy = m_arrStaleCopies.GetAt(i);
            if (copies)
                DeleteFolder(copy);
            DeleteLeftovers(copy);
            if (memories)
                ForgetInstallFailure(copy);
        } catch (...) {
            // the next entry follows
        }
    }
    m_arrStaleCopies.RemoveAll();
}

void CLauncherApp::RunDelete()
{
    // Within a repair the lock is held already; a mutex is taken again by its holder at once.
    CMutex lock;
    if (!LockCopyFolders(lock))
        return;
    ListEveryCopyFolder();
    DeleteListedCopies(TRUE, TRUE);
}

void CLauncherApp::RunRepair()
{
    // Run from the launcher in a copy, the medium is that copy: the delete
    // would take the repair's own source with the rest. Nothing can be copied
    // either from a medium whose path the ANSI code page cannot hold.
    LocateMedia();
    BOOL repaired = FALSE;
    CMutex lock;
    if (!IsCopyFolder(m_strMediaRoot) && LockCopyFolders(lock)) {
        RunDelete();
        if (!m_strMediaRoot.IsEmpty()) {
            ProbeCopies();
            m_strCopySource = m_strMediaRoot;
            repaired = !m_strCopyTarget.IsEmpty() && HasRoomForCopy() && InstallCopy();
        }
    }

    // The message may stay up a long while: other launchers need not wait for it.
    lock.Close();
    if (!repaired)
        ShowRepairFailure();
}

// Whether a folder is named as every copy folder is, wherever it lies.
BOOL CLauncherApp::IsCopyFolder(const CString& folder)
{
    int name = folder.ReverseFind('\\');
    return name >= 0 && _mbsicmp(MbText(folder) + name, MbText("\\Zelvo Disc 11")) == 0;
}

void CLauncherApp::ShowRepairFailure()
{
    MessageBoxA(NULL,
        "Cannot repair existing Zelvo Disc Advanced Viewer.\n"
        "Possible reasons:\n"
        " - No Advanced Viewer exists in current location\n"
        " - User doesn't have sufficient rights for the operation\n"
        " - Not enough free space to put Advanced Viewer\n"
        " - Error happened during copy operation",
        "Repair or copy error", MB_OK);
}
