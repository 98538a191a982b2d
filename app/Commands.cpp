// The three commands: launch, delete and repair.
#include "app/LauncherApp.h"

void CLauncherApp::RunLaunch()
{
    if (!LocateMedia()) {
        // A medium on a fixed drive is as fast as any copy: start it as it is.
        StartViewer(m_strMediaRoot);
        return;
    }

    ProbeCopies();

    if (m_strSharedCopy.IsEmpty() && m_bCopyAllowed && !m_strCopyTarget.IsEmpty() &&
        _mbsicmp(MbText(m_strCopyTarget), MbText(m_strCopySource)) != 0) {
        for (INT_PTR i = 0; i < m_arrStaleCopies.GetSize(); i++) {
            try {
                CString stale = m_arrStaleCopies.GetAt(i);
                DeleteFolder(stale);
            } catch (...) {
                // one copy that cannot be deleted does not stop the others
            }
        }
        m_arrStaleCopies.SetSize(0, -1);

        if (HasRoomForCopy()) {
            InstallCopy();
            ProbeCopies();
        }
    }

    LaunchBestCopy();
}

void CLauncherApp::RunDelete()
{
    ProbeSharedLocation(1);
    ProbeTempLocation(1);
    ProbeProfileLocations(1);

    for (INT_PTR i = 0; i < m_arrStaleCopies.GetSize(); i++) {
        try {
            CString copy = m_arrStaleCopies.GetAt(i);
            DeleteFolder(copy);
            // and what an interrupted installation may have left beside it
            DeleteLeftover(copy + STAGING_SUFFIX);
        } catch (...) {
            // one copy that cannot be deleted does not stop the others
        }
    }
    m_arrStaleCopies.SetSize(0, -1);
}

void CLauncherApp::RunRepair()
{
    RunDelete();
    LocateMedia();
    ProbeCopies();
    m_strCopySource = m_strMediaRoot;

    if (m_strCopyTarget.IsEmpty() || !HasRoomForCopy() || !InstallCopy()) {
        MessageBoxA(NULL,
            "Cannot repair existing Zelvo Disc Advanced Viewer.\n"
            "Possible reasons:\n"
            " - No Advanced Viewer exists in current location\n"
            " - User doesn't have sufficient rights for the operation\n"
            " - Not enough free space to put Advanced Viewer\n"
            " - Error happened during copy operation",
            "Repair or copy error", MB_OK);
    }
}
