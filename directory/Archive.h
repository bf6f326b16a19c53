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
#include "Folder.h"

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
    ArchivedFiles* Archived = nullptr;  // receives every file that became an entry
    std::wstring Skip;                  // the archive being written, when it lies in the folder
};

// The program folder at Dir (a full path with a parent folder, no link
// itself), opened once for the walk, the emptying and the restore. Raises
// EFehler when it cannot be taken.
Folder OpenProgramFolder(const std::wstring& Dir);

// Adds every file below Dir to the archive; entry names begin with the last
// component of Dir. Links and junctions below it are neither archived nor
// entered. When archived is given, it receives every file that became an
// entry, by its full path (Path() of its folder and its name). The file at
// skip (such a full path: the archive being written into the folder) is
// passed over. The form with a path opens the folder first.
void DoZip(const Folder& Dir, ArchiveWriter& archive, ArchivedFiles* archived = nullptr, const std::wstring& skip = {});
void DoZip(const std::wstring& Dir, ArchiveWriter& archive, ArchivedFiles* archived = nullptr,
           const std::wstring& skip = {});

// Walks Dir and, depth first, its sub-folders, each opened relative to its
// parent's handle; the files lying directly in a folder come after everything
// below its sub-folders. Base is the entry name of Dir with its final "/".
void ZipFolder(const Folder& Dir, const std::wstring& Base, ArchiveWalk& walk);

// Adds the files lying directly in Dir, except the running program itself and
// links, each opened relative to Dir's handle.
void ZipFolderFiles(const Folder& Dir, const std::wstring& Base, ArchiveWalk& walk);

// Empties Dir with a walk of its own through handles: removes the archived
// files that are unchanged and still where they were archived, folder links
// (the link itself, never what it points to) and the folders this leaves
// empty. Each sub-folder is opened relative to its parent's handle, and each
// file is checked and deleted through its own handle opened relative to its
// folder's: a folder swapped for a link on the way is never entered. The files
// named in keep directly in Dir stay. What cannot be removed stays where it
// is. Returns the number of entries left.
std::size_t DeleteFiles(const Folder& Dir, const ArchivedFiles& archived, std::initializer_list<const wchar_t*> keep);

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
