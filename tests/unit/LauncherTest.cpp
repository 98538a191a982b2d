#include "LauncherTest.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

using namespace paths;

void LauncherTest::SetUp()
{
    fake::Reset();
    fake::AddDrive("E:", DRIVE_CDROM);
    fake::AddFolder(kSharedBase);
    fake::SetEnv("PUBLIC", kPublic);
    fake::SetEnv("ALLUSERSPROFILE", "C:\\ProgramData");
    fake::AddFolder(kTempBase);
    fake::SetTempPath(kTempBase + "\\");
    fake::AddFolder("C:\\Users\\ann\\Local Settings\\Temp");
    fake::AddFolder("C:\\Users\\bob\\Local Settings\\Temp");
}

void LauncherTest::TearDown()
{
    // Whatever a test did, every handle the launcher opened is closed again,
    // once it lets go of the copy it holds for the viewer's start.
    app.ReleaseHeldCopy();
    EXPECT_EQ(fake::OpenFileHandles(), 0);
    EXPECT_EQ(fake::OpenSearches(), 0);
    EXPECT_EQ(fake::OutstandingArgvBlocks(), 0);
    EXPECT_EQ(fake::BadHandleCloses(), 0);
    EXPECT_EQ(fake::BadLocalFrees(), 0);
    EXPECT_EQ(fake::OpenMutexHandles(), 0);
    EXPECT_EQ(fake::OwnedMutexes(), 0);
}

void LauncherTest::MakeMedium(const std::string& root, UINT driveType, const std::string& version)
{
    std::string drive = root.substr(0, 2);
    if (drive == "\\\\")  // a network share's "\\host\share"
        drive = root.substr(0, root.find('\\', root.find('\\', 2) + 1));
    try {
        fake::AddDrive(drive, driveType);
    } catch (const std::logic_error&) {  // the drive is there already
        fake::SetDriveType(drive, driveType);
    }
    fake::AddFile(root + "\\VIEWER\\bin\\ZelvoLauncher.exe", std::string(3000, 'L'));
    fake::AddFile(root + "\\VIEWER\\bin\\KiroZelvo.exe", std::string(9000, 'K'));
    if (!version.empty())
        fake::AddFile(root + "\\VIEWER\\bin\\Version.txt", version + "\r\n");
    fake::AddFile(root + "\\VIEWER\\help\\index.html", "<html></html>");
    fake::AddFile(root + "\\VIEWER\\help\\img\\logo.png", std::string(5000, 'P'));
    fake::AddFile(root + "\\kiro\\KiroPageHolder.exe", std::string(600, 'H'));
    fake::SetModulePath(root + "\\VIEWER\\bin\\ZelvoLauncher.exe");
}

void LauncherTest::MakeCopy(const std::string& copyFolder, const std::string& version)
{
    fake::AddFile(copyFolder + "\\VIEWER\\bin\\KiroZelvo.exe", std::string(9000, 'K'));
    if (!version.empty())
        fake::AddFile(copyFolder + "\\VIEWER\\bin\\Version.txt", version + "\r\n");
    fake::AddFile(copyFolder + "\\kiro\\KiroPageHolder.exe", std::string(600, 'H'));
}

void LauncherTest::Run(const std::wstring& commandLine)
{
    fake::SetCommandLine(commandLine);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.ExitInstance(), 0);
}

std::string LauncherTest::StaleCopies() const
{
    std::string joined;
    for (INT_PTR i = 0; i < app.m_arrStaleCopies.GetSize(); i++)
        joined += (i ? "|" : "") + Str(app.m_arrStaleCopies.GetAt(i));
    return joined;
}

std::string LauncherTest::ViewerCommandLine() const
{
    const auto& processes = fake::Processes();
    if (processes.empty())
        return "";
    EXPECT_EQ(processes.size(), 1u) << "the viewer is started once at most";
    return processes.back().commandLine.value_or("");
}

static std::string RecordLines(const std::map<std::string, std::string>& layout, const std::string& folder)
{
    std::string lines;
    std::vector<std::string> subfolders;
    for (const auto& [path, what] : layout) {
        if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0)
            continue;
        size_t slash = path.find('\\', folder.size());
        if (slash == std::string::npos)
            lines += std::to_string(what.size()) + "\t" + path + "\r\n";
        else if (slash == path.size() - 1)
            subfolders.push_back(path);
    }
    for (const std::string& subfolder : subfolders)
        lines += RecordLines(layout, subfolder);
    return lines;
}

std::map<std::string, std::string> WithRecord(std::map<std::string, std::string> layout)
{
    layout["ZelvoCopyRecord.txt"] = "ZelvoCopyRecord 1\r\n" + RecordLines(layout, "");
    return layout;
}

std::string TestName(const std::string& description)
{
    std::string name;
    bool wordStart = true;
    for (unsigned char c : description) {
        if (!std::isalnum(c)) {
            wordStart = true;
            continue;
        }
        name += wordStart ? (char)std::toupper(c) : (char)c;
        wordStart = false;
    }
    return name;
}

Message ReadMessage(const std::string& name)
{
    std::ifstream file(std::string(TEST_MESSAGES_DIR) + "/" + name + ".txt", std::ios::binary);
    std::stringstream contents;
    contents << file.rdbuf();
    std::string all = contents.str();
    size_t lineEnd = all.find('\n');
    if (!file || lineEnd == std::string::npos || all.back() != '\n')
        throw std::runtime_error("cannot read the message " + name);
    return {all.substr(0, lineEnd), all.substr(lineEnd + 1, all.size() - lineEnd - 2)};
}
