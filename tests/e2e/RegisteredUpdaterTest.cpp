// The registered-installation updater end to end: a Velmora installation
// registered with the installer in the test prefix, the real program driven as a
// person would.
#include <gtest/gtest.h>
#include "Automation.h"
#include "RunLogs.h"
#include "SampleInstall.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

const wchar_t* const kInstallProperties = kInstallPropertiesKey;
const std::vector<std::wstring>& kCompleteLog = kRegisteredRunLog;

// The sample installation, registered for all users while the object lives;
// with subdir001 its main ini lies in the ini folder's "001" sub-folder.
struct RegisteredInstall {
    TempDir Root{L"reg"};
    SampleInstall Sample;
    std::wstring ProgramDir, IniDir, BaseDir, DataDir;
    RegistryValue Registration{HKEY_LOCAL_MACHINE, kInstallProperties, L"InstallLocation", kInstallerView};

    RegisteredInstall(const std::wstring& programFixture, bool subdir001 = false, int users = 0, bool registered = true)
        : Sample(LayOutSample(Root.Path(), Fixture(programFixture), users)),
          ProgramDir(Sample.ProgramDir + L"\\"),
          IniDir(Sample.IniDir),
          BaseDir(Sample.BaseDir),
          DataDir(Sample.DataDir) {
        if (subdir001) {
            MakeDirs(IniDir + L"001");
            EXPECT_TRUE(::MoveFileW((IniDir + L"velmora.ini").c_str(), (IniDir + L"001\\velmora.ini").c_str()));
        }
        if (registered) Registration.SetString(ProgramDir);
    }
};

std::wstring Updater() { return BinDir() + L"\\VLMUpdater11.exe"; }

// Follows a run that needs no answer until the program ends.
RunSeen FollowQuietRun(Program& p, HWND main) {
    FollowOptions follow;
    follow.TimeoutMs = 30000;
    follow.PollMs = 10;
    follow.ReadLog = true;
    return FollowRun(p, main, follow);
}

RECT ClientRectOf(HWND parent, HWND child) {
    RECT r;
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TEST(RegisteredUpdater, StartsCompactAndReadsNothing) {
    // Nothing is registered: reading anything at start would show a box.
    Program p(Updater(), L"");
    HWND main = p.MainWindow();
    ASSERT_TRUE(main);
    EXPECT_EQ(WaitFor([&] { return OuterSize(main).cy == 170; }), true);
    EXPECT_FALSE(LogVisible(main));
    EXPECT_TRUE(LogLines(main).empty());
    EXPECT_EQ(StatusText(main), L"");
    EXPECT_FALSE(p.WaitBox(1000));
    const LONG style = ::GetWindowLongW(main, GWL_STYLE);
    EXPECT_FALSE(style & (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(::GetWindowLongW(main, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
    PressKey(main, VK_ESCAPE);
    EXPECT_EQ(p.WaitExit(), 1u);
}

TEST(RegisteredUpdater, CompleteRunWritesItsRecordAndEndsWithZero) {
    struct Case {
        const char* Name;
        bool Subdir001;
        int Users;  // the user check is skipped when the ini folder has 001
    };
    const Case cases[] = {{"ini folder", false, 0}, {"001 sub-folder", true, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        RegisteredInstall install(L"v10_0_0_0", c.Subdir001, c.Users);
        // Registered in the 64-bit view only, as the installer does.
        RegistryValue view32(HKEY_LOCAL_MACHINE, kInstallProperties, L"InstallLocation", KEY_WOW64_32KEY);
        view32.Delete();
        Program p(Updater(), L"");
        HWND main = p.MainWindow();
        ASSERT_TRUE(main);
        ClickButton(main, L"Weiter");
        // A second click reaches the run at its first message handling and must
        // not start the sequence again inside it.
        ClickButton(main, L"Weiter");
        const RunSeen seen = FollowQuietRun(p, main);
        EXPECT_EQ(seen.Exit, 0u);
        EXPECT_EQ(seen.Log, kCompleteLog);
        EXPECT_TRUE(seen.Boxes.empty());

        const std::wstring recordDir = c.Subdir001 ? install.IniDir + L"001\\" : install.IniDir;
        EXPECT_EQ(ReadProfile(recordDir + L"VLM_10_Update.ini", L"Update", L"Erfolg"), L"0");
        EXPECT_EQ(ReadProfile(recordDir + L"VLM_10_Update.ini", L"Update", L"Vorversion"), L"10.0.0.0");
        if (c.Subdir001) {
            EXPECT_FALSE(Exists(install.IniDir + L"VLM_10_Update.ini"));
        }
        for (const auto& file : DataFiles()) {
            const std::wstring folder = install.Sample.*file.Folder;
            EXPECT_EQ(ReadBytes(folder + L"VLM_Bkp_" + file.Name), ReadBytes(folder + file.Name).value())
                << WideToUtf8(file.Name);
        }
        EXPECT_EQ(ReadBytes(install.BaseDir + L"VLM_Bkp_Formulierungen\\Arbeitsverhalten.txt"),
                  ReadBytes(install.Sample.AidsDir + L"Arbeitsverhalten.txt").value());
    }
}

TEST(RegisteredUpdater, RefusalsShowTheirBoxAndEndWithOne) {
    struct Case {
        const char* Name;
        const wchar_t* Fixture;
        int Users;
        bool Registered;
        std::wstring Box;
        std::vector<std::wstring> Log;
        bool Only32BitView = false;  // registered where only a 32-bit process looks without the 64-bit flag
    };
    const std::wstring notFound =
        L"Das Installationsverzeichnis von Velmora konnte nicht ermittelt werden!\nDas Update wird abgebrochen!";
    const Case cases[] = {
        {"not registered", L"v10_0_0_0", 0, false, notFound, {}},
        {"registered only in the 32-bit view", L"v10_0_0_0", 0, false, notFound, {}, true},
        {"version 9",
         L"v9_4_0_12",
         0,
         true,
         L"F\u00fcr ein Update muss die Version 10 installiert sein!\n"
         L"Bitte f\u00fchren Sie zuerst ein Update auf diese Version durch!\nDieses Update wird abgebrochen!",
         {L"Velmora-Datenpfad - OK"}},
        {"a user logged in",
         L"v10_0_0_0",
         1,
         true,
         L"Es sind noch Anwender in Velmora angemeldet!\nDas Update wird abgebrochen!",
         {L"Velmora-Datenpfad - OK", L"Velmora-Version - OK"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        RegisteredInstall install(c.Fixture, false, c.Users, c.Registered);
        RegistryValue view32(HKEY_LOCAL_MACHINE, kInstallProperties, L"InstallLocation", KEY_WOW64_32KEY);
        if (c.Only32BitView) view32.SetString(install.ProgramDir);
        Program p(Updater(), L"");
        HWND main = p.MainWindow();
        ASSERT_TRUE(main);
        ClickButton(main, L"Weiter");
        auto box = p.WaitBox();
        ASSERT_TRUE(box);
        EXPECT_EQ(box->Title, L"Fehler");
        EXPECT_EQ(box->Text, c.Box);
        EXPECT_EQ(LogLines(main), c.Log);
        EXPECT_EQ(StatusText(main), L"");
        // The expanded window: the log above the status bar, the status bar lowest.
        EXPECT_EQ(OuterSize(main).cy, 340);
        EXPECT_TRUE(LogVisible(main));
        const RECT log = ClientRectOf(main, ChildOfClass(main, L"RICHEDIT50W"));
        const RECT status = ClientRectOf(main, ChildOfClass(main, L"msctls_statusbar32"));
        EXPECT_EQ(log.bottom - log.top, 180);
        EXPECT_EQ(log.bottom, status.top);
        EXPECT_EQ(status.bottom, ClientSize(main).cy);
        p.Answer(L"OK");
        EXPECT_EQ(p.WaitExit(), 1u);
        EXPECT_FALSE(Exists(install.IniDir + L"VLM_10_Update.ini"));
    }
}

TEST(RegisteredUpdater, MissingNkkFileEndsAfterItsAnnouncement) {
    RegisteredInstall install(L"v10_0_0_0");
    ASSERT_TRUE(::DeleteFileW((install.BaseDir + L"NKK\\NKK_Noten.CDX").c_str()));
    Program p(Updater(), L"");
    HWND main = p.MainWindow();
    ASSERT_TRUE(main);
    ClickButton(main, L"Weiter");
    const RunSeen seen = FollowQuietRun(p, main);
    EXPECT_EQ(seen.Exit, 1u);
    EXPECT_TRUE(seen.Boxes.empty());
    // The announcement of the NKK backup is the last line, but the program ends
    // before it handles another message, so from outside the log is last seen
    // with the subject canon done.
    EXPECT_EQ(seen.Log, FirstLines(kCompleteLog, 9));
    EXPECT_TRUE(Exists(install.DataDir + L"VLM_Bkp_FaecherKanon.cdx"));
    // The NKK files before the missing one were copied, the run stopped there.
    EXPECT_TRUE(Exists(install.BaseDir + L"NKK\\VLM_Bkp_NKK_NOTEN.DBF"));
    EXPECT_FALSE(Exists(install.IniDir + L"VLM_10_Update.ini"));
}

// "Abbruch" clicked in the pause after the last backup takes effect at the
// run's last point, after the record is written: the end with 1 puts back the
// earlier record byte for byte, and an end with 0 leaves the new one.
TEST(RegisteredUpdater, AbbruchAtTheLastPointLeavesTheRecordAsTheExitCodeSays) {
    RegisteredInstall install(L"v10_0_0_0");
    const std::wstring record = install.IniDir + L"VLM_10_Update.ini";
    WriteIni(record, L"[Update]\r\nErfolg=0\r\nDatum=02.05.2025\r\nUhrzeit=10:11:12\r\nVorversion=10.0.0.0\r\n");
    SetLastWrite(record, SYSTEMTIME{2025, 5, 5, 2, 10, 11, 12, 0});
    const auto recordBefore = TreeSnapshot(install.Root.Path() + L"\\Ini");
    Program p(Updater(), L"");
    HWND main = p.MainWindow();
    ASSERT_TRUE(main);
    ClickButton(main, L"Weiter");
    // The last copy of the last backup stands; its log line and a pause of
    // 500 ms follow, then the record.
    ASSERT_TRUE(
        WaitFor([&] { return Exists(install.BaseDir + L"NKK\\VLM_Bkp_NKK_Noten.CDX") || p.WaitExit(0); }, 60000));
    ::Sleep(250);
    ::PostMessageW(::GetDlgItem(main, IDCANCEL), BM_CLICK, 0, 0);
    const std::optional<DWORD> exit = p.WaitExit();
    ASSERT_TRUE(exit.has_value());
    if (*exit == 1) {
        EXPECT_EQ(TreeSnapshot(install.Root.Path() + L"\\Ini"), recordBefore);
    } else {
        EXPECT_EQ(exit, 0u);
        EXPECT_NE(ReadProfile(record, L"Update", L"Datum"), L"02.05.2025");
    }
}

}  // namespace
