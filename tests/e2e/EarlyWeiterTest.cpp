// A "Weiter" that arrives before the compact window stands: right behind the
// confirmation, or as soon as the window shows. The run must start once, from
// the compact state, in the expanded window, and an error report that stops it
// must leave the log as the run left it.
#include <gtest/gtest.h>
#include "Automation.h"
#include "RunLogs.h"
#include "SampleInstall.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

struct Stopped {
    std::optional<BoxSeen> Box;
    std::vector<std::wstring> LogAtBox, LogAfter;
    int ClientHeightAfter = 0, OuterHeightAfter = 0;
    bool LogVisibleAfter = false;
    std::optional<BoxSeen> SecondBox;
};

// The run stops on the error report of the record write; after it is answered
// the window must stay as the run left it.
Stopped FollowToTheErrorReport(Program& p, HWND main) {
    Stopped s;
    s.Box = p.WaitBox(30000);
    if (!s.Box) return s;
    s.LogAtBox = LogLines(main);
    p.Answer(L"OK");
    s.SecondBox = p.WaitBox(1500);  // a run started twice would report twice
    if (s.SecondBox) p.Answer(L"OK");
    ::Sleep(300);
    s.LogAfter = LogLines(main);
    s.ClientHeightAfter = ClientSize(main).cy;
    s.OuterHeightAfter = OuterSize(main).cy;
    s.LogVisibleAfter = LogVisible(main);
    return s;
}

TEST(EarlyWeiter, RightBehindTheConfirmationTheDirectoryRunStartsOnceFromTheCompactWindow) {
    struct Case {
        const char* Name;
        bool BeforeTheBoxCloses;  // posted right behind "&Ja", or once the box has gone
    };
    const Case cases[] = {{"behind &Ja", true}, {"after the box", false}};
    for (const auto& c : cases) {
        // The show-time flow lets messages through for a moment only: repeated to meet it.
        for (int attempt = 0; attempt < 3; ++attempt) {
            SCOPED_TRACE(std::string(c.Name) + " #" + std::to_string(attempt));
            TempDir root(L"early");
            const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
            MakeDirs(s.IniDir + L"VLM_9_Update.ini");  // the record cannot be written
            Program p(BinDir() + L"\\VLMUpdaterP2_11.exe", L"\"" + s.ProgramDir + L"\"");
            auto confirm = p.WaitBox();
            ASSERT_TRUE(confirm);
            HWND main = p.MainWindow();
            ASSERT_TRUE(main);
            // Looked up beforehand: a lookup by caption reads the buttons' texts,
            // which the program answers only where it handles messages, and so
            // would hold the click back until the compact state stands.
            HWND weiter = ::GetDlgItem(main, IDOK);
            HWND box = FindBox(p.Pid());
            ClickButton(box, L"&Ja");
            if (!c.BeforeTheBoxCloses) WaitFor([&] { return !::IsWindowVisible(box); }, 5000);
            ::PostMessageW(weiter, BM_CLICK, 0, 0);

            const Stopped seen = FollowToTheErrorReport(p, main);
            ASSERT_TRUE(seen.Box);
            EXPECT_EQ(seen.Box->Title, L"Vlmupdaterp2_11");
            EXPECT_FALSE(seen.SecondBox);
            EXPECT_EQ(seen.LogAtBox, kDirectoryRunLog);
            EXPECT_EQ(seen.LogAfter, kDirectoryRunLog);
            EXPECT_TRUE(seen.LogVisibleAfter);
            EXPECT_EQ(seen.ClientHeightAfter, 134 + 180);
            EXPECT_FALSE(p.WaitExit(0));
            ClickButton(main, L"Abbruch");
            EXPECT_EQ(p.WaitExit(), 1u);
        }
    }
}

TEST(EarlyWeiter, AsSoonAsTheWindowShowsTheRegisteredRunStartsOnceFromTheCompactWindow) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        SCOPED_TRACE(attempt);
        TempDir root(L"earlyreg");
        const auto s = LayOutSample(root.Path(), Fixture(L"v10_0_0_0"));
        RegistryValue registration(HKEY_LOCAL_MACHINE, kInstallPropertiesKey, L"InstallLocation", kInstallerView);
        registration.SetString(s.ProgramDir + L"\\");
        MakeDirs(s.IniDir + L"VLM_10_Update.ini");
        Program p(BinDir() + L"\\VLMUpdater11.exe", L"");
        // The button as soon as it exists, before the window is even shown:
        // the click then waits in the queue for the first point where the
        // program handles messages.
        HWND main = nullptr, weiter = nullptr;
        for (const DWORD until = ::GetTickCount() + 20000; !weiter && ::GetTickCount() < until;) {
            main = FindWindowOfClass(p.Pid(), L"TFHaupt");
            if (main) weiter = ::GetDlgItem(main, IDOK);
        }
        ASSERT_TRUE(weiter);
        ::PostMessageW(weiter, BM_CLICK, 0, 0);

        const Stopped seen = FollowToTheErrorReport(p, main);
        ASSERT_TRUE(seen.Box);
        EXPECT_EQ(seen.Box->Title, L"Vlmupdater11");
        EXPECT_FALSE(seen.SecondBox);
        EXPECT_EQ(seen.LogAtBox, kRegisteredRunLog);
        EXPECT_EQ(seen.LogAfter, kRegisteredRunLog);
        EXPECT_TRUE(seen.LogVisibleAfter);
        EXPECT_EQ(seen.OuterHeightAfter, 340);
        ClickButton(main, L"Abbruch");
        EXPECT_EQ(p.WaitExit(), 1u);
    }
}

}  // namespace
