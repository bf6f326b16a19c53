// One update run: its state (UpdateSession), the program whose run it is, and
// the steps both programs share. It reaches the window only through RunWindow,
// so a step test can drive it against a recording window.
#pragma once
#include <string>
#include "Raii.h"
#include "RunWindow.h"
#include "UpdateSession.h"
#include "UpdaterProgram.h"

// The step results. Every step answers with an int, 0 for success; a step
// whose other values mean more than "failed" names them beside it (for
// instance DirectoryUpdater::ProgramFileFound, CopyFolderSourceMissing).
// A fault no step result foresees raises EFehler instead.
inline constexpr int StepOk = 0;
inline constexpr int StepFailed = 1;

// What the window runs on its events, and the end steps on the way out.
class FormHandlers {
public:
    virtual void FormCreate() = 0;
    virtual void FormShow() = 0;
    virtual void Verarbeite() = 0;
    // Called on the way to an end with exitCode, before the process ends.
    virtual void BeforeEnd(int exitCode) = 0;

protected:
    ~FormHandlers() = default;
};

class UpdateRun final : public FormHandlers {
public:
    UpdateRun(UpdaterProgram& program, RunWindow& window)
        : Program(program), Settings(program.Settings()), Window(window) {}
    UpdateRun(const UpdateRun&) = delete;
    UpdateRun& operator=(const UpdateRun&) = delete;

    void FormCreate() override { Program.FormCreate(*this); }
    void FormShow() override { Program.FormShow(*this); }
    void Verarbeite() override { Program.Verarbeite(*this); }
    // Exit code 1 makes the installer abort, so the program first puts back
    // what its run changed; that happens once, however often an end is asked
    // for meanwhile.
    void BeforeEnd(int exitCode) override;

    // Installation inspection (DataPaths.cpp): main ini, data folder, derived folders
    int PruefeHauptIni();

    // Safeguards (RunLock.cpp, UserCheck.cpp)
    int PruefeAndereUpdates();  // refuses while another updater runs
    bool TryRunLock();          // the same lock without a box; false while another updater runs
    void ReleaseRunLock();
    int PruefeVLMUser();

    // The data backups (Backups.cpp): each group's step, and the four groups
    // with their log lines and status texts as both runs carry them out; ends
    // the program with exit code 1 at the first failure.
    int BackupFormKatalog();
    int BackupFormHilfePfad();
    int BackupFaecherkanon();
    int BackupNKK();
    int CopyFolder(const std::wstring& source, const std::wstring& destination, bool includeSubfolders);
    void RunBackups();

    // The result record (ResultRecord.cpp). The result is written as given;
    // the runs write 0. Returns StepOk; a failed write raises EFehler. The
    // first call keeps the record as it was (its bytes, or that there was
    // none), so that an end with exit code 1 can put it back: the installer
    // then finds no record of a success it was told did not happen.
    int SchreibeIni(int result);
    // Puts back the record SchreibeIni replaced (the earlier bytes, time and
    // attributes, or no record), through the same checked writer; nothing when
    // it has not written. Never writes through a link at the record's name.
    // False when the earlier record could not be put back.
    bool PutBackRecord();

    UpdaterProgram& Program;
    const ProgramSettings& Settings;
    RunWindow& Window;
    UpdateSession Session;

private:
    unique_handle runLock_;  // held from the first run until the program ends
    bool endedWithOne_ = false;
};
