#include "Backups.h"
#include "Files.h"
#include <vector>

namespace {

// Copies the rows of one step, in table order. The first failure ends the
// step: copies already made stay, later rows are not tried. Each copy replaces
// the backup of the last run only once it is complete, so a failure leaves
// that backup as it was; a backup name that is a link is refused.
int BackupFiles(const TFHaupt& form, BackupStep step) {
    for (const BackupFile& row : BackupFileTable) {
        if (row.Step != step) continue;
        const std::wstring& folder = form.*row.Folder;
        if (!ReplaceByCheckedCopy(folder + row.Name, folder, std::wstring(BackupPrefix) + row.Name)) return 1;
    }
    return 0;
}

int ErrorResult(DWORD error) { return error != 0 ? static_cast<int>(error) : 1; }
int LastErrorResult() { return ErrorResult(::GetLastError()); }

// Every file (with includeSubfolders every folder) of source into
// base\relative, existing files replaced. The first failure ends it.
int CopyFilesBelow(const std::wstring& source, const std::wstring& base, const std::wstring& relative,
                   bool includeSubfolders) {
    const std::wstring destination = WithFinalBackslash(base) + relative;
    if (!NoLinkBelow(base, relative)) return ERROR_ACCESS_DENIED;
    if (!DirectoryExists(destination) && !::CreateDirectoryW(destination.c_str(), nullptr)) return LastErrorResult();
    // Made just now by name: it must still be a plain folder.
    if (!NoLinkBelow(base, relative)) return ERROR_ACCESS_DENIED;
    FolderListing list(source);
    while (const WIN32_FIND_DATAW* data = list.Next()) {
        const std::wstring name = data->cFileName;
        if (data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A link to a folder is not entered: it may lead back here.
            if (!includeSubfolders || (data->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
            if (const int result = CopyFilesBelow(source + name + L"\\", base, relative + L"\\" + name, true))
                return result;
        } else if (!ReplaceByCheckedCopy(source + name, base, relative + L"\\" + name)) {
            return LastErrorResult();
        }
    }
    // A source that lists nothing at all, not even "." and "..", is no folder
    // any more: a failure here.
    return list.Error() == ERROR_NO_MORE_FILES ? 0 : ErrorResult(list.Error());
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
    // A link standing where the backup folder belongs is no backup folder:
    // the copies would land wherever it leads.
    if (!NoLinkBelow(BaseDir, L"VLM_Bkp_Formulierungen") || !ForceDirectories(backup) ||
        !NoLinkBelow(BaseDir, L"VLM_Bkp_Formulierungen")) {
        ErrorBox(L"Das Backup-Verzeichnis konnte nicht erstellt werden\nDas Update wird abgebrochen!");
        return 1;
    }
    return CopyFolder(source, backup, false);
}

int TFHaupt::CopyFolder(const std::wstring& source, const std::wstring& destination, bool includeSubfolders) {
    // Done here rather than by the shell: the shell answers a copy out of a
    // missing folder, and under Wine copies that failed, with success, and
    // writes through links. Each file is copied whole and checked (see
    // ReplaceByCheckedCopy), so 0 means every file is in the destination
    // with its content.
    if (!DirectoryExists(source)) return CopyFolderSourceMissing;
    const std::wstring folder = WithoutFinalBackslashes(destination);
    const std::size_t slash = folder.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash + 1 == folder.size()) return ERROR_INVALID_NAME;
    return CopyFilesBelow(source, folder.substr(0, slash + 1), folder.substr(slash + 1), includeSubfolders);
}
