// The update run of the directory updater.
#include "Haupt.h"

void TFHaupt::Verarbeite() {
    if (PruefeAndereUpdates() != 0) EndWith(1);
    SetLogVisible(true, LogHeight);
    SetClientHeight(CompactClientHeight + LogHeight);
    ProcessMessages();

    if (PruefeVLMIni() != 0) EndWith(1);
    if (PruefeVLMUser() != 0) EndWith(1);
    AddLogLinePaused(L"Benutzeranzahl - OK");

    // A failed archive is only logged: the backups still protect the data.
    AddLogLine(L"Die vorherige Velmora Installation wird gesichert ...");
    if (SaveVLMInst() != 0)
        AddLogLinePaused(L"Fehler bei der Sicherung des Alt-Programms");
    else
        AddLogLinePaused(L"Velmora Sicherung - OK");

    RunBackups();

    SchreibeIni(0);
    ProcessMessages();
    EndWith(0);
}
