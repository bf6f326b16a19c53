#include <windows.h>
#include "Start.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return RunProgram(instance); }
