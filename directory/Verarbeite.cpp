// The update run of the directory updater.
#include "DirectoryUpdater.h"
#include "UpdateRun.h"

void DirectoryUpdater::Verarbeite(UpdateRun& run) {
    if (run.PruefeAndereUpdates() != 0) run.Window.EndWith(1);
    run.Window.ShowLog();
    run.Window.ProcessMessages();

    if (PruefeVLMIni(run) != 0) run.Window.EndWith(1);
    if (run.PruefeVLMUser() != 0) run.Window.EndWith(1);
    run.Window.AddLogLinePaused(L"Benutzeranzahl - OK");

    // A failed archive is only logged: the backups still protect the data.
    run.Window.AddLogLine(L"Die vorherige Velmora Installation wird gesichert ...");
    if (SaveVLMInst(run) != 0)
        run.Window.AddLogLinePaused(L"Fehler bei der Sicherung des Alt-Programms");
    else
        run.Window.AddLogLinePaused(L"Velmora Sicherung - OK");

    run.RunBackups();

    run.SchreibeIni(0);
    run.Window.ProcessMessages();
    run.Window.EndWith(0);
}
