#include "TestFiles.h"
#include <shellapi.h>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include "Automation.h"
#include "Files.h"
#include <stdexcept>
#include <utility>

namespace vlmtest {

std::wstring BinDir() {
    const std::wstring p = ModuleFileName();
    return p.substr(0, p.find_last_of(L'\\'));
}

std::wstring Fixture(const std::wstring& name) { return BinDir() + L"\\fixtures\\" + name + L".exe"; }

std::wstring Expand(const wchar_t* text, const std::wstring& root) {
    std::wstring s = text ? text : L"";
    for (size_t pos; (pos = s.find(L"{T}")) != std::wstring::npos;) s.replace(pos, 3, root);
    return s;
}

TempDir::TempDir(const std::wstring& hint) {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH]{};
    ::GetTempPathW(MAX_PATH, temp);
    path_ =
        std::wstring(temp) + hint + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(counter++);
    RemoveTree(path_);
    MakeDirs(path_);
}

TempDir::~TempDir() { RemoveTree(path_); }

void MakeDirs(const std::wstring& path) {
    for (size_t pos = path.find(L'\\', 3); pos != std::wstring::npos; pos = path.find(L'\\', pos + 1))
        ::CreateDirectoryW(path.substr(0, pos).c_str(), nullptr);
    ::CreateDirectoryW(path.c_str(), nullptr);
}

namespace {
// The "\\?\" form, which takes any length but no doubled or final backslash.
std::wstring Long(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path.rfind(L"\\\\", 0) == 0 ? path : L"\\\\?\\" + path;
}

// Some platforms show a link to a file as a plain file, and deleting it there
// deletes its target: where the file really lies on its volume tells it apart.
bool IsLink(const std::wstring& path, DWORD attributes) {
    // The path below the drive ("C:") or share is where the file must lie.
    const std::wstring plain = Long(path).substr(4);
    const std::wstring below = plain.substr(plain.find(L'\\'));
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !SamePath(VolumePath(Long(path)), below);
}

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

}  // namespace

void ForEachIn(const std::wstring& folder, const std::function<void(const WIN32_FIND_DATAW&)>& visit,
               const std::wstring& pattern) {
    WIN32_FIND_DATAW fd;
    unique_hfind find(::FindFirstFileW((Long(folder) + L"\\" + pattern).c_str(), &fd));
    if (!find) return;
    do {
        const std::wstring name = fd.cFileName;
        if (name != L"." && name != L"..") visit(fd);
    } while (::FindNextFileW(find.get(), &fd));
}

std::vector<std::wstring> NamesIn(const std::wstring& folder, const std::wstring& pattern) {
    std::vector<std::wstring> names;
    ForEachIn(
        folder, [&](const WIN32_FIND_DATAW& fd) { names.push_back(fd.cFileName); }, pattern);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveTree(const std::wstring& folder) {
    std::wstring path = folder;
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    ForEachIn(path, [&](const WIN32_FIND_DATAW& fd) {
        const std::wstring full = path + L"\\" + fd.cFileName;
        // A link itself goes, never what it points to. The host tells links
        // for sure: the platform's view depends on its drive letters.
        if (IsLink(full, fd.dwFileAttributes) &&
            RunHostCommand(L"[ -L \"" + HostPath(full) + L"\" ] && rm -f \"" + HostPath(full) + L"\"") == 0)
            return;
        ::SetFileAttributesW(Long(full).c_str(), FILE_ATTRIBUTE_NORMAL);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(full);
        else
            ::DeleteFileW(Long(full).c_str());
    });
    ::SetFileAttributesW(Long(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    // A link whose target went first is not listed by some platforms at all:
    // the host removes what is left (its rm never follows a link).
    if (!::RemoveDirectoryW(Long(path).c_str()) && ::GetLastError() == ERROR_DIR_NOT_EMPTY)
        RunHostCommand(L"rm -rf \"" + HostPath(path) + L"\"");
}

std::map<std::wstring, std::string> TreeSnapshot(const std::wstring& folder) {
    std::map<std::wstring, std::string> out;
    const auto walk = [&](auto& self, const std::wstring& dir, const std::wstring& rel) -> void {
        ForEachIn(dir, [&](const WIN32_FIND_DATAW& fd) {
            const std::wstring full = dir + L"\\" + fd.cFileName;
            const std::wstring name = rel + fd.cFileName;
            const std::uint64_t time =
                static_cast<std::uint64_t>(fd.ftLastWriteTime.dwHighDateTime) << 32 | fd.ftLastWriteTime.dwLowDateTime;
            const std::string stamp =
                "a=" + std::to_string(fd.dwFileAttributes & ~FILE_ATTRIBUTE_ARCHIVE) + " t=" + std::to_string(time);
            if (IsLink(full, fd.dwFileAttributes)) {
                out[name] = "<link>";
            } else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                out[name] = "<dir " + stamp + ">";
                self(self, full, name + L"\\");
            } else {
                out[name] = stamp + " " + Fingerprint(Long(full));
            }
        });
    };
    // A final backslash would double the separator in every path below, and
    // nothing would be where its name says.
    walk(walk, WithoutFinalBackslashes(folder), L"");
    return out;
}

std::optional<std::vector<std::wstring>> ArchiveNames(const std::wstring& path) {
    const auto bytes = ReadBytes(path);
    if (!bytes || bytes->size() < 22) return std::nullopt;
    const auto u16 = [&](size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>((*bytes)[at]) |
                                     static_cast<unsigned char>((*bytes)[at + 1]) << 8);
    };
    const auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    const size_t end = bytes->size() - 22;
    if (bytes->compare(end, 4, "PK\x05\x06") != 0) return std::nullopt;
    std::vector<std::wstring> names;
    size_t at = u32(end + 16);
    for (unsigned i = 0; i < u16(end + 10); ++i) {
        if (at + 46 > bytes->size() || bytes->compare(at, 4, "PK\x01\x02") != 0) return std::nullopt;
        const size_t nameLength = u16(at + 28);
        names.push_back(Utf8ToWide(bytes->substr(at + 46, nameLength)));
        at += 46 + nameLength + u16(at + 30) + u16(at + 32);
    }
    return names;
}

std::wstring HostScriptStem(const std::wstring& kind) {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH]{};
    ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"vlm_" + kind + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
           std::to_wstring(counter++);
}

void StartHostScript(const std::wstring& path, const std::string& script) {
    WriteBytes(path, script);
    std::wstring line = L"/bin/sh \"" + HostPath(path) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        throw std::runtime_error("cannot start a host program");
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
}

int RunHostCommand(const std::wstring& commandLine) {
    // The command runs from a script that leaves its exit code in a file, and
    // the file is awaited.
    const std::wstring stem = HostScriptStem(L"host");
    const std::wstring script = stem + L".sh", done = stem + L".rc";
    const std::string rc = WideToUtf8(HostPath(done));
    StartHostScript(script,
                    WideToUtf8(commandLine) + "\necho $? > '" + rc + ".part' && mv '" + rc + ".part' '" + rc + "'\n");
    const bool finished = WaitFor([&] { return Exists(done); }, 60000);
    ::DeleteFileW(script.c_str());
    if (!finished) throw std::runtime_error("a host program did not finish: " + WideToUtf8(commandLine));
    const int code = std::atoi(ReadBytes(done).value_or("-1").c_str());
    ::DeleteFileW(done.c_str());
    return code;
}

std::wstring EnvironmentVariable(const std::wstring& name) {
    std::wstring value(256, L'\0');
    for (;;) {
        const DWORD n = ::GetEnvironmentVariableW(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (n < value.size()) {
            value.resize(n);
            return value;
        }
        value.resize(n);  // n is the size needed, its NUL included
    }
}

std::wstring CurrentFolder() {
    std::wstring folder(256, L'\0');
    for (;;) {
        const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
        if (n == 0) throw std::runtime_error("no current folder");
        if (n < folder.size()) {
            folder.resize(n);
            return folder;
        }
        folder.resize(n);
    }
}

std::wstring HostPath(const std::wstring& path) {
    using UnixName = char*(__cdecl*)(const wchar_t*);
    static const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) throw std::runtime_error("not running under Wine");
    char* name = unixName(path.c_str());
    if (!name) throw std::runtime_error("no host path");
    std::wstring result = Utf8ToWide(name);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}

void HostSymlink(const std::wstring& target, const std::wstring& link) {
    const std::wstring command = L"/bin/ln -s \"" + HostPath(target) + L"\" \"" + HostPath(link) + L"\"";
    if (RunHostCommand(command) != 0 || ::GetFileAttributesW(Long(link).c_str()) == INVALID_FILE_ATTRIBUTES)
        throw std::runtime_error("cannot make a host link: " + WideToUtf8(command));
}

void HostSymlinkTo(const std::wstring& target, const std::wstring& link) {
    const std::wstring command = L"/bin/ln -s \"" + HostPath(target) + L"\" \"" + HostPath(link) + L"\"";
    if (RunHostCommand(command) != 0) throw std::runtime_error("cannot make a host link: " + WideToUtf8(command));
}

HostRace::HostRace(const std::string& arguments) : stem_(HostScriptStem(L"race")) {
    const std::string base = WideToUtf8(HostPath(stem_));
    WriteBytes(stem_ + L".py",
               "import ctypes, fnmatch, os, sys\n"
               "libc = ctypes.CDLL(None, use_errno=True)\n"
               "def swap(a, b):\n"
               "    return libc.renameat2(-100, a.encode(), -100, b.encode(), 2) == 0\n"
               "stop, mode = sys.argv[1], sys.argv[2]\n"
               "n = 0\n"
               "open(stop + '.up', 'w').close()\n"
               "if mode == 'exchange':\n"
               "    while not os.path.exists(stop):\n"
               "        n += swap(sys.argv[3], sys.argv[4])\n"
               "else:\n"
               "    import select, struct\n"
               "    folder, pattern, other = sys.argv[3:6]\n"
               "    done = set()\n"
               "    fd = libc.inotify_init()\n"
               "    libc.inotify_add_watch(fd, folder.encode(), 0x100 | 0x80)\n"  // created, moved in
               "    while not os.path.exists(stop):\n"
               "        if not select.select([fd], [], [], 0.05)[0]:\n"
               "            continue\n"
               "        data, at = os.read(fd, 65536), 0\n"
               "        while at < len(data):\n"
               "            size = struct.unpack_from('iIII', data, at)[3]\n"
               "            name = data[at + 16:at + 16 + size].rstrip(b'\\0').decode()\n"
               "            at += 16 + size\n"
               "            if name not in done and fnmatch.fnmatch(name, pattern) and \\\n"
               "                    swap(os.path.join(folder, name), other):\n"
               "                done.add(name)\n"
               "                n += 1\n"
               "open(stop + '.n.part', 'w').write(str(n))\n"
               "os.rename(stop + '.n.part', stop + '.n')\n");
    StartHostScript(stem_ + L".sh", "exec /usr/bin/python3 '" + base + ".py' '" + base + ".stop' " + arguments + "\n");
    if (!WaitFor([this] { return Exists(stem_ + L".stop.up"); }, 30000))
        throw std::runtime_error("the host race did not start");
}

namespace {
std::string Quoted(const std::wstring& path) { return "'" + WideToUtf8(HostPath(path)) + "'"; }
}  // namespace

HostRace HostRace::Exchange(const std::wstring& a, const std::wstring& b) {
    return HostRace("exchange " + Quoted(a) + " " + Quoted(b));
}

HostRace HostRace::WhenAppears(const std::wstring& folder, const std::wstring& pattern, const std::wstring& other) {
    return HostRace("watch " + Quoted(folder) + " '" + WideToUtf8(pattern) + "' " + Quoted(other));
}

HostRace::HostRace(HostRace&& other) noexcept
    : stem_(std::exchange(other.stem_, std::wstring())), swaps_(other.swaps_) {}

HostRace::~HostRace() { Stop(); }

int HostRace::Stop() {
    if (stem_.empty() || swaps_ >= 0) return swaps_;
    WriteBytes(stem_ + L".stop", "");
    if (WaitFor([this] { return Exists(stem_ + L".stop.n"); }, 30000))
        swaps_ = std::atoi(ReadBytes(stem_ + L".stop.n").value_or("-1").c_str());
    for (const wchar_t* suffix : {L".py", L".sh", L".stop", L".stop.up", L".stop.n"})
        ::DeleteFileW((stem_ + suffix).c_str());
    return swaps_;
}

std::string RandomBytes(size_t size, std::uint64_t seed) {
    // xorshift64, eight bytes a step: hundreds of MiB in well under a second.
    std::string bytes(size, '\0');
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::size_t i = 0; i < size; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(&bytes[i], &x, std::min<std::size_t>(8, size - i));
    }
    return bytes;
}

std::string SlowToDeflate(std::size_t size, std::uint64_t seed) {
    std::string out = RandomBytes(size, seed);
    for (char& c : out) c = "ACGT"[c & 3];
    return out;
}

SmallDisk::SmallDisk(const std::wstring& folder, int megabytes) : Folder(folder), Host(HostPath(folder)) {
    MakeDirs(folder);
    RunHostCommand(L"/bin/mount -t tmpfs -o size=" + std::to_wstring(megabytes) + L"m tmpfs \"" + Host + L"\"");
    ULARGE_INTEGER total{};
    Mounted = ::GetDiskFreeSpaceExW((folder + L"\\").c_str(), nullptr, &total, nullptr) &&
              total.QuadPart <= static_cast<ULONGLONG>(megabytes) << 20;
}

SmallDisk::~SmallDisk() {
    if (Mounted) RunHostCommand(L"/bin/umount \"" + Host + L"\"");
}

ULONGLONG SmallDisk::Free() const {
    ULARGE_INTEGER free{};
    ::GetDiskFreeSpaceExW((Folder + L"\\").c_str(), &free, nullptr, nullptr);
    return free.QuadPart;
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
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
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
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), n, nullptr, nullptr);
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
    if (::RegCreateKeyExW(root_, key_.c_str(), 0, nullptr, 0, KEY_WRITE | view_, nullptr, &h, nullptr) != ERROR_SUCCESS)
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
