// What the steps of a run see of the window: the result log, the status line,
// the boxes, letting messages through, the two layouts of the lifecycle, and
// the end. The main window implements it; a step test may record it instead.
#pragma once
#include <windows.h>
#include <string>

class RunWindow {
public:
    virtual void AddLogLine(const std::wstring& text) = 0;
    virtual void SetStatus(const std::wstring& text) = 0;
    virtual void ErrorBox(const std::wstring& text) = 0;
    // True for "&Ja".
    virtual bool ConfirmBox(const std::wstring& text) = 0;
    // Paints and dispatches what is queued, clicks included.
    virtual void ProcessMessages() = 0;
    // Paints the window and answers other programs' reads of it for ms
    // milliseconds, without dispatching any input.
    virtual void ShowWithoutInput(DWORD ms) = 0;
    // The compact state at the end of FormShow: buttons and status line,
    // in the foreground.
    virtual void ShowCompact() = 0;
    // The run's layout: the result log below the buttons.
    virtual void ShowLog() = 0;
    // Ends the program with the exit code, after the run's end steps.
    [[noreturn]] virtual void EndWith(int exitCode) = 0;

    // The line and the status line get painted and queued clicks are
    // dispatched; then the thread pauses, handling nothing.
    void AddLogLinePaused(const std::wstring& text) {
        AddLogLine(text);
        ProcessMessages();
        ::Sleep(500);
    }

protected:
    ~RunWindow() = default;
};
