// The registered-installation updater: updates the Velmora installation that
// the installer registered for all users. It archives nothing.
#pragma once
#include "UpdaterProgram.h"

// What tells one program of this kind from another: its window, its settings,
// and the installer key whose InstallLocation names the installation folder.
struct RegisteredInstallation {
    const FormDesign& Design;
    const ProgramSettings& Settings;
    const wchar_t* InstallPropertiesKey;  // below HKLM, read in the 64-bit view
};
// VLMUpdater11's (Design.cpp).
extern const RegisteredInstallation Velmora10Installation;

class RegisteredUpdater final : public UpdaterProgram {
public:
    explicit RegisteredUpdater(const RegisteredInstallation& installation = Velmora10Installation)
        : installation_(installation) {}

    const FormDesign& Design() const override { return installation_.Design; }
    const ProgramSettings& Settings() const override { return installation_.Settings; }

    void FormCreate(UpdateRun&) override {}  // takes nothing from its command line
    void FormShow(UpdateRun& run) override;  // Verarbeite.cpp
    void Verarbeite(UpdateRun& run) override;
    // CheckVLMExe.cpp: StepOk for version 10, else StepFailed after its box.
    int CheckVLMExe(UpdateRun& run) override;
    // PruefeVLMIni.cpp: StepOk, or StepFailed after its box.
    int PruefeVLMIni(UpdateRun& run) override;
    // It changes no file before its result record: nothing to put back.
    void BeforeEndWithOne(UpdateRun&) override {}
    void BeforeEndWithZero(UpdateRun&) override {}

private:
    // PruefeVLMIni.cpp: the common application-data folder; StepOk, or
    // StepFailed after its box.
    int GetCommAppData(UpdateRun& run);
    const RegisteredInstallation& installation_;
};
