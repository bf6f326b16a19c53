// The previous-installation archive of the directory updater: the walk that
// fills the archive, the deletion that empties the folder afterwards, and the
// helpers of DirectoryUpdater::SaveVLMInst.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <initializer_list>
#include <unordered_map>

#include "ArchiveContainer.h"

// The temporary folder as the platform reports it, ending in a backslash.
std::wstring TempPath();

// What the walk put into the archive: each file's full path with the size and
// last-write time it had while it was read. The deletion removes only these
// files, and only while they still are the same, so a file that appeared or
// changed after it was archived is never lost.
struct ArchivedFile {
    std::uint64_t Size = 0;
    LONGLONG LastWrite = 0;  // as the file's basic information gives it
};
using ArchivedFiles = std::unordered_map<std::wstring, ArchivedFile>;

// One walk over the program folder into an archive.
struct ArchiveWalk {
    ArchiveWriter& Archive;
    std::wstring Top;                   // the program folder, full path without final backslash
    std::wstring TopOnVolume;           // where it really is on its volume, links resolved
    std::wstring Base;                  // its parent with the final backslash
    ArchivedFiles* Archived = nullptr;  // receives every file that became an entry
    std::wstring Skip;                  // the archive being written, when it lies in the folder
};

// Adds every file below Dir to the archive; entry names begin with the last
// component of Dir. Dir is taken in its full, normalised form; links and
// junctions below it are neither archived nor entered. When archived is
// given, it receives every file that became an entry. The file at skip (a full
// path: the archive being written into the folder) is passed over.
void DoZip(const std::wstring& Dir, ArchiveWriter& archive, ArchivedFiles* archived = nullptr,
           const std::wstring& skip = {});

// Walks Dir (a full path below walk.Top, or walk.Top itself) and, depth first,
// its sub-folders; the files lying directly in a folder come after everything
// below its sub-folders.
void ZipFolder(const std::wstring& Dir, ArchiveWalk& walk);

// Adds the files lying directly in Dir (ending with a backslash), except the
// running program itself and links.
void ZipFolderFiles(const std::wstring& Dir, ArchiveWalk& walk);

// Empties Dir (a full path) with a walk of our own: removes the archived files
// that are unchanged and still where they were archived, folder links (the link
// itself, never what it points to) and the folders this leaves empty. The files named in keep directly in Dir stay.
// What cannot be removed stays where it is. Returns the number of entries left.
std::size_t DeleteFiles(const std::wstring& Dir, const ArchivedFiles& archived,
                        std::initializer_list<const wchar_t*> keep);

// The full, normalised form of a folder without a final backslash (the "\\?\"
// form given as its plain equivalent); empty when it has no parent folder
// (a drive or share root, or a path the platform rejects), since archiving and
// emptying must stay within a folder of its own.
std::wstring ProgramFolder(const std::wstring& dir);

// The full path of the folder that holds file, as the platform names it when
// it opens file: "/", ".." and relative names resolved, a "\\?\" name taken
// literally (given back in its plain form). Empty when the path is rejected.
std::wstring FolderHolding(const std::wstring& file);

// Whether path (a folder or file, or where one would be) lies within the folder
// whose place on its volume is folderOnVolume (as VolumePath gives it), by
// where it really is: drive aliases, short names and links resolved. A path
// that does not exist counts by its nearest existing parent.
bool LiesWithin(const std::wstring& path, const std::wstring& folderOnVolume);

// Whether path is folder itself or lies below it; both full paths, compared
// without regard to case as the file system does.
bool IsWithin(const std::wstring& path, const std::wstring& folder);
