// The state of one update run, filled and read by the steps. Paths are kept as
// UTF-16 throughout, so a folder name outside the ANSI code page still names its
// folder.
#pragma once
#include <string>

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
    int CompactClientHeight = 0;
    bool HasSubdir001 = false;
};
