// What each program brings to the shared run: its design, its settings and its
// own steps. Both DirectoryUpdater and RegisteredUpdater implement every step,
// so a missing one is a compile error rather than a link-time choice.
#pragma once

class UpdateRun;
struct FormDesign;

// The differences between the programs that are not steps of their own.
struct ProgramSettings {
    const wchar_t* RecordName;  // the update result record's file name
    // What PruefeHauptIni returns when the main ini or the data folder is
    // missing (each program has its own value; its run only tells it from
    // StepOk), and whether it adds a log line besides the error box.
    int DiscoveryFailResult;
    bool DiscoveryLogLines;
    // An ini folder with a sub-folder "001" means that sub-folder; the run
    // then also skips the user check.
    bool UsesSubdir001;
};

class UpdaterProgram {
public:
    virtual ~UpdaterProgram() = default;

    virtual const FormDesign& Design() const = 0;
    virtual const ProgramSettings& Settings() const = 0;

    // Handlers of the window's events.
    virtual void FormCreate(UpdateRun& run) = 0;
    virtual void FormShow(UpdateRun& run) = 0;
    virtual void Verarbeite(UpdateRun& run) = 0;

    // Installation discovery and the version check.
    virtual int CheckVLMExe(UpdateRun& run) = 0;
    virtual int PruefeVLMIni(UpdateRun& run) = 0;

    // Called once before the program ends with exit code 1, which makes the
    // installer abort: the old installation must work again afterwards.
    virtual void BeforeEndWithOne(UpdateRun& run) = 0;
    // Called as the last thing before the program ends with exit code 0.
    virtual void BeforeEndWithZero(UpdateRun& run) = 0;
};
