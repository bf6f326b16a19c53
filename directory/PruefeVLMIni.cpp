// Data-path discovery of the directory updater: from the folder named on the
// command line to the ini folder, then the shared main-ini steps.
#include "DataPaths.h"
#include "DirectoryUpdater.h"
#include "Files.h"
#include "UpdateRun.h"

int DirectoryUpdater::PruefeVLMIni(UpdateRun& run) {
    // Kept as UTF-16, never narrowed to the ANSI code page: a folder name such as
    // "Ωmega" must still name its folder, or the ini-folder default below would be
    // taken, and that may belong to another installation.
    run.Session.InstallDir = run.Session.TargetDir;

    const std::wstring startIni = run.Session.InstallDir + L"\\VelmStart.ini";
    if (FileExists(startIni)) {
        // A start ini without a usable IniPfad is a broken installation; the default
        // folder is deliberately not tried then.
        run.Session.IniDir = ReadProfileText(startIni, L"Setup", L"IniPfad");
        if (run.Session.IniDir.empty()) {
            run.Window.ErrorBox(
                L"Das Velmora-Inidateiverzeichnis konnte nicht ermittelt werden!\nDas Update wird abgebrochen!");
            run.Window.AddLogLine(L"Velmora-Inidateiverzeichnis - Fehler");
            return IniFolderUnknown;
        }
    } else {
        if (GetCommAppData(run) != StepOk) return IniFolderUnknown;  // reported there
        run.Session.IniDir = run.Session.CommonAppDataDir + L"\\Brellix\\Velmora\\";
    }
    return run.PruefeHauptIni();
}

int DirectoryUpdater::GetCommAppData(UpdateRun& run) {
    run.Session.CommonAppDataDir = GetFileFolderPathFromRegistry(L"Common Appdata");
    if (run.Session.CommonAppDataDir.empty()) {
        run.Window.ErrorBox(
            L"Der Standard-Ordner f\u00fcr Anwendungsdaten konnte nicht ermittelt werden!\n"
            L"Das Update wird abgebrochen!");
        run.Window.AddLogLine(L"CommonAppData - Fehler");
        return StepFailed;
    }
    // The caller appends "\Brellix\Velmora\" and brings its own separator.
    run.Session.CommonAppDataDir = WithoutOneFinalBackslash(run.Session.CommonAppDataDir);
    return StepOk;
}
