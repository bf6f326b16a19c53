// The directory updater: updates the Velmora installation in the folder named
// on its command line, archiving the old program folder before emptying it.
#pragma once
#include <string>
#include <vector>
#include "Folder.h"
#include "Restore.h"
#include "UpdaterProgram.h"

class DirectoryUpdater final : public UpdaterProgram {
public:
    const FormDesign& Design() const override;  // Design.cpp
    const ProgramSettings& Settings() const override;

    void FormCreate(UpdateRun& run) override;  // FormShow.cpp
    void FormShow(UpdateRun& run) override;
    void Verarbeite(UpdateRun& run) override;  // Verarbeite.cpp
    // CheckVLMExe.cpp: NoProgramFile when TargetDir holds no Velmora10.EXE
    // (nothing to update), else ProgramFileFound with InstalledVersion set and,
    // for any major version but 9, the refusal shown.
    static constexpr int NoProgramFile = 0, ProgramFileFound = 1;
    int CheckVLMExe(UpdateRun& run) override;
    // PruefeVLMIni.cpp: StepOk, or IniFolderUnknown after its box and log line
    // (PruefeHauptIni's failures give the same value, by this program's settings).
    static constexpr int IniFolderUnknown = 2;
    int PruefeVLMIni(UpdateRun& run) override;
    void BeforeEndWithOne(UpdateRun& run) override;  // EndRestore.cpp
    void BeforeEndWithZero(UpdateRun& run) override;

    // The archive step (Archive.cpp): packs the program folder into
    // vlmaltinst.zip there and empties the rest of it. StepOk or StepFailed.
    int SaveVLMInst(UpdateRun& run);

    // The folder that holds the Velmora10.EXE the version check found, by its
    // full path (FolderHolding), fixed at its first use: the only name the
    // archive step, the deletion and the restore give the program folder.
    const std::wstring& ProgramDir(const UpdateRun& run);
    // That folder opened once, at its first use, and held until the program
    // ends (Folder: no link itself, nobody renames or replaces it meanwhile).
    // The archive step, the mark, the restore, the leftover removal and the
    // recovery work through this handle only. Empty when the folder cannot be
    // opened or is none the archive step would take.
    const Folder& Program(const UpdateRun& run);

    // Set by the archive step right before it starts deleting in TargetDir: an
    // end with exit code 1 then first restores the folder from its archive.
    bool TargetEmptied = false;
    std::vector<FolderState> RemovedFolders;  // the folders below TargetDir before the deletion
    bool MarkWritten = false;                 // this run put the in-progress mark into TargetDir

    // At show time, before anything else (InProgress.cpp): an update that was
    // interrupted after the folder was emptied is undone, and what an
    // interrupted run left behind is removed.
    void RecoverAtStart(UpdateRun& run);

private:
    // PruefeVLMIni.cpp: the common application-data folder; StepOk, or
    // StepFailed after its box and log line.
    int GetCommAppData(UpdateRun& run);
    std::wstring programDir_;
    Folder program_;
    bool programOpened_ = false;
    // Restores TargetDir from its archive, with a log line before and after.
    void RestoreBeforeEnd(UpdateRun& run);
    // The restore itself with its two log lines; true when it succeeded.
    bool RestoreWithLog(UpdateRun& run);
};
