// The directory updater's real window moved to monitors of other scales in
// each state it can be in: compact, running and stopped by an error.
#include <gtest/gtest.h>
#include <thread>
#include "Automation.h"
#include "DirectoryUpdater.h"
#include "Fehler.h"
#include "InProcessRun.h"
#include "RunLogs.h"
#include "SampleInstall.h"
#include "ScaleChange.h"
#include "StepWindow.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

const WindowDesign& kDesign = kDirectoryWindow;

// The sample confirmed and shown compact, as FormShow leaves it.
struct CompactWindow {
    TempDir Root{L"scale"};
    SampleInstall Sample = LayOutSample(Root.Path(), Fixture(L"v9_2_0_15"));
    StepWindow<DirectoryUpdater> W;
    EndCatcher Ending;
    CompactWindow() {
        W.R.Session.TargetDir = Sample.ProgramDir;
        // Shown, so that its controls take the focus.
        ::ShowWindow(W.F.Handle, SW_SHOW);
        BoxWatcher confirm({L"&Ja"});
        EXPECT_EQ(Ending.Call([&] { W.R.FormShow(); }), -1);
        confirm.Stop();
    }
};

TEST(DisplayScaleChange, ManifestDeclaresPerMonitorAwarenessWithSystemFallback) {
    // The program's own manifest is this test program's: the platform reads it
    // through the process's activation context.
    struct Case {
        const wchar_t* Namespace;
        const wchar_t* Setting;
        const wchar_t* Value;
    };
    const Case cases[] = {
        {L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness", L"PerMonitorV2, System"},
        {L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", L"true"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.Setting));
        wchar_t value[64]{};
        SIZE_T written = 0;
        ASSERT_TRUE(::QueryActCtxSettingsW(0, nullptr, c.Namespace, c.Setting, value, 64, &written));
        EXPECT_STREQ(value, c.Value);
    }
}

TEST(DisplayScaleChange, CompactWindowLaysOutAgainAndTheRunBuildsOnIt) {
    CompactWindow w;
    TFHaupt& f = w.W.F;
    ::SetFocus(f.BtWeiter);
    ExpectEveryScale(f, kDesign, false);

    // Moved on to 150 %, the run expands the window by the log at that scale.
    const RECT suggested = SuggestedRect(f.Handle, kDesign, 96, 144);
    ::SendMessageW(f.Handle, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    BoxWatcher boxes;
    EXPECT_EQ(w.Ending.Call([&] { w.W.R.Verarbeite(); }), 0);
    EXPECT_TRUE(boxes.Stop().empty());
    ExpectLayout(f.Handle, kDesign, 144, true);
    EXPECT_EQ(LogLines(f.Handle), kDirectoryRunLog);
}

TEST(DisplayScaleChange, RunningWindowLaysOutAgainBetweenSteps) {
    CompactWindow w;
    TFHaupt& f = w.W.F;
    const int runHeight = CompactClientHeight(kDesign, 96) + Px(kLogHeight, 96);
    // Sent from another thread, the change is handled where the run handles
    // messages, between two steps.
    RECT suggested{};
    DWORD_PTR answer = 0;
    bool handled = false;
    std::thread mover([&] {
        if (!WaitFor([&] { return ::IsWindowVisible(f.REd_Ergebnis) && ClientSize(f.Handle).cy == runHeight; })) return;
        suggested = SuggestedRect(f.Handle, kDesign, 96, 144);
        handled = ::SendMessageTimeoutW(f.Handle, WM_DPICHANGED, MAKEWPARAM(144, 144),
                                        reinterpret_cast<LPARAM>(&suggested), SMTO_NORMAL, 10000, &answer) != 0;
    });
    BoxWatcher boxes;
    EXPECT_EQ(w.Ending.Call([&] { w.W.R.Verarbeite(); }), 0);
    mover.join();
    ASSERT_TRUE(handled);
    EXPECT_TRUE(boxes.Stop().empty());
    EXPECT_EQ(LogLines(f.Handle), kDirectoryRunLog);
    EXPECT_EQ(OuterSize(f.Handle).cy, suggested.bottom - suggested.top);
    ExpectLayout(f.Handle, kDesign, 144, true, false);
    ExpectFontsAndGlyphs(f, 144, 24);
}

TEST(DisplayScaleChange, StoppedWindowKeepsItsLogAndFocus) {
    CompactWindow w;
    TFHaupt& f = w.W.F;
    // A folder where the result record goes: the record's write raises an
    // error after the last backup, and the window stays with its log.
    MakeDirs(w.Sample.IniDir + L"VLM_9_Update.ini");
    BoxWatcher boxes;
    EXPECT_THROW(w.W.R.Verarbeite(), EFehler);
    boxes.Stop();
    EXPECT_EQ(LogLines(f.Handle), kDirectoryRunLog);
    ::SetFocus(f.REd_Ergebnis);
    ExpectEveryScale(f, kDesign, true);
}

}  // namespace
