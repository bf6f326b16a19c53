// The restore of the program folder before the directory updater ends with
// exit code 1 after its archive step emptied the folder.
#include "Archive.h"
#include "DirectoryUpdater.h"
#include "Haupt.h"

void DirectoryUpdater::BeforeEndWithOne(TFHaupt& form) {
    if (TargetEmptied) RestoreBeforeEnd(form);
}

void DirectoryUpdater::RestoreBeforeEnd(TFHaupt& form) {
    form.BlockHandlersUntilEnd();
    CursorChange hourglass(IDC_WAIT);
    form.AddLogLine(L"Die vorherige Velmora Installation wird wiederhergestellt ...");
    form.ShowWithoutInput(0);
    // The folder as the archive step named it.
    const std::wstring& target = ProgramDir(form);
    const bool restored = RestoreFolder(target, target + L"\\vlmaltinst.zip", RemovedFolders) == 0;
    if (restored) TargetEmptied = false;
    form.AddLogLine(restored ? L"Velmora Wiederherstellung - OK"
                             : L"Fehler bei der Wiederherstellung des Alt-Programms");
    // Like the run's other result lines, this one stays on screen for a moment
    // before the program ends; it can be read meanwhile, but no click counts.
    form.ShowWithoutInput(500);
}
