// A sample Velmora installation laid out on disk: a program folder with its
// start ini, the ini folder with the main ini, and the data with every file the
// backups copy. Used by the end-to-end tests and by the demonstration run.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace vlmtest {

struct SampleInstall {
    std::wstring Root;        // everything lies below this folder
    std::wstring ProgramDir;  // Root\Programm (no final backslash)
    std::wstring IniDir;      // Root\Ini\ (with final backslash)
    std::wstring BaseDir;     // Root\Velmora\ (with final backslash)
    std::wstring DataDir;     // Root\Velmora\Daten\ (with final backslash)
    std::wstring FormsDir;    // Root\Velmora\Formulare\ (with final backslash)
    std::wstring NkkDir;      // Root\Velmora\NKK\ (with final backslash)
    std::wstring AidsDir;     // Root\Velmora\Formulierungen\ (with final backslash)
};

struct DataFile {
    const wchar_t* Name;
    std::wstring SampleInstall::*Folder;
};
// The twelve files the backups copy, in their order.
const std::vector<DataFile>& DataFiles();
// Deletes one of them from the sample, so that its backup group fails.
void RemoveDataFile(const SampleInstall& s, const std::wstring& name);

// Lays out the installation below root; programFile is copied as Velmora10.EXE.
SampleInstall LayOutSample(const std::wstring& root, const std::wstring& programFile, int loggedInUsers = 0);

// The product code of Velmora's installation package; its packed form names
// the registration the registered updater reads.
inline constexpr wchar_t kProductCode[] = L"{0B19E2D7-A6C4-85F3-0E1B-2D3C4A59F867}";

// The sample installed as on a school's computer: the ini folder and the data
// laid out below root, and the program folder Root\Programm\ installed for all
// users by Windows Installer (the prefix's msiexec) from the package the build
// makes of a version fixture (Velmora_<fixture>.msi beside the fixtures), which
// registers the product with its InstallLocation. The start ini, which
// Velmora's setup writes with the chosen ini folder, follows the installation:
// the package tool has no ini-file table. The product is removed with msiexec
// when the object goes; the files the installer did not write stay for the
// caller's folder to remove.
class InstalledSample {
public:
    InstalledSample(const std::wstring& root, const std::wstring& fixture, int loggedInUsers = 0);
    InstalledSample(const InstalledSample&) = delete;
    InstalledSample& operator=(const InstalledSample&) = delete;
    ~InstalledSample();

    SampleInstall Sample;
    std::wstring InstallCommand;  // the msiexec arguments of the installation
    std::wstring RemoveCommand;   // and of the removal
};

// Runs the prefix's msiexec with the arguments and returns its exit code.
unsigned long RunMsiexec(const std::wstring& arguments);
// The registered InstallLocation of the product in the installer's (64-bit)
// view, or nothing when the product is not registered for all users.
std::optional<std::wstring> RegisteredInstallLocation();

// The files below a folder as relative paths, sorted.
std::vector<std::wstring> ListTree(const std::wstring& folder);

}  // namespace vlmtest
