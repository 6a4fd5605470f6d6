// Native start: the same WinMain as on Windows, with no command line.
#include "platform/win.h"

int main() {
    char noCommandLine[] = "";
    return WinMain(GetModuleHandleA(nullptr), nullptr, noCommandLine, SW_SHOWNORMAL);
}
