// The archive step of the directory updater: the old program folder is packed
// into an archive of this run's own in the temporary folder, the archive is put
// in place as vlmaltinst.zip in the folder, and only then is the rest of the
// folder emptied. At every instant each file of the old installation is
// complete either in its place or in the archive inside the folder.
#include "Archive.h"
#include <windows.h>
#include <algorithm>
#include <exception>
#include <memory>
#include <vector>
#include "Fehler.h"
#include "DirectoryUpdater.h"
#include "Haupt.h"
#include "Files.h"
#include "Restore.h"
#include "ZipWriter.h"

namespace {

const std::wstring& OwnPath() {
    static const std::wstring path = ModuleFileName();
    return path;
}

bool IsDotEntry(const wchar_t* name) { return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0)); }

bool IsLink(const WIN32_FIND_DATAW& fd) { return fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT; }
bool IsFolder(const WIN32_FIND_DATAW& fd) { return fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY; }

// Every entry of Dir (a full path ending in a backslash), "." and ".." left
// out, in the file system's own order. Paths of any length are listed.
// Returns false when the folder cannot be listed completely.
bool ListFolder(const std::wstring& Dir, std::vector<WIN32_FIND_DATAW>& entries) {
    WIN32_FIND_DATAW fd;
    unique_hfind find(::FindFirstFileW((ExtendedPath(Dir) + L"*.*").c_str(), &fd));
    if (!find) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (!IsDotEntry(fd.cFileName)) entries.push_back(fd);
    } while (::FindNextFileW(find.get(), &fd));
    return ::GetLastError() == ERROR_NO_MORE_FILES;
}

// For the walk, a folder that cannot be listed raises: its files would be
// missing from an archive that is then taken as complete.
std::vector<WIN32_FIND_DATAW> ListForArchive(const std::wstring& Dir) {
    std::vector<WIN32_FIND_DATAW> entries;
    if (!ListFolder(Dir, entries)) RaiseError(L"Der Ordner kann nicht gelesen werden: " + Dir);
    return entries;
}

std::uint64_t SizeOf(const WIN32_FIND_DATAW& fd) {
    return static_cast<std::uint64_t>(fd.nFileSizeHigh) << 32 | fd.nFileSizeLow;
}

// Whether a file below top really lies there. Some platforms show a link to a
// file as a plain file, and deleting it there deletes what it points to; where
// it really lies tells it apart.
bool InPlace(const std::wstring& full, const std::wstring& top, const std::wstring& topOnVolume) {
    return SamePath(VolumePath(full), topOnVolume + full.substr(top.size()));
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

// A file of this run's own in the temporary folder, created empty so that no
// other run can pick the same name.
std::wstring UniqueTempFile(const std::wstring& folder) {
    wchar_t name[MAX_PATH + 1]{};
    if (!::GetTempFileNameW(folder.c_str(), L"vlm", 0, name))
        RaiseError(L"Im temporären Ordner kann keine Datei angelegt werden: " + folder);
    return name;
}

// Copies the complete archive into the folder under a temporary name of its
// own and only then gives it its final name, replacing an older one in a
// single rename: the final name never holds a partial file, and a copy that
// fails (a full disk) leaves nothing behind. A link at either name is never
// written through (ReplaceByCheckedCopy).
void PlaceArchive(const std::wstring& source, const std::wstring& folder, const std::wstring& name) {
    // A read-only older archive would stop the rename; its bit is cleared
    // through a handle checked to be that file, never through a link.
    if (NoLinkBelow(folder, name)) {
        unique_hfile old(::CreateFileW(ExtendedPath(folder + L"\\" + name).c_str(),
                                       FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        FILE_BASIC_INFO info{};
        if (old && ::GetFileInformationByHandleEx(old.get(), FileBasicInfo, &info, sizeof info) &&
            (info.FileAttributes & FILE_ATTRIBUTE_READONLY) && HandleLiesBelow(old.get(), folder, name))
            SetTimeAndAttributes(old.get(), nullptr, info.FileAttributes & ~FILE_ATTRIBUTE_READONLY);
    }
    if (!ReplaceByCheckedCopy(source, folder, name))
        RaiseError(L"Das Archiv kann nicht in den Programmordner gestellt werden: " + folder + L"\\" + name);
}

// The deletion's view of the program folder.
struct Emptying {
    const std::wstring& Top;
    std::wstring TopOnVolume;
    const ArchivedFiles& Archived;
};

// Removes a folder link itself, never what it points to. A link to a file is
// not touched: where the platform shows it as a plain file, deleting it
// deletes its target. A link the platform cannot remove stays.
bool RemoveFolderLink(const std::wstring& path, const WIN32_FIND_DATAW& fd) {
    if (!IsFolder(fd)) return false;
    const std::wstring p = ExtendedPath(path);
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(p.c_str(), fd.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
    return ::RemoveDirectoryW(p.c_str()) != 0;
}

// Removes a file the walk archived, if it is still the file that was archived
// and still lies where it was archived.
bool RemoveArchived(const std::wstring& path, const WIN32_FIND_DATAW& fd, const Emptying& e) {
    const auto it = e.Archived.find(path);
    if (it == e.Archived.end() || it->second.Size != SizeOf(fd) ||
        ::CompareFileTime(&it->second.LastWrite, &fd.ftLastWriteTime) != 0 || !InPlace(path, e.Top, e.TopOnVolume))
        return false;
    const std::wstring p = ExtendedPath(path);
    const bool readOnly = fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY;
    if (readOnly) ::SetFileAttributesW(p.c_str(), fd.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
    if (::DeleteFileW(p.c_str())) return true;
    if (readOnly) ::SetFileAttributesW(p.c_str(), fd.dwFileAttributes);
    return false;
}

std::size_t EmptyFolder(const std::wstring& Dir, const Emptying& e, std::initializer_list<const wchar_t*> keep) {
    std::vector<WIN32_FIND_DATAW> entries;
    std::size_t left = ListFolder(Dir, entries) ? 0 : 1;
    for (const WIN32_FIND_DATAW& fd : entries) {
        const std::wstring path = Dir + fd.cFileName;
        bool removed = false;
        if (IsLink(fd)) {
            removed = RemoveFolderLink(path, fd);
        } else if (IsFolder(fd)) {
            if (EmptyFolder(path + L"\\", e, {}) == 0) {
                const std::wstring p = ExtendedPath(path);
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                    ::SetFileAttributesW(p.c_str(), fd.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
                removed = ::RemoveDirectoryW(p.c_str()) != 0;
            }
        } else if (std::none_of(keep.begin(), keep.end(),
                                [&](const wchar_t* k) { return SamePath(fd.cFileName, k); })) {
            removed = RemoveArchived(path, fd, e);
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
    std::wstring plain = dir;
    if (plain.rfind(L"\\\\?\\UNC\\", 0) == 0)
        plain = L"\\\\" + plain.substr(8);
    else if (plain.rfind(L"\\\\?\\", 0) == 0)
        plain = plain.substr(4);
    // "C:" and "C:Prog" name the current folder of drive C, whatever that is at
    // the time: never a program folder.
    if (plain.size() >= 2 && plain[1] == L':' && (plain.size() == 2 || (plain[2] != L'\\' && plain[2] != L'/')))
        return {};
    const std::wstring full = WithoutFinalBackslashes(FullPath(plain));
    return HasParentFolder(full) ? full : std::wstring();
}

bool IsWithin(const std::wstring& path, const std::wstring& folder) {
    const std::wstring p = WithoutFinalBackslashes(path), f = WithoutFinalBackslashes(folder);
    if (p.empty() || f.empty() || p.size() < f.size()) return false;
    if (p.size() > f.size() && p[f.size()] != L'\\') return false;
    return SamePath(p.substr(0, f.size()), f);
}

void DoZip(const std::wstring& Dir, ZipWriter& archive, ArchivedFiles* archived) {
    const std::wstring top = ProgramFolder(Dir);
    if (top.empty()) RaiseError(L"Der Ordner hat keinen übergeordneten Ordner: " + Dir);
    const DWORD attributes = ::GetFileAttributesW(ExtendedPath(top).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        RaiseError(L"Der Ordner kann nicht gelesen werden: " + top);
    // A program folder that is itself a link would be emptied where it points.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) RaiseError(L"Der Ordner ist eine Verknüpfung: " + top);
    // The parent of the top folder, with its backslash: every entry name then
    // begins with the top folder's own name.
    ArchiveWalk walk{archive, top, VolumePath(top), top.substr(0, top.rfind(L'\\') + 1), archived};
    if (walk.TopOnVolume.empty()) RaiseError(L"Der Ordner kann nicht gelesen werden: " + top);
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
        if (full == OwnPath()) continue;                           // exact text, letter case included
        if (!InPlace(full, walk.Top, walk.TopOnVolume)) continue;  // a link to a file
        std::wstring name = relative + fd.cFileName;
        std::replace(name.begin(), name.end(), L'\\', L'/');
        walk.Archive.AddFile(ExtendedPath(full), name);
        if (walk.Archived) (*walk.Archived)[full] = ArchivedFile{SizeOf(fd), fd.ftLastWriteTime};
    }
}

std::size_t DeleteFiles(const std::wstring& Dir, const ArchivedFiles& archived,
                        std::initializer_list<const wchar_t*> keep) {
    const Emptying e{Dir, VolumePath(Dir), archived};
    if (e.TopOnVolume.empty()) return 1;
    return EmptyFolder(Dir + L"\\", e, keep);
}

int DirectoryUpdater::SaveVLMInst(TFHaupt& form) {
    // A run started again after an error report finds the folder archived and
    // emptied by this program already: archiving what is left would only hide
    // the installation one archive deeper.
    if (TargetEmptied) return 0;
    int result = 1;
    {
        CursorChange hourglass(IDC_WAIT);
        form.ProcessMessages();
        std::wstring tempArchive;  // this run's own; removed on every path
        try {
            // The guard and the walk work on the full path: "/", ".." and a
            // relative name are resolved first, and a root is never emptied.
            const std::wstring target = ProgramFolder(form.TargetDir);
            if (target.empty()) RaiseError(L"Kein Programmordner: " + form.TargetDir);
            const std::wstring temp = TempPath();
            // Velmora's ini and data folders, and the temporary folder, must
            // survive the emptying of the program folder.
            for (const std::wstring* kept : std::initializer_list<const std::wstring*>{
                     &form.IniDir, &form.DataDir, &form.BaseDir, &form.FormsDir, &form.NkkDir, &temp})
                if (!kept->empty() && IsWithin(FullPath(*kept), target))
                    RaiseError(L"Der Ordner " + *kept + L" liegt im Programmordner " + target);
            tempArchive = UniqueTempFile(temp);
            ArchivedFiles archived;
            {
                ZipWriter archive(ExtendedPath(tempArchive));
                // Looks at the queue without taking anything off it, so the window is not taken for hung.
                archive.SetHeartbeat([] {
                    MSG m;
                    ::PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
                });
                DoZip(target, archive, &archived);
                archive.Close();
            }
            // Nothing is deleted before the complete archive stands in the
            // folder; the start ini and the archive stay in place meanwhile.
            PlaceArchive(tempArchive, target, L"vlmaltinst.zip");
            RemovedFolders = CaptureFolders(target);
            TargetEmptied = true;
            DeleteFiles(target, archived, {L"VelmStart.ini", L"vlmaltinst.zip"});
            result = 0;
        } catch (const EFehler&) {
            result = 1;
        } catch (const std::exception&) {
            result = 1;
        }
        if (!tempArchive.empty()) ::DeleteFileW(ExtendedPath(tempArchive).c_str());
    }
    form.ProcessMessages();
    return result;
}
