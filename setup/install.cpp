// The installation sequence: start-up checks, File Manager release, own folder and time stamp,
// default destination, destination dialog, progress window, companion copy, payload
// extraction, renaming of the staged main program and its launch. Every end returns 0.
#include "setup/install.h"

#include "extract/extract.h"
#include "platform/win32_handles.h"
#include "res/companions.h"
#include "res/dialog.h"
#include "setup/companion.h"
#include "setup/destination.h"
#include "setup/lookup.h"
#include "setup/paths.h"
#include "setup/release.h"
#include "setup/state.h"
#include "ui/messages.h"
#include "ui/meter.h"
#include "ui/progress.h"

#include <direct.h>

#include <cstring>

namespace {

// Fixed names of the run.
constexpr char kProgramFilesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr char kProgramFilesValue[] = "ProgramFilesDir";
constexpr DWORD kProgramFilesLimit = 200;  // bytes of the value read
constexpr char kDefaultSubfolder[] = "\\Karvex";
constexpr int kAssociationSize = 300;
constexpr int kSetupTextLimit = 29;  // title and action text, terminator included

constexpr UINT kNotInstalledFlags = MB_TASKMODAL | MB_ICONINFORMATION;  // 0x2040

// Room for any joined path or command built from destDir: the folder, a file name, quotes,
// the switch and its letter.
constexpr size_t kCommandSize = sizeof g_setup.destDir + 32;

void ShowNotInstalled(UINT flags) { ShowMessage(nullptr, MSG_NOT_INSTALLED, flags); }

}  // namespace

void LoadSetupTexts(HINSTANCE instance) {
  g_setup.instance = instance;
  LoadStringA(instance, MSG_TITLE, g_setup.title, kSetupTextLimit);
  LoadStringA(instance, MSG_ACTION_INSTALLING, g_setup.actionText, kSetupTextLimit);
}

bool AnotherSetupRunning() {
  // Two setups on one destination would delete and move each other's files (the main program
  // among them), so only the first one runs. The mutex is the system's and goes with the
  // process, however it ends.
  const HANDLE mutex = CreateMutexA(nullptr, FALSE, kSetupMutexName);
  if (!mutex || GetLastError() != ERROR_ALREADY_EXISTS) return false;
  CloseHandle(mutex);
  ShowMessage(nullptr, MSG_SETUP_RUNNING, MB_ICONERROR);
  return true;
}

bool MainProgramRunning() {
  if (!FindWindowA("Karvex2WClass", nullptr) && !FindWindowA("KarvexWClass", nullptr)) return false;
  ShowMessage(nullptr, MSG_ALREADY_RUNNING, MB_ICONERROR);
  return true;
}

bool LocateSource() {
  // A path that fills the buffer has been cut: its folder would be another one.
  const DWORD length = GetModuleFileNameA(static_cast<HINSTANCE>(g_setup.instance),
                                          g_setup.sourceDir, sizeof g_setup.sourceDir);
  if (length == 0 || length >= sizeof g_setup.sourceDir) {
    g_setup.sourceDir[0] = '\0';
    ShowMessage(nullptr, MSG_MISSING_FILE, MB_ICONERROR, kSetupProgramName);
    return false;
  }
  if (LookUpFile(g_setup.sourceDir) == 0) g_setup.setupTime = FoundFileData.lastWrite;
  char* separator = std::strrchr(g_setup.sourceDir, '\\');
  if (separator) separator[1] = '\0';
  return true;
}

int ReadProgramFilesDir(char* output, size_t capacity) {
  // One byte beyond what is read, for the terminator a value may have been stored without.
  char value[kProgramFilesLimit + 1];
  DWORD size = kProgramFilesLimit;
  LONG status;
  {
    platform::RegistryKey key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kProgramFilesKey, key.Receive()) != ERROR_SUCCESS) return 0;
    status = RegQueryValueExA(key.get(), kProgramFilesValue, nullptr, nullptr,
                              reinterpret_cast<BYTE*>(value), &size);
  }
  if (status != ERROR_SUCCESS || size > kProgramFilesLimit) return 0;
  value[size] = '\0';
  const size_t length = std::strlen(value);
  if (length == 0 || length >= capacity) return 0;
  std::memcpy(output, value, length + 1);
  return 1;
}

void ProposeDefaultDir() {
  char* dir = g_setup.defaultDir;
  lstrcpyA(dir, "C:\\Karvex");
  if (ReadProgramFilesDir(dir, sizeof g_setup.defaultDir - (sizeof kDefaultSubfolder - 1)))
    lstrcatA(dir, kDefaultSubfolder);

  char association[kAssociationSize];
  GetProfileStringA("extensions", "zip", "", association, sizeof association);
  if (association[0] == '\0') return;
  // A folder the destination field could not hold is not proposed.
  char folder[kPathSize];
  if (!ZipAssociationFolder(association, folder, sizeof folder)) return;
  lstrcpyA(dir, folder);
  ExpandLongPathInPlace(dir, kPathSize);
}

bool ChooseDestination() {
  const INT_PTR result =
      DialogBoxParamA(static_cast<HINSTANCE>(g_setup.instance), MAKEINTRESOURCEA(IDD_DESTINATION),
                      nullptr, DestinationDlgProc, 0);
  if (result == kDestinationGoOn) return true;
  // Anything else but a quiet end, a dialog that could not be shown (-1) included, leaves
  // nothing installed.
  if (result != kDestinationQuietEnd) ShowNotInstalled(kNotInstalledFlags);
  return false;
}

bool OpenProgressWindow() {
  const HWND window =
      CreateDialogParamA(static_cast<HINSTANCE>(g_setup.instance), MAKEINTRESOURCEA(IDD_PROGRESS),
                         nullptr, ProgressDialogProc, 0);
  g_setup.progressWindow = window;
  if (!window) {
    ShowNotInstalled(kNotInstalledFlags);
    return false;
  }
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  // Showing the window resets its meter; the range is set only afterwards.
  SendDlgItemMessageA(window, IDC_METER, MM_SETPOS, 0, 0);
  SendDlgItemMessageA(window, IDC_METER, MM_SETRANGE, g_setup.totalKB / 10, 0);
  return true;
}

int ExtractPayload() {
  char archive[kPathSize];
  if (!JoinPath(archive, sizeof archive, g_setup.sourceDir, kPayloadName)) {
    platform::ShowMessageBox(nullptr, kPayloadMissingText, nullptr, MB_OK);
    return 0;
  }
  const HWND window = static_cast<HWND>(g_setup.progressWindow);
  ExtractJob job{};
  job.reportCrcErrors = 1;  // a damaged payload must not install as a success
  job.archivePath = archive;
  job.outputFolder = g_setup.destPath;
  job.notifyWindow = window;
  job.callerFlag = 1;
  job.meterWindow = window ? GetDlgItem(window, IDC_METER) : nullptr;
  return ExtractArchive(&job) != 0 && job.result == EXTRACT_OK ? 1 : 0;
}

bool CopyAndExtract() {
  return ProcessCompanionFiles(static_cast<HWND>(g_setup.progressWindow), kCopyCompanions) == 1 &&
         ExtractPayload() == 1;
}

int FinalizeMainProgram(const char* folder, const char* name) {
  char finalPath[kCommandSize];
  lstrcpynA(finalPath, folder, sizeof finalPath);
  const size_t folderLength = std::strlen(finalPath);
  lstrcpynA(finalPath + folderLength, name, static_cast<int>(sizeof finalPath - folderLength));
  const size_t length = std::strlen(finalPath);
  // A final path beyond MAX_PATH cannot be written: refused like a failed move, whole.
  if (length >= kPathSize || length == 0) {
    ShowMessage(g_setup.progressWindow, MSG_CANNOT_OPEN_FOR_WRITING, MB_ICONERROR, finalPath);
    return 0;
  }
  char stagedPath[kPathSize];
  std::memcpy(stagedPath, finalPath, length + 1);
  stagedPath[length - 1] = '_';

  DeleteFileA(finalPath);
  if (!MoveFileA(stagedPath, finalPath)) {
    ShowMessage(g_setup.progressWindow, MSG_CANNOT_OPEN_FOR_WRITING, MB_ICONERROR, finalPath);
    DeleteFileA(stagedPath);
    return 0;
  }
  return 1;
}

void CloseProgressWindow() {
  const HWND window = static_cast<HWND>(g_setup.progressWindow);
  ShowWindow(window, SW_HIDE);
  DestroyWindow(window);
  g_setup.progressWindow = nullptr;
}

int LaunchMainProgram() {
  char command[kCommandSize];
  // Quoted: unquoted, a folder with a blank would let Windows start another program found at
  // the blank (C:\Program.exe for C:\Program Files\...).
  platform::FormatText(command, sizeof command, "\"%s%s\" /install%s", g_setup.destDir,
                       kMainProgramName, kLaunchSuffix);
  _chdir(g_setup.destPath);
  if (WinExec(command, SW_SHOW) >= 32) return 1;
  platform::FormatText(command, sizeof command, "%s /install%s", kMainProgramName, kLaunchSuffix);
  if (WinExec(command, SW_SHOW) >= 32) return 1;
  char text[kCommandSize];
  platform::FormatText(text, sizeof text, kLaunchFailureFormat, g_setup.destDir, kMainProgramName);
  platform::ShowMessageBox(nullptr, text, nullptr, MB_OK);
  return 0;
}

int RunInstallation(HINSTANCE instance) {
  LoadSetupTexts(instance);
  if (AnotherSetupRunning()) return 0;
  if (MainProgramRunning()) return 0;
  if (!ReleaseFileManagerExtension()) return 0;
  if (!LocateSource()) return 0;
  ProposeDefaultDir();
  RegisterMeterClass(instance);
  if (!ChooseDestination()) return 0;
  if (!OpenProgressWindow()) return 0;

  const bool ok = CopyAndExtract();
  SendDlgItemMessageA(static_cast<HWND>(g_setup.progressWindow), IDC_METER, MM_SETPOS,
                      g_setup.totalKB / 10, 0);
  if (ok && !FinalizeMainProgram(g_setup.destDir, kMainProgramName)) {
    // Shown while the progress window is still on the screen; it goes with the process.
    ShowNotInstalled(MB_ICONINFORMATION);
    return 0;
  }
  CloseProgressWindow();
  if (!ok) {
    ShowNotInstalled(kNotInstalledFlags);
    return 0;
  }
  LaunchMainProgram();
  return 0;
}
