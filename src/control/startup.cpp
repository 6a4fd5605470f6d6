// Entry and start-up: window class, networking, the PC's own addresses, the
// random seed, the common controls and the image store.
#include "src/control/startup.h"

#include "src/control/image_store.h"
#include "src/control/upgrade_sequence.h"
#include "src/shared/random.h"
#include "src/shared/texts.h"
#include "src/shared/trace.h"
#include "src/shared/upgrade_state.h"

#include <cstring>

namespace {

constexpr char kWindowClass[] = "QorUpgrade";
// 2.2: the waits use WSAEventSelect, a Winsock 2 call.
constexpr WORD kWinsockVersion = 0x0202;

LRESULT CALLBACK IdleWindowProc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

bool RegisterWindowClass(HINSTANCE instance) {
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = IdleWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassA(&windowClass) != 0;
}

void StartNetworking() {
    WSADATA data;
    if (WSAStartup(kWinsockVersion, &data) != 0) {
        FailUpgrade(text::kWinsockInit);
    }
}

// The PC's own IPv4 addresses in resolver order, at most eight; none when the
// host name does not resolve.
void FindLocalAddresses() {
    memset(upgradeState.localAddresses, 0, sizeof upgradeState.localAddresses);
    char hostName[128] = {};
    gethostname(hostName, sizeof hostName - 1);
    const hostent* host = gethostbyname(hostName);
    if (host != nullptr && host->h_addrtype == AF_INET) {
        for (int i = 0; i < kLocalAddressCount && host->h_addr_list[i] != nullptr; ++i) {
            uint32_t networkOrder;
            memcpy(&networkOrder, host->h_addr_list[i], sizeof networkOrder);
            upgradeState.localAddresses[i] = ntohl(networkOrder);
            Trace("Client IP = %x\n", unsigned(upgradeState.localAddresses[i]));
        }
    }
    upgradeState.localAddress = upgradeState.localAddresses[0];
}

void RegisterCommonControls() {
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_INTERNET_CLASSES;
    InitCommonControlsEx(&controls);
}

}  // namespace

void InitializeProgram() {
    StartNetworking();
    FindLocalAddresses();
    SeedRandom(timeGetTime());
    RegisterCommonControls();
    LoadFirmwareImages();
    IdentifyProduct();
}

int ProgramEntry(HINSTANCE instance) {
    if (!RegisterWindowClass(instance)) {
        return 0;
    }
    // Every 1 ms pause of the transfer would otherwise last a whole scheduler tick.
    timeBeginPeriod(1);
    upgradeState.instance = instance;
    InitializeProgram();
    return RunUpgrade();
}
