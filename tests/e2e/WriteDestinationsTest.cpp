// Every name the updaters write to lies in a folder ordinary users may write
// to. Planted as a link, each must make the run fail as a failed write would,
// with nothing written where the link leads.
#include <gtest/gtest.h>
#include "Automation.h"
#include "RunLogs.h"
#include "SampleInstall.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

struct Updater {
    const char* Name;
    const wchar_t* Exe;
    const wchar_t* Fixture;
    const wchar_t* Record;
    bool Directory;  // takes the program folder on its command line and asks first
};
const Updater kUpdaters[] = {
    {"directory updater", L"VLMUpdaterP2_11.exe", L"v9_2_0_15", L"VLM_9_Update.ini", true},
    {"registered-installation updater", L"VLMUpdater11.exe", L"v10_1_0_3", L"VLM_10_Update.ini", false},
};

struct RunEnd {
    std::optional<DWORD> Exit;
    std::vector<std::wstring> Boxes;  // texts, after any confirmation
};

// Starts the run and answers every box with OK. After the error report of a
// record that cannot be written the window stays open: "Abbruch" ends it.
RunEnd RunThrough(const Updater& u, const SampleInstall& s) {
    Program p(BinDir() + L"\\" + u.Exe, u.Directory ? L"\"" + s.ProgramDir + L"\"" : L"");
    HWND main = u.Directory ? ConfirmUpdate(p) : p.MainWindow();
    EXPECT_TRUE(main);
    if (!main) return {};
    ClickButton(main, L"Weiter");
    FollowOptions follow;
    follow.AfterBox = [main](const BoxSeen& box) {
        if (box.Text.starts_with(L"In ")) ClickButton(main, L"Abbruch");
        return false;
    };
    const RunSeen seen = FollowRun(p, main, follow);
    RunEnd end{seen.Exit, {}};
    for (const BoxSeen& box : seen.Boxes) end.Boxes.push_back(box.Text);
    return end;
}

struct Destination {
    const char* Name;
    std::wstring SampleInstall::*Folder;
    std::wstring Relative;  // empty: the record
    bool FolderBox;         // the backup folder cannot be made
};

TEST(WriteDestinations, ALinkAtAnyOfThemFailsTheRunAndWritesNothingOutside) {
    const std::wstring folderBox =
        L"Das Backup-Verzeichnis konnte nicht erstellt werden\nDas Update wird abgebrochen!";
    const Destination destinations[] = {
        {"form catalogue backup", &SampleInstall::FormsDir, L"VLM_Bkp_Formulare.dbf", false},
        {"NKK backup", &SampleInstall::NkkDir, L"VLM_Bkp_NKK_NOTEN.DBF", false},
        {"formulation-aids backup folder", &SampleInstall::BaseDir, L"VLM_Bkp_Formulierungen", true},
        {"formulation-aids copy", &SampleInstall::BaseDir, L"VLM_Bkp_Formulierungen\\Arbeitsverhalten.txt", false},
        {"result record", &SampleInstall::IniDir, L"", false},
    };
    for (const Updater& u : kUpdaters) {
        for (const Destination& d : destinations) {
            for (const bool folderLink : {false, true}) {
                SCOPED_TRACE(std::string(u.Name) + ", " + d.Name + (folderLink ? ", folder link" : ", file link"));
                TempDir root(L"dest");
                const auto s = LayOutSample(root.Path(), Fixture(u.Fixture));
                RegistryValue registration(HKEY_LOCAL_MACHINE, kInstallPropertiesKey, L"InstallLocation", kInstallerView);
                if (!u.Directory) registration.SetString(s.ProgramDir + L"\\");
                const std::wstring outside = root / L"Draussen";
                MakeDirs(outside + L"\\Ordner");
                WriteBytes(outside + L"\\kanarie.txt", "canary");
                WriteBytes(outside + L"\\Ordner\\kanarie2.txt", "canary below");
                const std::wstring relative = d.Relative.empty() ? std::wstring(u.Record) : d.Relative;
                const std::wstring at = s.*d.Folder + relative;
                if (relative.find(L'\\') != std::wstring::npos) MakeDirs(at.substr(0, at.rfind(L'\\')));
                HostSymlink(folderLink ? outside + L"\\Ordner" : outside + L"\\kanarie.txt", at);
                const auto outsideBefore = TreeSnapshot(outside);
                const auto programBefore = TreeSnapshot(s.ProgramDir);

                const RunEnd end = RunThrough(u, s);
                EXPECT_EQ(end.Exit, 1u);
                EXPECT_EQ(TreeSnapshot(outside), outsideBefore);
                // The directory updater puts its emptied program folder back.
                EXPECT_EQ(TreeSnapshot(s.ProgramDir), programBefore);
                if (d.Relative.empty()) {
                    EXPECT_EQ(end.Boxes, std::vector<std::wstring>{L"In " + at + L" kann nicht geschrieben werden."});
                } else {
                    EXPECT_EQ(end.Boxes, d.FolderBox ? std::vector<std::wstring>{folderBox}
                                                     : std::vector<std::wstring>{});
                    EXPECT_FALSE(Exists(s.IniDir + u.Record));
                }
            }
        }
    }
}

TEST(WriteDestinations, AFullDiskDuringADataBackupKeepsTheEarlierBackup) {
    for (const Updater& u : kUpdaters) {
        SCOPED_TRACE(u.Name);
        TempDir root(L"full");
        SmallDisk disk(root / L"Klein", 4);
        if (!disk.Mounted) GTEST_SKIP() << "mounting a small file system needs the host's administrator";
        const auto s = LayOutSample(disk.Folder, Fixture(u.Fixture));
        RegistryValue registration(HKEY_LOCAL_MACHINE, kInstallPropertiesKey, L"InstallLocation", kInstallerView);
        if (!u.Directory) registration.SetString(s.ProgramDir + L"\\");
        // The subject canon and its backup from the last update, 1.2 MiB each;
        // the canon has grown since and no longer fits a second time.
        WriteBytes(s.DataDir + L"VLM_Bkp_FAECHERKANON.dbf", RandomBytes(1200 * 1024, 1));
        WriteBytes(s.DataDir + L"FAECHERKANON.dbf", RandomBytes(1200 * 1024, 2));
        const ULONGLONG room = 700 * 1024;  // for the archive and the backups before
        ASSERT_GT(disk.Free(), room);
        WriteBytes(disk.Folder + L"\\Fueller.bin", RandomBytes(static_cast<size_t>(disk.Free() - room), 3));
        const auto dataBefore = TreeSnapshot(s.DataDir);
        const auto programBefore = TreeSnapshot(s.ProgramDir);

        const RunEnd end = RunThrough(u, s);
        EXPECT_EQ(end.Exit, 1u);
        EXPECT_TRUE(end.Boxes.empty());
        EXPECT_EQ(TreeSnapshot(s.DataDir), dataBefore);  // the old backup whole, no temporary file
        EXPECT_EQ(TreeSnapshot(s.ProgramDir), programBefore);
        EXPECT_TRUE(Exists(s.FormsDir + L"VLM_Bkp_Formulare.dbf"));  // the step before succeeded
        EXPECT_FALSE(Exists(s.IniDir + u.Record));
    }
}

}  // namespace
