// The logged-in user check: the reading rule for "UserZahl" and the step against
// real user files.
#include <gtest/gtest.h>
#include <climits>
#include "DirectoryUpdater.h"
#include "StepWindow.h"
#include "Automation.h"
#include "Haupt.h"
#include "TestFiles.h"
#include "UserCheck.h"

using namespace vlmtest;

namespace {

const std::wstring kLoggedInBox = L"Es sind noch Anwender in Velmora angemeldet!\nDas Update wird abgebrochen!";

TEST(ReadUserZahl, TheWholeTextMustBeOneInteger) {
    // clang-format off
    const std::pair<const wchar_t*, int> cases[] = {
        // Every way of writing zero.
        {L"0", 0}, {L"00", 0}, {L"+0", 0}, {L"-0", 0}, {L"$0", 0}, {L"0x0", 0}, {L"0X00", 0}, {L"x0", 0},
        {L"X0", 0}, {L"-$0", 0}, {L"+0x0", 0}, {L"   0", 0},
        // Counts that refuse the update.
        {L"1", 1}, {L"12", 12}, {L"-1", -1}, {L"+7", 7}, {L"$1A", 26}, {L"0xff", 255}, {L"-$10", -16},
        {L"2147483647", INT_MAX}, {L"-2147483648", INT_MIN}, {L"$7FFFFFFF", INT_MAX},
        // Hexadecimal uses all 32 bits, as two's complement.
        {L"$FFFFFFFF", -1}, {L"0x80000000", INT_MIN}, {L"$00000000FFFFFFFE", -2}, {L"-$FFFFFFFF", 1},
        // Not one integer: -1.
        {L"", -1}, {L"abc", -1}, {L"1a", -1}, {L" ", -1}, {L"+", -1}, {L"-", -1}, {L"$", -1}, {L"0x", -1},
        {L"+-0", -1}, {L"--0", -1}, {L"0 ", -1}, {L"0\t", -1}, {L"\t0", -1}, {L"0,0", -1}, {L"0.0", -1},
        {L"1e3", -1}, {L"$-1", -1}, {L"$ 0", -1}, {L"0$0", -1}, {L"0xx0", -1}, {L"$G", -1}, {L"h0", -1},
        {L"\xff10", -1},  // a full-width digit zero
        // Out of range: -1, never a wrapped-around zero.
        {L"2147483648", -1}, {L"-2147483649", -1}, {L"4294967296", -1}, {L"$100000000", -1},
        {L"0x100000000", -1}, {L"99999999999999999999999999", -1},
    };
    // clang-format on
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(text)));
        EXPECT_EQ(ReadUserZahl(text), expected);
    }
}

TEST(PruefeVLMUser, GoesOnOnlyWhenTheUserFileSaysZero) {
    struct Case {
        const char* Name;
        const wchar_t* UserFile;  // content of Daten\VelmUser.ini; none when null
        bool DataDirWithBackslash;
        int Result;
    };
    // clang-format off
    const Case cases[] = {
        {"zero", L"[Benutzer]\r\nUserZahl=0\r\n", true, 0},
        {"zero as $0", L"[Benutzer]\r\nUserZahl=$0\r\n", true, 0},
        {"other spelling of section and key", L"[BENUTZER]\r\nuserzahl=0\r\n", true, 0},
        {"one user", L"[Benutzer]\r\nUserZahl=1\r\n", true, 1},
        {"negative count", L"[Benutzer]\r\nUserZahl=-1\r\n", true, 1},
        {"empty value", L"[Benutzer]\r\nUserZahl=\r\n", true, 1},
        {"not a number", L"[Benutzer]\r\nUserZahl=abc\r\n", true, 1},
        {"no such key", L"[Benutzer]\r\nAnzahl=0\r\n", true, 1},
        {"no such section", L"[Setup]\r\nUserZahl=0\r\n", true, 1},
        {"no user file", nullptr, true, 1},
        // DataDir is used as stored: without a final backslash the file sought lies
        // beside the data folder, and is missing.
        {"data folder without final backslash", L"[Benutzer]\r\nUserZahl=0\r\n", false, 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"user");
        MakeDirs(root / L"Daten");
        if (c.UserFile) WriteIni(root / L"Daten\\VelmUser.ini", c.UserFile);
        const auto before = ReadBytes(root / L"Daten\\VelmUser.ini");

        StepWindow<DirectoryUpdater> window;
        TFHaupt& f = window.F;
        UpdateRun& run = window.R;
        run.Session.DataDir = root / (c.DataDirWithBackslash ? L"Daten\\" : L"Daten");
        BoxWatcher watcher;
        EXPECT_EQ(run.PruefeVLMUser(), c.Result);
        const auto boxes = watcher.Stop();
        if (c.Result == 0) {
            EXPECT_TRUE(boxes.empty());
        } else {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].Title, L"Fehler");
            EXPECT_EQ(boxes[0].Text, kLoggedInBox);
            EXPECT_EQ(boxes[0].Buttons, std::vector<std::wstring>{L"OK"});
        }
        EXPECT_TRUE(LogLines(f.Handle).empty());
        // The step only reads.
        EXPECT_EQ(ReadBytes(root / L"Daten\\VelmUser.ini"), before);
    }
}

TEST(PruefeVLMUser, IsSkippedWithSubfolder001) {
    TempDir root(L"user");
    StepWindow<DirectoryUpdater> window;
    UpdateRun& run = window.R;
    run.Session.DataDir = root / L"Daten\\";  // no user file there
    run.Session.HasSubdir001 = true;
    BoxWatcher watcher;
    EXPECT_EQ(run.PruefeVLMUser(), 0);
    EXPECT_TRUE(watcher.Stop().empty());
}

}  // namespace
