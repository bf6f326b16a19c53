#include <windows.h>
#include "DirectoryUpdater.h"
#include "Start.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    static DirectoryUpdater program;
    return RunProgram(instance, program);
}
