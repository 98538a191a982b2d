// Starting the viewer from the best copy, with the medium as its data.
#include "LauncherTest.h"

namespace {

using namespace paths;

class ViewerStartTest : public LauncherTest {};

struct BestCopy {
    const char* name;
    bool shared, temp, profile;  // up-to-date copies found
    std::string folder;          // the viewer's
};

const BestCopy kBestCopies[] = {
    {"all three: the shared one", true, true, true, kShared},
    {"shared only", true, false, false, kShared},
    {"temp before profile", false, true, true, kTemp},
    {"profile only", false, false, true, Profile("bob")},
    {"none: the medium", false, false, false, "E:"},
};

class BestCopyTest : public LauncherTest, public ::testing::WithParamInterface<BestCopy>
{
};

TEST_P(BestCopyTest, StartsTheBestCopy)
{
    const BestCopy& c = GetParam();
    MakeMedium();
    MakeCopy(kShared, "3.2.0.15");
    MakeCopy(kTemp, "3.2.0.15");
    MakeCopy(Profile("bob"), "3.2.0.15");
    app.m_strMediaRoot = "E:";
    app.m_strSharedCopy = c.shared ? kShared.c_str() : "";
    app.m_strTempCopy = c.temp ? kTemp.c_str() : "";
    app.m_strProfileCopy = c.profile ? Profile("bob").c_str() : "";
    app.LaunchBestCopy();
    ASSERT_EQ(fake::Processes().size(), 1u);
    const fake::ProcessRecord& viewer = fake::Processes()[0];
    EXPECT_EQ(viewer.commandLine, "\"" + c.folder + "\\VIEWER\\bin\\KiroZelvo.exe\" data=E:\\");
    EXPECT_EQ(viewer.currentDirectory, c.folder + "\\VIEWER\\bin");
    EXPECT_TRUE(viewer.result);
}

INSTANTIATE_TEST_SUITE_P(EachChoice, BestCopyTest, ::testing::ValuesIn(kBestCopies), RowName());

TEST_F(ViewerStartTest, BuildsTheProcessExactly)
{
    MakeMedium("D:\\Discs\\Study 7", DRIVE_FIXED);
    // The launcher itself was started hidden, with other start-up flags.
    STARTUPINFOA given = {};
    given.dwFlags = STARTF_USESHOWWINDOW | 0x100 /* STARTF_USESTDHANDLES */;
    given.wShowWindow = SW_HIDE;
    given.dwX = 17;
    given.lpTitle = const_cast<LPSTR>("launcher title");
    BYTE handleTable[12] = {2};  // the runtime's list of the launcher's inherited handles
    given.cbReserved2 = sizeof(handleTable);
    given.lpReserved2 = handleTable;
    fake::SetStartupInfo(given);

    app.m_strMediaRoot = "D:\\Discs\\Study 7";
    app.StartViewer(app.m_strMediaRoot);

    ASSERT_EQ(fake::Processes().size(), 1u);
    const fake::ProcessRecord& viewer = fake::Processes()[0];
    EXPECT_FALSE(viewer.applicationName.has_value());
    // The executable is quoted; the data value is not, even with spaces.
    EXPECT_EQ(viewer.commandLine, "\"D:\\Discs\\Study 7\\VIEWER\\bin\\KiroZelvo.exe\" data=D:\\Discs\\Study 7\\");
    EXPECT_EQ(viewer.currentDirectory, "D:\\Discs\\Study 7\\VIEWER\\bin");
    EXPECT_EQ(viewer.inheritHandles, FALSE);
    EXPECT_EQ(viewer.creationFlags, 0u);
    EXPECT_EQ(viewer.environment, nullptr);
    ASSERT_TRUE(viewer.hasStartupInfo);
    EXPECT_EQ(viewer.startupInfo.cb, sizeof(STARTUPINFOA));  // the record's real size on this build
    EXPECT_EQ(viewer.startupInfo.dwFlags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
    EXPECT_EQ(viewer.startupInfo.wShowWindow, SW_SHOW);
    // Nothing else of the launcher's own record: above all not its runtime's
    // handle list, which names handles the viewer does not inherit.
    EXPECT_EQ(viewer.startupInfo.cbReserved2, 0);
    EXPECT_EQ(viewer.startupInfo.lpReserved2, nullptr);
    EXPECT_EQ(viewer.startupInfo.dwX, 0u);
    EXPECT_EQ(viewer.startupInfo.lpTitle, nullptr);
    EXPECT_EQ(viewer.executable, "D:\\Discs\\Study 7\\VIEWER\\bin\\KiroZelvo.exe");
}

struct FailedLaunch {
    const char* name;
    const char* function;  // throws std::bad_alloc
    std::string folder;    // the viewer's
};

const FailedLaunch kFailedLaunches[] = {
    {"locating the medium: the medium", "GetDriveTypeA", "E:"},
    {"probing: the medium", "GetEnvironmentVariableA", "E:"},
    {"space check: the copy found", "GetDiskFreeSpaceExA", kTemp},
};

class FailedLaunchTest : public LauncherTest, public ::testing::WithParamInterface<FailedLaunch>
{
};

// An exception on the way costs the copy, never the viewer.
TEST_P(FailedLaunchTest, StillStartsTheViewer)
{
    MakeMedium();
    MakeCopy(kTemp, "3.2.0.15");  // up to date, to be moved into the shared location
    auto before = fake::Snapshot(kTemp);
    fake::ThrowFromCall(GetParam().function, 1, fake::Throw::BadAlloc);
    Run(L"ZelvoLauncher.exe");
    EXPECT_EQ(ViewerCommandLine(), "\"" + GetParam().folder + "\\VIEWER\\bin\\KiroZelvo.exe\" data=E:\\");
    EXPECT_EQ(fake::Snapshot(kTemp), before);
}

INSTANTIATE_TEST_SUITE_P(EachStep, FailedLaunchTest, ::testing::ValuesIn(kFailedLaunches), RowName());

TEST_F(ViewerStartTest, AnEmptyRootStartsFromTheCurrentDrive)
{
    app.LaunchBestCopy();
    ASSERT_EQ(fake::Processes().size(), 1u);
    EXPECT_EQ(fake::Processes()[0].commandLine, "\"\\VIEWER\\bin\\KiroZelvo.exe\" data=\\");
    EXPECT_EQ(fake::Processes()[0].currentDirectory, "\\VIEWER\\bin");
}

TEST_F(ViewerStartTest, AMissingViewerFailsQuietly)
{
    MakeMedium();
    fake::Remove("E:\\VIEWER\\bin\\KiroZelvo.exe");
    app.m_strMediaRoot = "E:";
    app.LaunchBestCopy();
    ASSERT_EQ(fake::Processes().size(), 1u);
    EXPECT_FALSE(fake::Processes()[0].result);
    EXPECT_TRUE(fake::MessageBoxes().empty());
}

// No ANSI path can be built from a medium in a folder whose name the code
// page cannot hold (Łódź in code page 1252): the viewer starts from the
// medium through the wide API, and no copy is looked at.
TEST_F(ViewerStartTest, AMediumOutsideTheCodePageStartsWideFromTheMedium)
{
    MakeCopy(kShared, "3.2.0.15");
    auto before = fake::Snapshot("C:\\Users");
    fake::SetModulePathWide(L"D:\\Badania \u0141\u00f3d\u017a\\VIEWER\\bin\\ZelvoLauncher.exe");
    Run(L"ZelvoLauncher.exe");

    ASSERT_EQ(fake::Processes().size(), 1u);
    const fake::ProcessRecord& viewer = fake::Processes()[0];
    const std::string root = "D:\\Badania \xC5\x81\xC3\xB3" "d\xC5\xBA";  // UTF-8
    EXPECT_TRUE(viewer.wide);
    EXPECT_EQ(viewer.commandLine, "\"" + root + "\\VIEWER\\bin\\KiroZelvo.exe\" data=" + root + "\\");
    EXPECT_EQ(viewer.currentDirectory, root + "\\VIEWER\\bin");
    EXPECT_EQ(viewer.startupInfo.dwFlags, (DWORD)STARTF_USESHOWWINDOW);
    EXPECT_EQ(viewer.startupInfo.wShowWindow, SW_SHOW);
    EXPECT_EQ(fake::Snapshot("C:\\Users"), before);
    EXPECT_EQ(fake::CallCount("FindFirstFileA"), 0);
}

TEST_F(ViewerStartTest, AFixedDriveMediumStartsAtOnceWithoutLookingForCopies)
{
    MakeMedium("D:\\Discs\\Study 7", DRIVE_FIXED);
    MakeCopy(kShared, "1.0");  // out of date, and still left alone
    MakeCopy(kTemp, "9.0");
    fake::ClearCalls();
    Run(L"ZelvoLauncher.exe");
    EXPECT_EQ(ViewerCommandLine(), "\"D:\\Discs\\Study 7\\VIEWER\\bin\\KiroZelvo.exe\" data=D:\\Discs\\Study 7\\");
    for (const fake::CallRecord& call : fake::Calls())
        EXPECT_EQ(call.arg.find("C:\\Users"), std::string::npos) << call.function << "(" << call.arg << ")";
    EXPECT_TRUE(fake::Exists(kShared + "\\VIEWER\\bin\\Version.txt"));
    EXPECT_TRUE(fake::ShellOps().empty());
}

}  // namespace
