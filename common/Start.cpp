// Program start, the message loop, handling pending messages and ending the process.
#include "Haupt.h"
#include "Start.h"

void TFHaupt::ShowForm() {
    state_ = FormState::ShowTime;
    ::ShowWindow(Handle, SW_SHOW);
    ::UpdateWindow(Handle);
    // The first showing runs FormShow before any user input is handled.
    const bool shown = DispatchWorking(FormState::ShowTime, &TFHaupt::FormShow);
    state_ = shown ? FormState::Compact : FormState::StoppedByError;
    // What arrived before the compact state stood is decided now, from the
    // message loop, as if it had come just now.
    if (closeDeferred_) PostEvent(FormEvent::Close);
    if (weiterDeferred_ && !closeDeferred_) PostEvent(FormEvent::Weiter);
    weiterDeferred_ = closeDeferred_ = false;
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
    handlers_->BeforeEnd(0);
    return 0;  // the window was closed
}

void TFHaupt::ProcessMessages() {
    const AtPoint point(*this);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        // The window was closed meanwhile. Closing during a run ends it with 1
        // already; the check keeps any other way out of a run from reading as success.
        if (msg.message == WM_QUIT) EndWith(state_ == FormState::Running ? 1 : 0);
        Deliver(Handle, msg);
    }
}

void TFHaupt::EndWith(int exitCode) {
    // From here on no click or close runs a handler: the run's end steps may
    // put the old installation back, and nothing may end the process with it
    // half restored.
    if (exitCode == 1) state_ = FormState::Ending;
    handlers_->BeforeEnd(exitCode);
    if (EndHook) EndHook(exitCode);
    ::ExitProcess(static_cast<UINT>(exitCode));
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

int RunProgram(HINSTANCE instance, UpdaterProgram& program) {
    static TFHaupt FHaupt(program.Design());
    static UpdateRun run(program, FHaupt);
    // An error before the window stands has no window to be reported in;
    // the installer must not go on then.
    try {
        FHaupt.CreateForm(instance, run);
    } catch (...) {
        return 1;
    }
    FHaupt.ShowForm();
    return FHaupt.RunMessageLoop();
}
