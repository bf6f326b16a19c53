// Installation discovery of the registered-installation updater: the installer
// registration names the installation folder; the start ini there, its
// VirtualStore copy or the ini-folder default names the ini folder.
#include <shlobj.h>
#include "DataPaths.h"
#include "Discovery.h"
#include "Files.h"
#include "UpdateRun.h"
#include "RegisteredUpdater.h"

namespace {

constexpr wchar_t kInstallDirUnknown[] =
    L"Das Installationsverzeichnis von Velmora konnte nicht ermittelt werden!\nDas Update wird abgebrochen!";
constexpr wchar_t kIniDirUnknown[] =
    L"Das Velmora-Inidateiverzeichnis konnte nicht ermittelt werden!\nDas Update wird abgebrochen!";
constexpr wchar_t kCommonAppDataUnknown[] =
    L"Der Ordner \"All Users\\Anwendungsdaten\" konnte nicht ermittelt werden!\nDas Update wird abgebrochen!";

}  // namespace

// The value is used as read: a final backslash stays.
int RegisteredUpdater::GetCommAppData(UpdateRun& run) {
    run.Session.CommonAppDataDir = GetFileFolderPathFromRegistry(L"Common Appdata");
    if (run.Session.CommonAppDataDir.empty()) {
        run.Window.ErrorBox(kCommonAppDataUnknown);
        return StepFailed;
    }
    return StepOk;
}

int RegisteredUpdater::PruefeVLMIni(UpdateRun& run) {
    const REGSAM access = InstallKeyAccess(IsWow64());
    {
        unique_hkey key;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, installation_.InstallPropertiesKey, 0, access, key.put()) != ERROR_SUCCESS) {
            run.Window.ErrorBox(kInstallDirUnknown);
            return StepFailed;
        }
        run.Session.InstallDir = ReadRegistryText(key.get(), L"InstallLocation");
    }
    if (run.Session.InstallDir.empty()) {
        run.Window.ErrorBox(kInstallDirUnknown);
        return StepFailed;
    }

    // The sources of the ini folder, each only while the previous one has no
    // start ini: a start ini without IniPfad ends the search.
    std::wstring startIni = run.Session.InstallDir + L"\\VelmStart.ini";
    if (!FileExists(startIni))
        startIni = VirtualStoreStartIni(GetShellFolder(CSIDL_LOCAL_APPDATA), run.Session.InstallDir);
    if (FileExists(startIni)) {
        run.Session.IniDir = ReadProfileText(startIni, L"Setup", L"IniPfad");
        if (run.Session.IniDir.empty()) {
            run.Window.ErrorBox(kIniDirUnknown);
            return StepFailed;
        }
    } else {
        if (GetCommAppData(run) != StepOk) return StepFailed;
        run.Session.IniDir = run.Session.CommonAppDataDir + L"\\Brellix\\Velmora\\";
    }

    // The "001" sub-folder and the main ini: the shared steps, by this program's settings.
    return run.PruefeHauptIni();
}
