// Program entry and start-up.
#pragma once

#include "platform/win.h"

// Registers the window class, runs start-up and the upgrade. Returns the
// process exit status, which is always 0.
int ProgramEntry(HINSTANCE instance);
void InitializeProgram();
