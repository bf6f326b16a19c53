// The files of a folder and of an archive of it, for comparing the two.
#pragma once
#include <map>
#include <string>

namespace vlmtest {

// The names of the files below a folder and their content.
std::map<std::wstring, std::string> FilesIn(const std::wstring& dir);

// The same as an archive of the folder holds them (entry names without their
// first component, "/" as "\\"), read by the directory updater's own reader.
std::map<std::wstring, std::string> FilesInArchive(const std::wstring& path);

}  // namespace vlmtest
