// Start-up of the directory updater: the target folder from the command line,
// and the decision at show time whether there is anything to update.
#include <windows.h>
#include "CommandLine.h"
#include "Haupt.h"
#include "Version.h"

void TFHaupt::FormCreate() { TargetDir = JoinTargetDir(SplitCommandLine(::GetCommandLineW())); }

void TFHaupt::FormShow() {
    if (CheckVLMExe() == 0) EndWith(0);
    if (MajorVersion(InstalledVersion) == 9) {
        if (!ConfirmBox(L"Im angegebenen Verzeichnis wurde eine updatef\u00e4hige Velmora-Version gefunden,\n"
                        L"die nicht \u00fcber diesen PC installiert wurde.\n"
                        L"Soll die Update-Installation fortgesetzt werden?"))
            EndWith(1);
    } else {
        ErrorBox(L"Im angegebenen Verzeichnis wurde eine NICHT updatef\u00e4hige Velmora - Version " +
                 InstalledVersion + L" gefunden," + L"\n" + L"die nicht \u00fcber diesen PC installiert wurde." +
                 L"\n" + L"Dieses Update wird abgebrochen!");
        EndWith(1);
    }
    ::SetForegroundWindow(Handle);
    ProcessMessages();

    // Compact state: only the buttons and the status line.
    ClearLog();
    SetLogVisible(false, 0);
    SetClientHeight(Design.BtAbbruch.Top + Design.BtAbbruch.Height + StatusHeight + 40);
    CompactClientHeight = ClientHeight();
}
