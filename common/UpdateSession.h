// The state of one update run, filled and read by the steps. Paths are kept as
// UTF-16 throughout, so a folder name outside the ANSI code page still names its
// folder.
#pragma once
#include <windows.h>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct UpdateSession {
    std::wstring TargetDir;
    std::wstring InstallDir;
    std::wstring CommonAppDataDir;
    std::wstring IniDir;
    std::wstring MainIniPath;
    std::wstring DataDir;
    std::wstring BaseDir;
    std::wstring FormsDir;
    std::wstring NkkDir;
    std::wstring InstalledVersion;
    bool HasSubdir001 = false;

    // What SchreibeIni's first write replaced, so that an end with exit code
    // 1 can put it back: the record's full name, its earlier bytes (none:
    // there was no record), time and attributes, and the file last written
    // (FileIndexOf).
    struct WrittenRecord {
        std::wstring Path;
        std::optional<std::string> Before;
        FILETIME LastWrite{};
        DWORD Attributes = 0;
        std::uint64_t Written = 0;
    };
    std::optional<WrittenRecord> RecordWritten;

    // Velmora's own folders as far as discovery found them: whatever empties
    // or replaces a folder must leave each of these alone.
    std::vector<std::wstring> VelmoraFolders() const { return {IniDir, DataDir, BaseDir, FormsDir, NkkDir}; }
};
