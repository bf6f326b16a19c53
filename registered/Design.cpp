// Window design, settings and installer key of the registered-installation updater.
#include "Haupt.h"
#include "RegisteredUpdater.h"

namespace {

const FormDesign kDesign{
    .Caption = L"Velmora-Updater",
    .FixedDialogFrame = true,
    .StatusBelowLog = true,
    .LogFirstInTabOrder = true,
    .ClientWidth = 389,
    .ClientHeight = 311,
    .BtAbbruch = {208, 55, 85, 25},
    .BtWeiter = {299, 55, 85, 25},
    .CompactOuterHeight = 170,
    .RunOuterHeight = 340,
    .CentreWhenCompact = true,
};

const ProgramSettings kSettings{
    .RecordName = L"VLM_10_Update.ini",
    .DiscoveryFailResult = 1,
    .DiscoveryLogLines = false,
    .UsesSubdir001 = true,
};

// Where Windows Installer keeps the properties of Velmora installed for all users.
constexpr wchar_t kInstallPropertiesKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\"
    L"7D2E91B04C6A3F58E0B1D2C3A4958F76\\InstallProperties";

}  // namespace

const RegisteredInstallation Velmora10Installation{kDesign, kSettings, kInstallPropertiesKey};
