// The update run of the directory updater.
#include "DirectoryUpdater.h"
#include "Haupt.h"

void DirectoryUpdater::Verarbeite(TFHaupt& form) {
    if (form.PruefeAndereUpdates() != 0) form.EndWith(1);
    form.SetLogVisible(true, TFHaupt::LogHeight);
    form.SetClientHeight(form.CompactClientHeight + TFHaupt::LogHeight);
    form.ProcessMessages();

    if (PruefeVLMIni(form) != 0) form.EndWith(1);
    if (form.PruefeVLMUser() != 0) form.EndWith(1);
    form.AddLogLinePaused(L"Benutzeranzahl - OK");

    // A failed archive is only logged: the backups still protect the data.
    form.AddLogLine(L"Die vorherige Velmora Installation wird gesichert ...");
    if (SaveVLMInst(form) != 0)
        form.AddLogLinePaused(L"Fehler bei der Sicherung des Alt-Programms");
    else
        form.AddLogLinePaused(L"Velmora Sicherung - OK");

    form.RunBackups();

    form.SchreibeIni(0);
    form.ProcessMessages();
    form.EndWith(0);
}
