// The directory updater killed (SIGKILL) at moments spread over its run, then
// started again: the next start puts the old installation back before it asks
// anything, and removes what the killed run left behind.
#include <gtest/gtest.h>
#include <algorithm>
#include <chrono>
#include <functional>
#include "ArchiveFiles.h"
#include "Automation.h"
#include "RunLogs.h"
#include "SampleInstall.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

using Clock = std::chrono::steady_clock;

std::wstring Updater() { return BinDir() + L"\\VLMUpdaterP2_11.exe"; }
std::wstring Argument(const SampleInstall& s) { return L"\"" + s.ProgramDir + L"\""; }

// The sample with folders of small files, a hidden file, an empty folder and
// optionally one large file that does not compress; times on even seconds, as
// the archive keeps them.
SampleInstall LayOut(const std::wstring& root, int smallFiles, std::size_t largeBytes = 0) {
    SampleInstall s = LayOutSample(root, Fixture(L"v9_2_0_15"));
    const SYSTEMTIME even{2023, 6, 2, 13, 9, 30, 40, 0};
    for (int i = 0; i < smallFiles; ++i) {
        const std::wstring folder = s.ProgramDir + L"\\Hilfe\\Teil" + std::to_wstring(i / 100);
        if (i % 100 == 0) MakeDirs(folder);
        const std::wstring path = folder + L"\\seite" + std::to_wstring(i) + L".htm";
        WriteBytes(path, "<html>Seite " + std::to_string(i) + std::string(i % 700, 'x') + "</html>");
        SetLastWrite(path, even);
    }
    MakeDirs(s.ProgramDir + L"\\Leer");
    WriteBytes(s.ProgramDir + L"\\versteckt.dat", "versteckt");
    SetLastWrite(s.ProgramDir + L"\\versteckt.dat", even);
    ::SetFileAttributesW((s.ProgramDir + L"\\versteckt.dat").c_str(), FILE_ATTRIBUTE_HIDDEN);
    if (largeBytes) {
        WriteBytes(s.ProgramDir + L"\\gross.bin", RandomBytes(largeBytes, 1));
        SetLastWrite(s.ProgramDir + L"\\gross.bin", even);
    }
    for (const wchar_t* folder : {L"\\Leer", L"\\Hilfe"}) SetLastWrite(s.ProgramDir + folder, even);
    return s;
}

// Entry names as ListTree names the files: without the first component, sorted.
std::vector<std::wstring> AsFiles(std::vector<std::wstring> names) {
    for (auto& n : names) n = EntryFileName(n);
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring TempFolder() {
    wchar_t temp[MAX_PATH + 1]{};
    ::GetTempPathW(MAX_PATH + 1, temp);
    std::wstring t = temp;
    if (!t.empty() && t.back() == L'\\') t.pop_back();
    return t;
}

bool LogHas(HWND main, const std::wstring& line) {
    const auto lines = LogLines(main);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Runs to the end after "&Ja", answering no box.
std::optional<DWORD> RunToTheEnd(Program& p) {
    HWND main = p.MainWindow();
    if (!main) return std::nullopt;
    WaitFor([&] { return ClientSize(main).cy == 134; });
    ClickButton(main, L"Weiter");
    return p.WaitExit(60000);
}

TEST(InterruptedRun, TheNextStartPutsTheOldInstallationBackBeforeItAsks) {
    struct Case {
        const char* Name;
        bool MissingNkk;  // the run ends with exit code 1 and restores the folder
        std::function<bool(const SampleInstall&, HWND, Clock::time_point&)> When;
        bool AnswerYes;
        // The moment is so short that the run may end before the kill lands:
        // then the run's own end is checked instead.
        bool MayEndFirst = false;
    };
    // The moment a condition first holds, plus a delay.
    auto after = [](std::function<bool(const SampleInstall&, HWND)> seen, int ms) {
        return [seen, ms](const SampleInstall& s, HWND main, Clock::time_point& since) {
            if (since == Clock::time_point{} && seen(s, main)) since = Clock::now();
            return since != Clock::time_point{} && Clock::now() - since >= std::chrono::milliseconds(ms);
        };
    };
    auto marked = [](const SampleInstall& s, HWND) { return Exists(s.ProgramDir + L"\\vlmaltinst.lauf"); };
    auto line = [](std::wstring text) {
        return [text](const SampleInstall&, HWND main) { return LogHas(main, text); };
    };
    // The record is written whole under a temporary name and then renamed: the
    // moment is while that file stands, before the run's end.
    auto recording = [](const SampleInstall& s, HWND) { return !NamesIn(s.Root + L"\\Ini", L"~vlm*.tmp").empty(); };
    const std::wstring archived = L"Velmora Sicherung - OK";
    const std::wstring restoring = kRestoreLog[0];
    const Case cases[] = {
        {"while the folder is emptied", false, after(marked, 0), true},
        {"later in the deletion", false, after(marked, 150), false},
        {"first backup", false, after(line(archived), 0), false},
        {"middle of the backups", false, after(line(archived), 900), true},
        {"last backup", false, after(line(L"Sicherung der NKK-Dateien wird erstellt ..."), 0), false},
        {"before the record write", false, after(line(L"Sicherung NKK-Dateien - OK"), 450), false},
        {"while the record is written", false, after(recording, 0), true, true},
        {"start of the restore", true, after(line(restoring), 0), false},
        {"middle of the restore", true, after(line(restoring), 150), true},
        {"end of the restore", true, after(line(restoring), 400), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"kill");
        const SampleInstall s = LayOut(root.Path(), 600);
        if (c.MissingNkk) ::DeleteFileW((s.NkkDir + L"NKK_Noten.CDX").c_str());
        const auto before = TreeSnapshot(s.ProgramDir);
        const auto files = ListTree(s.ProgramDir);
        {
            Program p(Updater(), Argument(s));
            ASSERT_TRUE(p.WaitBox());  // the process runs: its host process can be found
            HostKiller killer(s.ProgramDir);
            Clock::time_point since{};
            // The box was read already: answer it here.
            p.Answer(L"&Ja");
            HWND main = p.MainWindow();
            ASSERT_TRUE(main);
            ASSERT_TRUE(killer.Ready());
            ClickButton(main, L"Weiter");
            bool killed = false;
            while (!p.WaitExit(0)) {
                if (c.When(s, main, since)) {
                    killer.Now();
                    killed = p.WaitExit(10000).has_value();
                    break;
                }
                ::Sleep(2);
            }
            if (!killed && c.MayEndFirst) {
                EXPECT_EQ(p.WaitExit(0), 0u);
                std::printf("%s: the run ended before the kill\n", c.Name);
            } else {
                ASSERT_TRUE(killed) << "the run ended before the moment";
            }
        }
        const bool emptied = !Exists(s.ProgramDir + L"\\Velmora10.EXE");
        const bool marked = Exists(s.ProgramDir + L"\\vlmaltinst.lauf");
        std::printf("%s: killed with the program file %s, %s\n", c.Name, emptied ? "gone" : "in place",
                    marked ? "marked" : "not marked");
        if (!marked) {
            // The run had come to its end before the kill: a completed run is
            // never undone.
            ASSERT_TRUE(emptied);
            Program again(Updater(), Argument(s));
            EXPECT_FALSE(again.WaitBox(3000));
            EXPECT_EQ(again.WaitExit(), 0u);
            EXPECT_EQ(ListTree(s.ProgramDir), (std::vector<std::wstring>{L"VelmStart.ini", L"vlmaltinst.zip"}));
            continue;
        }

        Program again(Updater(), Argument(s));
        auto box = again.WaitBox(60000);
        ASSERT_TRUE(box);
        EXPECT_EQ(box->Title, L"Best\u00e4tigen");
        // Back byte for byte, with times and attributes, before the question.
        EXPECT_EQ(TreeSnapshot(s.ProgramDir), before);
        EXPECT_TRUE(NamesIn(TempFolder(), L"vlmaltinst*.tmp").empty());
        if (!c.AnswerYes) {
            again.Answer(L"&Nein");
            EXPECT_EQ(again.WaitExit(), 1u);
            EXPECT_EQ(TreeSnapshot(s.ProgramDir), before);
            continue;
        }
        again.Answer(L"&Ja");
        const auto exit = RunToTheEnd(again);
        if (c.MissingNkk) {
            EXPECT_EQ(exit, 1u);
            EXPECT_EQ(TreeSnapshot(s.ProgramDir), before);
            continue;
        }
        EXPECT_EQ(exit, 0u);
        EXPECT_EQ(ListTree(s.ProgramDir), (std::vector<std::wstring>{L"VelmStart.ini", L"vlmaltinst.zip"}));
        // The new archive holds the old installation, not an emptied folder.
        const auto names = ArchiveNames(s.ProgramDir + L"\\vlmaltinst.zip");
        ASSERT_TRUE(names);
        EXPECT_EQ(AsFiles(*names), files);
    }
}

TEST(InterruptedRun, KilledWhilePlacingTheArchiveLeavesNothingForTheNextArchive) {
    TempDir root(L"place");
    const SampleInstall s = LayOut(root.Path(), 20, 48u << 20);
    const auto files = ListTree(s.ProgramDir);
    bool caught = false;
    for (int attempt = 0; attempt < 4 && !caught; ++attempt) {
        Program p(Updater(), Argument(s));
        ASSERT_TRUE(p.WaitBox());
        HostKiller killer(s.ProgramDir);
        p.Answer(L"&Ja");
        HWND main = p.MainWindow();
        ASSERT_TRUE(main);
        ASSERT_TRUE(killer.Ready());
        ClickButton(main, L"Weiter");
        while (!p.WaitExit(0)) {
            if (!NamesIn(s.ProgramDir, L"vlmaltinst.zip.*.tmp").empty()) {
                killer.Now();
                p.WaitExit(10000);
                break;
            }
        }
        caught = !NamesIn(s.ProgramDir, L"vlmaltinst.zip.*.tmp").empty();
        if (!caught) {
            // Too late: the run went on; put the installation back for the next try.
            Program undo(Updater(), Argument(s));
            if (undo.WaitBox(60000)) undo.Answer(L"&Nein");
            undo.WaitExit();
        }
    }
    // The archive is written straight into the folder: the kill left it
    // there, partial, and nothing in the temporary folder.
    ASSERT_TRUE(caught) << "the kill never met the archive being written";

    Program again(Updater(), Argument(s));
    ASSERT_TRUE(again.WaitBox(60000));
    EXPECT_TRUE(NamesIn(s.ProgramDir, L"vlmaltinst.zip.*.tmp").empty());
    EXPECT_TRUE(NamesIn(TempFolder(), L"vlmaltinst*.tmp").empty());
    EXPECT_EQ(ListTree(s.ProgramDir), files);
    again.Answer(L"&Ja");
    EXPECT_EQ(RunToTheEnd(again), 0u);
    const auto names = ArchiveNames(s.ProgramDir + L"\\vlmaltinst.zip");
    ASSERT_TRUE(names);
    EXPECT_EQ(AsFiles(*names), files);
    EXPECT_TRUE(NamesIn(TempFolder(), L"vlmaltinst*.tmp").empty());
}

}  // namespace
