// A launcher on the fake machine, and the disk layouts the tests build on.
#pragma once

#include "FakeMachine.h"
#include "app/LauncherApp.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>

// The machine most tests start from, laid out like a Windows 7 machine:
//   C: fixed; PUBLIC = C:\Users\Public with "Application Data" beneath it;
//   the temp folder C:\Users\ann\AppData\Local\Temp; profiles C:\Users\ann and
//   C:\Users\bob, each with "Local Settings\Temp".
// The medium is a disc in drive E: with the launcher in E:\VIEWER\bin.
namespace paths {
const std::string kPublic = "C:\\Users\\Public";
const std::string kSharedBase = kPublic + "\\Application Data";
const std::string kShared = kSharedBase + "\\Zelvo Disc 11";
const std::string kTempBase = "C:\\Users\\ann\\AppData\\Local\\Temp";
const std::string kTemp = kTempBase + "\\Zelvo Disc 11";
inline std::string Profile(const std::string& user)
{
    return "C:\\Users\\" + user + "\\Local Settings\\Temp\\Zelvo Disc 11";
}
}  // namespace paths

// A test's name from the description of its table row: "no room: the
// medium" gives "NoRoomTheMedium".
std::string TestName(const std::string& description);
// Names each test of a table after the `name` of its row.
struct RowName {
    template <class Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const
    {
        return TestName(info.param.name);
    }
};

// A copy's tree, as fake::Snapshot gives it, with the record an installation
// writes of it: each folder's files by name, then its subfolders by name.
std::map<std::string, std::string> WithRecord(std::map<std::string, std::string> layout);

// A message box of the launcher as tests/messages/<name>.txt holds it: the
// caption on the first line, then the text.
struct Message {
    std::string caption, text;
};
Message ReadMessage(const std::string& name);

namespace {
// Prints a table row by its name (the tables live in each test file's
// unnamed namespace, which is this one).
template <class Row>
auto operator<<(std::ostream& os, const Row& row) -> decltype(os << row.name)
{
    return os << row.name;
}
}  // namespace

inline std::string Str(const CString& text)
{
    return std::string(static_cast<LPCSTR>(text));
}

class LauncherTest : public ::testing::Test
{
public:
    // A copy folder as an installation leaves it, stamped with `version`
    // (no stamp file when empty).
    static void MakeCopy(const std::string& copyFolder, const std::string& version);

protected:
    void SetUp() override;
    void TearDown() override;

    // A medium at `root` ("E:" or a folder such as "D:\\Discs\\Study 7") on a
    // drive of the given type, with the launcher, the viewer, a stamp holding
    // `version` (none when empty), a VIEWER tree and the companion.
    void MakeMedium(const std::string& root = "E:", UINT driveType = DRIVE_CDROM,
                    const std::string& version = "3.2.0.15");
    // Runs the launcher as the process would, with the given command line.
    void Run(const std::wstring& commandLine);

    std::string StaleCopies() const;  // the entries of m_arrStaleCopies, joined by '|'
    // The command line the viewer was started with, or "" when none was.
    std::string ViewerCommandLine() const;

    CLauncherApp app;
};
