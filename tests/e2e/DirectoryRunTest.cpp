// The directory updater's update run, end to end on a sample installation.
#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <map>
#include "Automation.h"
#include "SampleInstall.h"
#include "RunLogs.h"
#include "TestFiles.h"
#include "ArchiveFiles.h"

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
    std::wstring ActAt;                     // acts once the log has shown this line
    std::function<void(HWND)> Act;
    bool StopAtFirstBox = false;  // leave the process running after the first box
};

// Starts the updater on the sample, confirms, starts the run and follows it,
// answering every box with OK, until the program ends.
Outcome RunUpdate(Program& p, RunOptions options = {}) {
    Outcome out;
    HWND main = ConfirmUpdate(p);
    EXPECT_TRUE(main);
    if (!main) return out;
    EXPECT_EQ(WaitFor([&] { return ClientSize(main).cy == 134; }), true);
    const auto started = std::chrono::steady_clock::now();
    options.Start(main);
    FollowOptions follow;
    follow.PollMs = 20;
    follow.ReadLog = true;
    follow.AfterBox = [&](const BoxSeen&) { return options.StopAtFirstBox; };
    bool acted = false;
    follow.AfterRead = [&](const std::vector<std::wstring>& lines) {
        // The program answers a read only where its run handles messages, and
        // may end meanwhile: keep only what was read from a living window.
        const std::wstring status = StatusText(main);
        const int height = ClientSize(main).cy;
        if (!::IsWindow(main)) return;
        out.Status = status;
        out.ExpandedClientHeight = height;
        if (options.OnFirstLine && !acted) {
            options.OnFirstLine(main);
            acted = true;
        }
        // The log is read only where the run handles messages, so a line
        // may be passed over: act once the line has been added.
        if (options.Act && std::find(lines.begin(), lines.end(), options.ActAt) != lines.end()) {
            options.Act(main);
            options.Act = nullptr;
        }
    };
    const RunSeen seen = FollowRun(p, main, follow);
    out.Exit = seen.Exit;
    out.Boxes = seen.Boxes;
    out.Lines = seen.Log;
    if (options.StopAtFirstBox && !seen.Exit && !seen.Boxes.empty()) {
        ::Sleep(500);
        out.Lines = LogLines(main);
        out.Exit = p.WaitExit(0);
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
        {"empty IniPfad",
         [](const SampleInstall& s) { WriteIni(s.ProgramDir + L"\\VelmStart.ini", L"[Setup]\r\nIniPfad=\r\n"); },
         L"Das Velmora-Inidateiverzeichnis konnte nicht ermittelt werden!" + kAbort},
        {"no main ini", [](const SampleInstall& s) { ::DeleteFileW((s.IniDir + L"velmora.ini").c_str()); },
         L"Die Ini-Datei \"velmora.ini\" wurde nicht gefunden!" + kAbort},
        {"no Datenverzeichnis",
         [](const SampleInstall& s) { WriteIni(s.IniDir + L"velmora.ini", L"[Setup]\r\nAnderes=1\r\n"); },
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
    HANDLE held = ::CreateFileW((s.ProgramDir + L"\\Velmora.chm").c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
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
        size_t Lines;   // complete-log lines up to the failing group's announcement
    };
    const Case cases[] = {{L"Beiblaetter.cdx", 3, 4}, {L"NKK_NOTEN.DBF", 10, 10}};
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
        // The archive step had emptied the program folder: it is put back
        // before the end, and the log says so.
        EXPECT_EQ(out.Lines, WithRestoreLog(FirstLines(kCompleteLog, c.Lines)));
        ExpectBackups(s, c.Copied);
        EXPECT_FALSE(Exists(Record(s)));
    }
}

TEST(DirectoryRun, RecordThatCannotBeWrittenLeavesTheWindowOpen) {
    TempDir root(L"rec");
    const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
    MakeDirs(Record(s));  // a folder where the record file should be
    const auto before = TreeSnapshot(s.ProgramDir);
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

    // The run again did not archive the emptied folder over the first archive:
    // "Abbruch" brings back the installation itself.
    ClickButton(main, L"Abbruch");
    EXPECT_EQ(p.WaitExit(), 1u);
    EXPECT_EQ(TreeSnapshot(s.ProgramDir), before);
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
    EXPECT_FALSE(Exists(s.ProgramDir + L"\\vlmaltinst.zip"));  // ended before the archive step
}

TEST(DirectoryRun, StartedTwiceQuicklyOrByEnterRunsOnce) {
    struct Case {
        const char* Name;
        std::function<void(HWND)> Start;
    };
    const Case cases[] = {
        {"Weiter twice",
         [](HWND main) {
             ClickButton(main, L"Weiter");
             ClickButton(main, L"Weiter");
         }},
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

// ---- An exit with code 1 after the archive step puts the program folder back. ----

// What a program folder may hold beyond the sample's files: an empty folder
// tree, a hidden folder, a hidden file; times on even seconds, as the archive
// keeps them.
void AddProgramExtras(const SampleInstall& s, bool olderArchive) {
    const std::wstring t = s.ProgramDir;
    MakeDirs(t + L"\\Leer\\Tiefer");
    MakeDirs(t + L"\\Cache");
    WriteBytes(t + L"\\Cache\\x.tmp", "cache");
    WriteBytes(t + L"\\versteckt.dat", "versteckt");
    if (olderArchive) WriteBytes(t + L"\\vlmaltinst.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    SYSTEMTIME when{};
    when.wYear = 2022;
    when.wMonth = 5;
    when.wDay = 3;
    for (const wchar_t* item :
         {L"\\Cache\\x.tmp", L"\\versteckt.dat", L"\\vlmaltinst.zip", L"\\Leer\\Tiefer", L"\\Leer", L"\\Cache"}) {
        when.wHour = static_cast<WORD>(when.wHour + 1);
        if (Exists(t + item)) SetLastWrite(t + item, when);
    }
    ::SetFileAttributesW((t + L"\\Cache").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ::SetFileAttributesW((t + L"\\versteckt.dat").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
}

TEST(DirectoryRun, ExitOneAfterTheArchiveStepLeavesTheProgramFolderAsItWas) {
    struct Case {
        const char* Name;
        std::function<void(const SampleInstall&)> Break;
        std::wstring ActAt;  // where the test acts, if it does
        std::function<void(HWND)> Act;
        size_t Lines;  // complete-log lines seen before the restore; 0: any after the archive step
        bool OlderArchive = false;
    };
    auto abbruch = [](HWND main) { ClickButton(main, L"Abbruch"); };
    auto esc = [](HWND main) { PressKey(main, VK_ESCAPE); };
    auto none = [](const SampleInstall&) {};
    const Case cases[] = {
        {"NKK file missing", [](const SampleInstall& s) { RemoveDataFile(s, L"NKK_Faecher.CDX"); }, L"", nullptr, 10},
        {"form catalogue missing", [](const SampleInstall& s) { RemoveDataFile(s, L"Formulare.dbf"); }, L"", nullptr,
         4},
        {"older archive in the folder", [](const SampleInstall& s) { RemoveDataFile(s, L"Formulare.dbf"); }, L"",
         nullptr, 4, true},
        // Clicked while the archive step's line pauses: dispatched at the next
        // point where the run handles messages, after the folder was emptied.
        {"Abbruch after the archive step", none, L"Velmora Sicherung - OK", abbruch, 0},
        {"Esc after the archive step", none, L"Velmora Sicherung - OK", esc, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"undo");
        const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
        AddProgramExtras(s, c.OlderArchive);
        c.Break(s);
        const auto before = TreeSnapshot(s.ProgramDir);
        Program p(Updater(), Argument(s));
        RunOptions options;
        options.ActAt = c.ActAt;
        options.Act = c.Act;
        const Outcome out = RunUpdate(p, options);
        EXPECT_EQ(out.Exit, 1u);
        EXPECT_TRUE(out.Boxes.empty());
        if (c.Lines) {
            EXPECT_EQ(out.Lines, WithRestoreLog(FirstLines(kCompleteLog, c.Lines)));
        } else {
            // The click takes effect at the next point where the run handles
            // messages, which depends on when it was read.
            ASSERT_GE(out.Lines.size(), 3u + kRestoreLog.size());
            const size_t head = out.Lines.size() - kRestoreLog.size();
            EXPECT_EQ(out.Lines, WithRestoreLog(FirstLines(kCompleteLog, head)));
        }
        EXPECT_EQ(TreeSnapshot(s.ProgramDir), before);
        EXPECT_FALSE(Exists(Record(s)));
    }
}

TEST(DirectoryRun, AbbruchAfterAFailedRecordWriteRestoresTheFolder) {
    TempDir root(L"recundo");
    const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
    AddProgramExtras(s, false);
    const auto before = TreeSnapshot(s.ProgramDir);
    MakeDirs(Record(s));  // a folder where the record file should be
    Program p(Updater(), Argument(s));
    RunOptions options;
    options.StopAtFirstBox = true;
    const Outcome out = RunUpdate(p, options);
    ASSERT_FALSE(out.Exit);
    ASSERT_EQ(out.Boxes.size(), 1u);
    HWND main = p.MainWindow();
    ASSERT_TRUE(main);
    ClickButton(main, L"Abbruch");
    FollowOptions follow;
    follow.PollMs = 20;
    follow.ReadLog = true;
    const RunSeen end = FollowRun(p, main, follow);
    EXPECT_EQ(end.Exit, 1u);
    EXPECT_TRUE(end.Boxes.empty());
    EXPECT_EQ(end.Log, WithRestoreLog(kCompleteLog));
    EXPECT_EQ(TreeSnapshot(s.ProgramDir), before);
}

TEST(DirectoryRun, ARestoreThatCannotFinishKeepsTheCompleteArchive) {
    TempDir root(L"stuck");
    const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
    AddProgramExtras(s, false);
    RemoveDataFile(s, L"NKK_Noten.CDX");
    const auto files = FilesIn(s.ProgramDir);
    const std::wstring chm = s.ProgramDir + L"\\Velmora.chm";
    HANDLE held = INVALID_HANDLE_VALUE;
    Program p(Updater(), Argument(s));
    RunOptions options;
    // Once the folder is emptied another program puts a file of its own where
    // one of the archive's files belongs, and keeps it open. The run fails at
    // its last backup, several pauses later.
    options.ActAt = L"Velmora Sicherung - OK";
    options.Act = [&](HWND) {
        WriteBytes(chm, "another program's file");
        held = ::CreateFileW(chm.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    };
    const Outcome out = RunUpdate(p, options);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ::CloseHandle(held);
    EXPECT_EQ(out.Exit, 1u);
    EXPECT_EQ(out.Lines, WithRestoreLog(FirstLines(kCompleteLog, 10), false));
    EXPECT_EQ(ReadBytes(chm), "another program's file");
    EXPECT_EQ(FilesInArchive(s.ProgramDir + L"\\vlmaltinst.zip"), files);
    // Everything else came back, and the mark stays for the next start.
    auto restored = FilesIn(s.ProgramDir);
    restored.erase(L"vlmaltinst.zip");
    EXPECT_EQ(restored.erase(L"vlmaltinst.lauf"), 1u);
    restored[L"Velmora.chm"] = files.at(L"Velmora.chm");
    EXPECT_EQ(restored, files);

    // Once the other program's file is gone, the next start finishes the
    // restore before it asks anything.
    ASSERT_TRUE(::DeleteFileW(chm.c_str()));
    Program again(Updater(), Argument(s));
    ASSERT_TRUE(again.WaitBox());
    EXPECT_EQ(FilesIn(s.ProgramDir), files);
    again.Answer(L"&Nein");
    EXPECT_EQ(again.WaitExit(), 1u);
    EXPECT_EQ(FilesIn(s.ProgramDir), files);
}

TEST(DirectoryRun, ClicksAndClosesDuringTheRestoreChangeNothing) {
    // Sent as well as posted: a sent "Abbruch" or close reaches the window
    // wherever it answers other programs, also during the restore.
    TempDir root(L"spam");
    const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
    AddProgramExtras(s, false);
    RemoveDataFile(s, L"NKK_Noten.CDX");
    const auto before = TreeSnapshot(s.ProgramDir);
    Program p(Updater(), Argument(s));
    std::atomic<bool> stop{false};
    std::thread spam;
    RunOptions options;
    options.ActAt = L"Velmora Sicherung - OK";
    options.Act = [&](HWND main) {
        HWND abbruch = ::FindWindowExW(main, nullptr, L"Button", L"Abbruch");
        HWND weiter = ::FindWindowExW(main, nullptr, L"Button", L"Weiter");
        spam = std::thread([&stop, main, abbruch, weiter] {
            for (unsigned i = 0; !stop; ++i) {
                DWORD_PTR ignored;
                // Mostly "Abbruch": the one that would end the process.
                if (i % 4 == 3)
                    ::SendMessageTimeoutW(main, WM_CLOSE, 0, 0, SMTO_NORMAL, 50, &ignored);
                else
                    ::SendMessageTimeoutW(main, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                                          reinterpret_cast<LPARAM>(abbruch), SMTO_NORMAL, 50, &ignored);
                ::PostMessageW(abbruch, BM_CLICK, 0, 0);
                ::PostMessageW(weiter, BM_CLICK, 0, 0);
            }
        });
    };
    const Outcome out = RunUpdate(p, options);
    stop = true;
    if (spam.joinable()) spam.join();
    EXPECT_EQ(out.Exit, 1u);
    ASSERT_GE(out.Lines.size(), 3u + kRestoreLog.size());
    EXPECT_EQ(out.Lines, WithRestoreLog(FirstLines(kCompleteLog, out.Lines.size() - kRestoreLog.size())));
    EXPECT_EQ(TreeSnapshot(s.ProgramDir), before);
}
