// Reading our archives back and restoring a program folder from them, against
// real folders: what comes back, what is refused, and that nothing is ever
// written outside the folder or left half written.
#include <gtest/gtest.h>
#include <zlib.h>
#include <algorithm>
#include <functional>
#include <map>
#include "Archive.h"
#include "Fehler.h"
#include "Restore.h"
#include "TestFiles.h"
#include "ZipReader.h"
#include "ZipWriter.h"

using namespace vlmtest;

namespace {

// A last-write time on an even second, which the archive's MS-DOS time keeps exactly.
void SetTime(const std::wstring& path, int day) {
    SYSTEMTIME st{};
    st.wYear = 2024;
    st.wMonth = static_cast<WORD>(1 + day % 12);
    st.wDay = static_cast<WORD>(1 + day % 28);
    st.wHour = 9;
    st.wMinute = static_cast<WORD>(day % 60);
    st.wSecond = 42;
    SetLastWrite(path, st);
}

// Root\Prog is the program folder; Root\outside stands for everything else on
// the disk and must never change.
struct Sandbox {
    TempDir Root{L"rst"};
    std::wstring Target = Root / L"Prog";
    std::wstring Outside = Root / L"outside";
    std::wstring Archive = Target + L"\\vlmaltinst.zip";
    Sandbox() {
        MakeDirs(Target);
        MakeDirs(Outside);
        WriteBytes(Outside + L"\\canary.txt", "canary");
    }
    std::map<std::wstring, std::string> OutsideNow() const { return TreeSnapshot(Outside); }
    // Removes everything from the program folder except the named files, as
    // the archive step's deletion does.
    void Empty(const std::vector<std::wstring>& keep = {L"vlmaltinst.zip"}) const {
        ForEachIn(Target, [&](const WIN32_FIND_DATAW& fd) {
            const std::wstring name = fd.cFileName;
            if (std::find(keep.begin(), keep.end(), name) != keep.end()) return;
            const std::wstring full = Target + L"\\" + name;
            ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                ::DeleteFileW(full.c_str());
        });
    }
};

// The archive step's order on the sandbox: archive the folder, record its
// folders, empty it, put the archive in.
std::vector<FolderState> ArchiveAndEmpty(const Sandbox& s, const std::vector<std::wstring>& keep = {}) {
    const std::wstring temp = s.Root / L"run.zip";
    {
        ZipWriter zip(temp);
        DoZip(s.Target, zip);
        zip.Close();
    }
    auto folders = CaptureFolders(Folder::Open(s.Target));
    auto kept = keep;
    kept.push_back(L"vlmaltinst.zip");
    s.Empty(kept);
    EXPECT_TRUE(::MoveFileExW(temp.c_str(), s.Archive.c_str(), MOVEFILE_REPLACE_EXISTING));
    return folders;
}

// A program folder with what matters: nesting, an empty folder, a hidden
// folder, read-only, hidden and system files, a large file, a UTF-8 name.
void LayOutProgram(const Sandbox& s) {
    const std::wstring t = s.Target;
    MakeDirs(t + L"\\Hilfe\\Bilder");
    MakeDirs(t + L"\\Leer\\Auch leer");
    MakeDirs(t + L"\\Cache");
    WriteBytes(t + L"\\Velmora10.EXE", RandomBytes(700000, 1));
    WriteBytes(t + L"\\VelmStart.ini", "[Setup]\r\nIniPfad=C:\\Ini\\\r\n");
    WriteBytes(t + L"\\Hilfe\\index.htm", "<html>Hilfe</html>");
    WriteBytes(t + L"\\Hilfe\\Bilder\\logo.png", RandomBytes(3000, 2));
    WriteBytes(t + L"\\Hilfe\\\u00dcbersicht \u00e4\u00f6\u00fc.txt", "Umlaute");
    WriteBytes(t + L"\\Cache\\x.tmp", "cache");
    WriteBytes(t + L"\\Gro\u00df.dat", RandomBytes(ZipReader::ChunkSize * 3 + 17, 3));
    WriteBytes(t + L"\\leer.txt", "");
    int day = 0;
    for (const wchar_t* f :
         {L"Velmora10.EXE", L"VelmStart.ini", L"Hilfe\\index.htm", L"Hilfe\\Bilder\\logo.png",
          L"Hilfe\\\u00dcbersicht \u00e4\u00f6\u00fc.txt", L"Cache\\x.tmp", L"Gro\u00df.dat", L"leer.txt"})
        SetTime(t + L"\\" + f, ++day);
    ::SetFileAttributesW((t + L"\\Velmora10.EXE").c_str(), FILE_ATTRIBUTE_READONLY);
    ::SetFileAttributesW((t + L"\\Hilfe\\index.htm").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    ::SetFileAttributesW((t + L"\\Cache\\x.tmp").c_str(), FILE_ATTRIBUTE_SYSTEM);
    // Folders last, deepest first, as their times change with their contents.
    for (const wchar_t* d : {L"Hilfe\\Bilder", L"Hilfe", L"Leer\\Auch leer", L"Leer", L"Cache"})
        SetTime(t + L"\\" + d, ++day);
    ::SetFileAttributesW((t + L"\\Cache").c_str(), FILE_ATTRIBUTE_HIDDEN);
}

TEST(Restore, BringsBackEveryFileAndFolderAsItWas) {
    Sandbox s;
    LayOutProgram(s);
    const auto before = TreeSnapshot(s.Target);
    const auto folders = ArchiveAndEmpty(s);
    EXPECT_EQ(folders.size(), 5u);
    ASSERT_NE(TreeSnapshot(s.Target), before);
    EXPECT_EQ(RestoreFolder(Folder::Open(s.Target), folders), 0);
    EXPECT_EQ(TreeSnapshot(s.Target), before);  // the run's archive gone too
}

TEST(Restore, AnOlderArchiveInTheFolderComesBackAsItWas) {
    Sandbox s;
    LayOutProgram(s);
    {
        ZipWriter older(s.Archive);
        older.AddFile(s.Target + L"\\VelmStart.ini", L"Alt/VelmStart.ini");
        older.Close();
    }
    SetTime(s.Archive, 40);
    ::SetFileAttributesW(s.Archive.c_str(), FILE_ATTRIBUTE_READONLY);
    const auto before = TreeSnapshot(s.Target);
    const auto folders = ArchiveAndEmpty(s);
    EXPECT_EQ(RestoreFolder(Folder::Open(s.Target), folders), 0);
    EXPECT_EQ(TreeSnapshot(s.Target), before);
}

TEST(Restore, AFileTheDeletionLeftIsKeptAndNeverOverwritten) {
    struct Case {
        const char* Name;
        std::string Content;  // of the file left in the folder
        int Result;
    };
    // clang-format off
    const Case cases[] = {{"same content", "[Setup]\r\nIniPfad=C:\\Ini\\\r\n", 0},
                          {"other content", "somebody else's", 1},
                          {"same size, other content", "[Setup]\r\nIniPfad=D:\\Ini\\\r\n", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Sandbox s;
        LayOutProgram(s);
        const auto before = TreeSnapshot(s.Target);
        const auto big = ReadBytes(s.Target + L"\\Gro\u00df.dat").value();
        const auto folders = ArchiveAndEmpty(s, {L"VelmStart.ini"});
        WriteBytes(s.Target + L"\\VelmStart.ini", c.Content);
        const std::string archive = ReadBytes(s.Archive).value();
        EXPECT_EQ(RestoreFolder(Folder::Open(s.Target), folders), c.Result);
        EXPECT_EQ(ReadBytes(s.Target + L"\\VelmStart.ini"), c.Content);
        if (c.Result == 0) continue;
        // Everything else came back; the archive stays, complete.
        EXPECT_EQ(ReadBytes(s.Archive), archive);
        EXPECT_EQ(ReadBytes(s.Target + L"\\Gro\u00df.dat"), big);
        EXPECT_EQ(TreeSnapshot(s.Target).size(), before.size() + 1);
    }
}

TEST(Restore, AFileHeldOpenInTheWayFailsAndKeepsTheArchive) {
    Sandbox s;
    LayOutProgram(s);
    const auto folders = ArchiveAndEmpty(s, {L"VelmStart.ini"});
    const std::string archive = ReadBytes(s.Archive).value();
    // Another program holds the start ini open and lets nobody else in.
    HANDLE held = ::CreateFileW((s.Target + L"\\VelmStart.ini").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_NE(RestoreFolder(Folder::Open(s.Target), folders), 0);
    ::CloseHandle(held);
    EXPECT_EQ(ReadBytes(s.Archive), archive);
    EXPECT_TRUE(Exists(s.Target + L"\\Hilfe\\Bilder\\logo.png"));
}

TEST(Restore, AnArchiveHeldOpenByAnotherWriterIsNotRead) {
    Sandbox s;
    LayOutProgram(s);
    const auto folders = ArchiveAndEmpty(s);
    HANDLE held = ::CreateFileW(s.Archive.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_NE(RestoreFolder(Folder::Open(s.Target), folders), 0);
    ::CloseHandle(held);
    EXPECT_TRUE(Exists(s.Archive));
    EXPECT_EQ(TreeSnapshot(s.Target).size(), 1u);
}

TEST(Restore, KnowsWhichEntryNamesStandForAPathBelowTheFolder) {
    const struct {
        const wchar_t* Name;
        const wchar_t* Relative;  // empty: refused
    } cases[] = {
        {L"Prog/a.txt", L"a.txt"},
        {L"Prog/Hilfe/Bilder/logo.png", L"Hilfe\\Bilder\\logo.png"},
        {L"Prog/.versteckt/x y.txt", L".versteckt\\x y.txt"},
        {L"Prog/\u00dcbersicht.txt", L"\u00dcbersicht.txt"},
        {L"Prog/a..b.txt", L"a..b.txt"},
        {L"Prog/CONFIG.SYS", L"CONFIG.SYS"},
        {L"Prog", L""},
        {L"Prog/", L""},
        {L"Prog/Hilfe/", L""},
        {L"/Prog/a.txt", L""},
        {L"Prog//a.txt", L""},
        {L"Prog/../a.txt", L""},
        {L"Prog/Hilfe/../../a.txt", L""},
        {L"../Prog/a.txt", L""},
        {L"Prog/./a.txt", L""},
        {L"C:/Windows/a.txt", L""},
        {L"Prog/C:/a.txt", L""},
        {L"Prog/C:a.txt", L""},
        {L"Prog/a.txt:Strom", L""},
        {L"Prog\\..\\a.txt", L""},
        {L"Prog/Hilfe\\..\\..\\a.txt", L""},
        {L"\\\\?\\C:\\a.txt", L""},
        {L"Prog/a*.txt", L""},
        {L"Prog/a?.txt", L""},
        {L"Prog/a|b", L""},
        {L"Prog/a\x01.txt", L""},
        {L"Prog/a.", L""},
        {L"Prog/a ", L""},
        {L"Prog/NUL", L""},
        {L"Prog/nul.txt", L""},
        {L"Prog/COM1.log", L""},
        {L"Prog/lpt9", L""},
        {L"Prog/CON /x", L""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Name)));
        EXPECT_EQ(EntryPath(c.Name), c.Relative);
    }
}

// ---- Archives built byte by byte, for what ZipWriter never writes. ----

struct RawEntry {
    std::string Name;
    std::string Content;
    bool Zip64 = false;  // sizes in a Zip64 extra, as for a file over 4 GiB
};

void Put(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

std::string RawDeflate(const std::string& data) {
    z_stream zs{};
    deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, data.size()) + 16, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

// Our format, laid out the way ZipWriter lays it out, with Zip64 where asked.
std::string BuildArchive(const std::vector<RawEntry>& entries, bool zip64End = false) {
    std::string out, central;
    for (const auto& e : entries) {
        const std::string data = RawDeflate(e.Content);
        const auto crc =
            crc32(0, reinterpret_cast<const Bytef*>(e.Content.data()), static_cast<uInt>(e.Content.size()));
        const std::uint64_t offset = out.size();
        auto fields = [&](std::string& r) {
            Put(r, e.Zip64 ? 45 : 20, 2);
            Put(r, 0x0800, 2);
            Put(r, 8, 2);
            Put(r, 0x4800, 2);                    // 09:00:00
            Put(r, (44 << 9) | (3 << 5) | 7, 2);  // 2024-03-07
            Put(r, crc, 4);
            Put(r, e.Zip64 ? 0xFFFFFFFF : data.size(), 4);
            Put(r, e.Zip64 ? 0xFFFFFFFF : e.Content.size(), 4);
            Put(r, e.Name.size(), 2);
        };
        std::string extra;
        if (e.Zip64) {
            Put(extra, 1, 2);
            Put(extra, 16, 2);
            Put(extra, e.Content.size(), 8);
            Put(extra, data.size(), 8);
        }
        Put(out, 0x04034b50, 4);
        fields(out);
        Put(out, extra.size(), 2);
        out += e.Name + extra + data;
        Put(central, 0x02014b50, 4);
        Put(central, 20, 2);
        fields(central);
        Put(central, extra.size(), 2);
        Put(central, 0, 2);
        Put(central, 0, 2);
        Put(central, 0, 2);
        Put(central, FILE_ATTRIBUTE_ARCHIVE, 4);
        Put(central, offset, 4);
        central += e.Name + extra;
    }
    const std::uint64_t dirOffset = out.size();
    out += central;
    if (zip64End) {
        const std::uint64_t record = out.size();
        Put(out, 0x06064b50, 4);
        Put(out, 44, 8);
        Put(out, 20, 2);
        Put(out, 45, 2);
        Put(out, 0, 8);
        Put(out, entries.size(), 8);
        Put(out, entries.size(), 8);
        Put(out, central.size(), 8);
        Put(out, dirOffset, 8);
        Put(out, 0x07064b50, 4);
        Put(out, 0, 4);
        Put(out, record, 8);
        Put(out, 1, 4);
    }
    Put(out, 0x06054b50, 4);
    Put(out, 0, 4);
    Put(out, zip64End ? 0xFFFF : entries.size(), 2);
    Put(out, zip64End ? 0xFFFF : entries.size(), 2);
    Put(out, zip64End ? 0xFFFFFFFF : central.size(), 4);
    Put(out, zip64End ? 0xFFFFFFFF : dirOffset, 4);
    Put(out, 0, 2);
    return out;
}

std::size_t CentralOffset(const std::string& zip) {
    return static_cast<std::size_t>(
        static_cast<unsigned char>(zip[zip.size() - 6]) | static_cast<unsigned char>(zip[zip.size() - 5]) << 8 |
        static_cast<unsigned char>(zip[zip.size() - 4]) << 16 | static_cast<unsigned char>(zip[zip.size() - 3]) << 24);
}

void Poke16(std::string& zip, std::size_t at, std::uint16_t value) {
    zip[at] = static_cast<char>(value);
    zip[at + 1] = static_cast<char>(value >> 8);
}

TEST(ZipReader, ReadsWhatZipWriterWrites) {
    Sandbox s;
    LayOutProgram(s);
    const std::wstring path = s.Root / L"a.zip";
    {
        ZipWriter zip(path, 4096);  // small buffers: headers patched on disk as well
        DoZip(s.Target, zip);
        zip.Close();
    }
    ZipReader reader(path);
    std::vector<std::wstring> names;
    for (const auto& e : reader.Entries()) names.push_back(e.WideName);
    EXPECT_EQ(names,
              (std::vector<std::wstring>{L"Prog/Cache/x.tmp", L"Prog/Hilfe/Bilder/logo.png", L"Prog/Hilfe/index.htm",
                                         L"Prog/Hilfe/\u00dcbersicht \u00e4\u00f6\u00fc.txt", L"Prog/Gro\u00df.dat",
                                         L"Prog/leer.txt", L"Prog/Velmora10.EXE", L"Prog/VelmStart.ini"}));
    for (const auto& e : reader.Entries()) {
        SCOPED_TRACE(testing::PrintToString(e.WideName));
        std::wstring file = s.Target + L"\\" + e.WideName.substr(5);
        std::replace(file.begin(), file.end(), L'/', L'\\');
        std::string content;
        EXPECT_TRUE(reader.Extract(e, [&](const unsigned char* p, std::size_t n) {
            content.append(reinterpret_cast<const char*>(p), n);
            return true;
        }));
        EXPECT_EQ(content, ReadBytes(file).value());
        EXPECT_EQ(e.Attributes, ::GetFileAttributesW(file.c_str()));
    }
}

TEST(ZipReader, ReadsZip64RecordsAndExtraFields) {
    const std::string big = RandomBytes(ZipReader::ChunkSize + 5, 9);
    for (const bool zip64End : {false, true}) {
        SCOPED_TRACE(zip64End ? "Zip64 end record" : "classic end record");
        TempDir root{L"z64"};
        WriteBytes(root / L"a.zip", BuildArchive({{"Prog/a.txt", "abc", true}, {"Prog/b.bin", big, false}}, zip64End));
        ZipReader reader(root / L"a.zip");
        ASSERT_EQ(reader.Entries().size(), 2u);
        EXPECT_EQ(reader.Entries()[0].Uncompressed, 3u);
        std::string content;
        for (const auto& e : reader.Entries())
            reader.Extract(e, [&](const unsigned char* p, std::size_t n) {
                content.append(reinterpret_cast<const char*>(p), n);
                return true;
            });
        EXPECT_EQ(content, "abc" + big);
    }
}

TEST(Restore, RefusesDamagedOrForeignArchivesWithoutWritingAnything) {
    // Each case damages a valid two-entry archive the way a reader must catch.
    // An archive whose records are damaged is refused as a whole; an entry
    // whose data is damaged is refused alone.
    const std::vector<RawEntry> entries = {{"Prog/a.txt", "erster Eintrag"},
                                           {"Prog/Hilfe/b.txt", RandomBytes(5000, 4)}};
    const std::string valid = BuildArchive(entries);
    const std::size_t central = CentralOffset(valid);
    const std::size_t second = 30 + entries[0].Name.size() + RawDeflate(entries[0].Content).size();
    struct Case {
        const char* Name;
        std::function<void(std::string&)> Damage;
    };
    // clang-format off
    const Case cases[] = {
        {"empty file", [](std::string& z) { z.clear(); }},
        {"cut in the end record", [](std::string& z) { z.pop_back(); }},
        {"cut before the central directory", [&](std::string& z) { z.resize(central); }},
        {"a comment after the end record", [](std::string& z) { z[z.size() - 2] = 3; z += "abc"; }},
        {"stored (method 0)", [&](std::string& z) { Poke16(z, 8, 0); Poke16(z, central + 10, 0); }},
        {"bzip2 (method 12) in both records", [&](std::string& z) { Poke16(z, 8, 12); Poke16(z, central + 10, 12); }},
        {"local method differs", [](std::string& z) { Poke16(z, 8, 0); }},
        {"encrypted", [&](std::string& z) { Poke16(z, 6, 0x0801); Poke16(z, central + 8, 0x0801); }},
        {"data descriptor", [&](std::string& z) { Poke16(z, 6, 0x0808); Poke16(z, central + 8, 0x0808); }},
        {"name not flagged UTF-8", [&](std::string& z) { Poke16(z, 6, 0); Poke16(z, central + 8, 0); }},
        {"wrong CRC in both records",
         [&](std::string& z) { z[14] ^= 1; z[central + 16] ^= 1; }},
        {"local CRC differs", [](std::string& z) { z[14] ^= 1; }},
        {"damaged deflate data",
         [&](std::string& z) {
             const std::size_t data = second + 30 + entries[1].Name.size();
             for (std::size_t i = data + 100; i < data + 120; ++i) z[i] ^= 0x5A;
         }},
        {"size stated wrong in both records",
         [&](std::string& z) { z[second + 22] ^= 1; z[central + 46 + entries[0].Name.size() + 24] ^= 1; }},
        {"second disk", [](std::string& z) { Poke16(z, z.size() - 18, 1); }},
        {"entry count too high", [](std::string& z) { Poke16(z, z.size() - 14, 3); Poke16(z, z.size() - 12, 3); }},
        {"Unix host", [&](std::string& z) { Poke16(z, central + 4, 0x0314); }},
        {"local header offset points past the data", [&](std::string& z) { z[central + 42] = 5; }},
        {"invalid UTF-8 (overlong dots)",
         [&](std::string& z) {
             // "Prog/a.txt" becomes "Prog/\xC0\xAE\xC0\xAEx" in both records.
             for (std::size_t at : {std::size_t{30}, central + 46}) z.replace(at + 5, 5, "\xC0\xAE\xC0\xAExx", 5);
         }},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Sandbox s;
        std::string damaged = valid;
        c.Damage(damaged);
        WriteBytes(s.Archive, damaged);
        const auto outside = s.OutsideNow();
        EXPECT_NE(RestoreFolder(Folder::Open(s.Target), {}), 0);
        EXPECT_EQ(ReadBytes(s.Archive), damaged);
        EXPECT_EQ(s.OutsideNow(), outside);
        // Nothing half written: only entries that were checked completely.
        for (const auto& [name, content] : TreeSnapshot(s.Target)) {
            if (name.rfind(L"vlmaltinst.zip", 0) == 0 || name.rfind(L"Hilfe", 0) == 0) continue;
            EXPECT_EQ(name.rfind(L"a.txt", 0), 0u) << testing::PrintToString(name);
        }
        EXPECT_FALSE(Exists(s.Target + L"\\a.txt") && ReadBytes(s.Target + L"\\a.txt") != entries[0].Content);
        EXPECT_FALSE(Exists(s.Target + L"\\Hilfe\\b.txt") &&
                     ReadBytes(s.Target + L"\\Hilfe\\b.txt") != entries[1].Content);
    }
}

TEST(Restore, HostileEntryNamesWriteNothingOutsideTheFolder) {
    const char* names[] = {
        "Prog/../outside/evil.txt",
        "Prog/Hilfe/../../outside/evil.txt",
        "../outside/evil.txt",
        "/outside/evil.txt",
        "Prog/..\\outside\\evil.txt",
        "Prog//evil.txt",
        "Prog/evil.txt:Strom",
        "Prog/NUL.txt",
        "C:/evil.txt",
    };
    for (const char* name : names) {
        SCOPED_TRACE(name);
        Sandbox s;
        const std::string archive = BuildArchive({{"Prog/gut.txt", "gut"}, {name, "evil"}});
        WriteBytes(s.Archive, archive);
        const auto outside = s.OutsideNow();
        EXPECT_NE(RestoreFolder(Folder::Open(s.Target), {}), 0);
        EXPECT_EQ(s.OutsideNow(), outside);
        EXPECT_EQ(ReadBytes(s.Archive), archive);
        // The other entry is restored; the hostile one nowhere.
        const auto inside = TreeSnapshot(s.Target);
        EXPECT_EQ(inside.size(), 2u);
        EXPECT_EQ(ReadBytes(s.Target + L"\\gut.txt"), "gut");
        EXPECT_FALSE(Exists(s.Root / L"evil.txt"));
        EXPECT_FALSE(Exists(s.Target + L"\\evil.txt"));
    }
}

TEST(Restore, AnEntryThroughAFileWhereAFolderShouldBeFails) {
    Sandbox s;
    WriteBytes(s.Target + L"\\Hilfe", "a file, not a folder");
    WriteBytes(s.Archive, BuildArchive({{"Prog/Hilfe/b.txt", "b"}}));
    EXPECT_NE(RestoreFolder(Folder::Open(s.Target), {}), 0);
    EXPECT_EQ(ReadBytes(s.Target + L"\\Hilfe"), "a file, not a folder");
    EXPECT_TRUE(Exists(s.Archive));
}

// A folder's own attributes and last-write time.
std::string Stamp(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return "missing";
    return std::to_string(data.dwFileAttributes) + " " + std::to_string(data.ftLastWriteTime.dwHighDateTime) + ":" +
           std::to_string(data.ftLastWriteTime.dwLowDateTime);
}

TEST(Restore, LinksPlantedBeforeTheRestoreGetNothing) {
    // Anybody may write to the emptied folder before the restore comes.
    struct Case {
        const char* Name;
        std::function<void(const Sandbox&)> Plant;
    };
    const Case cases[] = {
        {"folder with files re-created as a link",
         [](const Sandbox& s) { HostSymlink(s.Outside, s.Target + L"\\Hilfe"); }},
        {"empty folder re-created as a link",
         [](const Sandbox& s) {
             MakeDirs(s.Target + L"\\Leer");
             HostSymlink(s.Outside, s.Target + L"\\Leer\\Auch leer");
         }},
        {"file re-created as a link",
         [](const Sandbox& s) { HostSymlink(s.Outside + L"\\canary.txt", s.Target + L"\\leer.txt"); }},
        {"archive replaced by a link",
         [](const Sandbox& s) {
             const std::wstring copy = s.Outside + L"\\copy.zip";
             ASSERT_TRUE(::MoveFileW(s.Archive.c_str(), copy.c_str()));
             HostSymlink(copy, s.Archive);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Sandbox s;
        LayOutProgram(s);
        const auto folders = ArchiveAndEmpty(s);
        c.Plant(s);
        ::SetFileAttributesW(s.Outside.c_str(), FILE_ATTRIBUTE_NORMAL);
        const auto outside = s.OutsideNow();
        const std::string outsideStamp = Stamp(s.Outside);
        EXPECT_EQ(RestoreFolder(Folder::Open(s.Target), folders), 1);
        EXPECT_EQ(s.OutsideNow(), outside);
        EXPECT_EQ(Stamp(s.Outside), outsideStamp);
        EXPECT_TRUE(Exists(s.Archive));
    }
}

TEST(Restore, AMissingArchiveOrARootFolderIsAFailure) {
    Sandbox s;
    EXPECT_NE(RestoreFolder(Folder::Open(s.Target), {}), 0);
    WriteBytes(s.Archive, BuildArchive({{"C/x.txt", "x"}}));
    EXPECT_NE(RestoreFolder(Folder::Open(L"C:\\"), {}), 0);
    EXPECT_FALSE(Exists(L"C:\\x.txt"));
}

}  // namespace
