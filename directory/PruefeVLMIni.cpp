// Data-path discovery of the directory updater: from the folder named on the
// command line to the ini folder, then the shared main-ini steps.
#include "DataPaths.h"
#include "Files.h"
#include "Haupt.h"

int TFHaupt::PruefeVLMIni() {
    // Kept as UTF-16, never narrowed to the ANSI code page: a folder name such as
    // "Ωmega" must still name its folder, or the ini-folder default below would be
    // taken, and that may belong to another installation.
    InstallDir = TargetDir;

    const std::wstring startIni = InstallDir + L"\\VelmStart.ini";
    if (FileExists(startIni)) {
        // A start ini without a usable IniPfad is a broken installation; the default
        // folder is deliberately not tried then.
        IniDir = ReadProfileText(startIni, L"Setup", L"IniPfad");
        if (IniDir.empty()) {
            ErrorBox(L"Das Velmora-Inidateiverzeichnis konnte nicht ermittelt werden!\nDas Update wird abgebrochen!");
            AddLogLine(L"Velmora-Inidateiverzeichnis - Fehler");
            return 2;
        }
    } else {
        if (GetCommAppData() != 0) return 2;  // reported there
        IniDir = CommonAppDataDir + L"\\Brellix\\Velmora\\";
    }
    return PruefeHauptIni(2, true);
}

int TFHaupt::GetCommAppData() {
    CommonAppDataDir = GetFileFolderPathFromRegistry(L"Common Appdata");
    if (CommonAppDataDir.empty()) {
        ErrorBox(L"Der Standard-Ordner f\u00fcr Anwendungsdaten konnte nicht ermittelt werden!\n"
                 L"Das Update wird abgebrochen!");
        AddLogLine(L"CommonAppData - Fehler");
        return 1;
    }
    // The caller appends "\Brellix\Velmora\" and brings its own separator.
    if (CommonAppDataDir.back() == L'\\') CommonAppDataDir.pop_back();
    return 0;
}
