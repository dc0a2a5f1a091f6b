// The progress window's dialog procedure: titled and centred when created, reset each time it
// is shown, the cancel question on Cancel (or IDOK, or closing from the system menu), and the
// engine's two progress messages.
#include "ui/progress.h"

#include "extract/extract.h"
#include "res/dialog.h"
#include "setup/state.h"
#include "ui/messages.h"
#include "ui/meter.h"

void CenterWindow(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  const int x = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowTextA(dialog, g_setup.title);
      CenterWindow(dialog);
      return TRUE;
    case WM_SHOWWINDOW:
      if (wParam) {
        EnableWindow(GetDlgItem(dialog, IDCANCEL), TRUE);
        SetDlgItemTextA(dialog, IDC_ACTION, "");
        SetDlgItemTextA(dialog, IDC_FILENAME, "");
        SendDlgItemMessageA(dialog, IDC_METER, MM_SETPOS, 0, 0);
        SendDlgItemMessageA(dialog, IDC_METER, MM_SETRANGE, 0, 0);
      }
      return FALSE;
    case WM_COMMAND:
      // The whole wParam: a notification code in the high word makes it another command.
      if (wParam == IDOK || wParam == IDCANCEL) {
        if (ShowMessage(dialog, MSG_CONFIRM_CANCEL, MB_ICONQUESTION | MB_YESNO) == IDYES) {
          EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
          g_setup.cancelRequested = 1;
        }
      }
      return TRUE;
    case PWM_ENTRYNAME:
      SetDlgItemTextA(dialog, IDC_FILENAME, reinterpret_cast<const char*>(lParam));
      return TRUE;
    case PWM_ADVANCE: {
      HWND meter = GetDlgItem(dialog, IDC_METER);
      SendMessageA(meter, MM_SETPOS, wParam + g_setup.CompanionBytes / PROGRESS_UNIT, 0);
      UpdateWindow(meter);
      SetWindowLongPtrA(dialog, DWLP_MSGRESULT, g_setup.cancelRequested);
      return TRUE;
    }
    default:
      return FALSE;
  }
}
