// Puts an emptied program folder back from the archive the archive step made
// of it, for a run that ends with exit code 1 after the folder was emptied.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "Folder.h"

// A folder below the program folder as it was before the deletion. The archive
// has entries for files only; these bring back empty folders and the folders'
// own attributes and times.
struct FolderState {
    std::wstring Relative;  // below TargetDir, backslash-separated, no leading "\"
    DWORD Attributes;
    FILETIME LastWrite;
};

// Every folder below targetDir, parents before their sub-folders, each
// entered relative to its parent's handle. Links and other reparse points are
// neither recorded nor entered. Raises EFehler when a folder cannot be listed.
std::vector<FolderState> CaptureFolders(const Folder& targetDir);

// Restores every entry of the archive vlmaltinst.zip in targetDir (opened
// without following a link at its name) below targetDir (entry name without
// its first component, "/" as "\\"), with its content, last-write time and
// attributes, and then the folders' attributes and times. Every folder is
// opened or created relative to its parent's handle and every file created
// and renamed relative to its folder's, so a folder swapped for a link on the
// way gets nothing. A file that is already there is kept: with the same
// content it counts as restored, with other content the restore fails. The
// entry that names the archive itself (an older vlmaltinst.zip) replaces the
// archive only once everything else was restored; without such an entry the
// archive read is deleted then.
// 0: everything restored and checked, the archive gone (or replaced by the
// older one). Otherwise non-zero: the archive stays as it is, and what was
// restored stays too. Never raises.
int RestoreFolder(const Folder& targetDir, const std::vector<FolderState>& folders);

// The path below the program folder that an entry name stands for
// ("Prog/Hilfe/a.txt" gives "Hilfe\a.txt"), or empty when the name is refused:
// fewer than two components, an empty, "." or ".." component, a drive or a
// leading separator, a backslash, or a character or name Windows does not take.
std::wstring EntryPath(const std::wstring& entryName);
