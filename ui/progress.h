// The progress window (dialog IDD_PROGRESS): the action line, the name of the file being
// written, the Meter and the Cancel button, the only place where the user can cancel. The
// extraction engine reports to it with PWM_ENTRYNAME and PWM_ADVANCE (extract/extract.h).
// Also CenterWindow, shared with the destination dialog. Win32 only.
#pragma once

#include <windows.h>

// Dialog procedure of IDD_PROGRESS, created modeless and hidden; showing it resets it.
// PWM_ADVANCE is answered, through the dialog's message result, with the cancel flag.
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Moves a top-level window to the middle of the screen.
void CenterWindow(HWND window);
