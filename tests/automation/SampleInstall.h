// A sample Velmora installation laid out on disk: a program folder with its
// start ini, the ini folder with the main ini, and the data with every file the
// backups copy. Used by the end-to-end tests and by the demonstration run.
#pragma once
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

// The files below a folder as relative paths, sorted.
std::vector<std::wstring> ListTree(const std::wstring& folder);

}  // namespace vlmtest
