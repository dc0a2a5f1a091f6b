// The destination dialog (IDD_DESTINATION): the user confirms or types the folder to install
// into; its OK handling checks the folder, the medium and the total size, creates the folder,
// makes it current and releases a loaded shell extension before the dialog ends.
#pragma once

#include <windows.h>

// Dialog results, as DialogBoxParamA returns them to the installation sequence.
constexpr INT_PTR kDestinationGoOn = 1;             // destination set, exists and is current
constexpr INT_PTR kDestinationQuietEnd = 0;         // shell extension switched off; restart told
constexpr INT_PTR kDestinationNotInstalled = 1006;  // cancelled, or the release was declined

// The text shown when the payload archive is not on the medium.
inline constexpr char kPayloadMissingText[] = "setup.kx is missing";

INT_PTR CALLBACK DestinationDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs every check of an OK press in order; on success ends the dialog itself. Always FALSE.
BOOL OnDestinationOk(HWND dialog);
