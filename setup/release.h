// Release of the libraries an earlier installation may have loaded into other programs: the
// File Manager add-on (at start-up) and the Explorer shell extension kxshlext.dll in the
// destination (from the destination dialog), switching the latter off if Explorer keeps it.
// Win32 only.
#pragma once

#include <windows.h>

// 1 as soon as path opens for exclusive read and write, 0 when budgetMs run out first (a
// missing file included; a budget of 0 never tries). Dispatches the thread's messages while
// it waits.
int WaitUntilExclusive(const char* path, DWORD budgetMs);
// Whether a wait that started at tick count start still has time at tick count now. Measured
// as elapsed ticks, so that a tick count wrapping round during the wait changes nothing.
bool WithinBudget(DWORD start, DWORD now, DWORD budgetMs);

// 1: go on with the setup; 0: File Manager kept its add-on (the user has been told).
int ReleaseFileManagerExtension();

// Deletes the key path under root with all its subkeys, deepest first. 0 on success, else the
// first error of an open or a delete; ERROR_FILENAME_EXCED_RANGE for a subkey whose path
// would not fit in kRegistryPathSize characters (nothing above it is deleted then).
constexpr int kRegistryPathSize = 512;
LONG DeleteRegistryTree(HKEY root, const char* path);
// Deletes the shell extension's keys under HKEY_CLASSES_ROOT; always 1.
int RemoveShellExtensionKeys();

// The destination dialog's end value: 1 go on; 0 end quietly (the shell extension has been
// switched off and the user told to restart Windows); 1006 not installed (the user declined).
int ReleaseShellExtension(HWND dialog);
