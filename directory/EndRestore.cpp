// The restore of the program folder before the directory updater ends with
// exit code 1 after its archive step emptied the folder.
#include "Archive.h"
#include "Haupt.h"

void TFHaupt::RestoreBeforeEnd() {
    restoring_ = true;
    CursorChange hourglass(IDC_WAIT);
    AddLogLine(L"Die vorherige Velmora Installation wird wiederhergestellt ...");
    ShowWithoutInput(0);
    // The folder as the archive step named it: full path, "/" and ".." resolved.
    const std::wstring target = ProgramFolder(TargetDir);
    const bool restored = RestoreFolder(target, target + L"\\vlmaltinst.zip", RemovedFolders) == 0;
    if (restored) TargetEmptied = false;
    AddLogLine(restored ? L"Velmora Wiederherstellung - OK" : L"Fehler bei der Wiederherstellung des Alt-Programms");
    // Like the run's other result lines, this one stays on screen for a moment
    // before the program ends; it can be read meanwhile, but no click counts.
    ShowWithoutInput(500);
}

void TFHaupt::ShowWithoutInput(DWORD ms) {
    ::RedrawWindow(Handle, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    const ULONGLONG end = ::GetTickCount64() + ms;
    for (;;) {
        // Only messages sent by other threads and programs are handled here;
        // posted input stays queued and goes with the process.
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) return;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now), QS_SENDMESSAGE, 0);
    }
}
