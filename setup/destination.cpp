// The destination dialog's procedure and its OK handling, the gate of the installation: each
// refused check shows its message and leaves the dialog open for another try.
#include "setup/destination.h"

#include "res/dialog.h"
#include "setup/companion.h"
#include "setup/lookup.h"
#include "setup/paths.h"
#include "setup/release.h"
#include "setup/state.h"
#include "ui/messages.h"
#include "ui/progress.h"

#include <direct.h>

#include <cstring>

namespace {

struct DestinationDialogState {
  HCURSOR hourglass = nullptr;
};
DestinationDialogState g_destination;

// Makes destPath the current folder, creating it (one level) when it does not exist yet.
bool EnterDestination() {
  if (_chdir(g_setup.destPath) == 0) return true;
  return _mkdir(g_setup.destPath) == 0 && _chdir(g_setup.destPath) == 0;
}

}  // namespace

BOOL OnDestinationOk(HWND dialog) {
  // One byte more than the field's limit: a longer text (set by the program, not typed) is
  // seen as too long instead of being cut into another folder.
  char text[kPathSize + 2];
  GetDlgItemTextA(dialog, IDC_FOLDER, text, sizeof text);
  if (!NormalizeDestination(text)) {
    ShowMessage(dialog, MSG_INVALID_DESTINATION, MB_ICONERROR);
    return FALSE;
  }

  lstrcpynA(g_setup.destPath, text, sizeof g_setup.destPath);
  lstrcpynA(g_setup.destDir, text, sizeof g_setup.destDir);
  AppendSeparator(g_setup.destDir);
  if (lstrcmpiA(g_setup.destDir, g_setup.sourceDir) == 0) {
    ShowMessage(dialog, MSG_SAME_FOLDER, MB_ICONERROR);
    return FALSE;
  }

  g_setup.totalKB = 0;
  if (ProcessCompanionFiles(dialog, kVerifyCompanions) == 0) return FALSE;

  char payload[kPathSize];
  if (!JoinPath(payload, sizeof payload, g_setup.sourceDir, "setup.kx") ||
      LookUpFile(payload) != 0) {
    platform::ShowMessageBox(nullptr, kPayloadMissingText, nullptr, MB_OK);
    return FALSE;
  }
  g_setup.totalKB = (g_setup.totalKB + FoundFileData.sizeLow) >> 10;

  if (!EnterDestination()) {
    ShowMessage(dialog, MSG_CANNOT_CREATE_FOLDER, MB_ICONINFORMATION, g_setup.destPath);
    return FALSE;
  }

  EnableWindow(GetDlgItem(dialog, IDC_FOLDER), FALSE);
  EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
  EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
  EndDialog(dialog, ReleaseShellExtension(dialog));
  return FALSE;
}

INT_PTR CALLBACK DestinationDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      g_destination.hourglass = LoadCursorA(nullptr, IDC_WAIT);
      SetWindowTextA(dialog, g_setup.title);
      CenterWindow(dialog);
      SetDlgItemTextA(dialog, IDC_FOLDER, g_setup.defaultDir);
      SendDlgItemMessageA(dialog, IDC_FOLDER, EM_LIMITTEXT, kMaxDestinationLength, 0);
      return TRUE;
    case WM_SETCURSOR:
      if (g_setup.busyCursor) SetCursor(g_destination.hourglass);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          return OnDestinationOk(dialog);
        case IDCANCEL:
          EndDialog(dialog, kDestinationNotInstalled);
          return TRUE;
        case IDC_FOLDER: {
          const LRESULT length = SendMessageA(reinterpret_cast<HWND>(lParam), EM_LINELENGTH, 0, 0);
          EnableWindow(GetDlgItem(dialog, IDOK), length != 0);
          return TRUE;
        }
        default:
          return TRUE;
      }
    default:
      return FALSE;
  }
}
