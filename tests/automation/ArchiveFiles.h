// The files of a folder and of an archive of it, for comparing the two. Read
// by the directory updater's own reader, so only the tests that link it
// compile this file (it is not part of the automation library).
#pragma once
#include <map>
#include <string>

namespace vlmtest {

// The names of the files below a folder and their content.
std::map<std::wstring, std::string> FilesIn(const std::wstring& dir);

// Every entry of an archive by its name, with its content; an entry that
// cannot be read whole raises std::runtime_error.
std::map<std::wstring, std::string> ArchiveContents(const std::wstring& path);

// An entry name as the file it stands for below the archived folder: without
// its first component, "/" as "\\".
std::wstring EntryFileName(const std::wstring& entryName);

// The files an archive of a folder holds, named as FilesIn names them.
std::map<std::wstring, std::string> FilesInArchive(const std::wstring& path);

}  // namespace vlmtest
