// The archive step against real folders: what it leaves behind when it
// succeeds, and that a failure before the archive is complete deletes nothing.
// The archives themselves are read back by independent readers in
// tests/archive/check_archives.py.
#include <gtest/gtest.h>
#include <map>
#include "Archive.h"
#include "Automation.h"
#include "Fehler.h"
#include "Haupt.h"
#include "TestFiles.h"
#include "ZipWriter.h"

using namespace vlmtest;

namespace {

// Every file and folder below dir with its content and attributes.
std::map<std::wstring, std::string> Snapshot(const std::wstring& dir, const std::wstring& rel = L"") {
    std::map<std::wstring, std::string> out;
    WIN32_FIND_DATAW fd;
    unique_hfind find(::FindFirstFileW((dir + L"\\*").c_str(), &fd));
    if (!find) return out;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring attr = L" [" + std::to_wstring(fd.dwFileAttributes) + L"]";
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[rel + name + L"\\" + attr] = "";
            for (auto& [k, v] : Snapshot(dir + L"\\" + name, rel + name + L"\\")) out[k] = v;
        } else {
            out[rel + name + attr] = ReadBytes(dir + L"\\" + name).value_or("<unreadable>");
        }
    } while (::FindNextFileW(find.get(), &fd));
    return out;
}

// The entry count of a complete archive, from its end record; -1 when the file
// does not end in one.
int ArchiveEntries(const std::wstring& path) {
    const auto bytes = ReadBytes(path);
    if (!bytes || bytes->size() < 22) return -1;
    const std::string end = bytes->substr(bytes->size() - 22);
    if (end.compare(0, 4, "PK\x05\x06") != 0) return -1;
    return static_cast<unsigned char>(end[10]) | static_cast<unsigned char>(end[11]) << 8;
}

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

struct Form {
    TFHaupt f{HauptDesign};
    Form() { f.CreateForm(::GetModuleHandleW(nullptr)); }
    int Save(const std::wstring& target) {
        f.TargetDir = target;
        return f.SaveVLMInst();
    }
};

TEST(ArchiveStep, ArchivesEmptiesAndPutsBackTheStartIniAndTheArchive) {
    Install in;
    MakeDirs(in.Target + L"\\Cache");
    ::SetFileAttributesW((in.Target + L"\\Cache").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    WriteBytes(in.Target + L"\\Cache\\x.tmp", "cache");
    WriteBytes(in.TempArchive, std::string(200000, 'o'));  // left by an earlier run: replaced
    Form form;
    EXPECT_EQ(form.Save(in.Target), 0);

    const auto left = Snapshot(in.Target);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(ReadBytes(in.Target + L"\\VelmStart.ini"), Install::kIni);
    EXPECT_EQ(ReadBytes(in.Target + L"\\vlmaltinst.zip"), ReadBytes(in.TempArchive));
    EXPECT_EQ(ArchiveEntries(in.TempArchive), 5);  // the hidden system folder's file included
    EXPECT_EQ(ReadBytes(in.Temp + L"\\VelmStart.ini"), Install::kIni);
}

TEST(ArchiveStep, OnlyAStartIniParkedByThisRunGoesBack) {
    // A start ini left in the temporary folder by an earlier run belongs to
    // another folder: it must never land in this one.
    for (const bool targetHasIni : {false, true}) {
        SCOPED_TRACE(targetHasIni ? "folder with its own start ini" : "folder without a start ini");
        Install in;
        if (!targetHasIni) ::DeleteFileW((in.Target + L"\\VelmStart.ini").c_str());
        WriteBytes(in.Temp + L"\\VelmStart.ini", "[Setup]\r\nIniPfad=D:\\Fremd\\\r\n");
        Form form;
        EXPECT_EQ(form.Save(in.Target), 0);
        EXPECT_EQ(ReadBytes(in.Target + L"\\VelmStart.ini"),
                  targetHasIni ? std::optional<std::string>(Install::kIni) : std::nullopt);
        EXPECT_EQ(Snapshot(in.Target).size(), targetHasIni ? 2u : 1u);
    }
}

TEST(ArchiveStep, AStartIniThatCannotBeParkedLeavesTheFolderUntouched) {
    // The start ini would be lost with the folder's contents.
    Install in;
    MakeDirs(in.Temp + L"\\VelmStart.ini");  // a folder where the parked copy goes
    const auto before = Snapshot(in.Target);
    Form form;
    EXPECT_EQ(form.Save(in.Target), 1);
    EXPECT_EQ(Snapshot(in.Target), before);
}

TEST(ArchiveStep, AFolderGivenWithAFinalBackslashKeepsItsNameInTheEntries) {
    Install in;
    Form form;
    EXPECT_EQ(form.Save(in.Target + L"\\"), 0);
    const auto bytes = ReadBytes(in.TempArchive).value();
    ASSERT_GT(bytes.size(), 30u);
    ASSERT_EQ(bytes.compare(0, 4, "PK\x03\x04"), 0);
    const size_t nameLength = static_cast<unsigned char>(bytes[26]) | static_cast<unsigned char>(bytes[27]) << 8;
    EXPECT_EQ(bytes.substr(30, nameLength), "Prog/Hilfe/Bilder/logo.png");
}

TEST(ArchiveStep, AFileHeldOpenForWritingLeavesTheFolderUntouched) {
    // The writer lets others read; the archive step still refuses to read a
    // file that is being written.
    Install in;
    const auto before = Snapshot(in.Target);
    HeldOpen writer(in.Target + L"\\Hilfe\\index.htm", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(writer.h);
    Form form;
    EXPECT_EQ(form.Save(in.Target), 1);
    EXPECT_EQ(Snapshot(in.Target), before);
    EXPECT_FALSE(Exists(in.Temp + L"\\VelmStart.ini"));
}

TEST(ArchiveStep, ATemporaryArchiveHeldOpenLeavesTheFolderUntouched) {
    Install in;
    WriteBytes(in.TempArchive, "held by another program");
    const auto before = Snapshot(in.Target);
    HeldOpen reader(in.TempArchive, GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(reader.h);
    Form form;
    EXPECT_EQ(form.Save(in.Target), 1);
    EXPECT_EQ(Snapshot(in.Target), before);
    EXPECT_EQ(ReadBytes(in.TempArchive), "held by another program");
}

TEST(ArchiveStep, AFailedFinalCopyIsAFailureAndKeepsTheTemporaryArchive) {
    // Another program reads the old archive in the folder: it can be archived,
    // but neither deleted nor overwritten.
    Install in;
    WriteBytes(in.Target + L"\\vlmaltinst.zip", "an earlier archive");
    HeldOpen reader(in.Target + L"\\vlmaltinst.zip", GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(reader.h);
    Form form;
    BoxWatcher watcher;  // the shell may report the file it could not delete
    EXPECT_EQ(form.Save(in.Target), 1);
    watcher.Stop();
    EXPECT_EQ(ReadBytes(in.Target + L"\\vlmaltinst.zip"), "an earlier archive");
    EXPECT_EQ(ArchiveEntries(in.TempArchive), 5);
}

TEST(ArchiveStep, RefusesAFolderWithoutParentBeforeWritingAnything) {
    // "Prog\.." names the folder holding the program folder; emptying it would
    // reach beyond the installation.
    Install in;
    const auto before = Snapshot(in.Root.Path());
    Form form;
    EXPECT_EQ(form.Save(in.Target + L"\\.."), 1);
    EXPECT_EQ(Snapshot(in.Root.Path()), before);
}

TEST(ArchiveStep, KnowsWhichFoldersHaveAParent) {
    const struct {
        const wchar_t* Dir;
        bool HasParent;
    } cases[] = {
        {L"", false},
        {L"C:", false},
        {L"C:\\", false},
        {L"\\", false},
        {L"Prog", false},
        {L"C:Prog", false},
        {L"C:/Schule/Prog", false},
        {L"\\\\server\\share", false},
        {L"\\\\server\\share\\", false},
        {L"\\\\?\\C:", false},
        {L"D:\\Schule\\Prog\\..", false},
        {L"D:\\Schule\\Prog\\.", false},
        {L"D:\\Schule\\Prog", true},
        {L"D:\\Prog", true},
        {L"D:\\Velm\\", true},
        {L"Schule\\Prog", true},
        {L"\\Prog", true},
        {L"\\\\server\\share\\Prog", true},
        {L"\\\\?\\C:\\Prog", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Dir)));
        EXPECT_EQ(HasParentFolder(c.Dir), c.HasParent);
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

TEST(ZipWriter, GivesZip64SizesToEveryFileDeflateMightGrowPast4GiB) {
    // Incompressible data grows a little when deflated, so the border lies
    // somewhat below 4 GiB.
    const std::uint64_t GiB = std::uint64_t{1} << 30, MiB = std::uint64_t{1} << 20;
    const struct {
        std::uint64_t Size;
        bool Zip64;
    } cases[] = {
        {0, false}, {GiB, false}, {4 * GiB - 2 * MiB, false}, {4 * GiB - 1 * MiB, true},
        {0xFFFFFFFF, true}, {5 * GiB, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Size);
        EXPECT_EQ(ZipWriter::NeedsZip64Sizes(c.Size), c.Zip64);
    }
}

}  // namespace
