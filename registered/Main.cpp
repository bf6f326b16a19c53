#include <windows.h>
#include "RegisteredUpdater.h"
#include "Start.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    static RegisteredUpdater program;
    return RunProgram(instance, program);
}
