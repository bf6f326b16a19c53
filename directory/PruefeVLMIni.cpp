// Data-path discovery of the directory updater: from the folder named on the
// command line to the ini folder, then the shared main-ini steps.
#include "DataPaths.h"
#include "DirectoryUpdater.h"
#include "Files.h"
#include "Haupt.h"

int DirectoryUpdater::PruefeVLMIni(TFHaupt& form) {
    // Kept as UTF-16, never narrowed to the ANSI code page: a folder name such as
    // "Ωmega" must still name its folder, or the ini-folder default below would be
    // taken, and that may belong to another installation.
    form.InstallDir = form.TargetDir;

    const std::wstring startIni = form.InstallDir + L"\\VelmStart.ini";
    if (FileExists(startIni)) {
        // A start ini without a usable IniPfad is a broken installation; the default
        // folder is deliberately not tried then.
        form.IniDir = ReadProfileText(startIni, L"Setup", L"IniPfad");
        if (form.IniDir.empty()) {
            form.ErrorBox(
                L"Das Velmora-Inidateiverzeichnis konnte nicht ermittelt werden!\nDas Update wird abgebrochen!");
            form.AddLogLine(L"Velmora-Inidateiverzeichnis - Fehler");
            return 2;
        }
    } else {
        if (GetCommAppData(form) != 0) return 2;  // reported there
        form.IniDir = form.CommonAppDataDir + L"\\Brellix\\Velmora\\";
    }
    return form.PruefeHauptIni();
}

int DirectoryUpdater::GetCommAppData(TFHaupt& form) {
    form.CommonAppDataDir = GetFileFolderPathFromRegistry(L"Common Appdata");
    if (form.CommonAppDataDir.empty()) {
        form.ErrorBox(
            L"Der Standard-Ordner f\u00fcr Anwendungsdaten konnte nicht ermittelt werden!\n"
            L"Das Update wird abgebrochen!");
        form.AddLogLine(L"CommonAppData - Fehler");
        return 1;
    }
    // The caller appends "\Brellix\Velmora\" and brings its own separator.
    form.CommonAppDataDir = WithoutOneFinalBackslash(form.CommonAppDataDir);
    return 0;
}
