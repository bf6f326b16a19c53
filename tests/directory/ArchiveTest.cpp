// The archive step against real folders: what it leaves behind when it
// succeeds, and that a failure before the archive is complete deletes nothing.
// The archives themselves are read back by independent readers in
// tests/archive/check_archives.py.
#include <gtest/gtest.h>
#include <optional>
#include <functional>
#include <algorithm>
#include <map>
#include <vector>
#include "Archive.h"
#include "ArchiveFiles.h"
#include "DirectoryUpdater.h"
#include "Automation.h"
#include "Fehler.h"
#include "Haupt.h"
#include "InProgress.h"
#include "StepWindow.h"
#include "TestFiles.h"
#include "ZipReader.h"
#include "ZipWriter.h"

using namespace vlmtest;

namespace {

// Another program's handle on a file, with the given access and sharing.
struct HeldOpen {
    unique_hfile h;
    HeldOpen(const std::wstring& path, DWORD access, DWORD share)
        : h(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
};

// A program folder Root\Prog and a temporary folder Root\temp of its own,
// which is what TempPath reports while the test runs.
struct Install {
    TempDir Root{L"arc"};
    std::wstring Target = Root / L"Prog";
    std::wstring Temp = Root / L"temp";
    std::wstring TempArchive = Temp + L"\\vlmaltinst.zip";
    std::wstring savedTmp_, savedTemp_;

    Install() {
        MakeDirs(Target + L"\\Hilfe\\Bilder");
        MakeDirs(Temp);
        WriteBytes(Target + L"\\Velmora10.EXE", std::string(70000, 'x') + "MZ");
        WriteBytes(Target + L"\\VelmStart.ini", kIni);
        WriteBytes(Target + L"\\Hilfe\\index.htm", "<html>Hilfe</html>");
        WriteBytes(Target + L"\\Hilfe\\Bilder\\logo.png", std::string("\x89PNG\r\n\x1a\n", 8));
        savedTmp_ = Env(L"TMP");
        savedTemp_ = Env(L"TEMP");
        const std::wstring temp = Temp + L"\\";
        ::SetEnvironmentVariableW(L"TMP", temp.c_str());
        ::SetEnvironmentVariableW(L"TEMP", temp.c_str());
    }
    ~Install() {
        ::SetEnvironmentVariableW(L"TMP", savedTmp_.c_str());
        ::SetEnvironmentVariableW(L"TEMP", savedTemp_.c_str());
    }
    static std::wstring Env(const wchar_t* name) {
        wchar_t buffer[MAX_PATH * 2]{};
        ::GetEnvironmentVariableW(name, buffer, MAX_PATH * 2);
        return buffer;
    }
    static inline const std::string kIni = "[Setup]\r\nIniPfad=C:\\ProgramData\\Brellix\\Velmora\\\r\n";
};

// The archive step on a fresh window of the directory updater.
struct Form : StepRun<DirectoryUpdater> {
    int Save(const std::wstring& target) {
        R.Session.TargetDir = target;
        return P.SaveVLMInst(R);
    }
};

TEST(ArchiveStep, ArchivesEmptiesAndKeepsTheStartIniAndTheArchiveInPlace) {
    Install in;
    MakeDirs(in.Target + L"\\Cache");
    ::SetFileAttributesW((in.Target + L"\\Cache").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    WriteBytes(in.Target + L"\\Cache\\x.tmp", "cache");
    WriteBytes(in.Target + L"\\schreibgeschuetzt.txt", "read-only");
    ::SetFileAttributesW((in.Target + L"\\schreibgeschuetzt.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    // Files an earlier run or another program left in the temporary folder.
    WriteBytes(in.TempArchive, std::string(200000, 'o'));
    WriteBytes(in.Temp + L"\\VelmStart.ini", "[Setup]\r\nIniPfad=D:\\Fremd\\\r\n");
    const auto tempBefore = TreeSnapshot(in.Temp);
    Form form;
    EXPECT_EQ(form.Save(in.Target), 0);

    // The mark stays until the run ends; it names this archive and the folders.
    EXPECT_EQ(NamesIn(in.Target), (std::vector<std::wstring>{L"VelmStart.ini", L"vlmaltinst.lauf", L"vlmaltinst.zip"}));
    const MarkSeen mark = ReadMark(Folder::Open(in.Target));
    EXPECT_TRUE(mark.Readable && mark.ArchiveIsTheRunsOwn);
    EXPECT_EQ(mark.Folders.size(), 3u);  // Cache, Hilfe, Hilfe\Bilder
    EXPECT_EQ(ReadBytes(in.Target + L"\\VelmStart.ini"), Install::kIni);
    // The hidden system folder's file and the read-only file included.
    const auto entries = ArchiveNames(in.Target + L"\\vlmaltinst.zip");
    ASSERT_TRUE(entries);
    EXPECT_EQ(entries->size(), 6u);
    EXPECT_EQ(TreeSnapshot(in.Temp), tempBefore);  // nothing of this run's left, nothing of others' touched
}

TEST(ArchiveStep, AFolderWithoutAStartIniGetsNone) {
    // A start ini in the temporary folder belongs to another installation.
    Install in;
    ::DeleteFileW((in.Target + L"\\VelmStart.ini").c_str());
    WriteBytes(in.Temp + L"\\VelmStart.ini", "[Setup]\r\nIniPfad=D:\\Fremd\\\r\n");
    Form form;
    EXPECT_EQ(form.Save(in.Target), 0);
    EXPECT_EQ(NamesIn(in.Target), (std::vector<std::wstring>{L"vlmaltinst.lauf", L"vlmaltinst.zip"}));
}

TEST(ArchiveStep, AFolderGivenWithAFinalBackslashKeepsItsNameInTheEntries) {
    Install in;
    Form form;
    EXPECT_EQ(form.Save(in.Target + L"\\"), 0);
    const auto bytes = ReadBytes(in.Target + L"\\vlmaltinst.zip").value();
    ASSERT_GT(bytes.size(), 30u);
    ASSERT_EQ(bytes.compare(0, 4, "PK\x03\x04"), 0);
    const size_t nameLength = static_cast<unsigned char>(bytes[26]) | static_cast<unsigned char>(bytes[27]) << 8;
    EXPECT_EQ(bytes.substr(30, nameLength), "Prog/Hilfe/Bilder/logo.png");
}

TEST(ArchiveStep, AFileHeldOpenForWritingLeavesTheFolderUntouched) {
    // The writer lets others read; the archive step still refuses to read a
    // file that is being written.
    Install in;
    const auto before = TreeSnapshot(in.Target);
    HeldOpen writer(in.Target + L"\\Hilfe\\index.htm", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(writer.h);
    Form form;
    EXPECT_EQ(form.Save(in.Target), 1);
    EXPECT_EQ(TreeSnapshot(in.Target), before);
    EXPECT_TRUE(NamesIn(in.Temp).empty());
}

TEST(ArchiveStep, AFileThatCannotBeOpenedLeavesTheFolderUntouched) {
    // The emptying would lose a file the archive could not read.
    struct Case {
        const char* Name;
        bool Socket;  // else a file another program holds without sharing
    };
    for (const Case c : {Case{"held open without sharing", false}, Case{"a socket of the host", true}}) {
        SCOPED_TRACE(c.Name);
        Install in;
        const std::wstring path = in.Target + L"\\Hilfe\\sitzung";
        std::optional<HeldOpen> holder;
        if (c.Socket) {
            ASSERT_EQ(RunHostCommand(L"python3 -c \"import socket; socket.socket(socket.AF_UNIX).bind('" +
                                     HostPath(path) + L"')\""),
                      0);
        } else {
            WriteBytes(path, "session");
            holder.emplace(path, GENERIC_READ, 0);
            ASSERT_TRUE(holder->h);
        }
        const auto before = TreeSnapshot(in.Target);
        ASSERT_TRUE(before.count(L"Hilfe\\sitzung"));
        Form form;
        EXPECT_EQ(form.Save(in.Target), 1);
        EXPECT_EQ(TreeSnapshot(in.Target), before);
        EXPECT_TRUE(NamesIn(in.Temp).empty());
    }
}

TEST(ArchiveStep, AnArchiveThatCannotBePutInPlaceDeletesNothing) {
    // Another program reads the old archive in the folder and lets nobody
    // replace it: the new archive cannot take its name.
    Install in;
    WriteBytes(in.Target + L"\\vlmaltinst.zip", "an earlier archive");
    HeldOpen reader(in.Target + L"\\vlmaltinst.zip", GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(reader.h);
    const auto before = TreeSnapshot(in.Target);
    Form form;
    EXPECT_EQ(form.Save(in.Target), 1);
    EXPECT_EQ(TreeSnapshot(in.Target), before);  // no partial copy under any name either
    EXPECT_TRUE(NamesIn(in.Temp).empty());
}

// A file changed and closed after the walk read it, before the emptying gets
// to it: nobody holds it open any more, so only the emptying's check of its
// size and last-write time against what was archived keeps its new bytes.
// Each case changes one of the two and keeps the other.
TEST(ArchiveStep, AFileChangedAfterItWasArchivedStaysWithItsNewBytes) {
    const SYSTEMTIME archivedAt{2023, 6, 2, 13, 9, 30, 40, 0};
    struct Case {
        const char* Name;
        std::function<void(const std::wstring&)> Change;
        std::string Expected;
    };
    const Case cases[] = {
        {"appended to, its time put back",
         [&](const std::wstring& f) {
             WriteBytes(f, "old bytes and more");
             SetLastWrite(f, archivedAt);
         },
         "old bytes and more"},
        {"rewritten at the same size", [](const std::wstring& f) { WriteBytes(f, "new bytes"); }, "new bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"changed");
        const std::wstring target = root / L"Prog";
        const std::wstring file = target + L"\\Hilfe\\seite.htm", other = target + L"\\Hilfe\\andere.htm";
        MakeDirs(target + L"\\Hilfe");
        WriteBytes(file, "old bytes");
        WriteBytes(other, "unchanged");
        SetLastWrite(file, archivedAt);
        const Folder folder = Folder::Open(target, Folder::Removable);
        ASSERT_TRUE(folder);
        ArchivedFiles archived;
        {
            ZipWriter zip(root / L"run.zip");
            DoZip(folder, zip, &archived);
            zip.Close();
        }
        ASSERT_EQ(archived.size(), 2u);
        c.Change(file);
        EXPECT_EQ(DeleteFiles(folder, archived, {}), 1u);  // Hilfe, holding the changed file
        EXPECT_EQ(ReadBytes(file), c.Expected);
        EXPECT_FALSE(Exists(other));
    }
}

TEST(ArchiveStep, RefusesWhenAVelmoraFolderLiesInsideTheProgramFolder) {
    // The ini, data or temporary folder would be emptied with the program folder.
    const struct {
        const char* Field;
        std::wstring UpdateSession::*Member;
    } fields[] = {
        {"IniDir", &UpdateSession::IniDir},   {"DataDir", &UpdateSession::DataDir},
        {"BaseDir", &UpdateSession::BaseDir}, {"FormsDir", &UpdateSession::FormsDir},
        {"NkkDir", &UpdateSession::NkkDir},
    };
    for (const auto& field : fields) {
        SCOPED_TRACE(field.Field);
        Install in;
        MakeDirs(in.Target + L"\\Daten");
        WriteBytes(in.Target + L"\\Daten\\VelmUser.ini", "[Benutzer]\r\nUserZahl=0\r\n");
        const auto before = TreeSnapshot(in.Target);
        Form form;
        // Another spelling of the same folder: other letter case, "/" and "..".
        form.R.Session.*field.Member = in.Root.Path() + L"\\PROG\\Hilfe/..\\daten\\";
        EXPECT_EQ(form.Save(in.Target), 1);
        EXPECT_EQ(TreeSnapshot(in.Target), before);
        EXPECT_TRUE(NamesIn(in.Temp).empty());
    }
    Install in;
    const auto before = TreeSnapshot(in.Target);
    const std::wstring inner = in.Target + L"\\Temp\\";
    MakeDirs(inner);
    ::SetEnvironmentVariableW(L"TMP", inner.c_str());
    ::SetEnvironmentVariableW(L"TEMP", inner.c_str());
    Form form;
    EXPECT_EQ(form.Save(in.Target), 1);
    ::RemoveDirectoryW(inner.c_str());
    EXPECT_EQ(TreeSnapshot(in.Target), before);
}

TEST(ArchiveStep, NamesTheProgramFolderByItsFullPathOrRefusesIt) {
    wchar_t cwd[MAX_PATH]{};
    ::GetCurrentDirectoryW(MAX_PATH, cwd);
    const std::wstring here = cwd;
    const std::wstring drive = here.substr(0, 2);
    const struct {
        std::wstring Dir;
        std::wstring Folder;  // empty: refused
    } cases[] = {
        {L"", L""},
        {L"C:", L""},
        {L"C:\\", L""},
        {L"C:/", L""},
        {L"\\", L""},
        {L"C:Prog", L""},
        {L"E:\\Hilfe/..", L""},
        {L"E:\\Hilfe\\..\\", L""},
        {L"D:\\a\\..\\..", L""},
        {L"\\\\server\\share", L""},
        {L"\\\\server\\share\\", L""},
        {L"\\\\?\\C:", L""},
        {L"\\\\?\\C:\\", L""},
        {L"\\\\?\\UNC\\server\\share", L""},
        {L"C:/Schule/Prog", L"C:\\Schule\\Prog"},
        {L"D:\\Schule\\Prog\\..", L"D:\\Schule"},
        {L"D:\\Schule\\Prog\\.", L"D:\\Schule\\Prog"},
        {L"D:\\Velm\\", L"D:\\Velm"},
        {L"D:\\Velm\\\\", L"D:\\Velm"},
        {L"D:\\Velm/", L"D:\\Velm"},
        {L"\\\\server\\share\\Prog", L"\\\\server\\share\\Prog"},
        {L"\\\\?\\C:\\Prog", L"C:\\Prog"},
        {L"\\\\?\\UNC\\server\\share\\Prog", L"\\\\server\\share\\Prog"},
        {L"Schule\\Prog", here + L"\\Schule\\Prog"},
        {L"Prog", here + L"\\Prog"},
        {L"\\Prog", drive + L"\\Prog"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Dir));
        EXPECT_EQ(ProgramFolder(c.Dir), c.Folder);
    }
}

TEST(ArchiveStep, KnowsWhatLiesWithinAFolder) {
    const struct {
        const wchar_t* Path;
        const wchar_t* Folder;
        bool Within;
    } cases[] = {
        {L"D:\\Prog", L"D:\\Prog", true},
        {L"D:\\Prog\\", L"D:\\Prog", true},
        {L"d:\\PROG\\Daten", L"D:\\Prog", true},
        {L"D:\\Prog\\Daten\\x", L"D:\\Prog\\", true},
        {L"D:\\Programme", L"D:\\Prog", false},
        {L"D:\\Pro", L"D:\\Prog", false},
        {L"D:\\Schule", L"D:\\Schule\\Prog", false},
        {L"", L"D:\\Prog", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Path)));
        EXPECT_EQ(IsWithin(c.Path, c.Folder), c.Within);
    }
}

TEST(ZipWriter, RaisesWhenTheArchiveOrASourceCannotBeOpened) {
    TempDir root{L"zw"};
    EXPECT_THROW(ZipWriter(root / L"fehlt\\a.zip"), EFehler);
    ZipWriter archive(root / L"a.zip");
    WriteBytes(root / L"da.txt", "present");
    archive.AddFile(root / L"da.txt", L"da.txt");
    EXPECT_THROW(archive.AddFile(root / L"fehlt.txt", L"fehlt.txt"), EFehler);
    // An archive missing a file must never pass for complete.
    EXPECT_THROW(archive.AddFile(root / L"da.txt", L"noch.txt"), EFehler);
    EXPECT_THROW(archive.Close(), EFehler);
}

unique_hfile OpenForReading(const std::wstring& path) {
    return unique_hfile(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The walk hands over the handle it opened and checked: the file is read from
// its start, whatever the caller did with the file pointer.
TEST(ZipWriter, ArchivesTheHandlesItIsGivenFromTheirStart) {
    TempDir root{L"zh"};
    const std::map<std::wstring, std::string> files = {
        {L"klein.txt", "klein, aber da"},
        {L"leer.txt", ""},
        {L"gross.bin", RandomBytes(3 * ZipWriter::WholeFileLimit + 12345, 1)}};
    {
        ZipWriter archive(root / L"a.zip", ZipWriter::DefaultBufferSize, 2);
        for (const auto& [name, content] : files) {
            WriteBytes(root / name, content);
            unique_hfile source = OpenForReading(root / name);
            ASSERT_TRUE(source);
            ::SetFilePointer(source.get(), 3, nullptr, FILE_BEGIN);
            archive.AddFile(source.get(), content.size(), root / name, name);
        }
        archive.Close();
    }
    EXPECT_TRUE(ArchiveContents(root / L"a.zip") == files);
}

// A file that ends before the size it was added with is archived as read,
// with the CRC-32 of what was read: whole, and cut into blocks.
TEST(ZipWriter, ArchivesAFileShorterThanItsSizeAsRead) {
    for (const std::size_t real : {std::size_t{100}, ZipWriter::WholeFileLimit + 5000}) {
        SCOPED_TRACE(real);
        TempDir root{L"zs"};
        const std::string content = RandomBytes(real, 2);
        WriteBytes(root / L"kurz.bin", content);
        WriteBytes(root / L"danach.txt", "danach");
        {
            ZipWriter archive(root / L"a.zip");
            unique_hfile source = OpenForReading(root / L"kurz.bin");
            archive.AddFile(source.get(), 2 * real, root / L"kurz.bin", L"kurz.bin");
            archive.AddFile(root / L"danach.txt", L"danach.txt");
            archive.Close();
        }
        EXPECT_TRUE(ArchiveContents(root / L"a.zip") ==
                    (std::map<std::wstring, std::string>{{L"kurz.bin", content}, {L"danach.txt", "danach"}}));
    }
}

TEST(ZipWriter, GivesZip64SizesToEveryFileDeflateMightGrowPast4GiB) {
    // Incompressible data grows a little when deflated, so the border lies
    // somewhat below 4 GiB.
    const std::uint64_t GiB = std::uint64_t{1} << 30, MiB = std::uint64_t{1} << 20;
    const struct {
        std::uint64_t Size;
        bool Zip64;
    } cases[] = {
        {0, false},         {GiB, false},    {4 * GiB - 2 * MiB, false}, {4 * GiB - 1 * MiB, true},
        {0xFFFFFFFF, true}, {5 * GiB, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Size);
        EXPECT_EQ(ZipWriter::NeedsZip64Sizes(c.Size), c.Zip64);
    }
}

}  // namespace
