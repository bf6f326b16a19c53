// Start-up of the directory updater: the target folder from the command line,
// and the decision at show time whether there is anything to update.
#include <windows.h>
#include "CommandLine.h"
#include "DirectoryUpdater.h"
#include "UpdateRun.h"
#include "Version.h"

void DirectoryUpdater::FormCreate(UpdateRun& run) {
    run.Session.TargetDir = JoinTargetDir(SplitCommandLine(::GetCommandLineW()));
}

void DirectoryUpdater::FormShow(UpdateRun& run) {
    RecoverAtStart(run);
    if (CheckVLMExe(run) == NoProgramFile) run.Window.EndWith(0);
    if (MajorVersion(run.Session.InstalledVersion) == 9) {
        if (!run.Window.ConfirmBox(L"Im angegebenen Verzeichnis wurde eine updatef\u00e4hige Velmora-Version gefunden,\n"
                             L"die nicht \u00fcber diesen PC installiert wurde.\n"
                             L"Soll die Update-Installation fortgesetzt werden?"))
            run.Window.EndWith(1);
    } else {
        run.Window.ErrorBox(L"Im angegebenen Verzeichnis wurde eine NICHT updatef\u00e4hige Velmora - Version " +
                      run.Session.InstalledVersion + L" gefunden," + L"\n" +
                      L"die nicht \u00fcber diesen PC installiert wurde." + L"\n" + L"Dieses Update wird abgebrochen!");
        run.Window.EndWith(1);
    }
    // Compact state: only the buttons and the status line.
    run.Window.ShowCompact();
}
