// The main window TFHaupt: its controls, the boxes, the log and the status line,
// the message loop, the states of its lifecycle and the one dispatch point of
// its events. The run behind it (FormHandlers) brings the handlers and steps;
// they reach the window as a RunWindow.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <string>
#include "Raii.h"
#include "RunWindow.h"
#include "UpdateRun.h"

// Placement of one control in design pixels (96 dpi).
struct ControlPlace {
    int Left, Top, Width, Height;
};

// What differs between the two programs' window designs.
struct FormDesign {
    const wchar_t* Caption;
    // The kind of window; unless a program says otherwise, a plain one.
    bool FixedDialogFrame = false;  // no system menu, no title-bar buttons
    bool StatusBelowLog = false;    // status bar is the lowest element
    bool LogFirstInTabOrder = false;
    bool CentreOnDesktop = false;  // work area rather than the whole screen
    // Where things are.
    int ClientWidth, ClientHeight;
    ControlPlace BtAbbruch, BtWeiter;
    // The compact state at the end of FormShow and the run's layout, as outer
    // window heights; 0 lets the client area decide: compact, it just holds
    // the buttons and the status line, and the run adds the log to that.
    int CompactOuterHeight = 0, RunOuterHeight = 0;
    bool CentreWhenCompact = false;
};

// The window's states. Which handler an event runs is decided in one place,
// TFHaupt::Decide, from the state and the event alone. A handler that works
// (FormCreate, FormShow, Verarbeite) is InStep between its points, the places
// where it lets messages be handled (ProcessMessages and the boxes); at a
// point the window is in the handler's own state (Created, ShowTime, Running).
enum class FormState {
    Created,         // FormCreate has run; the window is not shown yet
    ShowTime,        // FormShow runs: checks, boxes, the start-time recovery
    Compact,         // FormShow is done; the window waits for the user
    Running,         // Verarbeite runs
    StoppedByError,  // an error ended a handler; the window stays open
    InStep,          // a step works; the window answers other programs, but no command counts yet
    Ending,          // the restore before an end with exit code 1; nothing counts
};
enum class FormEvent {
    Weiter,   // the button or Enter
    Abbruch,  // the button or Esc
    Close,    // close button, system menu, Alt+F4, or posted by another program
};
enum class Reaction {
    Run,          // Verarbeite
    EndWithOne,   // end with exit code 1
    CloseWindow,  // the message loop ends: exit code 0
    Defer,        // kept until FormShow is done, then decided again
    Requeue,      // put back in the queue: decided again at the handler's next point
    Ignore,
};

class TFHaupt final : public RunWindow {
public:
    static constexpr int LogHeight = 180;
    static constexpr int StatusHeight = 19;
    static constexpr int StatusPanelWidth = 380;

    explicit TFHaupt(const FormDesign& design) : Design(design) {}
    ~TFHaupt();
    TFHaupt(const TFHaupt&) = delete;
    TFHaupt& operator=(const TFHaupt&) = delete;

    // Program start (Start.cpp)
    void CreateForm(HINSTANCE instance, FormHandlers& handlers);  // window and controls, then FormCreate
    void ShowForm();                                              // first showing, then FormShow
    int RunMessageLoop();                                         // exit code 0 once the window is closed

    static Reaction Decide(FormState state, FormEvent event, bool closeOffered);
    FormState State() const { return state_; }

    // What the run sees (RunWindow)
    void AddLogLine(const std::wstring& text) override;
    void SetStatus(const std::wstring& text) override;
    void ErrorBox(const std::wstring& text) override;
    bool ConfirmBox(const std::wstring& text) override;
    void ProcessMessages() override;
    void ShowWithoutInput(DWORD ms) override;
    void ShowCompact() override;
    void ShowLog() override;
    [[noreturn]] void EndWith(int exitCode) override;

    // Lets an in-process test see where a run ends: when set, EndWith calls it
    // (it must not return) instead of ending the process.
    static inline void (*EndHook)(int exitCode) = nullptr;
    // The report of an error no step result foresaw.
    void ShowDefaultErrorReport(const std::wstring& message);
    // The client height of the compact state, once it stands.
    int CompactClientHeight() const { return compactClientHeight_; }

    const FormDesign& Design;

    // Controls
    HWND Handle = nullptr;
    HWND BtAbbruch = nullptr;
    HWND BtWeiter = nullptr;
    HWND REd_Ergebnis = nullptr;
    HWND SBStatus = nullptr;
    unique_himagelist ILButton;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    bool Dispatch(void (TFHaupt::*handler)());  // false when the handler raised an error
    // Runs handler as one that works in state at its points; the window is
    // in state again when it returns.
    bool DispatchWorking(FormState state, void (TFHaupt::*handler)());
    void OnEvent(FormEvent event);
    void PostEvent(FormEvent event);  // to the window's own queue, as a click or close would come

    // One of the working handler's points: for its lifetime the window is in
    // the handler's own state, and commands take effect.
    class AtPoint {
    public:
        explicit AtPoint(TFHaupt& form);
        ~AtPoint();
        AtPoint(const AtPoint&) = delete;
        AtPoint& operator=(const AtPoint&) = delete;

    private:
        TFHaupt& form_;
        bool entered_ = false;
    };
    // The handlers bound to the window's events.
    void FormCreate() { handlers_->FormCreate(); }
    void FormShow() { handlers_->FormShow(); }
    void BtWeiterClick();
    void BtAbbruchClick();
    void CreateControls(HINSTANCE instance);
    void LayoutControls();
    void OnCommand(int id, int code);
    void ClearLog();
    void SetLogVisible(bool visible, int height);
    void SetClientHeight(int height);
    void SetOuterHeight(int height);
    void CentreWindow();  // for the window's present size, where the design places it
    int ClientHeight() const;
    POINT CentredOrigin(int width, int height) const;

    FormHandlers* handlers_ = nullptr;
    unique_himagelist abbruchImages_;
    unique_himagelist weiterImages_;
    unique_hgdiobj formFont_;
    unique_hgdiobj buttonFont_;
    unique_hgdiobj logFont_;
    int logHeight_ = LogHeight;
    int compactClientHeight_ = 0;
    FormState state_ = FormState::Created;
    FormState workingState_ = FormState::Created;  // the working handler's state at its points
    bool weiterDeferred_ = false, closeDeferred_ = false;
};
