// Window design and settings of the registered-installation updater.
#include "Haupt.h"
#include "RegisteredUpdater.h"

namespace {

const FormDesign kDesign{
    .Caption = L"Velmora-Updater",
    .FixedDialogFrame = true,
    .ClientWidth = 389,
    .ClientHeight = 311,
    .BtAbbruch = {208, 55, 85, 25},
    .BtWeiter = {299, 55, 85, 25},
    .StatusBelowLog = true,
    .LogFirstInTabOrder = true,
    .CentreOnDesktop = false,
};

const ProgramSettings kSettings{
    .RecordName = L"VLM_10_Update.ini",
    .DiscoveryFailResult = 1,
    .DiscoveryLogLines = false,
    .UsesSubdir001 = true,
};

}  // namespace

const FormDesign& RegisteredUpdater::Design() const { return kDesign; }
const ProgramSettings& RegisteredUpdater::Settings() const { return kSettings; }
