// Pieces of the registered-installation updater's discovery that stand on their
// own, so that they can be checked without a registered installation.
#pragma once
#include <windows.h>
#include <string>

// Access for the installer registration: a 32-bit process on 64-bit Windows must
// read the 64-bit view, where the installer wrote it.
REGSAM InstallKeyAccess(bool wow64);

// The path of a shell folder, or an empty text when the platform can't name it.
std::wstring GetShellFolder(int csidl);

// The start ini's copy that file virtualisation keeps for this user: the local
// application-data folder with its letters A to Z lower-cased, "VirtualStore",
// then the installation folder without its drive and without a final backslash.
std::wstring VirtualStoreStartIni(const std::wstring& localAppData, const std::wstring& installDir);

// Whether this is a 32-bit process on 64-bit Windows.
bool IsWow64();
