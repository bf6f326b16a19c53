// The previous-installation archive of the directory updater: the walk that
// fills the archive and the helpers of TFHaupt::SaveVLMInst.
#pragma once
#include <string>

class ZipWriter;

// The temporary folder as the platform reports it, ending in a backslash.
std::wstring TempPath();

// Adds every file below Dir to the archive; entry names begin with the last
// component of Dir.
void DoZip(const std::wstring& Dir, ZipWriter& archive);

// Walks Dir and, depth first, its sub-folders; the files lying directly in a
// folder come after everything below its sub-folders. An empty Base means Dir
// is the top folder, whose parent becomes the base of every entry name.
void ZipFolder(std::wstring Dir, std::wstring Base, ZipWriter& archive);

// Adds the files lying directly in Dir (which ends with a backslash), except
// the running program itself.
void ZipFolderFiles(const std::wstring& Dir, const std::wstring& Base, ZipWriter& archive);

// Whether the folder has a parent folder, so that archiving and emptying it
// stay within that folder: false for an empty text, a drive root ("C:",
// "C:\"), a share root ("\\server\share") and a relative name without a
// backslash.
bool HasParentFolder(const std::wstring& dir);
