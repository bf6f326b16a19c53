// The data backups: the groups, their steps and the run that walks them.
#include "Backups.h"
#include "Fehler.h"
#include "Files.h"
#include "FolderFiles.h"
#include "Heartbeat.h"
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
    {L"Sicherung der Formularkataloge ...",
     L"Sicherung der Formularkataloge wird erstellt ...",
     L"Sicherung Formularkataloge - OK",
     &UpdateRun::BackupFormKatalog,
     &UpdateSession::FormsDir,
     {L"Formulare.dbf", L"Formulare.cdx", L"Beiblaetter.dbf", L"Beiblaetter.cdx", L"Deckblaetter.dbf",
      L"Deckblaetter.cdx"}},
    {L"Sicherung der Formulierungshilfen wird erstellt ...",
     L"Sicherung der Formulierungshilfen wird erstellt ...",
     L"Sicherung Formulierungshilfen - OK",
     &UpdateRun::BackupFormHilfePfad,
     &UpdateSession::BaseDir,
     {L"Formulierungen"}},
    {L"Sicherung des F\u00e4cherkanons wird erstellt ...",
     L"Sicherung des F\u00e4cherkanons wird erstellt ...",
     L"Sicherung F\u00e4cherkanon - OK",
     &UpdateRun::BackupFaecherkanon,
     &UpdateSession::DataDir,
     {L"FAECHERKANON.dbf", L"FaecherKanon.cdx"}},
    {L"Sicherung der NKK-Dateien wird erstellt ...",
     L"Sicherung der NKK-Dateien wird erstellt ...",
     L"Sicherung NKK-Dateien - OK",
     &UpdateRun::BackupNKK,
     &UpdateSession::NkkDir,
     {L"NKK_FAECHER.DBF", L"NKK_Faecher.CDX", L"NKK_NOTEN.DBF", L"NKK_Noten.CDX"}},
};

const BackupGroup& GroupOf(int (UpdateRun::*step)()) {
    for (const BackupGroup& group : BackupGroups)
        if (group.Step == step) return group;
    RaiseError(L"Keine Sicherungsgruppe f\u00fcr diesen Schritt");
}

// Copies one file to a backup beside it. Each full path is the folder as
// the ini names it (a link there is followed: an administrator may have moved
// the data) and a name in it, which must not be a link: nothing is read from
// or written to where a link below a Velmora folder leads.
bool CopyBeside(const std::wstring& source, const std::wstring& backup) {
    const FileInFolder from = OpenFileInFolder(source, Folder::ReadOnly);
    const FileInFolder to = OpenFileInFolder(backup);
    if (!from || !to) return false;
    const unique_hfile in = OpenToRead(from.Dir, from.Name);
    return in && CopyWhole(in.get(), to.Dir, to.Name);
}

// Copies the group's files, in table order. The first failure ends the
// step: copies already made stay, later files are not tried. Each copy
// replaces the backup of the last run only once it is complete, so a failure
// leaves that backup as it was; a backup name that is a link is refused.
int BackupFiles(const UpdateSession& session, const BackupGroup& group) {
    const std::wstring& folder = session.*group.Folder;
    for (const wchar_t* name : group.Names)
        if (!CopyBeside(folder + name, folder + BackupPrefix + name)) return StepFailed;
    return StepOk;
}

int ErrorResult(DWORD error) { return error != 0 ? static_cast<int>(error) : 1; }
int LastErrorResult() { return ErrorResult(::GetLastError()); }

// A folder named by a full path: its parent as named, the folder itself
// relative to it and never a link. how: open it, or make it when missing.
Folder OpenNamedChild(const std::wstring& path, Folder::How how, ACCESS_MASK access) {
    const FileInFolder place = OpenFileInFolder(WithoutFinalBackslashes(path));
    return place ? place.Dir.OpenFolder(place.Name, how, access) : Folder();
}

// Every file (with includeSubfolders every folder) of from into to, existing
// files replaced. The first failure ends it. A link in from is never
// followed: a link to a folder is not entered (it may lead back here), one to
// a file fails as a copy that failed.
int CopyFilesInto(const Folder& from, const Folder& to, bool includeSubfolders) {
    std::vector<Folder::Entry> entries;
    if (!from.List(entries, true)) return LastErrorResult();
    for (const Folder::Entry& entry : entries) {
        // A folder of many small files takes a while: the window answers meanwhile.
        Heartbeat();
        if (entry.Attributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!includeSubfolders || entry.IsLink()) continue;
            const Folder fromChild = from.OpenFolder(entry.Name, Folder::How::Open, Folder::ReadOnly);
            const Folder toChild = to.OpenFolder(entry.Name, Folder::How::OpenOrCreate);
            if (!fromChild || !toChild) return LastErrorResult();
            if (const int result = CopyFilesInto(fromChild, toChild, true)) return result;
            continue;
        }
        const unique_hfile in = OpenToRead(from, entry.Name);
        if (!in || !CopyWhole(in.get(), to, entry.Name)) return LastErrorResult();
    }
    return 0;
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
    const std::wstring backup = base + BackupPrefix + name;
    // The folders above the backup folder are made by name, as the ini names
    // them; the backup folder itself relative to its parent, and a link
    // standing there is no backup folder: the copies would land wherever it
    // leads.
    const std::wstring parent = backup.substr(0, backup.find_last_of(L'\\') + 1);
    if ((!parent.empty() && !DirectoryExists(parent) && !ForceDirectories(parent)) ||
        !OpenNamedChild(backup, Folder::How::OpenOrCreate, Folder::Writable)) {
        Window.ErrorBox(L"Das Backup-Verzeichnis konnte nicht erstellt werden\nDas Update wird abgebrochen!");
        return StepFailed;
    }
    return CopyFolder(base + name + L"\\", backup, false);
}

int UpdateRun::CopyFolder(const std::wstring& source, const std::wstring& destination, bool includeSubfolders) {
    // Done here rather than by the shell: the shell answers a copy out of a
    // missing folder, and under Wine copies that failed, with success, and
    // reads and writes through links. Each file is copied whole and checked
    // (see CopyWhole), so 0 means every file is in the destination with its
    // content.
    const Folder from = OpenNamedChild(source, Folder::How::Open, Folder::ReadOnly);
    if (!from) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? CopyFolderSourceMissing
                                                                              : ErrorResult(error);
    }
    const Folder to = OpenNamedChild(destination, Folder::How::OpenOrCreate, Folder::Writable);
    if (!to) return LastErrorResult();
    return CopyFilesInto(from, to, includeSubfolders);
}
void UpdateRun::RunBackups() {
    for (const BackupGroup& group : BackupGroups) {
        Window.AddLogLine(group.Announcement);
        Window.SetStatus(group.Status);
        if ((this->*group.Step)() != StepOk) Window.EndWith(1);
        Window.AddLogLinePaused(group.Done);
    }
}
