// Show-time behaviour of both programs, driven as a person would.
#include <gtest/gtest.h>
#include <cstdlib>
#include "Automation.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

const std::wstring kConfirm =
    L"Im angegebenen Verzeichnis wurde eine updatef\u00e4hige Velmora-Version gefunden,\n"
    L"die nicht \u00fcber diesen PC installiert wurde.\nSoll die Update-Installation fortgesetzt werden?";
const std::wstring kVersion10 =
    L"Im angegebenen Verzeichnis existiert bereits ein Velmora der Version 10!\nDas Update wird abgebrochen!";
const std::wstring kUnknown =
    L"Im angegebenen Verzeichnis existiert eine unbekannte Velmora-Version!\n"
    L"Bitte entfernen Sie zuerst diese Version!\nDas Update wird abgebrochen!";

std::wstring NotUpdatable(const std::wstring& version) {
    return L"Im angegebenen Verzeichnis wurde eine NICHT updatef\u00e4hige Velmora - Version " + version +
           L" gefunden,\ndie nicht \u00fcber diesen PC installiert wurde.\nDieses Update wird abgebrochen!";
}

std::wstring DirectoryUpdater() { return BinDir() + L"\\VLMUpdaterP2_11.exe"; }

// A program folder holding a Velmora10.EXE with the given version fixture.
struct ProgramFolder {
    TempDir Dir{L"show"};
    explicit ProgramFolder(const std::wstring& fixture) {
        if (!fixture.empty()) {
            EXPECT_TRUE(::CopyFileW(Fixture(fixture).c_str(), (Dir / L"Velmora10.EXE").c_str(), FALSE));
        }
    }
    std::wstring Argument() const { return L"\"" + Dir.Path() + L"\\\""; }
};

// The directory updater asks before it starts on a version-9 folder: checks the box and confirms.
void AnswerTheConfirmation(Program& p) {
    auto box = p.WaitBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->Title, L"Best\u00e4tigen");
    EXPECT_EQ(box->Text, kConfirm);
    EXPECT_EQ(box->Buttons, (std::vector<std::wstring>{L"&Ja", L"&Nein"}));
    EXPECT_EQ(box->DefaultButton, L"&Ja");
    p.Answer(L"&Ja");
}

TEST(DirectoryUpdaterShow, NoProgramFileEndsWithZeroSilently) {
    ProgramFolder folder(L"");
    Program p(DirectoryUpdater(), folder.Argument());
    EXPECT_FALSE(p.WaitBox(3000));
    EXPECT_EQ(p.WaitExit(), 0u);
}

TEST(DirectoryUpdaterShow, RefusedVersionsShowTwoBoxesAndEndWithOne) {
    struct Case {
        const wchar_t* Fixture;
        const wchar_t* Version;
        const std::wstring& FirstBox;
    };
    const Case cases[] = {{L"v10_0_0_0", L"10.0.0.0", kVersion10},
                          {L"v10_1_0_3", L"10.1.0.3", kVersion10},
                          {L"v95_1_0_0", L"95.1.0.0", kUnknown},
                          {L"v1_0_0_0", L"1.0.0.0", kUnknown},
                          {L"noversion", L"0.0.0.0", kUnknown}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Fixture);
        ProgramFolder folder(c.Fixture);
        Program p(DirectoryUpdater(), folder.Argument());
        for (const std::wstring& text : {c.FirstBox, NotUpdatable(c.Version)}) {
            auto box = p.WaitBox();
            ASSERT_TRUE(box);
            EXPECT_EQ(box->Title, L"Fehler");
            EXPECT_EQ(box->Text, text);
            EXPECT_EQ(box->Buttons, std::vector<std::wstring>{L"OK"});
            EXPECT_EQ(box->DefaultButton, L"OK");
            p.Answer(L"OK");
        }
        EXPECT_EQ(p.WaitExit(), 1u);
    }
}

TEST(DirectoryUpdaterShow, ConfirmationDeclinedEndsWithOne) {
    ProgramFolder folder(L"v9_2_0_15");
    Program p(DirectoryUpdater(), folder.Argument());
    auto box = p.WaitBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->Text, kConfirm);
    p.Answer(L"&Nein");
    EXPECT_EQ(p.WaitExit(), 1u);
}

TEST(DirectoryUpdaterShow, ConfirmedGivesTheCompactWindow) {
    // Product version 9.4.0.12 with file version 10.0.0.0 counts as 9.
    for (const wchar_t* fixture : {L"v9_2_0_15", L"v9_4_0_12"}) {
        SCOPED_TRACE(fixture);
        ProgramFolder folder(fixture);
        Program p(DirectoryUpdater(), folder.Argument());
        AnswerTheConfirmation(p);
        HWND main = p.MainWindow();
        ASSERT_TRUE(main);
        EXPECT_EQ(WaitFor([&] { return ClientSize(main).cy == 134; }), true);
        EXPECT_EQ(ClientSize(main).cx, 388);
        EXPECT_FALSE(LogVisible(main));
        EXPECT_TRUE(LogLines(main).empty());
        EXPECT_EQ(StatusText(main), L"");
        wchar_t caption[64]{};
        ::GetWindowTextW(main, caption, 64);
        EXPECT_STREQ(caption, L"Velmora Updater");
        PressKey(main, VK_ESCAPE);
        EXPECT_EQ(p.WaitExit(), 1u);
    }
}

TEST(DirectoryUpdaterShow, ButtonsAndClosingTheWindow) {
    struct Case {
        const char* Name;
        void (*Act)(HWND);
        DWORD Exit;
    };
    const Case cases[] = {
        {"Abbruch", [](HWND main) { ClickButton(main, L"Abbruch"); }, 1},
        {"close button", [](HWND main) { PressClose(main); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ProgramFolder folder(L"v9_0_65535_7");
        Program p(DirectoryUpdater(), folder.Argument());
        AnswerTheConfirmation(p);
        HWND main = p.MainWindow();
        ASSERT_TRUE(main);
        c.Act(main);
        EXPECT_EQ(p.WaitExit(), c.Exit);
    }
}

TEST(RegisteredUpdaterShow, OpensCompactAndWaits) {
    Program p(BinDir() + L"\\VLMUpdater11.exe", L"whatever \"is\" given");
    HWND main = p.MainWindow();
    ASSERT_TRUE(main);
    EXPECT_EQ(WaitFor([&] { return OuterSize(main).cy == 170; }), true);
    // Centred on the screen as it is shown, not as designed.
    const auto centre = [&] {
        RECT r;
        ::GetWindowRect(main, &r);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    };
    const POINT screenCentre{::GetSystemMetrics(SM_CXSCREEN) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2};
    EXPECT_EQ(WaitFor([&] { return std::abs(centre().y - screenCentre.y) <= 1; }), true);
    EXPECT_LE(std::abs(centre().x - screenCentre.x), 1);
    EXPECT_FALSE(LogVisible(main));
    EXPECT_EQ(StatusText(main), L"");
    EXPECT_FALSE(p.WaitBox(500));
    wchar_t caption[64]{};
    ::GetWindowTextW(main, caption, 64);
    EXPECT_STREQ(caption, L"Velmora-Updater");
    const LONG style = ::GetWindowLongW(main, GWL_STYLE);
    EXPECT_FALSE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(p.WaitExit(200));
    PressKey(main, VK_ESCAPE);
    EXPECT_EQ(p.WaitExit(), 1u);
}

}  // namespace
