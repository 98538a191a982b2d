// Deleting, copying and moving copy folders through the shell, putting a
// viewer copy in place, and what an interrupted installation leaves behind.
#include "LauncherTest.h"

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

using namespace paths;

namespace {

const char kDeleteTitle[] = "Deleting older version of Zelvo Disc Advanced Viewer files from HD. Please wait...";
const char kCopyTitle[] = "Copying Zelvo Disc Advanced Viewer files to HD. Please wait...";
const FILEOP_FLAGS kFlags = 0x710;
const std::string kStaging = kShared + ".partial";
const std::string kLeaving = kShared + ".deleting";
// A folder of another user's that a planted folder link points to.
const std::string kVictim = "C:\\Users\\bob\\Documents";

using Layout = std::map<std::string, std::string>;

// What a complete installation from the medium at `root` leaves in a copy folder.
Layout InstalledLayout(const std::string& root = "E:")
{
    Layout layout{{"VIEWER\\", "<folder>"}, {"kiro\\", "<folder>"}};
    for (const auto& [path, what] : fake::Snapshot(root + "\\VIEWER"))
        layout["VIEWER\\" + path] = what;
    layout["kiro\\KiroPageHolder.exe"] = fake::Contents(root + "\\kiro\\KiroPageHolder.exe");
    return WithRecord(layout);
}

// A path of exactly `length` characters on drive C:.
std::string LongPath(size_t length)
{
    std::string path = "C:";
    while (path.size() < length)
        path += "\\" + std::string(99, 'd');
    path.resize(length);
    if (path.back() == '\\')
        path.back() = 'e';
    return path;
}

void ExpectDeleteRecord(const fake::ShellOpRecord& op, const std::string& folder)
{
    EXPECT_EQ(op.hwnd, nullptr);
    EXPECT_EQ(op.func, (UINT)FO_DELETE);
    EXPECT_EQ(op.flags, kFlags);
    EXPECT_EQ(op.from, std::vector<std::string>{folder});
    EXPECT_TRUE(op.toIsNull);
    EXPECT_EQ(op.nameMappings, nullptr);
    EXPECT_EQ(op.progressTitle.value_or("<none>"), kDeleteTitle);
}

void ExpectCopyRecord(const fake::ShellOpRecord& op, UINT func, const std::string& from, const std::string& to)
{
    EXPECT_EQ(op.hwnd, nullptr);
    EXPECT_EQ(op.func, func);
    EXPECT_EQ(op.flags, kFlags);
    EXPECT_EQ(op.from, std::vector<std::string>{from});
    EXPECT_FALSE(op.toIsNull);
    EXPECT_EQ(op.to, std::vector<std::string>{to});
    EXPECT_EQ(op.nameMappings, nullptr);
    EXPECT_EQ(op.progressTitle.value_or("<none>"), kCopyTitle);  // a move shows the copy title too
}

// The calls that reached the machine, string comparisons left out.
std::vector<std::string> MachineCalls()
{
    std::vector<std::string> calls;
    for (const fake::CallRecord& call : fake::Calls())
        if (call.function.rfind("_mbs", 0) != 0)
            calls.push_back(call.function + "(" + call.arg + ")");
    return calls;
}

class FolderOpsTest : public LauncherTest
{
protected:
    void MakeVictim()
    {
        fake::AddFile(kVictim + "\\thesis.doc", "years of work");
        fake::AddFile(kVictim + "\\notes\\plan.txt", "plan");
        victimBefore = fake::Snapshot(kVictim);
    }
    void ExpectVictimUntouched() { EXPECT_EQ(fake::Snapshot(kVictim), victimBefore) << "behind the link"; }

    // Target and source as the launch flow leaves them for an installation.
    void Aim(const std::string& target, const std::string& source, const std::string& mediaRoot = "E:")
    {
        app.m_strCopyTarget = target.c_str();
        app.m_strCopySource = source.c_str();
        app.m_strMediaRoot = mediaRoot.c_str();
    }

    // An installation as the commands make it: the space check counts the source first.
    BOOL Install()
    {
        app.HasRoomForCopy();
        return app.InstallCopy();
    }

    Layout victimBefore;
};

// ---- DeleteFolder and CopyOrMoveFolder ------------------------------------

TEST_F(FolderOpsTest, DeleteFolderHandsTheShellOneDeleteRecord)
{
    MakeCopy(kShared, "3.1");
    EXPECT_EQ(app.DeleteFolder(kShared.c_str()), 0);
    ASSERT_EQ(fake::ShellOps().size(), 1u);
    ExpectDeleteRecord(fake::ShellOps()[0], kLeaving);  // the copy leaves its name first
    EXPECT_FALSE(fake::Exists(kShared));
    EXPECT_FALSE(fake::Exists(kLeaving));
    EXPECT_TRUE(fake::IsFolder(kSharedBase));
}

TEST_F(FolderOpsTest, DeleteFolderReturnsWhatTheShellReturned)
{
    // A folder that is not there is not handed to the shell.
    EXPECT_EQ(app.DeleteFolder(kShared.c_str()), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(fake::ShellOps().empty());

    MakeCopy(kTemp, "3.1");
    fake::ShellCancelAfterFiles(1);
    EXPECT_EQ(app.DeleteFolder(kTemp.c_str()), ERROR_CANCELLED);
    EXPECT_FALSE(fake::Exists(kTemp)) << "no half copy keeps the copy folder's name";
    EXPECT_TRUE(fake::Exists(kTemp + ".deleting")) << "a cancelled delete stops part way";
}

TEST_F(FolderOpsTest, CopyAndMoveHandTheShellTheSameRecordButForTheFunction)
{
    const std::string source = "C:\\Users\\ann\\Stash\\Zelvo Disc 11";
    for (BOOL move : {FALSE, TRUE}) {
        SCOPED_TRACE(move ? "move" : "copy");
        for (const std::string& folder : {source, kShared})
            if (fake::Exists(folder))
                fake::Remove(folder);
        MakeCopy(source, "3.2.0.15");
        Layout before = fake::Snapshot(source);
        size_t ops = fake::ShellOps().size();

        EXPECT_TRUE(app.CopyOrMoveFolder(source.c_str(), kSharedBase.c_str(), move));
        ASSERT_EQ(fake::ShellOps().size(), ops + 1);
        ExpectCopyRecord(fake::ShellOps().back(), move ? FO_MOVE : FO_COPY, source, kSharedBase);
        EXPECT_EQ(fake::Snapshot(kShared), before) << "arrives under its own last name";
        EXPECT_EQ(fake::Exists(source), !move);
    }
}

TEST_F(FolderOpsTest, PathsUpTo1299CharactersReachTheShellWhole)
{
    const std::string fits = LongPath(1299);
    const std::string tooLong = LongPath(1300);
    ASSERT_EQ(fits.size(), 1299u);

    app.CopyOrMoveFolder(fits.c_str(), kSharedBase.c_str(), FALSE);
    ASSERT_EQ(fake::ShellOps().size(), 1u);
    EXPECT_EQ(fake::ShellOps()[0].from, std::vector<std::string>{fits}) << "nothing cut";

    // A destination that fits is handed on whole (the machine itself refuses it).
    fake::ClearCalls();
    EXPECT_FALSE(app.CopyOrMoveFolder("E:\\VIEWER", fits.c_str(), FALSE));
    EXPECT_EQ(fake::CallCount("CreateDirectoryA", fits), 1);

    // One more character: refused before anything is asked of the machine.
    fake::ClearCalls();
    EXPECT_EQ(app.DeleteFolder(tooLong.c_str()), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FALSE(app.CopyOrMoveFolder(tooLong.c_str(), kSharedBase.c_str(), FALSE));
    EXPECT_FALSE(app.CopyOrMoveFolder(tooLong.c_str(), kSharedBase.c_str(), TRUE));
    EXPECT_FALSE(app.CopyOrMoveFolder("E:\\VIEWER", tooLong.c_str(), FALSE));
    EXPECT_EQ(fake::ShellOps().size(), 1u);
    EXPECT_EQ(MachineCalls(), std::vector<std::string>{});
}

TEST_F(FolderOpsTest, CopyMakesTheLastLevelOfTheDestinationOnly)
{
    MakeMedium();
    // The destination exists already: tolerated.
    EXPECT_TRUE(app.CopyOrMoveFolder("E:\\VIEWER", kSharedBase.c_str(), FALSE));
    EXPECT_TRUE(fake::Exists(kSharedBase + "\\VIEWER\\bin\\Version.txt"));

    // Only its last level is missing: created.
    EXPECT_TRUE(app.CopyOrMoveFolder("E:\\VIEWER", kShared.c_str(), FALSE));
    EXPECT_EQ(fake::Snapshot(kShared + "\\VIEWER"), fake::Snapshot("E:\\VIEWER"));

    // Its parent is missing: FALSE, and the shell is not asked.
    size_t ops = fake::ShellOps().size();
    EXPECT_FALSE(app.CopyOrMoveFolder("E:\\VIEWER", "C:\\Users\\carl\\Application Data", FALSE));
    EXPECT_EQ(fake::ShellOps().size(), ops);
    EXPECT_FALSE(fake::Exists("C:\\Users\\carl"));
}

struct ShellFailure {
    const char* name;
    std::function<void()> inject;
};

const ShellFailure kShellFailures[] = {
    // The shell's result alone tells of the failure.
    {"error, work done, no abort", [] { fake::ShellReturnError(0x402, true); }},
    {"error, nothing done, no abort", [] { fake::ShellReturnError(0x402, false); }},
    // The user cancels; the disk fills up part way.
    {"Cancel after one file", [] { fake::ShellCancelAfterFiles(1); }},
    {"disk full", [] { fake::SetDriveFreeBytes("C:", 8192); }},
};

class ShellFailureTest : public FolderOpsTest, public ::testing::WithParamInterface<ShellFailure>
{
};

TEST_P(ShellFailureTest, IsAFailure)
{
    MakeMedium();
    GetParam().inject();
    EXPECT_FALSE(app.CopyOrMoveFolder("E:\\VIEWER", kShared.c_str(), FALSE));
}

INSTANTIATE_TEST_SUITE_P(EveryShellFailure, ShellFailureTest, ::testing::ValuesIn(kShellFailures), RowName());

// ---- Folder links ----------------------------------------------------------

// Windows removes a folder link; Wine 8 cannot.
class LinkTest : public FolderOpsTest, public ::testing::WithParamInterface<bool>
{
protected:
    void SetUp() override
    {
        FolderOpsTest::SetUp();
        MakeVictim();
        fake::SetLinksRemovable(removable);
    }
    const bool removable = GetParam();
};

std::string LinksRemovable(const ::testing::TestParamInfo<bool>& info)
{
    return info.param ? "LinksRemovable" : "LinksNotRemovable";
}

TEST_P(LinkTest, DeletingAFolderLinkRemovesOnlyTheLink)
{
    fake::AddLink(kShared, kVictim);

    EXPECT_EQ(app.DeleteFolder(kShared.c_str()), removable ? 0 : ERROR_ACCESS_DENIED);
    EXPECT_EQ(fake::Exists(kShared), !removable);
    EXPECT_TRUE(fake::ShellOps().empty());
    ExpectVictimUntouched();
}

TEST_P(LinkTest, ALinkDeepInsideIsRemovedFirstOrTheTreeIsLeftAlone)
{
    MakeCopy(kShared, "3.1");
    fake::AddLink(kShared + "\\VIEWER\\bin\\plugins\\extra", kVictim);
    Layout tree = fake::Snapshot(kShared);

    if (removable) {
        EXPECT_EQ(app.DeleteFolder(kShared.c_str()), 0);
        EXPECT_FALSE(fake::Exists(kShared));
        EXPECT_EQ(fake::ShellOps().size(), 1u);
    } else {
        EXPECT_EQ(app.DeleteFolder(kShared.c_str()), ERROR_ACCESS_DENIED);
        EXPECT_EQ(fake::Snapshot(kShared), tree) << "the whole tree stays";
        EXPECT_TRUE(fake::ShellOps().empty());
    }
    ExpectVictimUntouched();
}

INSTANTIATE_TEST_SUITE_P(WindowsAndWine, LinkTest, ::testing::Bool(), LinksRemovable);

TEST_F(FolderOpsTest, ASourceHoldingALinkIsNeitherCopiedNorMoved)
{
    MakeVictim();
    const std::string source = "C:\\Users\\ann\\Stash\\Zelvo Disc 11";
    MakeCopy(source, "3.2.0.15");
    fake::AddLink(source + "\\VIEWER\\bin\\extra", kVictim);
    MakeMedium();
    fake::AddLink("E:\\VIEWER\\extra", kVictim);
    for (const std::string& from : {source, std::string("E:")}) {  // moved, or copied from the medium
        Aim(kShared, from);
        EXPECT_FALSE(app.HasRoomForCopy() && app.InstallCopy());
        EXPECT_TRUE(fake::ShellOps().empty());
        EXPECT_FALSE(fake::Exists(kShared));
        EXPECT_TRUE(fake::IsLink(source + "\\VIEWER\\bin\\extra"));
    }
    ExpectVictimUntouched();
}

struct PlantedLink {
    const char* name;
    void (*plant)();
    bool steppedAround = false;  // a link that stays is left beside the copy, which goes in anyway
};

const PlantedLink kPlantedLinks[] = {
    // Another user made the copy folder, or the staging folder, a link to their victim.
    {"copy folder is a link", [] { fake::AddLink(kShared, kVictim); }},
    {"staging folder is a link", [] { fake::AddLink(kStaging, kVictim); }, true},
    // A link inside the old copy that the installation deletes.
    {"old copy holds a link",
     [] {
         LauncherTest::MakeCopy(kShared, "3.1");
         fake::AddLink(kShared + "\\VIEWER\\help", kVictim);
     }},
};

class InstallThroughLinkTest : public FolderOpsTest,
                               public ::testing::WithParamInterface<std::tuple<PlantedLink, bool>>
{
};

TEST_P(InstallThroughLinkTest, NeverWritesThroughIt)
{
    const auto& [link, removable] = GetParam();
    MakeMedium();
    MakeVictim();
    fake::SetLinksRemovable(removable);
    link.plant();
    Aim(kShared, "E:");

    BOOL installed = Install();
    ExpectVictimUntouched();
    EXPECT_EQ(installed, removable || link.steppedAround);
    if (installed) {
        EXPECT_FALSE(fake::IsLink(kShared));
        EXPECT_EQ(fake::Snapshot(kShared), InstalledLayout());
        EXPECT_EQ(fake::Exists(kStaging), !removable);
    }
}

INSTANTIATE_TEST_SUITE_P(EachPlace, InstallThroughLinkTest,
                         ::testing::Combine(::testing::ValuesIn(kPlantedLinks), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<PlantedLink, bool>>& info) {
                             return TestName(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "LinksRemovable" : "LinksNotRemovable");
                         });

// ---- InstallCopy -----------------------------------------------------------

TEST_F(FolderOpsTest, InstallOntoItselfDoesNothing)
{
    MakeMedium();
    MakeCopy(kShared, "3.1");
    Layout before = fake::Snapshot(kShared);
    Aim(kShared, kShared);
    fake::ClearCalls();

    EXPECT_TRUE(app.InstallCopy());
    EXPECT_TRUE(fake::ShellOps().empty());
    EXPECT_EQ(MachineCalls(), std::vector<std::string>{});
    EXPECT_EQ(fake::Snapshot(kShared), before);
}

// The source names the medium's root whatever its letter case.
class InstallFromMediumTest : public FolderOpsTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(InstallFromMediumTest, LeavesExactlyTheViewerAndTheCompanion)
{
    const std::string source = GetParam();
    MakeMedium();
    MakeCopy(kShared, "3.1");
    fake::AddFile(kShared + "\\VIEWER\\bin\\Version3.1.txt", "3.1");
    fake::AddFile(kShared + "\\notes.txt", "old contents");
    Aim(kShared, source);

    EXPECT_TRUE(Install());
    EXPECT_EQ(fake::Snapshot(kShared), InstalledLayout());
    EXPECT_FALSE(fake::Exists(kStaging));

    // The user sees one delete dialog for the old copy and one copy dialog.
    int copies = 0;
    for (const auto& op : fake::ShellOps()) {
        if (op.func == FO_DELETE) {
            ExpectDeleteRecord(op, kLeaving);
        } else {
            ExpectCopyRecord(op, FO_COPY, source + "\\VIEWER", kStaging);
            copies++;
        }
    }
    EXPECT_EQ(copies, 1);
}

INSTANTIATE_TEST_SUITE_P(EitherCase, InstallFromMediumTest, ::testing::Values("E:", "e:"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return info.param[0] == 'E' ? "UpperCase" : "LowerCase";
                         });

TEST_F(FolderOpsTest, InstallIntoAMissingParentFails)
{
    MakeMedium();
    Aim("C:\\Users\\carl\\Application Data\\Zelvo Disc 11", "E:");
    EXPECT_FALSE(Install());
    EXPECT_FALSE(fake::Exists("C:\\Users\\carl"));
    for (const auto& op : fake::ShellOps())
        EXPECT_EQ(op.func, (UINT)FO_DELETE) << "nothing is copied";
}

TEST_F(FolderOpsTest, AMediumWithoutCompanionGivesNoCopy)
{
    MakeMedium();
    fake::Remove("E:\\kiro\\KiroPageHolder.exe");
    Aim(kShared, "E:");

    EXPECT_FALSE(Install());
    EXPECT_FALSE(fake::Exists(kShared));
    EXPECT_FALSE(fake::Exists(kStaging));
}

TEST_F(FolderOpsTest, AnUpToDateCopyIsMovedIntoTheSharedLocation)
{
    MakeMedium();
    MakeCopy(kShared, "3.1");
    MakeCopy(kTemp, "3.2.0.15");
    fake::AddFile(kTemp + "\\VIEWER\\help\\index.html", "kept");
    Layout moving = fake::Snapshot(kTemp);
    Aim(kShared, kTemp);

    EXPECT_TRUE(Install());
    EXPECT_EQ(fake::Snapshot(kShared), WithRecord(moving)) << "an older launcher's copy gets its record";
    EXPECT_FALSE(fake::Exists(kTemp));
    EXPECT_FALSE(fake::Exists(kTemp + ".partial"));
    EXPECT_FALSE(fake::Exists(kStaging));
    int moves = 0;
    for (const auto& op : fake::ShellOps())
        if (op.func == FO_MOVE) {
            ExpectCopyRecord(op, FO_MOVE, kTemp + ".partial", kSharedBase);
            moves++;
        }
    EXPECT_EQ(moves, 1);
}

struct FailedMove {
    const char* name;
    std::function<void()> arrange;
};

const FailedMove kFailedMoves[] = {
    {"shell refuses", [] { fake::ShellReturnError(0x402, false, FO_MOVE); }},
    {"target's parent missing", [] { fake::Remove(kSharedBase); }},
    {"source holds a link", [] { fake::AddLink(kTemp + "\\VIEWER\\bin\\extra", kVictim); }},
};

class FailedMoveTest : public FolderOpsTest, public ::testing::WithParamInterface<FailedMove>
{
};

TEST_P(FailedMoveTest, LeavesTheCopyWhereItWas)
{
    MakeMedium();
    MakeVictim();
    MakeCopy(kTemp, "3.2.0.15");
    GetParam().arrange();
    Layout before = fake::Snapshot(kTemp);
    Aim(kShared, kTemp);

    EXPECT_FALSE(Install());
    Layout after = fake::Snapshot(kTemp);
    after.erase("ZelvoCopyRecord.txt");  // written as the copy set off
    EXPECT_EQ(after, before);
    EXPECT_FALSE(fake::Exists(kTemp + ".partial"));
    EXPECT_FALSE(fake::Exists(kShared));
    ExpectVictimUntouched();
}

INSTANTIATE_TEST_SUITE_P(AMoveThatFails, FailedMoveTest, ::testing::ValuesIn(kFailedMoves), RowName());

TEST_F(FolderOpsTest, ALinkIsNeverMovedAsACopy)
{
    MakeMedium();
    MakeVictim();
    fake::AddLink(kTemp, kVictim);
    Aim(kShared, kTemp);
    EXPECT_FALSE(Install());
    EXPECT_TRUE(fake::IsLink(kTemp));
    EXPECT_FALSE(fake::Exists(kShared));
    for (const auto& op : fake::ShellOps())
        EXPECT_NE(op.func, (UINT)FO_MOVE);
    ExpectVictimUntouched();
}

// ---- Interrupted installations ----------------------------------------------
//
// An installation is stopped at each point that matters. Whatever it left,
// no launch may start the viewer from a partial copy, and the next
// installation or a delete command clears the leftovers.

enum class FollowUp { Launch, Delete };
void PrintTo(FollowUp followUp, std::ostream* os) { *os << (followUp == FollowUp::Launch ? "launch" : "delete"); }

struct Interruption {
    const char* name;
    bool moveAcrossVolumes;  // an up-to-date copy on D: is moved to C:, else a copy from the medium
    std::function<void()> inject;
    // The process dies at the injected call (an exception that nothing
    // catches stands for it): no clean-up runs and no viewer is started.
    bool killed = false;
    // The user cancels every deletion, the clean-up's too: a leftover may stay.
    bool cleanUpCancelled = false;
    // Where the interrupted launch starts the viewer: the medium, the new
    // copy, or the copy that was to be moved, still whole where it was.
    std::string viewerFrom = "E:";
    // The copy is left whole, with its record, under a staging name: the next
    // launch puts it in place.
    bool stagedWhole = false;
};

const std::string kOtherTempBase = "D:\\Temp";
const std::string kOtherTemp = kOtherTempBase + "\\Zelvo Disc 11";

const Interruption kInterruptions[] = {
    // The medium's VIEWER tree is copied in this order: ZelvoLauncher.exe,
    // KiroZelvo.exe, Version.txt, index.html, logo.png.
    {"CancelBeforeStamp", false, [] { fake::ShellCancelAfterFiles(2, FO_COPY); }},
    {"CancelRightAfterStamp", false, [] { fake::ShellCancelAfterFiles(3, FO_COPY); }},
    {"CancelOnLastFile", false, [] { fake::ShellCancelAfterFiles(4, FO_COPY); }},
    {"CompanionCopyFails", false,
     [] { fake::FailCall("CopyFileA", 1, ERROR_DISK_FULL, kStaging + "\\kiro\\KiroPageHolder.exe"); }},
    // A scanner holds up the final rename past the wait: the whole, checked
    // copy stays under the staging name with its record.
    {"FinalRenameFails", false, [] { fake::FailCall("MoveFileA", 0, ERROR_ACCESS_DENIED, kStaging); }, false, false,
     "E:", true},
    // The old copy has left its name before its deletion stops: the new copy takes it.
    {"OldCopyDeletionCancelled", false, [] { fake::ShellCancelAfterFiles(1, FO_DELETE); }, false, true, kShared},
    // A copy moved in from D: goes file by file: KiroZelvo.exe, Version.txt, KiroPageHolder.exe.
    {"CrossVolumeMoveCancelledBeforeStamp", true, [] { fake::ShellCancelAfterFiles(1, FO_MOVE); }, false, false,
     kOtherTemp},
    {"CrossVolumeMoveCancelledAfterStamp", true, [] { fake::ShellCancelAfterFiles(2, FO_MOVE); }, false, false,
     kOtherTemp},
    // The process dies as the copy from the medium begins, before the companion, before the final rename.
    {"KilledDuringCopy", false, [] { fake::ThrowFromCall("SHFileOperationA", 1, fake::Throw::Fake, "E:\\VIEWER"); },
     true},
    {"KilledBeforeCompanion", false,
     [] { fake::ThrowFromCall("CopyFileA", 1, fake::Throw::Fake, "E:\\kiro\\KiroPageHolder.exe"); }, true},
    {"KilledBeforeFinalRename", false,
     [] { fake::ThrowFromCall("MoveFileA", 0, fake::Throw::Fake, kStaging); }, true},
    // The moved copy arrived under the staging name and dies before taking the copy folder's name.
    {"KilledBeforeMovedCopyIsRenamed", true,
     [] { fake::ThrowFromCall("MoveFileA", 0, fake::Throw::Fake, kStaging); }, true, false, "E:", true},
    // A copy made by an older launcher (no record) dies right after it left its place.
    {"KilledAfterMovedCopyLeft", true, [] { fake::ThrowAfterMove(kOtherTemp); }, true, false, "E:", true},
};

class InterruptedInstallTest : public LauncherTest,
                               public ::testing::WithParamInterface<std::tuple<int, FollowUp>>
{
protected:
    // "none" (no copy folder, or one without a stamp), "complete" or "PARTIAL".
    static std::string CopyState(const std::string& folder, const Layout& complete)
    {
        if (!fake::Exists(folder) || !fake::Exists(folder + "\\VIEWER\\bin\\Version.txt"))
            return "none";
        return fake::Snapshot(folder) == complete ? "complete" : "PARTIAL";
    }

    static std::vector<std::string> CopyFolders()
    {
        return {kShared, kTemp, kOtherTemp, Profile("ann"), Profile("bob")};
    }
};

TEST_P(InterruptedInstallTest, NoLaunchStartsAPartialCopyAndLeftoversGo)
{
    const Interruption& c = kInterruptions[std::get<0>(GetParam())];
    const FollowUp followUp = std::get<1>(GetParam());

    MakeMedium();
    MakeCopy(kShared, "3.1");  // an old copy, replaced by this installation
    Layout moved;
    if (c.moveAcrossVolumes) {
        fake::AddDrive("D:", DRIVE_FIXED);
        fake::AddFolder(kOtherTempBase);
        fake::SetTempPath(kOtherTempBase + "\\");
        MakeCopy(kOtherTemp, "3.2.0.15");
        moved = fake::Snapshot(kOtherTemp);
    }
    const Layout fromMedium = InstalledLayout();
    auto expectNoPartialCopy = [&](const char* when) {
        for (const std::string& folder : CopyFolders()) {
            std::string state = CopyState(folder, folder == kOtherTemp ? moved : fromMedium);
            if (state == "PARTIAL" && c.moveAcrossVolumes && (folder == kShared || folder == kOtherTemp))
                state = CopyState(folder, WithRecord(moved));  // it gained its record as it set off
            EXPECT_NE(state, "PARTIAL") << when << ": " << folder;
        }
    };

    c.inject();
    if (c.killed)
        EXPECT_THROW(app.RunLaunch(), fake::FakeException);
    else
        app.RunLaunch();
    fake::ClearInjections();
    fake::ShellCancelAfterFiles(-1);
    size_t started = c.killed ? 0u : 1u;

    ASSERT_EQ(fake::Processes().size(), started);
    if (!c.killed) {
        EXPECT_EQ(fake::Processes()[0].commandLine.value_or(""),
                  "\"" + c.viewerFrom + "\\VIEWER\\bin\\KiroZelvo.exe\" data=E:\\");
    }
    expectNoPartialCopy("after the interrupted launch");
    bool leftover = false;
    for (const std::string& folder : CopyFolders())
        leftover = leftover || fake::Exists(folder + ".partial") || fake::Exists(folder + ".deleting");
    if (c.killed || c.stagedWhole) {
        EXPECT_TRUE(leftover) << "a killed installation leaves its staging folder, a held-up one its copy";
    } else if (!c.cleanUpCancelled) {
        EXPECT_FALSE(leftover) << "a failed installation clears up after itself";
    }

    CLauncherApp next;
    fake::AdvanceClock(FAILURE_MEMORY);  // past the memory of the failure
    if (followUp == FollowUp::Launch) {
        next.RunLaunch();
        ASSERT_EQ(fake::Processes().size(), started + 1);
        EXPECT_EQ(fake::Processes()[started].commandLine.value_or(""),
                  "\"" + kShared + "\\VIEWER\\bin\\KiroZelvo.exe\" data=E:\\");
        bool moves = c.moveAcrossVolumes;
        EXPECT_EQ(fake::Snapshot(kShared), moves ? WithRecord(moved) : fromMedium);
        EXPECT_FALSE(fake::Exists(kStaging)) << "the next installation clears the leftover";
    } else {
        next.RunDelete();
        EXPECT_EQ(fake::Processes().size(), started);
        for (const std::string& folder : CopyFolders()) {
            EXPECT_FALSE(fake::Exists(folder)) << folder;
            EXPECT_FALSE(fake::Exists(folder + ".partial")) << folder << ".partial";
            EXPECT_FALSE(fake::Exists(folder + ".deleting")) << folder << ".deleting";
        }
    }
    expectNoPartialCopy("after the next run");
}

INSTANTIATE_TEST_SUITE_P(
    EachStop, InterruptedInstallTest,
    ::testing::Combine(::testing::Range(0, (int)(sizeof(kInterruptions) / sizeof(kInterruptions[0]))),
                       ::testing::Values(FollowUp::Launch, FollowUp::Delete)),
    [](const ::testing::TestParamInfo<std::tuple<int, FollowUp>>& info) {
        return std::string(kInterruptions[std::get<0>(info.param)].name) +
               (std::get<1>(info.param) == FollowUp::Launch ? "ThenLaunch" : "ThenDelete");
    });

}  // namespace
