// The registered-installation updater's run inside the test process, so that the
// log can be read where the run ends.
#include <gtest/gtest.h>
#include <functional>
#include "RegisteredUpdater.h"
#include "StepWindow.h"
#include "Automation.h"
#include "InProcessRun.h"
#include "SampleInstall.h"
#include "RunLogs.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

const std::vector<std::wstring>& kCompleteLog = kRegisteredRunLog;
const std::wstring& kAbort = kAbortLine;

TEST(RegisteredVerarbeite, EndsWhereTheFirstStepFails) {
    struct Case {
        const char* Name;
        const wchar_t* Fixture;
        std::function<void(const SampleInstall&, RegistryValue&)> Prepare;
        int Exit;
        std::vector<std::wstring> Boxes;
        std::vector<std::wstring> Log;
        std::wstring Status;
    };
    // clang-format off
    const Case cases[] = {
        {"complete", L"v10_0_0_0", [](const SampleInstall&, RegistryValue&) {}, 0, {}, kCompleteLog,
         L"Sicherung der NKK-Dateien wird erstellt ..."},
        {"not registered", L"v10_0_0_0", [](const SampleInstall&, RegistryValue& r) { r.Delete(); }, 1,
         {L"Das Installationsverzeichnis von Velmora konnte nicht ermittelt werden!" + kAbort}, {}, L""},
        {"version 9", L"v9_4_0_12", [](const SampleInstall&, RegistryValue&) {}, 1,
         {L"F\u00fcr ein Update muss die Version 10 installiert sein!\n"
          L"Bitte f\u00fchren Sie zuerst ein Update auf diese Version durch!\nDieses Update wird abgebrochen!"},
         FirstLines(kCompleteLog, 1), L""},
        {"user logged in", L"v10_1_0_3",
         [](const SampleInstall& s, RegistryValue&) {
             WriteIni(s.DataDir + L"VelmUser.ini", L"[Benutzer]\r\nUserZahl=$1\r\n");
         },
         1, {L"Es sind noch Anwender in Velmora angemeldet!" + kAbort}, FirstLines(kCompleteLog, 2), L""},
        {"NKK file missing", L"v10_0_0_0",
         [](const SampleInstall& s, RegistryValue&) { ::DeleteFileW((s.NkkDir + L"NKK_Noten.CDX").c_str()); }, 1, {},
         FirstLines(kCompleteLog, 10), L"Sicherung der NKK-Dateien wird erstellt ..."},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"regrun");
        const auto s = LayOutSample(root.Path(), Fixture(c.Fixture));
        RegistryValue registration(HKEY_LOCAL_MACHINE, kInstallPropertiesKey, L"InstallLocation", kInstallerView);
        registration.SetString(s.ProgramDir + L"\\");
        c.Prepare(s, registration);

        StepWindow<RegisteredUpdater> window;
        TFHaupt& f = window.F;
        UpdateRun& run = window.R;
        EndCatcher ending;
        BoxWatcher watcher;
        EXPECT_EQ(ending.Call([&] { run.FormShow(); }), -1);
        EXPECT_EQ(OuterSize(f.Handle).cy, 170);
        EXPECT_EQ(ending.Call([&] { run.Verarbeite(); }), c.Exit);
        std::vector<std::wstring> texts;
        for (const auto& box : watcher.Stop()) texts.push_back(box.Text);
        EXPECT_EQ(texts, c.Boxes);
        EXPECT_EQ(LogLines(f.Handle), c.Log);
        EXPECT_EQ(StatusText(f.Handle), c.Status);
        EXPECT_EQ(OuterSize(f.Handle).cy, 340);
        EXPECT_EQ(Exists(s.IniDir + L"VLM_10_Update.ini"), c.Exit == 0);
    }
}

}  // namespace
