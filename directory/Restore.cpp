// Restoring the program folder from its archive: every file goes to a
// temporary name in its folder first and takes its own name only once its
// content has been checked, so no half-written file ever stands under a name
// Velmora would load. The archive goes last, and only when nothing failed.
#include "Restore.h"
#include <algorithm>
#include <cstring>
#include <new>
#include <set>
#include "Fehler.h"
#include "Raii.h"
#include "Archive.h"
#include "Files.h"
#include "Heartbeat.h"
#include "ArchiveContainer.h"

namespace {

bool IsReservedDeviceName(const std::wstring& component) {
    std::wstring base = component.substr(0, component.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (wchar_t& c : base) c = static_cast<wchar_t>(::towupper(c));
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" || base == L"CONOUT$")
        return true;
    return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

// One component of a path below the program folder, as Windows would create
// it under exactly this name: ":" (drives, alternate streams), wildcards,
// separators and control characters are refused, and so are names the Win32
// layer would strip or turn into a device (trailing dot or blank, "NUL.txt").
bool ValidComponent(const std::wstring& c) {
    if (c.empty() || c == L"." || c == L"..") return false;
    for (wchar_t ch : c)
        if (ch < 32 || std::wcschr(L"<>:\"/\\|?*", ch)) return false;
    if (c.back() == L'.' || c.back() == L' ') return false;
    return !IsReservedDeviceName(c);
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(separator, from);
        parts.push_back(text.substr(from, at == std::wstring::npos ? std::wstring::npos : at - from));
        if (at == std::wstring::npos) return parts;
        from = at + 1;
    }
}

bool ValidRelative(const std::wstring& relative) {
    const auto parts = Split(relative, L'\\');
    return std::all_of(parts.begin(), parts.end(), ValidComponent);
}

// The folder's own path in the "\\?\" form, or empty when it is none we may
// fill: no full form, or a root.
std::wstring RootOf(const std::wstring& targetDir) {
    const std::wstring full = ProgramFolder(targetDir);
    return full.empty() ? full : ExtendedPath(full);
}

FILETIME FromDosTime(std::uint16_t date, std::uint16_t time) {
    // The writer stored the wall-clock time under the zone rules of the file's
    // own date; the same rules take it back.
    FILETIME local{}, utc{};
    SYSTEMTIME localTime, utcTime;
    if (!::DosDateTimeToFileTime(date, time, &local) || !::FileTimeToSystemTime(&local, &localTime) ||
        !::TzSpecificLocalTimeToSystemTime(nullptr, &localTime, &utcTime) || !::SystemTimeToFileTime(&utcTime, &utc))
        ::LocalFileTimeToFileTime(&local, &utc);
    return utc;
}

// Sets a restored folder's time and attributes through a handle checked to
// be that folder: one re-created as a link meanwhile would give them to
// whatever it leads to.
bool ApplyFolderState(const std::wstring& root, const std::wstring& relative, const FILETIME& lastWrite,
                      DWORD attributes) {
    unique_hfile h(::CreateFileW((root + L"\\" + relative).c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    FILE_BASIC_INFO info{};
    if (!h || !::GetFileInformationByHandleEx(h.get(), FileBasicInfo, &info, sizeof info) ||
        !(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !HandleLiesBelow(h.get(), root, relative))
        return false;
    return SetTimeAndAttributes(h.get(), &lastWrite, attributes);
}

// Gives the checked temporary file its time and attributes and then the name
// base\relative, through its own handle; it must land there. Discarded on
// failure.
bool Place(TemporaryFile& temp, const std::wstring& base, const std::wstring& relative, const FILETIME& lastWrite,
           DWORD attributes, bool replace) {
    if (SetTimeAndAttributes(temp.Handle.get(), &lastWrite, attributes) &&
        RenameByHandle(temp.Handle.get(), base + L"\\" + relative, replace) &&
        HandleLiesBelow(temp.Handle.get(), base, relative)) {
        temp.Handle.reset();
        return true;
    }
    DiscardTemporary(temp);
    return false;
}

class Restorer {
public:
    Restorer(const std::wstring& root, ArchiveReader& zip) : root_(root), zip_(zip) {}

    // Creates the folders of relative below the root that are missing. An
    // existing component must be a plain folder: through a link the files
    // would land outside the program folder. Each folder is checked once.
    bool EnsureFolders(const std::wstring& relative) {
        std::wstring below;
        for (const std::wstring& part : Split(relative, L'\\')) {
            below += below.empty() ? part : L"\\" + part;
            if (checked_.count(below)) continue;
            const std::wstring path = root_ + L"\\" + below;
            const DWORD attributes = ::GetFileAttributesW(path.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                if (!::CreateDirectoryW(path.c_str(), nullptr)) return false;
            } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                return false;
            }
            if (!NoLinkBelow(root_, below)) return false;
            checked_.insert(below);
        }
        return true;
    }

    // The entry written to a new file in the folder below the root, checked
    // on its handle and complete; an empty one when it failed (nothing of it
    // is left then).
    TemporaryFile WriteToTemporary(const ArchiveEntry& entry, const std::wstring& folderRelative) {
        TemporaryFile temp = CreateTemporaryBelow(root_, folderRelative, GENERIC_WRITE | FILE_WRITE_ATTRIBUTES);
        if (!temp) return temp;
        // Whatever ends the writing, a thrown error of any kind included, the
        // temporary file does not stay behind.
        scope_exit discard([&temp] { DiscardTemporary(temp); });
        HANDLE file = temp.Handle.get();
        bool complete = false;
        try {
            complete = zip_.Extract(entry, [&](const unsigned char* data, std::size_t size) {
                Heartbeat();
                return WriteAll(file, data, size);
            });
            // On disk before the archive, the only other copy, may go.
            if (complete && !::FlushFileBuffers(file)) complete = false;
        } catch (const EFehler&) {
            complete = false;
        }
        if (!complete) return {};
        discard.release();
        return temp;
    }

    // Whether the file holds exactly the entry's content. A file that cannot be
    // read (held open by another program) counts as different.
    bool SameContent(const ArchiveEntry& entry, const std::wstring& path) {
        unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        LARGE_INTEGER size;
        if (!file || !::GetFileSizeEx(file.get(), &size) ||
            static_cast<std::uint64_t>(size.QuadPart) != entry.Uncompressed)
            return false;
        std::vector<unsigned char> mine(ArchiveReader::ChunkSize);
        try {
            return zip_.Extract(entry, [&](const unsigned char* data, std::size_t n) {
                Heartbeat();
                DWORD got = 0;
                return ::ReadFile(file.get(), mine.data(), static_cast<DWORD>(n), &got, nullptr) && got == n &&
                       std::memcmp(mine.data(), data, n) == 0;
            });
        } catch (const EFehler&) {
            return false;
        }
    }

    bool RestoreEntry(const ArchiveEntry& entry, const std::wstring& relative) {
        const std::wstring destination = root_ + L"\\" + relative;
        const std::size_t slash = relative.rfind(L'\\');
        const std::wstring folder = slash == std::wstring::npos ? std::wstring() : relative.substr(0, slash);
        if (!folder.empty() && !EnsureFolders(folder)) return false;
        const DWORD attributes = ::GetFileAttributesW(destination.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            // Left by the deletion. Never overwritten: with other content it is
            // somebody's file, and the entry stays in the archive.
            if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return false;
            return SameContent(entry, destination);
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
        TemporaryFile temp = WriteToTemporary(entry, folder);
        if (!temp) return false;
        // No replacing: whatever took the name meanwhile is not ours.
        return Place(temp, root_, relative, FromDosTime(entry.DosDate, entry.DosTime), entry.Attributes, false);
    }

private:
    std::wstring root_;
    ArchiveReader& zip_;
    std::set<std::wstring> checked_;  // folders below the root known to be plain
};

bool Restore(const std::wstring& targetDir, const std::wstring& archivePath, const std::vector<FolderState>& folders) {
    const std::wstring root = RootOf(targetDir);
    const std::wstring archiveFull = FullPath(archivePath);
    if (root.empty() || archiveFull.empty()) return false;
    const std::wstring archive = ExtendedPath(archiveFull);

    bool ok = true;
    TemporaryFile olderArchive;  // checked, waiting to take the archive's place
    bool hasOlder = false;
    ArchiveEntry olderEntry;
    {
        ArchiveReader zip(archive);
        Restorer restorer(root, zip);
        std::wstring top;
        for (const ArchiveEntry& entry : zip.Entries()) {
            Heartbeat();
            const std::wstring relative = EntryPath(entry.WideName);
            const std::wstring first = entry.WideName.substr(0, entry.WideName.find(L'/'));
            if (top.empty()) top = first;
            // Every entry of our archives begins with the folder's own name.
            if (relative.empty() || first != top) {
                ok = false;
                continue;
            }
            if (SamePath(root + L"\\" + relative, archive)) {
                // An older archive that was in the folder: its name is taken by
                // this run's archive until the end.
                if (hasOlder) ok = false;
                hasOlder = true;
                olderEntry = entry;
                continue;
            }
            if (!restorer.RestoreEntry(entry, relative)) ok = false;
        }
        for (const FolderState& folder : folders)
            if (!ValidRelative(folder.Relative) || !restorer.EnsureFolders(folder.Relative)) ok = false;
        if (ok && hasOlder) {
            olderArchive = restorer.WriteToTemporary(olderEntry, L"");
            if (!olderArchive) ok = false;
        }
    }  // the archive is closed here, so that it can be replaced or deleted

    // Deepest first: setting a folder's time must come after every change inside it.
    std::vector<const FolderState*> byDepth;
    for (const FolderState& folder : folders) byDepth.push_back(&folder);
    auto depth = [](const FolderState* f) { return std::count(f->Relative.begin(), f->Relative.end(), L'\\'); };
    std::stable_sort(byDepth.begin(), byDepth.end(),
                     [&](const FolderState* a, const FolderState* b) { return depth(a) > depth(b); });
    // Also after a failure: the folders stand there anyway, with their own
    // attributes they hide nothing that should be seen.
    for (const FolderState* folder : byDepth) {
        Heartbeat();
        if (!ApplyFolderState(root, folder->Relative, folder->LastWrite, folder->Attributes)) ok = false;
    }

    if (!ok) {
        DiscardTemporary(olderArchive);
        return false;
    }
    if (hasOlder) {
        // A rename replaces this run's archive, or a link put in its place,
        // never what such a link leads to.
        const std::size_t slash = archive.rfind(L'\\');
        return Place(olderArchive, archive.substr(0, slash), archive.substr(slash + 1),
                     FromDosTime(olderEntry.DosDate, olderEntry.DosTime), olderEntry.Attributes, true);
    }
    return DeletePlainFile(archive);
}

void CaptureBelow(const std::wstring& path, const std::wstring& relative, std::vector<FolderState>& out) {
    FolderListing list(path, true);
    while (const WIN32_FIND_DATAW* fd = list.Next()) {
        if (!(fd->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (fd->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        const std::wstring name = fd->cFileName;
        const std::wstring child = relative.empty() ? name : relative + L"\\" + name;
        out.push_back({child, fd->dwFileAttributes, fd->ftLastWriteTime});
        CaptureBelow(path + L"\\" + name, child, out);
    }
    if (!list.Complete()) RaiseError(L"Der Ordner kann nicht gelesen werden: " + path, path);
}

}  // namespace

std::wstring EntryPath(const std::wstring& entryName) {
    const auto parts = Split(entryName, L'/');
    if (parts.size() < 2 || !std::all_of(parts.begin(), parts.end(), ValidComponent)) return {};
    std::wstring relative;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (i > 1) relative += L'\\';
        relative += parts[i];
    }
    return relative;
}

std::vector<FolderState> CaptureFolders(const std::wstring& targetDir) {
    const std::wstring root = RootOf(targetDir);
    if (root.empty()) RaiseError(L"Kein Programmordner: " + targetDir, targetDir);
    std::vector<FolderState> folders;
    CaptureBelow(root, L"", folders);
    return folders;
}

int RestoreFolder(const std::wstring& targetDir, const std::wstring& archivePath,
                  const std::vector<FolderState>& folders) {
    try {
        return Restore(targetDir, archivePath, folders) ? 0 : 1;
    } catch (const EFehler&) {
        return 1;
    } catch (const std::bad_alloc&) {
        return 1;
    }
}
