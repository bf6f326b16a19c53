// The archive step of the directory updater: the old program folder is packed
// into an archive of this run's own written into the folder under a name of its
// own, the archive is renamed to vlmaltinst.zip, and only then is the rest of
// the folder emptied. At every instant each file of the old installation is
// complete either in its place or in the archive inside the folder.
#include "Archive.h"
#include "ArchiveContainer.h"
#include <windows.h>
#include <algorithm>
#include <exception>
#include <memory>
#include <vector>
#include "Fehler.h"
#include "DirectoryUpdater.h"
#include "UpdateRun.h"
#include "Files.h"
#include "Heartbeat.h"
#include "InProgress.h"
#include "Restore.h"

namespace {

const std::wstring& OwnPath() {
    static const std::wstring path = ModuleFileName();
    return path;
}

// For the walk, a folder that cannot be listed raises: its files would be
// missing from an archive that is then taken as complete.
std::vector<Folder::Entry> ListForArchive(const Folder& dir) {
    std::vector<Folder::Entry> entries;
    if (!dir.List(entries, true)) RaiseError(L"Der Ordner kann nicht gelesen werden: " + dir.Path(), dir.Path());
    return entries;
}

bool HasParentFolder(const std::wstring& full) {
    if (full.rfind(L"\\\\", 0) == 0) {
        // \\server\share is a root: a folder needs a component after it.
        const std::size_t share = full.find(L'\\', 2);
        return share != std::wstring::npos && full.find(L'\\', share + 1) != std::wstring::npos;
    }
    // "C:\x": a drive, its backslash and at least one component.
    return full.size() > 3 && full[1] == L':' && full[2] == L'\\';
}

// A name planted at a child's place leads out of the folder: the relative
// open refuses it with this error, and the walk passes it over like a link
// it listed.
bool RefusedAsLink() { return ::GetLastError() == Folder::LinkRefused; }

// This run's archive, written straight into the program folder under a name
// of its own. It is created new, relative to the folder's handle, so that a
// name planted there (a link included) is never written through, and held
// without sharing until it is renamed to its final name; on every other way
// out it is deleted through its handle.
class PartialArchive {
public:
    explicit PartialArchive(const Folder& folder)
        : folder_(folder),
          name_(std::wstring(kArchiveName) + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp") {
        file_ = folder_.OpenFile(name_, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, 0, Folder::How::Create);
        if (!file_) RaiseError(L"Das Archiv kann nicht angelegt werden: " + Path(), Path());
    }
    ~PartialArchive() {
        if (file_) Folder::Delete(file_.get());
    }
    PartialArchive(const PartialArchive&) = delete;
    PartialArchive& operator=(const PartialArchive&) = delete;

    std::wstring Path() const { return folder_.Path() + L"\\" + name_; }

    // A second handle to the same open file, for the writer to write and close.
    unique_hfile ForWriter() const {
        HANDLE copy = nullptr;
        if (!::DuplicateHandle(::GetCurrentProcess(), file_.get(), ::GetCurrentProcess(), &copy, 0, FALSE,
                               DUPLICATE_SAME_ACCESS))
            RaiseError(L"Das Archiv kann nicht angelegt werden: " + Path(), Path());
        return unique_hfile(copy);
    }

    // Gives the complete archive its final name in one rename through its own
    // handle into the folder's handle, replacing an older archive there (a
    // link there is replaced itself). What then stands at the name, opened
    // afresh without following a link, must be the file written: a rename
    // the host turned elsewhere fails the step before anything is deleted.
    void PlaceAs(const std::wstring& name) {
        const std::wstring destination = folder_.Path() + L"\\" + name;
        const std::uint64_t written = FileIndexOf(file_.get());
        if (written == 0 || !::FlushFileBuffers(file_.get()))
            RaiseError(L"Das Archiv kann nicht in den Programmordner gestellt werden: " + destination, destination);
        ClearOlderReadOnly(name);
        if (!folder_.RenameInto(file_.get(), name, true))
            RaiseError(L"Das Archiv kann nicht in den Programmordner gestellt werden: " + destination, destination);
        const unique_hfile placed = folder_.OpenFile(name, FILE_READ_ATTRIBUTES, kShareAll);
        if (!placed || FileIndexOf(placed.get()) != written)
            RaiseError(L"Das Archiv kann nicht in den Programmordner gestellt werden: " + destination, destination);
        file_.reset();
    }

private:
    static constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

    // A read-only older archive would stop the rename; its bit is cleared
    // through a handle checked to be that file, never through a link.
    void ClearOlderReadOnly(const std::wstring& name) const {
        const unique_hfile old = folder_.OpenFile(name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll);
        FILE_BASIC_INFO info{};
        if (old && ::GetFileInformationByHandleEx(old.get(), FileBasicInfo, &info, sizeof info) &&
            (info.FileAttributes & FILE_ATTRIBUTE_READONLY))
            ClearReadOnly(old.get(), info.FileAttributes);
    }

    const Folder& folder_;
    std::wstring name_;
    unique_hfile file_;
};

// Removes a file the walk archived, if it is still the file that was archived
// and still lies where it was archived. Opened relative to the folder the
// emptying holds, checked and deleted through that one handle, which shares
// only reading and deleting: no writer can hold the file or open it between
// the check and the deletion.
bool RemoveArchived(const Folder& dir, const std::wstring& name, const ArchivedFiles& archived) {
    const auto it = archived.find(dir.Path() + L"\\" + name);
    if (it == archived.end()) return false;
    const unique_hfile file =
        dir.OpenFile(name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE);
    if (!file) return false;
    FILE_STANDARD_INFO standard{};
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard) ||
        !::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic) ||
        static_cast<std::uint64_t>(standard.EndOfFile.QuadPart) != it->second.Size ||
        basic.LastWriteTime.QuadPart != it->second.LastWrite)
        return false;
    const DWORD attributes = basic.FileAttributes;
    const bool readOnly = attributes & FILE_ATTRIBUTE_READONLY;
    if (!ClearReadOnly(file.get(), attributes)) return false;
    if (Folder::Delete(file.get())) return true;
    if (readOnly) SetTimeAndAttributes(file.get(), nullptr, attributes);
    return false;
}

std::size_t EmptyFolder(const Folder& dir, const ArchivedFiles& archived, std::initializer_list<const wchar_t*> keep) {
    std::vector<Folder::Entry> entries;
    std::size_t left = dir.List(entries, true) ? 0 : 1;
    for (const Folder::Entry& entry : entries) {
        Heartbeat();
        bool removed = false;
        if (entry.IsLink()) {
            // A folder link itself, never what it points to. A link to a
            // file is not touched: where the platform shows it as a plain
            // file, deleting it deletes its target.
            removed = (entry.Attributes & FILE_ATTRIBUTE_DIRECTORY) && dir.RemoveLink(entry.Name);
        } else if (entry.IsFolder()) {
            // Entered through its own handle, relative to this one: a folder
            // swapped for a link since the listing is refused, not followed.
            Folder sub = dir.OpenFolder(entry.Name, Folder::How::Open, Folder::Removable);
            removed = sub && EmptyFolder(sub, archived, {}) == 0 && ClearReadOnly(sub.get(), entry.Attributes) &&
                      sub.Remove();
        } else if (std::none_of(keep.begin(), keep.end(), [&](const wchar_t* k) { return SamePath(entry.Name, k); })) {
            removed = RemoveArchived(dir, entry.Name, archived);
        }
        if (!removed) ++left;
    }
    return left;
}

}  // namespace

std::wstring TempPath() {
    const DWORD needed = ::GetTempPathW(0, nullptr);
    if (needed == 0) RaiseError(L"Der temporäre Ordner ist nicht bekannt");
    std::wstring path(needed, L'\0');
    const DWORD n = ::GetTempPathW(needed, path.data());
    if (n == 0 || n >= needed) RaiseError(L"Der temporäre Ordner ist nicht bekannt");
    path.resize(n);  // the text up to its NUL
    return path;
}

std::wstring ProgramFolder(const std::wstring& dir) {
    const std::wstring plain = PlainPath(dir);
    // "C:" and "C:Prog" name the current folder of drive C, whatever that is at
    // the time: never a program folder.
    if (plain.size() >= 2 && plain[1] == L':' && (plain.size() == 2 || (plain[2] != L'\\' && plain[2] != L'/')))
        return {};
    const std::wstring full = WithoutFinalBackslashes(FullPath(plain));
    return HasParentFolder(full) ? full : std::wstring();
}

std::wstring FolderHolding(const std::wstring& file) {
    // A "\\?\" name is taken literally by the platform; any other is
    // normalised the way the platform opened it.
    const std::wstring full = file.rfind(L"\\\\?\\", 0) == 0 ? PlainPath(file) : FullPath(file);
    const std::size_t slash = full.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : full.substr(0, slash);
}

bool LiesWithin(const std::wstring& path, const std::wstring& folderOnVolume) {
    // A folder that does not exist yet counts by its nearest existing parent.
    for (std::wstring existing = WithoutFinalBackslashes(FullPath(path)); !existing.empty();) {
        const std::wstring onVolume = VolumePath(existing);
        if (!onVolume.empty()) return IsWithin(onVolume, folderOnVolume);
        const std::size_t slash = existing.rfind(L'\\');
        if (slash == std::wstring::npos || slash < 3) break;
        existing.resize(slash);
    }
    return false;
}

bool IsWithin(const std::wstring& path, const std::wstring& folder) {
    const std::wstring p = WithoutFinalBackslashes(path), f = WithoutFinalBackslashes(folder);
    if (p.empty() || f.empty() || p.size() < f.size()) return false;
    if (p.size() > f.size() && p[f.size()] != L'\\') return false;
    return SamePath(p.substr(0, f.size()), f);
}

// The folder the archive step may take, opened once: a full path with a
// parent, no link itself. Raises otherwise.
Folder OpenProgramFolder(const std::wstring& Dir) {
    const std::wstring top = ProgramFolder(Dir);
    if (top.empty()) RaiseError(L"Der Ordner hat keinen übergeordneten Ordner: " + Dir, Dir);
    Folder folder = Folder::Open(top);
    // A program folder that is itself a link would be emptied where it points.
    if (!folder && RefusedAsLink()) RaiseError(L"Der Ordner ist eine Verknüpfung: " + top, top);
    if (!folder) RaiseError(L"Der Ordner kann nicht gelesen werden: " + top, top);
    return folder;
}

void DoZip(const std::wstring& Dir, ArchiveWriter& archive, ArchivedFiles* archived, const std::wstring& skip) {
    DoZip(OpenProgramFolder(Dir), archive, archived, skip);
}

void DoZip(const Folder& Dir, ArchiveWriter& archive, ArchivedFiles* archived, const std::wstring& skip) {
    // Entry names begin with the top folder's own name.
    const std::wstring& top = Dir.Path();
    ArchiveWalk walk{archive, archived, skip};
    ZipFolder(Dir, top.substr(top.rfind(L'\\') + 1) + L"/", walk);
}

void ZipFolder(const Folder& Dir, const std::wstring& Base, ArchiveWalk& walk) {
    // Hidden and system folders are walked too: the folder is emptied
    // afterwards, so whatever the archive leaves out is lost. Links are not
    // entered: what they point to lies outside the folder. Each sub-folder is
    // opened relative to this one's handle.
    for (const Folder::Entry& entry : ListForArchive(Dir)) {
        if (!entry.IsFolder()) continue;
        const Folder sub = Dir.OpenFolder(entry.Name, Folder::How::Open, Folder::ReadOnly);
        if (!sub && RefusedAsLink()) continue;  // swapped for a link since the listing
        if (!sub) RaiseError(L"Der Ordner kann nicht gelesen werden: " + Dir.Path() + L"\\" + entry.Name, Dir.Path());
        ZipFolder(sub, Base + entry.Name + L"/", walk);
    }
    ZipFolderFiles(Dir, Base, walk);
}

void ZipFolderFiles(const Folder& Dir, const std::wstring& Base, ArchiveWalk& walk) {
    for (const Folder::Entry& entry : ListForArchive(Dir)) {
        if (entry.IsFolder() || entry.IsLink()) continue;
        const std::wstring full = Dir.Path() + L"\\" + entry.Name;
        if (full == OwnPath() || full == walk.Skip) continue;  // exact text, letter case included
        // Held open while the archive reads it, sharing reading only: the file
        // recorded here is the one archived, and no writer gets in between.
        // The relative open refuses a link to a file.
        const unique_hfile file = Dir.OpenFile(entry.Name, GENERIC_READ | FILE_READ_ATTRIBUTES, FILE_SHARE_READ);
        if (!file) {
            if (RefusedAsLink()) continue;
            // A link to a file held by others cannot be opened to be told
            // apart: looked at with every sharing allowed, it is passed over
            // like any link; a file of the folder that cannot be read would
            // be lost by the emptying.
            if (!Dir.OpenFile(entry.Name, FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) &&
                RefusedAsLink())
                continue;
            RaiseError(L"Die Datei kann nicht gelesen werden: " + full, full);
        }
        FILE_STANDARD_INFO standard{};
        FILE_BASIC_INFO basic{};
        if (!::GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard) ||
            !::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic))
            RaiseError(L"Die Datei kann nicht gelesen werden: " + full, full);
        const auto size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
        walk.Archive.AddFile(file.get(), size, full, Base + entry.Name);
        if (walk.Archived) (*walk.Archived)[full] = ArchivedFile{size, basic.LastWriteTime.QuadPart};
    }
}

std::size_t DeleteFiles(const Folder& Dir, const ArchivedFiles& archived, std::initializer_list<const wchar_t*> keep) {
    return EmptyFolder(Dir, archived, keep);
}

const std::wstring& DirectoryUpdater::ProgramDir(const UpdateRun& run) {
    if (programDir_.empty()) programDir_ = FolderHolding(run.Session.TargetDir + L"\\Velmora10.EXE");
    return programDir_;
}

const Folder& DirectoryUpdater::Program(const UpdateRun& run) {
    if (!programOpened_) {
        programOpened_ = true;
        const std::wstring& dir = ProgramDir(run);
        // Only a folder the archive step would take: a full path with a
        // parent, named as the platform names it.
        if (!dir.empty() && ProgramFolder(dir) == dir) program_ = Folder::Open(dir);
    }
    return program_;
}

int DirectoryUpdater::SaveVLMInst(UpdateRun& run) {
    // A run started again after an error report finds the folder archived and
    // emptied by this program already: archiving what is left would only hide
    // the installation one archive deeper.
    if (TargetEmptied) return StepOk;
    int result = StepFailed;
    {
        CursorChange hourglass(IDC_WAIT);
        run.Window.ProcessMessages();
        try {
            // The folder that holds the program file the version check found,
            // by its full path: "/", ".." and a relative name resolved, never
            // a root. A name the platform would normalise to another folder
            // (a final blank or dot) is refused: that folder is someone else's.
            const std::wstring& checked = ProgramDir(run);
            const std::wstring target = ProgramFolder(checked);
            if (target.empty() || target != checked)
                RaiseError(L"Kein Programmordner: " + run.Session.TargetDir, run.Session.TargetDir);
            // From here on the folder is its handle: nothing below resolves
            // its name again.
            const Folder& folder = Program(run);
            if (!folder) RaiseError(L"Der Ordner kann nicht gelesen werden: " + target, target);
            // Velmora's ini and data folders, and the temporary folder, must
            // survive the emptying of the program folder. They are compared by
            // where they are on the volume: another drive letter for the same
            // place, a short name or a link must not hide them.
            std::vector<std::wstring> kept = run.Session.VelmoraFolders();
            kept.push_back(TempPath());
            for (const std::wstring& velmora : kept)
                if (!velmora.empty() && LiesWithin(velmora, folder.OnVolume()))
                    RaiseError(L"Der Ordner " + velmora + L" liegt im Programmordner " + target, velmora);
            PartialArchive partial(folder);
            ArchivedFiles archived;
            {
                ArchiveWriter archive(partial.ForWriter(), partial.Path());
                archive.SetHeartbeat(Heartbeat);
                DoZip(folder, archive, &archived, partial.Path());
                archive.Close();
            }
            // Nothing is deleted before the complete archive stands in the
            // folder under its final name; the start ini and an older archive
            // stay in place meanwhile.
            partial.PlaceAs(kArchiveName);
            RemovedFolders = CaptureFolders(folder);
            // From here on a killed run is undone by the next start.
            WriteMark(folder, RemovedFolders);
            MarkWritten = true;
            TargetEmptied = true;
            DeleteFiles(folder, archived, {L"VelmStart.ini", kArchiveName, kMarkName});
            result = StepOk;
        } catch (const EFehler&) {
            result = StepFailed;
        } catch (const std::exception&) {
            result = StepFailed;
        }
    }
    run.Window.ProcessMessages();
    return result;
}
