// Conventions shared by every dialog: centring, progress bars, message
// pumping, and the procedures of the warning, confirm, waiting and upload
// dialogs.
#pragma once

#include "platform/win.h"

void CenterWindow(HWND window);
// Centre position of one axis: (screen + near - far) >> 1, arithmetic shift.
int CenteredOrigin(int screenSize, int nearEdge, int farEdge);

void SetProgressRange(HWND dialog, int maximum);
void SetProgressPosition(HWND dialog, int position);
// Sets a bar's last position (`maximum` or past it) so that it is drawn full
// at once: with visual styles a bar glides up to a higher position but drops
// to a lower one straight away, so it goes to the end, one below, and back.
void ShowBarEnd(HWND dialog, int maximum, int position);
// The progress bar's width in pixels, or `range` (a pixel per unit) when it has none.
int ProgressWidth(HWND dialog, int range);

// Takes one pending message of `dialog` or its controls off the calling
// thread's queue, translates and dispatches it. False when none was waiting.
bool PumpOneMessage(HWND dialog);
// Same, until none is left.
void PumpPendingMessages(HWND dialog);
// Takes the dialog's messages as they come for `milliseconds`.
void KeepAnsweringFor(HWND dialog, DWORD milliseconds);

// Runs a modal dialog from its template with no owner and parameter 0,
// from the program's module unless another is given.
INT_PTR RunModalDialog(HINSTANCE instance, int templateId, DLGPROC procedure);
INT_PTR RunModalDialog(int templateId, DLGPROC procedure);
// Creates a modeless dialog with no owner and shows it normally.
HWND ShowModelessDialog(HINSTANCE instance, int templateId, DLGPROC procedure);
HWND ShowModelessDialog(int templateId, DLGPROC procedure);

// A modal dialog's commands: 1 ends it with 1, 2 with 0; anything else is
// not handled (FALSE).
INT_PTR EndOnOkOrCancel(HWND dialog, WPARAM wParam);
// The "<product> Firmware Upgrade" title of the warning and address dialogs.
void SetUpgradeTitle(HWND dialog);
// Cancel in a modeless dialog (connecting, waiting, upload) ends the upgrade
// with "user abort"; returns for every other message.
void EndUpgradeOnCancel(HWND dialog, UINT message, WPARAM wParam);

INT_PTR CALLBACK WarningDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ConfirmDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Waiting dialog 114 and upload dialog 110: Cancel ends the upgrade.
INT_PTR CALLBACK UploadDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The confirm dialog's text for the current stage into `out`.
void FormatConfirmText(char* out, size_t size);
