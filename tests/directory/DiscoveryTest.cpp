// Data-path discovery of the directory updater, against real ini files and the
// real registry of the test prefix.
#include <gtest/gtest.h>
#include "DirectoryUpdater.h"
#include "StepWindow.h"
#include "Automation.h"
#include "DataPaths.h"
#include "Fehler.h"
#include "Haupt.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

const wchar_t kShellFolders[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

const std::wstring kIniDirBox =
    L"Das Velmora-Inidateiverzeichnis konnte nicht ermittelt werden!\nDas Update wird abgebrochen!";
const std::wstring kCommonBox =
    L"Der Standard-Ordner f\u00fcr Anwendungsdaten konnte nicht ermittelt werden!\nDas Update wird abgebrochen!";
const std::wstring kMainIniBox = L"Die Ini-Datei \"velmora.ini\" wurde nicht gefunden!\nDas Update wird abgebrochen!";
const std::wstring kDataDirBox =
    L"Das Velmora - Datenverzeichnis konnte nicht ermittelt werden!\nDas Update wird abgebrochen!";

std::vector<std::wstring> Texts(const std::vector<BoxSeen>& boxes) {
    std::vector<std::wstring> texts;
    for (const auto& b : boxes) {
        EXPECT_EQ(b.Title, L"Fehler");
        texts.push_back(b.Text);
    }
    return texts;
}

// Stands for a "Common Appdata" value that is not there at all.
const wchar_t* const kNoValue = nullptr;
// Stands for a "Common Appdata" value of type REG_DWORD: reading it would raise an
// error, so a row with it also shows that the registry was not read.
const wchar_t kDword[] = L"<dword>";

struct Fields {
    const wchar_t* CommonAppDataDir;
    const wchar_t* IniDir;
    const wchar_t* MainIniPath;
    const wchar_t* DataDir;
    const wchar_t* BaseDir;
    const wchar_t* FormsDir;
    const wchar_t* NkkDir;
};

struct DiscoveryCase {
    const char* Name;
    const wchar_t* StartIni;       // content of {T}\Prog\VelmStart.ini; none when null
    const wchar_t* CommonAppdata;  // the registry value; kNoValue or kDword
    const wchar_t* MainIni;        // content of {T}\Ini\velmora.ini; none when null
    int Result;
    Fields Expected;
    std::vector<std::wstring> Boxes;
    std::vector<std::wstring> Log;
};

// The installation folder is {T}\Prog. The ini-folder default below {T}\Common
// always holds a valid main ini naming {T}\Std\Daten, so a row that must not fall
// back to it would show that data folder.
TEST(PruefeVLMIni, FindsTheIniFolderTheMainIniAndTheDataFolders) {
    // clang-format off
    const DiscoveryCase cases[] = {
        {"start ini with final backslash", L"[Setup]\r\nIniPfad={T}\\Ini\\\r\n", kDword,
         L"[Setup]\r\nDatenverzeichnis={T}\\Velmora\\Daten\r\n", 0,
         {L"", L"{T}\\Ini\\", L"{T}\\Ini\\velmora.ini", L"{T}\\Velmora\\Daten", L"{T}\\Velmora\\",
          L"{T}\\Velmora\\Formulare\\", L"{T}\\Velmora\\NKK\\"},
         {}, {}},
        {"start ini without final backslash", L"[Setup]\r\nIniPfad={T}\\Ini\r\n", L"{T}\\Common",
         L"[Setup]\r\nDatenverzeichnis={T}\\Velmora\\Daten\r\n", 2,
         {L"", L"{T}\\Ini", L"{T}\\Inivelmora.ini", L"", L"", L"", L""},
         {kMainIniBox}, {L"velmora.ini nicht gefunden - Fehler"}},
        {"empty IniPfad while the default would work", L"[Setup]\r\nIniPfad=\r\n", L"{T}\\Common", nullptr, 2,
         {L"", L"", L"", L"", L"", L"", L""},
         {kIniDirBox}, {L"Velmora-Inidateiverzeichnis - Fehler"}},
        {"start ini without Setup section", L"[Anderes]\r\nIniPfad={T}\\Ini\\\r\n", L"{T}\\Common",
         L"[Setup]\r\nDatenverzeichnis={T}\\Velmora\\Daten\r\n", 2,
         {L"", L"", L"", L"", L"", L"", L""},
         {kIniDirBox}, {L"Velmora-Inidateiverzeichnis - Fehler"}},
        {"no start ini, Common Appdata", nullptr, L"{T}\\Common", nullptr, 0,
         {L"{T}\\Common", L"{T}\\Common\\Brellix\\Velmora\\", L"{T}\\Common\\Brellix\\Velmora\\velmora.ini",
          L"{T}\\Std\\Daten", L"{T}\\Std\\", L"{T}\\Std\\Formulare\\", L"{T}\\Std\\NKK\\"},
         {}, {}},
        {"no start ini, Common Appdata with final backslash", nullptr, L"{T}\\Common\\", nullptr, 0,
         {L"{T}\\Common", L"{T}\\Common\\Brellix\\Velmora\\", L"{T}\\Common\\Brellix\\Velmora\\velmora.ini",
          L"{T}\\Std\\Daten", L"{T}\\Std\\", L"{T}\\Std\\Formulare\\", L"{T}\\Std\\NKK\\"},
         {}, {}},
        {"no start ini, no Common Appdata", nullptr, kNoValue, nullptr, 2,
         {L"", L"", L"", L"", L"", L"", L""},
         {kCommonBox}, {L"CommonAppData - Fehler"}},
        {"no start ini, empty Common Appdata", nullptr, L"", nullptr, 2,
         {L"", L"", L"", L"", L"", L"", L""},
         {kCommonBox}, {L"CommonAppData - Fehler"}},
        {"Datenverzeichnis quoted", L"[Setup]\r\nIniPfad={T}\\Ini\\\r\n", L"{T}\\Common",
         L"[Setup]\r\nDatenverzeichnis=\"{T}\\Velmora\\Daten\\\"\r\n", 0,
         {L"", L"{T}\\Ini\\", L"{T}\\Ini\\velmora.ini", L"{T}\\Velmora\\Daten\\", L"{T}\\Velmora\\",
          L"{T}\\Velmora\\Formulare\\", L"{T}\\Velmora\\NKK\\"},
         {}, {}},
        {"Datenverzeichnis between blanks", L"[Setup]\r\nIniPfad={T}\\Ini\\\r\n", L"{T}\\Common",
         L"[Setup]\r\nDatenverzeichnis =   {T}\\Velmora\\Daten   \r\n", 0,
         {L"", L"{T}\\Ini\\", L"{T}\\Ini\\velmora.ini", L"{T}\\Velmora\\Daten", L"{T}\\Velmora\\",
          L"{T}\\Velmora\\Formulare\\", L"{T}\\Velmora\\NKK\\"},
         {}, {}},
        {"Datenverzeichnis without backslash", L"[Setup]\r\nIniPfad={T}\\Ini\\\r\n", L"{T}\\Common",
         L"[Setup]\r\nDatenverzeichnis=Daten\r\n", 0,
         {L"", L"{T}\\Ini\\", L"{T}\\Ini\\velmora.ini", L"Daten", L"Daten", L"DatenFormulare\\", L"DatenNKK\\"},
         {}, {}},
        {"Datenverzeichnis a drive root", L"[Setup]\r\nIniPfad={T}\\Ini\\\r\n", L"{T}\\Common",
         L"[Setup]\r\nDatenverzeichnis=D:\\\r\n", 0,
         {L"", L"{T}\\Ini\\", L"{T}\\Ini\\velmora.ini", L"D:\\", L"D:\\", L"D:\\Formulare\\", L"D:\\NKK\\"},
         {}, {}},
        {"main ini without Datenverzeichnis", L"[Setup]\r\nIniPfad={T}\\Ini\\\r\n", L"{T}\\Common",
         L"[Setup]\r\nDatenverzeichnis=\r\n[Daten]\r\nDatenverzeichnis={T}\\Velmora\\Daten\r\n", 2,
         {L"", L"{T}\\Ini\\", L"{T}\\Ini\\velmora.ini", L"", L"", L"", L""},
         {kDataDirBox}, {L"Velmora-Datenverzeichnis - Fehler"}},
        {"IniPfad names a folder without main ini", L"[Setup]\r\nIniPfad={T}\\Ini\\\r\n", L"{T}\\Common", nullptr, 2,
         {L"", L"{T}\\Ini\\", L"{T}\\Ini\\velmora.ini", L"", L"", L"", L""},
         {kMainIniBox}, {L"velmora.ini nicht gefunden - Fehler"}},
    };
    // clang-format on

    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"disc");
        const std::wstring& t = root.Path();
        MakeDirs(t + L"\\Prog");
        MakeDirs(t + L"\\Ini");
        MakeDirs(t + L"\\Common\\Brellix\\Velmora");
        WriteIni(t + L"\\Common\\Brellix\\Velmora\\velmora.ini",
                 Expand(L"[Setup]\r\nDatenverzeichnis={T}\\Std\\Daten\r\n", t));
        if (c.StartIni) WriteIni(t + L"\\Prog\\VelmStart.ini", Expand(c.StartIni, t));
        if (c.MainIni) WriteIni(t + L"\\Ini\\velmora.ini", Expand(c.MainIni, t));

        RegistryValue common(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Appdata");
        if (c.CommonAppdata == kNoValue)
            common.Delete();
        else if (c.CommonAppdata == kDword)
            common.SetDword(1);
        else
            common.SetString(Expand(c.CommonAppdata, t));

        StepWindow<DirectoryUpdater> window;
        TFHaupt& f = window.F;
        UpdateRun& run = window.R;
        run.Session.TargetDir = t + L"\\Prog";
        BoxWatcher watcher;
        const int result = window.P.PruefeVLMIni(run);
        const auto boxes = watcher.Stop();

        EXPECT_EQ(result, c.Result);
        EXPECT_EQ(run.Session.InstallDir, t + L"\\Prog");
        EXPECT_EQ(run.Session.CommonAppDataDir, Expand(c.Expected.CommonAppDataDir, t));
        EXPECT_EQ(run.Session.IniDir, Expand(c.Expected.IniDir, t));
        EXPECT_EQ(run.Session.MainIniPath, Expand(c.Expected.MainIniPath, t));
        EXPECT_EQ(run.Session.DataDir, Expand(c.Expected.DataDir, t));
        EXPECT_EQ(run.Session.BaseDir, Expand(c.Expected.BaseDir, t));
        EXPECT_EQ(run.Session.FormsDir, Expand(c.Expected.FormsDir, t));
        EXPECT_EQ(run.Session.NkkDir, Expand(c.Expected.NkkDir, t));
        EXPECT_EQ(Texts(boxes), c.Boxes);
        for (const auto& b : boxes) EXPECT_EQ(b.Buttons, std::vector<std::wstring>{L"OK"});
        EXPECT_EQ(LogLines(f.Handle), c.Log);
    }
}

// A folder name outside the ANSI code page still names its folder: the start ini
// there is found and used, not the ini-folder default of another installation.
TEST(PruefeVLMIni, UsesTheStartIniInAFolderOutsideTheAnsiCodePage) {
    TempDir root(L"disc");
    const std::wstring prog = root.Path() + L"\\Schule\\\x03a9mega";
    const std::wstring ini = prog + L"\\Ini\x0394\\";
    MakeDirs(ini);
    WriteIni(prog + L"\\VelmStart.ini", L"[Setup]\r\nIniPfad=" + ini + L"\r\n");
    WriteIni(ini + L"velmora.ini", L"[Setup]\r\nDatenverzeichnis=" + prog + L"\\Daten\r\n");
    // The default folder holds another installation's main ini.
    MakeDirs(root.Path() + L"\\Common\\Brellix\\Velmora");
    WriteIni(root.Path() + L"\\Common\\Brellix\\Velmora\\velmora.ini",
             L"[Setup]\r\nDatenverzeichnis=" + root.Path() + L"\\Andere\\Daten\r\n");
    RegistryValue common(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Appdata");
    common.SetString(root.Path() + L"\\Common");

    StepWindow<DirectoryUpdater> window;
    UpdateRun& run = window.R;
    run.Session.TargetDir = prog;
    BoxWatcher watcher;
    EXPECT_EQ(window.P.PruefeVLMIni(run), 0);
    EXPECT_TRUE(watcher.Stop().empty());
    EXPECT_EQ(run.Session.InstallDir, prog);
    EXPECT_EQ(run.Session.CommonAppDataDir, L"");
    EXPECT_EQ(run.Session.IniDir, ini);
    EXPECT_EQ(run.Session.MainIniPath, ini + L"velmora.ini");
    EXPECT_EQ(run.Session.DataDir, prog + L"\\Daten");
    EXPECT_EQ(run.Session.BaseDir, prog + L"\\");
    EXPECT_EQ(run.Session.FormsDir, prog + L"\\Formulare\\");
    EXPECT_EQ(run.Session.NkkDir, prog + L"\\NKK\\");
}

// A "Common Appdata" of a non-text type is not an expected failure: the step
// raises an error for the default error report and shows nothing itself.
TEST(PruefeVLMIni, CommonAppdataOfAnotherTypeRaisesAnError) {
    TempDir root(L"disc");
    RegistryValue common(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Appdata");
    common.SetDword(0x2a);

    StepWindow<DirectoryUpdater> window;
    TFHaupt& f = window.F;
    UpdateRun& run = window.R;
    run.Session.TargetDir = root.Path();
    std::wstring message;
    {
        BoxWatcher watcher;
        try {
            window.P.PruefeVLMIni(run);
            ADD_FAILURE() << "no error raised";
        } catch (const EFehler& e) {
            message = e.Message;
        }
        EXPECT_TRUE(watcher.Stop().empty());
    }
    EXPECT_EQ(message, L"Der Registrierungswert \"Common Appdata\" ist kein Text");
    EXPECT_TRUE(LogLines(f.Handle).empty());

    // What the window then shows for it.
    BoxWatcher watcher;
    f.ShowDefaultErrorReport(message);
    const auto boxes = watcher.Stop();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Title, L"vlm_unit_tests");
    EXPECT_EQ(boxes[0].Text, L"Der Registrierungswert \"Common Appdata\" ist kein Text.");
}

// The Shell Folders read on its own, with a value of our own name beside the real ones.
TEST(GetFileFolderPathFromRegistry, ReadsTextValuesAsStored) {
    const std::wstring name = L"VLM Test Folder";
    struct Case {
        const char* Name;
        DWORD Type;
        std::wstring Data;  // as stored, NULs included
        std::wstring Expected;
    };
    // clang-format off
    const Case cases[] = {
        {"REG_SZ", REG_SZ, std::wstring(L"C:\\ProgramData\0", 15), L"C:\\ProgramData"},
        {"REG_EXPAND_SZ stays unexpanded", REG_EXPAND_SZ, std::wstring(L"%ALLUSERSPROFILE%\\X\0", 20),
         L"%ALLUSERSPROFILE%\\X"},
        {"up to the first NUL", REG_SZ, std::wstring(L"C:\\A\0B\0", 7), L"C:\\A"},
        {"without terminating NUL", REG_SZ, L"C:\\Daten", L"C:\\Daten"},
        {"empty", REG_SZ, std::wstring(L"\0", 1), L""},
        {"no data at all", REG_SZ, L"", L""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        RegistryValue value(HKEY_LOCAL_MACHINE, kShellFolders, name);
        value.SetString(L"");  // creates it; the raw data follows
        HKEY key = nullptr;
        ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kShellFolders, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
        ::RegSetValueExW(key, name.c_str(), 0, c.Type, reinterpret_cast<const BYTE*>(c.Data.data()),
                         static_cast<DWORD>(c.Data.size() * sizeof(wchar_t)));
        ::RegCloseKey(key);
        EXPECT_EQ(GetFileFolderPathFromRegistry(name), c.Expected);
        // Value names are matched without regard to case.
        EXPECT_EQ(GetFileFolderPathFromRegistry(L"vlm TEST folder"), c.Expected);
    }
    {
        RegistryValue value(HKEY_LOCAL_MACHINE, kShellFolders, name);
        value.Delete();
        EXPECT_EQ(GetFileFolderPathFromRegistry(name), L"");
    }
    for (DWORD type : {DWORD{REG_DWORD}, DWORD{REG_BINARY}, DWORD{REG_MULTI_SZ}}) {
        SCOPED_TRACE(type);
        RegistryValue value(HKEY_LOCAL_MACHINE, kShellFolders, name);
        value.SetString(L"C:\\X", type);
        EXPECT_THROW(GetFileFolderPathFromRegistry(name), EFehler);
    }
}

TEST(GetPreviousDir, WorkedExamples) {
    // clang-format off
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\Velmora\\Daten", L"C:\\Velmora\\"},
        {L"C:\\Velmora\\Daten\\", L"C:\\Velmora\\"},
        {L"\\\\server\\share\\Velmora\\Daten", L"\\\\server\\share\\Velmora\\"},
        {L"D:\\Daten", L"D:\\"},
        {L"D:\\X", L"D:\\"},
        {L"D:\\", L"D:\\"},
        {L"a\\b\\", L"a\\b\\"},
        {L"Velmora\\Daten", L"Velmora\\"},
        {L"Daten", L"Daten"},
        // Only one final backslash is dropped, and the last character of what is
        // left is not searched.
        {L"C:\\Velmora\\\\", L"C:\\"},
        {L"ab\\\\", L"ab\\\\"},
        {L"abcd\\", L"abcd\\"},
        {L"", L""},
    };
    // clang-format on
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(GetPreviousDir(path), expected);
    }
}

}  // namespace
