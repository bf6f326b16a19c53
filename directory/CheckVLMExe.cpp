// Installed-version check of the directory updater: only major version 9 may be updated.
#include "Files.h"
#include "Haupt.h"
#include "Version.h"

int TFHaupt::CheckVLMExe() {
    const std::wstring exe = TargetDir + L"\\Velmora10.EXE";
    if (!FileExists(exe)) return 0;
    InstalledVersion = GetFileVersionsString_2(exe);
    switch (MajorVersion(InstalledVersion)) {
    case 9:
        break;
    case 10:
        ErrorBox(L"Im angegebenen Verzeichnis existiert bereits ein Velmora der Version 10!\n"
                 L"Das Update wird abgebrochen!");
        break;
    default:
        ErrorBox(L"Im angegebenen Verzeichnis existiert eine unbekannte Velmora-Version!\n"
                 L"Bitte entfernen Sie zuerst diese Version!\nDas Update wird abgebrochen!");
        break;
    }
    return 1;
}
