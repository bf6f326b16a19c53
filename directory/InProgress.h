// The mark of an update in progress beside the archive in the program folder,
// and what a start does with what an interrupted run left behind.
#pragma once
#include <string>
#include <vector>
#include "Folder.h"
#include "Restore.h"

// While this file stands in the program folder, the folder is being emptied,
// is empty, or is being restored: its old installation lives in the archive
// beside it. It is written right before the deletion and removed as the last
// thing of an end with exit code 0 and of an end with exit code 1 whose
// restore succeeded.
inline constexpr wchar_t kMarkName[] = L"vlmaltinst.lauf";

// Writes the mark into folder (its handle): the identity of the archive that
// stands there as vlmaltinst.zip (volume, file index, size, last-write time)
// and the folders below folder, which the restore needs and the archive does
// not hold. Written completely under a name of its own and then renamed, so
// the mark is never partial. Raises EFehler.
void WriteMark(const Folder& folder, const std::vector<FolderState>& folders);

struct MarkSeen {
    bool Present = false;
    bool Readable = false;             // complete, of this format
    bool ArchiveIsTheRunsOwn = false;  // vlmaltinst.zip is the archive the mark names
    std::vector<FolderState> Folders;  // as the mark lists them
};
// The mark in folder, opened without following a link at its name. One that
// stands there but is no plain file of the folder, or cannot be read, is
// Present but not Readable.
MarkSeen ReadMark(const Folder& folder);

// Removes the mark when it is a plain file lying in folder. True when none is
// left.
bool RemoveMark(const Folder& folder);

// Removes what an interrupted run can leave and nothing else: in folder the
// partial archive or mark being written ("vlmaltinst.zip.<n>.tmp",
// "vlmaltinst.lauf.<n>.tmp"); with restoreLeftovers also the partial files of
// an interrupted restore ("~vlm<n>_<n>.tmp") in folder and below it. None of
// them is ever the only copy of anything. Links are never followed or removed.
void RemoveLeftovers(const Folder& folder, bool restoreLeftovers);
