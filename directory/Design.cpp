// Window design and settings of the directory updater.
#include "DirectoryUpdater.h"
#include "Haupt.h"

namespace {

const FormDesign kDesign{
    .Caption = L"Velmora Updater",
    .CentreOnDesktop = true,
    .ClientWidth = 388,
    .ClientHeight = 301,
    .BtAbbruch = {210, 50, 85, 25},
    .BtWeiter = {296, 50, 85, 25},
};

const ProgramSettings kSettings{
    .RecordName = L"VLM_9_Update.ini",
    .DiscoveryFailResult = 2,
    .DiscoveryLogLines = true,
    .UsesSubdir001 = false,
};

}  // namespace

const FormDesign& DirectoryUpdater::Design() const { return kDesign; }
const ProgramSettings& DirectoryUpdater::Settings() const { return kSettings; }
