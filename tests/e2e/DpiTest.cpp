// Both real programs at the display scales in common use, set in the test
// prefix before each start: every size and the log's font scale with the
// dots per inch, and a complete run ends as it does at 96.
// The scale holds for every program the prefix starts meanwhile: the
// registry lock of this test program (tests/CMakeLists.txt) keeps the other
// tests' programs from starting until it is put back.
#include <gtest/gtest.h>
#include "Automation.h"
#include "RunLogs.h"
#include "SampleInstall.h"
#include "TestFiles.h"
#include "WindowLayout.h"

using namespace vlmtest;

namespace {

// The prefix's display scale, which a program reads as it starts; put back
// when the object goes.
struct PrefixDpi {
    RegistryValue Value{HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels"};
    explicit PrefixDpi(UINT dpi) { Value.SetDword(dpi); }
};

// Whether the window has the height of the layout: the layout is done.
bool LayoutHeight(HWND main, const WindowDesign& d, UINT dpi, bool withLog) {
    if (d.CompactOuterHeight) return OuterSize(main).cy == Px(withLog ? d.RunOuterHeight : d.CompactOuterHeight, dpi);
    return ClientSize(main).cy == CompactClientHeight(d, dpi) + (withLog ? Px(kLogHeight, dpi) : 0);
}

// The compact window as FormShow leaves it, with the log's font; then the
// run from "Weiter" on, its layout checked once the window shows the log.
RunSeen CheckedRun(Program& p, HWND main, const WindowDesign& design, UINT dpi) {
    EXPECT_TRUE(WaitFor([&] { return LayoutHeight(main, design, dpi, false); }));
    ExpectLayout(main, design, dpi, false);
    EXPECT_EQ(LogFontPixels(main, dpi), Px(11, dpi));
    ClickButton(main, L"Weiter");
    EXPECT_TRUE(WaitFor([&] { return LogVisible(main) && LayoutHeight(main, design, dpi, true); }));
    ExpectLayout(main, design, dpi, true);
    FollowOptions follow;
    follow.PollMs = 20;
    follow.ReadLog = true;
    return FollowRun(p, main, follow);
}

TEST(DisplayScale, BothProgramsScaleEverySizeAndRunAsAt96) {
    for (const UINT dpi : {96u, 120u, 144u, 192u}) {
        SCOPED_TRACE(testing::Message() << dpi << " dpi");
        PrefixDpi scale(dpi);
        {
            SCOPED_TRACE("directory updater");
            TempDir root(L"dpi");
            const auto s = LayOutSample(root.Path(), Fixture(L"v9_4_0_12"));
            Program p(BinDir() + L"\\VLMUpdaterP2_11.exe", L"\"" + s.ProgramDir + L"\"");
            HWND main = ConfirmUpdate(p);
            ASSERT_TRUE(main);
            const RunSeen seen = CheckedRun(p, main, kDirectoryWindow, dpi);
            EXPECT_EQ(seen.Exit, 0u);
            EXPECT_EQ(seen.Log, kDirectoryRunLog);
            EXPECT_TRUE(seen.Boxes.empty());
        }
        {
            SCOPED_TRACE("registered updater");
            TempDir root(L"dpireg");
            const auto s = LayOutSample(root.Path(), Fixture(L"v10_0_0_0"));
            RegistryValue registration(HKEY_LOCAL_MACHINE, kInstallPropertiesKey, L"InstallLocation", kInstallerView);
            registration.SetString(s.ProgramDir + L"\\");
            Program p(BinDir() + L"\\VLMUpdater11.exe", L"");
            HWND main = p.MainWindow();
            ASSERT_TRUE(main);
            const RunSeen seen = CheckedRun(p, main, kRegisteredWindow, dpi);
            EXPECT_EQ(seen.Exit, 0u);
            EXPECT_EQ(seen.Log, kRegisteredRunLog);
            EXPECT_TRUE(seen.Boxes.empty());
        }
    }
}

}  // namespace
