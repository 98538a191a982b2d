// Checks of the fake machine's own rules: the launcher's tests lean on them,
// so each one here is a behaviour of Windows (or Wine) that the fake must
// reproduce.
#include "FakeMachine.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

namespace {

class Fake : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
};

std::vector<std::string> Names(const char* pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern, &data);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(data.cFileName);
    while (FindNextFileA(h, &data));
    EXPECT_EQ((DWORD)ERROR_NO_MORE_FILES, GetLastError());
    FindClose(h);
    return names;
}

int Shell(UINT func, const char* from, const char* to, BOOL* aborted = nullptr)
{
    char fromList[300] = {0}, toList[300] = {0};
    std::strcpy(fromList, from);
    if (to)
        std::strcpy(toList, to);
    SHFILEOPSTRUCTA op = {};
    op.wFunc = func;
    op.pFrom = fromList;
    op.pTo = to ? toList : nullptr;
    op.fFlags = FOF_NOCONFIRMATION | FOF_SIMPLEPROGRESS | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
    int result = SHFileOperationA(&op);
    if (aborted)
        *aborted = op.fAnyOperationsAborted;
    return result;
}

ULONGLONG FreeBytes(const char* root)
{
    ULARGE_INTEGER free, total, totalFree;
    EXPECT_TRUE(GetDiskFreeSpaceExA(root, &free, &total, &totalFree));
    return free.QuadPart;
}

void LayOutMedium()
{
    fake::AddDrive("E:", DRIVE_CDROM, 0);
    fake::AddFile("E:\\VIEWER\\bin\\Launcher.exe", "launcher");
    fake::AddFile("E:\\VIEWER\\bin\\KiroZelvo.exe", "viewer");
    fake::AddFile("E:\\VIEWER\\bin\\Version1.txt", "3.2.0.15");
    fake::AddFile("E:\\VIEWER\\data\\a.dat", std::string(5000, 'a'));
    fake::AddFile("E:\\kiro\\KiroPageHolder.exe", "holder");
}

TEST_F(Fake, PathsIgnoreCaseAndResolveAgainstTheCurrentFolder)
{
    fake::AddFile("C:\\Users\\Ann\\AppData\\Local\\Temp\\x.txt", "x");
    fake::SetCurrentDirectory("C:\\Users\\Ann");
    struct {
        const char* path;
        DWORD attributes;
        DWORD error;
    } cases[] = {
        {"c:\\USERS\\ann\\appdata\\LOCAL\\temp\\X.TXT", FILE_ATTRIBUTE_ARCHIVE, 0},
        {"C:/Users/Ann/AppData/Local/Temp/x.txt", FILE_ATTRIBUTE_ARCHIVE, 0},
        {"AppData\\Local\\Temp\\x.txt", FILE_ATTRIBUTE_ARCHIVE, 0},
        {"C:AppData", FILE_ATTRIBUTE_DIRECTORY, 0},
        {"\\Users\\Ann\\AppData", FILE_ATTRIBUTE_DIRECTORY, 0},
        {"AppData\\..\\..\\Ann\\.\\AppData\\\\Local", FILE_ATTRIBUTE_DIRECTORY, 0},
        {"C:\\Users\\Ann\\AppData\\Local\\Temp\\x.txt\\", INVALID_FILE_ATTRIBUTES, ERROR_INVALID_NAME},
        {"C:\\Users\\Bob", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
        {"C:\\Users\\Bob\\x", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
        {"C:\\Users\\Ann\\AppData\\Local\\Temp\\x.txt\\y", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
        {"Q:\\", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
        {"C:\\a|b", INVALID_FILE_ATTRIBUTES, ERROR_INVALID_NAME},
        {"C:\\*.txt", INVALID_FILE_ATTRIBUTES, ERROR_INVALID_NAME},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.attributes, GetFileAttributesA(c.path)) << c.path;
        if (c.error) {
            EXPECT_EQ(c.error, GetLastError()) << c.path;
        }
    }
    fake::AddDrive("\\\\host\\share", DRIVE_REMOTE);
    fake::AddFile("\\\\host\\share\\folder\\VIEWER\\bin\\Version1.txt", "3");
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_ARCHIVE, GetFileAttributesA("\\\\HOST\\Share\\folder\\viewer\\bin\\Version1.txt"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("\\\\other\\share\\x"));
    std::string longPath = "C:\\" + std::string(200, 'a') + "\\" + std::string(100, 'b');
    fake::AddFolder(longPath);  // the disk holds it, the ANSI functions refuse it
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(longPath.c_str()));
    EXPECT_EQ((DWORD)ERROR_FILENAME_EXCED_RANGE, GetLastError());
}

TEST_F(Fake, CodePage932TrailBytesAreNeitherFoldedNorSeparators)
{
    const std::string hyou = "\x95\x5C";  // 表: its trail byte is '\'
    const std::string a = "\x83\x41";     // ア: trail byte 'A'
    const std::string small = "\x83\x61"; // another character: trail byte 'a'

    fake::SetCodePage(932);
    fake::AddFile("C:\\" + hyou + "\\Version" + hyou + ".txt", "1");
    fake::AddFile("C:\\" + a + ".txt", "A");
    EXPECT_TRUE(fake::IsFolder("C:\\" + hyou));
    EXPECT_EQ("1", fake::Contents("C:\\" + hyou + "\\version" + hyou + ".TXT"));
    EXPECT_EQ(std::vector<std::string>{"Version" + hyou + ".txt"}, Names(("C:\\" + hyou + "\\Version*.txt").c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(("C:\\" + small + ".txt").c_str()));
    EXPECT_NE(0, _mbsicmp((const unsigned char*)a.c_str(), (const unsigned char*)small.c_str()));
    EXPECT_EQ(0, _mbsicmp((const unsigned char*)("x" + a).c_str(), (const unsigned char*)("X" + a).c_str()));
    EXPECT_NE(0, _mbscmp((const unsigned char*)"abc", (const unsigned char*)"ABC"));
    char name[MAX_PATH];
    ASSERT_NE(0u, GetTempFileNameA(("C:\\" + hyou).c_str(), "dvt", 0, name));  // a separator is still needed
    EXPECT_EQ("C:\\" + hyou + "\\dvt", std::string(name).substr(0, 9));
    EXPECT_TRUE(fake::Exists(name));

    // The same bytes in code page 1252 are two single-byte characters.
    fake::Reset();
    fake::AddFile("C:\\" + a + ".txt", "A");
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(("C:\\" + small + ".txt").c_str()));
    EXPECT_EQ(0, _mbsicmp((const unsigned char*)a.c_str(), (const unsigned char*)small.c_str()));
    fake::AddFile("C:\\" + hyou + "x.txt", "1");  // 0x95 is a folder now
    EXPECT_TRUE(fake::IsFolder("C:\\\x95"));
}

TEST_F(Fake, CodePageConversionAndLeadBytes)
{
    fake::SetCodePage(932);
    EXPECT_TRUE(IsDBCSLeadByte(0x81) && IsDBCSLeadByte(0x9F) && IsDBCSLeadByte(0xE0) && IsDBCSLeadByte(0xFC));
    EXPECT_FALSE(IsDBCSLeadByte(0x80) || IsDBCSLeadByte(0xA0) || IsDBCSLeadByte(0xDF) || IsDBCSLeadByte('\\'));

    const wchar_t* text = L"a\x8868\x30BD\x80FD";
    EXPECT_EQ(8, WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr));
    char out[8];
    ASSERT_EQ(8, WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out, nullptr, nullptr));
    EXPECT_EQ(std::string("a\x95\x5C\x83\x5C\x94\x5C", 8), std::string(out, 8));
    EXPECT_EQ(0, WideCharToMultiByte(CP_ACP, 0, text, -1, out, 4, nullptr, nullptr));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());

    fake::SetCodePage(1252);
    EXPECT_FALSE(IsDBCSLeadByte(0x95));
    BOOL defaulted = FALSE;
    ASSERT_EQ(3, WideCharToMultiByte(CP_ACP, 0, L"\xE9\x8868", -1, out, sizeof out, nullptr, &defaulted));
    EXPECT_EQ("\xE9?", std::string(out));
    EXPECT_TRUE(defaulted);
}

TEST_F(Fake, SearchesDeliverDotsFirstThenFolderOrder)
{
    fake::AddFile("C:\\v\\bin\\Version2.txt");
    fake::AddFile("C:\\v\\bin\\README");
    fake::AddFolder("C:\\v\\bin\\Version1.txt");  // a folder named like a stamp
    fake::AddFile("C:\\top.txt");
    EXPECT_EQ((std::vector<std::string>{".", "..", "Version2.txt", "README", "Version1.txt"}), Names("C:\\v\\bin\\*.*"));
    EXPECT_EQ((std::vector<std::string>{"Version2.txt", "Version1.txt"}), Names("C:\\v\\bin\\version*.TXT"));
    EXPECT_EQ((std::vector<std::string>{"v", "top.txt"}), Names("C:\\*"));  // no dots at a root
    EXPECT_EQ((std::vector<std::string>{"top.txt"}), Names("C:\\to?.txt"));
    EXPECT_EQ(0, fake::OpenSearches());

    WIN32_FIND_DATAA data;
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA("C:\\v\\bin\\*.ini", &data));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA("C:\\nothing\\*", &data));
    EXPECT_EQ((DWORD)ERROR_PATH_NOT_FOUND, GetLastError());

    HANDLE h = FindFirstFileA("C:\\v\\bin\\Version*.txt", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(1, fake::OpenSearches());
    EXPECT_TRUE(FindClose(h));
    EXPECT_FALSE(FindClose(h));
    EXPECT_EQ(1, fake::BadHandleCloses());
}

TEST_F(Fake, BigFilesReportTheirFull64BitSize)
{
    fake::AddBigFile("C:\\big.bin", 0x100000005ull);
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA("C:\\big.bin", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    FindClose(h);
    EXPECT_EQ(1u, data.nFileSizeHigh);
    EXPECT_EQ(5u, data.nFileSizeLow);
}

TEST_F(Fake, FolderLinksArePassedThroughButActedOnThemselves)
{
    fake::AddFile("C:\\Users\\x\\AppData\\Local\\Temp\\keep.txt", "keep");
    fake::AddLink("C:\\Users\\x\\Local Settings", "C:\\Users\\x\\AppData\\Local");
    EXPECT_EQ("keep", fake::Contents("C:\\Users\\x\\Local Settings\\Temp\\keep.txt"));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT,
              GetFileAttributesA("C:\\Users\\x\\Local Settings"));

    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA("C:\\Users\\x\\Local*", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    FindClose(h);
    EXPECT_STREQ("Local Settings", data.cFileName);
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, data.dwFileAttributes);

    EXPECT_FALSE(DeleteFileA("C:\\Users\\x\\Local Settings"));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());

    fake::SetLinksRemovable(false);  // Wine 8
    EXPECT_FALSE(RemoveDirectoryA("C:\\Users\\x\\Local Settings"));
    EXPECT_EQ((DWORD)ERROR_DIR_NOT_EMPTY, GetLastError());

    fake::SetLinksRemovable(true);  // Windows: the link goes, what it points to stays
    EXPECT_TRUE(RemoveDirectoryA("C:\\Users\\x\\Local Settings"));
    EXPECT_FALSE(fake::Exists("C:\\Users\\x\\Local Settings"));
    EXPECT_EQ("keep", fake::Contents("C:\\Users\\x\\AppData\\Local\\Temp\\keep.txt"));

    fake::AddLink("C:\\loop", "C:\\loop");
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\loop\\x"));
}

TEST_F(Fake, ShellDeleteGoesThroughLinksAndLeavesThem)
{
    fake::AddFile("C:\\Photos\\one.jpg", "1");
    fake::AddFile("C:\\Photos\\sub\\two.jpg", "2");
    fake::AddFile("C:\\Copy\\a.txt", "a");
    fake::AddLink("C:\\Copy\\pictures", "C:\\Photos");
    fake::AddFile("C:\\Copy\\z.txt", "z");

    BOOL aborted = FALSE;
    EXPECT_NE(0, Shell(FO_DELETE, "C:\\Copy", nullptr, &aborted));
    EXPECT_TRUE(aborted);
    // What lay behind the link is gone, the link and the entries after it stay.
    EXPECT_TRUE(fake::IsFolder("C:\\Photos"));
    EXPECT_TRUE(fake::ListTree("C:\\Photos").empty());
    EXPECT_EQ((std::vector<std::string>{"pictures\\", "z.txt"}), fake::ListTree("C:\\Copy"));
    EXPECT_TRUE(fake::IsLink("C:\\Copy\\pictures"));

    // A delete whose root is a link empties the folder it points to.
    fake::AddFile("C:\\Photos\\three.jpg", "3");
    fake::AddLink("C:\\Direct", "C:\\Photos");
    EXPECT_NE(0, Shell(FO_DELETE, "C:\\Direct", nullptr));
    EXPECT_TRUE(fake::ListTree("C:\\Photos").empty());
    EXPECT_TRUE(fake::IsLink("C:\\Direct"));
}

TEST_F(Fake, ShellDeleteOfMissingFolderDoesNothingAndIsNoAbort)
{
    fake::AddFile("C:\\keep.txt");
    BOOL aborted = TRUE;
    EXPECT_NE(0, Shell(FO_DELETE, "C:\\Missing", nullptr, &aborted));
    EXPECT_FALSE(aborted);
    EXPECT_NE(0, Shell(FO_DELETE, "C:\\", nullptr, &aborted));  // never a whole drive
    EXPECT_TRUE(fake::Exists("C:\\keep.txt"));
}

TEST_F(Fake, ShellCopyPutsTheFolderInsideTheDestinationInOrder)
{
    LayOutMedium();
    fake::AddFile("C:\\T\\Zelvo Disc 11\\VIEWER\\bin\\old.txt", "old");
    ASSERT_EQ(0, Shell(FO_COPY, "E:\\VIEWER", "C:\\T\\Zelvo Disc 11"));
    EXPECT_EQ((std::vector<std::string>{"VIEWER\\", "VIEWER\\bin\\", "VIEWER\\bin\\old.txt", "VIEWER\\bin\\Launcher.exe",
                                        "VIEWER\\bin\\KiroZelvo.exe", "VIEWER\\bin\\Version1.txt", "VIEWER\\data\\",
                                        "VIEWER\\data\\a.dat"}),
              fake::ListTree("C:\\T\\Zelvo Disc 11"));
    EXPECT_EQ("3.2.0.15", fake::Contents("C:\\T\\Zelvo Disc 11\\VIEWER\\bin\\Version1.txt"));
    const auto& op = fake::ShellOps().back();
    EXPECT_EQ((UINT)FO_COPY, op.func);
    EXPECT_EQ(std::vector<std::string>{"E:\\VIEWER"}, op.from);
    EXPECT_EQ(std::vector<std::string>{"C:\\T\\Zelvo Disc 11"}, op.to);
    EXPECT_FALSE(op.progressTitle.has_value());
}

TEST_F(Fake, ShellCopyStopsOnCancelAndOnAFullDisk)
{
    LayOutMedium();
    fake::AddFolder("C:\\T");
    fake::ShellCancelAfterFiles(2, FO_COPY);
    BOOL aborted = FALSE;
    EXPECT_EQ(ERROR_CANCELLED, Shell(FO_COPY, "E:\\VIEWER", "C:\\T", &aborted));
    EXPECT_TRUE(aborted);
    EXPECT_EQ((std::vector<std::string>{"VIEWER\\", "VIEWER\\bin\\", "VIEWER\\bin\\Launcher.exe",
                                        "VIEWER\\bin\\KiroZelvo.exe"}),
              fake::ListTree("C:\\T"));
    EXPECT_EQ(0, Shell(FO_DELETE, "C:\\T\\VIEWER", nullptr));  // only copies are cancelled

    // Room for three 4096-byte clusters: the 5000-byte file needs two more.
    fake::ShellCancelAfterFiles(-1);
    fake::SetDriveFreeBytes("C:", 3 * 4096);
    EXPECT_EQ(ERROR_DISK_FULL, Shell(FO_COPY, "E:\\VIEWER", "C:\\T", &aborted));
    EXPECT_TRUE(aborted);
    EXPECT_FALSE(fake::Exists("C:\\T\\VIEWER\\data\\a.dat"));
    EXPECT_TRUE(fake::Exists("C:\\T\\VIEWER\\bin\\Version1.txt"));
    EXPECT_EQ(0u, FreeBytes("C:\\"));

    fake::ShellReturnError(0x402, true);
    fake::SetDriveFreeBytes("C:", 1 << 20);
    EXPECT_EQ(0x402, Shell(FO_COPY, "E:\\VIEWER", "C:\\T", &aborted));
    EXPECT_FALSE(aborted);
    EXPECT_TRUE(fake::Exists("C:\\T\\VIEWER\\data\\a.dat"));
}

TEST_F(Fake, ShellMoveRenamesWithinAVolumeAndCopiesAcross)
{
    fake::AddFile("C:\\Temp\\Zelvo Disc 11\\VIEWER\\bin\\Version1.txt", "3");
    fake::AddFolder("C:\\Shared");
    EXPECT_EQ(0, Shell(FO_MOVE, "C:\\Temp\\Zelvo Disc 11", "C:\\Shared"));
    EXPECT_EQ("3", fake::Contents("C:\\Shared\\Zelvo Disc 11\\VIEWER\\bin\\Version1.txt"));
    EXPECT_FALSE(fake::Exists("C:\\Temp\\Zelvo Disc 11"));

    // Across volumes a folder is copied, then deleted at the source.
    fake::AddDrive("D:", DRIVE_FIXED);
    fake::AddFolder("D:\\Shared");
    EXPECT_FALSE(MoveFileA("C:\\Shared\\Zelvo Disc 11", "D:\\Shared\\Zelvo Disc 11"));
    EXPECT_EQ((DWORD)ERROR_NOT_SAME_DEVICE, GetLastError());
    EXPECT_EQ(0, Shell(FO_MOVE, "C:\\Shared\\Zelvo Disc 11", "D:\\Shared"));
    EXPECT_EQ("3", fake::Contents("D:\\Shared\\Zelvo Disc 11\\VIEWER\\bin\\Version1.txt"));
    EXPECT_FALSE(fake::Exists("C:\\Shared\\Zelvo Disc 11"));
}

TEST_F(Fake, SharingIsEnforcedAgainstHandlesAndOtherProcesses)
{
    fake::AddFile("C:\\v\\Version1.txt", "3.2");
    int other = fake::HoldOpenExternally("C:\\v\\Version1.txt", GENERIC_READ, FILE_SHARE_READ);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA("C:\\v\\Version1.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    HANDLE shared = CreateFileA("C:\\v\\Version1.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, shared);
    EXPECT_FALSE(DeleteFileA("C:\\v\\Version1.txt"));
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    EXPECT_EQ(1, fake::OpenFileHandles());

    char buffer[8] = {0};
    DWORD read = 99;
    EXPECT_TRUE(ReadFile(shared, buffer, 2, &read, nullptr));
    EXPECT_EQ(2u, read);
    EXPECT_TRUE(ReadFile(shared, buffer + 2, 6, &read, nullptr));
    EXPECT_EQ(1u, read);
    EXPECT_STREQ("3.2", buffer);
    EXPECT_TRUE(CloseHandle(shared));
    EXPECT_FALSE(CloseHandle(shared));
    EXPECT_EQ(0, fake::OpenFileHandles());
    EXPECT_EQ(1, fake::BadHandleCloses());

    fake::ReleaseExternalOpen(other);
    EXPECT_TRUE(DeleteFileA("C:\\v\\Version1.txt"));
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA("C:\\v", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA("C:\\w\\x", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_EQ((DWORD)ERROR_PATH_NOT_FOUND, GetLastError());
}

TEST_F(Fake, WritesTakeWholeClustersAndDeletesGiveThemBack)
{
    fake::AddFile("C:\\src.bin", std::string(4097, 'x'));
    fake::AddFolder("C:\\dst");
    fake::SetDriveFreeBytes("C:", 3 * 4096);
    EXPECT_TRUE(CopyFileA("C:\\src.bin", "C:\\dst\\a.bin", FALSE));
    EXPECT_EQ(4096u, FreeBytes("C:\\"));
    EXPECT_FALSE(CopyFileA("C:\\src.bin", "C:\\dst\\b.bin", FALSE));
    EXPECT_EQ((DWORD)ERROR_DISK_FULL, GetLastError());
    EXPECT_FALSE(fake::Exists("C:\\dst\\b.bin"));
    EXPECT_TRUE(CopyFileA("C:\\src.bin", "C:\\dst\\a.bin", FALSE));  // overwrite reuses its clusters
    EXPECT_FALSE(CopyFileA("C:\\src.bin", "C:\\dst\\a.bin", TRUE));
    EXPECT_EQ((DWORD)ERROR_FILE_EXISTS, GetLastError());
    EXPECT_TRUE(DeleteFileA("C:\\dst\\a.bin"));
    EXPECT_EQ(3u * 4096, FreeBytes("C:\\"));

    ULARGE_INTEGER available, total, free;
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\dst", &available, &total, &free));
    EXPECT_EQ(3u * 4096, available.QuadPart);
    DWORD sectors = 0, bytes = 0, freeClusters = 0, clusters = 0;
    for (const char* root : {"C:", "C:\\", "\\", ""}) {
        EXPECT_TRUE(GetDiskFreeSpaceA(root, &sectors, &bytes, &freeClusters, &clusters)) << root;
        EXPECT_EQ(4096u, sectors * bytes);
        EXPECT_EQ(3u, freeClusters);
    }
    EXPECT_FALSE(GetDiskFreeSpaceA("C:\\dst", &sectors, &bytes, &freeClusters, &clusters));
    EXPECT_EQ((DWORD)ERROR_INVALID_NAME, GetLastError());
    EXPECT_FALSE(GetDiskFreeSpaceA("Q:", &sectors, &bytes, &freeClusters, &clusters));
}

TEST_F(Fake, FoldersAndDriveTypes)
{
    EXPECT_TRUE(CreateDirectoryA("C:\\a", nullptr));
    EXPECT_FALSE(CreateDirectoryA("C:\\a", nullptr));
    EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_FALSE(CreateDirectoryA("C:\\x\\y", nullptr));
    EXPECT_EQ((DWORD)ERROR_PATH_NOT_FOUND, GetLastError());
    fake::AddFile("C:\\a\\f.txt");
    EXPECT_FALSE(RemoveDirectoryA("C:\\a"));
    EXPECT_EQ((DWORD)ERROR_DIR_NOT_EMPTY, GetLastError());
    fake::SetFolderWritable("C:\\a", false);
    EXPECT_FALSE(CreateDirectoryA("C:\\a\\b", nullptr));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    char name[MAX_PATH];
    EXPECT_EQ(0u, GetTempFileNameA("C:\\a", "dvt", 0, name));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ(0u, GetTempFileNameA("C:\\nope", "dvt", 0, name));
    fake::SetFolderWritable("C:\\a", true);
    UINT first = GetTempFileNameA("C:\\a", "dvtx", 0, name);
    ASSERT_NE(0u, first);
    char expected[MAX_PATH];
    std::snprintf(expected, sizeof expected, "C:\\a\\dvt%04X.tmp", first);
    EXPECT_STREQ(expected, name);
    EXPECT_EQ("", fake::Contents(name));
    EXPECT_NE(first, GetTempFileNameA("C:\\a\\", "dvt", 0, name));

    fake::AddDrive("E:", DRIVE_CDROM);
    fake::AddDrive("\\\\host\\share", DRIVE_REMOTE);
    fake::AddFolder("E:\\VIEWER");
    struct {
        const char* root;
        UINT type;
    } cases[] = {{"E:\\", DRIVE_CDROM}, {"e:", DRIVE_CDROM}, {"C:\\", DRIVE_FIXED}, {"\\", DRIVE_FIXED},
                 {nullptr, DRIVE_FIXED}, {"F:\\", DRIVE_NO_ROOT_DIR}, {"E:\\VIEWER\\", DRIVE_NO_ROOT_DIR},
                 {"", DRIVE_NO_ROOT_DIR}, {"\\\\host\\share\\", DRIVE_REMOTE}};
    for (const auto& c : cases)
        EXPECT_EQ(c.type, GetDriveTypeA(c.root)) << (c.root ? c.root : "(null)");
}

TEST_F(Fake, CommandLineSplitsByTheShellRules)
{
    struct {
        const wchar_t* line;
        std::vector<std::wstring> args;
    } cases[] = {
        {L"\"C:\\Program Files\\l.exe\" /REPAIR", {L"C:\\Program Files\\l.exe", L"/REPAIR"}},
        {L"l.exe   /help  extra ", {L"l.exe", L"/help", L"extra"}},
        {L"C:\\a\"b\\c.exe x", {L"C:\\a\"b\\c.exe", L"x"}},
        {L"l \"/REPAIR \"", {L"l", L"/REPAIR "}},
        {L"l a\\\\\\\"b c\\\\\"d e\" f\\g", {L"l", L"a\\\"b", L"c\\d e", L"f\\g"}},
        {L"l \"\" \"a\"\"b\"", {L"l", L"", L"a\"b"}},
        {L"-REGSERVER", {L"-REGSERVER"}},
    };
    for (const auto& c : cases) {
        int count = -1;
        LPWSTR* argv = CommandLineToArgvW(c.line, &count);
        ASSERT_NE(nullptr, argv);
        std::vector<std::wstring> got(argv, argv + count);
        EXPECT_EQ(c.args, got) << fake::Calls().back().arg;
        EXPECT_EQ(nullptr, argv[count]);
        EXPECT_EQ(nullptr, LocalFree(argv));
    }
    EXPECT_EQ(0, fake::OutstandingArgvBlocks());

    fake::SetCommandLine(L"\"E:\\VIEWER\\bin\\l.exe\" /DELETE");
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    ASSERT_EQ(2, count);
    EXPECT_EQ(1, fake::OutstandingArgvBlocks());
    LocalFree(argv);
    EXPECT_EQ(argv, LocalFree(argv));  // a second release is caught
    EXPECT_EQ(1, fake::BadLocalFrees());

    fake::FailCall("CommandLineToArgvW", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(nullptr, CommandLineToArgvW(GetCommandLineW(), &count));
}

TEST_F(Fake, BufferSizeConventions)
{
    char buffer[16];
    fake::SetEnv("PUBLIC", "C:\\Users\\Public");
    EXPECT_EQ(15u, GetEnvironmentVariableA("public", buffer, 16));
    EXPECT_STREQ("C:\\Users\\Public", buffer);
    EXPECT_EQ(16u, GetEnvironmentVariableA("PUBLIC", buffer, 15));
    EXPECT_EQ(0u, GetEnvironmentVariableA("ALLUSERSPROFILE", buffer, 16));
    EXPECT_EQ((DWORD)ERROR_ENVVAR_NOT_FOUND, GetLastError());

    fake::SetTempPath("C:\\Temp\\long\\");
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(14u, GetTempPathA(5, buffer));
    EXPECT_EQ('z', buffer[0]);
    fake::SetTempPathCutWhenShort(true);
    EXPECT_EQ(14u, GetTempPathA(5, buffer));
    EXPECT_STREQ("C:\\T", buffer);
    EXPECT_EQ(13u, GetTempPathA(14, buffer));
    fake::FailCall("GetTempPathA", 0, ERROR_ACCESS_DENIED);
    EXPECT_EQ(0u, GetTempPathA(16, buffer));

    fake::SetModulePath("E:\\VIEWER\\bin\\Launcher.exe");
    wchar_t wide[16];
    EXPECT_EQ(8u, GetModuleFileNameW(nullptr, wide, 8));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_STREQ(L"E:\\VIEW", wide);

    fake::SetVersion(5, 1, 2600);
    EXPECT_EQ(5, LOBYTE(LOWORD(GetVersion())));
    EXPECT_EQ(1, HIBYTE(LOWORD(GetVersion())));
}

TEST_F(Fake, ProcessesAndMessageBoxesAreRecorded)
{
    LayOutMedium();
    STARTUPINFOA mine = {};
    mine.dwFlags = STARTF_USESHOWWINDOW | 0x100;
    mine.wShowWindow = SW_HIDE;
    fake::SetStartupInfo(mine);
    STARTUPINFOA si;
    std::memset(&si, 0x5A, sizeof si);
    GetStartupInfoA(&si);
    EXPECT_EQ(sizeof(STARTUPINFOA), si.cb);
    EXPECT_EQ(nullptr, si.lpTitle);
    EXPECT_EQ((WORD)SW_HIDE, si.wShowWindow);

    char line[] = "\"E:\\VIEWER\\bin\\KiroZelvo.exe\" data=E:\\";
    PROCESS_INFORMATION pi = {};
    EXPECT_TRUE(CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, "E:\\VIEWER\\bin", &si, &pi));
    EXPECT_NE(nullptr, pi.hProcess);
    EXPECT_FALSE(CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, "E:\\Nowhere", &si, &pi));
    EXPECT_EQ((DWORD)ERROR_DIRECTORY, GetLastError());
    char missing[] = "\"C:\\VIEWER\\bin\\KiroZelvo.exe\" data=E:\\";
    EXPECT_FALSE(CreateProcessA(nullptr, missing, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());

    const auto& runs = fake::Processes();
    ASSERT_EQ(3u, runs.size());
    EXPECT_EQ(line, runs[0].commandLine.value());
    EXPECT_EQ("E:\\VIEWER\\bin\\KiroZelvo.exe", runs[0].executable);
    EXPECT_EQ("E:\\VIEWER\\bin", runs[0].currentDirectory.value());
    EXPECT_FALSE(runs[0].applicationName.has_value());
    EXPECT_EQ(sizeof(STARTUPINFOA), runs[0].startupInfo.cb);
    EXPECT_EQ((DWORD)ERROR_DIRECTORY, runs[1].error);
    EXPECT_FALSE(runs[2].result);

    EXPECT_EQ(IDOK, MessageBoxA(nullptr, "text", "Repair or copy error", MB_OK));
    ASSERT_EQ(1u, fake::MessageBoxes().size());
    EXPECT_EQ("Repair or copy error", fake::MessageBoxes()[0].caption.value());
}

TEST_F(Fake, InjectedFailuresAndTheCallLog)
{
    fake::AddFile("C:\\a.txt");
    fake::FailCall("GetFileAttributesA", 2, ERROR_ACCESS_DENIED);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\a.txt"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\a.txt"));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\a.txt"));

    fake::ThrowFromCall("FindFirstFileA", 1, fake::Throw::BadAlloc);
    WIN32_FIND_DATAA data;
    EXPECT_THROW(FindFirstFileA("C:\\*", &data), std::bad_alloc);
    fake::ThrowFromCall("CreateFileA", 0, fake::Throw::Fake);
    EXPECT_THROW(CreateFileA("C:\\a.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), fake::FakeException);
    EXPECT_THROW(CreateFileA("C:\\a.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), fake::FakeException);
    EXPECT_EQ(0, fake::OpenFileHandles());
    fake::ClearInjections();

    fake::FailCall("SHFileOperationA", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(ERROR_ACCESS_DENIED, Shell(FO_DELETE, "C:\\a.txt", nullptr));
    EXPECT_TRUE(fake::Exists("C:\\a.txt"));

    EXPECT_EQ(3, fake::CallCount("GetFileAttributesA", "C:\\a.txt"));
    EXPECT_EQ(1, fake::CallCount("SHFileOperationA"));
    EXPECT_EQ("FindFirstFileA", fake::Calls()[3].function);
    EXPECT_EQ("C:\\*", fake::Calls()[3].arg);
}

}  // namespace
