// The data backups: the groups, their steps and the run that walks them.
#include "Backups.h"
#include "Fehler.h"
#include "Files.h"
#include "UpdateRun.h"
#include <vector>

namespace {

// One group of the backups: what the run shows while it copies the group,
// the step that copies it, its folder and its names. The run walks the groups
// in this order.
struct BackupGroup {
    const wchar_t* Announcement;          // log line before the step
    const wchar_t* Status;                // status line during the step
    const wchar_t* Done;                  // log line after it succeeded
    int (UpdateRun::*Step)();             // the step, by its own name
    std::wstring UpdateSession::*Folder;  // the session field naming the folder
    // The files the step copies, in this order and spelled as the copies are
    // named (the platform finds each whatever the letter case it is stored
    // in); for the formulation aids, the folder copied.
    std::vector<const wchar_t*> Names;
};

// The form catalogues announce themselves in the log and the status line with
// different texts; the other groups use one text for both.
const BackupGroup BackupGroups[] = {
    {L"Sicherung der Formularkataloge ...", L"Sicherung der Formularkataloge wird erstellt ...",
     L"Sicherung Formularkataloge - OK", &UpdateRun::BackupFormKatalog, &UpdateSession::FormsDir,
     {L"Formulare.dbf", L"Formulare.cdx", L"Beiblaetter.dbf", L"Beiblaetter.cdx", L"Deckblaetter.dbf",
      L"Deckblaetter.cdx"}},
    {L"Sicherung der Formulierungshilfen wird erstellt ...", L"Sicherung der Formulierungshilfen wird erstellt ...",
     L"Sicherung Formulierungshilfen - OK", &UpdateRun::BackupFormHilfePfad, &UpdateSession::BaseDir,
     {L"Formulierungen"}},
    {L"Sicherung des F\u00e4cherkanons wird erstellt ...", L"Sicherung des F\u00e4cherkanons wird erstellt ...",
     L"Sicherung F\u00e4cherkanon - OK", &UpdateRun::BackupFaecherkanon, &UpdateSession::DataDir,
     {L"FAECHERKANON.dbf", L"FaecherKanon.cdx"}},
    {L"Sicherung der NKK-Dateien wird erstellt ...", L"Sicherung der NKK-Dateien wird erstellt ...",
     L"Sicherung NKK-Dateien - OK", &UpdateRun::BackupNKK, &UpdateSession::NkkDir,
     {L"NKK_FAECHER.DBF", L"NKK_Faecher.CDX", L"NKK_NOTEN.DBF", L"NKK_Noten.CDX"}},
};

const BackupGroup& GroupOf(int (UpdateRun::*step)()) {
    for (const BackupGroup& group : BackupGroups)
        if (group.Step == step) return group;
    RaiseError(L"Keine Sicherungsgruppe f\u00fcr diesen Schritt");
}

// Copies the group's files, in table order. The first failure ends the
// step: copies already made stay, later files are not tried. Each copy
// replaces the backup of the last run only once it is complete, so a failure
// leaves that backup as it was; a backup name that is a link is refused.
int BackupFiles(const UpdateSession& session, const BackupGroup& group) {
    const std::wstring& folder = session.*group.Folder;
    for (const wchar_t* name : group.Names)
        if (!ReplaceByCheckedCopy(folder + name, folder, std::wstring(BackupPrefix) + name)) return StepFailed;
    return StepOk;
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
    // A folder of many small files takes a while: the window answers meanwhile.
    FolderListing list(source, true);
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

int UpdateRun::BackupFormKatalog() { return BackupFiles(Session, GroupOf(&UpdateRun::BackupFormKatalog)); }

int UpdateRun::BackupFaecherkanon() { return BackupFiles(Session, GroupOf(&UpdateRun::BackupFaecherkanon)); }

int UpdateRun::BackupNKK() { return BackupFiles(Session, GroupOf(&UpdateRun::BackupNKK)); }

int UpdateRun::BackupFormHilfePfad() {
    const BackupGroup& group = GroupOf(&UpdateRun::BackupFormHilfePfad);
    const std::wstring& base = Session.*group.Folder;
    const std::wstring name = group.Names.at(0);
    const std::wstring backupName = BackupPrefix + name;
    const std::wstring backup = base + backupName;
    // A link standing where the backup folder belongs is no backup folder:
    // the copies would land wherever it leads.
    if (!NoLinkBelow(base, backupName) || !ForceDirectories(backup) || !NoLinkBelow(base, backupName)) {
        Window.ErrorBox(L"Das Backup-Verzeichnis konnte nicht erstellt werden\nDas Update wird abgebrochen!");
        return StepFailed;
    }
    return CopyFolder(base + name + L"\\", backup, false);
}

int UpdateRun::CopyFolder(const std::wstring& source, const std::wstring& destination, bool includeSubfolders) {
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

void UpdateRun::RunBackups() {
    for (const BackupGroup& group : BackupGroups) {
        Window.AddLogLine(group.Announcement);
        Window.SetStatus(group.Status);
        if ((this->*group.Step)() != StepOk) Window.EndWith(1);
        Window.AddLogLinePaused(group.Done);
    }
}
