// Show-time layout of the registered-installation updater: it takes nothing
// from its command line and checks nothing before the run.
#include "Haupt.h"

void TFHaupt::FormCreate() {}

void TFHaupt::FormShow() {
    ::SetForegroundWindow(Handle);
    ProcessMessages();
    ClearLog();
    SetLogVisible(false, 0);
    SetOuterHeight(170);
    CentreWindow();
}
