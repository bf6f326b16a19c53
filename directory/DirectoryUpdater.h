// The directory updater: updates the Velmora installation in the folder named
// on its command line, archiving the old program folder before emptying it.
#pragma once
#include <vector>
#include "UpdaterProgram.h"
#include "Restore.h"

class DirectoryUpdater : public UpdaterProgram {
public:
    const FormDesign& Design() const override;
    const ProgramSettings& Settings() const override;

    void FormCreate(TFHaupt& form) override;  // FormShow.cpp
    void FormShow(TFHaupt& form) override;
    void Verarbeite(TFHaupt& form) override;   // Verarbeite.cpp
    int CheckVLMExe(TFHaupt& form) override;   // CheckVLMExe.cpp
    int PruefeVLMIni(TFHaupt& form) override;  // PruefeVLMIni.cpp
    int GetCommAppData(TFHaupt& form) override;
    void BeforeEndWithOne(TFHaupt& form) override;  // EndRestore.cpp
    void BeforeEndWithZero(TFHaupt& form) override;

    // The archive step (Archive.cpp): packs TargetDir into vlmaltinst.zip
    // there and empties the rest of the folder.
    int SaveVLMInst(TFHaupt& form);

    // The folder that holds the Velmora10.EXE the version check found, by its
    // full path (FolderHolding), fixed at its first use: the only name the
    // archive step, the deletion and the restore give the program folder.
    const std::wstring& ProgramDir(const TFHaupt& form);

    // Set by the archive step right before it starts deleting in TargetDir: an
    // end with exit code 1 then first restores the folder from its archive.
    bool TargetEmptied = false;
    std::vector<FolderState> RemovedFolders;  // the folders below TargetDir before the deletion
    bool MarkWritten = false;                 // this run put the in-progress mark into TargetDir

    // At show time, before anything else (InProgress.cpp): an update that was
    // interrupted after the folder was emptied is undone, and what an
    // interrupted run left behind is removed.
    void RecoverAtStart(TFHaupt& form);

private:
    std::wstring programDir_;
    // Restores TargetDir from its archive, with a log line before and after.
    void RestoreBeforeEnd(TFHaupt& form);
    // The restore itself with its two log lines; true when it succeeded.
    bool RestoreWithLog(TFHaupt& form);
};
