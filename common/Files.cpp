#include "Files.h"
#include <windows.h>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>
#include "Heartbeat.h"
#include "Raii.h"

std::wstring ModuleFileName() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        // A name that does not fit comes back cut to the buffer's size.
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring WithoutOneFinalBackslash(std::wstring path) {
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

std::wstring WithoutFinalBackslashes(std::wstring path) {
    while (path.size() > 1 && path.back() == L'\\') path.pop_back();
    return path;
}

std::wstring WithFinalBackslash(std::wstring path) {
    if (path.empty() || path.back() != L'\\') path += L'\\';
    return path;
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring FullPath(const std::wstring& path) {
    if (path.empty()) return {};
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return {};
        if (n < full.size()) {
            full.resize(n);
            return full;
        }
        full.resize(n);  // n is the size needed, its NUL included
    }
}

std::wstring ExtendedPath(const std::wstring& fullPath) {
    if (fullPath.rfind(L"\\\\?\\", 0) == 0) return fullPath;
    if (fullPath.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + fullPath.substr(2);
    return L"\\\\?\\" + fullPath;
}

std::wstring PlainPath(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
    if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
    return path;
}

std::wstring VolumePathOf(HANDLE handle) {
    // The file name information has no length limit, where the final-path call
    // of some platforms stops short of long paths.
    alignas(FILE_NAME_INFO) static thread_local unsigned char buffer[sizeof(FILE_NAME_INFO) + 64 * 1024];
    if (!::GetFileInformationByHandleEx(handle, FileNameInfo, buffer, sizeof buffer)) return {};
    const auto* info = reinterpret_cast<const FILE_NAME_INFO*>(buffer);
    return std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
}

std::wstring VolumePath(const std::wstring& path) {
    // Attributes only: opens files held by others, and folders (backup semantics).
    const unique_hfile h(::CreateFileW(ExtendedPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return h ? VolumePathOf(h.get()) : std::wstring();
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

namespace {

// base's full form with one final backslash. The name is resolved with a
// component after it, so that a final blank or dot of base's own name is kept
// (the platform strips those from a last component only).
std::wstring FullBaseWithSlash(const std::wstring& base) {
    if (base.empty()) return {};
    const std::wstring probe = FullPath(WithFinalBackslash(base) + L"x");
    if (probe.size() < 2 || probe.back() != L'x' || probe[probe.size() - 2] != L'\\') return {};
    return probe.substr(0, probe.size() - 1);
}

// The folder to open for a base with its final backslash: a drive's root
// keeps it ("C:" alone names the current folder of the drive).
std::wstring FolderToOpen(const std::wstring& withSlash) {
    if (withSlash.size() >= 2 && withSlash[withSlash.size() - 2] == L':') return withSlash;
    return withSlash.substr(0, withSlash.size() - 1);
}

std::vector<std::wstring> Components(const std::wstring& relative) {
    std::vector<std::wstring> parts;
    std::size_t from = 0;
    while (from <= relative.size()) {
        const std::size_t at = relative.find(L'\\', from);
        const std::size_t end = at == std::wstring::npos ? relative.size() : at;
        if (end > from) parts.push_back(relative.substr(from, end - from));
        if (at == std::wstring::npos) break;
        from = at + 1;
    }
    return parts;
}

// base resolved once: its full form and where it really lies.
struct Base {
    std::wstring Full;    // with a final backslash
    std::wstring Volume;  // as VolumePath gives it
    bool Missing = false;  // base does not exist, so nothing below it does
    explicit operator bool() const { return !Full.empty() && !Volume.empty(); }
};

Base ResolveBase(const std::wstring& base) {
    Base b;
    b.Full = FullBaseWithSlash(base);
    if (b.Full.empty()) return b;
    const std::wstring folder = ExtendedPath(FolderToOpen(b.Full));
    b.Volume = VolumePath(folder);
    if (b.Volume.empty() && ::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        b.Missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    return b;
}

bool LiesBelow(HANDLE handle, const Base& base, const std::wstring& relative) {
    const std::wstring actual = VolumePathOf(handle);
    return !actual.empty() && SamePath(actual, VolumePathBelow(base.Volume, relative));
}

// What stands at base\relative, as far as a writer is concerned.
enum class Found {
    Refused,  // a link on the way, or what is there cannot be checked
    Nothing,  // a component is missing (a dangling link also looks missing)
    Plain,    // every component is a plain entry of its folder
};

Found Examine(const Base& base, const std::wstring& relative) {
    if (!base) return base.Missing ? Found::Nothing : Found::Refused;
    std::wstring below;
    for (const std::wstring& part : Components(relative)) {
        below += below.empty() ? part : L"\\" + part;
        const std::wstring path = ExtendedPath(base.Full + below);
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = ::GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Found::Nothing : Found::Refused;
        }
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return Found::Refused;
        if (!SamePath(VolumePath(path), VolumePathBelow(base.Volume, below))) return Found::Refused;
    }
    return Found::Plain;
}

bool NoLinkBelow(const Base& base, const std::wstring& relative) { return Examine(base, relative) != Found::Refused; }

// folderChecked: the caller has just checked the folder's components; the
// check on the new file's handle still catches a folder swapped meanwhile.
TemporaryFile CreateTemporaryBelow(const Base& base, const std::wstring& folderRelative, DWORD access,
                                   bool folderChecked = false) {
    static std::atomic<unsigned> counter{0};
    TemporaryFile temp;
    if (!folderChecked && !NoLinkBelow(base, folderRelative)) return temp;
    const std::wstring folder = folderRelative.empty() ? base.Full : base.Full + folderRelative + L"\\";
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::wstring name =
            L"~vlm" + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(counter++) + L".tmp";
        const std::wstring path = ExtendedPath(folder + name);
        temp.Handle.reset(
            ::CreateFileW(path.c_str(), access | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!temp.Handle) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return temp;
        }
        // The folder may have been swapped for a link since it was checked.
        if (!LiesBelow(temp.Handle.get(), base, folderRelative.empty() ? name : folderRelative + L"\\" + name)) {
            DeleteByHandle(temp.Handle.get());
            temp.Handle.reset();
            ::SetLastError(ERROR_ACCESS_DENIED);
            return temp;
        }
        temp.Path = path;
        return temp;
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return temp;
}

constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool IsDotEntry(const wchar_t* name) { return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0)); }

}  // namespace

FolderListing::FolderListing(const std::wstring& folder, bool heartbeat) : heartbeat_(heartbeat) {
    const std::wstring pattern = folder.empty() || folder.back() == L'\\' ? folder + L"*" : folder + L"\\*";
    // The basic information: the short names are never looked at.
    find_.reset(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data_, FindExSearchNameMatch, nullptr, 0));
    opened_ = pending_ = static_cast<bool>(find_);
    if (!find_) {
        error_ = ::GetLastError();
        ended_ = true;
    }
}

const WIN32_FIND_DATAW* FolderListing::Next() {
    for (;;) {
        if (ended_) return nullptr;
        if (pending_) {
            pending_ = false;
        } else if (!::FindNextFileW(find_.get(), &data_)) {
            error_ = ::GetLastError();
            ended_ = true;
            return nullptr;
        }
        if (heartbeat_) Heartbeat();
        if (!IsDotEntry(data_.cFileName)) return &data_;
    }
}

bool WriteAll(HANDLE file, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, std::size_t{1} << 30));
        DWORD written = 0;
        if (!::WriteFile(file, p, chunk, &written, nullptr) || written == 0) return false;  // disk full, for one
        p += written;
        size -= written;
    }
    return true;
}

void ClearReadOnly(const std::wstring& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

bool ClearReadOnly(HANDLE handle, DWORD attributes) {
    return !(attributes & FILE_ATTRIBUTE_READONLY) ||
           SetTimeAndAttributes(handle, nullptr, attributes & ~FILE_ATTRIBUTE_READONLY);
}

std::wstring VolumePathBelow(const std::wstring& baseVolumePath, const std::wstring& relative) {
    if (relative.empty()) return baseVolumePath;
    if (!baseVolumePath.empty() && baseVolumePath.back() == L'\\') return baseVolumePath + relative;
    return baseVolumePath + L"\\" + relative;
}

bool NoLinkBelow(const std::wstring& base, const std::wstring& relative) {
    return NoLinkBelow(ResolveBase(base), relative);
}

bool HandleLiesBelow(HANDLE handle, const std::wstring& base, const std::wstring& relative) {
    const Base b = ResolveBase(base);
    return b && LiesBelow(handle, b, relative);
}

TemporaryFile CreateTemporaryBelow(const std::wstring& base, const std::wstring& folderRelative, DWORD access) {
    return CreateTemporaryBelow(ResolveBase(base), folderRelative, access);
}

bool RenameByHandle(HANDLE handle, const std::wstring& destination, bool replace) {
    // The native form ("\??\C:\..."), which the platform takes as it is.
    const std::wstring extended = ExtendedPath(destination);
    const std::wstring native = L"\\??\\" + extended.substr(4);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + native.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(native.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, native.data(), native.size() * sizeof(wchar_t));
    return ::SetFileInformationByHandle(handle, FileRenameInfo, buffer.data(), static_cast<DWORD>(buffer.size())) != 0;
}

bool DeleteByHandle(HANDLE handle) {
    FILE_DISPOSITION_INFO info{TRUE};
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &info, sizeof info) != 0;
}

bool SetTimeAndAttributes(HANDLE handle, const FILETIME* lastWrite, DWORD attributes) {
    FILE_BASIC_INFO info{};  // zero: left as it is
    if (lastWrite) {
        info.LastWriteTime.LowPart = lastWrite->dwLowDateTime;
        info.LastWriteTime.HighPart = static_cast<LONG>(lastWrite->dwHighDateTime);
    }
    const DWORD settable = attributes & kSettableAttributes;
    info.FileAttributes = settable ? settable : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof info) != 0;
}

void DiscardTemporary(TemporaryFile& temp) {
    if (!temp) return;
    SetTimeAndAttributes(temp.Handle.get(), nullptr, 0);
    DeleteByHandle(temp.Handle.get());
    temp.Handle.reset();
}

bool DeletePlainFile(const std::wstring& fullPath) {
    const std::size_t slash = fullPath.find_last_of(L'\\');
    if (slash == std::wstring::npos) return false;
    const Base b = ResolveBase(fullPath.substr(0, slash + 1));
    const std::wstring name = fullPath.substr(slash + 1);
    if (!b || name.empty()) return false;
    unique_hfile file(::CreateFileW(ExtendedPath(b.Full + name).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    FILE_BASIC_INFO info{};
    if (!file || !::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &info, sizeof info)) return false;
    if ((info.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        !LiesBelow(file.get(), b, name)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return DeleteByHandle(file.get());
}
