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

// Clears the read-only bit through an open handle with FILE_WRITE_ATTRIBUTES,
// attributes as read on it: a read-only file cannot be deleted, a read-only
// folder not removed. True when the bit is clear afterwards.
bool ClearReadOnly(HANDLE handle, DWORD attributes);

// Sets last-write time and attributes (only the settable ones; none gives
// FILE_ATTRIBUTE_NORMAL) on an open handle; a null time leaves it.
bool SetTimeAndAttributes(HANDLE handle, const FILETIME* lastWrite, DWORD attributes);
