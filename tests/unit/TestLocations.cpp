// Where copies live, how each location is probed, and what ProbeCopies leaves.
#include "LauncherTest.h"

#include <vector>

using namespace paths;

namespace {

const std::string kAnn = Profile("ann");
const std::string kBob = Profile("bob");

// True when a writability test file ("dvt....tmp") is left in `folder`.
bool HasTestFile(const std::string& folder)
{
    for (const std::string& entry : fake::ListTree(folder))
        if (entry.rfind("dvt", 0) == 0 || entry.rfind("DVT", 0) == 0)
            return true;
    return false;
}

// Calls that look at or change the disk.
int DiskCalls()
{
    return fake::CallCount("FindFirstFileA") + fake::CallCount("FindFirstFileW") + fake::CallCount("CreateFileA") +
           fake::CallCount("GetTempFileNameA") + fake::CallCount("GetFileAttributesA") +
           fake::CallCount("DeleteFileA");
}

class LocationsTest : public LauncherTest
{
protected:
    void SetUp() override
    {
        LauncherTest::SetUp();
        app.m_strMediaVersion = "3.2.0.15";
        app.m_strMediaRoot = "E:";
        app.m_strCopySource = "E:";
    }
};

// ---------------------------------------------------------------- all-users folder

const std::string k323(323, 'a'), k324(324, 'b');

struct AllUsers {
    const char* name;
    BYTE major, minor;
    const char* pub;       // nullptr: not set
    const char* allUsers;  // nullptr: not set
    std::string expected;
};

const AllUsers kAllUsers[] = {
    // Before Windows 6, ALLUSERSPROFILE; from 6 on, PUBLIC.
    {"XP", 5, 1, "C:\\Users\\Public", "C:\\Documents and Settings\\All Users",
     "C:\\Documents and Settings\\All Users"},
    {"minor version plays no part", 5, 6, "C:\\Users\\Public", "C:\\All", "C:\\All"},
    {"Vista", 6, 0, "C:\\Users\\Public", "C:\\ProgramData", "C:\\Users\\Public"},
    {"Windows 10", 10, 0, "D:\\Pub", "C:\\ProgramData", "D:\\Pub"},
    // No fall-back to the other variable.
    {"7 without PUBLIC", 6, 1, nullptr, "C:\\ProgramData", ""},
    {"XP without ALLUSERSPROFILE", 5, 1, "C:\\Users\\Public", nullptr, ""},
    // Values of 323 characters are read, longer ones are not.
    {"PUBLIC of 323", 6, 1, k323.c_str(), nullptr, k323},
    {"PUBLIC of 324", 6, 1, k324.c_str(), nullptr, ""},
    {"ALLUSERSPROFILE of 323", 5, 0, nullptr, k323.c_str(), k323},
    {"ALLUSERSPROFILE of 324", 5, 0, nullptr, k324.c_str(), ""},
    {"empty PUBLIC", 6, 1, "", "C:\\ProgramData", ""},
};

class AllUsersTest : public LocationsTest, public ::testing::WithParamInterface<AllUsers>
{
};

TEST_P(AllUsersTest, FollowsTheMajorVersion)
{
    const AllUsers& c = GetParam();
    fake::SetVersion(c.major, c.minor, 2600);
    c.pub ? fake::SetEnv("PUBLIC", c.pub) : fake::UnsetEnv("PUBLIC");
    c.allUsers ? fake::SetEnv("ALLUSERSPROFILE", c.allUsers) : fake::UnsetEnv("ALLUSERSPROFILE");
    EXPECT_EQ(Str(app.GetAllUsersFolder()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(AllUsersFolder, AllUsersTest, ::testing::ValuesIn(kAllUsers), RowName());

// ---------------------------------------------------------------- writability test

TEST_F(LocationsTest, WritableFolderPassesAndKeepsNoTestFile)
{
    fake::AddFile(kTempBase + "\\dvt0001.tmp", "someone else's");
    EXPECT_TRUE(app.IsFolderWritable(kTempBase.c_str()));
    EXPECT_EQ(fake::CallCount("GetTempFileNameA", kTempBase), 1);
    EXPECT_EQ(fake::ListTree(kTempBase), std::vector<std::string>{"dvt0001.tmp"});
    EXPECT_EQ(fake::Contents(kTempBase + "\\dvt0001.tmp"), "someone else's");
}

TEST_F(LocationsTest, UnwritableOrMissingFolderFailsAndKeepsNoTestFile)
{
    fake::SetFolderWritable(kSharedBase, false);
    EXPECT_FALSE(app.IsFolderWritable(kSharedBase.c_str()));
    EXPECT_FALSE(HasTestFile(kSharedBase));

    EXPECT_FALSE(app.IsFolderWritable("C:\\Nowhere"));
    EXPECT_FALSE(fake::Exists("C:\\Nowhere"));

    // The name is handed out, but the file cannot be opened: it is deleted again.
    fake::FailCall("CreateFileA", 1, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(app.IsFolderWritable(kTempBase.c_str()));
    EXPECT_FALSE(HasTestFile(kTempBase));
    EXPECT_EQ(fake::OpenFileHandles(), 0);
}

struct WritabilityThrow {
    const char* name;
    const char* function;
    fake::Throw what;
};

const WritabilityThrow kWritabilityThrows[] = {
    // Each step of the test: naming the file, opening, closing and deleting it.
    {"naming, out of memory", "GetTempFileNameA", fake::Throw::BadAlloc},
    {"naming, runtime error", "GetTempFileNameA", fake::Throw::Fake},
    {"opening, out of memory", "CreateFileA", fake::Throw::BadAlloc},
    {"opening, runtime error", "CreateFileA", fake::Throw::Fake},
    {"closing, runtime error", "CloseHandle", fake::Throw::Fake},
    {"deleting, out of memory", "DeleteFileA", fake::Throw::BadAlloc},
    {"deleting, runtime error", "DeleteFileA", fake::Throw::Fake},
};

class WritabilityThrowTest : public LocationsTest, public ::testing::WithParamInterface<WritabilityThrow>
{
};

TEST_P(WritabilityThrowTest, IsCaught)
{
    fake::ThrowFromCall(GetParam().function, 1, GetParam().what);
    BOOL writable = TRUE;
    EXPECT_NO_THROW(writable = app.IsFolderWritable(kTempBase.c_str()));
    EXPECT_FALSE(writable);
    EXPECT_FALSE(HasTestFile(kTempBase));
}

INSTANTIATE_TEST_SUITE_P(ExceptionsInTheWritabilityTest, WritabilityThrowTest, ::testing::ValuesIn(kWritabilityThrows),
                         RowName());

TEST_F(LocationsTest, NoExceptionLeavesTheWritabilityTestEvenWhenCleanUpThrowsToo)
{
    fake::ThrowFromCall("DeleteFileA", 0, fake::Throw::BadAlloc);
    BOOL writable = TRUE;
    EXPECT_NO_THROW(writable = app.IsFolderWritable(kTempBase.c_str()));
    EXPECT_FALSE(writable);
    EXPECT_EQ(fake::OpenFileHandles(), 0);
    fake::ClearInjections();
}

// ---------------------------------------------------------------- collect mode

TEST_F(LocationsTest, SharedAndTempCollectListWithoutLookingAtTheDisk)
{
    fake::SetFolderWritable(kSharedBase, false);
    fake::ClearCalls();
    EXPECT_TRUE(app.ProbeSharedLocation(1));
    EXPECT_TRUE(app.ProbeTempLocation(1));
    EXPECT_EQ(StaleCopies(), kShared + "|" + kTemp);
    EXPECT_EQ(DiskCalls(), 0);
    EXPECT_EQ(Str(app.m_strCopyTarget), "");
    EXPECT_FALSE(fake::Exists(kShared));
}

TEST_F(LocationsTest, ProfileCollectListsEveryPlainSubfolder)
{
    fake::AddFolder("C:\\Users\\.skel\\Local Settings\\Temp");
    fake::AddFile("C:\\Users\\desktop.ini", "[x]");
    fake::AddFolder("C:\\Users\\Default");  // no Local Settings: listed all the same
    MakeCopy(kAnn, "1.0");
    fake::ClearCalls();
    EXPECT_TRUE(app.ProbeProfileLocations(1));
    EXPECT_EQ(StaleCopies(), "C:\\Users\\Public\\Local Settings\\Temp\\Zelvo Disc 11|" + kAnn + "|" + kBob +
                                 "|C:\\Users\\Default\\Local Settings\\Temp\\Zelvo Disc 11");
    EXPECT_EQ(fake::CallCount("FindFirstFileW"), 1);
    EXPECT_EQ(fake::CallCount("FindFirstFileW", "C:\\Users\\*"), 1);
    EXPECT_EQ(fake::CallCount("FindFirstFileA"), 0);
    EXPECT_EQ(fake::CallCount("CreateFileA"), 0);
}

TEST_F(LocationsTest, NoAllUsersFolderSkipsSharedAndProfilesInBothModes)
{
    fake::UnsetEnv("PUBLIC");
    MakeCopy(kShared, "1.0");
    MakeCopy(kAnn, "1.0");
    for (int collect : {1, 0}) {
        EXPECT_FALSE(app.ProbeSharedLocation(collect));
        EXPECT_FALSE(app.ProbeProfileLocations(collect));
    }
    EXPECT_EQ(StaleCopies(), "");
    EXPECT_EQ(Str(app.m_strCopyTarget), "");
    EXPECT_TRUE(app.ProbeTempLocation(1));  // the temp location does not depend on it
    EXPECT_EQ(StaleCopies(), kTemp);
}

TEST_F(LocationsTest, UnsearchableProfilesFolderListsNothing)
{
    fake::SetEnv("PUBLIC", "D:\\Nowhere\\Public");
    EXPECT_FALSE(app.ProbeProfileLocations(1));
    EXPECT_FALSE(app.ProbeProfileLocations(0));
    EXPECT_EQ(StaleCopies(), "");
}

// ---------------------------------------------------------------- temp path

const std::string kLong1299 = "C:\\" + std::string(1295, 't') + "\\";  // 1299 chars: fits
const std::string kLong1300 = "C:\\" + std::string(1296, 't') + "\\";
const std::string kDbcs = "C:\\x\\\x95\x5C";  // ends in a double-byte character, trail byte 0x5C

struct TempPath {
    const char* name;
    std::string text;
    std::string copy;  // "": the temp location counts as absent
    bool failCall = false, cut = false;
    UINT codePage = 1252;
    std::wstring wide = L"";  // set: the real path, outside the code page
};

const TempPath kTempPaths[] = {
    // Trailing backslashes: one is dropped, none is added.
    {"one trailing backslash", kTempBase + "\\", kTemp},
    {"none", kTempBase, kTemp},
    {"two", kTempBase + "\\\\", kTempBase + "\\\\Zelvo Disc 11"},
    // Nothing usable: no temp location.
    {"empty", "", ""},
    {"call fails", kTempBase + "\\", "", true},
    // Up to 1299 characters are read whole.
    {"1299 chars", kLong1299, kLong1299 + "Zelvo Disc 11"},
    {"too long", kLong1300, ""},
    {"too long, cut to fit", kLong1300, "", false, true},
    // A trail byte 0x5C is not a backslash.
    {"double-byte end", kDbcs, kDbcs + "\\Zelvo Disc 11", false, false, 932},
    {"double-byte, then backslash", kDbcs + "\\", kDbcs + "\\Zelvo Disc 11", false, false, 932},
    // A user name the code page cannot hold, on a volume without short names.
    {"outside the code page, no short name", "", "", false, false, 1252,
     L"C:\\Users\\\u0141ukasz\\AppData\\Local\\Temp\\"},
};

class TempPathTest : public LocationsTest, public ::testing::WithParamInterface<TempPath>
{
};

TEST_P(TempPathTest, GivesTheTempLocation)
{
    const TempPath& c = GetParam();
    fake::SetTempPath(c.text);
    fake::SetTempPathCutWhenShort(c.cut);
    fake::SetCodePage(c.codePage);
    if (c.failCall)
        fake::FailCall("GetTempPathW", 0, ERROR_ACCESS_DENIED);
    if (!c.wide.empty())
        fake::SetTempPathWide(c.wide);
    EXPECT_EQ(app.ProbeTempLocation(1), !c.copy.empty());
    EXPECT_EQ(StaleCopies(), c.copy);
    if (!c.copy.empty()) {
        EXPECT_EQ(fake::CallCount("GetShortPathNameW"), 0);  // held paths keep their long names
        return;
    }
    fake::ClearCalls();
    EXPECT_FALSE(app.ProbeTempLocation(0));
    EXPECT_EQ(StaleCopies(), "");
    EXPECT_EQ(Str(app.m_strCopyTarget), "");
    EXPECT_EQ(DiskCalls(), 0);
}

INSTANTIATE_TEST_SUITE_P(TempPathVariants, TempPathTest, ::testing::ValuesIn(kTempPaths), RowName());

// ---------------------------------------------------------------- ProbeCopies outcomes

// A copy folder's stamp: nullptr = no copy folder at all, "" = a copy without a stamp.
struct Outcome {
    const char* situation;
    const char* shared;
    bool sharedWritable;
    const char* temp;
    bool tempWritable;
    const char* ann;
    const char* bob;
    std::string sharedCopy, tempCopy, profileCopy, target, source, stale;
    BOOL result;
};

void PrintTo(const Outcome& o, std::ostream* os)
{
    *os << o.situation;
}

class ProbeOutcomeTest : public LocationsTest, public ::testing::WithParamInterface<Outcome> {};

TEST_P(ProbeOutcomeTest, LeavesTheStateTheCommandsActOn)
{
    const Outcome& o = GetParam();
    const std::pair<const char*, std::string> copies[] = {
        {o.shared, kShared}, {o.temp, kTemp}, {o.ann, kAnn}, {o.bob, kBob}};
    for (const auto& copy : copies)
        if (copy.first)
            MakeCopy(copy.second, copy.first);
    fake::SetFolderWritable(kSharedBase, o.sharedWritable);
    fake::SetFolderWritable(kTempBase, o.tempWritable);

    EXPECT_EQ(app.ProbeCopies(), o.result);
    EXPECT_EQ(Str(app.m_strSharedCopy), o.sharedCopy);
    EXPECT_EQ(Str(app.m_strTempCopy), o.tempCopy);
    EXPECT_EQ(Str(app.m_strProfileCopy), o.profileCopy);
    EXPECT_EQ(Str(app.m_strCopyTarget), o.target);
    EXPECT_EQ(Str(app.m_strCopySource), o.source);
    EXPECT_EQ(StaleCopies(), o.stale);
    EXPECT_FALSE(HasTestFile(kSharedBase));
    EXPECT_FALSE(HasTestFile(kTempBase));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ProbeOutcomeTest,
    ::testing::Values(
        Outcome{"SharedUpToDate", "3.2.0.15", true, "3.1", true, "3.1", nullptr,
                kShared, "", "", "", "E:", "", TRUE},
        Outcome{"SharedChosenTempUpToDate", "3.1", true, "4.0", true, "3.1", nullptr,
                "", kTemp, "", kShared, kTemp, kShared, TRUE},
        Outcome{"SharedChosenProfileUpToDate", nullptr, true, "3.1", true, "3.1", "3.2.0.15",
                "", "", kBob, kShared, kBob, kTemp + "|" + kAnn, TRUE},
        Outcome{"SharedChosenNothingUpToDate", "3.1", true, "", true, "3.1", "2",
                "", "", "", kShared, "E:", kShared + "|" + kAnn + "|" + kBob, FALSE},
        Outcome{"SharedNotChosenTempUpToDate", "3.1", false, "3.2.0.15", true, "3.1", nullptr,
                "", kTemp, "", "", "E:", kShared, TRUE},
        Outcome{"TempChosenProfileUpToDate", nullptr, false, "3.1", true, "5", "3.1",
                "", "", kAnn, kTemp, "E:", kTemp, TRUE},
        Outcome{"TempChosenNothingUpToDate", "3.1", false, nullptr, true, "3.1", "3.1",
                "", "", "", kTemp, "E:", kShared + "|" + kAnn + "|" + kBob, FALSE},
        Outcome{"NeitherChosenProfileUpToDate", "3.1", false, "3.1", false, nullptr, "3.2.0.15",
                "", "", kBob, "", "E:", kShared + "|" + kTemp, TRUE},
        Outcome{"NeitherChosenNothingUpToDate", nullptr, false, "3.1", false, "3.1", "",
                "", "", "", "", "E:", kTemp + "|" + kAnn, FALSE}),
    [](const ::testing::TestParamInfo<Outcome>& info) { return std::string(info.param.situation); });

// ---------------------------------------------------------------- ProbeCopies, further cases

TEST_F(LocationsTest, UpToDateSharedCopyEndsTheProbingWithoutAnyWritabilityTest)
{
    MakeCopy(kShared, "3.2.0.15");
    fake::ClearCalls();
    EXPECT_TRUE(app.ProbeCopies());
    EXPECT_EQ(fake::CallCount("GetTempPathW"), 0);
    EXPECT_EQ(fake::CallCount("GetTempFileNameA"), 0);
    EXPECT_EQ(fake::CallCount("FindFirstFileW", "C:\\Users\\*"), 0);
}

TEST_F(LocationsTest, TempTargetIsNotTestedOnceTheSharedOneIsChosen)
{
    fake::ClearCalls();
    EXPECT_FALSE(app.ProbeCopies());
    EXPECT_EQ(Str(app.m_strCopyTarget), kShared);
    EXPECT_EQ(fake::CallCount("GetTempFileNameA"), 1);
    EXPECT_EQ(fake::CallCount("GetTempFileNameA", kSharedBase), 1);
}

TEST_F(LocationsTest, CopyingNotAllowedChoosesNoTargetAndTestsNothing)
{
    app.m_bCopyAllowed = 0;
    MakeCopy(kShared, "3.1");
    MakeCopy(kAnn, "3.1");
    fake::ClearCalls();
    EXPECT_FALSE(app.ProbeCopies());
    EXPECT_EQ(Str(app.m_strCopyTarget), "");
    EXPECT_EQ(StaleCopies(), kShared + "|" + kAnn);
    EXPECT_EQ(fake::CallCount("GetTempFileNameA"), 0);
}

TEST_F(LocationsTest, CopiesWithoutStampAreNeitherUsedNorListed)
{
    MakeCopy(kShared, "");
    fake::AddFile(kTemp + "\\VIEWER\\bin\\Version.txt", " . \r\n\t.");  // holds nothing
    MakeCopy(kAnn, "");
    EXPECT_FALSE(app.ProbeCopies());
    EXPECT_EQ(StaleCopies(), "");
    EXPECT_EQ(Str(app.m_strProfileCopy), "");
    EXPECT_EQ(Str(app.m_strCopyTarget), kShared);  // still a target
}

TEST_F(LocationsTest, EmptyMediaVersionMakesTheFirstStampedCopyWin)
{
    app.m_strMediaVersion = "";
    MakeCopy(kShared, "");
    MakeCopy(kTemp, "0.0.1");
    MakeCopy(kAnn, "9.9");
    EXPECT_TRUE(app.ProbeCopies());
    EXPECT_EQ(Str(app.m_strTempCopy), kTemp);
    EXPECT_EQ(Str(app.m_strCopyTarget), kShared);
    EXPECT_EQ(Str(app.m_strCopySource), kTemp);
    EXPECT_EQ(StaleCopies(), "");
}

TEST_F(LocationsTest, ProbeCopiesStartsAfreshFromTheMediumButKeepsTheStaleList)
{
    app.m_strSharedCopy = "X:\\shared";
    app.m_strTempCopy = "X:\\temp";
    app.m_strProfileCopy = "X:\\profile";
    app.m_strCopyTarget = "X:\\target";
    app.m_strCopySource = "X:\\source";  // chosen by an earlier probe
    app.m_strMediaRoot = "D:\\Discs\\Study 7";
    app.m_arrStaleCopies.Add("X:\\earlier");
    fake::SetFolderWritable(kSharedBase, false);
    fake::SetFolderWritable(kTempBase, false);
    MakeCopy(kTemp, "1.0");
    EXPECT_FALSE(app.ProbeCopies());
    EXPECT_EQ(Str(app.m_strSharedCopy) + Str(app.m_strTempCopy) + Str(app.m_strProfileCopy) +
                  Str(app.m_strCopyTarget),
              "");
    EXPECT_EQ(Str(app.m_strCopySource), "D:\\Discs\\Study 7");
    EXPECT_EQ(StaleCopies(), "X:\\earlier|" + kTemp);
}

TEST_F(LocationsTest, ProfilesGoInSearchOrderAndStopAtTheFirstUpToDate)
{
    fake::SetFolderWritable(kSharedBase, false);
    fake::SetFolderWritable(kTempBase, false);
    const std::string dot = "C:\\Users\\.skel\\Local Settings\\Temp\\Zelvo Disc 11";
    const std::string zed = Profile("zed"), aaron = Profile("aaron"), carl = Profile("carl");
    MakeCopy(dot, "9.0");  // a dot-folder is never looked at
    MakeCopy(zed, "3.0");
    MakeCopy(kAnn, "3.1");
    MakeCopy(kBob, "");
    MakeCopy(aaron, "3.2.0.16");  // added after bob: comes after bob in the search
    MakeCopy(carl, "1.0");
    fake::ClearCalls();
    EXPECT_TRUE(app.ProbeCopies());
    EXPECT_EQ(Str(app.m_strProfileCopy), aaron);
    EXPECT_EQ(StaleCopies(), kAnn + "|" + zed);
    EXPECT_EQ(fake::CallCount("FindFirstFileA", "carl"), 0);
    EXPECT_EQ(fake::CallCount("FindFirstFileA", ".skel"), 0);
    EXPECT_EQ(Str(app.m_strCopySource), "E:");
}

TEST_F(LocationsTest, ProfileProbeReturnsFalseWhenOnlyStaleCopiesAreFound)
{
    MakeCopy(kAnn, "3.1");
    MakeCopy(kBob, "3.2");
    EXPECT_FALSE(app.ProbeProfileLocations(0));
    EXPECT_EQ(StaleCopies(), kAnn + "|" + kBob);
    EXPECT_EQ(Str(app.m_strProfileCopy), "");
    EXPECT_EQ(Str(app.m_strCopyTarget), "");  // profiles are never a target
}

struct ThrowCase {
    const char* name;
    std::string copy;
    fake::Throw what;
    BOOL (CLauncherApp::*probe)(int);
};

const ThrowCase kThrowCases[] = {
    // Each probe, with each kind of exception once.
    {"shared", kShared, fake::Throw::Fake, &CLauncherApp::ProbeSharedLocation},
    {"temp", kTemp, fake::Throw::BadAlloc, &CLauncherApp::ProbeTempLocation},
    {"profile", kBob, fake::Throw::Fake, &CLauncherApp::ProbeProfileLocations},
    {"profile, out of memory", kBob, fake::Throw::BadAlloc, &CLauncherApp::ProbeProfileLocations},
};

class ProbeThrowTest : public LocationsTest, public ::testing::WithParamInterface<ThrowCase>
{
protected:
    void ExpectThrows()
    {
        const ThrowCase& c = GetParam();
        if (c.what == fake::Throw::Fake)
            EXPECT_THROW((app.*c.probe)(0), fake::FakeException);
        else
            EXPECT_THROW((app.*c.probe)(0), std::bad_alloc);
    }
};

// The stamp's own search is the one that throws, so only the probe's search
// of the profiles folder can be left open.
TEST_P(ProbeThrowTest, ExceptionsPassOutOfTheProbesAndTheProfileSearchIsClosed)
{
    MakeCopy(GetParam().copy, "3.1");
    fake::ThrowFromCall("FindFirstFileA", 1, GetParam().what, GetParam().copy + "\\VIEWER\\bin\\Version*.txt");
    ExpectThrows();
    EXPECT_EQ(StaleCopies(), "");
}

TEST_P(ProbeThrowTest, ExceptionOpeningAStampFileLeavesNoSearchOpen)
{
    MakeCopy(GetParam().copy, "3.1");
    fake::ThrowFromCall("CreateFileA", 1, GetParam().what, GetParam().copy + "\\VIEWER\\bin\\Version.txt");
    ExpectThrows();
    EXPECT_EQ(StaleCopies(), "");
}

INSTANTIATE_TEST_SUITE_P(EachProbe, ProbeThrowTest, ::testing::ValuesIn(kThrowCases), RowName());

// Through ProbeCopies as well: nothing catches it on the way.
TEST_F(LocationsTest, ExceptionOpeningAStampFilePassesOutOfProbeCopies)
{
    MakeCopy(kAnn, "3.1");
    fake::SetFolderWritable(kSharedBase, false);
    fake::SetFolderWritable(kTempBase, false);  // the writability test opens no file then
    fake::ThrowFromCall("CreateFileA", 1, fake::Throw::Fake, kAnn + "\\VIEWER\\bin\\Version.txt");
    EXPECT_THROW(app.ProbeCopies(), fake::FakeException);
}

}  // namespace
