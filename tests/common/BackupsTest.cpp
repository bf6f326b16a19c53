// The data backups against real data folders: the three file steps, the
// formulation-aids folder and the shell folder copy.
#include <gtest/gtest.h>
#include <functional>
#include "Automation.h"
#include "Backups.h"
#include "DirectoryUpdater.h"
#include "Files.h"
#include "Haupt.h"
#include "StepWindow.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

const std::wstring kFolderBox = L"Das Backup-Verzeichnis konnte nicht erstellt werden\nDas Update wird abgebrochen!";

using Step = int (UpdateRun::*)();
const Step kSteps[] = {&UpdateRun::BackupFormKatalog, &UpdateRun::BackupFaecherkanon, &UpdateRun::BackupNKK};

// The twelve data files as Velmora lays them out below the base folder, with
// the step (index into kSteps) that backs each up.
struct DataFile {
    const wchar_t* Folder;
    const wchar_t* Name;
    int Step;
};
const DataFile kFiles[] = {
    {L"Formulare\\", L"Formulare.dbf", 0},    {L"Formulare\\", L"Formulare.cdx", 0},
    {L"Formulare\\", L"Beiblaetter.dbf", 0},  {L"Formulare\\", L"Beiblaetter.cdx", 0},
    {L"Formulare\\", L"Deckblaetter.dbf", 0}, {L"Formulare\\", L"Deckblaetter.cdx", 0},
    {L"Daten\\", L"FAECHERKANON.dbf", 1},     {L"Daten\\", L"FaecherKanon.cdx", 1},
    {L"NKK\\", L"NKK_FAECHER.DBF", 2},        {L"NKK\\", L"NKK_Faecher.CDX", 2},
    {L"NKK\\", L"NKK_NOTEN.DBF", 2},          {L"NKK\\", L"NKK_Noten.CDX", 2},
};

// Content that tells the files apart and changes from run to run.
std::string Content(const DataFile& file, int run) {
    std::string text = "run " + std::to_string(run) + ": " + WideToUtf8(file.Name) + "\r\n";
    for (int i = 0; i < run + 3; ++i) text += text;
    return text + std::string(1, '\0') + "\x80\xff";
}

// The name of the single file the pattern finds, as the file system stores it.
std::wstring StoredName(const std::wstring& path) {
    WIN32_FIND_DATAW data{};
    unique_hfind find(::FindFirstFileW(path.c_str(), &data));
    return find ? data.cFileName : L"";
}

// The files a path pattern such as "...\Daten\VLM_Bkp_*" finds.
int CountFiles(const std::wstring& pattern) {
    const std::size_t slash = pattern.rfind(L'\\');
    int count = 0;
    ForEachIn(
        pattern.substr(0, slash),
        [&](const WIN32_FIND_DATAW& data) { count += !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY); },
        pattern.substr(slash + 1));
    return count;
}

// A Velmora data tree: Base\Daten\, Base\Formulare\, Base\NKK\, Base\Formulierungen\.
struct DataTree {
    TempDir Root{L"bkp"};
    std::wstring Base = Root.Path() + L"\\";

    DataTree() : DataTree(L"") {}
    // Below another folder than a fresh temporary one.
    explicit DataTree(const std::wstring& base) {
        if (!base.empty()) Base = base;
        for (const wchar_t* folder : {L"Daten", L"Formulare", L"NKK", L"Formulierungen"}) MakeDirs(Base + folder);
    }
    std::wstring Source(const DataFile& file) const { return Base + file.Folder + file.Name; }
    std::wstring Backup(const DataFile& file) const { return Base + file.Folder + L"VLM_Bkp_" + file.Name; }
    // Writes every data file but the one given.
    void WriteData(int run, const DataFile* left = nullptr) const {
        for (const DataFile& file : kFiles)
            if (&file != left) WriteBytes(Source(file), Content(file, run));
    }
    // The fields as the data-path discovery sets them.
    void Assign(UpdateSession& f) const {
        f.DataDir = Base + L"Daten\\";
        f.BaseDir = Base;
        f.FormsDir = Base + L"Formulare\\";
        f.NkkDir = Base + L"NKK\\";
    }
};

using Form = StepWindow<DirectoryUpdater>;

TEST(FileBackups, CopyAllTwelveFilesBesideTheDataAndReplaceEarlierCopies) {
    DataTree tree;
    Form form;
    tree.Assign(form.R.Session);
    // Two runs: the second finds the copies of the first, which are longer than
    // the new data, and must replace them whole without asking.
    for (int run = 1; run >= 0; --run) {
        SCOPED_TRACE(run == 1 ? "first run" : "second run");
        tree.WriteData(run);
        BoxWatcher watcher;
        for (Step step : kSteps) EXPECT_EQ((form.R.*step)(), 0);
        EXPECT_TRUE(watcher.Stop().empty());
        for (const DataFile& file : kFiles) {
            SCOPED_TRACE(testing::PrintToString(std::wstring(file.Name)));
            EXPECT_EQ(StoredName(tree.Backup(file)), std::wstring(L"VLM_Bkp_") + file.Name);
            EXPECT_EQ(ReadBytes(tree.Backup(file)), Content(file, run));
            EXPECT_EQ(ReadBytes(tree.Source(file)), Content(file, run));
        }
        EXPECT_EQ(CountFiles(tree.Base + L"Formulare\\VLM_Bkp_*"), 6);
        EXPECT_EQ(CountFiles(tree.Base + L"Daten\\VLM_Bkp_*"), 2);
        EXPECT_EQ(CountFiles(tree.Base + L"NKK\\VLM_Bkp_*"), 4);
    }
}

TEST(FileBackups, AMissingFileEndsItsStepSilently) {
    // Each data file missing in turn: its step copies the rows before it,
    // returns 1 without a message and leaves the rows after it alone.
    for (const DataFile& missing : kFiles) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(missing.Name)));
        DataTree tree;
        tree.WriteData(0, &missing);
        Form form;
        tree.Assign(form.R.Session);
        BoxWatcher watcher;
        EXPECT_EQ((form.R.*kSteps[missing.Step])(), 1);
        EXPECT_TRUE(watcher.Stop().empty());
        bool before = true;
        for (const DataFile& file : kFiles) {
            if (&file == &missing) before = false;
            const bool copied = file.Step == missing.Step && before;
            SCOPED_TRACE(testing::PrintToString(std::wstring(file.Name)));
            EXPECT_EQ(Exists(tree.Backup(file)), copied);
            if (copied) {
                EXPECT_EQ(ReadBytes(tree.Backup(file)), Content(file, 0));
            }
        }
    }
}

// Files and folders outside the data tree that no backup may touch: a
// canary file, a folder with one inside, and the name a dangling link leads to.
struct Outside {
    std::wstring Dir;
    std::map<std::wstring, std::string> Before;
    explicit Outside(const std::wstring& dir) : Dir(dir) {
        MakeDirs(dir + L"\\Ordner");
        WriteBytes(dir + L"\\kanarie.txt", "canary");
        WriteBytes(dir + L"\\Ordner\\kanarie2.txt", "canary below");
        Before = TreeSnapshot(dir);
    }
    std::wstring Canary() const { return Dir + L"\\kanarie.txt"; }
    std::wstring Folder() const { return Dir + L"\\Ordner"; }
    std::wstring Missing() const { return Dir + L"\\neu.txt"; }
};

// The ways a name the updater writes to can have been planted.
enum class Plant { FileLink, FolderLink, DanglingLink };
const std::pair<Plant, const char*> kPlants[] = {
    {Plant::FileLink, "link to a file outside"},
    {Plant::FolderLink, "link to a folder outside"},
    {Plant::DanglingLink, "link to a name outside that does not exist yet"},
};
void PlantLink(Plant plant, const Outside& outside, const std::wstring& at) {
    switch (plant) {
        case Plant::FileLink: HostSymlink(outside.Canary(), at); break;
        case Plant::FolderLink: HostSymlink(outside.Folder(), at); break;
        case Plant::DanglingLink: HostSymlinkTo(outside.Missing(), at); break;
    }
}

TEST(FileBackups, ABackupNameThatIsALinkIsNeverWrittenThrough) {
    // The first row of each step.
    for (const DataFile* row : {&kFiles[0], &kFiles[6], &kFiles[8]}) {
        for (const auto& [plant, name] : kPlants) {
            SCOPED_TRACE(WideToUtf8(row->Name) + ", " + name);
            DataTree tree;
            tree.WriteData(0);
            const Outside outside(tree.Root / L"Draussen");
            PlantLink(plant, outside, tree.Backup(*row));
            Form form;
            tree.Assign(form.R.Session);
            BoxWatcher watcher;
            EXPECT_EQ((form.R.*kSteps[row->Step])(), 1);
            EXPECT_TRUE(watcher.Stop().empty());
            EXPECT_EQ(TreeSnapshot(outside.Dir), outside.Before);
            EXPECT_EQ(CountFiles(tree.Base + row->Folder + L"~vlm*"), 0);
        }
    }
}

TEST(FileBackups, ADataFileHeldOpenByAWriterFailsAndLeavesTheEarlierBackup) {
    DataTree tree;
    tree.WriteData(1);
    Form form;
    tree.Assign(form.R.Session);
    ASSERT_EQ(form.R.BackupFaecherkanon(), 0);
    const DataFile& table = kFiles[6];
    const auto earlier = TreeSnapshot(tree.Base + L"Daten");
    // Another program holds the new table open for writing.
    WriteBytes(tree.Source(table), Content(table, 2));
    unique_hfile held(::CreateFileW(tree.Source(table).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(form.R.BackupFaecherkanon(), 1);
    held.reset();
    auto now = TreeSnapshot(tree.Base + L"Daten");
    EXPECT_EQ(now.erase(table.Name), 1u);
    auto before = earlier;
    before.erase(table.Name);
    EXPECT_EQ(now, before);  // the earlier backups whole, no temporary file
}

TEST(FileBackups, AFullDiskLeavesTheEarlierBackupAsItWas) {
    TempDir root(L"full");
    SmallDisk disk(root / L"Klein", 4);
    if (!disk.Mounted) GTEST_SKIP() << "mounting a small file system needs the host's administrator";
    DataTree tree(disk.Folder + L"\\");
    const DataFile& table = kFiles[6];
    const DataFile& index = kFiles[7];
    WriteBytes(tree.Source(table), RandomBytes(1200 * 1024, 1));
    WriteBytes(tree.Source(index), "index");
    Form form;
    tree.Assign(form.R.Session);
    ASSERT_EQ(form.R.BackupFaecherkanon(), 0);
    // The table grew; its new copy no longer fits beside the old one.
    WriteBytes(tree.Source(table), RandomBytes(1500 * 1024, 2));
    const auto before = TreeSnapshot(tree.Base + L"Daten");
    ASSERT_LT(disk.Free(), 1500u * 1024);
    const ULONGLONG free = disk.Free();
    EXPECT_EQ(form.R.BackupFaecherkanon(), 1);
    EXPECT_EQ(TreeSnapshot(tree.Base + L"Daten"), before);
    EXPECT_EQ(disk.Free(), free);
}

TEST(FileBackups, FindDataFilesWhateverTheirLetterCase) {
    DataTree tree;
    WriteBytes(tree.Base + L"Daten\\faecherkanon.DBF", "table");
    WriteBytes(tree.Base + L"Daten\\FAECHERKANON.cdx", "index");
    Form form;
    tree.Assign(form.R.Session);
    EXPECT_EQ(form.R.BackupFaecherkanon(), 0);
    // The new copies are named as the table spells the files.
    EXPECT_EQ(StoredName(tree.Base + L"Daten\\VLM_Bkp_FAECHERKANON.dbf"), L"VLM_Bkp_FAECHERKANON.dbf");
    EXPECT_EQ(StoredName(tree.Base + L"Daten\\VLM_Bkp_FaecherKanon.cdx"), L"VLM_Bkp_FaecherKanon.cdx");
    EXPECT_EQ(ReadBytes(tree.Base + L"Daten\\VLM_Bkp_FAECHERKANON.dbf"), "table");
    EXPECT_EQ(ReadBytes(tree.Base + L"Daten\\VLM_Bkp_FaecherKanon.cdx"), "index");
}

TEST(FileBackups, DataFolderIsUsedAsStored) {
    // Without its final backslash the data folder's name is glued to the file
    // name, and the file sought beside the folder is missing.
    DataTree tree;
    tree.WriteData(0);
    Form form;
    tree.Assign(form.R.Session);
    form.R.Session.DataDir = tree.Base + L"Daten";
    EXPECT_EQ(form.R.BackupFaecherkanon(), 1);
    EXPECT_FALSE(Exists(tree.Base + L"DatenVLM_Bkp_FAECHERKANON.dbf"));
    EXPECT_FALSE(Exists(tree.Base + L"Daten\\VLM_Bkp_FAECHERKANON.dbf"));
}

// A folder path below root of exactly the given length, ending in a backslash.
std::wstring LongFolder(const std::wstring& root, size_t length) {
    std::wstring path = root + L"\\";
    while (path.size() + 31 < length) path += L"Ein_recht_langer_Ordnername_\u00e4\\";
    path.append(length - 1 - path.size(), L'x');
    return path + L"\\";
}

// What lies in Formulierungen: files directly in it (one hidden) and a
// sub-folder that must stay behind.
const std::pair<const wchar_t*, std::string> kAids[] = {
    {L"Zeugnis.txt", "neu"},
    {L"Bemerkungen \u00e4\u00f6\u00fc.rtf", std::string(3000, 'b') + "\r\n\x80\xff"},
    {L"Versteckt.txt", "versteckt"},
};

void WriteFormulierungen(const std::wstring& base) {
    const std::wstring dir = base + L"Formulierungen\\";
    MakeDirs(dir + L"Unterordner");
    for (const auto& [name, content] : kAids) WriteBytes(dir + name, content);
    ASSERT_TRUE(::SetFileAttributesW((dir + L"Versteckt.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    WriteBytes(dir + L"Unterordner\\Tief.txt", "tief");
}

// Copies of an earlier run, longer than the new files, and a file of its own.
void WriteEarlierBackup(const std::wstring& base) {
    const std::wstring dir = base + L"VLM_Bkp_Formulierungen\\";
    MakeDirs(dir);
    for (const auto& [name, content] : kAids) WriteBytes(dir + name, "fr\xc3\xbcher: " + content + content);
    ASSERT_TRUE(::SetFileAttributesW((dir + L"Versteckt.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    WriteBytes(dir + L"Frueher.txt", "bleibt");
}

TEST(BackupFormHilfePfad, CopiesTheFilesDirectlyInTheFolder) {
    struct Case {
        const char* Name;
        size_t BaseLength;  // 0: the temporary folder itself
        bool EarlierBackup;
    };
    // A base folder of 250 characters puts every copy's path beyond MAX_PATH.
    const Case cases[] = {
        {"new backup folder", 0, false},
        {"backup folder of an earlier run", 0, true},
        {"long paths, new backup folder", 250, false},
        {"long paths, backup folder of an earlier run", 250, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"bkp");
        const std::wstring base = c.BaseLength ? LongFolder(root.Path(), c.BaseLength) : root.Path() + L"\\";
        WriteFormulierungen(base);
        if (c.EarlierBackup) WriteEarlierBackup(base);
        Form form;
        form.R.Session.BaseDir = base;
        BoxWatcher watcher;
        EXPECT_EQ(form.R.BackupFormHilfePfad(), 0);
        EXPECT_TRUE(watcher.Stop().empty());

        const std::wstring backup = base + L"VLM_Bkp_Formulierungen\\";
        for (const auto& [name, content] : kAids) {
            SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
            EXPECT_TRUE(ReadBytes(backup + name) == content);
        }
        EXPECT_EQ(CountFiles(backup + L"*"), c.EarlierBackup ? 4 : 3);
        EXPECT_FALSE(Exists(backup + L"Unterordner"));
        EXPECT_FALSE(Exists(backup + L"Tief.txt"));
        if (c.EarlierBackup) {
            EXPECT_EQ(ReadBytes(backup + L"Frueher.txt"), "bleibt");
        }
    }
}

TEST(BackupFormHilfePfad, EmptySourceFolderIsCopiedAsEmpty) {
    TempDir root(L"bkp");
    MakeDirs(root / L"Formulierungen");
    Form form;
    form.R.Session.BaseDir = root.Path() + L"\\";
    BoxWatcher watcher;
    EXPECT_EQ(form.R.BackupFormHilfePfad(), 0);
    EXPECT_TRUE(watcher.Stop().empty());
    EXPECT_TRUE(DirectoryExists(root / L"VLM_Bkp_Formulierungen"));
}

TEST(BackupFormHilfePfad, MissingSourceFolderIsAFailureWithoutABox) {
    // The backup folder is made with every missing parent, but with nothing to
    // copy from, the step must not report a backup as made.
    TempDir root(L"bkp");
    const std::wstring base = root / L"neu\\tiefer\\";
    Form form;
    form.R.Session.BaseDir = base;
    BoxWatcher watcher;
    EXPECT_NE(form.R.BackupFormHilfePfad(), 0);
    EXPECT_TRUE(watcher.Stop().empty());
    EXPECT_TRUE(DirectoryExists(base + L"VLM_Bkp_Formulierungen"));
}

wchar_t UnusedDrive() {
    const DWORD drives = ::GetLogicalDrives();
    for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter)
        if (!(drives & (1u << (letter - L'A')))) return letter;
    return 0;
}

TEST(BackupFormHilfePfad, ReportsABackupFolderThatCannotBeMade) {
    const wchar_t drive = UnusedDrive();
    ASSERT_NE(drive, 0) << "no free drive letter";
    TempDir root(L"bkp");
    MakeDirs(root / L"Formulierungen");
    WriteBytes(root / L"Formulierungen\\Zeugnis.txt", "neu");
    // A file standing where the backup folder belongs.
    WriteBytes(root / L"VLM_Bkp_Formulierungen", "im Weg");

    const std::wstring bases[] = {std::wstring(1, drive) + L":\\nix\\", root.Path() + L"\\"};
    for (const std::wstring& base : bases) {
        SCOPED_TRACE(testing::PrintToString(base));
        Form form;
        form.R.Session.BaseDir = base;
        BoxWatcher watcher({L"OK"});
        EXPECT_EQ(form.R.BackupFormHilfePfad(), 1);
        const auto boxes = watcher.Stop();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].Title, L"Fehler");
        EXPECT_EQ(boxes[0].Text, kFolderBox);
        EXPECT_EQ(boxes[0].Buttons, std::vector<std::wstring>{L"OK"});
    }
    EXPECT_EQ(ReadBytes(root / L"VLM_Bkp_Formulierungen"), "im Weg");
}

TEST(BackupFormHilfePfad, LinksAtTheBackupAreNeverWrittenThrough) {
    for (const bool inside : {false, true}) {
        for (const auto& [plant, name] : kPlants) {
            SCOPED_TRACE(std::string(inside ? "a backup file: " : "the backup folder: ") + name);
            TempDir root(L"bkp");
            const std::wstring base = root.Path() + L"\\";
            WriteFormulierungen(base);
            const Outside outside(root / L"Draussen");
            const std::wstring backup = base + L"VLM_Bkp_Formulierungen";
            if (inside) MakeDirs(backup);
            PlantLink(plant, outside, inside ? backup + L"\\Zeugnis.txt" : backup);
            Form form;
            form.R.Session.BaseDir = base;
            BoxWatcher watcher({L"OK"});
            const int result = form.R.BackupFormHilfePfad();
            const auto boxes = watcher.Stop();
            EXPECT_NE(result, 0);
            EXPECT_EQ(TreeSnapshot(outside.Dir), outside.Before);
            if (inside) {
                EXPECT_TRUE(boxes.empty());
                EXPECT_EQ(CountFiles(backup + L"\\~vlm*"), 0);
            } else {
                // No folder of its own could be made where the link stands.
                EXPECT_EQ(result, 1);
                ASSERT_EQ(boxes.size(), 1u);
                EXPECT_EQ(boxes[0].Text, kFolderBox);
            }
        }
    }
}

// Whether every file directly in source is in backup with its content.
bool AllCopied(const std::wstring& source, const std::wstring& backup) {
    if (!DirectoryExists(source)) return false;
    bool all = true;
    ForEachIn(source, [&](const WIN32_FIND_DATAW& data) {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return;
        const auto original = ReadBytes(source + data.cFileName);
        if (!original || ReadBytes(backup + data.cFileName) != original) all = false;
    });
    return all;
}

TEST(BackupFormHilfePfad, SucceedsExactlyWhenEveryFileIsInTheBackup) {
    struct Case {
        const char* Name;
        std::function<void(const std::wstring& source, const std::wstring& backup)> Prepare;
        bool Fails;
    };
    unique_hfile held;
    const Case cases[] = {
        {"a file held open without sharing",
         [&](const std::wstring& source, const std::wstring&) {
             held.reset(::CreateFileW((source + L"Zeugnis.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
             ASSERT_TRUE(held);
         },
         true},
        {"a read-only backup folder",
         [](const std::wstring&, const std::wstring& backup) {
             MakeDirs(backup);
             WriteBytes(backup + L"Zeugnis.txt", "alt");
             ASSERT_TRUE(::SetFileAttributesW(backup.c_str(), FILE_ATTRIBUTE_READONLY));
         },
         false},
        {"read-only copies of an earlier run",
         [](const std::wstring&, const std::wstring& backup) {
             MakeDirs(backup);
             WriteBytes(backup + L"Zeugnis.txt", "alt");
             ASSERT_TRUE(::SetFileAttributesW((backup + L"Zeugnis.txt").c_str(), FILE_ATTRIBUTE_READONLY));
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"bkp");
        const std::wstring base = root.Path() + L"\\";
        WriteFormulierungen(base);
        const std::wstring source = base + L"Formulierungen\\", backup = base + L"VLM_Bkp_Formulierungen\\";
        c.Prepare(source, backup);
        Form form;
        form.R.Session.BaseDir = base;
        BoxWatcher watcher;
        const int result = form.R.BackupFormHilfePfad();
        EXPECT_TRUE(watcher.Stop().empty());
        held.reset();
        if (c.Fails) {
            EXPECT_NE(result, 0);
        }
        EXPECT_EQ(result == 0, AllCopied(source, backup));
        EXPECT_EQ(CountFiles(backup + L"~vlm*"), 0);
        ::SetFileAttributesW(backup.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::SetFileAttributesW((backup + L"Zeugnis.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST(BackupFormHilfePfad, AFullDiskIsAFailure) {
    TempDir root(L"full");
    SmallDisk disk(root / L"Klein", 4);
    if (!disk.Mounted) GTEST_SKIP() << "mounting a small file system needs the host's administrator";
    const std::wstring base = disk.Folder + L"\\";
    const std::wstring source = base + L"Formulierungen\\", backup = base + L"VLM_Bkp_Formulierungen\\";
    MakeDirs(source);
    // Thirty files of 100 KiB: a third of them do not fit a second time.
    for (int i = 0; i < 30; ++i)
        WriteBytes(source + L"Hilfe" + std::to_wstring(i) + L".rtf", RandomBytes(100 * 1024, 10 + i));
    Form form;
    form.R.Session.BaseDir = base;
    BoxWatcher watcher;
    const int result = form.R.BackupFormHilfePfad();
    EXPECT_TRUE(watcher.Stop().empty());
    EXPECT_NE(result, 0);
    EXPECT_FALSE(AllCopied(source, backup));
    EXPECT_EQ(CountFiles(backup + L"~vlm*"), 0);
}

TEST(CopyFolder, CopiesFilesAndSubfoldersOnlyWhenAsked) {
    struct Case {
        const char* Name;
        size_t SourceLength;       // 0: short
        size_t DestinationLength;  // 0: short
    };
    const Case cases[] = {
        {"short paths", 0, 0},
        // "*.*" takes the source text past 256 characters while every file's
        // path stays short enough for the shell.
        {"source pattern of 257 characters", 254, 0},
        {"destination paths beyond MAX_PATH", 0, 262},
        // With one-letter names the copies directly in the destination have
        // paths of exactly MAX_PATH characters, the shortest the shell fails on.
        {"destination paths of exactly MAX_PATH characters", 0, MAX_PATH - 2},
    };
    for (const Case& c : cases) {
        for (const bool subfolders : {false, true}) {
            SCOPED_TRACE(std::string(c.Name) + (subfolders ? ", with subfolders" : ", files only"));
            TempDir root(L"bkp");
            const std::wstring source = c.SourceLength ? LongFolder(root / L"q", c.SourceLength) : root / L"q\\";
            std::wstring destination =
                c.DestinationLength ? LongFolder(root / L"z", c.DestinationLength + 1) : root / L"z\\";
            destination.pop_back();
            MakeDirs(source + L"u");
            MakeDirs(destination);
            WriteBytes(source + L"a", "oben");
            WriteBytes(source + L"h", "versteckt");
            ASSERT_TRUE(::SetFileAttributesW((source + L"h").c_str(), FILE_ATTRIBUTE_HIDDEN));
            WriteBytes(source + L"u\\t", "unten");
            WriteBytes(destination + L"\\a", "alt und l\xc3\xa4nger");
            Form form;
            EXPECT_EQ(form.R.CopyFolder(source, destination, subfolders), 0);
            EXPECT_EQ(ReadBytes(destination + L"\\a"), "oben");
            EXPECT_EQ(ReadBytes(destination + L"\\h"), "versteckt");
            EXPECT_EQ(Exists(destination + L"\\u\\t"), subfolders);
            if (subfolders) {
                EXPECT_EQ(ReadBytes(destination + L"\\u\\t"), "unten");
            }
            EXPECT_FALSE(Exists(destination + L"\\t"));
        }
    }
}

TEST(CopyFolder, FailuresAreNotReportedAsSuccess) {
    TempDir root(L"bkp");
    MakeDirs(root / L"q");
    WriteBytes(root / L"q\\a", "oben");
    MakeDirs(root / L"z");
    // A file standing where a long destination folder belongs.
    const std::wstring blocked = LongFolder(root / L"lang", 262);
    MakeDirs(blocked);
    WriteBytes(blocked + L"ziel", "im Weg");
    const std::pair<std::wstring, std::wstring> cases[] = {
        {root / L"fehlt\\", root / L"z"},
        {root / L"q\\", blocked + L"ziel"},
    };
    for (const auto& [source, destination] : cases) {
        SCOPED_TRACE(testing::PrintToString(source + L" -> " + destination));
        Form form;
        BoxWatcher watcher;
        EXPECT_NE(form.R.CopyFolder(source, destination, false), 0);
        EXPECT_TRUE(watcher.Stop().empty());
    }
    EXPECT_EQ(ReadBytes(blocked + L"ziel"), "im Weg");
    EXPECT_EQ(CountFiles(root / L"z\\*"), 0);
}

}  // namespace
