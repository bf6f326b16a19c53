// The data backups: each group's data files are copied beside themselves under
// the prefix "VLM_Bkp_", and the formulation aids into a sibling folder.
#pragma once
#include <string>

inline constexpr wchar_t BackupPrefix[] = L"VLM_Bkp_";

// What CopyFolder returns when its source folder does not exist: nothing
// was backed up. (The shell's DE_INVALIDFILES: the source or destination
// path was invalid.) Other failures return the platform's error code.
inline constexpr int CopyFolderSourceMissing = 0x7C;

// Makes the folder and every missing parent folder; an existing folder counts
// as made. False as soon as one level cannot be made.
bool ForceDirectories(const std::wstring& dir);
