// Installed-version check of the registered-installation updater: only version 10
// may be updated. A missing program file reads as 0.0.0.0 and is refused.
#include "RegisteredUpdater.h"
#include "UpdateRun.h"
#include "Version.h"

int RegisteredUpdater::CheckVLMExe(UpdateRun& run) {
    UpdateSession& s = run.Session;
    s.InstalledVersion = GetFileVersionsString_2(s.InstallDir + L"\\Velmora10.EXE");
    // The first two characters decide, so 1.0.0.0 ("1.") is refused as well.
    if (s.InstalledVersion.compare(0, 2, L"10") == 0) return StepOk;
    run.Window.ErrorBox(
        L"F\u00fcr ein Update muss die Version 10 installiert sein!\n"
        L"Bitte f\u00fchren Sie zuerst ein Update auf diese Version durch!\n"
        L"Dieses Update wird abgebrochen!");
    return StepFailed;
}
