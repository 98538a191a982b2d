// Whether the target volume has room for a copy, counted in whole clusters.
#include "LauncherTest.h"

using namespace paths;

namespace {

const ULONGLONG kGiB4 = 1ull << 32;

class SpaceTest : public LauncherTest
{
protected:
    // The worked example, in clusters of 512 bytes: the target holds 10 and
    // 500 bytes (two clusters); the VIEWER tree 700, 512, 0 and, in a
    // subfolder, 1 byte (four clusters); the companion 600 bytes (two).
    void SetUp() override
    {
        LauncherTest::SetUp();
        fake::SetDriveGeometry("C:", 1, 512);
        fake::SetDriveGeometry("E:", 8, 512);  // the medium's clusters must not count
        fake::AddFile(kShared + "\\old1.dat", std::string(10, 'o'));
        fake::AddFile(kShared + "\\VIEWER\\old2.dat", std::string(500, 'o'));
        fake::AddFile("E:\\VIEWER\\a.exe", std::string(700, 'a'));
        fake::AddFile("E:\\VIEWER\\b.dll", std::string(512, 'b'));
        fake::AddFile("E:\\VIEWER\\empty.txt", "");
        fake::AddFile("E:\\VIEWER\\sub\\one.txt", "1");
        fake::AddFile("E:\\kiro\\KiroPageHolder.exe", std::string(600, 'H'));
        app.m_strCopyTarget = kShared.c_str();
        app.m_strCopySource = "E:";
    }

    BOOL RoomWith(ULONGLONG freeBytes, const std::string& volume = "C:")
    {
        fake::SetDriveFreeBytes(volume, freeBytes);
        app.m_strTalliedSource.Empty();  // each check as in a launch of its own: the source counted afresh
        return app.HasRoomForCopy();
    }

    std::string OnlyArg(const std::string& function)
    {
        std::string arg = "<not called>";
        int calls = 0;
        for (const fake::CallRecord& call : fake::Calls())
            if (call.function == function) {
                arg = call.arg;
                calls++;
            }
        return calls > 1 ? "<called " + std::to_string(calls) + " times>" : arg;
    }
};

struct Rounding {
    const char* name;
    ULONGLONG size;
    DWORD cluster;
    ULONGLONG counted;
};

const Rounding kRoundings[] = {
    // Small files in clusters of 512 and 4096 bytes.
    {"empty", 0, 512, 0},
    {"one byte", 1, 512, 512},
    {"one cluster", 512, 512, 512},
    {"a byte more", 513, 512, 1024},
    {"700 bytes", 700, 512, 1024},
    {"one byte in 4096", 1, 4096, 4096},
    {"one cluster of 4096", 4096, 4096, 4096},
    {"a byte more than 4096", 4097, 4096, 8192},
    {"cluster not a power of two", 1537, 1536, 3072},
    // Clusters of 0: bytes as they are.
    {"no cluster size", 700, 0, 700},
    {"nothing, no cluster size", 0, 0, 0},
    // 4 GiB and more: the high 32 bits count.
    {"4 GiB", kGiB4, 512, kGiB4},
    {"4 GiB and a byte", kGiB4 + 1, 4096, kGiB4 + 4096},
    {"4 GiB and a byte in clusters of 3", kGiB4 + 1, 3, kGiB4 + 2},  // 2^32 % 3 == 1
    {"20 GiB", 5 * kGiB4 + 100, 65536, 5 * kGiB4 + 65536},
};

class RoundingTest : public SpaceTest, public ::testing::WithParamInterface<Rounding>
{
};

TEST_P(RoundingTest, FilesAreRoundedUpToWholeClusters)
{
    const Rounding& c = GetParam();
    if (c.size < 1000000)
        fake::AddFile("C:\\R\\f.bin", std::string(static_cast<size_t>(c.size), 'x'));
    else
        fake::AddBigFile("C:\\R\\f.bin", c.size);
    EXPECT_EQ(app.GetFolderSize("C:\\R", c.cluster), c.counted);
}

INSTANTIATE_TEST_SUITE_P(EachSize, RoundingTest, ::testing::ValuesIn(kRoundings), RowName());

TEST_F(SpaceTest, FolderSizeCountsEveryFileOfTheTreeAndNothingForFolders)
{
    EXPECT_EQ(app.GetFolderSize("E:\\VIEWER", 512), 4 * 512u);
    EXPECT_EQ(app.GetFolderSize(kShared.c_str(), 512), 2 * 512u);
    fake::AddFolder("C:\\Empty\\a\\b\\c");
    EXPECT_EQ(app.GetFolderSize("C:\\Empty", 512), 0u);
    EXPECT_EQ(app.GetFolderSize("C:\\Missing", 512), 0u);
    fake::AddFile("C:\\H\\hidden.sys", "xy", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    fake::AddFile("C:\\H\\ro.txt", "z", FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(app.GetFolderSize("C:\\H", 512), 2 * 512u);
}

TEST_F(SpaceTest, WorkedExample)
{
    EXPECT_TRUE(RoomWith(20 * 512));  // room 22 clusters, need 6
    EXPECT_EQ(OnlyArg("GetDiskFreeSpaceExA"), kSharedBase);
    EXPECT_EQ(OnlyArg("GetDiskFreeSpaceA"), "C:");
    // Four clusters free: room = 4 + 2 = need.
    EXPECT_FALSE(RoomWith(4 * 512));
    EXPECT_TRUE(RoomWith(4 * 512 + 1));
    EXPECT_FALSE(RoomWith(0));
    // Nothing of the check is left behind on the disk.
    EXPECT_EQ(fake::ListTree(kShared).size(), 3u);
}

TEST_F(SpaceTest, EmptyTargetFailsWithoutAnyVolumeQuery)
{
    app.m_strCopyTarget.Empty();
    fake::ClearCalls();
    EXPECT_FALSE(RoomWith(1ull << 40));
    EXPECT_EQ(fake::CallCount("GetDiskFreeSpaceExA") + fake::CallCount("GetDiskFreeSpaceA"), 0);
}

// Either volume query fails: no room, however much there is.
class FailedVolumeQueryTest : public SpaceTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(FailedVolumeQueryTest, GivesNoRoom)
{
    fake::FailCall(GetParam(), 1, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(RoomWith(1ull << 40));
    EXPECT_TRUE(RoomWith(1ull << 40)) << "the next check asks again";
}

INSTANTIATE_TEST_SUITE_P(EachQuery, FailedVolumeQueryTest, ::testing::Values("GetDiskFreeSpaceExA", "GetDiskFreeSpaceA"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

TEST_F(SpaceTest, CompanionMustExistButMayBeEmpty)
{
    fake::AddFile("E:\\kiro\\KiroPageHolder.exe", "");
    // Need four clusters; room is the free space plus the target's two.
    EXPECT_FALSE(RoomWith(2 * 512));
    EXPECT_TRUE(RoomWith(2 * 512 + 1));
    fake::Remove("E:\\kiro\\KiroPageHolder.exe");
    EXPECT_FALSE(RoomWith(1ull << 40));
}

TEST_F(SpaceTest, BigFilesCountInFullTheCompanionToo)
{
    fake::Remove(kShared);
    fake::AddBigFile("E:\\VIEWER\\data\\huge.bin", kGiB4 + 100);
    // Need: 4 clusters + 4 GiB + one cluster + the companion's two.
    const ULONGLONG need = 4 * 512 + kGiB4 + 512 + 2 * 512;
    EXPECT_FALSE(RoomWith(need));
    EXPECT_TRUE(RoomWith(need + 1));

    fake::Remove("E:\\VIEWER\\data");
    fake::AddBigFile("E:\\kiro\\KiroPageHolder.exe", kGiB4 + 100);
    // The companion counts 4 GiB and one cluster, not the 100 bytes of its low 32 bits.
    EXPECT_FALSE(RoomWith(4 * 512 + kGiB4 + 512));
    EXPECT_TRUE(RoomWith(4 * 512 + kGiB4 + 512 + 1));
}

TEST_F(SpaceTest, MissingTargetFolderGivesTheFreeSpaceAlone)
{
    fake::Remove(kShared);
    EXPECT_FALSE(RoomWith(6 * 512));
    EXPECT_TRUE(RoomWith(6 * 512 + 1));
}

TEST_F(SpaceTest, NetworkTargetAsksTheVolumeOfAnEmptyDriveText)
{
    fake::AddDrive("\\\\host\\share", DRIVE_REMOTE);
    fake::SetDriveGeometry("\\\\host\\share", 8, 512);
    fake::AddFolder("\\\\host\\share\\cache");
    app.m_strCopyTarget = "\\\\host\\share\\cache\\Zelvo Disc 11";
    fake::ClearCalls();
    // The empty drive text names the current drive, C:, with clusters of 512.
    EXPECT_FALSE(RoomWith(6 * 512, "\\\\host\\share"));
    EXPECT_EQ(OnlyArg("GetDiskFreeSpaceA"), "");
    EXPECT_EQ(OnlyArg("GetDiskFreeSpaceExA"), "\\\\host\\share\\cache");
    EXPECT_TRUE(RoomWith(6 * 512 + 1, "\\\\host\\share"));
}

TEST_F(SpaceTest, FolderLinksCountNothingAndAreNotFollowed)
{
    fake::AddLink("E:\\VIEWER\\loop", "E:\\VIEWER");          // back to the tree's root
    fake::AddLink("E:\\VIEWER\\sub\\up", "E:\\");            // above it
    fake::AddFile("C:\\Elsewhere\\big.dat", std::string(100000, 'e'));
    fake::AddLink("E:\\VIEWER\\elsewhere", "C:\\Elsewhere");
    fake::AddLink(kShared + "\\elsewhere", "C:\\Elsewhere");  // in the target too
    EXPECT_EQ(app.GetFolderSize("E:\\VIEWER", 512), 4 * 512u);
    EXPECT_EQ(app.GetFolderSize(kShared.c_str(), 512), 2 * 512u);
    EXPECT_FALSE(RoomWith(1ull << 40)) << "the shell would copy through the links: no copy from this source";
}

TEST_F(SpaceTest, ClusterSizeZeroCountsBytesAsTheyAre)
{
    fake::SetDriveGeometry("C:", 0, 512);
    // Need 700 + 512 + 0 + 1 + 600 = 1813; room = free + 10 + 500.
    EXPECT_FALSE(RoomWith(1813 - 510));
    EXPECT_TRUE(RoomWith(1813 - 510 + 1));
}

TEST_F(SpaceTest, AFailureDuringTheWalkCountsNothingAListingCutShortWhatCameBefore)
{
    // a (700) and z (512) count two clusters and one; sub holds x (1) and y (512).
    fake::AddFile("C:\\W\\a", std::string(700, 'a'));
    fake::AddFile("C:\\W\\sub\\x", "x");
    fake::AddFile("C:\\W\\sub\\y", std::string(512, 'y'));
    fake::AddFile("C:\\W\\z", std::string(512, 'z'));
    fake::ClearCalls();
    ASSERT_EQ(app.GetFolderSize("C:\\W", 512), 5 * 512u);

    // From the calls of a clean walk: how many FindNextFileA calls came before
    // the walk of sub began, and how many up to its last one (x already counted).
    int beforeSub = 0, lastInSub = 0, next = 0;
    bool inSub = false;
    for (const fake::CallRecord& call : fake::Calls()) {
        if (call.function == "FindFirstFileA" && call.arg.find("\\sub\\") != std::string::npos) {
            beforeSub = next;
            inSub = true;
        } else if (call.function == "FindNextFileA") {
            next++;
            if (inSub)
                lastInSub = next;
        } else if (call.function == "FindClose") {
            inSub = false;
        }
    }
    ASSERT_GT(lastInSub, beforeSub + 2);
    const std::string kSub = "C:\\W\\sub\\*";

    const struct {
        const char* what;
        const char* function;
        int nth;
        fake::Throw thrown;
        ULONGLONG counted;
    } cases[] = {
        {"sub's search cannot start", "FindFirstFileA", 1, fake::Throw::BadAlloc, 0},
        {"sub's search cannot start", "FindFirstFileA", 1, fake::Throw::Fake, 0},
        {"sub's walk fails after x", "FindNextFileA", lastInSub, fake::Throw::BadAlloc, 0},
        {"sub's walk fails after x", "FindNextFileA", lastInSub, fake::Throw::Fake, 0},
        {"the top walk fails after a", "FindNextFileA", beforeSub, fake::Throw::BadAlloc, 0},
    };
    for (const auto& c : cases) {
        // sub's search is aimed at by its pattern; the walks' steps name no path
        fake::ThrowFromCall(c.function, c.nth, c.thrown, c.function == std::string("FindFirstFileA") ? kSub : "");
        ULONGLONG counted = 12345;
        EXPECT_NO_THROW(counted = app.GetFolderSize("C:\\W", 512)) << c.what;
        EXPECT_EQ(counted, c.counted) << c.what;
        EXPECT_EQ(fake::OpenSearches(), 0) << c.what;
        fake::ClearInjections();
    }

    // An unreadable subfolder ends the walk: the files listed before it count.
    fake::FailCall("FindFirstFileA", 1, ERROR_ACCESS_DENIED, kSub);
    EXPECT_EQ(app.GetFolderSize("C:\\W", 512), 3 * 512u);
}

}  // namespace
