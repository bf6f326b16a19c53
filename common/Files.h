#pragma once
#include <windows.h>
#include <cstddef>
#include <string>
#include "Raii.h"

// The full path of the running program's file, at any length.
std::wstring ModuleFileName();

// The backslash rules, each named once. Paths are joined by plain
// concatenation elsewhere; these are the only places that trim or add one.
// One final backslash removed, if there is one ("D:\Velm\\" gives "D:\Velm\").
std::wstring WithoutOneFinalBackslash(std::wstring path);
// Every final backslash removed, a lone first character aside ("D:\Velm\\"
// gives "D:\Velm", "\" stays "\").
std::wstring WithoutFinalBackslashes(std::wstring path);
// A final backslash added unless the path has one (an empty path gets one).
std::wstring WithFinalBackslash(std::wstring path);

// True only when a file, not a folder, exists at the path.
bool FileExists(const std::wstring& path);
// True only when a folder exists at the path.
bool DirectoryExists(const std::wstring& path);

// The full, normalised form of a path ("/" as "\", "." and ".." resolved,
// relative names against the current folder), as GetFullPathNameW gives it.
// Empty when the platform rejects the path.
std::wstring FullPath(const std::wstring& path);
// The "\\?\" form of a full path, which the file functions take at any length
// and without resolving it again; "\\server\share\x" becomes "\\?\UNC\server\share\x".
// A path already in that form is returned as it is.
std::wstring ExtendedPath(const std::wstring& fullPath);
// The plain form of a "\\?\" path, as the user would write it, without
// resolving anything ("\\?\UNC\server\share\x" becomes "\\server\share\x").
// Any other path is returned as it is.
std::wstring PlainPath(const std::wstring& path);
// Where the file or folder open on a handle really is on its volume, links
// resolved, as VolumePath gives it; empty when the platform cannot tell.
std::wstring VolumePathOf(HANDLE handle);
// Where a file or folder really is on its volume, links and junctions
// resolved: its path from the volume's root, without the drive ("\Schule\x").
// Empty when it cannot be opened. A path whose volume path differs from the
// one it was reached by goes through a link.
std::wstring VolumePath(const std::wstring& path);
// Whether two paths are the same text, letter case aside, as the file system
// compares names.
bool SamePath(const std::wstring& a, const std::wstring& b);

// The entries of one folder, "." and ".." left out, in the file system's own
// order. folder is used as given, with or without a final backslash: a
// "\\?\" form (ExtendedPath) lists it at any path length. With heartbeat,
// Heartbeat() is called for every entry the platform gives.
//     FolderListing list(folder);
//     while (const WIN32_FIND_DATAW* fd = list.Next()) ...
//     if (!list.Complete()) ...  // some entries were not listed
class FolderListing {
public:
    explicit FolderListing(const std::wstring& folder, bool heartbeat = false);
    FolderListing(FolderListing&&) noexcept = default;
    FolderListing& operator=(FolderListing&&) noexcept = default;

    // The next entry, valid until the next call; null at the end of the
    // listing and when it failed.
    const WIN32_FIND_DATAW* Next();
    // After Next gave null: whether every entry was listed. A folder without
    // even "." and ".." (a drive's empty root) counts as listed.
    bool Complete() const { return error_ == ERROR_NO_MORE_FILES || (error_ == ERROR_FILE_NOT_FOUND && !opened_); }
    // After Next gave null: the platform's reason, ERROR_NO_MORE_FILES when complete.
    DWORD Error() const { return error_; }

private:
    unique_hfind find_;
    WIN32_FIND_DATAW data_{};
    bool heartbeat_ = false;
    bool opened_ = false;
    bool pending_ = false;  // data_ holds the first entry, not yet given
    bool ended_ = false;
    DWORD error_ = 0;
};

// Writes the whole buffer at the handle's file position, in as many calls as
// it takes. False on the first failed call, or one that wrote nothing (a full
// disk, for one), with the platform's last error.
bool WriteAll(HANDLE file, const void* data, std::size_t size);

// Clears the read-only bit of the file or folder at path, when attributes (as
// listed) have it, by name: a read-only file cannot be deleted, a read-only
// folder not removed. Nothing is done to one without it.
void ClearReadOnly(const std::wstring& path, DWORD attributes);
// The same through an open handle with FILE_WRITE_ATTRIBUTES, attributes as
// read on it. True when the bit is clear afterwards.
bool ClearReadOnly(HANDLE handle, DWORD attributes);

// ---- Writing below a folder others may write to ----------------------------
// Velmora's folders are writable by ordinary users while the updaters run
// with the installer's rights, so every name already below such a folder may
// be planted: a link or junction to somewhere else. The platform here follows
// links even when asked not to (FILE_FLAG_OPEN_REPARSE_POINT), and lists a
// link to a file as a plain file; the one sound test is where an opened file
// really lies. These helpers never write through a name they have not checked
// that way. "base" is the Velmora folder, trusted as given; "relative" names
// a path below it, backslash-separated, without "." or "..".

// The volume path base\relative has when every name below base is a plain
// entry of its folder; baseVolumePath as VolumePath gives it for base.
std::wstring VolumePathBelow(const std::wstring& baseVolumePath, const std::wstring& relative);
// Whether every component of relative that exists is a plain file or folder
// of the folder before it, and no link or junction. The first missing
// component ends the check (what follows cannot exist either). False when base
// cannot be opened or a component cannot be checked.
bool NoLinkBelow(const std::wstring& base, const std::wstring& relative);

// Whether an open handle's file lies at base\relative, links resolved: the
// check to make on the handle that is written through.
bool HandleLiesBelow(HANDLE handle, const std::wstring& base, const std::wstring& relative);

// A file created under a fresh temporary name ("~vlm<pid>_<n>.tmp") in the
// folder base\folderRelative (empty: base itself). It is created, never
// opened (an existing name, a planted link included, is skipped), and checked
// on its handle to lie where its name says. The handle has delete access and
// no sharing, so nobody else opens it meanwhile.
struct TemporaryFile {
    unique_hfile Handle;
    std::wstring Path;  // full, "\\?\" form
    explicit operator bool() const { return static_cast<bool>(Handle); }
};
TemporaryFile CreateTemporaryBelow(const std::wstring& base, const std::wstring& folderRelative, DWORD access);
// Renames the handle's file to the full path destination; replace decides
// whether an existing destination (a link itself, never its target) is
// replaced. The handle stays open and names the file under its new name.
bool RenameByHandle(HANDLE handle, const std::wstring& destination, bool replace);
// Deletes the handle's file (it must have delete access); it goes when the
// last handle to it closes.
bool DeleteByHandle(HANDLE handle);
// Sets last-write time and attributes (only the settable ones; none gives
// FILE_ATTRIBUTE_NORMAL) on an open handle; a null time leaves it.
bool SetTimeAndAttributes(HANDLE handle, const FILETIME* lastWrite, DWORD attributes);
// A temporary file that will not be kept: its attributes cleared (a read-only
// file could not be deleted), deleted through its own handle and closed.
void DiscardTemporary(TemporaryFile& temp);
// Deletes a file at a full path only when it is a plain file of its folder;
// a link (whose deletion here would remove its target) is refused.
bool DeletePlainFile(const std::wstring& fullPath);

