#pragma once
#include <windows.h>
#include "UpdaterProgram.h"

// Creates the one main window, shows it and runs the message loop; returns the
// exit code for a window that was closed.
int RunProgram(HINSTANCE instance, UpdaterProgram& program);
