// The update run of the registered-installation updater: discovery, the version
// check, the user check, the four backups and the result record. Every path ends
// the program, unless a step raises an error.
#include "Haupt.h"

void TFHaupt::Verarbeite() {
    if (PruefeAndereUpdates() != 0) EndWith(1);
    SetOuterHeight(340);
    SetLogVisible(true, LogHeight);
    ProcessMessages();

    if (PruefeVLMIni() != 0) EndWith(1);
    AddLogLine(L"Velmora-Datenpfad - OK");
    ProcessMessages();

    if (CheckVLMExe() != 0) EndWith(1);
    AddLogLine(L"Velmora-Version - OK");
    ProcessMessages();

    if (PruefeVLMUser() != 0) EndWith(1);
    AddLogLinePaused(L"Benutzeranzahl - OK");

    RunBackups();

    SchreibeIni(0);
    ProcessMessages();
    EndWith(0);
}
