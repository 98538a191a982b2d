// The framework stand-ins: multibyte-aware text, the array and the file finder.
#include "LauncherTest.h"

namespace {

using namespace paths;

class FrameworkTest : public LauncherTest {};

const std::string kSo = "\x83\x5C";     // U+30BD in code page 932: trail byte 0x5C
const std::string kHyou = "\x95\x5C";   // U+8868

TEST_F(FrameworkTest, SearchesStepOverDoubleByteCharacters)
{
    fake::SetCodePage(932);
    CString path = ("C:\\Disc" + kSo + "\\VIEWER" + kHyou).c_str();
    EXPECT_EQ(path.ReverseFind('\\'), 9);   // the real backslash, not the trail byte at the end
    EXPECT_EQ(path.Find('\\'), 2);
    EXPECT_EQ(path.Find(':'), 1);
    EXPECT_EQ(Str(path.Left(path.ReverseFind('\\'))), "C:\\Disc" + kSo);

    CString noSeparator = ("Disc" + kSo).c_str();
    EXPECT_EQ(noSeparator.ReverseFind('\\'), -1);

    // In code page 1252 the same bytes are two characters, the second a backslash.
    fake::SetCodePage(1252);
    EXPECT_EQ(path.ReverseFind('\\'), path.GetLength() - 1);
}

TEST_F(FrameworkTest, TrimsOnlyWholeCharacters)
{
    fake::SetCodePage(932);
    CString text = (" \\" + kSo + "\\ ").c_str();
    text.TrimRight(" \\");
    EXPECT_EQ(Str(text), " \\" + kSo);
    text.TrimLeft(" \\");
    EXPECT_EQ(Str(text), kSo);

    CString stamp = " .\r\n3.2.0.15\t. \n";
    stamp.TrimLeft(" .\n\r\t");
    stamp.TrimRight(" .\n\r\t");
    EXPECT_EQ(Str(stamp), "3.2.0.15");
    CString blank = " . \r\n";
    blank.TrimLeft(" .\n\r\t");
    EXPECT_TRUE(blank.IsEmpty());
}

TEST_F(FrameworkTest, LeftAndBuffers)
{
    CString text = "E:\\VIEWER";
    EXPECT_EQ(Str(text.Left(-1)), "");
    EXPECT_EQ(Str(text.Left(0)), "");
    EXPECT_EQ(Str(text.Left(2)), "E:");
    EXPECT_EQ(Str(text.Left(99)), "E:\\VIEWER");

    CString buffer;
    LPSTR raw = buffer.GetBuffer(10);
    memcpy(raw, "ab\0cd", 5);
    buffer.ReleaseBuffer(-1);
    EXPECT_EQ(buffer.GetLength(), 2);
    raw = buffer.GetBuffer(10);
    memcpy(raw, "abcdef", 6);
    buffer.ReleaseBuffer(4);
    EXPECT_EQ(Str(buffer), "abcd");
    buffer.GetBuffer(10);
    EXPECT_THROW(buffer.ReleaseBuffer(11), std::exception);  // past the buffer: nothing there to keep

    CString copy = text;  // values, not shared buffers
    copy.GetBuffer(20)[0] = 'F';
    copy.ReleaseBuffer();
    EXPECT_EQ(Str(text), "E:\\VIEWER");
}

TEST_F(FrameworkTest, WideTextConvertsThroughTheAnsiCodePage)
{
    CString plain = L"/DELETE";
    EXPECT_EQ(Str(plain), "/DELETE");
    CString empty = L"";
    EXPECT_TRUE(empty.IsEmpty());
    fake::SetCodePage(932);
    CString hyou = L"/\u8868";
    EXPECT_EQ(Str(hyou), "/" + kHyou);
}

TEST_F(FrameworkTest, ArraysKeepOrderAndEmpty)
{
    CStringArray list;
    EXPECT_EQ(list.Add("a"), 0);
    EXPECT_EQ(list.Add("b"), 1);
    EXPECT_EQ(list.GetSize(), 2);
    EXPECT_EQ(Str(list.GetAt(1)), "b");
    list.RemoveAll();
    EXPECT_EQ(list.GetSize(), 0);
}

// The text and array storage is the framework's own: growing past what was
// reserved keeps every character and item, text appended to itself included,
// and an index out of range throws, as the standard library's at() does.
TEST_F(FrameworkTest, TextAndArraysGrowAndKeepTheirContents)
{
    CString text = "ab";
    std::string expected = "ab";
    for (int i = 0; i < 6; i++) {
        text += text;
        text += 'c';
        expected += expected + "c";
    }
    EXPECT_EQ(Str(text), expected);
    EXPECT_THROW(text.GetAt(text.GetLength()), std::exception);

    CStringArray list;
    for (int i = 0; i < 100; i++)
        list.Add(std::to_string(i).c_str());
    EXPECT_EQ(Str(list.GetAt(99)), "99");
    EXPECT_THROW(list.GetAt(100), std::exception);
}

TEST_F(FrameworkTest, FileFinderWalksAFolder)
{
    fake::AddFile("C:\\walk\\one.txt", "12345");
    fake::AddFolder("C:\\walk\\sub");
    fake::AddBigFile("C:\\walk\\big.bin", (5ull << 32) + 7);

    CFileFind finder;
    ASSERT_TRUE(finder.FindFile("C:\\walk\\*.*"));
    std::vector<std::string> seen;
    BOOL more = TRUE;
    while (more) {
        more = finder.FindNextFile();
        if (finder.IsDots())
            continue;
        seen.push_back(Str(finder.GetFilePath()));
        if (Str(finder.GetFileName()) == "big.bin") {
            EXPECT_EQ(finder.GetLength64(), (5ull << 32) + 7);
        }
        EXPECT_EQ(finder.IsDirectory(), Str(finder.GetFileName()) == "sub");
        EXPECT_EQ(finder.MatchesMask(FILE_ATTRIBUTE_DIRECTORY), Str(finder.GetFileName()) == "sub");
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"C:\\walk\\one.txt", "C:\\walk\\sub", "C:\\walk\\big.bin"}));
    finder.Close();

    // An exact path finds that one file.
    ASSERT_TRUE(finder.FindFile("C:\\walk\\one.txt"));
    EXPECT_FALSE(finder.FindNextFile());
    EXPECT_EQ(finder.GetLength64(), 5u);
    EXPECT_EQ(Str(finder.GetFilePath()), "C:\\walk\\one.txt");

    EXPECT_FALSE(finder.FindFile("C:\\nowhere\\*.*"));
    EXPECT_FALSE(finder.FindNextFile());
}

TEST_F(FrameworkTest, TempPathEndingInADoubleByteCharacterKeepsIt)
{
    // The last byte 0x5C of a double-byte character is not a trailing backslash.
    fake::SetCodePage(932);
    fake::AddFolder("C:\\Temp" + kSo);
    fake::SetTempPath("C:\\Temp" + kSo);
    app.ProbeTempLocation(1);
    fake::SetTempPath("C:\\Temp" + kSo + "\\");
    app.ProbeTempLocation(1);
    EXPECT_EQ(StaleCopies(), "C:\\Temp" + kSo + "\\Zelvo Disc 11|C:\\Temp" + kSo + "\\Zelvo Disc 11");
}

}  // namespace
