// Window design of the directory updater.
#include "Haupt.h"

const FormDesign HauptDesign{
    .Caption = L"Velmora Updater",
    .FixedDialogFrame = false,
    .ClientWidth = 388,
    .ClientHeight = 301,
    .BtAbbruch = {210, 50, 85, 25},
    .BtWeiter = {296, 50, 85, 25},
    .StatusBelowLog = false,
    .LogFirstInTabOrder = false,
    .CentreOnDesktop = true,
    .RecordName = L"VLM_9_Update.ini",
};
