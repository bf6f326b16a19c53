// The directory updater empties a folder: these runs of the real programs try
// to make it touch something outside that folder, or lose a file on the way.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>
#include <algorithm>
#include <functional>
#include <set>
#include <thread>
#include "ArchiveFiles.h"
#include "Automation.h"
#include "RunLogs.h"
#include "SampleInstall.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

std::wstring Updater() { return BinDir() + L"\\VLMUpdaterP2_11.exe"; }
std::wstring Record(const SampleInstall& s) { return s.IniDir + L"VLM_9_Update.ini"; }
const std::wstring kOtherUpdater = L"Ein anderes Velmora-Update l\u00e4uft bereits." + kAbortLine;

// Every thread of a process held still while the object lives.
class Suspended {
public:
    explicit Suspended(DWORD pid) {
        HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return;
        THREADENTRY32 t{};
        t.dwSize = sizeof t;
        for (BOOL more = ::Thread32First(snapshot, &t); more; more = ::Thread32Next(snapshot, &t)) {
            if (t.th32OwnerProcessID != pid) continue;
            HANDLE thread = ::OpenThread(THREAD_SUSPEND_RESUME, FALSE, t.th32ThreadID);
            if (thread && ::SuspendThread(thread) != static_cast<DWORD>(-1))
                threads_.push_back(thread);
            else if (thread)
                ::CloseHandle(thread);
        }
        ::CloseHandle(snapshot);
    }
    Suspended(const Suspended&) = delete;
    Suspended& operator=(const Suspended&) = delete;
    ~Suspended() {
        for (HANDLE thread : threads_) {
            ::ResumeThread(thread);
            ::CloseHandle(thread);
        }
    }
    bool Any() const { return !threads_.empty(); }

private:
    std::vector<HANDLE> threads_;
};

// Every file and folder of before is still there, each file unchanged (a
// folder's own time changes with the backups added to it).
void ExpectKept(const std::map<std::wstring, std::string>& before, const std::map<std::wstring, std::string>& after) {
    for (const auto& [name, content] : before) {
        SCOPED_TRACE(testing::PrintToString(name));
        const auto it = after.find(name);
        ASSERT_NE(it, after.end());
        if (content.rfind("<dir", 0) != 0) {
            EXPECT_EQ(it->second, content);
        }
    }
}

std::set<std::wstring> Names(const std::wstring& archive) {
    const auto names = ArchiveNames(archive);
    EXPECT_TRUE(names);
    return names ? std::set<std::wstring>(names->begin(), names->end()) : std::set<std::wstring>();
}

std::set<std::wstring> Keys(const std::map<std::wstring, std::string>& tree) {
    std::set<std::wstring> keys;
    for (const auto& [name, content] : tree) keys.insert(name);
    return keys;
}

// The sample's own program files, as entries.
const std::set<std::wstring> kSampleEntries = {
    L"Programm/Hilfe/Bilder/logo.png", L"Programm/Hilfe/index.htm", L"Programm/Velmora.chm",
    L"Programm/Velmora10.EXE",         L"Programm/VelmStart.ini",
};
const std::set<std::wstring> kEmptied = {L"VelmStart.ini", L"vlmaltinst.zip"};

TEST(ArchiveSafety, LinksAreNeitherArchivedNorFollowedByTheDeletion) {
    struct Case {
        const char* Name;
        std::wstring Link;  // below the program folder
        std::function<std::wstring(const SampleInstall&, const std::wstring& outside)> Target;
    };
    const Case cases[] = {
        {"folder link to a folder outside", L"Verweis", [](const SampleInstall&, const std::wstring& o) { return o; }},
        {"file link to a file outside", L"Hilfe\\verweis.txt",
         [](const SampleInstall&, const std::wstring& o) { return o + L"\\kanarie.txt"; }},
        {"link back to the program folder", L"Hilfe\\Schleife",
         [](const SampleInstall& s, const std::wstring&) { return s.ProgramDir; }},
        {"link to Velmora's data", L"Daten", [](const SampleInstall& s, const std::wstring&) { return s.BaseDir; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"link");
        const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
        const std::wstring outside = root / L"Draussen";
        MakeDirs(outside + L"\\tief");
        WriteBytes(outside + L"\\kanarie.txt", "canary");
        WriteBytes(outside + L"\\tief\\kanarie2.txt", "canary below");
        HostSymlink(c.Target(s, outside), s.ProgramDir + L"\\" + c.Link);
        const auto outsideBefore = TreeSnapshot(outside);
        const auto dataBefore = TreeSnapshot(s.BaseDir);

        Program p(Updater(), L"\"" + s.ProgramDir + L"\"");
        const RunSeen end = RunThrough(p);
        EXPECT_EQ(end.Exit, 0u);
        EXPECT_TRUE(end.Boxes.empty());
        EXPECT_EQ(TreeSnapshot(outside), outsideBefore);
        ExpectKept(dataBefore, TreeSnapshot(s.BaseDir));
        EXPECT_EQ(Names(s.ProgramDir + L"\\vlmaltinst.zip"), kSampleEntries);
        // The platform here cannot remove a link without touching its target,
        // so the link stays; everything else is gone.
        auto left = Keys(TreeSnapshot(s.ProgramDir));
        left.erase(c.Link);
        left.erase(L"Hilfe");  // holds a link that stays
        EXPECT_EQ(left, kEmptied);
        EXPECT_EQ(ReadProfile(Record(s), L"Update", L"Erfolg"), L"0");
    }
}

TEST(ArchiveSafety, ADeepTreeIsArchivedAndDeletedWithoutTouchingTheCurrentFolder) {
    TempDir root(L"deep");
    const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
    std::wstring deep = s.ProgramDir, entry = L"Programm";
    for (int i = 0; deep.size() < 320; ++i) {
        const std::wstring part = L"Unterordner_mit_langem_Namen_" + std::to_wstring(i);
        deep += L"\\" + part;
        entry += L"/" + part;
        ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr));
    }
    WriteBytes(L"\\\\?\\" + deep + L"\\tief.txt", "deep down");
    // The updater's current folder, which a deletion gone astray would empty.
    const std::wstring current = root / L"Arbeitsordner";
    MakeDirs(current);
    WriteBytes(current + L"\\kanarie.txt", "canary");
    const auto currentBefore = TreeSnapshot(current);

    Program p(Updater(), L"\"" + s.ProgramDir + L"\"", current);
    const RunSeen end = RunThrough(p);
    EXPECT_EQ(end.Exit, 0u);
    EXPECT_EQ(TreeSnapshot(current), currentBefore);
    auto expected = kSampleEntries;
    expected.insert(entry + L"/tief.txt");
    EXPECT_EQ(Names(s.ProgramDir + L"\\vlmaltinst.zip"), expected);
    EXPECT_EQ(Keys(TreeSnapshot(s.ProgramDir)), kEmptied);
}

TEST(ArchiveSafety, EverySpellingOfTheFolderNamesItOrIsRefused) {
    struct Case {
        const char* Name;
        std::function<std::wstring(const SampleInstall&)> Argument;
        bool Relative;  // started in the sample's root folder
    };
    const Case cases[] = {
        {"final slash", [](const SampleInstall& s) { return s.ProgramDir + L"/"; }, false},
        {"slash and dot dot", [](const SampleInstall& s) { return s.ProgramDir + L"\\Hilfe/.."; }, false},
        {"relative", [](const SampleInstall&) { return std::wstring(L"Programm"); }, true},
        {"extended-length form", [](const SampleInstall& s) { return L"\\\\?\\" + s.ProgramDir; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"form");
        const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
        auto outsideBefore = TreeSnapshot(root.Path());
        Program p(Updater(), L"\"" + c.Argument(s) + L"\"", c.Relative ? root.Path() : L"");
        const RunSeen end = RunThrough(p);
        EXPECT_EQ(end.Exit, 0u);
        EXPECT_EQ(Names(s.ProgramDir + L"\\vlmaltinst.zip"), kSampleEntries);
        EXPECT_EQ(Keys(TreeSnapshot(s.ProgramDir)), kEmptied);
        for (auto it = outsideBefore.begin(); it != outsideBefore.end();)
            it = it->first.rfind(L"Programm", 0) == 0 ? outsideBefore.erase(it) : std::next(it);
        ExpectKept(outsideBefore, TreeSnapshot(root.Path()));
    }
}

TEST(ArchiveSafety, AnInstallationAtTheRootOfADriveIsNeverEmptied) {
    // "C:\Hilfe/.." is the root of drive C: (of this build's own prefix).
    TempDir root(L"root");
    const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
    const std::wstring exe = L"C:\\Velmora10.EXE", ini = L"C:\\VelmStart.ini";
    ASSERT_FALSE(Exists(exe));
    ASSERT_TRUE(::CopyFileW((s.ProgramDir + L"\\Velmora10.EXE").c_str(), exe.c_str(), TRUE));
    ASSERT_TRUE(::CopyFileW((s.ProgramDir + L"\\VelmStart.ini").c_str(), ini.c_str(), TRUE));
    const auto before = TreeSnapshot(root.Path());
    const auto programBefore = ReadBytes(exe);

    Program p(Updater(), L"C:\\Hilfe/..");
    const RunSeen end = RunThrough(p);
    const bool programKept = ReadBytes(exe) == programBefore, iniKept = Exists(ini);
    const bool archived = Exists(L"C:\\vlmaltinst.zip");
    ::DeleteFileW(exe.c_str());
    ::DeleteFileW(ini.c_str());
    ::DeleteFileW(L"C:\\vlmaltinst.zip");
    // The archive step refuses and the run goes on with the backups.
    EXPECT_EQ(end.Exit, 0u);
    EXPECT_TRUE(end.Boxes.empty());
    EXPECT_TRUE(programKept);
    EXPECT_TRUE(iniKept);
    EXPECT_FALSE(archived);
    EXPECT_TRUE(Exists(L"C:\\windows\\system32\\kernel32.dll"));
    ExpectKept(before, TreeSnapshot(root.Path()));
}

TEST(ArchiveSafety, VelmoraDataInsideTheProgramFolderIsNeverEmptied) {
    TempDir root(L"inner");
    auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
    // Velmora's data folder moved into the program folder.
    const std::wstring inner = s.ProgramDir + L"\\Velmora\\";
    ASSERT_TRUE(::MoveFileW(s.BaseDir.c_str(), inner.c_str()));
    s.BaseDir = inner;
    s.DataDir = inner + L"Daten\\";
    WriteIni(s.IniDir + L"velmora.ini", L"[Setup]\r\nDatenverzeichnis=" + s.DataDir + L"\r\n");
    const auto before = TreeSnapshot(s.ProgramDir);

    Program p(Updater(), L"\"" + s.ProgramDir + L"\"");
    const RunSeen end = RunThrough(p);
    EXPECT_EQ(end.Exit, 0u);
    ExpectKept(before, TreeSnapshot(s.ProgramDir));
    EXPECT_FALSE(Exists(s.ProgramDir + L"\\vlmaltinst.zip"));
    EXPECT_TRUE(Exists(s.DataDir + L"VLM_Bkp_FAECHERKANON.dbf"));
}

TEST(ArchiveSafety, OnlyOneUpdaterWorksAtATime) {
    // Another updater holds the lock: nothing is touched.
    {
        TempDir root(L"lock");
        const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
        const auto before = TreeSnapshot(root.Path());
        HANDLE other = ::CreateMutexW(nullptr, TRUE, L"Global\\VelmoraUpdater");
        ASSERT_TRUE(other);
        Program p(Updater(), L"\"" + s.ProgramDir + L"\"");
        const RunSeen end = RunThrough(p);
        ::ReleaseMutex(other);
        ::CloseHandle(other);
        EXPECT_EQ(end.Exit, 1u);
        ASSERT_EQ(end.Boxes.size(), 1u);
        EXPECT_EQ(end.Boxes[0].Title, L"Fehler");
        EXPECT_EQ(end.Boxes[0].Text, kOtherUpdater);
        EXPECT_EQ(TreeSnapshot(root.Path()), before);
    }
    // Two registered-installation updaters started together on one
    // installation: the second is refused and the first writes an intact record.
    TempDir root(L"two");
    const auto s = LayOutSample(root.Path(), Fixture(L"v10_1_0_3"));
    RegistryValue registration(HKEY_LOCAL_MACHINE, kInstallPropertiesKey, L"InstallLocation", kInstallerView);
    registration.SetString(s.ProgramDir + L"\\");
    const std::wstring registered = BinDir() + L"\\VLMUpdater11.exe";
    Program first(registered, L"");
    HWND firstMain = first.MainWindow();
    ASSERT_TRUE(firstMain);
    ClickButton(firstMain, L"Weiter");
    ASSERT_TRUE(WaitFor([&] { return !LogLines(firstMain).empty(); }));
    {
        // The first is held in its run, however long the second takes to
        // start and reach its check (a 32-bit start under load takes seconds).
        const Suspended held(first.Pid());
        ASSERT_TRUE(held.Any());
        Program second(registered, L"");
        HWND secondMain = second.MainWindow();
        ASSERT_TRUE(secondMain);
        ClickButton(secondMain, L"Weiter");
        const auto box = second.WaitBox();
        ASSERT_TRUE(box);
        EXPECT_EQ(box->Text, kOtherUpdater);
        second.Answer(L"OK");
        EXPECT_EQ(second.WaitExit(), 1u);
    }
    EXPECT_EQ(first.WaitExit(30000), 0u);
    const std::wstring record = s.IniDir + L"VLM_10_Update.ini";
    EXPECT_EQ(ReadProfile(record, L"Update", L"Erfolg"), L"0");
    EXPECT_EQ(ReadProfile(record, L"Update", L"Vorversion"), L"10.1.0.3");
    EXPECT_NE(ReadProfile(record, L"Update", L"Datum"), L"");
    EXPECT_NE(ReadProfile(record, L"Update", L"Uhrzeit"), L"");
}

TEST(ArchiveSafety, AFolderNameThePlatformWouldChangeIsNeverEmptied) {
    // The program folder's name ends in a blank or a dot, which the platform
    // strips where it normalises a name: the folder without it, someone
    // else's, stands beside it.
    struct Case {
        const char* Name;
        const wchar_t* Suffix;
        bool Extended;  // named in the "\\?\" form
    };
    const Case cases[] = {
        {"final blank", L" ", false},
        {"final blank, extended-length form", L" ", true},
        {"final dot, extended-length form", L".", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"trail");
        const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
        const std::wstring named = s.ProgramDir + c.Suffix;
        ASSERT_TRUE(::MoveFileW((L"\\\\?\\" + s.ProgramDir).c_str(), (L"\\\\?\\" + named).c_str()));
        MakeDirs(s.ProgramDir);
        ASSERT_TRUE(::CopyFileW((L"\\\\?\\" + named + L"\\Velmora10.EXE").c_str(),
                                (s.ProgramDir + L"\\Velmora10.EXE").c_str(), TRUE));
        WriteBytes(s.ProgramDir + L"\\kanarie.txt", "someone else's");
        const auto siblingBefore = TreeSnapshot(s.ProgramDir);
        const auto namedBefore = TreeSnapshot(L"\\\\?\\" + named);

        Program p(Updater(), L"\"" + std::wstring(c.Extended ? L"\\\\?\\" : L"") + named + L"\"");
        const RunSeen end = RunThrough(p);
        // Neither folder is touched. The archive step refuses and the run goes
        // on, or, where the platform's profile functions read the start ini of
        // the other folder, the run stops with a box.
        EXPECT_EQ(TreeSnapshot(s.ProgramDir), siblingBefore);
        EXPECT_EQ(TreeSnapshot(L"\\\\?\\" + named), namedBefore);
        if (end.Exit == 0u) {
            EXPECT_TRUE(end.Boxes.empty());
            EXPECT_EQ(ReadProfile(Record(s), L"Update", L"Erfolg"), L"0");
        } else {
            EXPECT_EQ(end.Exit, 1u);
            ASSERT_EQ(end.Boxes.size(), 1u);
            EXPECT_TRUE(end.Boxes[0].Text.ends_with(kAbortLine));
            EXPECT_FALSE(Exists(Record(s)));
        }
        RemoveTree(L"\\\\?\\" + named);
    }
}

// A drive letter of the prefix's own that names a folder for as long as the
// object lives.
struct DriveAlias {
    std::wstring Link;
    DriveAlias(wchar_t letter, const std::wstring& folder) {
        Link = EnvironmentVariable(L"WINEPREFIX") + L"/dosdevices/" + static_cast<wchar_t>(::towlower(letter)) + L":";
        RunHostCommand(L"/bin/ln -sfn \"" + HostPath(folder) + L"\" \"" + Link + L"\"");
    }
    ~DriveAlias() { RunHostCommand(L"/bin/rm -f \"" + Link + L"\""); }
};

TEST(ArchiveSafety, AVelmoraFolderInsideTheProgramFolderIsFoundUnderAnyName) {
    // The program folder is named by a second drive letter for the same place,
    // or by its short name, while Velmora's ini, data or temporary folder lies
    // inside it under its long name.
    enum class Inside { Ini, Data, Temp };
    struct Case {
        const char* Name;
        bool ShortName;  // else a drive alias
        Inside What;
    };
    const Case cases[] = {
        {"drive alias, ini folder inside", false, Inside::Ini},
        {"drive alias, data folder inside", false, Inside::Data},
        {"drive alias, temporary folder inside", false, Inside::Temp},
        {"short name, ini folder inside", true, Inside::Ini},
        {"short name, data folder inside", true, Inside::Data},
        {"short name, temporary folder inside", true, Inside::Temp},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"alias");
        auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
        // A name with a blank, so that it has a short name of its own.
        const std::wstring program = root / L"Velmora Programm";
        ASSERT_TRUE(::MoveFileW(s.ProgramDir.c_str(), program.c_str()));
        s.ProgramDir = program;
        std::wstring temp;
        if (c.What == Inside::Ini) {
            const std::wstring ini = program + L"\\Ini\\";
            ASSERT_TRUE(::MoveFileW(s.IniDir.c_str(), ini.c_str()));
            s.IniDir = ini;
            WriteIni(program + L"\\VelmStart.ini", L"[Setup]\r\nIniPfad=" + ini + L"\r\n");
        } else if (c.What == Inside::Data) {
            const std::wstring base = program + L"\\Velmora\\";
            ASSERT_TRUE(::MoveFileW(s.BaseDir.c_str(), base.c_str()));
            s.BaseDir = base;
            s.DataDir = base + L"Daten\\";
            WriteIni(s.IniDir + L"velmora.ini", L"[Setup]\r\nDatenverzeichnis=" + s.DataDir + L"\r\n");
        } else {
            temp = program + L"\\Temp\\";
            MakeDirs(temp);
        }
        // Names and bytes only: once this process has seen the alias, the
        // platform here names the folder's entries by it, and the snapshot's
        // link test no longer holds.
        const auto before = FilesIn(program);
        std::unique_ptr<DriveAlias> alias;
        std::wstring argument;
        if (c.ShortName) {
            wchar_t shortName[MAX_PATH]{};
            ASSERT_NE(::GetShortPathNameW(program.c_str(), shortName, MAX_PATH), 0u);
            argument = shortName;
            ASSERT_NE(argument.substr(argument.rfind(L'\\')), L"\\Velmora Programm");
        } else {
            alias = std::make_unique<DriveAlias>(L'Q', root.Path());
            argument = L"Q:\\Velmora Programm";
            ASSERT_TRUE(Exists(argument + L"\\Velmora10.EXE"));
        }

        // The updater inherits the temporary folder.
        const std::wstring savedTmp = EnvironmentVariable(L"TMP"), savedTemp = EnvironmentVariable(L"TEMP");
        if (!temp.empty()) {
            ::SetEnvironmentVariableW(L"TMP", temp.c_str());
            ::SetEnvironmentVariableW(L"TEMP", temp.c_str());
        }
        RunSeen end;
        {
            Program p(Updater(), L"\"" + argument + L"\"");
            if (!temp.empty()) {
                ::SetEnvironmentVariableW(L"TMP", savedTmp.c_str());
                ::SetEnvironmentVariableW(L"TEMP", savedTemp.c_str());
            }
            end = RunThrough(p);
        }
        alias.reset();
        // The archive step refuses; the run goes on with the backups.
        EXPECT_EQ(end.Exit, 0u);
        EXPECT_FALSE(Exists(program + L"\\vlmaltinst.zip"));
        const auto after = FilesIn(program);
        for (const auto& [name, content] : before) {
            const auto it = after.find(name);
            EXPECT_TRUE(it != after.end() && it->second == content) << testing::PrintToString(name);
        }
        EXPECT_TRUE(Exists(s.DataDir + L"VLM_Bkp_FAECHERKANON.dbf"));
        EXPECT_EQ(ReadProfile(Record(s), L"Update", L"Erfolg"), L"0");
    }
}

TEST(ArchiveSafety, AFileAppendedToWhileTheFolderIsEmptiedKeepsEveryByte) {
    // Another program appends to a file of the program folder from the moment
    // the emptying of that file's folder has begun. Where the file is deleted
    // before the writer first gets in, the case did not happen: tried again.
    bool happened = false;
    for (int attempt = 0; attempt < 3 && !happened; ++attempt) {
        TempDir root(L"append");
        const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
        // Enough files beside it that the emptying of its folder takes a while.
        const std::wstring folder = s.ProgramDir + L"\\Protokolle";
        MakeDirs(folder);
        for (int i = 0; i < 3000; ++i) WriteBytes(folder + L"\\p" + std::to_wstring(i) + L".txt", "x");
        // Late among the names, and another name each time: the file system's
        // order of names is its own.
        const std::wstring log = folder + L"\\zz_laufend" + std::to_wstring(attempt) + L".log";
        const std::string begin = "begin\n";
        std::string written = begin;
        WriteBytes(log, written);

        // Signalled by the first name that goes from the folder.
        HANDLE change = ::FindFirstChangeNotificationW(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
        ASSERT_NE(change, INVALID_HANDLE_VALUE);
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            while (!stop && ::WaitForSingleObject(change, 50) == WAIT_TIMEOUT) {
            }
            for (int n = 0; !stop; ++n) {
                HANDLE h = ::CreateFileW(log.c_str(), FILE_APPEND_DATA,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         0, nullptr);
                if (h == INVALID_HANDLE_VALUE) {
                    if (::GetLastError() != ERROR_SHARING_VIOLATION) break;  // gone
                    continue;
                }
                const std::string line = "line " + std::to_string(n) + "\n";
                DWORD done = 0;
                if (::WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &done, nullptr) &&
                    done == line.size())
                    written += line;
                ::CloseHandle(h);
            }
        });
        Program p(Updater(), L"\"" + s.ProgramDir + L"\"");
        const RunSeen end = RunThrough(p);
        stop = true;
        writer.join();
        ::FindCloseChangeNotification(change);
        EXPECT_EQ(end.Exit, 0u);
        happened = written != begin;
        // Every byte the writer got in is still in the folder.
        if (happened) {
            EXPECT_EQ(ReadBytes(log), written);
        } else if (!Exists(log)) {
            EXPECT_EQ(FilesInArchive(s.ProgramDir + L"\\vlmaltinst.zip")[log.substr(s.ProgramDir.size() + 1)], begin);
        }
    }
    EXPECT_TRUE(happened) << "the writer never got in before the file was deleted";
}

TEST(ArchiveSafety, AFullDiskWhilePlacingTheArchiveDeletesNothing) {
    TempDir root(L"full");
    const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
    SmallDisk disk(root / L"Klein", 4);
    if (!disk.Mounted) GTEST_SKIP() << "mounting a small file system needs the host's administrator";
    // The program folder on the small disk: its files fit, their archive
    // beside them does not.
    const std::wstring program = disk.Folder + L"\\Programm";
    MakeDirs(program);
    ASSERT_TRUE(
        ::CopyFileW((s.ProgramDir + L"\\Velmora10.EXE").c_str(), (program + L"\\Velmora10.EXE").c_str(), FALSE));
    ASSERT_TRUE(
        ::CopyFileW((s.ProgramDir + L"\\VelmStart.ini").c_str(), (program + L"\\VelmStart.ini").c_str(), FALSE));
    WriteBytes(program + L"\\Velmora.dat", RandomBytes(2500 * 1024, 7));
    const auto before = TreeSnapshot(program);
    const ULONGLONG freeBefore = disk.Free();

    Program p(Updater(), L"\"" + program + L"\"");
    const RunSeen end = RunThrough(p);
    // The archive step fails; the backups still run.
    EXPECT_EQ(end.Exit, 0u);
    EXPECT_EQ(TreeSnapshot(program), before);  // no partial archive under any name
    EXPECT_EQ(disk.Free(), freeBefore);
    EXPECT_EQ(ReadProfile(Record(s), L"Update", L"Erfolg"), L"0");
}

}  // namespace
