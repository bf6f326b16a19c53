// Window design of the registered-installation updater.
#include "Haupt.h"

const FormDesign HauptDesign{
    .Caption = L"Velmora-Updater",
    .FixedDialogFrame = true,
    .ClientWidth = 389,
    .ClientHeight = 311,
    .BtAbbruch = {208, 55, 85, 25},
    .BtWeiter = {299, 55, 85, 25},
    .StatusBelowLog = true,
    .LogFirstInTabOrder = true,
    .CentreOnDesktop = false,
    .RecordName = L"VLM_10_Update.ini",
};
