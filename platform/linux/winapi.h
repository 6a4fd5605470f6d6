// Linux stand-in for the subset of user32, comctl32, kernel32, winmm and
// Winsock that the program calls. Names, types and values follow the
// Windows API so that the program's sources build unchanged on both sides.
// Sockets are the BSD ones under their Winsock names; windows and dialogs
// belong to a headless dialog manager (see headless.h for its test driver).
//
// The rule: a name lives here only because a file under src/ calls it. What
// the program stops calling goes, with its tests. The few exceptions, and why
// they stay (tests/layout/check_layer_api.py holds the same list):
// - GetMessageA and IsDialogMessageA: DialogBoxParamA's modal loop is built
//   from them, as Windows' own is.
// - GetModuleHandleA: the native entry (main/linux_main.cpp) passes the
//   module handle to WinMain, as the Windows loader does.
// - GetFocus, IsWindow and PostMessageA: the layer's tests check with them
//   what the program relies on (focus per thread behind SetFocus, windows
//   gone after DestroyWindow and EndDialog, PeekMessageA's order and filters
//   on a queue they fill); the test driver (headless.h) reads a dialog, not
//   a thread, and cannot say this.
// Socket errors are not reported through a WSAGetLastError: the program only
// tells success from failure.
#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>

// ---- Basic types -----------------------------------------------------------

#define WINAPI
#define CALLBACK
#define APIENTRY

using BOOL = int;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = unsigned int;
using LONG = int32_t;
using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using HANDLE = void*;

struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
struct HRSRC__;
using HRSRC = HRSRC__*;
using HGLOBAL = void*;
using HICON = void*;
using HCURSOR = void*;
using HBRUSH = void*;
using ATOM = WORD;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define LOWORD(l) ((WORD)(((uintptr_t)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((uintptr_t)(l)) >> 16) & 0xffff))
#define MAKELONG(a, b) ((LONG)(((WORD)(a)) | (((DWORD)((WORD)(b))) << 16)))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKEINTRESOURCEA(i) ((LPSTR)((uintptr_t)((WORD)(i))))
#define IS_INTRESOURCE(p) ((((uintptr_t)(p)) >> 16) == 0)

struct POINT {
    LONG x;
    LONG y;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);

struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
};

struct INITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
};

// ---- Messages and constants ------------------------------------------------

#define WM_NULL 0x0000
#define WM_DESTROY 0x0002
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_CLOSE 0x0010
#define WM_KEYDOWN 0x0100
#define WM_CHAR 0x0102
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_USER 0x0400

#define SC_CLOSE 0xF060

#define BM_CLICK 0x00F5
#define BN_CLICKED 0

#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B

#define IDOK 1
#define IDCANCEL 2

#define MB_OK 0x00000000
#define MB_TASKMODAL 0x00002000

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1

#define HWND_TOP ((HWND)0)
#define SWP_NOSIZE 0x0001
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010

#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
#define PBM_GETRANGE (WM_USER + 7)
#define PBM_GETPOS (WM_USER + 8)

struct PBRANGE {
    int iLow;
    int iHigh;
};

#define CB_ERR (-1)
#define CB_GETCOUNT 0x0146
#define CB_ADDSTRING 0x0143
#define CB_GETCURSEL 0x0147
#define CB_GETLBTEXT 0x0148
#define CB_SETCURSEL 0x014E
#define CBN_SELCHANGE 1
#define EN_CHANGE 0x0300

#define IPM_CLEARADDRESS (WM_USER + 100)
#define IPM_SETADDRESS (WM_USER + 101)
#define IPM_GETADDRESS (WM_USER + 102)

#define ICC_PROGRESS_CLASS 0x00000020
#define ICC_INTERNET_CLASSES 0x00000800

// Window and control styles, as the compiled templates carry them.
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_DLGFRAME 0x00400000L
#define WS_VSCROLL 0x00200000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define DS_MODALFRAME 0x80L
#define DS_SETFONT 0x40L
#define BS_PUSHBUTTON 0x0L
#define BS_DEFPUSHBUTTON 0x1L
#define BS_TYPEMASK 0xFL
#define ES_CENTER 0x1L
#define ES_MULTILINE 0x4L
#define ES_PASSWORD 0x20L
#define ES_AUTOHSCROLL 0x80L
#define ES_READONLY 0x800L
#define SS_LEFT 0x0L
#define SS_CENTER 0x1L
#define SS_RIGHT 0x2L
#define SS_ICON 0x3L
#define CBS_DROPDOWNLIST 0x3L

#define STILL_ACTIVE 259
#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0
#define WAIT_TIMEOUT 258
#define WAIT_FAILED 0xFFFFFFFF

#define RT_ICON MAKEINTRESOURCEA(3)
#define RT_DIALOG MAKEINTRESOURCEA(5)
#define RT_GROUP_ICON MAKEINTRESOURCEA(14)

// The program's entry, called by the native main as Windows calls it.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

// ---- kernel32 and winmm ----------------------------------------------------

HMODULE GetModuleHandleA(LPCSTR name);
void Sleep(DWORD milliseconds);
HANDLE CreateThread(void* attributes, size_t stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                    DWORD* threadId);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
BOOL CloseHandle(HANDLE handle);
[[noreturn]] void ExitProcess(UINT exitCode);
void OutputDebugStringA(LPCSTR text);

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
DWORD SizeofResource(HMODULE module, HRSRC resource);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);

DWORD timeGetTime();
UINT timeBeginPeriod(UINT period);

union LARGE_INTEGER {
    int64_t QuadPart;
};
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);

// A wait on thread handles and socket events that also ends when a message
// arrives in the calling thread's queue (any wake mask counts as QS_ALLINPUT,
// whose value is the headers' for Windows 7, without Windows 8's touch and
// pointer input).
#define QS_ALLINPUT 0x04FF
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds, DWORD wakeMask);
// The same wait on one handle, without the messages.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// ---- user32 and comctl32 ---------------------------------------------------

ATOM RegisterClassA(const WNDCLASSA* windowClass);
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls);

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC procedure, LPARAM parameter);
HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC procedure, LPARAM parameter);
BOOL EndDialog(HWND dialog, INT_PTR result);
BOOL DestroyWindow(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL IsWindow(HWND window);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

BOOL SetWindowTextA(HWND window, LPCSTR text);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int maxCount);
HWND GetDlgItem(HWND dialog, int id);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HWND SetFocus(HWND window);
HWND GetFocus();

BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT remove);
BOOL GetMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
BOOL IsDialogMessageA(HWND dialog, MSG* msg);

BOOL GetWindowRect(HWND window, RECT* rect);
int GetSystemMetrics(int index);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);

// ---- Winsock 1.1 over BSD sockets ------------------------------------------

using SOCKET = int;
using SockLen = socklen_t;
#define INVALID_SOCKET (-1)
#define SOCKET_ERROR (-1)

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};

int WSAStartup(WORD version, WSADATA* data);
int closesocket(SOCKET socket);
// Winsock's, beside BSD's of the same name: a datagram longer than the buffer
// fails the receive and is dropped.
int recvfrom(SOCKET socket, char* buffer, int length, int flags, sockaddr* from, SockLen* fromLength);
int ioctlsocket(SOCKET socket, long command, unsigned long* argument);

// Socket events (Winsock 2): an event of kernel32 serves here only as a
// socket's event, and stands signalled while its socket has a datagram to
// read (so an auto-reset one needs no reset); only FD_READ is known.
using WSAEVENT = HANDLE;
#define FD_READ 0x01
HANDLE CreateEventA(void* attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL WSACloseEvent(WSAEVENT event);
int WSAEventSelect(SOCKET socket, WSAEVENT event, long networkEvents);
