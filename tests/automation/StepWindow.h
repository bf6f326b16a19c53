// The main window of a program, created the way the program creates it, with
// empty session fields: for in-process tests of the steps. The window goes with
// it without posting a quit message, so no later step takes it for a closed
// program.
#pragma once
#include <windows.h>
#include "Haupt.h"

namespace vlmtest {

template <typename Program>
struct StepWindow {
    Program P;
    TFHaupt F{P};
    StepWindow() { F.CreateForm(::GetModuleHandleW(nullptr)); }
};

}  // namespace vlmtest
