#include "SampleInstall.h"
#include <windows.h>
#include <algorithm>
#include <stdexcept>
#include "Automation.h"
#include "RunLogs.h"
#include "TestFiles.h"

namespace vlmtest {

const std::vector<DataFile>& DataFiles() {
    static const std::vector<DataFile> files = {
        {L"Formulare.dbf", &SampleInstall::FormsDir},    {L"Formulare.cdx", &SampleInstall::FormsDir},
        {L"Beiblaetter.dbf", &SampleInstall::FormsDir},  {L"Beiblaetter.cdx", &SampleInstall::FormsDir},
        {L"Deckblaetter.dbf", &SampleInstall::FormsDir}, {L"Deckblaetter.cdx", &SampleInstall::FormsDir},
        {L"FAECHERKANON.dbf", &SampleInstall::DataDir},  {L"FaecherKanon.cdx", &SampleInstall::DataDir},
        {L"NKK_FAECHER.DBF", &SampleInstall::NkkDir},    {L"NKK_Faecher.CDX", &SampleInstall::NkkDir},
        {L"NKK_NOTEN.DBF", &SampleInstall::NkkDir},      {L"NKK_Noten.CDX", &SampleInstall::NkkDir},
    };
    return files;
}

void RemoveDataFile(const SampleInstall& s, const std::wstring& name) {
    for (const auto& f : DataFiles())
        if (name == f.Name) ::DeleteFileW((s.*f.Folder + f.Name).c_str());
}

namespace {
std::string SomeContent(const std::wstring& name, size_t size) {
    std::string text = WideToUtf8(name) + "\r\n";
    std::string bytes;
    while (bytes.size() < size) bytes += text + std::to_string(bytes.size()) + "\r\n";
    bytes.resize(size);
    return bytes;
}

SampleInstall SamplePaths(const std::wstring& root) {
    SampleInstall s;
    s.Root = root;
    s.ProgramDir = root + L"\\Programm";
    s.IniDir = root + L"\\Ini\\";
    s.BaseDir = root + L"\\Velmora\\";
    s.DataDir = s.BaseDir + L"Daten\\";
    s.FormsDir = s.BaseDir + L"Formulare\\";
    s.NkkDir = s.BaseDir + L"NKK\\";
    s.AidsDir = s.BaseDir + L"Formulierungen\\";
    return s;
}

void WriteStartIni(const SampleInstall& s) {
    WriteIni(s.ProgramDir + L"\\VelmStart.ini", L"[Setup]\r\nIniPfad=" + s.IniDir + L"\r\n");
}

void LayOutProgramFolder(const SampleInstall& s, const std::wstring& programFile) {
    MakeDirs(s.ProgramDir + L"\\Hilfe\\Bilder");
    if (!::CopyFileW(programFile.c_str(), (s.ProgramDir + L"\\Velmora10.EXE").c_str(), FALSE))
        throw std::runtime_error("cannot copy the program file");
    WriteStartIni(s);
    WriteBytes(s.ProgramDir + L"\\Velmora.chm", SomeContent(L"Hilfe", 40000));
    WriteBytes(s.ProgramDir + L"\\Hilfe\\index.htm", "<html><body>Hilfe</body></html>\r\n");
    WriteBytes(s.ProgramDir + L"\\Hilfe\\Bilder\\logo.png",
               std::string("\x89PNG\r\n\x1a\n", 8) + SomeContent(L"logo", 500));
    // Times on whole even seconds, which an archive keeps exactly (MS-DOS
    // times have two-second steps): a folder restored from it compares equal.
    SYSTEMTIME when{};
    when.wYear = 2023;
    when.wMonth = 11;
    when.wDay = 20;
    when.wHour = 7;
    for (const wchar_t* item : {L"\\Velmora10.EXE", L"\\VelmStart.ini", L"\\Velmora.chm", L"\\Hilfe\\index.htm",
                                L"\\Hilfe\\Bilder\\logo.png", L"\\Hilfe\\Bilder", L"\\Hilfe"}) {
        when.wMinute = static_cast<WORD>(when.wMinute + 3);
        SetLastWrite(s.ProgramDir + item, when);
    }
}

void LayOutIniAndData(const SampleInstall& s, int loggedInUsers) {
    for (const auto& dir : {s.IniDir, s.DataDir, s.FormsDir, s.NkkDir, s.AidsDir + L"Archiv"}) MakeDirs(dir);
    WriteIni(s.IniDir + L"velmora.ini", L"[Setup]\r\nDatenverzeichnis=" + s.DataDir + L"\r\n");
    WriteIni(s.DataDir + L"VelmUser.ini", L"[Benutzer]\r\nUserZahl=" + std::to_wstring(loggedInUsers) + L"\r\n");
    for (const auto& file : DataFiles()) WriteBytes(s.*file.Folder + file.Name, SomeContent(file.Name, 3000));
    WriteBytes(s.AidsDir + L"Zeugnisbemerkungen.txt", SomeContent(L"Bemerkungen", 2000));
    WriteBytes(s.AidsDir + L"Arbeitsverhalten.txt", SomeContent(L"Arbeitsverhalten", 1500));
    WriteBytes(s.AidsDir + L"Archiv\\alt.txt", SomeContent(L"alt", 100));
}

// A property of an msiexec command line, quoted for folders with blanks.
std::wstring Property(const wchar_t* name, const std::wstring& value) {
    return std::wstring(L" ") + name + L"=\"" + value + L"\"";
}
}  // namespace

SampleInstall LayOutSample(const std::wstring& root, const std::wstring& programFile, int loggedInUsers) {
    const SampleInstall s = SamplePaths(root);
    LayOutProgramFolder(s, programFile);
    LayOutIniAndData(s, loggedInUsers);
    return s;
}

unsigned long RunMsiexec(const std::wstring& arguments) {
    std::wstring system(MAX_PATH, L'\0');
    system.resize(::GetSystemDirectoryW(system.data(), MAX_PATH));
    Program msiexec(system + L"\\msiexec.exe", arguments);
    const auto code = msiexec.WaitExit(120000);
    if (!code) throw std::runtime_error("msiexec did not finish: " + WideToUtf8(arguments));
    return *code;
}

std::optional<std::wstring> RegisteredInstallLocation() {
    HKEY key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallPropertiesKey, 0, KEY_READ | kInstallerView, &key) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring value(1024, L'\0');
    DWORD size = static_cast<DWORD>(value.size() * sizeof(wchar_t)), type = 0;
    const LONG rc =
        ::RegQueryValueExW(key, L"InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size);
    ::RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return std::wstring();
    value.resize(size / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    return value;
}

InstalledSample::InstalledSample(const std::wstring& root, const std::wstring& fixture, int loggedInUsers)
    : Sample(SamplePaths(root)) {
    LayOutIniAndData(Sample, loggedInUsers);
    // The package is copied next to the sample first, so that msiexec is handed
    // a short path wherever the build tree lies.
    const std::wstring package = root + L"\\Velmora.msi";
    if (!::CopyFileW((BinDir() + L"\\fixtures\\Velmora_" + fixture + L".msi").c_str(), package.c_str(), FALSE))
        throw std::runtime_error("cannot copy the installation package of " + WideToUtf8(fixture));
    RemoveCommand = std::wstring(L"/x ") + kProductCode + L" /qn";
    // A product left installed by a run that was stopped would turn this
    // installation into a repair of that one.
    if (RegisteredInstallLocation()) RunMsiexec(RemoveCommand);
    const std::wstring folder = Sample.ProgramDir + L"\\";
    InstallCommand = L"/i \"" + package + L"\" /qn ALLUSERS=1" + Property(L"INSTALLDIR", folder) +
                     Property(L"ARPINSTALLLOCATION", folder);
    const unsigned long code = RunMsiexec(InstallCommand);
    if (code != 0)
        throw std::runtime_error("msiexec " + WideToUtf8(InstallCommand) + " ended with " + std::to_string(code));
    WriteStartIni(Sample);
}

InstalledSample::~InstalledSample() {
    try {
        RunMsiexec(RemoveCommand);
    } catch (const std::exception&) {
        // The next installation removes what is left.
    }
}

namespace {
void Collect(const std::wstring& folder, const std::wstring& prefix, std::vector<std::wstring>& out) {
    ForEachIn(folder, [&](const WIN32_FIND_DATAW& fd) {
        const std::wstring name = fd.cFileName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            Collect(folder + L"\\" + name, prefix + name + L"\\", out);
        else
            out.push_back(prefix + name);
    });
}
}  // namespace

std::vector<std::wstring> ListTree(const std::wstring& folder) {
    std::vector<std::wstring> files;
    Collect(folder, L"", files);
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace vlmtest
