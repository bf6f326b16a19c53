// The directory updater's update run, end to end on a sample installation.
#include <gtest/gtest.h>
#include <algorithm>
#include <chrono>
#include <functional>
#include "Automation.h"
#include "SampleInstall.h"
#include "RunLogs.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

const std::vector<std::wstring>& kCompleteLog = kDirectoryRunLog;
const std::wstring& kAbort = kAbortLine;

struct Outcome {
    std::optional<DWORD> Exit;
    std::vector<std::wstring> Lines;  // the log as last seen
    std::wstring Status;
    std::vector<BoxSeen> Boxes;
    int ExpandedClientHeight = 0;
    double Seconds = 0;
};

struct RunOptions {
    std::function<void(HWND)> Start = [](HWND main) { ClickButton(main, L"Weiter"); };
    std::function<void(HWND)> OnFirstLine;  // acts once the log shows its first line
    bool StopAtFirstBox = false;            // leave the process running after the first box
};

// Starts the updater on the sample, confirms, starts the run and follows it,
// answering every box with OK, until the program ends.
Outcome RunUpdate(Program& p, RunOptions options = {}) {
    Outcome out;
    auto confirm = p.WaitBox();
    EXPECT_TRUE(confirm);
    if (!confirm) return out;
    p.Answer(L"&Ja");
    HWND main = p.MainWindow();
    EXPECT_TRUE(main);
    if (!main) return out;
    EXPECT_EQ(WaitFor([&] { return ClientSize(main).cy == 134; }), true);
    const auto started = std::chrono::steady_clock::now();
    options.Start(main);
    bool acted = false;
    while (true) {
        if ((out.Exit = p.WaitExit(20))) break;
        if (FindBox(p.Pid())) {
            if (auto box = p.WaitBox(1000)) {
                out.Boxes.push_back(*box);
                p.Answer(L"OK");
                if (options.StopAtFirstBox) {
                    ::Sleep(500);
                    out.Lines = LogLines(main);
                    out.Exit = p.WaitExit(0);
                    break;
                }
            }
            continue;
        }
        // The program answers a read only where its run handles messages, and
        // may end meanwhile: keep only what was read from a living window.
        auto lines = LogLines(main);
        if (!lines.empty()) {
            out.Lines = lines;
            const std::wstring status = StatusText(main);
            const int height = ClientSize(main).cy;
            if (!::IsWindow(main)) continue;
            out.Status = status;
            out.ExpandedClientHeight = height;
            if (options.OnFirstLine && !acted) {
                options.OnFirstLine(main);
                acted = true;
            }
        }
    }
    out.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return out;
}

std::wstring Updater() { return BinDir() + L"\\VLMUpdaterP2_11.exe"; }
std::wstring Argument(const SampleInstall& s) { return L"\"" + s.ProgramDir + L"\""; }
std::wstring Record(const SampleInstall& s) { return s.IniDir + L"VLM_9_Update.ini"; }

void ExpectBackups(const SampleInstall& s, size_t count) {
    const auto& files = DataFiles();
    for (size_t i = 0; i < files.size(); ++i) {
        const std::wstring folder = s.*files[i].Folder;
        SCOPED_TRACE(files[i].Name);
        const auto backup = ReadBytes(folder + L"VLM_Bkp_" + files[i].Name);
        if (i < count) {
            ASSERT_TRUE(backup);
            EXPECT_EQ(*backup, ReadBytes(folder + files[i].Name).value());
        } else {
            EXPECT_FALSE(backup);
        }
    }
}

TEST(DirectoryRun, EveryStepSucceeds) {
    TempDir root(L"run");
    const auto s = LayOutSample(root.Path(), Fixture(L"v9_4_0_12"));
    Program p(Updater(), Argument(s));
    const Outcome out = RunUpdate(p);
    EXPECT_EQ(out.Exit, 0u);
    EXPECT_EQ(out.Lines, kCompleteLog);
    EXPECT_EQ(out.Status, L"Sicherung der NKK-Dateien wird erstellt ...");
    EXPECT_TRUE(out.Boxes.empty());
    EXPECT_EQ(out.ExpandedClientHeight, 134 + 180);
    EXPECT_GE(out.Seconds, 3.0);  // six paused lines

    EXPECT_EQ(ReadProfile(Record(s), L"Update", L"Erfolg"), L"0");
    EXPECT_EQ(ReadProfile(Record(s), L"Update", L"Vorversion"), L"9.4.0.12");
    EXPECT_NE(ReadProfile(Record(s), L"Update", L"Datum"), L"");
    EXPECT_NE(ReadProfile(Record(s), L"Update", L"Uhrzeit"), L"");

    EXPECT_EQ(ListTree(s.ProgramDir), (std::vector<std::wstring>{L"VelmStart.ini", L"vlmaltinst.zip"}));
    ExpectBackups(s, DataFiles().size());
    EXPECT_EQ(ListTree(s.BaseDir + L"VLM_Bkp_Formulierungen"),
              (std::vector<std::wstring>{L"Arbeitsverhalten.txt", L"Zeugnisbemerkungen.txt"}));
}

TEST(DirectoryRun, DiscoveryFailuresEndWithOne) {
    struct Case {
        const char* Name;
        std::function<void(const SampleInstall&)> Break;
        std::wstring Box;
    };
    const Case cases[] = {
        {"empty IniPfad", [](const SampleInstall& s) { WriteIni(s.ProgramDir + L"\\VelmStart.ini", L"[Setup]\r\nIniPfad=\r\n"); },
         L"Das Velmora-Inidateiverzeichnis konnte nicht ermittelt werden!" + kAbort},
        {"no main ini", [](const SampleInstall& s) { ::DeleteFileW((s.IniDir + L"velmora.ini").c_str()); },
         L"Die Ini-Datei \"velmora.ini\" wurde nicht gefunden!" + kAbort},
        {"no Datenverzeichnis", [](const SampleInstall& s) { WriteIni(s.IniDir + L"velmora.ini", L"[Setup]\r\nAnderes=1\r\n"); },
         L"Das Velmora - Datenverzeichnis konnte nicht ermittelt werden!" + kAbort},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"disc");
        const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
        c.Break(s);
        Program p(Updater(), Argument(s));
        const Outcome out = RunUpdate(p);
        EXPECT_EQ(out.Exit, 1u);
        ASSERT_EQ(out.Boxes.size(), 1u);
        EXPECT_EQ(out.Boxes[0].Title, L"Fehler");
        EXPECT_EQ(out.Boxes[0].Text, c.Box);
        // Its log line follows the box right before the program ends, when no
        // other program can read the log any more; the step tests check it.
        EXPECT_FALSE(Exists(Record(s)));
        EXPECT_TRUE(Exists(s.ProgramDir + L"\\Velmora10.EXE"));
    }
}

TEST(DirectoryRun, NoStartIniAndNoCommonAppData) {
    TempDir root(L"cad");
    const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
    ::DeleteFileW((s.ProgramDir + L"\\VelmStart.ini").c_str());
    RegistryValue common(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                         L"Common AppData");
    common.Delete();
    Program p(Updater(), Argument(s));
    const Outcome out = RunUpdate(p);
    EXPECT_EQ(out.Exit, 1u);
    ASSERT_EQ(out.Boxes.size(), 1u);
    EXPECT_EQ(out.Boxes[0].Text,
              L"Der Standard-Ordner f\u00fcr Anwendungsdaten konnte nicht ermittelt werden!" + kAbort);
    EXPECT_FALSE(Exists(Record(s)));
}

TEST(DirectoryRun, UserLoggedInEndsWithOneAndAnEmptyLog) {
    TempDir root(L"user");
    const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"), 2);
    Program p(Updater(), Argument(s));
    const Outcome out = RunUpdate(p);
    EXPECT_EQ(out.Exit, 1u);
    ASSERT_EQ(out.Boxes.size(), 1u);
    EXPECT_EQ(out.Boxes[0].Text, L"Es sind noch Anwender in Velmora angemeldet!" + kAbort);
    EXPECT_TRUE(out.Lines.empty());
    EXPECT_FALSE(Exists(Record(s)));
    EXPECT_FALSE(Exists(s.ProgramDir + L"\\vlmaltinst.zip"));
}

TEST(DirectoryRun, FailedArchiveIsLoggedAndTheBackupsStillRun) {
    TempDir root(L"arch");
    const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
    const auto before = ListTree(s.ProgramDir);
    // Another program writes to a file of the program folder.
    HANDLE held = ::CreateFileW((s.ProgramDir + L"\\Velmora.chm").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Program p(Updater(), Argument(s));
    const Outcome out = RunUpdate(p);
    ::CloseHandle(held);
    EXPECT_EQ(out.Exit, 0u);
    auto expected = kCompleteLog;
    expected[2] = L"Fehler bei der Sicherung des Alt-Programms";
    EXPECT_EQ(out.Lines, expected);
    EXPECT_EQ(ListTree(s.ProgramDir), before);
    ExpectBackups(s, DataFiles().size());
    EXPECT_EQ(ReadProfile(Record(s), L"Update", L"Erfolg"), L"0");
}

TEST(DirectoryRun, MissingDataFileEndsWithOneWithoutABox) {
    struct Case {
        const wchar_t* Missing;
        size_t Copied;  // rows of the backup table copied before the failure
        size_t LinesBefore;  // complete-log lines before the failing group's announcement
    };
    const Case cases[] = {{L"Beiblaetter.cdx", 3, 3}, {L"NKK_NOTEN.DBF", 10, 9}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Missing);
        TempDir root(L"miss");
        const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
        for (const auto& f : DataFiles())
            if (std::wstring(f.Name) == c.Missing) ::DeleteFileW((s.*f.Folder + f.Name).c_str());
        Program p(Updater(), Argument(s));
        const Outcome out = RunUpdate(p);
        EXPECT_EQ(out.Exit, 1u);
        EXPECT_TRUE(out.Boxes.empty());
        // The announcement is added right before the end, when no other program
        // can read the log any more (the step tests check it); what was seen is
        // the complete log up to an earlier line.
        ASSERT_FALSE(out.Lines.empty());
        ASSERT_LE(out.Lines.size(), c.LinesBefore);
        EXPECT_TRUE(std::equal(out.Lines.begin(), out.Lines.end(), kCompleteLog.begin()));
        ExpectBackups(s, c.Copied);
        EXPECT_TRUE(Exists(s.ProgramDir + L"\\vlmaltinst.zip"));  // what was made before stays
        EXPECT_FALSE(Exists(Record(s)));
    }
}

TEST(DirectoryRun, RecordThatCannotBeWrittenLeavesTheWindowOpen) {
    TempDir root(L"rec");
    const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
    MakeDirs(Record(s));  // a folder where the record file should be
    Program p(Updater(), Argument(s));
    RunOptions options;
    options.StopAtFirstBox = true;
    const Outcome out = RunUpdate(p, options);
    EXPECT_FALSE(out.Exit);
    ASSERT_EQ(out.Boxes.size(), 1u);
    EXPECT_EQ(out.Boxes[0].Title, L"Vlmupdaterp2_11");
    EXPECT_EQ(out.Boxes[0].Text, L"In " + Record(s) + L" kann nicht geschrieben werden.");
    EXPECT_EQ(out.Boxes[0].Buttons, std::vector<std::wstring>{L"OK"});
    EXPECT_EQ(out.Lines, kCompleteLog);
    HWND main = p.MainWindow();
    ASSERT_TRUE(main);
    EXPECT_TRUE(::IsWindowEnabled(main));

    // "Weiter" starts the run again from its first step; the log keeps its lines.
    ClickButton(main, L"Weiter");
    auto again = p.WaitBox(20000);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Text, out.Boxes[0].Text);
    p.Answer(L"OK");
    auto twice = kCompleteLog;
    twice.insert(twice.end(), kCompleteLog.begin(), kCompleteLog.end());
    EXPECT_EQ(LogLines(main), twice);

    ClickButton(main, L"Abbruch");
    EXPECT_EQ(p.WaitExit(), 1u);
}

TEST(DirectoryRun, AbbruchDuringTheRunEndsWithOne) {
    TempDir root(L"abort");
    const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
    Program p(Updater(), Argument(s));
    RunOptions options;
    options.OnFirstLine = [](HWND main) { ClickButton(main, L"Abbruch"); };
    const Outcome out = RunUpdate(p, options);
    EXPECT_EQ(out.Exit, 1u);
    EXPECT_LT(out.Lines.size(), kCompleteLog.size());
    EXPECT_FALSE(Exists(Record(s)));
    EXPECT_FALSE(Exists(s.NkkDir + L"VLM_Bkp_NKK_Noten.CDX"));
}

TEST(DirectoryRun, StartedTwiceQuicklyOrByEnterRunsOnce) {
    struct Case {
        const char* Name;
        std::function<void(HWND)> Start;
    };
    const Case cases[] = {
        {"Weiter twice", [](HWND main) { ClickButton(main, L"Weiter"); ClickButton(main, L"Weiter"); }},
        {"Enter", [](HWND main) { PressKey(main, VK_RETURN); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"twice");
        const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
        Program p(Updater(), Argument(s));
        RunOptions options;
        options.Start = c.Start;
        const Outcome out = RunUpdate(p, options);
        EXPECT_EQ(out.Exit, 0u);
        EXPECT_EQ(out.Lines, kCompleteLog);
    }
}

}  // namespace
