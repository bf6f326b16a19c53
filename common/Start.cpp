// Program start, the message loop, handling pending messages and ending the process.
#include "Haupt.h"
#include "Start.h"

void TFHaupt::ShowForm() {
    ::ShowWindow(Handle, SW_SHOW);
    ::UpdateWindow(Handle);
    // The first showing runs FormShow before any user input is handled.
    Dispatch(&TFHaupt::FormShow);
}

namespace {
// Esc, Enter and Tab reach the buttons the way they do in a dialog.
void Deliver(HWND main, MSG& msg) {
    if (!::IsDialogMessageW(main, &msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}
}  // namespace

int TFHaupt::RunMessageLoop() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) Deliver(Handle, msg);
    return 0;  // the window was closed
}

void TFHaupt::ProcessMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        // The window was closed meanwhile. Closing during a run ends it with 1
        // already; the check keeps any other way out of a run from reading as success.
        if (msg.message == WM_QUIT) EndWith(running_ ? 1 : 0);
        Deliver(Handle, msg);
    }
}

void TFHaupt::EndWith(int exitCode) {
    // Exit code 1 makes the installer abort, so the old installation must work
    // again: put back what this run's archive step removed.
    if (exitCode == 1 && TargetEmptied && !restoring_) RestoreBeforeEnd();
    if (EndHook) EndHook(exitCode);
    ::ExitProcess(static_cast<UINT>(exitCode));
}

int RunProgram(HINSTANCE instance) {
    static TFHaupt FHaupt(HauptDesign);
    FHaupt.CreateForm(instance);
    FHaupt.ShowForm();
    return FHaupt.RunMessageLoop();
}
