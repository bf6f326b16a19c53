// The in-progress mark read back as the next start reads it, and the removal of
// an interrupted run's leftovers.
#include <gtest/gtest.h>
#include <algorithm>
#include "InProgress.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

TEST(InProgressMark, NamesItsArchiveAndTheFolders) {
    TempDir root(L"mark");
    const std::wstring dir = root.Path();
    WriteBytes(dir + L"\\vlmaltinst.zip", "archive of this run");
    const std::vector<FolderState> folders = {
        {L"Hilfe", FILE_ATTRIBUTE_DIRECTORY, FILETIME{0x11111111, 0x01d9a000}},
        {L"Hilfe\\Bilder mit Blank", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN, FILETIME{7, 0x01d9a001}},
        {L"F\u00e4cher \u2013 \u00dcbersicht", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY, FILETIME{}},
    };
    WriteMark(Folder::Open(dir), folders);
    EXPECT_EQ(NamesIn(dir), (std::vector<std::wstring>{L"vlmaltinst.lauf", L"vlmaltinst.zip"}));

    MarkSeen seen = ReadMark(Folder::Open(dir));
    EXPECT_TRUE(seen.Present && seen.Readable && seen.ArchiveIsTheRunsOwn);
    ASSERT_EQ(seen.Folders.size(), folders.size());
    for (std::size_t i = 0; i < folders.size(); ++i) {
        EXPECT_EQ(seen.Folders[i].Relative, folders[i].Relative);
        EXPECT_EQ(seen.Folders[i].Attributes, folders[i].Attributes);
        EXPECT_EQ(::CompareFileTime(&seen.Folders[i].LastWrite, &folders[i].LastWrite), 0);
    }

    struct Case {
        const char* Name;
        void (*Change)(const std::wstring& dir);
        bool Present, Readable, Own;
    };
    const Case cases[] = {
        // What the restore does last: the archive deleted, or replaced by the
        // older archive that was in the folder (same size, even).
        {"archive deleted", [](const std::wstring& d) { ::DeleteFileW((d + L"\\vlmaltinst.zip").c_str()); }, true, true,
         false},
        {"archive replaced",
         [](const std::wstring& d) {
             WriteBytes(d + L"\\older.zip", "archive of the past");
             ::MoveFileExW((d + L"\\older.zip").c_str(), (d + L"\\vlmaltinst.zip").c_str(), MOVEFILE_REPLACE_EXISTING);
         },
         true, true, false},
        {"mark cut short",
         [](const std::wstring& d) {
             const std::string text = ReadBytes(d + L"\\vlmaltinst.lauf").value();
             WriteBytes(d + L"\\vlmaltinst.lauf", text.substr(0, text.size() - 4));
         },
         true, false, false},
        {"mark of another format", [](const std::wstring& d) { WriteBytes(d + L"\\vlmaltinst.lauf", "x\nend\n"); },
         true, false, false},
        {"no mark", [](const std::wstring& d) { EXPECT_TRUE(RemoveMark(Folder::Open(d))); }, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir again(L"mark");
        WriteBytes(again.Path() + L"\\vlmaltinst.zip", "archive of this run");
        WriteMark(Folder::Open(again.Path()), folders);
        c.Change(again.Path());
        seen = ReadMark(Folder::Open(again.Path()));
        EXPECT_EQ(seen.Present, c.Present);
        EXPECT_EQ(seen.Readable, c.Readable);
        EXPECT_EQ(seen.ArchiveIsTheRunsOwn, c.Own);
    }
}

TEST(InProgressLeftovers, OnlyTheRunsOwnPatternsGo) {
    TempDir root(L"left");
    const std::wstring dir = root / L"Prog";
    MakeDirs(dir + L"\\Hilfe\\Bilder");
    for (const wchar_t* name :
         {L"vlmaltinst.zip.4711.tmp", L"vlmaltinst.lauf.12.tmp", L"vlmaltinst.zip", L"vlmaltinst.zip.alt.tmp",
          L"vlmaltinst.zip.12.tmpx", L"Velmora10.EXE", L"~vlm9_3.tmp", L"Hilfe\\~vlm40_0.tmp",
          L"Hilfe\\Bilder\\~VLM40_12.TMP", L"Hilfe\\~vlmx_1.tmp", L"Hilfe\\vlmaltinst.zip.5.tmp"})
        WriteBytes(dir + L"\\" + name, "x");
    ::SetFileAttributesW((dir + L"\\vlmaltinst.zip.4711.tmp").c_str(), FILE_ATTRIBUTE_READONLY);

    // Without an interrupted restore the restore's partial files are left alone.
    RemoveLeftovers(Folder::Open(dir), false);
    EXPECT_EQ(NamesIn(dir),
              (std::vector<std::wstring>{L"Hilfe", L"Velmora10.EXE", L"vlmaltinst.zip", L"vlmaltinst.zip.12.tmpx",
                                         L"vlmaltinst.zip.alt.tmp", L"~vlm9_3.tmp"}));
    EXPECT_EQ(NamesIn(dir + L"\\Hilfe").size(), 4u);

    RemoveLeftovers(Folder::Open(dir), true);
    EXPECT_EQ(NamesIn(dir), (std::vector<std::wstring>{L"Hilfe", L"Velmora10.EXE", L"vlmaltinst.zip",
                                                       L"vlmaltinst.zip.12.tmpx", L"vlmaltinst.zip.alt.tmp"}));
    EXPECT_EQ(NamesIn(dir + L"\\Hilfe"),
              (std::vector<std::wstring>{L"Bilder", L"vlmaltinst.zip.5.tmp", L"~vlmx_1.tmp"}));
    EXPECT_TRUE(NamesIn(dir + L"\\Hilfe\\Bilder").empty());
}

TEST(InProgressLeftovers, ALinkIsNeitherFollowedNorRemoved) {
    TempDir root(L"leftlink");
    const std::wstring dir = root / L"Prog", outside = root / L"draussen";
    MakeDirs(dir);
    MakeDirs(outside + L"\\Tief");
    WriteBytes(outside + L"\\fremd.dat", "somebody's");
    WriteBytes(outside + L"\\Tief\\~vlm1_1.tmp", "somebody's");
    // Links with the leftovers' names, to a file and to a folder outside.
    ASSERT_EQ(RunHostCommand(L"/bin/ln -s '" + HostPath(outside + L"\\fremd.dat") + L"' '" +
                             HostPath(dir + L"\\vlmaltinst.zip.77.tmp") + L"'"),
              0);
    ASSERT_EQ(
        RunHostCommand(L"/bin/ln -s '" + HostPath(outside + L"\\Tief") + L"' '" + HostPath(dir + L"\\Tief") + L"'"), 0);
    RemoveLeftovers(Folder::Open(dir), true);
    EXPECT_EQ(ReadBytes(outside + L"\\fremd.dat"), "somebody's");
    EXPECT_EQ(ReadBytes(outside + L"\\Tief\\~vlm1_1.tmp"), "somebody's");
}

}  // namespace
