// Installation discovery of the registered-installation updater, against the
// real registry, shell folders and profile files of the test prefix.
#include <gtest/gtest.h>
#include <shlobj.h>
#include "Automation.h"
#include "Discovery.h"
#include "Fehler.h"
#include "Haupt.h"
#include "RegisteredUpdater.h"
#include "RunLogs.h"
#include "StepWindow.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

// The installer registers in the 64-bit view, which a 32-bit process under
// WOW64 reaches only with this flag.
constexpr REGSAM kInstallerView = KEY_WOW64_64KEY;

const std::wstring kInstallDirBox =
    L"Das Installationsverzeichnis von Velmora konnte nicht ermittelt werden!\nDas Update wird abgebrochen!";
const std::wstring kIniDirBox =
    L"Das Velmora-Inidateiverzeichnis konnte nicht ermittelt werden!\nDas Update wird abgebrochen!";
const std::wstring kCommonAppDataBox =
    L"Der Ordner \"All Users\\Anwendungsdaten\" konnte nicht ermittelt werden!\nDas Update wird abgebrochen!";
const std::wstring kMainIniBox = L"Die Ini-Datei \"velmora.ini\" wurde nicht gefunden!\nDas Update wird abgebrochen!";

const wchar_t kShellFolders[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

std::wstring LocalAppData() {
    wchar_t path[MAX_PATH]{};
    ::SHGetSpecialFolderPathW(nullptr, path, CSIDL_LOCAL_APPDATA, FALSE);
    return path;
}

void WriteMainIni(const std::wstring& folder, const std::wstring& dataDir) {
    MakeDirs(folder);
    WriteIni(folder + L"\\velmora.ini", L"[Setup]\r\nDatenverzeichnis=" + dataDir + L"\r\n");
}

void WriteStartIni(const std::wstring& path, const std::wstring& iniPfad) {
    MakeDirs(path.substr(0, path.find_last_of(L'\\')));
    WriteIni(path, L"[Setup]\r\nIniPfad=" + iniPfad + L"\r\n");
}

enum class Registration { None, WithoutValue, Value };

struct DiscoveryCase {
    const char* Name;
    Registration Registered;
    const wchar_t* InstallLocation;  // of the installer registration
    const wchar_t* StartIni;         // IniPfad of the start ini in the installation folder; null: none
    const wchar_t* VirtualStoreIni;  // IniPfad of its VirtualStore copy; null: none
    const wchar_t* CommonAppData;    // "Common Appdata"; null: the value is missing
    std::vector<std::pair<const wchar_t*, const wchar_t*>> MainInis;  // further ini folders and their data folders
    std::vector<const wchar_t*> PlainFiles;
    // Expected outcome
    int Result;
    std::vector<std::wstring> Boxes;
    const wchar_t* InstallDir;
    const wchar_t* CommonAppDataDir;
    const wchar_t* IniDir;
    bool HasSubdir001;
    const wchar_t* MainIniPath;
    const wchar_t* DataDir;
};

// Every case has the ini folders {T}\IniA\ (data folder {T}\DatenA), {T}\IniB\ ({T}\DatenB)
// and the default {T}\PD\Brellix\Velmora\ ({T}\DatenC), so that the data folder
// tells which of them was used.
// clang-format off
const DiscoveryCase kCases[] = {
    {"not registered: nothing else is looked at", Registration::None, L"", L"{T}\\IniA\\", L"{T}\\IniB\\", L"{T}\\PD",
     {}, {}, 1, {kInstallDirBox}, L"", L"", L"", false, L"", L""},
    {"registered without InstallLocation", Registration::WithoutValue, L"", L"{T}\\IniA\\", nullptr, L"{T}\\PD",
     {}, {}, 1, {kInstallDirBox}, L"", L"", L"", false, L"", L""},
    {"empty InstallLocation", Registration::Value, L"", L"{T}\\IniA\\", nullptr, L"{T}\\PD",
     {}, {}, 1, {kInstallDirBox}, L"", L"", L"", false, L"", L""},
    {"start ini and VirtualStore copy: the start ini counts", Registration::Value, L"{T}\\Programm\\", L"{T}\\IniA\\",
     L"{T}\\IniB\\", L"{T}\\PD", {}, {}, 0, {}, L"{T}\\Programm\\", L"", L"{T}\\IniA\\", false, L"{T}\\IniA\\velmora.ini",
     L"{T}\\DatenA"},
    {"start ini with empty IniPfad: no other source is tried", Registration::Value, L"{T}\\Programm\\", L"",
     L"{T}\\IniB\\", L"{T}\\PD", {}, {}, 1, {kIniDirBox}, L"{T}\\Programm\\", L"", L"", false, L"", L""},
    {"only the VirtualStore copy", Registration::Value, L"{T}\\Programm\\", nullptr, L"{T}\\IniB\\", L"{T}\\PD", {}, {},
     0, {}, L"{T}\\Programm\\", L"", L"{T}\\IniB\\", false, L"{T}\\IniB\\velmora.ini", L"{T}\\DatenB"},
    {"only the VirtualStore copy, its ini folder has 001", Registration::Value, L"{T}\\Programm\\", nullptr,
     L"{T}\\IniB\\", L"{T}\\PD", {{L"{T}\\IniB\\001", L"{T}\\DatenB1"}}, {}, 0, {}, L"{T}\\Programm\\", L"", L"{T}\\IniB\\001\\", true,
     L"{T}\\IniB\\001\\velmora.ini", L"{T}\\DatenB1"},
    {"VirtualStore copy with empty IniPfad", Registration::Value, L"{T}\\Programm\\", nullptr, L"", L"{T}\\PD", {},
     {}, 1, {kIniDirBox}, L"{T}\\Programm\\", L"", L"", false, L"", L""},
    // The VirtualStore copy is found although the folder has no final backslash.
    {"InstallLocation without final backslash, VirtualStore copy", Registration::Value, L"{T}\\Programm", nullptr,
     L"{T}\\IniB\\", L"{T}\\PD", {}, {}, 0, {}, L"{T}\\Programm", L"", L"{T}\\IniB\\", false, L"{T}\\IniB\\velmora.ini",
     L"{T}\\DatenB"},
    {"InstallLocation without final backslash, start ini", Registration::Value, L"{T}\\Programm", L"{T}\\IniA\\",
     nullptr, L"{T}\\PD", {}, {}, 0, {}, L"{T}\\Programm", L"", L"{T}\\IniA\\", false, L"{T}\\IniA\\velmora.ini",
     L"{T}\\DatenA"},
    {"neither start ini: the default", Registration::Value, L"{T}\\Programm\\", nullptr, nullptr, L"{T}\\PD", {}, {},
     0, {}, L"{T}\\Programm\\", L"{T}\\PD", L"{T}\\PD\\Brellix\\Velmora\\", false,
     L"{T}\\PD\\Brellix\\Velmora\\velmora.ini", L"{T}\\DatenC"},
    {"neither start ini: the default with 001", Registration::Value, L"{T}\\Programm\\", nullptr, nullptr, L"{T}\\PD",
     {{L"{T}\\PD\\Brellix\\Velmora\\001", L"{T}\\DatenC1"}}, {}, 0, {}, L"{T}\\Programm\\", L"{T}\\PD",
     L"{T}\\PD\\Brellix\\Velmora\\001\\", true, L"{T}\\PD\\Brellix\\Velmora\\001\\velmora.ini",
     L"{T}\\DatenC1"},
    {"Common Appdata with a final backslash is used as read", Registration::Value, L"{T}\\Programm\\", nullptr,
     nullptr, L"{T}\\PD\\", {}, {}, 0, {}, L"{T}\\Programm\\", L"{T}\\PD\\", L"{T}\\PD\\\\Brellix\\Velmora\\", false,
     L"{T}\\PD\\\\Brellix\\Velmora\\velmora.ini", L"{T}\\DatenC"},
    {"neither start ini nor Common Appdata", Registration::Value, L"{T}\\Programm\\", nullptr, nullptr, nullptr, {},
     {}, 1, {kCommonAppDataBox}, L"{T}\\Programm\\", L"", L"", false, L"", L""},
    {"a file named 001 is no sub-folder", Registration::Value, L"{T}\\Programm\\", L"{T}\\IniA\\", nullptr, L"{T}\\PD",
     {}, {L"{T}\\IniA\\001"}, 0, {}, L"{T}\\Programm\\", L"", L"{T}\\IniA\\", false, L"{T}\\IniA\\velmora.ini",
     L"{T}\\DatenA"},
    {"IniPfad without final backslash", Registration::Value, L"{T}\\Programm\\", L"{T}\\IniA", nullptr, L"{T}\\PD", {},
     {}, 1, {kMainIniBox}, L"{T}\\Programm\\", L"", L"{T}\\IniA", false, L"{T}\\IniAvelmora.ini", L""},
    {"IniPfad without final backslash, a folder beside it ends in 001", Registration::Value, L"{T}\\Programm\\",
     L"{T}\\IniA", nullptr, L"{T}\\PD", {{L"{T}\\IniA001", L"{T}\\DatenA1"}}, {}, 0, {}, L"{T}\\Programm\\", L"", L"{T}\\IniA001\\", true,
     L"{T}\\IniA001\\velmora.ini", L"{T}\\DatenA1"},
};
// clang-format on

// The registration, "Common Appdata" and the VirtualStore copy of one case,
// all put back when it goes.
class PrefixState {
public:
    PrefixState(const DiscoveryCase& c, const std::wstring& root)
        : registration_(HKEY_LOCAL_MACHINE, kInstallPropertiesKey, L"InstallLocation", kInstallerView),
          commonAppData_(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Appdata") {
        if (c.Registered == Registration::None) {
            HKEY key = nullptr;
            if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallPropertiesKey, 0, KEY_READ | kInstallerView, &key) ==
                ERROR_SUCCESS) {
                ::RegCloseKey(key);
                ADD_FAILURE() << "the test prefix already has an installer registration";
            }
        } else {
            registration_.SetString(Expand(c.InstallLocation, root));
        }
        if (c.Registered == Registration::WithoutValue) registration_.Delete();
        if (c.CommonAppData)
            commonAppData_.SetString(Expand(c.CommonAppData, root));
        else
            commonAppData_.Delete();

        const std::wstring store = LocalAppData() + L"\\VirtualStore";
        storeExisted_ = Exists(store);
        // Where file virtualisation keeps the copy of {T}\Programm: the path
        // without its drive below the VirtualStore folder.
        virtualFolder_ = store + root.substr(2);
        if (c.VirtualStoreIni)
            WriteStartIni(virtualFolder_ + L"\\Programm\\VelmStart.ini", Expand(c.VirtualStoreIni, root));
    }
    ~PrefixState() {
        RemoveTree(virtualFolder_);
        if (!storeExisted_) RemoveTree(LocalAppData() + L"\\VirtualStore");
    }

private:
    RegistryValue registration_;
    RegistryValue commonAppData_;
    bool storeExisted_ = false;
    std::wstring virtualFolder_;
};

using Form = StepWindow<RegisteredUpdater>;

class RegisteredDiscovery : public ::testing::Test {
protected:
    Form window_;
    UpdateRun& run_ = window_.R;
};

TEST(RegisteredDiscoveryTable, FindsTheIniFolderOrRefuses) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.Name);
        TempDir dir(L"disc");
        const std::wstring root = dir.Path();
        WriteMainIni(root + L"\\IniA", root + L"\\DatenA");
        WriteMainIni(root + L"\\IniB", root + L"\\DatenB");
        WriteMainIni(root + L"\\PD\\Brellix\\Velmora", root + L"\\DatenC");
        for (const auto& [folder, data] : c.MainInis) WriteMainIni(Expand(folder, root), Expand(data, root));
        for (const wchar_t* file : c.PlainFiles) WriteBytes(Expand(file, root), "x");
        MakeDirs(root + L"\\Programm");
        if (c.StartIni) WriteStartIni(root + L"\\Programm\\VelmStart.ini", Expand(c.StartIni, root));
        PrefixState state(c, root);

        Form window;
        TFHaupt& f = window.F;
        UpdateRun& run = window.R;
        BoxWatcher watcher;
        const int result = window.P.PruefeVLMIni(run);
        const auto boxes = watcher.Stop();

        EXPECT_EQ(result, c.Result);
        std::vector<std::wstring> texts;
        for (const auto& b : boxes) texts.push_back(b.Text);
        EXPECT_EQ(texts, c.Boxes);
        EXPECT_EQ(run.Session.InstallDir, Expand(c.InstallDir, root));
        EXPECT_EQ(run.Session.CommonAppDataDir, Expand(c.CommonAppDataDir, root));
        EXPECT_EQ(run.Session.IniDir, Expand(c.IniDir, root));
        EXPECT_EQ(run.Session.HasSubdir001, c.HasSubdir001);
        EXPECT_EQ(run.Session.MainIniPath, Expand(c.MainIniPath, root));
        EXPECT_EQ(run.Session.DataDir, Expand(c.DataDir, root));
        EXPECT_EQ(::GetWindowTextLengthW(f.REd_Ergebnis), 0);
    }
}

TEST_F(RegisteredDiscovery, AccessMaskFollowsTheWow64Answer) {
    EXPECT_EQ(InstallKeyAccess(false), REGSAM(0x20019));
    EXPECT_EQ(InstallKeyAccess(true), REGSAM(0x20119));
    // The tests run as 64-bit processes, and in the i686 tree as 32-bit ones
    // under WOW64.
    EXPECT_EQ(IsWow64(), sizeof(void*) == 4);
}

TEST(RegisteredVirtualStorePath, LowerCasesOnlyTheLocalFolder) {
    struct Case {
        const wchar_t* Local;
        const wchar_t* InstallDir;
        const wchar_t* Expected;
    };
    // clang-format off
    const Case cases[] = {
        {L"C:\\Users\\Nutzer\\AppData\\Local", L"C:\\Program Files (x86)\\Velmora\\",
         L"c:\\users\\nutzer\\appdata\\local\\VirtualStore\\Program Files (x86)\\Velmora\\VelmStart.ini"},
        {L"D:\\Lokal\\", L"C:\\Velmora\\", L"d:\\lokal\\VirtualStore\\Velmora\\VelmStart.ini"},
        // Without a final backslash the folder name keeps its last letter.
        {L"D:\\Lokal", L"C:\\Velmora", L"d:\\lokal\\VirtualStore\\Velmora\\VelmStart.ini"},
        {L"D:\\Lokal", L"C:\\", L"d:\\lokal\\VirtualStore\\VelmStart.ini"},
        {L"C:\\Users\\\u00c4RGER\\Local", L"C:\\Schule\\\u03a9mega\\",
         L"c:\\users\\\u00c4rger\\local\\VirtualStore\\Schule\\\u03a9mega\\VelmStart.ini"},
        {L"", L"C:\\Velmora\\", L"\\VirtualStore\\Velmora\\VelmStart.ini"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.InstallDir);
        EXPECT_EQ(VirtualStoreStartIni(c.Local, c.InstallDir), c.Expected);
    }
}

TEST_F(RegisteredDiscovery, ShellFolderIsNamedOrEmpty) {
    const std::wstring local = GetShellFolder(CSIDL_LOCAL_APPDATA);
    EXPECT_EQ(local, LocalAppData());
    EXPECT_NE(::GetFileAttributesW(local.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(GetShellFolder(0x7E), L"");
}

TEST_F(RegisteredDiscovery, InstallLocationOfAnotherTypeReachesTheErrorReport) {
    RegistryValue registration(HKEY_LOCAL_MACHINE, kInstallPropertiesKey, L"InstallLocation", kInstallerView);
    registration.SetDword(1);
    BoxWatcher watcher;
    EXPECT_THROW(window_.P.PruefeVLMIni(run_), EFehler);
    EXPECT_TRUE(watcher.Stop().empty());
    EXPECT_EQ(run_.Session.InstallDir, L"");
}

TEST_F(RegisteredDiscovery, CheckVLMExeAcceptsOnlyVersion10) {
    struct Case {
        const wchar_t* Fixture;  // null: no program file
        int Result;
        const wchar_t* Version;
    };
    // clang-format off
    const Case cases[] = {{L"v10_0_0_0", 0, L"10.0.0.0"}, {L"v10_1_0_3", 0, L"10.1.0.3"},
                          {L"v9_4_0_12", 1, L"9.4.0.12"}, {L"v1_0_0_0", 1, L"1.0.0.0"},
                          {L"noversion", 1, L"0.0.0.0"},  {nullptr, 1, L"0.0.0.0"}};
    const std::wstring box =
        L"F\u00fcr ein Update muss die Version 10 installiert sein!\n"
        L"Bitte f\u00fchren Sie zuerst ein Update auf diese Version durch!\nDieses Update wird abgebrochen!";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Fixture ? c.Fixture : L"no program file");
        TempDir dir(L"exe");
        if (c.Fixture) {
            ASSERT_TRUE(::CopyFileW(Fixture(c.Fixture).c_str(), (dir / L"Velmora10.EXE").c_str(), FALSE));
        }
        // As the installer registers it: with a final backslash.
        run_.Session.InstallDir = dir.Path() + L"\\";
        BoxWatcher watcher;
        EXPECT_EQ(window_.P.CheckVLMExe(run_), c.Result);
        const auto boxes = watcher.Stop();
        EXPECT_EQ(run_.Session.InstalledVersion, c.Version);
        ASSERT_EQ(boxes.size(), c.Result == 0 ? 0u : 1u);
        if (!boxes.empty()) {
            EXPECT_EQ(boxes[0].Text, box);
        }
    }
}

}  // namespace

// clang-format on