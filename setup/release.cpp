// Extension release: removes the File Manager add-on entry and asks File Manager to reload,
// asks Explorer to unload idle shell extensions, and waits (showing a growing row of stars)
// until each library opens exclusively. If Explorer keeps the shell extension, the user may
// switch it off: its registry keys go and the main program is told it is off.
#include "setup/release.h"

#include "platform/platform.h"
#include "platform/win32_handles.h"
#include "res/dialog.h"
#include "setup/lookup.h"
#include "setup/state.h"
#include "ui/messages.h"

namespace {

// What the setup does to File Manager, Explorer and the main program (their own conventions).
constexpr char kFileManagerProfile[] = "winfile.ini";
constexpr char kAddOnsSection[] = "AddOns";
constexpr char kAddOnKey[] = "Karvex";
constexpr char kFileManagerClass[] = "WFS_Frame";
constexpr UINT kReloadExtensions = WM_USER + 0x207;  // FM_RELOAD_EXTENSIONS, 1543
constexpr char kShellExtensionLibrary[] = "kxshlext.dll";
constexpr char kAlwaysUnloadKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AlwaysUnloadDLL";
constexpr char kMainProfile[] = "karvex32.ini";

// Wait budgets in milliseconds: at most 500 + 15 x 1000 + 1000 for the shell extension.
constexpr DWORD kAddOnBudget = 2000;
constexpr DWORD kFirstShellBudget = 500;
constexpr DWORD kShellStepBudget = 1000;
constexpr int kShellSteps = 15;

// The shell extension's registration under HKEY_CLASSES_ROOT, removed in this order.
constexpr const char* kShellExtensionKeys[] = {
    "CLSID\\{3f8b6c00-51a2-11cf-b7d4-0020af3e9c10}",
    "CLSID\\{3f8b6c01-51a2-11cf-b7d4-0020af3e9c10}",
    "CLSID\\{3f8b6c02-51a2-11cf-b7d4-0020af3e9c10}",
    "Karvex\\shellex\\DropHandler",
    "Directory\\shellex\\DragDropHandlers\\Karvex",
    "Drive\\shellex\\DragDropHandlers\\Karvex",
    "Folder\\shellex\\DragDropHandlers\\Karvex",
    "*\\shellex\\ContextMenuHandlers\\Karvex",
    "Folder\\shellex\\ContextMenuHandlers\\Karvex",
    "Directory\\shellex\\ContextMenuHandlers\\Karvex",
};

constexpr int kPromptSize = 255;
constexpr int kStarsSize = 256;

}  // namespace

bool WithinBudget(DWORD start, DWORD now, DWORD budgetMs) { return now - start < budgetMs; }

int WaitUntilExclusive(const char* path, DWORD budgetMs) {
  const DWORD start = GetTickCount();
  while (WithinBudget(start, GetTickCount(), budgetMs)) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    if (platform::ClassicFile(_lopen(path, OF_READWRITE | OF_SHARE_EXCLUSIVE))) return 1;
  }
  return 0;
}

int ReleaseFileManagerExtension() {
  char library[MAX_PATH];
  GetPrivateProfileStringA(kAddOnsSection, kAddOnKey, "", library, sizeof library,
                           kFileManagerProfile);
  if (library[0] == '\0') return 1;
  const HWND frame = FindWindowA(kFileManagerClass, nullptr);
  if (!frame) return 1;
  WritePrivateProfileStringA(kAddOnsSection, kAddOnKey, nullptr, kFileManagerProfile);
  PostMessageA(frame, kReloadExtensions, 0, 0);
  if (WaitUntilExclusive(library, kAddOnBudget)) return 1;
  platform::ShowMessageBox(nullptr, LoadMessageText(MSG_FILE_MANAGER_BUSY), g_setup.title,
                           MB_ICONERROR);
  return 0;
}

LONG DeleteRegistryTree(HKEY root, const char* path) {
  platform::RegistryKey key;
  LONG result = RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, key.Receive());
  if (result != ERROR_SUCCESS) return result;
  char name[kRegistryPathSize];
  char child[kRegistryPathSize];
  for (;;) {
    if (RegEnumKeyA(key.get(), 0, name, sizeof name) != ERROR_SUCCESS) {
      // The key itself is deleted while still open, as it always was.
      return RegDeleteKeyA(root, path);
    }
    // The child's path, the joining backslash and the terminator must fit.
    if (lstrlenA(path) + 1 + lstrlenA(name) >= kRegistryPathSize) return ERROR_FILENAME_EXCED_RANGE;
    wsprintfA(child, "%s\\%s", path, name);
    result = DeleteRegistryTree(root, child);
    if (result != ERROR_SUCCESS) return result;
  }
}

int RemoveShellExtensionKeys() {
  for (const char* key : kShellExtensionKeys) DeleteRegistryTree(HKEY_CLASSES_ROOT, key);
  return 1;
}

int ReleaseShellExtension(HWND dialog) {
  char library[sizeof g_setup.destDir + sizeof kShellExtensionLibrary];
  wsprintfA(library, "%s%s", g_setup.destDir, kShellExtensionLibrary);
  if (LookUpFile(library) != 0) return 1;
  if (WaitUntilExclusive(library, kFirstShellBudget)) return 1;

  RegSetValueA(HKEY_LOCAL_MACHINE, kAlwaysUnloadKey, REG_SZ, "1", 1);
  char prompt[kPromptSize];
  if (LoadStringA(static_cast<HINSTANCE>(g_setup.instance), MSG_SHELL_EXTENSION_WAIT, prompt,
                  kPromptSize) <= 0)
    prompt[0] = '\0';
  SetDlgItemTextA(dialog, IDC_PROMPT1, prompt);
  SetDlgItemTextA(dialog, IDC_PROMPT2, "");
  g_setup.busyCursor = 1;
  for (int step = 0; step < kShellSteps; ++step) {
    if (WaitUntilExclusive(library, kShellStepBudget)) break;
    char stars[kStarsSize + 1];  // at most 255 characters read, one star and the terminator
    GetDlgItemTextA(dialog, IDC_PROMPT2, stars, kStarsSize);
    lstrcatA(stars, "*");
    SetDlgItemTextA(dialog, IDC_PROMPT2, stars);
  }
  if (WaitUntilExclusive(library, kShellStepBudget)) {
    g_setup.busyCursor = 0;
    return 1;
  }
  if (platform::ShowMessageBox(dialog, LoadMessageText(MSG_SHELL_EXTENSION_BUSY), g_setup.title,
                               MB_ICONERROR | MB_YESNO) != IDYES)
    return MSG_NOT_INSTALLED;
  RemoveShellExtensionKeys();
  WritePrivateProfileStringA("fm", "shlExt", "0", kMainProfile);
  platform::ShowMessageBox(dialog, LoadMessageText(MSG_SHELL_EXTENSION_OFF), g_setup.title,
                           MB_ICONINFORMATION);
  return 0;
}
