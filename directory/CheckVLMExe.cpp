// Installed-version check of the directory updater: only major version 9 may be updated.
#include "DirectoryUpdater.h"
#include "Files.h"
#include "Haupt.h"
#include "Version.h"

int DirectoryUpdater::CheckVLMExe(TFHaupt& form) {
    const std::wstring exe = form.TargetDir + L"\\Velmora10.EXE";
    if (!FileExists(exe)) return 0;
    ProgramDir(form);  // the folder is named once, by the file found here
    form.InstalledVersion = GetFileVersionsString_2(exe);
    switch (MajorVersion(form.InstalledVersion)) {
    case 9:
        break;
    case 10:
        form.ErrorBox(
            L"Im angegebenen Verzeichnis existiert bereits ein Velmora der Version 10!\n"
            L"Das Update wird abgebrochen!");
        break;
    default:
        form.ErrorBox(
            L"Im angegebenen Verzeichnis existiert eine unbekannte Velmora-Version!\n"
            L"Bitte entfernen Sie zuerst diese Version!\nDas Update wird abgebrochen!");
        break;
    }
    return 1;
}
