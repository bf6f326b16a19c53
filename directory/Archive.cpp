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

bool IsLink(const WIN32_FIND_DATAW& fd) { return fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT; }
bool IsFolder(const WIN32_FIND_DATAW& fd) { return fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY; }

// Every entry of Dir (a full path ending in a backslash), "." and ".." left
// out, in the file system's own order. Paths of any length are listed.
// Returns false when the folder cannot be listed completely.
bool ListFolder(const std::wstring& Dir, std::vector<WIN32_FIND_DATAW>& entries) {
    FolderListing list(ExtendedPath(Dir), true);
    while (const WIN32_FIND_DATAW* fd = list.Next()) entries.push_back(*fd);
    return list.Complete();
}

// For the walk, a folder that cannot be listed raises: its files would be
// missing from an archive that is then taken as complete.
std::vector<WIN32_FIND_DATAW> ListForArchive(const std::wstring& Dir) {
    std::vector<WIN32_FIND_DATAW> entries;
    if (!ListFolder(Dir, entries)) RaiseError(L"Der Ordner kann nicht gelesen werden: " + Dir, Dir);
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

// This run's archive, written straight into the program folder under a name
// of its own. It is created new, so that a name planted there (a link
// included) is never written through, and held without sharing until it is
// renamed to its final name; on every other way out it is deleted.
class PartialArchive {
public:
    explicit PartialArchive(const std::wstring& folder)
        : folder_(folder), name_(std::wstring(kArchiveName) + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp") {
        file_.reset(::CreateFileW(ExtendedPath(Path()).c_str(), GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, 0,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_) RaiseError(L"Das Archiv kann nicht angelegt werden: " + Path(), Path());
        if (!HandleLiesBelow(file_.get(), folder_, name_)) {
            file_.reset();
            RaiseError(L"Das Archiv kann nicht angelegt werden: " + Path(), Path());
        }
    }
    ~PartialArchive() {
        if (file_) DeleteByHandle(file_.get());
    }
    PartialArchive(const PartialArchive&) = delete;
    PartialArchive& operator=(const PartialArchive&) = delete;

    std::wstring Path() const { return folder_ + L"\\" + name_; }

    // A second handle to the same open file, for the writer to write and close.
    unique_hfile ForWriter() const {
        HANDLE copy = nullptr;
        if (!::DuplicateHandle(::GetCurrentProcess(), file_.get(), ::GetCurrentProcess(), &copy, 0, FALSE,
                               DUPLICATE_SAME_ACCESS))
            RaiseError(L"Das Archiv kann nicht angelegt werden: " + Path(), Path());
        return unique_hfile(copy);
    }

    // Gives the complete archive its final name in one rename, replacing an
    // older archive there; a link at that name is refused.
    void PlaceAs(const std::wstring& name) {
        const std::wstring destination = folder_ + L"\\" + name;
        if (!NoLinkBelow(folder_, name) || !::FlushFileBuffers(file_.get()))
            RaiseError(L"Das Archiv kann nicht in den Programmordner gestellt werden: " + destination, destination);
        ClearOlderReadOnly(name);
        if (!RenameByHandle(file_.get(), destination, true))
            RaiseError(L"Das Archiv kann nicht in den Programmordner gestellt werden: " + destination, destination);
        file_.reset();
    }

private:
    // A read-only older archive would stop the rename; its bit is cleared
    // through a handle checked to be that file, never through a link.
    void ClearOlderReadOnly(const std::wstring& name) const {
        unique_hfile old(::CreateFileW(ExtendedPath(folder_ + L"\\" + name).c_str(),
                                       FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        FILE_BASIC_INFO info{};
        if (old && ::GetFileInformationByHandleEx(old.get(), FileBasicInfo, &info, sizeof info) &&
            (info.FileAttributes & FILE_ATTRIBUTE_READONLY) && HandleLiesBelow(old.get(), folder_, name))
            ClearReadOnly(old.get(), info.FileAttributes);
    }

    std::wstring folder_, name_;
    unique_hfile file_;
};

// The deletion's view of the program folder.
struct Emptying {
    const std::wstring& Top;
    std::wstring TopOnVolume;
    const ArchivedFiles& Archived;
};

// Removes an empty folder, or a folder link, by name; a read-only one too.
bool RemoveFolderByName(const std::wstring& path, DWORD attributes) {
    const std::wstring p = ExtendedPath(path);
    ClearReadOnly(p, attributes);
    return ::RemoveDirectoryW(p.c_str()) != 0;
}

// Removes a folder link itself, never what it points to. A link to a file is
// not touched: where the platform shows it as a plain file, deleting it
// deletes its target. A link the platform cannot remove stays.
bool RemoveFolderLink(const std::wstring& path, const WIN32_FIND_DATAW& fd) {
    return IsFolder(fd) && RemoveFolderByName(path, fd.dwFileAttributes);
}

// Removes a file the walk archived, if it is still the file that was archived
// and still lies where it was archived. Checked and deleted through one handle
// that shares only reading and deleting: no writer can hold the file or open
// it between the check and the deletion.
bool RemoveArchived(const std::wstring& path, const Emptying& e) {
    const auto it = e.Archived.find(path);
    if (it == e.Archived.end()) return false;
    unique_hfile file(::CreateFileW(ExtendedPath(path).c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return false;
    FILE_STANDARD_INFO standard{};
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard) ||
        !::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic) || standard.Directory ||
        static_cast<std::uint64_t>(standard.EndOfFile.QuadPart) != it->second.Size ||
        basic.LastWriteTime.QuadPart != it->second.LastWrite ||
        !SamePath(VolumePathOf(file.get()), e.TopOnVolume + path.substr(e.Top.size())))
        return false;
    const DWORD attributes = basic.FileAttributes;
    const bool readOnly = attributes & FILE_ATTRIBUTE_READONLY;
    if (!ClearReadOnly(file.get(), attributes)) return false;
    if (DeleteByHandle(file.get())) return true;
    if (readOnly) SetTimeAndAttributes(file.get(), nullptr, attributes);
    return false;
}

std::size_t EmptyFolder(const std::wstring& Dir, const Emptying& e, std::initializer_list<const wchar_t*> keep) {
    std::vector<WIN32_FIND_DATAW> entries;
    std::size_t left = ListFolder(Dir, entries) ? 0 : 1;
    for (const WIN32_FIND_DATAW& fd : entries) {
        Heartbeat();
        const std::wstring path = Dir + fd.cFileName;
        bool removed = false;
        if (IsLink(fd)) {
            removed = RemoveFolderLink(path, fd);
        } else if (IsFolder(fd)) {
            removed = EmptyFolder(path + L"\\", e, {}) == 0 && RemoveFolderByName(path, fd.dwFileAttributes);
        } else if (std::none_of(keep.begin(), keep.end(),
                                [&](const wchar_t* k) { return SamePath(fd.cFileName, k); })) {
            removed = RemoveArchived(path, e);
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

void DoZip(const std::wstring& Dir, ArchiveWriter& archive, ArchivedFiles* archived, const std::wstring& skip) {
    const std::wstring top = ProgramFolder(Dir);
    if (top.empty()) RaiseError(L"Der Ordner hat keinen übergeordneten Ordner: " + Dir, Dir);
    const DWORD attributes = ::GetFileAttributesW(ExtendedPath(top).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        RaiseError(L"Der Ordner kann nicht gelesen werden: " + top, top);
    // A program folder that is itself a link would be emptied where it points.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) RaiseError(L"Der Ordner ist eine Verknüpfung: " + top, top);
    // The parent of the top folder, with its backslash: every entry name then
    // begins with the top folder's own name.
    ArchiveWalk walk{archive, top, VolumePath(top), top.substr(0, top.rfind(L'\\') + 1), archived, skip};
    if (walk.TopOnVolume.empty()) RaiseError(L"Der Ordner kann nicht gelesen werden: " + top, top);
    ZipFolder(top, walk);
}

void ZipFolder(const std::wstring& Dir, ArchiveWalk& walk) {
    const std::wstring dir = Dir + L'\\';
    // Hidden and system folders are walked too: the folder is emptied
    // afterwards, so whatever the archive leaves out is lost. Links are not
    // entered: what they point to lies outside the folder.
    for (const WIN32_FIND_DATAW& fd : ListForArchive(dir))
        if (IsFolder(fd) && !IsLink(fd)) ZipFolder(dir + fd.cFileName, walk);
    ZipFolderFiles(dir, walk);
}

void ZipFolderFiles(const std::wstring& Dir, ArchiveWalk& walk) {
    const std::wstring relative = Dir.substr(walk.Base.size());
    for (const WIN32_FIND_DATAW& fd : ListForArchive(Dir)) {
        if (IsFolder(fd) || IsLink(fd)) continue;
        const std::wstring full = Dir + fd.cFileName;
        if (full == OwnPath() || full == walk.Skip) continue;  // exact text, letter case included
        // Held open while the archive reads it, sharing reading only: the file
        // recorded here is the one archived, and no writer gets in between.
        unique_hfile file(::CreateFileW(ExtendedPath(full).c_str(), GENERIC_READ | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        const std::wstring inPlace = walk.TopOnVolume + full.substr(walk.Top.size());
        if (!file) {
            // A link to a file held by others is passed over like any link; a
            // file of the folder that cannot be read would be lost by the emptying.
            const std::wstring real = VolumePath(full);
            if (!real.empty() && !SamePath(real, inPlace)) continue;
            RaiseError(L"Die Datei kann nicht gelesen werden: " + full, full);
        }
        if (!SamePath(VolumePathOf(file.get()), inPlace)) continue;  // a link to a file
        FILE_STANDARD_INFO standard{};
        FILE_BASIC_INFO basic{};
        if (!::GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard) ||
            !::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic))
            RaiseError(L"Die Datei kann nicht gelesen werden: " + full, full);
        std::wstring name = relative + fd.cFileName;
        std::replace(name.begin(), name.end(), L'\\', L'/');
        const auto size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
        walk.Archive.AddFile(file.get(), size, full, name);
        if (walk.Archived) (*walk.Archived)[full] = ArchivedFile{size, basic.LastWriteTime.QuadPart};
    }
}

std::size_t DeleteFiles(const std::wstring& Dir, const ArchivedFiles& archived,
                        std::initializer_list<const wchar_t*> keep) {
    const Emptying e{Dir, VolumePath(Dir), archived};
    if (e.TopOnVolume.empty()) return 1;
    return EmptyFolder(Dir + L"\\", e, keep);
}

const std::wstring& DirectoryUpdater::ProgramDir(const UpdateRun& run) {
    if (programDir_.empty()) programDir_ = FolderHolding(run.Session.TargetDir + L"\\Velmora10.EXE");
    return programDir_;
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
            if (target.empty() || target != checked) RaiseError(L"Kein Programmordner: " + run.Session.TargetDir, run.Session.TargetDir);
            const std::wstring targetOnVolume = VolumePath(target);
            if (targetOnVolume.empty()) RaiseError(L"Der Ordner kann nicht gelesen werden: " + target, target);
            // Velmora's ini and data folders, and the temporary folder, must
            // survive the emptying of the program folder. They are compared by
            // where they are on the volume: another drive letter for the same
            // place, a short name or a link must not hide them.
            std::vector<std::wstring> kept = run.Session.VelmoraFolders();
            kept.push_back(TempPath());
            for (const std::wstring& folder : kept)
                if (!folder.empty() && LiesWithin(folder, targetOnVolume))
                    RaiseError(L"Der Ordner " + folder + L" liegt im Programmordner " + target, folder);
            PartialArchive partial(target);
            ArchivedFiles archived;
            {
                ArchiveWriter archive(partial.ForWriter(), partial.Path());
                archive.SetHeartbeat(Heartbeat);
                DoZip(target, archive, &archived, partial.Path());
                archive.Close();
            }
            // Nothing is deleted before the complete archive stands in the
            // folder under its final name; the start ini and an older archive
            // stay in place meanwhile.
            partial.PlaceAs(kArchiveName);
            RemovedFolders = CaptureFolders(target);
            // From here on a killed run is undone by the next start.
            WriteMark(target, RemovedFolders);
            MarkWritten = true;
            TargetEmptied = true;
            DeleteFiles(target, archived, {L"VelmStart.ini", kArchiveName, kMarkName});
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
