// Show-time layout of the registered-installation updater: it takes nothing
// from its command line and checks nothing before the run.
#include "Haupt.h"
#include "RegisteredUpdater.h"

void RegisteredUpdater::FormCreate(TFHaupt&) {}

void RegisteredUpdater::FormShow(TFHaupt& form) {
    ::SetForegroundWindow(form.Handle);
    form.ProcessMessages();
    form.ClearLog();
    form.SetLogVisible(false, 0);
    form.SetOuterHeight(170);
    form.CentreWindow();
}
