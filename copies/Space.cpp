// Whether the target volume has room for a copy, counted in whole clusters.
#include "app/LauncherApp.h"

ULONGLONG CLauncherApp::RoundToClusters(ULONGLONG size, DWORD clusterSize)
{
    if (clusterSize == 0)  // no volume reports this; count the bytes as they are
        return size;
    ULONGLONG rest = size % clusterSize;
    return rest == 0 ? size : size + (clusterSize - rest);
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

    // What the target holds now is deleted before the copy, so it counts as room.
    ULONGLONG room = freeToCaller.QuadPart + GetFolderSize(m_strCopyTarget, clusterSize);
    // The walk of the source also counts its files, against which the new copy is checked.
    m_tallyCopySource = CCopyTally();
    ULONGLONG need = GetFolderSize(m_strCopySource + "\\VIEWER", clusterSize, &m_tallyCopySource);

    CFileFind companion;
    if (!companion.FindFile(m_strCopySource + "\\kiro\\KiroPageHolder.exe"))
        return FALSE;
    companion.FindNextFile();
    need += RoundToClusters(companion.GetLength(), clusterSize);
    m_tallyCopySource.files++;
    m_tallyCopySource.bytes += companion.GetLength64();

    // A source that cannot be read in full would give a copy that fails its check.
    return !m_tallyCopySource.failed && room > need;
}

ULONGLONG CLauncherApp::GetFolderSize(CString folder, DWORD clusterSize, CCopyTally* tally)
{
    ULONGLONG sum = 0;
    CFileFind finder;
    try {
        BOOL more = finder.FindFile(folder + "\\*.*");
        while (more) {
            more = finder.FindNextFile();
            if (finder.IsDots())
                continue;
            if (finder.MatchesMask(FILE_ATTRIBUTE_DIRECTORY)) {
                // A folder link may lead anywhere, even back into this tree:
                // it is never followed and counts nothing.
                if (!finder.MatchesMask(FILE_ATTRIBUTE_REPARSE_POINT))
                    sum += GetFolderSize(finder.GetFilePath(), clusterSize, tally);
            } else {
                sum += RoundToClusters(finder.GetLength64(), clusterSize);
                if (tally) {
                    tally->files++;
                    tally->bytes += finder.GetLength64();
                }
            }
        }
        if (tally && finder.GetListError() != 0)
            tally->failed = TRUE;
    } catch (...) {
        sum = 0;
        if (tally)
            tally->failed = TRUE;
    }
    finder.Close();
    return sum;
}
