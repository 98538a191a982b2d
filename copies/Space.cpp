// Whether the target volume has room for a copy, counted in whole clusters.
#include "app/LauncherApp.h"

ULONGLONG CLauncherApp::RoundToClusters(ULONGLONG size, DWORD clusterSize)
{
    if (clusterSize == 0)  // no volume reports this; count the bytes as they are
        return size;
    ULONGLONG rest = size % clusterSize;
    return rest == 0 ? size : size + (clusterSize - rest);
}

ULONGLONG CLauncherApp::SumClusters(const CCopyTally& tally, DWORD clusterSize)
{
    ULONGLONG sum = 0;
    for (ULONGLONG size : tally.sizes)
        sum += RoundToClusters(size, clusterSize);
    return sum;
}

BOOL CLauncherApp::HasRoomForCopy()
{
    if (m_strCopyTarget.IsEmpty())
        return FALSE;

    CString parent = m_strCopyTarget.Left(m_strCopyTarget.ReverseFind('\\'));
    ULARGE_INTEGER freeToCaller, totalBytes, totalFree;
    if (!GetDiskFreeSpaceExA(parent, &freeToCaller, &totalBytes, &totalFree))
        return FALSE;

    CString drive = m_strCopyTarget.Left(m_strCopyTarget.Find(':') + 1);
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (!GetDiskFreeSpaceA(drive, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
        return FALSE;
    DWORD clusterSize = sectorsPerCluster * bytesPerSector;

    // A source that cannot be read in full would give a copy that fails its check.
    if (!CountCopySource())
        return FALSE;
    // What the target holds now is deleted before the copy, so it counts as room.
    ULONGLONG room = freeToCaller.QuadPart + GetFolderSize(m_strCopyTarget, clusterSize);
    return room > SumClusters(m_tallyCopySource, clusterSize);
}

// Counts the copy source once per launch: a fallback to the next location
// copies the same files. Nothing counted means no copy can be had from it.
BOOL CLauncherApp::CountCopySource()
{
    if (!IsSameFolder(m_strTalliedSource, m_strCopySource) || m_strTalliedSource.IsEmpty()) {
        m_strTalliedSource = m_strCopySource;
        m_tallyCopySource.sizes.clear();
        m_tallyCopySource.lines.Empty();
        BOOL counted = FALSE;
        try {
            counted = CountCopy(m_strCopySource, m_tallyCopySource);
        } catch (...) {
            // as a source that cannot be read
        }
        if (!counted)
            m_tallyCopySource.sizes.clear();
    }
    return m_tallyCopySource.sizes.size() != 0;
}

ULONGLONG CLauncherApp::GetFolderSize(CString folder, DWORD clusterSize)
{
    try {
        // A folder that cannot be listed to its end counts what was listed.
        CCopyTally tally;
        WalkFolder(folder, "", tally);
        return SumClusters(tally, clusterSize);
    } catch (...) {
        return 0;
    }
}
