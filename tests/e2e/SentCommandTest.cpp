// Commands that reach the directory updater's window while one of its steps
// works, sent by another program (as accessibility and automation tools send
// them) rather than posted, and commands at the run's last point, after the
// result record is written: no step is left half done, and the exit code and
// the record agree.
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include "Automation.h"
#include "RunLogs.h"
#include "SampleInstall.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

std::wstring Updater() { return BinDir() + L"\\VLMUpdaterP2_11.exe"; }
std::wstring Argument(const SampleInstall& s) { return L"\"" + s.ProgramDir + L"\""; }
std::wstring IniFolder(const SampleInstall& s) { return s.Root + L"\\Ini"; }
std::wstring RecordPath(const SampleInstall& s) { return s.IniDir + L"VLM_9_Update.ini"; }

const std::wstring kArchiving = L"Die vorherige Velmora Installation wird gesichert ...";
const std::wstring kArchiveDone = L"Velmora Sicherung - OK";
const std::wstring kAidsBackup = L"Sicherung der Formulierungshilfen wird erstellt ...";
const std::wstring kAidsDone = L"Sicherung Formulierungshilfen - OK";

// How long each step takes over the program folder.
struct Weight {
    int SlowFiles = 0;   // 6 MiB each, slow to deflate: the archive writing
    int SmallFiles = 0;  // the emptying and the restore
    int Aids = 0;        // formulation aids: their backup
};

// The sample with that weight and an earlier result record. File times on
// even seconds, as the archive keeps them.
SampleInstall LayOut(const std::wstring& root, const Weight& weight) {
    SampleInstall s = LayOutSample(root, Fixture(L"v9_2_0_15"));
    const SYSTEMTIME even{2023, 6, 2, 13, 9, 30, 40, 0};
    auto write = [&even](const std::wstring& path, const std::string& bytes) {
        WriteBytes(path, bytes);
        SetLastWrite(path, even);
    };
    MakeDirs(s.ProgramDir + L"\\Daten");
    for (int i = 0; i < weight.SlowFiles; ++i)
        write(s.ProgramDir + L"\\Daten\\teil" + std::to_wstring(i) + L".dat", SlowToDeflate(6u << 20, i + 1));
    MakeDirs(s.ProgramDir + L"\\Hilfe");
    for (int i = 0; i < weight.SmallFiles; ++i) {
        const std::wstring folder = s.ProgramDir + L"\\Hilfe\\Teil" + std::to_wstring(i / 200);
        if (i % 200 == 0) MakeDirs(folder);
        write(folder + L"\\seite" + std::to_wstring(i) + L".htm", "<html>" + std::string(i % 900, 'x') + "</html>");
    }
    for (int i = 0; i < weight.Aids; ++i)
        WriteBytes(s.AidsDir + L"hilfe" + std::to_wstring(i) + L".txt", "Formulierung " + std::to_string(i));
    WriteIni(RecordPath(s), L"[Update]\r\nErfolg=0\r\nDatum=02.05.2025\r\nUhrzeit=10:11:12\r\nVorversion=9.1.0.3\r\n");
    SetLastWrite(RecordPath(s), even);
    return s;
}

// The record's entry in a snapshot of its folder (bytes, time, attributes),
// or "none".
std::string RecordSeen(const SampleInstall& s) {
    const auto snapshot = TreeSnapshot(IniFolder(s));
    const auto it = snapshot.find(L"VLM_9_Update.ini");
    return it == snapshot.end() ? "none" : it->second;
}

bool Has(const std::vector<std::wstring>& log, const std::wstring& line) {
    return std::find(log.begin(), log.end(), line) != log.end();
}

bool PartialArchive(const SampleInstall& s) { return !NamesIn(s.ProgramDir, L"vlmaltinst.zip.*.tmp").empty(); }
bool Marked(const SampleInstall& s) { return Exists(s.ProgramDir + L"\\vlmaltinst.lauf"); }

// Follows a start that recovers an interrupted update to its end, reading the
// log for command, and answers the confirmation that may follow with "&Nein".
RunSeen FollowRecovery(Program& p, HWND main, CommandOnLog& command) {
    RunSeen seen;
    const auto send = SendWhen(main, command);
    const ULONGLONG until = ::GetTickCount64() + 120000;
    while (!(seen.Exit = p.WaitExit(20)) && ::GetTickCount64() < until) {
        if (FindBox(p.Pid())) {
            // The program may end while the box opens: a box that went away
            // meanwhile is no failure.
            if (const auto box = p.WaitBox(1000)) {
                seen.Boxes.push_back(*box);
                try {
                    p.Answer(L"&Nein");
                } catch (const std::exception&) {}
            }
            continue;
        }
        const auto lines = LogLines(main);
        if (lines.size() < seen.Log.size()) continue;
        seen.Log = lines;
        send(lines);
    }
    return seen;
}

// Sent "Abbruch" and close in the middle of each step. The window answers at
// once, the step completes, and the command takes effect at the run's next
// point: the run ends with 1, after exactly one restore, with the folder and
// the record as they were before the run.
TEST(SentCommand, InsideAStepItWaitsForTheNextPointAndTheRunEndsWithTheFolderAndRecordAsBefore) {
    enum class Flow {
        Run,            // a run that would succeed
        FailingRun,     // a run whose last backup fails: it ends with 1 and restores
        RecoverAtStart  // a run killed during the emptying, then the next start
    };
    struct Moment {
        const char* Name;
        Flow Kind;
        Weight Load;
        std::function<bool(const SampleInstall&, const std::vector<std::wstring>&)> When;
        // Right after the answer: true when the step was still at work then.
        std::function<bool(const SampleInstall&, HWND)> StillInside;
        std::vector<std::wstring> Log;  // the log the program ends with
    };
    const std::vector<std::wstring> archived = {L"Benutzeranzahl - OK", kArchiving};
    auto restoring = [](const SampleInstall&, const std::vector<std::wstring>& log) {
        return Has(log, kRestoreLog[0]);
    };
    auto restoreUnfinished = [](const SampleInstall&, HWND main) { return !Has(LogLines(main), kRestoreLog[1]); };
    const Moment moments[] = {
        {"archive writing",
         Flow::Run,
         {3, 0, 0},
         [](const SampleInstall& s, const std::vector<std::wstring>& log) {
             return Has(log, kArchiving) && PartialArchive(s);
         },
         // The archive is not in place yet.
         [](const SampleInstall& s, HWND) { return PartialArchive(s) && !Exists(s.ProgramDir + L"\\vlmaltinst.zip"); },
         WithRestoreLog(archived)},
        {"emptying",
         Flow::Run,
         {0, 2000, 0},
         [](const SampleInstall& s, const std::vector<std::wstring>&) { return Marked(s); },
         // The step's result line is not shown yet: the window answers this
         // read inside the step, after the command was answered.
         [](const SampleInstall&, HWND main) { return !Has(LogLines(main), kArchiveDone); },
         WithRestoreLog(archived)},
        {"backup of the formulation aids",
         Flow::Run,
         {0, 0, 1200},
         [](const SampleInstall&, const std::vector<std::wstring>& log) { return Has(log, kAidsBackup); },
         [](const SampleInstall&, HWND main) { return !Has(LogLines(main), kAidsDone); },
         WithRestoreLog(FirstLines(kDirectoryRunLog, 7))},
        {"restore before the end with 1",
         Flow::FailingRun,
         {0, 2000, 0},
         restoring,
         restoreUnfinished,
         WithRestoreLog(FirstLines(kDirectoryRunLog, 10))},
        {"recovery at the next start", Flow::RecoverAtStart, {0, 2000, 0}, restoring, restoreUnfinished, kRestoreLog},
    };
    for (const Moment& m : moments) {
        for (const SentCommand command : {SentCommand::Abbruch, SentCommand::Close}) {
            SCOPED_TRACE(std::string(m.Name) + (command == SentCommand::Abbruch ? ", Abbruch" : ", close"));
            TempDir root(L"sent");
            const SampleInstall s = LayOut(root.Path(), m.Load);
            const ULONGLONG started = ::GetTickCount64();
            if (m.Kind == Flow::FailingRun) RemoveDataFile(s, L"NKK_Noten.CDX");
            const auto before = TreeSnapshot(s.ProgramDir);
            const std::string recordBefore = RecordSeen(s);

            if (m.Kind == Flow::RecoverAtStart) {
                // Killed 200 ms into the emptying: the folder half emptied,
                // the mark and the archive in it.
                Program p(Updater(), Argument(s));
                ASSERT_TRUE(p.WaitBox());
                HostKiller killer(s.ProgramDir);
                p.Answer(L"&Ja");
                HWND main = p.MainWindow();
                ASSERT_TRUE(main && killer.Ready());
                ClickButton(main, L"Weiter");
                ASSERT_TRUE(WaitFor([&] { return Marked(s) || p.WaitExit(0); }, 120000));
                ::Sleep(200);
                killer.Now();
                ASSERT_TRUE(p.WaitExit(10000));
                ASSERT_TRUE(Marked(s)) << "the run was not killed during the emptying";
            }

            Program p(Updater(), Argument(s));
            CommandOnLog sender;
            sender.Command = command;
            sender.When = [&m, &s](const std::vector<std::wstring>& log) { return m.When(s, log); };
            bool inside = false;
            RunSeen seen;
            if (m.Kind == Flow::RecoverAtStart) {
                HWND main = p.MainWindow();
                ASSERT_TRUE(main);
                sender.Answered = [&] { inside = m.StillInside(s, main); };
                seen = FollowRecovery(p, main, sender);
            } else {
                HWND main = ConfirmUpdate(p);
                ASSERT_TRUE(main);
                ASSERT_TRUE(WaitFor([&] { return ClientSize(main).cy == 134; }));
                ClickButton(main, L"Weiter");
                sender.Answered = [&] { inside = m.StillInside(s, main); };
                FollowOptions follow;
                follow.PollMs = 20;
                follow.ReadLog = true;
                follow.AfterRead = SendWhen(main, sender);
                seen = FollowRun(p, main, follow);
            }

            ASSERT_TRUE(sender.Sent) << "the moment was not seen";
            ASSERT_TRUE(sender.AnswerMs.has_value()) << "no answer within 1 s";
            EXPECT_LT(*sender.AnswerMs, 1000u);
            EXPECT_TRUE(inside) << "the answer came after the step";
            EXPECT_EQ(seen.Exit, 1u);
            EXPECT_EQ(seen.Log, m.Log);
            EXPECT_EQ(TreeSnapshot(s.ProgramDir), before);
            EXPECT_EQ(RecordSeen(s), recordBefore);
            EXPECT_TRUE(NamesIn(IniFolder(s), L"*.tmp").empty());
            std::printf("%s: answered in %u ms, %.1f s in all\n", m.Name,
                        static_cast<unsigned>(sender.AnswerMs.value_or(0)), (::GetTickCount64() - started) / 1000.0);
        }
    }
}

// "Abbruch" clicked or the window closed by another program at the run's last
// point, after the record is written, posted as a person's click is: either
// the run ends with 0 and the new record, or it ends with 1, with the earlier
// record and the folder put back. Nothing in between. The moments are seen on
// disk: a read of the window would be answered only at a point itself.
TEST(SentCommand, AtTheLastPointTheExitCodeAndTheRecordAgree) {
    struct Case {
        const char* Name;
        bool Close;
        bool AfterRecord;  // posted once the record is written; else in the pause after the last backup
    };
    const Case cases[] = {
        {"Abbruch in the pause after the last backup", false, false},
        {"close in the pause after the last backup", true, false},
        {"Abbruch once the record is written", false, true},
        {"close once the record is written", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"last");
        const SampleInstall s = LayOut(root.Path(), {});
        const auto before = TreeSnapshot(s.ProgramDir);
        const std::string recordBefore = RecordSeen(s);

        Program p(Updater(), Argument(s));
        HWND main = ConfirmUpdate(p);
        ASSERT_TRUE(main);
        ASSERT_TRUE(WaitFor([&] { return ClientSize(main).cy == 134; }));
        ClickButton(main, L"Weiter");
        // The last backup's last copy stands; its log line and a pause of
        // 500 ms follow, then the record.
        const std::wstring lastCopy = s.NkkDir + L"VLM_Bkp_NKK_Noten.CDX";
        auto moment = [&] { return c.AfterRecord ? RecordSeen(s) != recordBefore : Exists(lastCopy); };
        ASSERT_TRUE(WaitFor([&] { return moment() || p.WaitExit(0); }, 120000));
        if (!c.AfterRecord) ::Sleep(250);
        // The window may be gone already.
        if (c.Close)
            PostClose(main);
        else
            ::PostMessageW(::GetDlgItem(main, IDCANCEL), BM_CLICK, 0, 0);
        const std::optional<DWORD> exit = p.WaitExit(60000);
        ASSERT_TRUE(exit.has_value());
        std::printf("%s: exit %lu\n", c.Name, *exit);
        if (*exit == 0) {
            EXPECT_EQ(ReadProfile(RecordPath(s), L"Update", L"Vorversion"), L"9.2.0.15");
            EXPECT_FALSE(Exists(s.ProgramDir + L"\\Velmora10.EXE"));
        } else {
            EXPECT_EQ(exit, 1u);
            EXPECT_EQ(RecordSeen(s), recordBefore);
            EXPECT_EQ(TreeSnapshot(s.ProgramDir), before);
        }
        EXPECT_TRUE(NamesIn(IniFolder(s), L"*.tmp").empty());
    }
}

}  // namespace
