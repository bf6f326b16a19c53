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

bool IdentityOf(const std::wstring& path, ArchiveIdentity& id) {
    unique_hfile file(::CreateFileW(ExtendedPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
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

// Whether the entry really lies in folder under that name: a link to a file
// looks like a plain file on some platforms, and deleting it there deletes
// what it points to.
bool PlainFileIn(const std::wstring& folder, const WIN32_FIND_DATAW& fd) {
    if (fd.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    const std::wstring full = folder + L"\\" + fd.cFileName;
    const std::wstring onVolume = VolumePath(folder);
    return !onVolume.empty() && SamePath(VolumePath(full), onVolume + L"\\" + fd.cFileName);
}

bool RemovePlain(const std::wstring& folder, const WIN32_FIND_DATAW& fd) {
    if (!PlainFileIn(folder, fd)) return false;
    const std::wstring p = ExtendedPath(folder + L"\\" + fd.cFileName);
    ClearReadOnly(p, fd.dwFileAttributes);
    return ::DeleteFileW(p.c_str()) != 0;
}

// Leftovers are removed as far as the folder can be listed: what a failed
// listing missed is found by the next start.
template <typename Visit>
void ForEachEntry(const std::wstring& folder, Visit visit) {
    FolderListing list(ExtendedPath(folder), true);
    while (const WIN32_FIND_DATAW* fd = list.Next()) visit(*fd);
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

void RemoveRestoreLeftovers(const std::wstring& folder) {
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& fd) {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveRestoreLeftovers(folder + L"\\" + fd.cFileName);
        else if (NamedLike(fd.cFileName, L"~vlm", L"_"))
            RemovePlain(folder, fd);
    });
}

}  // namespace

void WriteMark(const std::wstring& folder, const std::vector<FolderState>& folders) {
    ArchiveIdentity id;
    if (!IdentityOf(folder + L"\\" + kArchiveName, id))
        RaiseError(L"Das Archiv kann nicht gelesen werden: " + folder + L"\\" + kArchiveName, folder + L"\\" + kArchiveName);
    std::ostringstream text;
    text << kMarkHeader << "\n"
         << "archive " << id.Volume << " " << id.Index << " " << id.Size << " " << id.LastWrite << "\n";
    for (const FolderState& f : folders)
        text << "folder " << f.Attributes << " " << Ticks(f.LastWrite) << " " << Utf8(f.Relative) << "\n";
    text << "end\n";
    const std::string bytes = text.str();

    const std::wstring mark = folder + L"\\" + kMarkName;
    const std::wstring part = mark + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    const std::wstring partPath = ExtendedPath(part), markPath = ExtendedPath(mark);
    unique_hfile out(
        ::CreateFileW(partPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) RaiseError(L"In " + part + L" kann nicht geschrieben werden", part);
    // Only a mark complete under its own name stays; the file made here goes
    // on every other way out, closed first (it shares nothing).
    scope_exit removePart([&] {
        out.reset();
        ::DeleteFileW(partPath.c_str());
    });
    if (!WriteAll(out.get(), bytes.data(), bytes.size()) || !::FlushFileBuffers(out.get()))
        RaiseError(L"In " + part + L" kann nicht geschrieben werden", part);
    out.reset();
    if (!::MoveFileExW(partPath.c_str(), markPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        RaiseError(L"In " + mark + L" kann nicht geschrieben werden", mark);
    removePart.release();
}

MarkSeen ReadMark(const std::wstring& folder) {
    MarkSeen seen;
    const std::wstring mark = folder + L"\\" + kMarkName;
    const DWORD attributes = ::GetFileAttributesW(ExtendedPath(mark).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return seen;
    seen.Present = true;
    std::string bytes;
    {
        unique_hfile in(::CreateFileW(ExtendedPath(mark).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size{};
        if (!in || !::GetFileSizeEx(in.get(), &size) || size.QuadPart > (64 << 20)) return seen;
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
    seen.ArchiveIsTheRunsOwn = IdentityOf(folder + L"\\" + kArchiveName, now) && now == named;
    return seen;
}

bool RemoveMark(const std::wstring& folder) {
    bool gone = true;
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& fd) {
        if (SamePath(fd.cFileName, kMarkName)) gone = RemovePlain(folder, fd);
    });
    return gone;
}

void RemoveLeftovers(const std::wstring& folder, bool restoreLeftovers) {
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& fd) {
        if (NamedLike(fd.cFileName, std::wstring(kArchiveName) + L".", L"") || NamedLike(fd.cFileName, L"vlmaltinst.lauf.", L""))
            RemovePlain(folder, fd);
    });
    if (restoreLeftovers) RemoveRestoreLeftovers(folder);
}

// A start that finds the mark of an interrupted update first puts the folder
// back as the restore before an end with exit code 1 would have, under the run
// lock: the mark of an updater that runs right now is no leftover.
void DirectoryUpdater::RecoverAtStart(UpdateRun& run) {
    // Only a folder the archive step would take can hold its mark.
    const std::wstring& target = ProgramDir(run);
    if (target.empty() || ProgramFolder(target) != target) return;
    const bool marked =
        ::GetFileAttributesW(ExtendedPath(target + L"\\" + kMarkName).c_str()) != INVALID_FILE_ATTRIBUTES;
    if (marked) {
        if (run.PruefeAndereUpdates() != 0) run.Window.EndWith(1);
    } else if (!run.TryRunLock()) {
        return;  // the leftovers, if any, may be the other updater's work in progress
    }
    RemoveLeftovers(target, marked);
    if (marked) {
        const MarkSeen mark = ReadMark(target);
        // Without the run's own archive the restore had come to its end: it
        // deletes the archive, or puts the older one in its place, last.
        // A mark that cannot be read still names an emptied folder.
        const bool restore = mark.Readable ? mark.ArchiveIsTheRunsOwn : FileExists(target + L"\\" + kArchiveName);
        if (restore) {
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
        RemoveMark(target);
    }
    run.ReleaseRunLock();
}
