// Files of Velmora's folders, read and written through a held folder. The
// folder a Velmora path names (the ini folder, the data folders) may itself be
// a link, set up by an administrator who moved the data; nothing below it may:
// ordinary users write there, and the updaters run with the installer's rights.
#pragma once
#include <windows.h>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include "Folder.h"

// A file named by a full path as the updaters join it (plain concatenation,
// so "C:\V\x" + "name" is the file "xname" of "C:\V"): the folder the name
// lies in, held open, and its name there.
struct FileInFolder {
    Folder Dir;
    std::wstring Name;
    explicit operator bool() const { return static_cast<bool>(Dir); }
};
// Empty when the path has no folder part or the folder cannot be opened, with
// the platform's error.
FileInFolder OpenFileInFolder(const std::wstring& fullPath, ACCESS_MASK access = Folder::Writable);

// What stands at a name of a held folder, for a writer.
enum class AtName {
    Free,       // nothing, checked by creating the name (a dangling link is not free)
    PlainFile,  // a file of this folder
    Refused,    // a link, a folder, or what cannot be checked
};
AtName WhatIsAt(const Folder& folder, const std::wstring& name);

// A file of the folder opened to be read (read sharing only, so that a file
// held open for writing fails rather than tears), checked twice: under Wine
// the name a handle reports is resolved apart from the open itself, so a name
// swapped for a link in that instant can give a handle on the link's target
// that still reports the name. A second open must find the same file.
unique_hfile OpenToRead(const Folder& folder, const std::wstring& name);

// The whole content of an open file, read from its start; nullopt on a
// failed read.
std::optional<std::string> ReadWhole(HANDLE file);

// Puts a new file at name whole or not at all: fill writes the content into a
// fresh temporary file of the folder (created, never opened, checked to lie
// there); it is flushed, renamed over name through its handle (replace: what
// stands at name may be replaced, a link itself and never what it leads to),
// and found at name on a fresh open that follows no link. The new file's
// index (FileIndexOf), 0 on any failure, with the platform's error; the
// temporary file is gone then and what stood at name is as it was, unless
// the rename itself went through and the file was found elsewhere.
std::uint64_t PutWhole(const Folder& folder, const std::wstring& name, bool replace,
                       const std::function<bool(HANDLE temp)>& fill);

// Replaces name of folder by a complete copy of the file open on source (read
// access, read sharing only, so that a file held open for writing is a failure
// rather than a torn copy), with its content, last-write time and attributes,
// through PutWhole. Refused when a link, a dangling one included, or a folder
// stands at name (WhatIsAt). False on any failure, with the platform's error;
// what stood at name is then as it was.
bool CopyWhole(HANDLE source, const Folder& folder, const std::wstring& name);
