// The show time and the update run of the registered-installation updater:
// discovery, the version check, the user check, the four backups and the
// result record. Every path ends the program, unless a step raises an error.
#include "RegisteredUpdater.h"
#include "UpdateRun.h"

// It checks nothing before the run.
void RegisteredUpdater::FormShow(UpdateRun& run) { run.Window.ShowCompact(); }

void RegisteredUpdater::Verarbeite(UpdateRun& run) {
    RunWindow& window = run.Window;
    if (run.PruefeAndereUpdates() != StepOk) window.EndWith(1);
    window.ShowLog();
    window.ProcessMessages();

    if (PruefeVLMIni(run) != StepOk) window.EndWith(1);
    window.AddLogLine(L"Velmora-Datenpfad - OK");
    window.ProcessMessages();

    if (CheckVLMExe(run) != StepOk) window.EndWith(1);
    window.AddLogLine(L"Velmora-Version - OK");
    window.ProcessMessages();

    if (run.PruefeVLMUser() != StepOk) window.EndWith(1);
    window.AddLogLinePaused(L"Benutzeranzahl - OK");

    run.RunBackups();

    run.SchreibeIni(0);
    window.ProcessMessages();
    window.EndWith(0);
}
