#include "Folder.h"
#include <windows.h>
#include <winternl.h>
#include <atomic>
#include <cstring>
#include <vector>
#include "Files.h"
#include "Heartbeat.h"

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc, PVOID apcContext,
                                               PIO_STATUS_BLOCK io, PVOID buffer, ULONG length,
                                               FILE_INFORMATION_CLASS infoClass, BOOLEAN single, PUNICODE_STRING mask,
                                               BOOLEAN restart);

namespace {

constexpr NTSTATUS kNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
constexpr auto kDirectoryInformation = static_cast<FILE_INFORMATION_CLASS>(1);
constexpr ULONG kCreated = 2;  // IO_STATUS_BLOCK.Information of a create: FILE_CREATED

// FILE_DIRECTORY_INFORMATION, which the headers here do not declare.
struct DirectoryInformation {
    ULONG NextEntryOffset;
    ULONG FileIndex;
    LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime;
    LARGE_INTEGER EndOfFile, AllocationSize;
    ULONG FileAttributes;
    ULONG FileNameLength;
    WCHAR FileName[1];
};

// What every folder handle may do: list, traverse, read attributes, and wait
// synchronously for its own calls.
constexpr ACCESS_MASK kFolderBase = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// Others may read and write in a held folder, never rename or delete it.
constexpr DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool Fail(NTSTATUS status) {
    ::SetLastError(::RtlNtStatusToDosError(status));
    return false;
}

// One component, exactly as it names an entry of the folder: no separator, no
// stream (":"), no "." or "..".
bool PlainName(const std::wstring& name) {
    return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/:") == std::wstring::npos &&
           name.size() < 32768;
}

bool IsReparsePoint(HANDLE h) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    return !::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) ||
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The one call that opens or creates a child relative to a folder handle,
// without following a link at its name where the platform honours that.
NTSTATUS CreateRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, DWORD share, ULONG disposition,
                        ULONG options, DWORD attributes, unique_hfile& child, ULONG_PTR& information) {
    UNICODE_STRING text{};
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES object{};
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE raw = nullptr;
    const NTSTATUS status =
        ::NtCreateFile(&raw, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &object, &io, nullptr, attributes, share,
                       disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (NT_SUCCESS(status)) child.reset(raw);
    information = io.Information;
    return status;
}

std::wstring Joined(const std::wstring& folder, const std::wstring& name) {
    return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

}  // namespace

Folder Folder::Open(const std::wstring& path, ACCESS_MASK access) {
    const std::wstring full = WithoutFinalBackslashes(path);
    const std::size_t slash = full.rfind(L'\\');
    if (slash == std::wstring::npos || slash + 1 >= full.size()) {
        ::SetLastError(ERROR_INVALID_NAME);
        return {};
    }
    // A drive's root keeps its backslash ("C:" alone is the drive's current folder).
    const std::wstring parentPath = full.substr(0, slash > 0 && full[slash - 1] == L':' ? slash + 1 : slash);
    unique_hfile parentHandle(::CreateFileW(ExtendedPath(parentPath).c_str(), kFolderBase,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!parentHandle) return {};
    const std::wstring parentOnVolume = VolumePathOf(parentHandle.get());
    if (parentOnVolume.empty()) return {};
    const Folder parent(std::move(parentHandle), parentPath, parentOnVolume);
    Folder folder = parent.OpenFolder(full.substr(slash + 1), How::Open, access);
    if (folder) folder.path_ = full;
    return folder;
}

Folder Folder::OpenAsNamed(const std::wstring& path, ACCESS_MASK access) {
    // A drive's root keeps its backslash ("C:" alone is the drive's current folder).
    std::wstring full = WithoutFinalBackslashes(FullPath(path));
    if (full.size() == 2 && full[1] == L':') full += L'\\';
    unique_hfile handle(::CreateFileW(ExtendedPath(full).c_str(), kFolderBase | access, kFolderShare, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return {};
    std::wstring onVolume = VolumePathOf(handle.get());
    if (onVolume.empty()) return {};
    return Folder(std::move(handle), full, std::move(onVolume));
}

unique_hfile Folder::OpenChild(const std::wstring& name, ACCESS_MASK access, DWORD share, How how, ULONG options,
                               DWORD attributes) const {
    if (!handle_ || !PlainName(name)) {
        ::SetLastError(ERROR_INVALID_NAME);
        return {};
    }
    const ULONG disposition = how == How::Open ? FILE_OPEN : how == How::Create ? FILE_CREATE : FILE_OPEN_IF;
    unique_hfile child;
    ULONG_PTR information = 0;
    const NTSTATUS status =
        CreateRelative(handle_.get(), name, access, share, disposition, options, attributes, child, information);
    if (!NT_SUCCESS(status)) {
        Fail(status);
        return {};
    }
    // A link opened as itself is a reparse point; one the platform followed
    // anyway lies elsewhere on the volume.
    if (IsReparsePoint(child.get()) || !Holds(child.get(), name)) {
        if (information == kCreated && (access & DELETE)) Delete(child.get());
        ::SetLastError(LinkRefused);
        return {};
    }
    return child;
}

Folder Folder::OpenFolder(const std::wstring& name, How how, ACCESS_MASK access) const {
    unique_hfile child =
        OpenChild(name, kFolderBase | access, kFolderShare, how, FILE_DIRECTORY_FILE, FILE_ATTRIBUTE_NORMAL);
    if (!child) return {};
    std::wstring onVolume = VolumePathOf(child.get());
    return Folder(std::move(child), Joined(path_, name), std::move(onVolume));
}

unique_hfile Folder::OpenFile(const std::wstring& name, ACCESS_MASK access, DWORD share, How how,
                              DWORD attributes) const {
    if (how == How::OpenOrCreate) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return {};
    }
    // Under Wine a handle without data access holds no file of its own: a
    // change of attributes through it goes by the name it was opened by, and
    // so to whatever a link there leads to now. A handle that changes or
    // deletes a file reads it too.
    if (access & (FILE_WRITE_ATTRIBUTES | DELETE)) access |= FILE_READ_DATA;
    return OpenChild(name, access, share, how, FILE_NON_DIRECTORY_FILE, attributes);
}

unique_hfile Folder::CreateTemporary(ACCESS_MASK access, std::wstring& name) const {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 1000; ++attempt) {
        name = L"~vlm" + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(counter++) + L".tmp";
        unique_hfile file = OpenFile(name, access | DELETE, 0, How::Create);
        const DWORD error = ::GetLastError();
        if (file || (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)) return file;
    }
    return {};
}

bool Folder::Holds(HANDLE child, const std::wstring& name) const {
    const std::wstring where = VolumePathOf(child);
    return !where.empty() && !onVolume_.empty() && SamePath(where, Joined(onVolume_, name));
}

bool Folder::RenameInto(HANDLE child, const std::wstring& name, bool replace) const {
    if (!handle_ || !PlainName(name)) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    const std::size_t bytes = name.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFORMATION) + bytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    info->ReplaceIfExists = replace;
    info->RootDirectory = handle_.get();
    info->FileNameLength = static_cast<ULONG>(bytes);
    std::memcpy(info->FileName, name.data(), bytes);
    IO_STATUS_BLOCK io{};
    const NTSTATUS status =
        ::NtSetInformationFile(child, &io, info, static_cast<ULONG>(buffer.size()), FileRenameInformation);
    if (!NT_SUCCESS(status)) return Fail(status);
    if (!Holds(child, name)) {
        ::SetLastError(LinkRefused);
        return false;
    }
    return true;
}

bool Folder::DeleteEvenReadOnly(HANDLE child) {
    // FileDispositionInformationEx with FILE_DISPOSITION_DELETE and
    // FILE_DISPOSITION_IGNORE_READONLY_ATTRIBUTE: the read-only bit never has
    // to be cleared first, which under Wine goes by the file's name and so to
    // whatever a link there leads to now.
    ULONG flags = 0x1 | 0x10;
    IO_STATUS_BLOCK io{};
    const NTSTATUS status =
        ::NtSetInformationFile(child, &io, &flags, sizeof flags, static_cast<FILE_INFORMATION_CLASS>(64));
    return NT_SUCCESS(status) || Fail(status);
}

bool Folder::Delete(HANDLE child) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return ::SetFileInformationByHandle(child, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

bool Folder::Remove() {
    const bool removed = handle_ && Delete(handle_.get());
    handle_.reset();
    return removed;
}

bool Folder::RemoveLink(const std::wstring& name) const {
    if (!handle_ || !PlainName(name)) return false;
    unique_hfile link;
    ULONG_PTR information = 0;
    const NTSTATUS status =
        CreateRelative(handle_.get(), name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                       0, 0, link, information);
    if (!NT_SUCCESS(status)) return Fail(status);
    if (!IsReparsePoint(link.get()) || !Holds(link.get(), name)) {
        ::SetLastError(ERROR_NOT_A_REPARSE_POINT);
        return false;
    }
    return Delete(link.get());
}

bool Folder::List(std::vector<Entry>& entries, bool heartbeat) const {
    if (!handle_) return false;
    // Wine keeps a handle's listing from its first read, restarted or not:
    // each listing reads through a fresh handle on this very folder (the
    // empty name relative to it), so it sees what came or went meanwhile.
    unique_hfile fresh;
    ULONG_PTR information = 0;
    const NTSTATUS opened =
        CreateRelative(handle_.get(), L"", FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       FILE_OPEN, FILE_DIRECTORY_FILE, 0, fresh, information);
    if (!NT_SUCCESS(opened)) return Fail(opened);
    if (FileIndexOf(fresh.get()) != FileIndexOf(handle_.get())) {
        ::SetLastError(LinkRefused);
        return false;
    }
    alignas(8) static thread_local unsigned char buffer[64 * 1024];
    for (bool first = true;; first = false) {
        if (heartbeat) Heartbeat();
        IO_STATUS_BLOCK io{};
        const NTSTATUS status = NtQueryDirectoryFile(fresh.get(), nullptr, nullptr, nullptr, &io, buffer, sizeof buffer,
                                                     kDirectoryInformation, FALSE, nullptr, first);
        if (status == kNoMoreFiles) return true;
        if (!NT_SUCCESS(status)) return Fail(status);
        for (std::size_t at = 0;;) {
            const auto* info = reinterpret_cast<const DirectoryInformation*>(buffer + at);
            std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..")
                entries.push_back({std::move(name), info->FileAttributes,
                                   static_cast<std::uint64_t>(info->EndOfFile.QuadPart), info->LastWriteTime.QuadPart});
            if (info->NextEntryOffset == 0) break;
            at += info->NextEntryOffset;
        }
    }
}

Folder Folder::Duplicate() const {
    HANDLE copy = nullptr;
    if (!handle_ || !::DuplicateHandle(::GetCurrentProcess(), handle_.get(), ::GetCurrentProcess(), &copy, 0, FALSE,
                                       DUPLICATE_SAME_ACCESS))
        return {};
    return Folder(unique_hfile(copy), path_, onVolume_);
}

std::uint64_t FileIndexOf(HANDLE file) {
    FILE_INTERNAL_INFORMATION info{};
    IO_STATUS_BLOCK io{};
    if (!NT_SUCCESS(::NtQueryInformationFile(file, &io, &info, sizeof info, FileInternalInformation))) return 0;
    return static_cast<std::uint64_t>(info.IndexNumber.QuadPart);
}
