// Pieces of data-path discovery that both updaters use: the Shell Folders read,
// the parent-folder computation and the profile read.
#pragma once
#include <windows.h>
#include <string>

// A string value of an open key (REG_EXPAND_SZ unexpanded) up to its first NUL;
// an empty text when the value is missing or cannot be read. A value of any
// other type names no folder and raises an error.
std::wstring ReadRegistryText(HKEY key, const std::wstring& name);

// A value of HKLM\...\Explorer\Shell Folders as text (REG_EXPAND_SZ unexpanded),
// or an empty text when the key or the value is missing. A value of any other
// type raises an error.
std::wstring GetFileFolderPathFromRegistry(const std::wstring& name);

// The parent folder of a path, ending with a backslash. One final backslash of the
// path is ignored; paths of at most three characters after that, and paths with no
// further backslash, come back unchanged.
std::wstring GetPreviousDir(const std::wstring& path);

// One profile value as the platform reads it (surrounding blanks and one pair of
// quotes removed, cut to 2047 characters); empty when the file, the section or the
// key is missing.
std::wstring ReadProfileText(const std::wstring& file, const std::wstring& section, const std::wstring& key);
