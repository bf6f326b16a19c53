#include "Backups.h"
#include <shellapi.h>
#include "Files.h"
#include <vector>

namespace {

// Copies the rows of one step, in table order. The first failure ends the
// step: copies already made stay, later rows are not tried.
int BackupFiles(const TFHaupt& form, BackupStep step) {
    for (const BackupFile& row : BackupFileTable) {
        if (row.Step != step) continue;
        const std::wstring& folder = form.*row.Folder;
        const std::wstring source = folder + row.Name;
        const std::wstring backup = folder + BackupPrefix + row.Name;
        if (!::CopyFileExW(source.c_str(), backup.c_str(), nullptr, nullptr, nullptr, 0)) return 1;
    }
    return 0;
}

// A list of one path for SHFileOperationW, ended by two zero characters
// however long the path is.
std::vector<wchar_t> DoubleTerminated(const std::wstring& path) {
    std::vector<wchar_t> list(path.begin(), path.end());
    list.push_back(L'\0');
    list.push_back(L'\0');
    return list;
}

// Whether a file below the source folder, or its copy, would have a path of
// MAX_PATH characters or more: the shell places no such copy, and under Wine
// still reports the copy as done. A subfolder it copies needs room for its
// "\*.*" pattern and its copy's path, each with the two zeros of a path list,
// in a buffer of MAX_PATH characters: one character short, the 32-bit shell
// under Wine copied nothing of the subfolder and still reported success.
bool BeyondShellPaths(const std::wstring& source, const std::wstring& destination, bool includeSubfolders) {
    WIN32_FIND_DATAW data{};
    unique_hfind find(::FindFirstFileW((source + L"*").c_str(), &data));
    if (!find) return false;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring target = destination + L"\\" + name;
        if (source.size() + name.size() >= MAX_PATH || target.size() >= MAX_PATH) return true;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !includeSubfolders) continue;
        const std::wstring pattern = source + name + L"\\*.*";
        if (pattern.size() + 2 > MAX_PATH || target.size() + 2 > MAX_PATH) return true;
        if (BeyondShellPaths(source + name + L"\\", target, true)) return true;
    } while (::FindNextFileW(find.get(), &data));
    return false;
}

int LastErrorResult() {
    const DWORD error = ::GetLastError();
    return error != 0 ? static_cast<int>(error) : 1;
}

// The folder copy for paths the shell cannot take, with the same outcome:
// every file (with includeSubfolders every folder) in the source ends up in
// the destination, existing files replaced. The first failure ends it.
int CopyFolderDirectly(const std::wstring& source, const std::wstring& destination, bool includeSubfolders) {
    if (!DirectoryExists(destination) && !::CreateDirectoryW(destination.c_str(), nullptr)) return LastErrorResult();
    WIN32_FIND_DATAW data{};
    unique_hfind find(::FindFirstFileW((source + L"*").c_str(), &data));
    if (!find) return LastErrorResult();
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring target = destination + L"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!includeSubfolders) continue;
            if (const int result = CopyFolderDirectly(source + name + L"\\", target, true)) return result;
        } else if (!::CopyFileExW((source + name).c_str(), target.c_str(), nullptr, nullptr, nullptr, 0)) {
            return LastErrorResult();
        }
    } while (::FindNextFileW(find.get(), &data));
    return ::GetLastError() == ERROR_NO_MORE_FILES ? 0 : LastErrorResult();
}

}  // namespace

bool ForceDirectories(const std::wstring& dir) {
    const std::wstring path = WithoutFinalBackslashes(dir);
    if (path.empty()) return false;
    if (DirectoryExists(path)) return true;
    const size_t slash = path.find_last_of(L'\\');
    if (slash != std::wstring::npos && slash > 0 && !ForceDirectories(path.substr(0, slash))) return false;
    return ::CreateDirectoryW(path.c_str(), nullptr) != 0;
}

int TFHaupt::BackupFormKatalog() { return BackupFiles(*this, BackupStep::FormKatalog); }

int TFHaupt::BackupFaecherkanon() { return BackupFiles(*this, BackupStep::Faecherkanon); }

int TFHaupt::BackupNKK() { return BackupFiles(*this, BackupStep::NKK); }

int TFHaupt::BackupFormHilfePfad() {
    const std::wstring source = BaseDir + L"Formulierungen\\";
    const std::wstring backup = BaseDir + L"VLM_Bkp_Formulierungen";
    if (!ForceDirectories(backup)) {
        ErrorBox(L"Das Backup-Verzeichnis konnte nicht erstellt werden\nDas Update wird abgebrochen!");
        return 1;
    }
    return CopyFolder(source, backup, false);
}

int TFHaupt::CopyFolder(const std::wstring& source, const std::wstring& destination, bool includeSubfolders) {
    // The shell answers a copy out of a missing folder with success, having
    // copied nothing; a backup that did not happen must not pass as made.
    if (!DirectoryExists(source)) return CopyFolderSourceMissing;
    if (BeyondShellPaths(source, destination, includeSubfolders))
        return CopyFolderDirectly(source, destination, includeSubfolders);

    std::vector<wchar_t> from = DoubleTerminated(source + L"*.*");
    std::vector<wchar_t> to = DoubleTerminated(destination);
    SHFILEOPSTRUCTW operation{};
    operation.hwnd = Handle;
    operation.wFunc = FO_COPY;
    operation.pFrom = from.data();
    operation.pTo = to.data();
    operation.fFlags = includeSubfolders ? FOF_NOCONFIRMATION : FOF_NOCONFIRMATION | FOF_FILESONLY | FOF_NORECURSION;
    return ::SHFileOperationW(&operation);
}
