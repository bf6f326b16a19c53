#include "UpdateRun.h"

void UpdateRun::BeforeEnd(int exitCode) {
    if (exitCode != 1) {
        Program.BeforeEndWithZero(*this);
        return;
    }
    if (endedWithOne_) return;
    endedWithOne_ = true;
    // First, and cheap: a run killed during the folder's restore then leaves
    // the earlier record beside a folder the next start puts back.
    PutBackRecord();
    Program.BeforeEndWithOne(*this);
}
