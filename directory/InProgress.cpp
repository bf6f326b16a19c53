// The in-progress mark, the start-time recovery of an interrupted update and the
// removal of an interrupted run's leftovers.
#include "InProgress.h"
#include <windows.h>
#include <cwctype>
#include <sstream>
#include "Archive.h"
#include "ArchiveContainer.h"
#include "DirectoryUpdater.h"
#include "Fehler.h"
#include "Files.h"
#include "UpdateRun.h"
#include "Heartbeat.h"
#include "Raii.h"

namespace {

constexpr char kMarkHeader[] = "vlmaltinst-lauf 1";

struct ArchiveIdentity {
    std::uint64_t Volume = 0, Index = 0, Size = 0, LastWrite = 0;
    bool operator==(const ArchiveIdentity&) const = default;
};

std::uint64_t Join(DWORD high, DWORD low) { return static_cast<std::uint64_t>(high) << 32 | low; }
std::uint64_t Ticks(const FILETIME& t) { return Join(t.dwHighDateTime, t.dwLowDateTime); }
FILETIME FromTicks(std::uint64_t v) { return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)}; }

// The archive in folder, opened without following a link at its name.
bool IdentityOf(const Folder& folder, ArchiveIdentity& id) {
    const unique_hfile file =
        folder.OpenFile(kArchiveName, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !::GetFileInformationByHandle(file.get(), &info)) return false;
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    id = {info.dwVolumeSerialNumber, Join(info.nFileIndexHigh, info.nFileIndexLow),
          Join(info.nFileSizeHigh, info.nFileSizeLow), Ticks(info.ftLastWriteTime)};
    return true;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

// Deletes a plain file of folder through the handle it is checked on: opened
// relative to the folder's handle (a link at the name is refused, never
// followed or removed), its read-only bit cleared on that handle.
bool RemovePlain(const Folder& folder, const std::wstring& name) {
    const unique_hfile file = folder.OpenFile(name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_DELETE);
    FILE_BASIC_INFO basic{};
    if (!file || !::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic)) return false;
    const DWORD attributes = basic.FileAttributes;
    if (!ClearReadOnly(file.get(), attributes)) return false;
    if (Folder::Delete(file.get())) return true;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetTimeAndAttributes(file.get(), nullptr, attributes);
    return false;
}

// Leftovers are removed as far as the folder can be listed: what a failed
// listing missed is found by the next start.
template <typename Visit>
void ForEachEntry(const Folder& folder, Visit visit) {
    std::vector<Folder::Entry> entries;
    folder.List(entries, true);
    for (const Folder::Entry& entry : entries) visit(entry);
}

bool AllDigits(const std::wstring& s) {
    if (s.empty()) return false;
    for (wchar_t c : s)
        if (c < L'0' || c > L'9') return false;
    return true;
}

// prefix + digits + middle + digits + ".tmp" (middle empty: one run of digits),
// letter case aside as the file system compares names.
bool NamedLike(const std::wstring& name, const std::wstring& prefix, const std::wstring& middle) {
    const std::wstring suffix = L".tmp";
    if (name.size() <= prefix.size() + suffix.size()) return false;
    if (!SamePath(name.substr(0, prefix.size()), prefix) || !SamePath(name.substr(name.size() - suffix.size()), suffix))
        return false;
    const std::wstring numbers = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (middle.empty()) return AllDigits(numbers);
    const std::size_t at = numbers.find(middle);
    return at != std::wstring::npos && AllDigits(numbers.substr(0, at)) &&
           AllDigits(numbers.substr(at + middle.size()));
}

void RemoveRestoreLeftovers(const Folder& folder) {
    ForEachEntry(folder, [&](const Folder::Entry& entry) {
        if (entry.IsLink()) return;
        if (entry.IsFolder()) {
            if (const Folder sub = folder.OpenFolder(entry.Name, Folder::How::Open, Folder::Writable))
                RemoveRestoreLeftovers(sub);
        } else if (NamedLike(entry.Name, L"~vlm", L"_")) {
            RemovePlain(folder, entry.Name);
        }
    });
}

}  // namespace

void WriteMark(const Folder& folder, const std::vector<FolderState>& folders) {
    const std::wstring archivePath = folder.Path() + L"\\" + kArchiveName;
    ArchiveIdentity id;
    if (!IdentityOf(folder, id)) RaiseError(L"Das Archiv kann nicht gelesen werden: " + archivePath, archivePath);
    std::ostringstream text;
    text << kMarkHeader << "\n"
         << "archive " << id.Volume << " " << id.Index << " " << id.Size << " " << id.LastWrite << "\n";
    for (const FolderState& f : folders)
        text << "folder " << f.Attributes << " " << Ticks(f.LastWrite) << " " << Utf8(f.Relative) << "\n";
    text << "end\n";
    const std::string bytes = text.str();

    const std::wstring mark = folder.Path() + L"\\" + kMarkName;
    const std::wstring partName = std::wstring(kMarkName) + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    const std::wstring part = folder.Path() + L"\\" + partName;
    unique_hfile out = folder.OpenFile(partName, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, 0, Folder::How::Create);
    if (!out) RaiseError(L"In " + part + L" kann nicht geschrieben werden", part);
    // Only a mark complete under its own name stays; the file made here goes
    // on every other way out, through its own handle.
    scope_exit removePart([&] { Folder::Delete(out.get()); });
    if (!WriteAll(out.get(), bytes.data(), bytes.size()) || !::FlushFileBuffers(out.get()))
        RaiseError(L"In " + part + L" kann nicht geschrieben werden", part);
    // Renamed through its own handle into the folder's; then what stands at
    // the name, opened afresh without following a link, must be this file.
    const std::uint64_t written = FileIndexOf(out.get());
    if (written == 0 || !folder.RenameInto(out.get(), kMarkName, true))
        RaiseError(L"In " + mark + L" kann nicht geschrieben werden", mark);
    const unique_hfile placed =
        folder.OpenFile(kMarkName, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (!placed || FileIndexOf(placed.get()) != written)
        RaiseError(L"In " + mark + L" kann nicht geschrieben werden", mark);
    removePart.release();
}

MarkSeen ReadMark(const Folder& folder) {
    MarkSeen seen;
    std::string bytes;
    {
        // Without following a link at its name: one that leads elsewhere
        // counts as a mark that cannot be read.
        const unique_hfile in = folder.OpenFile(kMarkName, GENERIC_READ, FILE_SHARE_READ);
        if (!in) {
            const DWORD error = ::GetLastError();
            seen.Present = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
            return seen;
        }
        seen.Present = true;
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(in.get(), &size) || size.QuadPart > (64 << 20)) return seen;
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD got = 0;
        if (!bytes.empty() && (!::ReadFile(in.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                               got != bytes.size()))
            return seen;
    }
    std::istringstream lines(bytes);
    std::string line;
    if (!std::getline(lines, line) || line != kMarkHeader) return seen;
    ArchiveIdentity named;
    bool haveArchive = false, ended = false;
    std::vector<FolderState> folders;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "archive") {
            haveArchive = static_cast<bool>(fields >> named.Volume >> named.Index >> named.Size >> named.LastWrite);
        } else if (kind == "folder") {
            DWORD attributes = 0;
            std::uint64_t ticks = 0;
            if (!(fields >> attributes >> ticks) || fields.get() != ' ') return seen;
            std::string relative;
            std::getline(fields, relative);
            const std::wstring wide = Wide(relative);
            if (wide.empty()) return seen;
            folders.push_back({wide, attributes, FromTicks(ticks)});
        } else if (kind == "end") {
            ended = true;
            break;
        } else {
            return seen;
        }
    }
    if (!haveArchive || !ended) return seen;
    seen.Readable = true;
    seen.Folders = std::move(folders);
    ArchiveIdentity now;
    seen.ArchiveIsTheRunsOwn = IdentityOf(folder, now) && now == named;
    return seen;
}

bool RemoveMark(const Folder& folder) {
    bool gone = true;
    ForEachEntry(folder, [&](const Folder::Entry& entry) {
        if (SamePath(entry.Name, kMarkName)) gone = RemovePlain(folder, entry.Name);
    });
    return gone;
}

void RemoveLeftovers(const Folder& folder, bool restoreLeftovers) {
    ForEachEntry(folder, [&](const Folder::Entry& entry) {
        if (NamedLike(entry.Name, std::wstring(kArchiveName) + L".", L"") ||
            NamedLike(entry.Name, L"vlmaltinst.lauf.", L""))
            RemovePlain(folder, entry.Name);
    });
    if (restoreLeftovers) RemoveRestoreLeftovers(folder);
}

// A start that finds the mark of an interrupted update first puts the folder
// back as the restore before an end with exit code 1 would have, under the run
// lock: the mark of an updater that runs right now is no leftover.
void DirectoryUpdater::RecoverAtStart(UpdateRun& run) {
    // Only a folder the archive step would take can hold its mark; it is
    // opened here once, and the archive step and the restore keep this handle.
    const Folder& folder = Program(run);
    if (!folder) return;
    // A mark that stands there but cannot be opened as a plain file of the
    // folder (a link at its name among them) counts as present.
    MarkSeen mark = ReadMark(folder);
    if (mark.Present) {
        if (run.PruefeAndereUpdates() != 0) run.Window.EndWith(1);
        // Read again under the lock: the updater that held it may just have
        // finished.
        mark = ReadMark(folder);
    } else if (!run.TryRunLock()) {
        return;  // the leftovers, if any, may be the other updater's work in progress
    }
    if (mark.Present && !mark.Readable) {
        // Nothing tells which archive holds the old installation, or which
        // folders it had: whatever stands at the archive's name may be
        // someone else's. Nothing is touched.
        run.Window.ErrorBox(L"Ein unterbrochenes Update in " + folder.Path() +
                            L" kann nicht fortgesetzt werden.\nDas Update wird abgebrochen!");
        run.Window.EndWith(1);
    }
    RemoveLeftovers(folder, mark.Present);
    if (mark.Present) {
        // Without the run's own archive the restore had come to its end: it
        // deletes the archive, or puts the older one in its place, last.
        if (mark.ArchiveIsTheRunsOwn) {
            RemovedFolders = mark.Folders;
            TargetEmptied = true;
            if (!RestoreWithLog(run)) {
                // The mark stays: the next start tries again, and the
                // installer must not go on over a half-restored folder. This
                // run does not try a second time on its way out.
                TargetEmptied = false;
                run.Window.ShowWithoutInput(500);
                run.Window.EndWith(1);
            }
            run.Window.ShowWithoutInput(500);
        }
        RemoveMark(folder);
    }
    run.ReleaseRunLock();
}
