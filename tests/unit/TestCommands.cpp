// The launch, delete and repair commands, run end to end on the fake machine.
#include "LauncherTest.h"

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace paths;

namespace {

const std::string kNew = "3.2.0.15";  // the medium's version
const std::string kOld = "3.1";
const std::string kAnn = Profile("ann");
const std::string kBob = Profile("bob");
const std::string kFixedRoot = "D:\\Discs\\Study 7";

using Layout = std::map<std::string, std::string>;

// What a copy folder holds, told apart by how it got there.
enum class Held {
    Nothing,    // no such folder
    FromMedium, // exactly the medium's VIEWER tree and the companion
    Current,    // an up-to-date copy as an earlier run left it, untouched
    MovedIn,    // that copy moved here, with the record the move gave it
    Old,        // the out-of-date copy that was there before, untouched
};

Layout CopyLayout(const std::string& version)
{
    return {{"VIEWER\\", "<folder>"},
            {"VIEWER\\bin\\", "<folder>"},
            {"VIEWER\\bin\\KiroZelvo.exe", std::string(9000, 'K')},
            {"VIEWER\\bin\\Version.txt", version + "\r\n"},
            {"kiro\\", "<folder>"},
            {"kiro\\KiroPageHolder.exe", std::string(600, 'H')}};
}

Layout MediumLayout(const std::string& root)
{
    Layout layout{{"VIEWER\\", "<folder>"}, {"kiro\\", "<folder>"}};
    for (const auto& [path, what] : fake::Snapshot(root + "\\VIEWER"))
        layout["VIEWER\\" + path] = what;
    layout["kiro\\KiroPageHolder.exe"] = fake::Contents(root + "\\kiro\\KiroPageHolder.exe");
    return WithRecord(layout);
}

std::string ViewerLine(const std::string& folder, const std::string& root = "E:")
{
    return "\"" + folder + "\\VIEWER\\bin\\KiroZelvo.exe\" data=" + root + "\\";
}

class CommandTest : public LauncherTest
{
public:
    // For the set-up steps of table rows.
    void Medium(const std::string& root, UINT type) { MakeMedium(root, type, kNew); }
    void Copy(const std::string& folder, const std::string& version) { MakeCopy(folder, version); }

protected:
    void ExpectHeld(const std::string& folder, Held held, const std::string& root = "E:")
    {
        SCOPED_TRACE(folder);
        switch (held) {
        case Held::Nothing:
            EXPECT_FALSE(fake::Exists(folder));
            break;
        case Held::FromMedium:
            ASSERT_TRUE(fake::IsFolder(folder));
            EXPECT_EQ(fake::Snapshot(folder), MediumLayout(root));
            break;
        case Held::Current:
            ASSERT_TRUE(fake::IsFolder(folder));
            EXPECT_EQ(fake::Snapshot(folder), CopyLayout(kNew));
            break;
        case Held::MovedIn:
            ASSERT_TRUE(fake::IsFolder(folder));
            EXPECT_EQ(fake::Snapshot(folder), WithRecord(CopyLayout(kNew)));
            break;
        case Held::Old:
            ASSERT_TRUE(fake::IsFolder(folder));
            EXPECT_EQ(fake::Snapshot(folder), CopyLayout(kOld));
            break;
        }
    }

    void ExpectNoLeftovers()
    {
        for (const std::string& folder : {kShared, kTemp, kAnn, kBob}) {
            EXPECT_FALSE(fake::Exists(folder + ".partial")) << folder;
            EXPECT_FALSE(fake::Exists(folder + ".deleting")) << folder;
        }
    }

    // The viewer was started once, from `folder`, with the medium's root as data.
    void ExpectViewerFrom(const std::string& folder, const std::string& root = "E:")
    {
        ASSERT_EQ(fake::Processes().size(), 1u);
        const fake::ProcessRecord& viewer = fake::Processes()[0];
        EXPECT_EQ(viewer.commandLine.value_or("<none>"), ViewerLine(folder, root));
        EXPECT_EQ(viewer.currentDirectory.value_or("<none>"), folder + "\\VIEWER\\bin");
        EXPECT_TRUE(viewer.result) << "the viewer is there to start";
    }

    void ExpectRepairMessage()
    {
        ASSERT_EQ(fake::MessageBoxes().size(), 1u);
        const fake::MessageBoxRecord& box = fake::MessageBoxes()[0];
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.caption.value_or("<none>"), ReadMessage("repair").caption);
        EXPECT_EQ(box.text.value_or("<none>"), ReadMessage("repair").text);
        EXPECT_EQ(box.type, MB_OK);
    }

    // The folders passed to the shell for deletion, in order.
    static std::vector<std::string> Deleted()
    {
        std::vector<std::string> folders;
        for (const auto& op : fake::ShellOps())
            if (op.func == FO_DELETE)
                folders.insert(folders.end(), op.from.begin(), op.from.end());
        return folders;
    }
};

// ---- Launch ------------------------------------------------------------------

struct LaunchCase {
    const char* name;
    std::function<void(CommandTest&)> arrange;  // after the default disc in E:
    std::string viewerFrom;
    std::map<std::string, Held> disk;  // copy folders afterwards
    // launcher state afterwards
    std::string sharedCopy, tempCopy, profileCopy, target, stale;
};

void NoRoom() { fake::SetDriveFreeBytes("C:", 0); }
void SharedNotWritable() { fake::SetFolderWritable(kSharedBase, false); }

class LaunchTest : public CommandTest
{
};

using H = Held;
const LaunchCase kLaunchCases[] = {
    {"fixed drive: started from the medium, nothing else",
     [](CommandTest& t) {
         t.Medium(kFixedRoot, DRIVE_FIXED);
         t.Copy(kShared, kOld);
         t.Copy(kTemp, kNew);
     },
     kFixedRoot, {{kShared, H::Old}, {kTemp, H::Current}}, "", "", "", "", ""},
    {"no copy anywhere: copied into the shared location",
     [](CommandTest&) {},
     kShared, {{kShared, H::FromMedium}, {kTemp, H::Nothing}}, kShared, "", "", "", ""},
    {"shared not writable: copied into the temp location",
     [](CommandTest&) { SharedNotWritable(); },
     kTemp, {{kShared, H::Nothing}, {kTemp, H::FromMedium}}, "", kTemp, "", "", ""},
    {"up-to-date shared copy: nothing deleted or copied",
     [](CommandTest& t) {
         t.Copy(kShared, kNew);
         t.Copy(kTemp, kOld);
         t.Copy(kAnn, kOld);
     },
     kShared, {{kShared, H::Current}, {kTemp, H::Old}, {kAnn, H::Old}}, kShared, "", "", "", ""},
    {"up-to-date shared copy, removable medium",
     [](CommandTest& t) {
         t.Medium("E:", DRIVE_REMOVABLE);
         t.Copy(kShared, kNew);
         t.Copy(kTemp, kOld);
     },
     kShared, {{kShared, H::Current}, {kTemp, H::Old}}, kShared, "", "", "", ""},
    {"up-to-date temp copy: old shared deleted, temp copy moved in",
     [](CommandTest& t) {
         t.Copy(kShared, kOld);
         t.Copy(kTemp, kNew);
     },
     kShared, {{kShared, H::MovedIn}, {kTemp, H::Nothing}}, kShared, "", "", "", ""},
    {"up-to-date profile copy: old temp deleted, profile copy moved in",
     [](CommandTest& t) {
         t.Copy(kTemp, kOld);
         t.Copy(kAnn, kNew);
         t.Copy(kBob, kOld);  // after the up-to-date one: not examined
     },
     kShared, {{kShared, H::MovedIn}, {kTemp, H::Nothing}, {kAnn, H::Nothing}, {kBob, H::Old}},
     kShared, "", "", "", ""},
    {"up-to-date temp copy, no room: stays where it is",
     [](CommandTest& t) {
         t.Copy(kTemp, kNew);
         NoRoom();
     },
     kTemp, {{kShared, H::Nothing}, {kTemp, H::Current}}, "", kTemp, "", kShared, ""},
    {"up-to-date profile copy, no room: old temp deleted all the same",
     [](CommandTest& t) {
         t.Copy(kTemp, kOld);
         t.Copy(kAnn, kNew);
         NoRoom();
     },
     kAnn, {{kShared, H::Nothing}, {kTemp, H::Nothing}, {kAnn, H::Current}}, "", "", kAnn, kShared, ""},
    {"up-to-date temp copy, shared not writable: no target",
     [](CommandTest& t) {
         t.Copy(kShared, kOld);
         t.Copy(kTemp, kNew);
         SharedNotWritable();
     },
     kTemp, {{kShared, H::Old}, {kTemp, H::Current}}, "", kTemp, "", "", kShared},
    {"shared not writable, profile copy up to date: copied from the medium into temp",
     [](CommandTest& t) {
         t.Copy(kAnn, kNew);
         SharedNotWritable();
     },
     kTemp, {{kShared, H::Nothing}, {kTemp, H::FromMedium}, {kAnn, H::Current}}, "", kTemp, "", "", ""},
    {"removable medium, profile copy up to date: old copies stay",
     [](CommandTest& t) {
         t.Medium("E:", DRIVE_REMOVABLE);
         t.Copy(kShared, kOld);
         t.Copy(kBob, kNew);
     },
     kBob, {{kShared, H::Old}, {kTemp, H::Nothing}, {kBob, H::Current}}, "", "", kBob, "", kShared},
    {"network medium, no up-to-date copy: the medium",
     [](CommandTest& t) {
         t.Medium("E:", DRIVE_REMOTE);
         t.Copy(kShared, kOld);
         t.Copy(kTemp, kOld);
     },
     "E:", {{kShared, H::Old}, {kTemp, H::Old}}, "", "", "", "", kShared + "|" + kTemp},
    {"no up-to-date copy, no room: old copy deleted, the medium",
     [](CommandTest& t) {
         t.Copy(kShared, kOld);  // what its deletion frees is less than the viewer needs
         NoRoom();
     },
     "E:", {{kShared, H::Nothing}}, "", "", "", kShared, ""},
    {"old shared copy: replaced in the same place",
     [](CommandTest& t) { t.Copy(kShared, kOld); },
     kShared, {{kShared, H::FromMedium}}, kShared, "", "", "", ""},
    {"nothing writable, profile copy up to date",
     [](CommandTest& t) {
         t.Copy(kShared, kOld);
         t.Copy(kBob, kNew);
         SharedNotWritable();
         fake::SetFolderWritable(kTempBase, false);
     },
     kBob, {{kShared, H::Old}, {kBob, H::Current}}, "", "", kBob, "", kShared},
    // The old shared copy cannot be cleared (its viewer runs): the fallback to
    // the temp location copies from the medium, and bob's copy stays his.
    {"old shared copy in use, profile copy up to date: copied from the medium into temp",
     [](CommandTest& t) {
         t.Copy(kShared, kOld);
         fake::HoldOpenExternally(kShared + "\\kiro\\KiroPageHolder.exe", GENERIC_READ, FILE_SHARE_READ);
         t.Copy(kBob, kNew);
     },
     kTemp, {{kShared, H::Old}, {kTemp, H::FromMedium}, {kBob, H::Current}}, "", kTemp, "", "", kShared},
    // No launch could ever use a copy without a stamp: none is made.
    {"disc without a stamp: nothing copied",
     [](CommandTest&) { fake::Remove("E:\\VIEWER\\bin\\Version.txt"); },
     "E:", {{kShared, H::Nothing}}, "", "", "", kShared, ""},
    {"nothing writable, no up-to-date copy",
     [](CommandTest& t) {
         t.Copy(kTemp, kOld);
         SharedNotWritable();
         fake::SetFolderWritable(kTempBase, false);
     },
     "E:", {{kShared, H::Nothing}, {kTemp, H::Old}}, "", "", "", "", kTemp},
};

class LaunchOutcomeTest : public CommandTest, public ::testing::WithParamInterface<LaunchCase>
{
};

TEST_P(LaunchOutcomeTest, ViewerCopiesAndState)
{
    const LaunchCase& c = GetParam();
    MakeMedium("E:", DRIVE_CDROM, kNew);
    c.arrange(*this);
    app.RunLaunch();

    std::string root = c.viewerFrom == kFixedRoot ? kFixedRoot : "E:";
    ExpectViewerFrom(c.viewerFrom, root);
    for (const auto& [folder, held] : c.disk)
        ExpectHeld(folder, held);
    EXPECT_EQ(Str(app.m_strSharedCopy), c.sharedCopy);
    EXPECT_EQ(Str(app.m_strTempCopy), c.tempCopy);
    EXPECT_EQ(Str(app.m_strProfileCopy), c.profileCopy);
    EXPECT_EQ(Str(app.m_strCopyTarget), c.target);
    EXPECT_EQ(StaleCopies(), c.stale);
    ExpectNoLeftovers();
    EXPECT_TRUE(fake::MessageBoxes().empty()) << "the launch never shows a message";
}

INSTANTIATE_TEST_SUITE_P(EveryOutcome, LaunchOutcomeTest, ::testing::ValuesIn(kLaunchCases), RowName());

// ---- Copies another user could have written ------------------------------------

void OwnedBy(const std::string& folder, const std::string& owner)
{
    fake::Security security;
    security.owner = owner;
    fake::SetSecurity(folder, security);
}

void Allow(const std::string& folder, const fake::Ace& ace)
{
    fake::Security security = fake::GetSecurity(folder);
    security.dacl.push_back(ace);
    fake::SetSecurity(folder, security);
}

const BYTE kInheritOnly = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE;
const DWORD kModify = 0x1301bf;

const LaunchCase kTrustCases[] = {
    {"shared copy of the administrators: used",
     [](CommandTest& t) {
         t.Copy(kShared, kNew);
         OwnedBy(kShared, fake::sid::kAdministrators);
     },
     kShared, {{kShared, H::Current}}, kShared, "", "", "", ""},
    {"shared copy of the system: used",
     [](CommandTest& t) {
         t.Copy(kShared, kNew);
         OwnedBy(kShared, fake::sid::kSystem);
     },
     kShared, {{kShared, H::Current}}, kShared, "", "", "", ""},
    {"full control for whoever creates an entry: used",
     [](CommandTest& t) {
         t.Copy(kShared, kNew);
         Allow(kShared, {fake::sid::kCreatorOwner, FILE_ALL_ACCESS, kInheritOnly});
     },
     kShared, {{kShared, H::Current}}, kShared, "", "", "", ""},
    {"shared copy of another user: replaced from the medium",
     [](CommandTest& t) {
         t.Copy(kShared, kNew);
         OwnedBy(kShared, fake::sid::kOtherUser);
     },
     kShared, {{kShared, H::FromMedium}}, kShared, "", "", "", ""},
    {"shared copy that many may read, a descriptor longer than a first read takes: used",
     [](CommandTest& t) {
         t.Copy(kShared, kNew);
         for (int i = 0; i < 20; i++)
             Allow(kShared, {fake::sid::kOtherUser, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, 3});
     },
     kShared, {{kShared, H::Current}}, kShared, "", "", "", ""},
    {"shared copy every user may change: replaced",
     [](CommandTest& t) {
         t.Copy(kShared, kNew);
         Allow(kShared, {fake::sid::kEveryone, kModify, 3});
     },
     kShared, {{kShared, H::FromMedium}}, kShared, "", "", "", ""},
    {"shared copy whose files every user may change: replaced",
     [](CommandTest& t) {
         t.Copy(kShared, kNew);
         Allow(kShared, {fake::sid::kInteractive, kModify, kInheritOnly});
     },
     kShared, {{kShared, H::FromMedium}}, kShared, "", "", "", ""},
    {"shared copy whose security cannot be read: replaced",
     [](CommandTest& t) {
         t.Copy(kShared, kNew);
         fake::Security security;
         security.unreadable = true;
         fake::SetSecurity(kShared, security);
     },
     kShared, {{kShared, H::FromMedium}}, kShared, "", "", "", ""},
    {"shared copy on a volume without permissions: replaced",
     [](CommandTest& t) {
         t.Copy(kShared, kNew);
         fake::Security security;
         security.nullDacl = true;
         fake::SetSecurity(kShared, security);
     },
     kShared, {{kShared, H::FromMedium}}, kShared, "", "", "", ""},
    {"another user's shared copy in use: copied into temp",
     [](CommandTest& t) {
         t.Copy(kShared, kNew);
         OwnedBy(kShared, fake::sid::kOtherUser);
         fake::HoldOpenExternally(kShared + "\\VIEWER\\bin\\KiroZelvo.exe", GENERIC_READ, FILE_SHARE_READ);
     },
     kTemp, {{kShared, H::Current}, {kTemp, H::FromMedium}}, "", kTemp, "", "", kShared},
    {"another user's up-to-date profile copy: neither moved nor started",
     [](CommandTest& t) {
         t.Copy(kBob, kNew);
         OwnedBy(kBob, fake::sid::kOtherUser);
     },
     kShared, {{kShared, H::FromMedium}, {kBob, H::Current}}, kShared, "", "", "", ""},
    {"another user's old profile copy: not deleted",
     [](CommandTest& t) {
         t.Copy(kBob, kOld);
         OwnedBy(kBob, fake::sid::kOtherUser);
     },
     kShared, {{kShared, H::FromMedium}, {kBob, H::Old}}, kShared, "", "", "", ""},
    {"another user's profile copy, nothing writable: the medium",
     [](CommandTest& t) {
         t.Copy(kBob, kNew);
         OwnedBy(kBob, fake::sid::kOtherUser);
         SharedNotWritable();
         fake::SetFolderWritable(kTempBase, false);
     },
     "E:", {{kBob, H::Current}}, "", "", "", "", ""},
};

INSTANTIATE_TEST_SUITE_P(CopiesOthersCouldHaveWritten, LaunchOutcomeTest, ::testing::ValuesIn(kTrustCases), RowName());

struct NewCopyCase {
    const char* name;
    std::function<void(CommandTest&)> arrange;
};

class NewCopySecurityTest : public CommandTest, public ::testing::WithParamInterface<NewCopyCase>
{
};

// A new shared copy is the system's, the administrators' and its owner's to
// change; every user may run it, and nothing comes from the folder above.
TEST_P(NewCopySecurityTest, OnlyItsOwnerAndTheAdministratorsMayChangeIt)
{
    MakeMedium("E:", DRIVE_CDROM, kNew);
    GetParam().arrange(*this);
    app.RunLaunch();

    ExpectViewerFrom(kShared);
    fake::Security security = fake::GetSecurity(kShared);
    EXPECT_TRUE(security.isProtected);
    const BYTE inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    std::vector<fake::Ace> expected = {{fake::sid::kSystem, FILE_ALL_ACCESS, inherit},
                                       {fake::sid::kAdministrators, FILE_ALL_ACCESS, inherit},
                                       {fake::sid::kUser, FILE_ALL_ACCESS, inherit},
                                       {fake::sid::kUsers, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, inherit}};
    EXPECT_EQ(security.dacl, expected);
}

const NewCopyCase kNewCopyCases[] = {
    {"copied from the medium", [](CommandTest&) {}},
    {"moved in from the temp folder", [](CommandTest& t) { t.Copy(kTemp, kNew); }},
};

INSTANTIATE_TEST_SUITE_P(EachWayIn, NewCopySecurityTest, ::testing::ValuesIn(kNewCopyCases), RowName());

TEST_F(LaunchTest, TheCopyToStartFromCannotBeSwappedUntilTheViewerRuns)
{
    MakeMedium("E:", DRIVE_CDROM, kNew);
    MakeCopy(kShared, kNew);
    app.LocateMedia();
    app.ProbeCopies();
    EXPECT_FALSE(MoveFileA(kShared.c_str(), (kShared + " swapped").c_str())) << "held from its check on";
    app.LaunchBestCopy();
    ExpectViewerFrom(kShared);
    EXPECT_TRUE(MoveFileA(kShared.c_str(), (kShared + " swapped").c_str())) << "let go once the viewer runs";
}

TEST_F(LaunchTest, AFixedDriveMediumLeavesEveryCopyLocationAlone)
{
    MakeMedium(kFixedRoot, DRIVE_FIXED, kNew);
    MakeCopy(kShared, kOld);
    MakeCopy(kTemp, kNew);
    MakeCopy(kAnn, kOld);
    app.RunLaunch();

    ExpectViewerFrom(kFixedRoot, kFixedRoot);
    for (const fake::CallRecord& call : fake::Calls())
        EXPECT_EQ(call.arg.find("C:\\Users"), std::string::npos) << call.function << "(" << call.arg << ")";
    EXPECT_EQ(fake::CallCount("GetTempPathW"), 0);
    EXPECT_EQ(fake::CallCount("GetEnvironmentVariableA"), 0);
    EXPECT_TRUE(fake::ShellOps().empty());
}

class StaleCopyThrowsTest : public CommandTest, public ::testing::WithParamInterface<fake::Throw>
{
};

TEST_P(StaleCopyThrowsTest, AnExceptionWhileDeletingOneStaleCopyStopsNothingElse)
{
    MakeMedium();
    MakeCopy(kShared, kOld);
    MakeCopy(kTemp, kOld);
    MakeCopy(kAnn, kOld);
    MakeCopy(kBob, kOld);
    fake::ThrowFromCall("MoveFileA", 1, GetParam(), kTemp);  // as the temp copy leaves its name
    app.RunLaunch();

    ExpectHeld(kTemp, Held::Old);
    ExpectHeld(kAnn, Held::Nothing);
    ExpectHeld(kBob, Held::Nothing);
    ExpectHeld(kShared, Held::FromMedium);
    EXPECT_EQ(app.m_arrStaleCopies.GetSize(), 0);
    ExpectViewerFrom(kShared);
}

INSTANTIATE_TEST_SUITE_P(Launch, StaleCopyThrowsTest,
                         ::testing::Values(fake::Throw::Fake,       // a runtime error
                                           fake::Throw::BadAlloc),  // out of memory
                         [](const ::testing::TestParamInfo<fake::Throw>& info) {
                             return info.param == fake::Throw::Fake ? "RuntimeError" : "OutOfMemory";
                         });

TEST_F(LaunchTest, AnEmptyStaleListStillLeadsToTheInstallation)
{
    MakeMedium();
    app.RunLaunch();
    // Nothing to delete, and no missing folder is handed to the shell.
    EXPECT_EQ(Deleted(), std::vector<std::string>{});
    EXPECT_EQ(app.m_arrStaleCopies.GetSize(), 0);
    ExpectHeld(kShared, Held::FromMedium);
    ExpectViewerFrom(kShared);
}

TEST_F(LaunchTest, TargetAndSourceDifferingOnlyByCaseCopyNothing)
{
    // The temp folder names the shared base in other letters, so the temp
    // copy is the shared copy folder itself; the shared probe misses its stamp.
    MakeMedium();
    MakeCopy(kShared, kNew);
    const std::string upper = "C:\\USERS\\PUBLIC\\APPLICATION DATA";
    fake::SetTempPath(upper + "\\");
    fake::FailCall("FindFirstFileA", 1, ERROR_FILE_NOT_FOUND, kShared + "\\VIEWER\\bin\\Version*.txt");
    app.RunLaunch();

    EXPECT_EQ(Str(app.m_strCopyTarget), kShared);
    EXPECT_EQ(Str(app.m_strCopySource), upper + "\\Zelvo Disc 11");
    EXPECT_TRUE(fake::ShellOps().empty()) << "nothing deleted or copied";
    EXPECT_EQ(fake::CallCount("CreateDirectoryA"), 0);
    ExpectHeld(kShared, Held::Current);
    ExpectViewerFrom(upper + "\\Zelvo Disc 11");
}

struct FailedInstallCase {
    const char* name;
    std::function<void(CommandTest&)> arrange;
    std::string viewerFrom;
    Held target;
};

const FailedInstallCase kFailedInstallCases[] = {
    // The temp location is the target; the companion cannot be copied.
    {"companion copy fails, profile copy up to date",
     [](CommandTest& t) {
         t.Copy(kAnn, kNew);
         SharedNotWritable();
         fake::FailCall("CopyFileA", 1, ERROR_DISK_FULL, "E:\\kiro\\KiroPageHolder.exe");
     },
     kAnn, Held::Nothing},
    // The shared location is the target; the viewer falls back to the medium.
    {"companion copy fails, no other copy",
     [](CommandTest&) { fake::FailCall("CopyFileA", 1, ERROR_DISK_FULL, "E:\\kiro\\KiroPageHolder.exe"); }, "E:",
     Held::Nothing},
    // The user cancels the copy into the temp location.
    {"copy cancelled, profile copy up to date",
     [](CommandTest& t) {
         t.Copy(kBob, kNew);
         SharedNotWritable();
         fake::ShellCancelAfterFiles(3, FO_COPY);
     },
     kBob, Held::Nothing},
};

class FailedInstallTest : public CommandTest, public ::testing::WithParamInterface<FailedInstallCase>
{
};

TEST_P(FailedInstallTest, TheSecondProbeDecides)
{
    const FailedInstallCase& c = GetParam();
    MakeMedium();
    c.arrange(*this);
    app.RunLaunch();
    ExpectViewerFrom(c.viewerFrom);
    ExpectHeld(Str(app.m_strCopyTarget), c.target);
    EXPECT_FALSE(app.m_strCopyTarget.IsEmpty()) << "the second probe chose the target again";
}

INSTANTIATE_TEST_SUITE_P(AfterAFailedInstallation, FailedInstallTest, ::testing::ValuesIn(kFailedInstallCases),
                         RowName());

TEST_F(LaunchTest, WithoutRoomNothingIsInstalledAndNothingProbedAgain)
{
    MakeMedium();
    MakeCopy(kTemp, kNew);
    NoRoom();
    app.RunLaunch();
    EXPECT_EQ(fake::CallCount("FindFirstFileA", kShared + "\\VIEWER\\bin\\Version*.txt"), 1);
    EXPECT_EQ(fake::CallCount("CreateDirectoryA"), 0);
    EXPECT_EQ(fake::CallCount("MoveFileA"), 0);
    EXPECT_TRUE(fake::ShellOps().empty());
    ExpectViewerFrom(kTemp);
}

TEST_F(LaunchTest, AMediumWithoutCompanionIsNotCopied)
{
    MakeMedium();
    fake::Remove("E:\\kiro\\KiroPageHolder.exe");
    app.m_strCopyTarget = kShared.c_str();
    app.m_strCopySource = "E:";
    // The space check wants the companion; without it nothing is installed.
    EXPECT_FALSE(app.HasRoomForCopy());
    app.RunLaunch();
    ExpectViewerFrom("E:");
    ExpectHeld(kShared, Held::Nothing);
}

// ---- Delete ------------------------------------------------------------------

class DeleteTest : public CommandTest
{
};

TEST_F(DeleteTest, EveryCandidateIsListedAndDeleted)
{
    MakeCopy(kShared, kNew);
    MakeCopy(kTemp, kOld);
    MakeCopy(kAnn, "");  // no stamp: deleted all the same
    MakeCopy(kBob, kNew);
    fake::AddFile(kShared + ".partial\\VIEWER\\bin\\Version.txt", kNew);  // leftovers of installations
    fake::AddFile(kBob + ".partial\\kiro\\KiroPageHolder.exe", "H");
    const std::string publicProfile = Profile("Public");

    Run(L"\"E:\\VIEWER\\bin\\ZelvoLauncher.exe\" /DELETE");

    // A copy leaves under another name before the shell deletes it; a folder
    // that is not there is not handed to the shell.
    EXPECT_EQ(Deleted(), (std::vector<std::string>{kShared + ".deleting", kShared + ".partial", kTemp + ".deleting",
                                                   kAnn + ".deleting", kBob + ".deleting", kBob + ".partial"}));
    for (const std::string& folder : {kShared, kTemp, kAnn, kBob, publicProfile}) {
        EXPECT_FALSE(fake::Exists(folder)) << folder;
        EXPECT_FALSE(fake::Exists(folder + ".partial")) << folder;
    }
    EXPECT_TRUE(fake::IsFolder(kSharedBase));
    EXPECT_TRUE(fake::IsFolder(kTempBase));
    EXPECT_EQ(app.m_arrStaleCopies.GetSize(), 0);
    EXPECT_TRUE(fake::Processes().empty());
    EXPECT_TRUE(fake::MessageBoxes().empty());
}

TEST_F(DeleteTest, WithoutTheAllUsersFolderOnlyTheTempCopyGoes)
{
    MakeCopy(kShared, kOld);
    MakeCopy(kTemp, kOld);
    MakeCopy(kAnn, kOld);
    fake::UnsetEnv("PUBLIC");
    app.RunDelete();

    EXPECT_EQ(Deleted(), std::vector<std::string>{kTemp + ".deleting"});
    ExpectHeld(kTemp, Held::Nothing);
    ExpectHeld(kShared, Held::Old);
    ExpectHeld(kAnn, Held::Old);
    EXPECT_EQ(app.m_arrStaleCopies.GetSize(), 0);
}

TEST_F(DeleteTest, AnExceptionWhileDeletingOneCopyStopsNothingElse)
{
    MakeCopy(kShared, kOld);
    MakeCopy(kTemp, kOld);
    MakeCopy(kAnn, kOld);
    MakeCopy(kBob, kOld);
    fake::ThrowFromCall("MoveFileA", 1, fake::Throw::Fake, kTemp);  // the temp copy, as it leaves its name
    app.RunDelete();

    ExpectHeld(kShared, Held::Nothing);
    ExpectHeld(kTemp, Held::Old);
    ExpectHeld(kAnn, Held::Nothing);
    ExpectHeld(kBob, Held::Nothing);
    EXPECT_EQ(app.m_arrStaleCopies.GetSize(), 0);
}

// ---- Repair ------------------------------------------------------------------

class RepairTest : public CommandTest
{
};

TEST_F(RepairTest, ASuccessfulRepairShowsNothingAndStartsNothing)
{
    MakeMedium();
    MakeCopy(kShared, kNew);
    MakeCopy(kTemp, kOld);
    MakeCopy(kBob, kNew);
    Run(L"\"E:\\VIEWER\\bin\\ZelvoLauncher.exe\" /REPAIR");

    EXPECT_TRUE(fake::MessageBoxes().empty());
    EXPECT_TRUE(fake::Processes().empty());
    ExpectHeld(kShared, Held::FromMedium);
    ExpectHeld(kTemp, Held::Nothing);
    ExpectHeld(kBob, Held::Nothing);
}

TEST_F(RepairTest, AnExceptionDuringTheDeletionsStillRepairs)
{
    MakeMedium();
    MakeCopy(kShared, kOld);
    MakeCopy(kTemp, kOld);
    fake::ThrowFromCall("SHFileOperationA", 1, fake::Throw::BadAlloc, kShared + ".deleting");  // the shared copy
    app.RunRepair();

    EXPECT_TRUE(fake::MessageBoxes().empty());
    ExpectHeld(kShared, Held::FromMedium);  // cleared by the installation itself
    ExpectHeld(kTemp, Held::Nothing);
}

TEST_F(RepairTest, AFixedDriveMediumIsCopiedAnyway)
{
    MakeMedium(kFixedRoot, DRIVE_FIXED, kNew);
    MakeCopy(kShared, kOld);
    app.RunRepair();

    EXPECT_TRUE(fake::MessageBoxes().empty());
    EXPECT_TRUE(fake::Processes().empty());
    ExpectHeld(kShared, Held::FromMedium, kFixedRoot);
}

struct RepairFailure {
    const char* name;
    std::function<void(CommandTest&)> arrange;
    bool oldCopyStays = false;  // a folder whose entries cannot be renamed keeps its copy whole
};

const RepairFailure kRepairFailures[] = {
    // Only an optical drive's medium is copied.
    {"removable medium", [](CommandTest& t) { t.Medium("E:", DRIVE_REMOVABLE); }},
    {"network medium", [](CommandTest& t) { t.Medium("E:", DRIVE_REMOTE); }},
    // Neither the shared nor the temp location can take a copy.
    {"no writable location",
     [](CommandTest& t) {
         t.Medium("E:", DRIVE_CDROM);
         SharedNotWritable();
         fake::SetFolderWritable(kTempBase, false);
     },
     true},
    {"up-to-date shared copy survives the deletion",
     [](CommandTest& t) {
         t.Medium("E:", DRIVE_CDROM);
         t.Copy(kShared, kNew);
         // The viewer runs from it: its files cannot be deleted.
         fake::HoldOpenExternally(kShared + "\\VIEWER\\bin\\KiroZelvo.exe", GENERIC_READ, FILE_SHARE_READ);
     }},
    // The space check fails.
    {"no room",
     [](CommandTest& t) {
         t.Medium("E:", DRIVE_CDROM);
         NoRoom();
     }},
    // The user cancels the shell's copy.
    {"copy cancelled",
     [](CommandTest& t) {
         t.Medium("E:", DRIVE_CDROM);
         fake::ShellCancelAfterFiles(3, FO_COPY);
     }},
    {"medium without companion",
     [](CommandTest& t) {
         t.Medium("E:", DRIVE_CDROM);
         fake::Remove("E:\\kiro\\KiroPageHolder.exe");
     }},
    // Run from the launcher in a copy: the delete would take the repair's own source.
    {"medium is a copy folder",
     [](CommandTest&) { fake::SetModulePath(kTemp + "\\VIEWER\\bin\\ZelvoLauncher.exe"); }, true},
};

class RepairFailureTest : public CommandTest, public ::testing::WithParamInterface<RepairFailure>
{
};

TEST_P(RepairFailureTest, ShowsTheOneMessage)
{
    MakeCopy(kTemp, kOld);
    GetParam().arrange(*this);
    app.RunRepair();

    ExpectRepairMessage();
    EXPECT_TRUE(fake::Processes().empty()) << "a repair never starts the viewer";
    // The old copy was deleted before anything could fail, or stays whole.
    ExpectHeld(kTemp, GetParam().oldCopyStays ? Held::Old : Held::Nothing);
}

INSTANTIATE_TEST_SUITE_P(EveryFailure, RepairFailureTest, ::testing::ValuesIn(kRepairFailures), RowName());

}  // namespace

// ---- Two launchers at once ---------------------------------------------------

// Every change to a copy folder, and a launch's viewer start, happens while
// this launcher holds the lock on the copy folders.
static void ExpectChangesUnderTheLock()
{
    const auto& calls = fake::Calls();
    int depth = 0;
    for (const fake::CallRecord& call : calls) {
        if (call.function == "WaitForSingleObject")
            depth++;  // the table's waits all succeed when anything changes
        else if (call.function == "ReleaseMutex")
            depth--;
        else if (call.function == "SHFileOperationA" || call.function == "MoveFileA" ||
                 call.function == "CreateDirectoryA" || call.function == "CopyFileA" ||
                 call.function == "GetTempFileNameA" || call.function == "CreateProcessA") {
            EXPECT_GT(depth, 0) << call.function << " " << call.arg << " outside the lock";
        }
    }
}

namespace {

const std::string kLockName = "Global\\Zelvo Disc 11 copy folders";
const DWORD kWaitBound = 60000;  // how long a launcher waits for another one
const std::wstring kLaunch = L"", kDelete = L" /DELETE", kRepair = L" /REPAIR";

// What the other launcher does while it holds the lock.
void Installs() { LauncherTest::MakeCopy(kShared, kNew); }
void DiesCopying() { fake::AddFile(kShared + ".partial\\VIEWER\\help\\index.html", "<html></html>"); }

struct LockRow {
    const char* name;
    std::wstring command;
    bool copyBefore;  // a current shared copy before the run
    fake::MutexHolder holder;
    DWORD heldFor;    // ms from the launcher's start until the other launcher lets go
    void (*whileHeld)();
    DWORD waitResult;        // of the first wait
    Held shared;             // the shared copy folder afterwards
    std::string viewerFrom;  // "" for no viewer start
    bool repairMessage;
};

using fake::MutexHolder;
const LockRow kLockRows[] = {
    // No other launcher: the lock is taken at once.
    {"LaunchFree", kLaunch, false, MutexHolder::None, 0, nullptr, WAIT_OBJECT_0, Held::FromMedium, kShared, false},
    // Kept past the wait: straight to the medium, no copy folder touched.
    {"LaunchKept", kLaunch, false, MutexHolder::Releases, kWaitBound + 1, Installs, WAIT_TIMEOUT, Held::Nothing, "E:",
     false},
    // The other launcher put a copy in place near the end of the wait: used, not made again.
    {"LaunchWaited", kLaunch, false, MutexHolder::Releases, kWaitBound - 1000, Installs, WAIT_OBJECT_0, Held::Current,
     kShared, false},
    // The other launcher died part way: its leftover goes, a fresh copy is made.
    {"LaunchAbandoned", kLaunch, false, MutexHolder::Dies, 1000, DiesCopying, WAIT_ABANDONED, Held::FromMedium, kShared,
     false},
    // /DELETE, free: every copy goes.
    {"DeleteFree", kDelete, true, MutexHolder::None, 0, nullptr, WAIT_OBJECT_0, Held::Nothing, "", false},
    // Kept past the wait: nothing is deleted.
    {"DeleteKept", kDelete, true, MutexHolder::Releases, INFINITE, nullptr, WAIT_TIMEOUT, Held::Current, "", false},
    // The copy the other launcher made is deleted once it lets go.
    {"DeleteWaited", kDelete, false, MutexHolder::Releases, 5000, Installs, WAIT_OBJECT_0, Held::Nothing, "", false},
    // The dead launcher's leftover goes too.
    {"DeleteAbandoned", kDelete, false, MutexHolder::Dies, 5000, DiesCopying, WAIT_ABANDONED, Held::Nothing, "", false},
    // /REPAIR, free: a fresh copy, no message.
    {"RepairFree", kRepair, true, MutexHolder::None, 0, nullptr, WAIT_OBJECT_0, Held::FromMedium, "", false},
    // Kept past the wait: the repair's message, nothing touched.
    {"RepairKept", kRepair, true, MutexHolder::Releases, INFINITE, nullptr, WAIT_TIMEOUT, Held::Current, "", true},
    // A repair replaces even the copy the other launcher just made.
    {"RepairWaited", kRepair, false, MutexHolder::Releases, 5000, Installs, WAIT_OBJECT_0, Held::FromMedium, "",
     false},
    // The dead launcher's leftover goes, a fresh copy is made.
    {"RepairAbandoned", kRepair, false, MutexHolder::Dies, 5000, DiesCopying, WAIT_ABANDONED, Held::FromMedium, "",
     false},
};

class CopyLockTest : public CommandTest, public ::testing::WithParamInterface<LockRow>
{
};

TEST_P(CopyLockTest, WaitsForTheOtherLauncherUpToTheBound)
{
    const LockRow& row = GetParam();
    MakeMedium();
    if (row.copyBefore)
        MakeCopy(kShared, kNew);
    auto before = fake::Snapshot("C:\\Users");
    fake::SetMutexHolder(kLockName, row.holder, row.heldFor, row.whileHeld);

    fake::SetCommandLine(L"\"E:\\VIEWER\\bin\\ZelvoLauncher.exe\"" + row.command);
    app.InitInstance();

    auto lock = fake::Mutex(kLockName);
    ASSERT_TRUE(lock.has_value());
    EXPECT_TRUE(lock->openToEveryone) << "every user's launcher must be able to open it";
    ASSERT_FALSE(lock->waitResults.empty());
    EXPECT_EQ(lock->waitResults[0], row.waitResult);
    EXPECT_EQ(lock->waitResults.size(), row.command == kRepair && row.waitResult != WAIT_TIMEOUT ? 2u : 1u);
    // The launcher waited until the other one let go, or for the whole bound.
    EXPECT_EQ(GetTickCount(), row.holder == MutexHolder::None ? 0 : std::min(row.heldFor, kWaitBound));
    if (row.waitResult == WAIT_TIMEOUT) {
        EXPECT_EQ(fake::Snapshot("C:\\Users"), before) << "a launcher without the lock changes nothing";
        EXPECT_EQ(fake::CallCount("GetTempFileNameA"), 0);
    }
    ExpectChangesUnderTheLock();
    ExpectHeld(kShared, row.shared);
    ExpectNoLeftovers();
    if (row.viewerFrom.empty())
        EXPECT_TRUE(fake::Processes().empty());
    else
        ExpectViewerFrom(row.viewerFrom);
    if (row.repairMessage)
        ExpectRepairMessage();
    else
        EXPECT_TRUE(fake::MessageBoxes().empty());
    if (row.command == kLaunch && row.holder == MutexHolder::Releases) {
        EXPECT_TRUE(fake::ShellOps().empty()) << "the launch copies nothing after a wait";
    }
}

INSTANTIATE_TEST_SUITE_P(EachCommandWithTheLockFreeWaitedForAbandonedOrKept, CopyLockTest,
                         ::testing::ValuesIn(kLockRows), RowName());

}  // namespace

// ---- A copy folder only ever holds a whole copy --------------------------------
//
// Faults that the shell does not report, copies in use and leftovers: after
// each, no copy folder holds a half copy, and nothing is copied for nothing.

namespace {

const std::string kOtherTemp = "D:\\Temp\\Zelvo Disc 11";

// The old viewer runs from the copy, with the companion it started: a file
// that the shell's delete reaches last is held open without delete sharing.
void InUse(const std::string& copyFolder)
{
    fake::HoldOpenExternally(copyFolder + "\\kiro\\KiroPageHolder.exe", GENERIC_READ, FILE_SHARE_READ);
}

// Leftovers of a killed installation and a stopped deletion, 40 KiB each.
void Leftovers(const std::string& copyFolder)
{
    fake::AddFile(copyFolder + ".partial\\VIEWER\\bin\\KiroZelvo.exe", std::string(40960, 'K'));
    fake::AddFile(copyFolder + ".deleting\\VIEWER\\bin\\KiroZelvo.exe", std::string(40960, 'K'));
}

struct WholeCopyCase {
    const char* name;
    std::function<void(CommandTest&)> arrange;  // after the disc in E: and an old shared copy
    std::wstring command;
    std::string viewerFrom;  // "" when no viewer starts
    bool copies;             // a shell copy or move runs
    Held shared;             // the shared copy folder afterwards
};

void PrintTo(const WholeCopyCase& c, std::ostream* os) { *os << c.name; }

const WholeCopyCase kWholeCopyCases[] = {
    // The old viewer runs from the copy a newer disc replaces: Windows refuses
    // to rename it away, so it stays whole, and the temp folder gets the copy.
    {"OldCopyInUse", [](CommandTest&) { InUse(kShared); }, L"", kTemp, true, Held::Old},
    // An up-to-date copy on another volume is not moved where the old copy cannot be cleared.
    {"MoveTargetInUse",
     [](CommandTest& t) {
         fake::AddDrive("D:", DRIVE_FIXED);
         fake::AddFolder("D:\\Temp");
         fake::SetTempPath("D:\\Temp\\");
         t.Copy(kOtherTemp, kNew);
         InUse(kShared);
     },
     L"", kOtherTemp, false, Held::Old},
    // "/DELETE" leaves a copy in use whole.
    {"DeleteCopyInUse", [](CommandTest&) { InUse(kShared); }, L" /DELETE", "", false, Held::Old},
    // A second launcher (or a scanner) reads the disc's stamp at the same
    // moment: the old copy is still seen as old, and replaced.
    {"DiscStampReadByAnother",
     [](CommandTest&) { fake::HoldOpenExternally("E:\\VIEWER\\bin\\Version.txt", GENERIC_READ, FILE_SHARE_READ); },
     L"", kShared, true, Held::FromMedium},
    // ... or an up-to-date copy's stamp: the copy is used, not made again.
    {"CopyStampReadByAnother",
     [](CommandTest& t) {
         t.Copy(kShared, kNew);
         fake::HoldOpenExternally(kShared + "\\VIEWER\\bin\\Version.txt", GENERIC_READ, FILE_SHARE_READ);
     },
     L"", kShared, false, Held::Current},
    // Too little room but for the leftovers: they go first, then the copy fits.
    {"LeftoversOnANearlyFullDisk",
     [](CommandTest&) {
         fake::Remove(kShared);
         Leftovers(kShared);
         fake::SetDriveFreeBytes("C:", 1000);
     },
     L"", kShared, true, Held::FromMedium},
    // A scanner holds up the final rename for 2 seconds.
    {"RenameHeldUpBriefly",
     [](CommandTest&) { fake::HoldUpCall("MoveFileA", kShared + ".partial", ERROR_SHARING_VIOLATION, 2000); },
     L"", kShared, true, Held::FromMedium},
    // A scratched file that nobody can read: the shell leaves it out and reports success (Wine).
    {"UnreadableMediumFile",
     [](CommandTest&) {
         fake::SetShellDropsFileErrors(true);
         fake::HoldOpenExternally("E:\\VIEWER\\help\\img\\logo.png", GENERIC_READ, 0);
     },
     L"", "E:", true, Held::Nothing},
};

class WholeCopyTest : public CommandTest, public ::testing::WithParamInterface<WholeCopyCase>
{
};

TEST_P(WholeCopyTest, NoHalfCopyAndNothingCopiedForNothing)
{
    const WholeCopyCase& c = GetParam();
    MakeMedium();
    MakeCopy(kShared, kOld);
    c.arrange(*this);
    auto sourceBefore = fake::Exists(kOtherTemp) ? fake::Snapshot(kOtherTemp) : Layout{};

    Run(L"\"E:\\VIEWER\\bin\\ZelvoLauncher.exe\"" + c.command);

    if (c.viewerFrom.empty())
        EXPECT_TRUE(fake::Processes().empty());
    else
        ExpectViewerFrom(c.viewerFrom);
    ExpectHeld(kShared, c.shared);
    ExpectNoLeftovers();
    bool copied = false;
    for (const auto& op : fake::ShellOps())
        copied = copied || op.func == FO_COPY || op.func == FO_MOVE;
    EXPECT_EQ(copied, c.copies);
    if (!sourceBefore.empty()) {
        EXPECT_EQ(fake::Snapshot(kOtherTemp), sourceBefore) << "the copy to be moved stays whole where it was";
    }
}

INSTANTIATE_TEST_SUITE_P(EachFault, WholeCopyTest, ::testing::ValuesIn(kWholeCopyCases),
                         [](const ::testing::TestParamInfo<WholeCopyCase>& info) { return info.param.name; });

}  // namespace

// ---- A copy is up to date only while it holds what its record lists ------------

namespace {

const std::string kRecord = "\\ZelvoCopyRecord.txt";

enum class Then { Used, Replaced, MovedIn };

struct RecordCase {
    const char* name;
    std::function<void()> arrange;  // after the disc in E: and a writable, empty shared location
    std::string viewerFrom;
    Then then;
};

void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

const RecordCase kRecordCases[] = {
    // A launcher on an older disc made the copy: its stamp alone judges it.
    {"NoRecord", [] { LauncherTest::MakeCopy(kShared, kNew); }, kShared, Then::Used},
    // A record without its format line is none of ours: the copy is replaced.
    {"MalformedRecord",
     [] {
         LauncherTest::MakeCopy(kShared, kNew);
         fake::AddFile(kShared + kRecord, "9000\tVIEWER\\bin\\KiroZelvo.exe\r\n");
     },
     kShared, Then::Replaced},
    // A later launcher's format counts as no record, whatever it lists.
    {"UnknownFormatVersion",
     [] {
         LauncherTest::MakeCopy(kShared, kNew);
         fake::AddFile(kShared + kRecord, "ZelvoCopyRecord 2\r\n1\tVIEWER\\gone.dll\r\n");
     },
     kShared, Then::Used},
    // A folder's files out of name order: no launcher wrote that record.
    {"FilesOutOfOrder",
     [] {
         LauncherTest::MakeCopy(kShared, kNew);
         fake::AddFile(kShared + kRecord, "ZelvoCopyRecord 1\r\n" + std::to_string(kNew.size() + 2) +
                                              "\tVIEWER\\bin\\Version.txt\r\n9000\tVIEWER\\bin\\KiroZelvo.exe\r\n");
     },
     kShared, Then::Replaced},
    // A record longer than one read (64 KB) is read to its end when its size
    // cannot be asked for beforehand.
    {"LargeRecordOfUnknownSize",
     [] {
         LauncherTest::MakeCopy(kShared, kNew);
         std::string record = "ZelvoCopyRecord 1\r\n";
         for (int i = 0; i < 1300; i++) {
             std::string name = "VIEWER\\data\\a-file-with-a-name-of-some-length-" + std::to_string(10000 + i) + ".bin";
             fake::AddFile(kShared + "\\" + name, "x");
             record += "1\t" + name + "\r\n";
         }
         fake::AddFile(kShared + kRecord, record);
         fake::FailCall("GetFileSize", 0, ERROR_ACCESS_DENIED);
     },
     kShared, Then::Used},
    // ".." after the folder of the line before still leads out of the copy.
    {"DotDotAfterAListedFolder",
     [] {
         LauncherTest::MakeCopy(kShared, kNew);
         fake::AddFile(kShared + kRecord, "ZelvoCopyRecord 1\r\n9000\tVIEWER\\bin\\KiroZelvo.exe\r\n"
                                          "600\tVIEWER\\bin\\..\\..\\kiro\\KiroPageHolder.exe\r\n");
     },
     kShared, Then::Replaced},
    // Windows takes '/' for a separator too: "../" leads out of the copy as "..\\" does.
    {"SlashLeadsOutOfTheCopy",
     [] {
         LauncherTest::MakeCopy(kShared, kNew);
         fake::AddFile(kSharedBase + "\\planted\\file.txt", "12345");
         fake::AddFile(kShared + kRecord, "ZelvoCopyRecord 1\r\n5\tkiro\\../../planted\\file.txt\r\n");
     },
     kShared, Then::Replaced},
    // Back to a folder after another one: no launcher wrote that record.
    {"FoldersOutOfOrder",
     [] {
         LauncherTest::MakeCopy(kShared, kNew);
         fake::AddFile(kShared + kRecord, "ZelvoCopyRecord 1\r\n9000\tVIEWER\\bin\\KiroZelvo.exe\r\n"
                                          "600\tkiro\\KiroPageHolder.exe\r\n" +
                                              std::to_string(kNew.size() + 2) + "\tVIEWER\\bin\\Version.txt\r\n");
     },
     kShared, Then::Replaced},
    // An up-to-date temp copy moves into the shared location with its own
    // record, not one made afresh of what it holds now (Thumbs.db).
    {"MovedCopyKeepsItsRecord",
     [] {
         LauncherTest::MakeCopy(kTemp, kNew);
         fake::AddFile(kTemp + kRecord, "ZelvoCopyRecord 1\r\n9000\tVIEWER\\bin\\KiroZelvo.exe\r\n");
         fake::AddFile(kTemp + "\\VIEWER\\bin\\Thumbs.db", "added since");
     },
     kShared, Then::MovedIn},
};

class RecordTest : public CommandTest, public ::testing::WithParamInterface<RecordCase>
{
};

TEST_P(RecordTest, DecidesWhetherTheCopyIsUsed)
{
    const RecordCase& c = GetParam();
    MakeMedium();
    c.arrange();
    Layout shared = fake::Exists(kShared) ? fake::Snapshot(kShared) : Layout{};
    Layout temp = fake::Exists(kTemp) ? fake::Snapshot(kTemp) : Layout{};

    Run(L"\"E:\\VIEWER\\bin\\ZelvoLauncher.exe\"");

    ExpectViewerFrom(c.viewerFrom);
    ExpectNoLeftovers();
    switch (c.then) {
    case Then::Used:
        EXPECT_EQ(fake::Snapshot(kShared), shared);
        EXPECT_TRUE(fake::ShellOps().empty());
        for (const fake::CallRecord& call : fake::Calls()) {  // of the disc, a warm launch reads the stamp alone
            bool reads = call.function.rfind("Find", 0) == 0 || call.function == "CreateFileA" ||
                         call.function == "GetFileAttributesA";
            EXPECT_TRUE(!reads || call.arg.rfind("E:", 0) != 0 || call.arg.rfind("E:\\VIEWER\\bin\\Version", 0) == 0)
                << call.function << "(" << call.arg << ")";
        }
        break;
    case Then::MovedIn:
        EXPECT_EQ(fake::Snapshot(kShared), temp);
        EXPECT_FALSE(fake::Exists(kTemp));
        break;
    case Then::Replaced: {
        ExpectHeld(kShared, Held::FromMedium);
        // The copy takes its folder's name only together with its record.
        const auto& calls = fake::Calls();
        auto at = [&](const std::string& function, const std::string& arg) {
            return std::find_if(calls.begin(), calls.end(), [&](const fake::CallRecord& call) {
                       return call.function == function && call.arg == arg;
                   }) - calls.begin();
        };
        auto written = at("CreateFileA", kShared + ".partial" + kRecord);
        auto renamed = at("MoveFileA", kShared + ".partial -> " + kShared);
        EXPECT_LT(written, renamed);
        EXPECT_LT(renamed, (long)calls.size());
        break;
    }
    }
}

INSTANTIATE_TEST_SUITE_P(EachRecord, RecordTest, ::testing::ValuesIn(kRecordCases),
                         [](const ::testing::TestParamInfo<RecordCase>& info) { return info.param.name; });

}  // namespace

// ---- A failure is not paid for at every launch, and no leftover blocks for good --

namespace {

void UnreadableDiscFile()
{
    fake::SetShellDropsFileErrors(true);
    fake::HoldOpenExternally("E:\\VIEWER\\help\\img\\logo.png", GENERIC_READ, 0);
}

// A leftover that the launcher may not remove: a file in it is held open without delete sharing.
void StuckLeftover(const std::string& folder)
{
    fake::AddFile(folder + "\\VIEWER\\bin\\KiroZelvo.exe", std::string(40960, 'K'));
    fake::HoldOpenExternally(folder + "\\VIEWER\\bin\\KiroZelvo.exe", GENERIC_READ, FILE_SHARE_READ);
}

struct RepeatCase {
    const char* name;
    std::function<void()> arrange;       // after the disc in E: and a writable, empty shared location
    std::vector<std::wstring> commands;  // run one after another, each a process of its own
    std::function<void()> between;       // before each run but the first
    int copies;                          // shell copies and moves in all the runs
    std::string viewerFrom;              // where the last viewer started
    Held shared;                         // the shared copy folder at the end
    int discWalks = -1;                  // listings of the disc's VIEWER\help in all runs (-1: not counted)
};

void PrintTo(const RepeatCase& c, std::ostream* os) { *os << c.name; }

const std::function<void()> kNothing = [] {};
const std::function<void()> kADayLater = [] { fake::AdvanceClock(FAILURE_MEMORY); };

const RepeatCase kRepeatCases[] = {
    // A scratched disc: the first launch finds out, the next two start from the disc at once.
    {"UnreadableDiscFileCopiedOnce", UnreadableDiscFile, {L"", L"", L""}, kNothing, 1, "E:", Held::Nothing},
    // ... and a day later it is tried again.
    {"TriedAgainADayLater", UnreadableDiscFile, {L"", L""}, kADayLater, 2, "E:", Held::Nothing},
    // A newer disc is tried at once.
    {"NewerDiscTriedAtOnce", UnreadableDiscFile, {L"", L""},
     [] { fake::AddFile("E:\\VIEWER\\bin\\Version.txt", "3.2.0.16\r\n"); }, 2, "E:", Held::Nothing},
    // "/REPAIR" always tries.
    {"RepairAlwaysTries", UnreadableDiscFile, {L"", L" /REPAIR"}, kNothing, 2, "E:", Held::Nothing},
    // An old copy's deletion leftover that cannot go no longer blocks its replacement.
    {"DeletingLeftoverThatStays",
     [] {
         LauncherTest::MakeCopy(kShared, kOld);
         StuckLeftover(kShared + ".deleting");
     },
     {L""}, kNothing, 1, kShared, Held::FromMedium},
    // Another user's staging folder, left by a launcher killed at log-off.
    {"OtherUsersStagingFolder", [] { StuckLeftover(kShared + ".partial"); }, {L""}, kNothing, 1, kShared,
     Held::FromMedium},
    // A killed installation's leftover beside the temp copy takes the room the shared copy needs.
    {"LeftoverBesideAnotherLocation",
     [] {
         fake::AddFile(kTemp + ".partial\\VIEWER\\bin\\KiroZelvo.exe", std::string(40960, 'K'));
         fake::SetDriveFreeBytes("C:", 30000);
     },
     {L""}, kNothing, 1, kShared, Held::FromMedium},
    // A moved copy whose renames a scanner holds up for 25 s stays whole under the
    // staging name, and the next launch puts it in place.
    {"MovedCopyHeldUpIsKept",
     [] {
         LauncherTest::MakeCopy(kTemp, kNew);
         fake::HoldUpCall("MoveFileA", kShared + ".partial", ERROR_SHARING_VIOLATION, 25000);
     },
     {L"", L""}, [] { fake::AdvanceClock(30000); }, 1, kShared, Held::MovedIn},
    // Another user's memory of a failure, a day old, that this user may read but
    // not replace (held open here): the shared location is passed over, and the
    // failure in the temp location is paid for once.
    {"MemoryThatCannotBeReplaced",
     [] {
         UnreadableDiscFile();
         fake::AddFile(kShared + ".failed", kNew + "\r\n0\r\n");
         fake::HoldOpenExternally(kShared + ".failed", GENERIC_READ, FILE_SHARE_READ);
     },
     {L"", L"", L""}, kNothing, 1, "E:", Held::Nothing},
    // Without the companion no copy can be made: the disc is not walked for nothing.
    {"DiscWithoutCompanion", [] { fake::Remove("E:\\kiro\\KiroPageHolder.exe"); }, {L"", L""}, kNothing, 0, "E:",
     Held::Nothing, 0},
    // The old shared copy cannot be cleared: the temp location gets the copy,
    // counted from the one walk of the disc.
    {"FallbackWalksTheDiscOnce",
     [] {
         LauncherTest::MakeCopy(kShared, kOld);
         InUse(kShared);
     },
     {L""}, kNothing, 1, kTemp, Held::Old, 1},
    // A folder of the disc whose listing breaks off is not taken for all there is.
    {"ListingCutShort",
     [] { fake::FailCall("FindNextFileA", 0, ERROR_FILE_CORRUPT, "E:\\VIEWER\\help\\*"); },
     {L""}, kNothing, 0, "E:", Held::Nothing},
};

class RepeatTest : public CommandTest, public ::testing::WithParamInterface<RepeatCase>
{
};

TEST_P(RepeatTest, CopiesOnlyWhatCanBeHadAndKeepsTheOnlyCopy)
{
    const RepeatCase& c = GetParam();
    MakeMedium();
    c.arrange();
    for (size_t i = 0; i < c.commands.size(); i++) {
        if (i > 0)
            c.between();
        CLauncherApp launcher;
        fake::SetCommandLine(L"\"E:\\VIEWER\\bin\\ZelvoLauncher.exe\"" + c.commands[i]);
        EXPECT_FALSE(launcher.InitInstance());
        launcher.ExitInstance();
    }

    int copies = 0;
    for (const auto& op : fake::ShellOps())
        copies += op.func == FO_COPY || op.func == FO_MOVE;
    EXPECT_EQ(copies, c.copies);
    ASSERT_FALSE(fake::Processes().empty());
    EXPECT_EQ(fake::Processes().back().commandLine.value_or(""), ViewerLine(c.viewerFrom));
    ExpectHeld(kShared, c.shared);
    if (c.discWalks >= 0) {
        EXPECT_EQ(fake::CallCount("FindFirstFileA", "E:\\VIEWER\\help\\*"), c.discWalks);
    }
}

INSTANTIATE_TEST_SUITE_P(EachSequence, RepeatTest, ::testing::ValuesIn(kRepeatCases),
                         [](const ::testing::TestParamInfo<RepeatCase>& info) { return info.param.name; });

}  // namespace
