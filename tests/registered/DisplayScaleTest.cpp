// The registered updater's real window moved to monitors of other scales:
// its outer heights follow the scale in the compact state and after an error
// stopped the run.
#include <gtest/gtest.h>
#include "Automation.h"
#include "Fehler.h"
#include "InProcessRun.h"
#include "RegisteredUpdater.h"
#include "RunLogs.h"
#include "SampleInstall.h"
#include "ScaleChange.h"
#include "StepWindow.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

TEST(DisplayScaleChange, CompactAndStoppedWindowsLayOutAgain) {
    TempDir root(L"regscale");
    const auto s = LayOutSample(root.Path(), Fixture(L"v10_0_0_0"));
    RegistryValue registration(HKEY_LOCAL_MACHINE, kInstallPropertiesKey, L"InstallLocation", kInstallerView);
    registration.SetString(s.ProgramDir + L"\\");
    StepWindow<RegisteredUpdater> window;
    TFHaupt& f = window.F;
    EndCatcher ending;
    ::ShowWindow(f.Handle, SW_SHOW);  // so that its controls take the focus
    EXPECT_EQ(ending.Call([&] { window.R.FormShow(); }), -1);
    ::SetFocus(f.BtAbbruch);
    {
        SCOPED_TRACE("compact");
        ExpectEveryScale(f, kRegisteredWindow, false);
    }
    // A folder where the result record goes stops the run after the backups.
    MakeDirs(s.IniDir + L"VLM_10_Update.ini");
    BoxWatcher boxes;
    EXPECT_THROW(window.R.Verarbeite(), EFehler);
    boxes.Stop();
    EXPECT_EQ(LogLines(f.Handle), kRegisteredRunLog);
    ::SetFocus(f.REd_Ergebnis);
    {
        SCOPED_TRACE("stopped");
        ExpectEveryScale(f, kRegisteredWindow, true);
    }
}

}  // namespace
