// Version stamps compared number by number.
#include "LauncherTest.h"

#include <vector>

namespace {

struct Comparison {
    const char* candidate;
    const char* reference;
    BOOL atLeast;
};

class VersionTest : public LauncherTest {};

TEST_F(VersionTest, ComparesAsTheWorkedExamplesSay)
{
    const Comparison cases[] = {
        {"4.7", "4.7", TRUE},     {"4.7.0", "4.7", TRUE},   {"4.7", "4.7.0", FALSE},
        {"4.7", "4.7.1", FALSE},  {"4.10", "4.9", TRUE},    {"4.7.2", "4.8", FALSE},
        {"5", "4.9.9", TRUE},     {"", "4.7", FALSE},       {"4.7", "", TRUE},
        {"", "", TRUE},           {"V4.7", "4.7", TRUE},    {"4.07", "4.7", TRUE},
        {"4..7", "4.0.7", TRUE},  {"4.x", "4", TRUE},       {"4.7b2", "4.8", TRUE},
        {"abc", "", TRUE},        {"4", "4.x", FALSE},      {"3.2.0.15", "3.2.0.9", TRUE},
        {"3.2.0.9", "3.2.0.15", FALSE},
    };
    for (const Comparison& c : cases)
        EXPECT_EQ(app.IsVersionAtLeast(c.candidate, c.reference), c.atLeast)
            << "'" << c.candidate << "' at least '" << c.reference << "'";
}

// Every number of a text, read until the reader says there are no more.
std::vector<int> ReadAll(CLauncherApp& app, const CString& text)
{
    std::vector<int> numbers;
    int cursor = 0;
    for (int n = app.NextVersionNumber(text, cursor); n != -1; n = app.NextVersionNumber(text, cursor)) {
        numbers.push_back(n);
        if (numbers.size() > 100)
            break;  // a reader that never ends fails below instead of hanging
    }
    EXPECT_EQ(cursor, text.GetLength()) << "the cursor ends at the end of '" << Str(text) << "'";
    return numbers;
}

TEST_F(VersionTest, ReadsNumbersEndedOnlyByDotsOrTheEnd)
{
    const struct {
        const char* text;
        std::vector<int> numbers;
    } cases[] = {
        {"", {}},
        {".", {0}},
        {"4..7", {4, 0, 7}},
        {".5", {0, 5}},
        {"4.x", {4, 0}},
        {"4.7.", {4, 7}},
        {"4.07", {4, 7}},
        {"7b2", {72}},
        {"7 (build 3)", {73}},
        {"V4.7", {4, 7}},
        {"\xE9" "4.\x81" "7", {4, 7}},  // bytes of 128 and more are skipped like letters
        {"0", {0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadAll(app, c.text), c.numbers) << "'" << c.text << "'";
}

TEST_F(VersionTest, CursorStopsAtTheDotAndStaysAtTheEnd)
{
    CString text = "V4.7";
    int cursor = 0;
    EXPECT_EQ(app.NextVersionNumber(text, cursor), 4);
    EXPECT_EQ(cursor, 3);
    EXPECT_EQ(app.NextVersionNumber(text, cursor), 7);
    EXPECT_EQ(cursor, 4);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(app.NextVersionNumber(text, cursor), -1);
        EXPECT_EQ(cursor, 4);
    }
    cursor = 9;  // beyond the end: still no number, and the cursor is left alone
    EXPECT_EQ(app.NextVersionNumber(text, cursor), -1);
    EXPECT_EQ(cursor, 9);
}

TEST_F(VersionTest, LongRunsOfDigitsSaturateInsteadOfOverflowing)
{
    const int kMax = 2147483647;
    EXPECT_EQ(ReadAll(app, "999999999"), std::vector<int>{999999999});
    EXPECT_EQ(ReadAll(app, "2147483647"), std::vector<int>{kMax});
    EXPECT_EQ(ReadAll(app, "2147483648"), std::vector<int>{kMax});
    EXPECT_EQ(ReadAll(app, "99999999999999999999.3"), (std::vector<int>{kMax, 3}));
    // Saturated numbers still order sensibly against ordinary ones.
    EXPECT_TRUE(app.IsVersionAtLeast("99999999999", "4.7"));
    EXPECT_FALSE(app.IsVersionAtLeast("4.7", "99999999999"));
    EXPECT_TRUE(app.IsVersionAtLeast("99999999999", "99999999999999"));
}

}  // namespace
