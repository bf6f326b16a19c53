#pragma once
#include <string>

// True only when a file, not a folder, exists at the path.
bool FileExists(const std::wstring& path);
// True only when a folder exists at the path.
bool DirectoryExists(const std::wstring& path);
