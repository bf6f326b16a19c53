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


bool ClearReadOnly(HANDLE handle, DWORD attributes) {
    return !(attributes & FILE_ATTRIBUTE_READONLY) ||
           SetTimeAndAttributes(handle, nullptr, attributes & ~FILE_ATTRIBUTE_READONLY);
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
