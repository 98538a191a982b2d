// Locating the medium from the launcher's own path, and reading version stamps.
#include "LauncherTest.h"

namespace {

class MediaTest : public LauncherTest {};

struct MediumPlace {
    const char* name;
    const char* root;
    UINT driveType;
    const char* driveRoot;
    BOOL result;  // TRUE: copies may be looked for
    BOOL copyAllowed;
};

const MediumPlace kMediumPlaces[] = {
    {"disc", "E:", DRIVE_CDROM, "E:\\", TRUE, 1},                          // copies made and used
    {"fixed drive", "D:\\Discs\\Study 7", DRIVE_FIXED, "D:\\", FALSE, 1},  // as fast as a copy
    // Copies are used but never made from these.
    {"removable drive", "F:", DRIVE_REMOVABLE, "F:\\", TRUE, 0},
    {"network drive", "G:", DRIVE_REMOTE, "G:\\", TRUE, 0},
    {"RAM disk", "R:", DRIVE_RAMDISK, "R:\\", TRUE, 0},
    {"unknown drive", "U:", DRIVE_UNKNOWN, "U:\\", TRUE, 0},
    // Judged by its share's root, not by the drive of the current folder (C:, fixed).
    {"network share", "\\\\host\\share\\folder", DRIVE_REMOTE, "\\\\host\\share\\", TRUE, 0},
};

class MediumPlaceTest : public LauncherTest, public ::testing::WithParamInterface<MediumPlace>
{
};

TEST_P(MediumPlaceTest, LocatesTheMediumFromTheLaunchersPath)
{
    const MediumPlace& c = GetParam();
    MakeMedium(c.root, c.driveType, "3.2.0.15");
    EXPECT_EQ(app.LocateMedia(), c.result);
    EXPECT_EQ(Str(app.m_strMediaRoot), c.root);
    EXPECT_EQ(Str(app.m_strCopySource), c.root);
    EXPECT_EQ(Str(app.m_strMediaVersion), "3.2.0.15");
    EXPECT_EQ(app.m_bCopyAllowed, c.copyAllowed);
    EXPECT_EQ(fake::CallCount("GetDriveTypeA"), 1);
    EXPECT_EQ(fake::CallCount("GetDriveTypeA", c.driveRoot), 1);
}

INSTANTIATE_TEST_SUITE_P(EachDriveType, MediumPlaceTest, ::testing::ValuesIn(kMediumPlaces), RowName());

TEST_F(MediaTest, OddLauncherPlaces)
{
    // Two levels below nothing: the root is empty.
    fake::AddFile("E:\\bin\\ZelvoLauncher.exe", "L");
    fake::SetModulePath("E:\\bin\\ZelvoLauncher.exe");
    EXPECT_TRUE(app.LocateMedia());
    EXPECT_EQ(Str(app.m_strMediaRoot), "");
}

TEST_F(MediaTest, CopyingOnceForbiddenStaysForbidden)
{
    MakeMedium("F:", DRIVE_REMOVABLE, "1.0");
    EXPECT_TRUE(app.LocateMedia());
    EXPECT_EQ(app.m_bCopyAllowed, 0);
    fake::SetDriveType("F:", DRIVE_CDROM);
    fake::AddFile("F:\\VIEWER\\bin\\Version.txt", "2.0");
    EXPECT_TRUE(app.LocateMedia());
    EXPECT_EQ(Str(app.m_strMediaVersion), "2.0");  // re-read
    EXPECT_EQ(app.m_bCopyAllowed, 0);
}

TEST_F(MediaTest, ALauncherPathLongerThanTheFirstBufferIsReadInFull)
{
    // A cut path would make another folder the medium's root.
    std::string deep = "E:";
    while (deep.size() < 1400)
        deep += "\\folder";
    fake::SetModulePath(deep + "\\VIEWER\\bin\\ZelvoLauncher.exe");
    EXPECT_TRUE(app.LocateMedia());
    EXPECT_EQ(Str(app.m_strMediaRoot), deep);
    EXPECT_EQ(Str(app.m_strCopySource), deep);

    // Exactly filling the first buffer but for the NUL is no cut.
    std::string exact = "E:";
    std::string name = "\\VIEWER\\bin\\ZelvoLauncher.exe";
    while (exact.size() + name.size() < 1299)
        exact += "\\x";
    exact += std::string(1299 - exact.size() - name.size(), 'y');
    fake::SetModulePath(exact + name);
    EXPECT_TRUE(app.LocateMedia());
    EXPECT_EQ(Str(app.m_strMediaRoot), exact);

    // Up to the system's limit of 32,767 characters.
    std::string longest = "E:";
    while (longest.size() + name.size() < 32767 - 201)
        longest += "\\" + std::string(200, 'x');
    longest += "\\" + std::string(32767 - 1 - longest.size() - name.size(), 'y');
    fake::SetModulePath(longest + name);
    EXPECT_TRUE(app.LocateMedia());
    EXPECT_TRUE(Str(app.m_strMediaRoot) == longest);  // not printed: 32,700 characters
}

struct Stamp {
    const char* name;
    std::string contents;
    std::string stamp;
};

const Stamp kStamps[] = {
    // Spaces, tabs, dots and line breaks at either end go; inside, all stays.
    {"spaces, dot and CRLF", " 3.2.0.15 .\r\n", "3.2.0.15"},
    {"tabs and LF", "\t\t4.7\n", "4.7"},
    {"inner text kept", "4 7 (beta)", "4 7 (beta)"},
    {"nothing but trimmings", "...\r\n  . \n", ""},
    {"empty", "", ""},
    // Only the first 260 bytes count.
    {"cut after 260 bytes", std::string(255, ' ') + "1.2.3.4", "1.2.3"},
    {"long number cut", "5." + std::string(300, '9'), "5." + std::string(258, '9')},
    // The text ends at its first NUL, for its readers and the comparison alike.
    {"NUL inside", std::string("1.0\0\0\0 5.0", 11), "1.0"},
};

class StampTest : public MediaTest, public ::testing::WithParamInterface<Stamp>
{
};

TEST_P(StampTest, ReadsTheTrimmedStamp)
{
    fake::AddFile("E:\\VIEWER\\bin\\Version.txt", GetParam().contents);
    CString stamp = app.ReadVersionStamp("E:\\VIEWER\\bin\\Version*.txt");
    EXPECT_EQ(std::string(stamp, stamp.GetLength()), GetParam().stamp);  // every byte the comparison walks
}

INSTANTIATE_TEST_SUITE_P(EachStamp, StampTest, ::testing::ValuesIn(kStamps), RowName());

TEST_F(MediaTest, StampsThatCannotBeReadAreEmpty)
{
    // No match at all.
    EXPECT_EQ(Str(app.ReadVersionStamp("E:\\VIEWER\\bin\\Version*.txt")), "");

    // A folder named like the pattern comes first: its open fails, and the file
    // after it is not looked at.
    fake::AddFolder("E:\\VIEWER\\bin\\Version1.txt");
    fake::AddFile("E:\\VIEWER\\bin\\Version2.txt", "4.7");
    EXPECT_EQ(Str(app.ReadVersionStamp("E:\\VIEWER\\bin\\Version*.txt")), "");
    fake::Remove("E:\\VIEWER\\bin\\Version1.txt");
    EXPECT_EQ(Str(app.ReadVersionStamp("E:\\VIEWER\\bin\\Version*.txt")), "4.7");

    // Another process writes it: the open shares reading only, and fails.
    int open = fake::HoldOpenExternally("E:\\VIEWER\\bin\\Version2.txt", GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(Str(app.ReadVersionStamp("E:\\VIEWER\\bin\\Version*.txt")), "");
    fake::ReleaseExternalOpen(open);

    // A failing read.
    fake::FailCall("ReadFile", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Str(app.ReadVersionStamp("E:\\VIEWER\\bin\\Version*.txt")), "");
    EXPECT_EQ(Str(app.ReadVersionStamp("E:\\VIEWER\\bin\\Version*.txt")), "4.7");
}

TEST_F(MediaTest, OnlyTheFirstMatchCountsAndABarePatternIsRelative)
{
    fake::AddFile("C:\\work\\VersionB.txt", "2.0");
    fake::AddFile("C:\\work\\VersionA.txt", "1.0");
    EXPECT_EQ(Str(app.ReadVersionStamp("C:\\work\\Version*.txt")), "2.0");
    fake::SetCurrentDirectory("C:\\work");
    EXPECT_EQ(Str(app.ReadVersionStamp("Version*.txt")), "2.0");
}

TEST_F(MediaTest, AMediumWithoutStampStillHasARoot)
{
    MakeMedium("E:", DRIVE_CDROM, "");
    EXPECT_TRUE(app.LocateMedia());
    EXPECT_EQ(Str(app.m_strMediaVersion), "");
    EXPECT_EQ(Str(app.m_strMediaRoot), "E:");
}

TEST_F(MediaTest, DoubleByteCharactersInThePathAreNotCutAtTheirTrailByte)
{
    // In code page 932 the second byte of U+30BD is 0x5C, a backslash's code.
    fake::SetCodePage(932);
    const std::string so = "\x83\x5C";
    MakeMedium("E:\\Disc" + so, DRIVE_CDROM, "3.0");
    fake::SetModulePath("E:\\Disc" + so + "\\VIEWER" + so + "\\bin\\ZelvoLauncher.exe");
    fake::AddFile("E:\\Disc" + so + "\\VIEWER" + so + "\\bin\\Version.txt", "3.1");
    EXPECT_TRUE(app.LocateMedia());
    EXPECT_EQ(Str(app.m_strMediaRoot), "E:\\Disc" + so);
    EXPECT_EQ(Str(app.m_strMediaVersion), "3.1");
}

}  // namespace
