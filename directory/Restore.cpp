// Restoring the program folder from its archive: every file goes to a
// temporary name in its folder first and takes its own name only once its
// content has been checked, so no half-written file ever stands under a name
// Velmora would load. The archive goes last, and only when nothing failed.
#include "Restore.h"
#include <algorithm>
#include <cstring>
#include <new>
#include <map>
#include "Fehler.h"
#include "Raii.h"
#include "Archive.h"
#include "Files.h"
#include "Folder.h"
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

// A file of the restore under a temporary name in its folder, held without
// sharing until it takes its own name.
struct Temporary {
    const Folder* In = nullptr;
    std::wstring Name;
    unique_hfile Handle;
    explicit operator bool() const { return static_cast<bool>(Handle); }
    // Not kept: its attributes cleared (a read-only file could not be
    // deleted), deleted through its own handle and closed.
    void Discard() {
        if (!Handle) return;
        SetTimeAndAttributes(Handle.get(), nullptr, 0);
        Folder::Delete(Handle.get());
        Handle.reset();
    }
};

// Gives the checked temporary file its time and attributes and then its name
// in its folder, through its own handle into the folder's. Discarded on
// failure.
bool Place(Temporary& temp, const std::wstring& name, const FILETIME& lastWrite, DWORD attributes, bool replace) {
    if (SetTimeAndAttributes(temp.Handle.get(), &lastWrite, attributes) &&
        temp.In->RenameInto(temp.Handle.get(), name, replace)) {
        temp.Handle.reset();
        return true;
    }
    temp.Discard();
    return false;
}

class Restorer {
public:
    Restorer(const Folder& root, ArchiveReader& zip) : root_(root), zip_(zip) {}

    // The folder below the root at relative (empty: the root), each missing
    // component created, each opened relative to the one before it and held
    // until the restore ends. An existing component must be a plain folder:
    // through a link the files would land outside the program folder, and a
    // folder swapped for a link later is still reached through its handle.
    // Null when a component is refused or cannot be made.
    const Folder* EnsureFolders(const std::wstring& relative) {
        if (relative.empty()) return &root_;
        if (const auto it = folders_.find(relative); it != folders_.end()) return &it->second;
        const std::size_t slash = relative.rfind(L'\\');
        const Folder* parent = EnsureFolders(slash == std::wstring::npos ? std::wstring() : relative.substr(0, slash));
        if (!parent) return nullptr;
        Folder folder = parent->OpenFolder(relative.substr(slash + 1), Folder::How::OpenOrCreate, Folder::Writable);
        if (!folder) return nullptr;
        return &folders_.emplace(relative, std::move(folder)).first->second;
    }

    // The entry written to a new file in folder, complete and on disk; an
    // empty one when it failed (nothing of it is left then).
    Temporary WriteToTemporary(const ArchiveEntry& entry, const Folder& folder) {
        Temporary temp{&folder, {}, folder.CreateTemporary(GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, temp.Name)};
        if (!temp) return temp;
        // Whatever ends the writing, a thrown error of any kind included, the
        // temporary file does not stay behind.
        scope_exit discard([&temp] { temp.Discard(); });
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

    // Whether the open file holds exactly the entry's content.
    bool SameContent(const ArchiveEntry& entry, HANDLE file) {
        LARGE_INTEGER size;
        if (!::GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size.QuadPart) != entry.Uncompressed)
            return false;
        std::vector<unsigned char> mine(ArchiveReader::ChunkSize);
        try {
            return zip_.Extract(entry, [&](const unsigned char* data, std::size_t n) {
                Heartbeat();
                DWORD got = 0;
                return ::ReadFile(file, mine.data(), static_cast<DWORD>(n), &got, nullptr) && got == n &&
                       std::memcmp(mine.data(), data, n) == 0;
            });
        } catch (const EFehler&) {
            return false;
        }
    }

    bool RestoreEntry(const ArchiveEntry& entry, const std::wstring& relative) {
        const std::size_t slash = relative.rfind(L'\\');
        const Folder* folder = EnsureFolders(slash == std::wstring::npos ? std::wstring() : relative.substr(0, slash));
        if (!folder) return false;
        const std::wstring name = relative.substr(slash == std::wstring::npos ? 0 : slash + 1);
        // Left by the deletion. Never overwritten: with other content it is
        // somebody's file, and the entry stays in the archive. One that cannot
        // be read (held open by another program) counts as different, and so
        // do a folder and a link at the name.
        if (const unique_hfile there = folder->OpenFile(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE))
            return SameContent(entry, there.get());
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
        Temporary temp = WriteToTemporary(entry, *folder);
        if (!temp) return false;
        // No replacing: whatever took the name meanwhile is not ours.
        return Place(temp, name, FromDosTime(entry.DosDate, entry.DosTime), entry.Attributes, false);
    }

private:
    const Folder& root_;
    ArchiveReader& zip_;
    std::map<std::wstring, Folder> folders_;  // below the root, opened and known to be plain
};

bool Restore(const Folder& root, const std::vector<FolderState>& folders) {
    if (!root) return false;
    bool ok = true;
    Temporary olderArchive;  // checked, waiting to take the archive's place
    bool hasOlder = false;
    ArchiveEntry olderEntry;
    std::uint64_t archiveIndex = 0;  // the archive read, to be deleted and no other
    {
        // The archive without following a link at its name.
        unique_hfile archiveFile = root.OpenFile(kArchiveName, GENERIC_READ, FILE_SHARE_READ);
        archiveIndex = archiveFile ? FileIndexOf(archiveFile.get()) : 0;
        ArchiveReader zip(std::move(archiveFile), root.Path() + L"\\" + kArchiveName);
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
            if (SamePath(relative, kArchiveName)) {
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
            olderArchive = restorer.WriteToTemporary(olderEntry, root);
            if (!olderArchive) ok = false;
        }

        // Deepest first: setting a folder's time must come after every change
        // inside it. Also after a failure: the folders stand there anyway, with
        // their own attributes they hide nothing that should be seen. Each
        // through the handle the restore holds on it.
        std::vector<const FolderState*> byDepth;
        for (const FolderState& folder : folders) byDepth.push_back(&folder);
        auto depth = [](const FolderState* f) { return std::count(f->Relative.begin(), f->Relative.end(), L'\\'); };
        std::stable_sort(byDepth.begin(), byDepth.end(),
                         [&](const FolderState* a, const FolderState* b) { return depth(a) > depth(b); });
        for (const FolderState* folder : byDepth) {
            Heartbeat();
            const Folder* held = ValidRelative(folder->Relative) ? restorer.EnsureFolders(folder->Relative) : nullptr;
            if (!held || !SetTimeAndAttributes(held->get(), &folder->LastWrite, folder->Attributes)) ok = false;
        }
    }  // the archive is closed here, so that it can be replaced or deleted

    if (!ok || archiveIndex == 0) {
        olderArchive.Discard();
        return false;
    }
    if (hasOlder) {
        // A rename replaces this run's archive, or a link put in its place,
        // never what such a link leads to.
        return Place(olderArchive, kArchiveName, FromDosTime(olderEntry.DosDate, olderEntry.DosTime),
                     olderEntry.Attributes, true);
    }
    // Deleted through a handle checked to be the archive that was read.
    const unique_hfile archive = root.OpenFile(kArchiveName, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                               FILE_SHARE_READ | FILE_SHARE_DELETE);
    FILE_BASIC_INFO basic{};
    if (!archive || FileIndexOf(archive.get()) != archiveIndex ||
        !::GetFileInformationByHandleEx(archive.get(), FileBasicInfo, &basic, sizeof basic) ||
        !ClearReadOnly(archive.get(), basic.FileAttributes))
        return false;
    return Folder::Delete(archive.get());
}

void CaptureBelow(const Folder& folder, const std::wstring& relative, std::vector<FolderState>& out) {
    std::vector<Folder::Entry> entries;
    if (!folder.List(entries, true))
        RaiseError(L"Der Ordner kann nicht gelesen werden: " + folder.Path(), folder.Path());
    for (const Folder::Entry& entry : entries) {
        if (!entry.IsFolder()) continue;
        const std::wstring child = relative.empty() ? entry.Name : relative + L"\\" + entry.Name;
        // Entered relative to its parent's handle; one swapped for a link
        // since the listing is neither recorded nor entered.
        const Folder sub = folder.OpenFolder(entry.Name, Folder::How::Open, Folder::ReadOnly);
        if (!sub && ::GetLastError() == Folder::LinkRefused) continue;
        if (!sub)
            RaiseError(L"Der Ordner kann nicht gelesen werden: " + folder.Path() + L"\\" + entry.Name, folder.Path());
        FILETIME lastWrite{static_cast<DWORD>(entry.LastWrite), static_cast<DWORD>(entry.LastWrite >> 32)};
        out.push_back({child, entry.Attributes, lastWrite});
        CaptureBelow(sub, child, out);
    }
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

std::vector<FolderState> CaptureFolders(const Folder& targetDir) {
    std::vector<FolderState> folders;
    CaptureBelow(targetDir, L"", folders);
    return folders;
}

int RestoreFolder(const Folder& targetDir, const std::vector<FolderState>& folders) {
    try {
        return Restore(targetDir, folders) ? 0 : 1;
    } catch (const EFehler&) {
        return 1;
    } catch (const std::bad_alloc&) {
        return 1;
    }
}
