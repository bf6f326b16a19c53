// The restore of the program folder before the directory updater ends with
// exit code 1 after its archive step emptied the folder, and the removal of
// the in-progress mark at either end.
#include "Archive.h"
#include "DirectoryUpdater.h"
#include "Haupt.h"
#include "InProgress.h"

void DirectoryUpdater::BeforeEndWithOne(TFHaupt& form) {
    if (TargetEmptied) RestoreBeforeEnd(form);
    // After a failed restore the mark stays for the next start to finish it.
    if (MarkWritten && !TargetEmptied) RemoveMark(ProgramDir(form));
}

void DirectoryUpdater::BeforeEndWithZero(TFHaupt& form) {
    if (MarkWritten) RemoveMark(ProgramDir(form));
}

void DirectoryUpdater::RestoreBeforeEnd(TFHaupt& form) {
    form.BlockHandlersUntilEnd();
    RestoreWithLog(form);
    // Like the run's other result lines, this one stays on screen for a moment
    // before the program ends; it can be read meanwhile, but no click counts.
    form.ShowWithoutInput(500);
}

bool DirectoryUpdater::RestoreWithLog(TFHaupt& form) {
    CursorChange hourglass(IDC_WAIT);
    form.AddLogLine(L"Die vorherige Velmora Installation wird wiederhergestellt ...");
    form.ShowWithoutInput(0);
    // The folder as the archive step named it.
    const std::wstring& target = ProgramDir(form);
    const bool restored = RestoreFolder(target, target + L"\\vlmaltinst.zip", RemovedFolders) == 0;
    if (restored) TargetEmptied = false;
    form.AddLogLine(restored ? L"Velmora Wiederherstellung - OK"
                             : L"Fehler bei der Wiederherstellung des Alt-Programms");
    return restored;
}
