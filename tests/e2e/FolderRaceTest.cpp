// Names of the program folder swapped for links from the host while the real
// directory updater works: a rename-exchange loop, and a watcher that swaps a
// name the moment it appears. The host ignores the platform's share modes, so
// the updater must hold through the handles it keeps alone. Each case checks
// that the canaries outside are unchanged, byte for byte and by attributes,
// and that every file of the installation is in its place or in the archive.
#include <gtest/gtest.h>
#include <windows.h>
#include <map>
#include <string>
#include <vector>
#include "ArchiveFiles.h"
#include "Automation.h"
#include "RunLogs.h"
#include "SampleInstall.h"
#include "TestFiles.h"
#include "ZipWriter.h"

using namespace vlmtest;

namespace {

std::wstring Updater() { return BinDir() + L"\\VLMUpdaterP2_11.exe"; }
std::string Host(const std::wstring& path) { return WideToUtf8(HostPath(path)); }

// A Python program of the host, run until the object goes (or for at most two
// minutes). It sees STOP (a path that appears when it is to stop) and the
// names given; it writes DONE itself on its way out, and may write HAPPENED
// once its swap took place.
class HostRace {
public:
    // names: Python names and their values (host paths through Host()).
    HostRace(const std::map<std::string, std::string>& names, const std::string& body) {
        const std::wstring stem = HostScriptStem(L"race");
        stop_ = stem + L".stop";
        done_ = stem + L".done";
        happened_ = stem + L".happened";
        ready_ = stem + L".ready";
        files_ = {stop_, done_, happened_, ready_, stem + L".py", stem + L".sh", stem + L".log"};
        // The stem is fresh within this process only: the platform reuses
        // process ids, so files of an earlier test program may stand there.
        Clean();
        std::string program = "import ctypes, os, re, sys, time\n";
        program +=
            "STOP = '" + Host(stop_) + "'\nHAPPENED = '" + Host(happened_) + "'\nREADY = '" + Host(ready_) + "'\n";
        for (const auto& [name, value] : names) program += name + " = r'" + value + "'\n";
        program +=
            "libc = ctypes.CDLL(None, use_errno=True)\n"
            "def exchange(a, b):\n"
            "    if libc.renameat2(-100, a.encode(), -100, b.encode(), 2) != 0:\n"
            "        raise OSError(ctypes.get_errno(), 'renameat2')\n"
            "def stopping(): return os.path.exists(STOP)\n"
            "def happened(): open(HAPPENED, 'w').close()\n"
            "def ready(): open(READY, 'w').close()\n"
            "deadline = time.time() + 120\n" +
            body;
        WriteBytes(stem + L".py", program);
        StartHostScript(stem + L".sh", "python3 '" + Host(stem + L".py") + "' > '" + Host(stem + L".log") +
                                           "' 2>&1\ntouch '" + Host(done_) + "'\n");
    }
    ~HostRace() {
        Stop();
        Clean();
    }
    HostRace(const HostRace&) = delete;
    HostRace& operator=(const HostRace&) = delete;
    // Tells the program to stop and waits until it has put things back.
    void Stop() {
        if (stopped_) return;
        stopped_ = true;
        WriteBytes(stop_, "");
        EXPECT_TRUE(WaitFor([&] { return Exists(done_); }, 30000)) << "the host race did not stop";
    }
    bool Happened() const { return Exists(happened_); }
    // Waits until the race is under way, so that the program started next
    // meets it.
    bool Started() const {
        return WaitFor([&] { return Exists(ready_); }, 30000);
    }

private:
    void Clean() const {
        for (const std::wstring& f : files_) ::DeleteFileW(f.c_str());
    }

    std::wstring stop_, done_, happened_, ready_;
    std::vector<std::wstring> files_;
    bool stopped_ = false;
};

// The rename-exchange loop: the folder at A and the link at B change places
// every few milliseconds; on stop the folder is back at A.
// Where the updater removed the entry at A, the loop ends there.
const std::string kExchangeLoop =
    "swapped = False\n"
    "try:\n"
    "    while not stopping() and time.time() < deadline:\n"
    "        exchange(A, B); swapped = not swapped; happened(); ready()\n"
    "        time.sleep(float(PAUSE))\n"
    "except OSError as e:\n"
    "    print(e)\n"
    "if swapped: exchange(A, B)\n";

// The watcher: the moment an entry named like PATTERN appears in FOLDER, a
// link to TARGET is renamed over it. Once.
const std::string kSwapWhenSeen =
    "pattern = re.compile(PATTERN)\n"
    "ready()\n"
    "while not stopping() and time.time() < deadline:\n"
    "    names = [n for n in os.listdir(FOLDER) if pattern.fullmatch(n)]\n"
    "    if names:\n"
    "        link = os.path.join(os.path.dirname(FOLDER), 'swap.lnk')\n"
    "        os.symlink(TARGET, link)\n"
    "        os.rename(link, os.path.join(FOLDER, names[0]))\n"
    "        happened()\n"
    "        break\n";

// What a case leaves in place to be checked afterwards: the installation's
// files with their bytes, and the outside folder with its canaries.
struct Scene {
    TempDir Root;
    SampleInstall S;
    std::wstring Outside, Park;
    std::map<std::wstring, std::string> Files, OutsideBefore;

    // copyHelp: the outside folder begins as a copy of the help folder, so
    // that nothing done there by name could tell them apart; without it, what
    // appears there by name is seen.
    explicit Scene(const wchar_t* hint, int helpPages = 0, bool copyHelp = true) : Root(hint) {
        S = LayOutSample(Root.Path(), Fixture(L"v9_2_0_15"));
        for (int i = 0; i < helpPages; ++i) {
            const std::wstring folder = S.ProgramDir + L"\\Hilfe\\Teil" + std::to_wstring(i / 100);
            if (i % 100 == 0) MakeDirs(folder);
            WriteBytes(folder + L"\\seite" + std::to_wstring(i) + L".htm", "Seite " + std::to_string(i));
        }
        Outside = Root / L"Draussen";
        Park = Root / L"Abseits";
        MakeDirs(Park);
        // Outside: maybe a copy of the help folder, empty folders and a
        // read-only canary.
        if (copyHelp) {
            EXPECT_EQ(RunHostCommand(L"cp -a \"" + HostPath(S.ProgramDir + L"\\Hilfe") + L"\" \"" + HostPath(Outside) +
                                     L"\""),
                      0);
        }
        MakeDirs(Outside + L"\\leer\\tiefer");
        WriteBytes(Outside + L"\\kanarie.txt", "canary");
        ::SetFileAttributesW((Outside + L"\\kanarie.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        Files = FilesIn(S.ProgramDir);
        OutsideBefore = TreeSnapshot(Outside);
    }

    std::wstring Archive() const { return S.ProgramDir + L"\\vlmaltinst.zip"; }

    // Whether a folder on the way to the file below the program folder is a
    // link: what lies there is not in place.
    bool ThroughLink(const std::wstring& name) const {
        for (std::size_t slash = name.find(L'\\'); slash != std::wstring::npos; slash = name.find(L'\\', slash + 1)) {
            const DWORD a = ::GetFileAttributesW((S.ProgramDir + L"\\" + name.substr(0, slash)).c_str());
            if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
        }
        return false;
    }

    // The canaries unchanged (TreeSnapshot holds attributes, times, sizes and
    // a hash of the bytes), and every file of the installation in its place or
    // in the archive, byte for byte.
    // movedFolder: a folder of the installation the race itself moved out of
    // the program folder (and movedTo, where): its files count there too.
    void ExpectIntact(const std::wstring& movedFolder = L"", const std::wstring& movedTo = L"") const {
        EXPECT_EQ(TreeSnapshot(Outside), OutsideBefore);
        EXPECT_TRUE(::GetFileAttributesW((Outside + L"\\kanarie.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
        const auto inPlace = FilesIn(S.ProgramDir);
        // A link the race left at the archive's name is no archive of ours.
        std::map<std::wstring, std::string> archived;
        try {
            if (Exists(Archive())) archived = FilesInArchive(Archive());
        } catch (...) {}
        const auto moved = movedTo.empty() ? std::map<std::wstring, std::string>() : FilesIn(movedTo);
        for (const auto& [name, bytes] : Files) {
            const auto here = inPlace.find(name);
            const auto there = archived.find(name);
            const bool inMoved = !movedFolder.empty() && name.rfind(movedFolder + L"\\", 0) == 0 &&
                                 moved.count(name.substr(movedFolder.size() + 1)) &&
                                 moved.at(name.substr(movedFolder.size() + 1)) == bytes;
            EXPECT_TRUE((here != inPlace.end() && here->second == bytes && !ThroughLink(name)) ||
                        (there != archived.end() && there->second == bytes) || inMoved)
                << testing::PrintToString(name) << " is lost";
        }
    }
};

// The help folder swapped for a link to the outside while the run walks,
// archives and empties the folder: exchanged with it again and again, or
// swapped for good once the emptying has listed the program folder and is
// busy with the folder "Anfang" before it. Nothing outside is deleted (its
// empty folders included), and what the archive missed stays in place.
TEST(FolderRace, AFolderSwappedForALinkDuringTheRunLosesNothing) {
    const std::string swapWhenEmptying =
        "ready()\n"
        "while os.path.lexists(FIRST) and not stopping() and time.time() < deadline: pass\n"
        "if not os.path.lexists(FIRST):\n"
        "    os.rename(A, B); os.symlink(OUT, A); happened()\n";
    for (const bool whenEmptying : {false, true}) {
        SCOPED_TRACE(whenEmptying ? "swapped once the emptying began" : "exchanged again and again");
        Scene scene(L"race_exchange", 1500);
        if (!whenEmptying) HostSymlink(scene.Outside, scene.Park + L"\\Hilfe");
        // Emptied before the help folder: names are taken in sorted order.
        MakeDirs(scene.S.ProgramDir + L"\\Anfang");
        for (int i = 0; i < 1500; ++i) WriteBytes(scene.S.ProgramDir + L"\\Anfang\\f" + std::to_wstring(i), "x");
        scene.Files = FilesIn(scene.S.ProgramDir);
        {
            HostRace race({{"A", Host(scene.S.ProgramDir + L"\\Hilfe")},
                           {"B", Host(scene.Park + L"\\Hilfe")},
                           {"OUT", Host(scene.Outside)},
                           {"FIRST", Host(scene.S.ProgramDir + L"\\Anfang\\f0")},
                           {"PAUSE", "0.002"}},
                          whenEmptying ? swapWhenEmptying : kExchangeLoop);
            ASSERT_TRUE(race.Started());
            Program p(Updater(), L"\"" + scene.S.ProgramDir + L"\"");
            const RunSeen end = RunThrough(p);
            race.Stop();
            EXPECT_EQ(end.Exit, 0u);
            EXPECT_TRUE(race.Happened());
        }
        scene.ExpectIntact(L"Hilfe", whenEmptying ? scene.Park + L"\\Hilfe" : L"");
    }
}

// The mark of an interrupted update, naming the archive in the folder as the
// run's own (the folders it lists come from the archive's entries).
void WriteMarkFor(const Scene& scene) {
    unique_hfile archive(::CreateFileW(scene.Archive().c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    ASSERT_TRUE(archive && ::GetFileInformationByHandle(archive.get(), &info));
    auto join = [](DWORD high, DWORD low) { return std::to_string(static_cast<unsigned long long>(high) << 32 | low); };
    WriteBytes(scene.S.ProgramDir + L"\\vlmaltinst.lauf",
               "vlmaltinst-lauf 1\narchive " + std::to_string(info.dwVolumeSerialNumber) + " " +
                   join(info.nFileIndexHigh, info.nFileIndexLow) + " " + join(info.nFileSizeHigh, info.nFileSizeLow) +
                   " " + join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime) + "\nend\n");
}

// The restore creates the help folder; the watcher swaps it for a link to the
// outside the moment something appears in it (the folder was checked by then): after an ordinary end with exit code 1,
// and during the recovery at the next start. Nothing is created outside; every file is in its place, in the archive (a
// restore that failed keeps it), or in the real folder the watcher moved away (a restore that got through it before the
// swap).
TEST(FolderRace, AFolderSwappedForALinkDuringTheRestoreGetsNothingOutside) {
    const std::string watchHelp =
        "while os.path.lexists(A) and not stopping() and time.time() < deadline: time.sleep(0.001)\n"
        "while not (os.path.isdir(A) and os.listdir(A)) and not stopping() and time.time() < deadline: pass\n"
        "if os.path.isdir(A) and not os.path.islink(A):\n"
        "    os.rename(A, B); os.symlink(OUT, A); happened()\n";
    for (const bool recovery : {false, true}) {
        SCOPED_TRACE(recovery ? "during the recovery at the next start" : "after an end with exit code 1");
        Scene scene(recovery ? L"race_recover" : L"race_restore", 400, false);
        const std::map<std::string, std::string> names = {{"A", Host(scene.S.ProgramDir + L"\\Hilfe")},
                                                          {"B", Host(scene.Park + L"\\Hilfe")},
                                                          {"OUT", Host(scene.Outside)}};
        if (recovery) {
            // A complete run empties the folder; the mark put back makes the
            // next start restore it.
            Program first(Updater(), L"\"" + scene.S.ProgramDir + L"\"");
            EXPECT_EQ(RunThrough(first).Exit, 0u);
            ASSERT_FALSE(Exists(scene.S.ProgramDir + L"\\Hilfe"));
            WriteMarkFor(scene);
        } else {
            RemoveDataFile(scene.S, L"Deckblaetter.dbf");  // the backups fail after the archive step
        }
        HostRace race(names, "ready()\n" + watchHelp);
        ASSERT_TRUE(race.Started());
        Program p(Updater(), L"\"" + scene.S.ProgramDir + L"\"");
        if (recovery) {
            // A restore that failed ends the start with 1; one that got
            // through asks for the update, and is told no.
            if (const auto box = p.WaitBox(60000)) p.Answer(L"&Nein");
            EXPECT_EQ(p.WaitExit(60000), 1u);
        } else {
            EXPECT_EQ(RunThrough(p).Exit, 1u);
        }
        race.Stop();
        EXPECT_TRUE(race.Happened());
        scene.ExpectIntact(L"Hilfe", scene.Park + L"\\Hilfe");
        // A restore that did not complete keeps its archive and its mark.
        if (Exists(scene.Archive())) {
            EXPECT_TRUE(Exists(scene.S.ProgramDir + L"\\vlmaltinst.lauf"));
        }
    }
}

// A partial archive left by a killed run, exchanged with a link to a file
// outside again and again while the next starts remove leftovers: deleted
// through the handle it was checked on, never through the link.
TEST(FolderRace, TheLeftoverRemovalDeletesOnlyThroughTheHandleItChecked) {
    Scene scene(L"race_leftover");
    // Writable, so that a deletion through the link would take it.
    WriteBytes(scene.Outside + L"\\beute.txt", "prey");
    scene.OutsideBefore = TreeSnapshot(scene.Outside);
    const std::wstring leftover = scene.S.ProgramDir + L"\\vlmaltinst.zip.4242.tmp";
    const std::wstring link = scene.Park + L"\\leftover";
    for (int start = 0; start < 6; ++start) {
        SCOPED_TRACE(start);
        // Whatever the last race left at either name goes on the host, which
        // removes a link itself; the test itself never touches those names
        // through the platform, which would follow a link.
        ASSERT_EQ(RunHostCommand(L"rm -f \"" + HostPath(leftover) + L"\" \"" + HostPath(link) + L"\""), 0);
        HostSymlink(scene.Outside + L"\\beute.txt", link);
        WriteBytes(leftover, "partial archive");
        HostRace race({{"A", Host(leftover)}, {"B", Host(link)}, {"PAUSE", "0"}}, kExchangeLoop);
        ASSERT_TRUE(race.Started());
        Program p(Updater(), L"\"" + scene.S.ProgramDir + L"\"");
        const auto box = p.WaitBox(60000);
        ASSERT_TRUE(box);
        p.Answer(L"&Nein");
        EXPECT_EQ(p.WaitExit(), 1u);
        race.Stop();
        EXPECT_TRUE(race.Happened());
        scene.ExpectIntact();
    }
}

// The watcher renames a link to the canary over the mark's or the archive's
// temporary name the moment it appears. The rename into place goes through the
// handle of the file written, and what then stands at the final name is
// checked on a fresh open: either it is that file, or the step fails and
// deletes nothing. A link never becomes the archive or the mark.
TEST(FolderRace, ALinkRenamedOverATemporaryNameFailsTheStepAndDeletesNothing) {
    struct Case {
        const char* Name;
        const char* Pattern;
    };
    const Case cases[] = {
        {"the partial archive", R"(vlmaltinst\.zip\.\d+\.tmp)"},
        {"the mark being written", R"(vlmaltinst\.lauf\.\d+\.tmp)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        // The mark is written in a moment: where the watcher came too late, the
        // case did not happen and is tried again.
        bool hit = false;
        for (int attempt = 0; attempt < 4 && !hit; ++attempt) {
            Scene scene(L"race_rename", 300);
            HostRace race({{"FOLDER", Host(scene.S.ProgramDir)},
                           {"TARGET", Host(scene.Outside + L"\\kanarie.txt")},
                           {"PATTERN", c.Pattern}},
                          kSwapWhenSeen);
            ASSERT_TRUE(race.Started());
            Program p(Updater(), L"\"" + scene.S.ProgramDir + L"\"");
            const RunSeen end = RunThrough(p);
            race.Stop();
            EXPECT_EQ(end.Exit, 0u);
            scene.ExpectIntact();
            // Either the step failed and deleted nothing, or what it renamed
            // into place is the archive it wrote: never the link.
            hit = race.Happened();
            if (Exists(scene.S.ProgramDir + L"\\Velmora10.EXE")) {
                for (const auto& [name, bytes] : scene.Files)
                    EXPECT_EQ(ReadBytes(scene.S.ProgramDir + L"\\" + name), bytes) << testing::PrintToString(name);
            } else {
                EXPECT_EQ(FilesInArchive(scene.Archive()).size(), scene.Files.size());
            }
        }
        EXPECT_TRUE(hit) << "the watcher never saw the temporary name";
    }
}

// A mark that cannot be read, and at the archive's name a link to an archive
// outside: the start names the folder in an error box, ends with 1 and changes
// nothing; nothing of the outside archive is unpacked.
TEST(FolderRace, AMarkThatCannotBeReadStopsTheStartAndChangesNothing) {
    Scene scene(L"race_mark");
    const std::wstring foreign = scene.Outside + L"\\fremd.zip";
    {
        ZipWriter zip(foreign);
        const std::wstring source = scene.Root / L"eingeschleust.txt";
        WriteBytes(source, "not ours");
        unique_hfile h(
            ::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        zip.AddFile(h.get(), 8, source, L"Programm/eingeschleust.txt");
        zip.Close();
    }
    HostSymlink(foreign, scene.S.ProgramDir + L"\\vlmaltinst.zip");
    WriteBytes(scene.S.ProgramDir + L"\\vlmaltinst.lauf", "vlmaltinst-lauf 1\narchive 1 2");
    scene.OutsideBefore = TreeSnapshot(scene.Outside);
    const auto before = TreeSnapshot(scene.S.ProgramDir);

    Program p(Updater(), L"\"" + scene.S.ProgramDir + L"\"");
    const auto box = p.WaitBox(60000);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->Text,
              L"Ein unterbrochenes Update in " + scene.S.ProgramDir + L" kann nicht fortgesetzt werden." + kAbortLine);
    p.Answer(L"OK");
    EXPECT_EQ(p.WaitExit(), 1u);
    EXPECT_EQ(TreeSnapshot(scene.S.ProgramDir), before);
    EXPECT_EQ(TreeSnapshot(scene.Outside), scene.OutsideBefore);
}

}  // namespace
