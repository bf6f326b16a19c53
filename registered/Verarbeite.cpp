// The update run of the registered-installation updater: discovery, the version
// check, the user check, the four backups and the result record. Every path ends
// the program, unless a step raises an error.
#include "Haupt.h"
#include "RegisteredUpdater.h"

void RegisteredUpdater::Verarbeite(TFHaupt& form) {
    if (form.PruefeAndereUpdates() != 0) form.EndWith(1);
    form.SetOuterHeight(340);
    form.SetLogVisible(true, TFHaupt::LogHeight);
    form.ProcessMessages();

    if (PruefeVLMIni(form) != 0) form.EndWith(1);
    form.AddLogLine(L"Velmora-Datenpfad - OK");
    form.ProcessMessages();

    if (CheckVLMExe(form) != 0) form.EndWith(1);
    form.AddLogLine(L"Velmora-Version - OK");
    form.ProcessMessages();

    if (form.PruefeVLMUser() != 0) form.EndWith(1);
    form.AddLogLinePaused(L"Benutzeranzahl - OK");

    form.RunBackups();

    form.SchreibeIni(0);
    form.ProcessMessages();
    form.EndWith(0);
}
