#include "TestFiles.h"
#include <shellapi.h>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

namespace vlmtest {

std::wstring BinDir() {
    wchar_t path[MAX_PATH]{};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p = path;
    return p.substr(0, p.find_last_of(L'\\'));
}

std::wstring Fixture(const std::wstring& name) { return BinDir() + L"\\fixtures\\" + name + L".exe"; }

TempDir::TempDir(const std::wstring& hint) {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH]{};
    ::GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + hint + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
            std::to_wstring(counter++);
    RemoveTree(path_);
    MakeDirs(path_);
}

TempDir::~TempDir() { RemoveTree(path_); }

void MakeDirs(const std::wstring& path) {
    for (size_t pos = path.find(L'\\', 3); pos != std::wstring::npos; pos = path.find(L'\\', pos + 1))
        ::CreateDirectoryW(path.substr(0, pos).c_str(), nullptr);
    ::CreateDirectoryW(path.c_str(), nullptr);
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = path + L"\\" + name;
            ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                ::DeleteFileW(full.c_str());
        } while (::FindNextFileW(find, &fd));
        ::FindClose(find);
    }
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::RemoveDirectoryW(path.c_str());
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create test file");
    DWORD written = 0;
    const BOOL ok = ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(h);
    if (!ok || written != bytes.size()) throw std::runtime_error("cannot write test file");
}

void WriteIni(const std::wstring& path, const std::wstring& content) {
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(content.data()), content.size() * sizeof(wchar_t));
    WriteBytes(path, bytes);
}

std::optional<std::string> ReadBytes(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    ::CloseHandle(h);
    return bytes;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void SetLastWrite(const std::wstring& path, const SYSTEMTIME& utc) {
    FILETIME ft;
    if (!::SystemTimeToFileTime(&utc, &ft)) throw std::runtime_error("invalid test time");
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE h = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const bool ok = h != INVALID_HANDLE_VALUE && ::SetFileTime(h, nullptr, nullptr, &ft);
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_DIRECTORY);
    if (!ok) throw std::runtime_error("cannot set the time of a test file");
}

namespace {
// Size and a 64-bit FNV-1a hash of the content: short enough to show in a
// failed comparison, and no two different test files share one.
std::string Fingerprint(const std::wstring& path) {
    const auto bytes = ReadBytes(path);
    if (!bytes) return "<unreadable>";
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : *bytes) hash = (hash ^ c) * 1099511628211ull;
    char text[64];
    std::snprintf(text, sizeof text, "%zu bytes, %016llx", bytes->size(), static_cast<unsigned long long>(hash));
    return text;
}

void AddTree(const std::wstring& dir, const std::wstring& rel, std::map<std::wstring, std::string>& out) {
    WIN32_FIND_DATAW fd;
    HANDLE find = ::FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        const ULONGLONG time = ULONGLONG{fd.ftLastWriteTime.dwHighDateTime} << 32 | fd.ftLastWriteTime.dwLowDateTime;
        const std::wstring key =
            rel + name + L" [" + std::to_wstring(fd.dwFileAttributes) + L" " + std::to_wstring(time) + L"]";
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[key + L"\\"] = "";
            AddTree(dir + L"\\" + name, rel + name + L"\\", out);
        } else {
            out[key] = Fingerprint(dir + L"\\" + name);
        }
    } while (::FindNextFileW(find, &fd));
    ::FindClose(find);
}
}  // namespace

std::map<std::wstring, std::string> TreeSnapshot(const std::wstring& dir) {
    std::map<std::wstring, std::string> out;
    AddTree(dir, L"", out);
    return out;
}

std::wstring ReadProfile(const std::wstring& path, const std::wstring& section, const std::wstring& key) {
    wchar_t buffer[2048]{};
    ::GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer, 2048, path.c_str());
    return buffer;
}

std::wstring Utf8ToWide(const std::string& text) {
    if (text.empty()) return {};
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), n);
    return result;
}

std::string WideToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                  nullptr);
    std::string result(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), n, nullptr,
                          nullptr);
    return result;
}

RegistryValue::RegistryValue(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view)
    : root_(root), key_(key), name_(name), view_(view) {
    HKEY h = nullptr;
    if (::RegOpenKeyExW(root_, key_.c_str(), 0, KEY_READ | view_, &h) != ERROR_SUCCESS) return;
    keyExisted_ = true;
    DWORD size = 0;
    if (::RegQueryValueExW(h, name_.c_str(), nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
        existed_ = true;
        data_.resize(size);
        ::RegQueryValueExW(h, name_.c_str(), nullptr, &type_, data_.data(), &size);
    }
    ::RegCloseKey(h);
}

RegistryValue::~RegistryValue() {
    if (existed_) {
        Write(type_, data_.data(), static_cast<DWORD>(data_.size()));
    } else {
        Delete();
        if (!keyExisted_) ::RegDeleteKeyExW(root_, key_.c_str(), view_, 0);
    }
}

void RegistryValue::Write(DWORD type, const void* data, DWORD size) {
    HKEY h = nullptr;
    if (::RegCreateKeyExW(root_, key_.c_str(), 0, nullptr, 0, KEY_WRITE | view_, nullptr, &h, nullptr) !=
        ERROR_SUCCESS)
        throw std::runtime_error("cannot open registry key for writing");
    ::RegSetValueExW(h, name_.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    ::RegCloseKey(h);
}

void RegistryValue::SetString(const std::wstring& value, DWORD type) {
    Write(type, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void RegistryValue::SetDword(DWORD value) { Write(REG_DWORD, &value, sizeof value); }

void RegistryValue::Delete() {
    HKEY h = nullptr;
    if (::RegOpenKeyExW(root_, key_.c_str(), 0, KEY_SET_VALUE | view_, &h) != ERROR_SUCCESS) return;
    ::RegDeleteValueW(h, name_.c_str());
    ::RegCloseKey(h);
}

}  // namespace vlmtest
