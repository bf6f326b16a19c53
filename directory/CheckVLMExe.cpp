// Installed-version check of the directory updater: only major version 9 may be updated.
#include "DirectoryUpdater.h"
#include "Files.h"
#include "UpdateRun.h"
#include "Version.h"

int DirectoryUpdater::CheckVLMExe(UpdateRun& run) {
    const std::wstring exe = run.Session.TargetDir + L"\\Velmora10.EXE";
    if (!FileExists(exe)) return NoProgramFile;
    ProgramDir(run);  // the folder is named once, by the file found here
    run.Session.InstalledVersion = GetFileVersionsString_2(exe);
    switch (MajorVersion(run.Session.InstalledVersion)) {
    case 9:
        break;
    case 10:
        run.Window.ErrorBox(
            L"Im angegebenen Verzeichnis existiert bereits ein Velmora der Version 10!\n"
            L"Das Update wird abgebrochen!");
        break;
    default:
        run.Window.ErrorBox(
            L"Im angegebenen Verzeichnis existiert eine unbekannte Velmora-Version!\n"
            L"Bitte entfernen Sie zuerst diese Version!\nDas Update wird abgebrochen!");
        break;
    }
    return ProgramFileFound;
}
