// Real files, folders and registry values for the tests, cleaned up afterwards.
#pragma once
#include <windows.h>
#include <map>
#include <optional>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vlmtest {

// The folder of the running test program (our build's bin folder).
std::wstring BinDir();
// A version fixture built by the project, e.g. Fixture(L"v9_4_0_12").
std::wstring Fixture(const std::wstring& name);

// The one placeholder of the tables of expected paths and texts: every "{T}"
// becomes root, the case's own temporary folder. A null text gives "".
std::wstring Expand(const wchar_t* text, const std::wstring& root);

// A fresh folder below the temporary folder, removed with all its contents.
class TempDir {
public:
    explicit TempDir(const std::wstring& hint = L"vlm");
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::wstring& Path() const { return path_; }  // no final backslash
    std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

private:
    std::wstring path_;
};

void MakeDirs(const std::wstring& path);
// Calls visit for everything directly in a folder whose name matches the
// pattern, "." and ".." left out, at any path length; nothing for a folder
// that does not exist.
void ForEachIn(const std::wstring& folder, const std::function<void(const WIN32_FIND_DATAW&)>& visit,
               const std::wstring& pattern = L"*");
// The names directly in a folder that match the pattern ("*" for all, or as
// "vlmaltinst.zip.*.tmp"), sorted; none for a folder that does not exist.
std::vector<std::wstring> NamesIn(const std::wstring& folder, const std::wstring& pattern = L"*");
void RemoveTree(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);
// An ini file as Velmora writes it: UTF-16 with a byte-order mark, so that any
// character of a path survives.
void WriteIni(const std::wstring& path, const std::wstring& content);
std::optional<std::string> ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);
// Sets the last-write time of a file or folder (UTC), whatever its attributes.
void SetLastWrite(const std::wstring& path, const SYSTEMTIME& utc);
std::wstring ReadProfile(const std::wstring& path, const std::wstring& section, const std::wstring& key);
std::wstring Utf8ToWide(const std::string& text);

// Every file, folder and link below a folder, without following links and at
// any path length: relative path -> "<dir a=attributes t=time>", "<link>", or
// for a file its attributes, last-write time, size and a hash of its bytes. Two
// equal snapshots mean the same names, bytes, times and attributes.
std::map<std::wstring, std::string> TreeSnapshot(const std::wstring& folder);
// The entry names of a ZIP archive, from its central directory, in order;
// nothing when the file does not end in an end record without comment.
std::optional<std::vector<std::wstring>> ArchiveNames(const std::wstring& path);

// Runs a command line of the machine Wine runs on (such as /bin/ln ...) in its
// shell, waits for it and returns its exit code.
int RunHostCommand(const std::wstring& commandLine);
// Wine starts a host program given by its host path, but hands back no handle
// to wait on: a host script reports through files beside it. HostScriptStem
// names them, fresh for each call ("<temp>vlm_<kind>_<pid>_<n>");
// StartHostScript writes the script to path and starts it, without waiting.
std::wstring HostScriptStem(const std::wstring& kind);
void StartHostScript(const std::wstring& path, const std::string& script);
// An environment variable of this process at any length; empty when unset.
// Those Wine passes on name host paths (WINEPREFIX), as long as the clone's.
std::wstring EnvironmentVariable(const std::wstring& name);
// This process's current folder at any length: the test's build folder.
std::wstring CurrentFolder();
// The host's own path of a Windows path.
std::wstring HostPath(const std::wstring& path);
// A symbolic link of the host's file system, which the platform shows as a link
// (a folder link) or as the file it points to (a file link).
void HostSymlink(const std::wstring& target, const std::wstring& link);
// A host link whose target need not exist (a dangling link, when it does not).
void HostSymlinkTo(const std::wstring& target, const std::wstring& link);
std::string WideToUtf8(const std::wstring& text);

// A host program that races a run for names until it goes. Host renames ignore
// Windows share modes, so only what a program holds as handles protects it.
//     HostRace race = HostRace::Exchange(record, link);  // swapped again and again
class HostRace {
public:
    // Swaps two names with one atomic rename (renameat2 RENAME_EXCHANGE) in a
    // tight loop.
    static HostRace Exchange(const std::wstring& a, const std::wstring& b);
    // Watches a folder (inotify): every entry created or moved in whose name
    // matches the pattern (as "~vlm*.tmp") is swapped with other at once, once
    // for each name (a name gone again before the swap waits for its next
    // appearance).
    static HostRace WhenAppears(const std::wstring& folder, const std::wstring& pattern, const std::wstring& other);
    HostRace(HostRace&& other) noexcept;
    HostRace(const HostRace&) = delete;
    HostRace& operator=(const HostRace&) = delete;
    ~HostRace();
    // Stops it and waits until it has; the number of swaps it made.
    int Stop();

private:
    explicit HostRace(const std::string& arguments);
    std::wstring stem_;
    int swaps_ = -1;
};

// Pseudo-random bytes that neither deflate nor a file system can shrink.
std::string RandomBytes(size_t size, std::uint64_t seed);
// Random letters from a four-letter alphabet: quick to make, slow to deflate
// (long hash chains, short matches), so a modest folder keeps the archive
// step busy.
std::string SlowToDeflate(std::size_t size, std::uint64_t seed);

// A small file system of its own, mounted on folder for the object's lifetime;
// needs the host's administrator (Mounted tells whether it worked).
struct SmallDisk {
    std::wstring Folder, Host;
    bool Mounted = false;
    SmallDisk(const std::wstring& folder, int megabytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    ULONGLONG Free() const;
};

// Sets (or deletes, with nullopt) a registry value and puts the previous state
// back when it goes. The value's data may be of any type.
class RegistryValue {
public:
    RegistryValue(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view = 0);
    RegistryValue(const RegistryValue&) = delete;
    RegistryValue& operator=(const RegistryValue&) = delete;
    ~RegistryValue();
    void SetString(const std::wstring& value, DWORD type = REG_SZ);
    void SetDword(DWORD value);
    void Delete();

private:
    void Write(DWORD type, const void* data, DWORD size);
    HKEY root_;
    std::wstring key_, name_;
    REGSAM view_;
    bool keyExisted_ = false;
    bool existed_ = false;
    DWORD type_ = 0;
    std::vector<BYTE> data_;
};

}  // namespace vlmtest
