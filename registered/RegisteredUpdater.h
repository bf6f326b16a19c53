// The registered-installation updater: updates the Velmora installation that
// the installer registered for all users. It archives nothing.
#pragma once
#include "UpdaterProgram.h"

class RegisteredUpdater : public UpdaterProgram {
public:
    const FormDesign& Design() const override;
    const ProgramSettings& Settings() const override;

    void FormCreate(TFHaupt& form) override;  // FormShow.cpp
    void FormShow(TFHaupt& form) override;
    void Verarbeite(TFHaupt& form) override;   // Verarbeite.cpp
    int CheckVLMExe(TFHaupt& form) override;   // CheckVLMExe.cpp
    int PruefeVLMIni(TFHaupt& form) override;  // PruefeVLMIni.cpp
    int GetCommAppData(TFHaupt& form) override;
    // It changes no file before its result record: nothing to put back.
    void BeforeEndWithOne(TFHaupt&) override {}
    void BeforeEndWithZero(TFHaupt&) override {}
};
