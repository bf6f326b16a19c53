#pragma once
#include <windows.h>
#include <string>

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
