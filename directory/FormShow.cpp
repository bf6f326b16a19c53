// Start-up of the directory updater: the target folder from the command line,
// and the decision at show time whether there is anything to update.
#include <windows.h>
#include "CommandLine.h"
#include "DirectoryUpdater.h"
#include "Haupt.h"
#include "Version.h"

void DirectoryUpdater::FormCreate(TFHaupt& form) {
    form.TargetDir = JoinTargetDir(SplitCommandLine(::GetCommandLineW()));
}

void DirectoryUpdater::FormShow(TFHaupt& form) {
    RecoverAtStart(form);
    if (CheckVLMExe(form) == 0) form.EndWith(0);
    if (MajorVersion(form.InstalledVersion) == 9) {
        if (!form.ConfirmBox(L"Im angegebenen Verzeichnis wurde eine updatef\u00e4hige Velmora-Version gefunden,\n"
                             L"die nicht \u00fcber diesen PC installiert wurde.\n"
                             L"Soll die Update-Installation fortgesetzt werden?"))
            form.EndWith(1);
    } else {
        form.ErrorBox(L"Im angegebenen Verzeichnis wurde eine NICHT updatef\u00e4hige Velmora - Version " +
                      form.InstalledVersion + L" gefunden," + L"\n" +
                      L"die nicht \u00fcber diesen PC installiert wurde." + L"\n" + L"Dieses Update wird abgebrochen!");
        form.EndWith(1);
    }
    ::SetForegroundWindow(form.Handle);
    form.ProcessMessages();

    // Compact state: only the buttons and the status line.
    form.ClearLog();
    form.SetLogVisible(false, 0);
    form.SetClientHeight(form.Design.BtAbbruch.Top + form.Design.BtAbbruch.Height + TFHaupt::StatusHeight + 40);
    form.CompactClientHeight = form.ClientHeight();
}
