// The program's entry: the same WinMain on both platforms.
#include "src/control/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return ProgramEntry(instance);
}
