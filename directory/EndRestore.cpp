// The restore of the program folder before the directory updater ends with
// exit code 1 after its archive step emptied the folder, and the removal of
// the in-progress mark at either end.
#include "Archive.h"
#include "ArchiveContainer.h"
#include "DirectoryUpdater.h"
#include "UpdateRun.h"
#include "InProgress.h"

void DirectoryUpdater::BeforeEndWithOne(UpdateRun& run) {
    if (TargetEmptied) RestoreBeforeEnd(run);
    // After a failed restore the mark stays for the next start to finish it.
    if (MarkWritten && !TargetEmptied) RemoveMark(Program(run));
}

void DirectoryUpdater::BeforeEndWithZero(UpdateRun& run) {
    if (MarkWritten) RemoveMark(Program(run));
}

void DirectoryUpdater::RestoreBeforeEnd(UpdateRun& run) {
    // The window takes no click or close from here on (an end with exit code 1).
    RestoreWithLog(run);
    // Like the run's other result lines, this one stays on screen for a moment
    // before the program ends; it can be read meanwhile, but no click counts.
    run.Window.ShowWithoutInput(500);
}

bool DirectoryUpdater::RestoreWithLog(UpdateRun& run) {
    CursorChange hourglass(IDC_WAIT);
    run.Window.AddLogLine(L"Die vorherige Velmora Installation wird wiederhergestellt ...");
    run.Window.ShowWithoutInput(0);
    // The folder through the handle the archive step held.
    const bool restored = RestoreFolder(Program(run), RemovedFolders) == 0;
    if (restored) TargetEmptied = false;
    run.Window.AddLogLine(restored ? L"Velmora Wiederherstellung - OK"
                                   : L"Fehler bei der Wiederherstellung des Alt-Programms");
    return restored;
}
