// The main window TFHaupt: its controls, the log and the status line, the message
// loop and the dispatch of its events, and the steps both programs share. Its
// UpdaterProgram brings the design and each program's own steps.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <string>
#include "Raii.h"
#include "UpdateSession.h"
#include "UpdaterProgram.h"

// Placement of one control in design pixels (96 dpi).
struct ControlPlace {
    int Left, Top, Width, Height;
};

// What differs between the two programs' window designs.
struct FormDesign {
    const wchar_t* Caption;
    bool FixedDialogFrame;  // no system menu, no title-bar buttons
    int ClientWidth, ClientHeight;
    ControlPlace BtAbbruch, BtWeiter;
    bool StatusBelowLog;  // status bar is the lowest element
    bool LogFirstInTabOrder;
    bool CentreOnDesktop;  // work area rather than the whole screen
};

// The window's states. Which handler an event runs is decided in one place,
// TFHaupt::Decide, from the state and the event alone.
enum class FormState {
    Created,         // FormCreate has run; the window is not shown yet
    ShowTime,        // FormShow runs: checks, boxes, the start-time recovery
    Compact,         // FormShow is done; the window waits for the user
    Running,         // Verarbeite runs
    StoppedByError,  // an error ended a handler; the window stays open
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
    Ignore,
};

class TFHaupt : public UpdateSession {
public:
    static constexpr int LogHeight = 180;
    static constexpr int StatusHeight = 19;
    static constexpr int StatusPanelWidth = 380;

    explicit TFHaupt(UpdaterProgram& program) : Program(program), Design(program.Design()) {}
    ~TFHaupt();
    TFHaupt(const TFHaupt&) = delete;
    TFHaupt& operator=(const TFHaupt&) = delete;

    // Program start (Start.cpp)
    void CreateForm(HINSTANCE instance);  // window and controls, then FormCreate
    void ShowForm();                      // first showing, then FormShow
    int RunMessageLoop();                 // exit code 0 once the window is closed

    static Reaction Decide(FormState state, FormEvent event, bool closeOffered);
    FormState State() const { return state_; }

    // Handlers bound to the window's events; the program's own ones go to Program.
    void FormCreate() { Program.FormCreate(*this); }
    void FormShow() { Program.FormShow(*this); }
    void BtWeiterClick();
    void BtAbbruchClick();
    void Verarbeite() { Program.Verarbeite(*this); }

    // Main-window operations
    void AddLogLine(const std::wstring& text);
    void AddLogLinePaused(const std::wstring& text);
    void SetStatus(const std::wstring& text);
    void ProcessMessages();
    [[noreturn]] void EndWith(int exitCode);
    // Lets an in-process test see where a run ends: when set, EndWith calls it
    // (it must not return) instead of ending the process.
    static inline void (*EndHook)(int exitCode) = nullptr;
    void ErrorBox(const std::wstring& text);
    bool ConfirmBox(const std::wstring& text);
    void ShowDefaultErrorReport(const std::wstring& message);
    void ClearLog();
    void SetLogVisible(bool visible, int height);
    void SetClientHeight(int height);
    void SetOuterHeight(int height);
    void CentreWindow();  // for the window's present size, where the design places it
    int ClientHeight() const;
    // From now until the program ends no click or close runs a handler, and an
    // end with exit code 1 no longer calls BeforeEndWithOne.
    void BlockHandlersUntilEnd() { state_ = FormState::Ending; }
    // Paints the window and answers other programs' reads of it for ms
    // milliseconds, without dispatching any input.
    void ShowWithoutInput(DWORD ms);

    // Installation inspection: the program's own steps, then the shared ones
    int CheckVLMExe() { return Program.CheckVLMExe(*this); }
    int PruefeVLMIni() { return Program.PruefeVLMIni(*this); }
    int GetCommAppData() { return Program.GetCommAppData(*this); }
    int PruefeHauptIni();  // main ini, data folder, derived folders (DataPaths.cpp)

    // Safeguards and backups
    int PruefeAndereUpdates();  // refuses while another updater runs
    bool TryRunLock();          // the same lock without a box; false while another updater runs
    void ReleaseRunLock();
    int PruefeVLMUser();
    int BackupFormKatalog();
    int BackupFormHilfePfad();
    int BackupFaecherkanon();
    int BackupNKK();
    int CopyFolder(const std::wstring& source, const std::wstring& destination, bool includeSubfolders);
    int SchreibeIni(int result);
    // The four data backups with their log lines and status texts, as both runs
    // carry them out; ends the program with exit code 1 at the first failure.
    void RunBackups();

    UpdaterProgram& Program;
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
    void OnEvent(FormEvent event);
    void CreateControls(HINSTANCE instance);
    void LayoutControls();
    void OnCommand(int id, int code);
    POINT CentredOrigin(int width, int height) const;

    unique_himagelist abbruchImages_;
    unique_himagelist weiterImages_;
    unique_hgdiobj formFont_;
    unique_hgdiobj buttonFont_;
    unique_hgdiobj logFont_;
    int logHeight_ = LogHeight;
    FormState state_ = FormState::Created;
    bool weiterDeferred_ = false, closeDeferred_ = false;
    unique_handle runLock_;  // held from the first run until the program ends
};
