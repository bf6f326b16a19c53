// The main window TFHaupt: its controls, the fields that carry one run, and the
// steps of the run. Both programs use this class; the methods whose behaviour
// differs between them are defined once per program (the directory updater's in
// shell/ and inspection/, the registered-installation updater's in registered/).
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>
#include "Raii.h"
#include "Restore.h"

// Placement of one control in design pixels (96 dpi).
struct ControlPlace {
    int Left, Top, Width, Height;
};

// What differs between the two programs' window designs.
struct FormDesign {
    const wchar_t* Caption;
    bool FixedDialogFrame;      // no system menu, no title-bar buttons
    int ClientWidth, ClientHeight;
    ControlPlace BtAbbruch, BtWeiter;
    bool StatusBelowLog;        // status bar is the lowest element
    bool LogFirstInTabOrder;
    bool CentreOnDesktop;       // work area rather than the whole screen
    const wchar_t* RecordName;  // the update result record's file name
};

// Each program defines its own design.
extern const FormDesign HauptDesign;

class TFHaupt {
public:
    static constexpr int LogHeight = 180;
    static constexpr int StatusHeight = 19;
    static constexpr int StatusPanelWidth = 380;

    explicit TFHaupt(const FormDesign& design) : Design(design) {}
    ~TFHaupt();
    TFHaupt(const TFHaupt&) = delete;
    TFHaupt& operator=(const TFHaupt&) = delete;

    // Program start (shell/Start.cpp)
    void CreateForm(HINSTANCE instance);  // window and controls, then FormCreate
    void ShowForm();                      // first showing, then FormShow
    int RunMessageLoop();                 // exit code 0 once the window is closed

    // Handlers bound to the window's events; defined per program where they differ.
    void FormCreate();
    void FormShow();
    void BtWeiterClick();
    void BtAbbruchClick();
    void Verarbeite();

    // Main-window operations (shell/)
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

    // Installation inspection (inspection/, registered/)
    int CheckVLMExe();
    int PruefeVLMIni();
    int GetCommAppData();
    int PruefeHauptIni(int failResult, bool withLogLines);  // main ini, data folder, derived folders
    bool IsWow64();

    // Safeguards and backups (safeguards/)
    int PruefeAndereUpdates();  // refuses while another updater runs
    int PruefeVLMUser();
    int BackupFormKatalog();
    int BackupFormHilfePfad();
    int BackupFaecherkanon();
    int BackupNKK();
    int CopyFolder(const std::wstring& source, const std::wstring& destination, bool includeSubfolders);
    int SaveVLMInst();
    int SchreibeIni(int result);
    // The four data backups with their log lines and status texts, as both runs
    // carry them out; ends the program with exit code 1 at the first failure.
    void RunBackups();

    // UpdateSession: the state of one run. Paths are kept as UTF-16 throughout, so
    // a folder name outside the ANSI code page still names its folder.
    std::wstring TargetDir;
    std::wstring InstallDir;
    std::wstring CommonAppDataDir;
    std::wstring IniDir;
    std::wstring MainIniPath;
    std::wstring DataDir;
    std::wstring BaseDir;
    std::wstring FormsDir;
    std::wstring NkkDir;
    std::wstring InstalledVersion;
    int CompactClientHeight = 0;
    bool HasSubdir001 = false;
    // Set by the archive step right before it starts deleting in TargetDir: an
    // end with exit code 1 then first restores the folder from its archive.
    bool TargetEmptied = false;
    std::vector<FolderState> RemovedFolders;  // the folders below TargetDir before the deletion

    // Controls
    const FormDesign& Design;
    HWND Handle = nullptr;
    HWND BtAbbruch = nullptr;
    HWND BtWeiter = nullptr;
    HWND REd_Ergebnis = nullptr;
    HWND SBStatus = nullptr;
    unique_himagelist ILButton;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void Dispatch(void (TFHaupt::*handler)());
    void CreateControls(HINSTANCE instance);
    void LayoutControls();
    void OnCommand(int id, int code);
    void OnClose();
    POINT CentredOrigin(int width, int height) const;
    // Restores TargetDir from its archive before an end with exit code 1, with
    // a log line before and after (shell/EndRestore.cpp).
    void RestoreBeforeEnd();
    // Paints the window and answers other programs' reads of it for ms
    // milliseconds, without dispatching any input.
    void ShowWithoutInput(DWORD ms);

    unique_himagelist abbruchImages_;
    unique_himagelist weiterImages_;
    unique_hgdiobj formFont_;
    unique_hgdiobj buttonFont_;
    unique_hgdiobj logFont_;
    int logHeight_ = LogHeight;
    bool running_ = false;
    unique_handle runLock_;  // held from the first run until the program ends
    bool restoring_ = false;  // from the start of the restore to the end: no handler runs
};
