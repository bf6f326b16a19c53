// The directory updater's start-up and run inside the test process, so that the
// log can be read where the run ends.
#include <gtest/gtest.h>
#include <functional>
#include "DirectoryUpdater.h"
#include "StepWindow.h"
#include "Automation.h"
#include "InProcessRun.h"
#include "SampleInstall.h"
#include "RunLogs.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

const std::vector<std::wstring>& kCompleteLog = kDirectoryRunLog;
const std::wstring& kAbort = kAbortLine;

TEST(Verarbeite, EndsWhereTheFirstGuardingStepFails) {
    struct Case {
        const char* Name;
        std::function<void(const SampleInstall&)> Prepare;
        int Exit;
        std::vector<std::wstring> Boxes;  // texts, after the confirmation
        std::vector<std::wstring> Log;
        std::wstring Status;
    };
    const std::wstring nkkStatus = L"Sicherung der NKK-Dateien wird erstellt ...";
    // clang-format off
    const Case cases[] = {
        {"complete", [](const SampleInstall&) {}, 0, {}, kCompleteLog, nkkStatus},
        {"empty IniPfad",
         [](const SampleInstall& s) { WriteIni(s.ProgramDir + L"\\VelmStart.ini", L"[Setup]\r\nIniPfad=\r\n"); }, 1,
         {L"Das Velmora-Inidateiverzeichnis konnte nicht ermittelt werden!" + kAbort},
         {L"Velmora-Inidateiverzeichnis - Fehler"}, L""},
        {"no main ini", [](const SampleInstall& s) { ::DeleteFileW((s.IniDir + L"velmora.ini").c_str()); }, 1,
         {L"Die Ini-Datei \"velmora.ini\" wurde nicht gefunden!" + kAbort}, {L"velmora.ini nicht gefunden - Fehler"},
         L""},
        {"no Datenverzeichnis",
         [](const SampleInstall& s) { WriteIni(s.IniDir + L"velmora.ini", L"[Setup]\r\nDatenverzeichnis=\r\n"); }, 1,
         {L"Das Velmora - Datenverzeichnis konnte nicht ermittelt werden!" + kAbort},
         {L"Velmora-Datenverzeichnis - Fehler"}, L""},
        {"user logged in",
         [](const SampleInstall& s) { WriteIni(s.DataDir + L"VelmUser.ini", L"[Benutzer]\r\nUserZahl=1\r\n"); }, 1,
         {L"Es sind noch Anwender in Velmora angemeldet!" + kAbort}, {}, L""},
        {"form catalogue missing", [](const SampleInstall& s) { RemoveDataFile(s, L"Deckblaetter.dbf"); }, 1, {},
         WithRestoreLog(FirstLines(kCompleteLog, 4)), L"Sicherung der Formularkataloge wird erstellt ..."},
        {"formulation aids missing", [](const SampleInstall& s) { RemoveTree(s.AidsDir); }, 1, {}, WithRestoreLog(FirstLines(kCompleteLog, 6)),
         L"Sicherung der Formulierungshilfen wird erstellt ..."},
        {"subject canon missing", [](const SampleInstall& s) { RemoveDataFile(s, L"FaecherKanon.cdx"); }, 1, {},
         WithRestoreLog(FirstLines(kCompleteLog, 8)), L"Sicherung des F\u00e4cherkanons wird erstellt ..."},
        {"NKK file missing", [](const SampleInstall& s) { RemoveDataFile(s, L"NKK_Faecher.CDX"); }, 1, {}, WithRestoreLog(FirstLines(kCompleteLog, 10)),
         nkkStatus},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"verarb");
        const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
        c.Prepare(s);
        const auto before = TreeSnapshot(s.ProgramDir);
        StepWindow<DirectoryUpdater> window;
        TFHaupt& f = window.F;
        UpdateRun& run = window.R;
        run.Session.TargetDir = s.ProgramDir;
        EndCatcher ending;
        BoxWatcher watcher({L"&Ja"});
        EXPECT_EQ(ending.Call([&] { run.FormShow(); }), -1);
        EXPECT_EQ(f.CompactClientHeight(), 134);
        EXPECT_EQ(ending.Call([&] { run.Verarbeite(); }), c.Exit);
        auto boxes = watcher.Stop();
        ASSERT_FALSE(boxes.empty());
        boxes.erase(boxes.begin());  // the confirmation
        std::vector<std::wstring> texts;
        for (const auto& box : boxes) texts.push_back(box.Text);
        EXPECT_EQ(texts, c.Boxes);
        EXPECT_EQ(LogLines(f.Handle), c.Log);
        EXPECT_EQ(StatusText(f.Handle), c.Status);
        EXPECT_EQ(ClientSize(f.Handle).cy, 134 + 180);
        EXPECT_EQ(Exists(s.IniDir + L"VLM_9_Update.ini"), c.Exit == 0);
        // Exit code 1 leaves the program folder as it was, whether the run got
        // to the archive step or not.
        if (c.Exit == 1) {
            EXPECT_EQ(TreeSnapshot(s.ProgramDir), before);
        }
    }
}

}  // namespace
