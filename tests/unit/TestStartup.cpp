// Reading the command and running exactly one command.
#include "LauncherTest.h"

#include <algorithm>

namespace {

class StartupTest : public LauncherTest
{
protected:
    void SetUp() override
    {
        LauncherTest::SetUp();
        // On a removable drive each command leaves its own mark: the launch starts
        // the viewer, the delete removes folders, the repair fails with its box.
        MakeMedium("F:", DRIVE_REMOVABLE);
        MakeCopy(paths::kTemp, "3.1");
    }

    // Which command ran, told by what it left behind.
    std::string CommandThatRan()
    {
        const auto& boxes = fake::MessageBoxes();
        const auto& ops = fake::ShellOps();
        bool deleted = std::any_of(ops.begin(), ops.end(), [](const fake::ShellOpRecord& op) {
            return op.func == FO_DELETE;
        });
        if (boxes.size() == 1 && boxes[0].caption == ReadMessage("help").caption) {
            EXPECT_TRUE(fake::Processes().empty());
            EXPECT_TRUE(ops.empty());
            return "help";
        }
        if (boxes.size() == 1 && boxes[0].caption == ReadMessage("repair").caption)
            return deleted && fake::Processes().empty() ? "repair" : "repair, but odd";
        if (!boxes.empty())
            return "unexpected message box";
        if (!fake::Processes().empty())
            return deleted ? "launch, but deleted" : "launch";
        if (deleted)
            return "delete";
        return "nothing";
    }
};

struct Dispatch {
    const wchar_t* commandLine;
    const char* command;
};

const Dispatch kDispatches[] = {
    // No word, an empty word, /LAUNCH in any case, and any other word launch.
    {L"\"F:\\VIEWER\\bin\\ZelvoLauncher.exe\"", "launch"},
    {L"\"F:\\VIEWER\\bin\\ZelvoLauncher.exe\" \"\"", "launch"},
    {L"ZelvoLauncher.exe /LAUNCH", "launch"},
    {L"ZelvoLauncher.exe /launch", "launch"},
    {L"ZelvoLauncher.exe REPAIR", "launch"},
    {L"ZelvoLauncher.exe \"/REPAIR \"", "launch"},
    {L"ZelvoLauncher.exe /DELETEALL", "launch"},
    // Only the first word counts, in any case.
    {L"ZelvoLauncher.exe /DELETE", "delete"},
    {L"ZelvoLauncher.exe /delete", "delete"},
    {L"ZelvoLauncher.exe /DeLeTe /REPAIR /HELP", "delete"},
    {L"ZelvoLauncher.exe /REPAIR", "repair"},
    {L"ZelvoLauncher.exe /Repair extra", "repair"},
    {L"ZelvoLauncher.exe /HELP", "help"},
    {L"ZelvoLauncher.exe /help", "help"},
    {L"ZelvoLauncher.exe /?", "help"},
    // -REGSERVER does nothing, also as the program's own name.
    {L"ZelvoLauncher.exe -REGSERVER", "nothing"},
    {L"ZelvoLauncher.exe -RegServer /DELETE", "nothing"},
    {L"-REGSERVER /DELETE", "nothing"},
    {L"-regserver", "nothing"},
    {L"\"-RegServer\" /HELP", "nothing"},
};

std::ostream& operator<<(std::ostream& os, const Dispatch& row)
{
    return os << testing::PrintToString(std::wstring(row.commandLine));
}

class DispatchTest : public StartupTest, public ::testing::WithParamInterface<Dispatch>
{
};

TEST_P(DispatchTest, RunsTheCommandOfTheFirstArgument)
{
    fake::SetCommandLine(GetParam().commandLine);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(CommandThatRan(), GetParam().command);
}

INSTANTIATE_TEST_SUITE_P(EachCommandLine, DispatchTest, ::testing::ValuesIn(kDispatches),
                         [](const ::testing::TestParamInfo<Dispatch>& info) {
                             std::wstring line = info.param.commandLine;
                             return std::to_string(info.index) + "_" + TestName(std::string(line.begin(), line.end()));
                         });

struct FailedSplit {
    const char* name;  // the function that fails
    const wchar_t* commandLine;
};

const FailedSplit kFailedSplits[] = {
    {"LocalAlloc", L"ZelvoLauncher.exe /HELP"},                    // split here
    {"CommandLineToArgvW", L"ZelvoLauncher.exe \"/HELP\""},     // split by the shell: quotes make it less plain
};

class FailedSplitTest : public StartupTest, public ::testing::WithParamInterface<FailedSplit>
{
};

TEST_P(FailedSplitTest, Launches)
{
    fake::FailCall(GetParam().name, 1, ERROR_NOT_ENOUGH_MEMORY);
    fake::SetCommandLine(GetParam().commandLine);
    app.InitInstance();
    EXPECT_EQ(CommandThatRan(), "launch");
}

INSTANTIATE_TEST_SUITE_P(WhenTheCommandLineCannotBeSplit, FailedSplitTest, ::testing::ValuesIn(kFailedSplits),
                         RowName());

// The shell's split, made here for plain command lines: it must give exactly
// what the shell gives, and leave every other line to the shell.
TEST_F(StartupTest, PlainCommandLinesAreSplitAsTheShellSplitsThem)
{
    const struct {
        const wchar_t* commandLine;
        bool plain;
    } cases[] = {
        {L"\"E:\\VIEWER\\bin\\ZelvoLauncher.exe\"", true},
        {L"E:\\VIEWER\\bin\\ZelvoLauncher.exe", true},
        {L"\"E:\\Disc 7\\VIEWER\\bin\\ZelvoLauncher.exe\"   /DELETE  \t extra\\ ", true},
        {L"ZelvoLauncher.exe /REPAIR a\\\\b", true},
        {L"ZelvoLauncher.exe \t", true},
        {L"-REGSERVER /HELP", true},
        {L"ZelvoLauncher.exe \"/REPAIR \"", false},
        {L"ZelvoLauncher.exe \"\"", false},
        {L"ZelvoLauncher.exe a\\\"b", false},
        {L"\"ZelvoLauncher.exe\"/HELP", false},
        {L"\"\" /HELP", false},
        {L"\"unclosed /HELP", false},
        {L" ZelvoLauncher.exe /HELP", false},
        {L"Zelvo\"Launcher\".exe /HELP", false},
        {L"ZelvoLauncher.exe /HELP\n/DELETE", false},
        {L"", false},
    };
    for (const auto& c : cases) {
        std::string shown = testing::PrintToString(std::wstring(c.commandLine));
        int shellCount = -1;
        LPWSTR* shell = CommandLineToArgvW(c.commandLine, &shellCount);
        ASSERT_NE(shell, nullptr) << shown;
        fake::ClearCalls();
        int count = -1;
        LPWSTR* ours = AfxCommandLineToArgvW(c.commandLine, &count);
        ASSERT_NE(ours, nullptr) << shown;
        EXPECT_EQ(fake::CallCount("CommandLineToArgvW"), c.plain ? 0 : 1) << shown;
        ASSERT_EQ(count, shellCount) << shown;
        for (int i = 0; i < count; i++)
            EXPECT_EQ(std::wstring(ours[i]), std::wstring(shell[i])) << shown << " element " << i;
        EXPECT_EQ(ours[count], nullptr);
        LocalFree(ours);
        LocalFree(shell);
    }
}

TEST_F(StartupTest, HelpShowsTheCommandListAndNothingElse)
{
    Run(L"ZelvoLauncher.exe /?");
    ASSERT_EQ(fake::MessageBoxes().size(), 1u);
    const fake::MessageBoxRecord& box = fake::MessageBoxes()[0];
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(box.caption, ReadMessage("help").caption);
    EXPECT_EQ(box.text, ReadMessage("help").text);
    // Not even the medium is looked at.
    EXPECT_EQ(fake::CallCount("GetModuleFileNameW"), 0);
    EXPECT_EQ(fake::CallCount("FindFirstFileA"), 0);
}

TEST_F(StartupTest, RegserverEndsBeforeAnythingIsTouched)
{
    Run(L"ZelvoLauncher.exe -REGSERVER");
    for (const fake::CallRecord& call : fake::Calls())
        EXPECT_TRUE(call.function == "GetCommandLineW" || call.function == "LocalAlloc" ||
                    call.function == "LocalFree" || call.function == "WideCharToMultiByte" ||
                    call.function == "_mbsicmp")
            << "unexpected call " << call.function << "(" << call.arg << ")";
}

TEST_F(StartupTest, CommandWordsConvertThroughTheAnsiCodePage)
{
    // A word with characters of the code page is compared as ANSI text and
    // launches like any unknown word.
    fake::SetCodePage(932);
    Run(L"ZelvoLauncher.exe /\u8868");
    EXPECT_EQ(CommandThatRan(), "launch");
}

TEST_F(StartupTest, TheApplicationObjectStartsWithItsInitialState)
{
    CLauncherApp fresh;
    EXPECT_EQ(fresh.m_bCopyAllowed, 1);
    EXPECT_EQ(fresh.m_pszAppName, nullptr);
    for (const CString* text : {&fresh.m_strMediaVersion, &fresh.m_strMediaRoot, &fresh.m_strCopyTarget,
                                &fresh.m_strCopySource, &fresh.m_strSharedCopy, &fresh.m_strTempCopy,
                                &fresh.m_strProfileCopy})
        EXPECT_TRUE(text->IsEmpty());
    EXPECT_EQ(fresh.m_arrStaleCopies.GetSize(), 0);
    EXPECT_EQ(AfxGetApp(), &fresh);
}

TEST_F(StartupTest, TheEntryRunsOneCommandAndEndsWithExitInstancesValue)
{
    fake::SetCommandLine(L"ZelvoLauncher.exe /DELETE");
    EXPECT_EQ(AfxWinMain(), 0);
    EXPECT_EQ(CommandThatRan(), "delete");
}

}  // namespace
