#include <windows.h>
#include "../../shell/Start.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return RunProgram(instance); }
