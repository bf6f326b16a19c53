#include "UpdateRun.h"

void UpdateRun::BeforeEnd(int exitCode) {
    if (exitCode != 1) {
        Program.BeforeEndWithZero(*this);
        return;
    }
    if (endedWithOne_) return;
    endedWithOne_ = true;
    Program.BeforeEndWithOne(*this);
}
