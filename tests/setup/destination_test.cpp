// The destination dialog run modally from the real template under Wine: the typed texts and
// the folders they give, every refusal in its order with its message, owner and flags (the
// dialog staying open), the total size of one press, the OK button following the field, and
// the controls disabled while a loaded shell extension is released.
#include "setup/destination.h"

#include "res/dialog.h"
#include "setup/paths.h"
#include "tests/wine/support.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using namespace kxtest;

BOOL CALLBACK KeepVisibleDialog(HWND window, LPARAM out) {
  char name[16];
  GetClassNameA(window, name, sizeof name);
  if (lstrcmpA(name, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<HWND*>(out) = window;
  return FALSE;
}

// The dialog of this thread that is up, if any.
HWND ThreadDialog() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), KeepVisibleDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::function<void(HWND)>* g_script = nullptr;

void CALLBACK RunScript(HWND, UINT, UINT_PTR timer, DWORD) {
  const HWND dialog = ThreadDialog();
  if (!dialog) return;  // not shown yet: the timer fires again
  KillTimer(nullptr, timer);
  (*g_script)(dialog);
}

// Runs the dialog modally; script runs once it is on the screen and must end it (through OK
// or Cancel). Returns the dialog's result.
INT_PTR RunDialog(std::function<void(HWND)> script) {
  g_script = &script;
  SetTimer(nullptr, 0, 10, RunScript);
  const INT_PTR result = DialogBoxParamA(
      GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_DESTINATION), nullptr, DestinationDlgProc, 0);
  g_script = nullptr;
  return result;
}

void SetField(HWND dialog, const std::string& text) {
  SetDlgItemTextA(dialog, IDC_FOLDER, text.c_str());
}
void Press(HWND dialog, int id) {
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

constexpr FILETIME kSetupTime = {0x5A3B2C00u, 0x01D9A1B2u};
constexpr size_t kCompanionSize = 1000;
constexpr size_t kPayloadSize = 5000;
constexpr uint32_t kExpectedKB = (7 * kCompanionSize + kPayloadSize) >> 10;  // 11

class DestinationDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = FreshFolder();
    source_ = work_ + "Medium\\";
    ASSERT_TRUE(CreateDirectoryA(source_.c_str(), nullptr));
    for (const CompanionFile* c = CompanionFiles; c->name; ++c) {
      const std::string path = source_ + c->name;
      WriteFile(path, std::string(kCompanionSize, 't'));
      Stamp(path, kSetupTime);
    }
    WriteFile(source_ + "setup.kx", std::string(kPayloadSize, 'z'));
    lstrcpyA(g_setup.sourceDir, source_.c_str());
    g_setup.setupTime = {kSetupTime.dwLowDateTime, kSetupTime.dwHighDateTime};
    lstrcpyA(g_setup.defaultDir, (work_ + "Proposed").c_str());
  }
  // Presses OK with the text; expects one box and the dialog still open, then cancels.
  Box RefusedWith(const std::string& text) {
    BoxRecorder boxes;
    HWND shown = nullptr;
    bool stayedOpen = false;
    const INT_PTR result = RunDialog([&](HWND dialog) {
      shown = dialog;
      SetField(dialog, text);
      Press(dialog, IDOK);
      stayedOpen = IsWindowVisible(dialog) && IsWindowEnabled(GetDlgItem(dialog, IDOK)) &&
                   IsWindowEnabled(GetDlgItem(dialog, IDC_FOLDER)) &&
                   IsWindowEnabled(GetDlgItem(dialog, IDCANCEL));
      Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, kDestinationNotInstalled) << text;
    EXPECT_TRUE(stayedOpen) << text;
    EXPECT_EQ(boxes.boxes.size(), 1u) << text;
    Box box = boxes.boxes.empty() ? Box{} : boxes.boxes[0];
    lastDialog_ = shown;
    return box;
  }
  FreshState state_;
  std::string work_, source_;
  HWND lastDialog_ = nullptr;
};

TEST_F(DestinationDialog, OpensProposingTheFolderAndOkFollowsTheField) {
  std::string caption, field;
  LRESULT limit = 0;
  bool afterClear = true, afterTyping = false;
  EXPECT_EQ(RunDialog([&](HWND dialog) {
              char text[300];
              GetWindowTextA(dialog, text, sizeof text);
              caption = text;
              GetDlgItemTextA(dialog, IDC_FOLDER, text, sizeof text);
              field = text;
              const HWND edit = GetDlgItem(dialog, IDC_FOLDER);
              limit = SendMessageA(edit, EM_GETLIMITTEXT, 0, 0);
              SendMessageA(edit, EM_SETSEL, 0, -1);
              SendMessageA(edit, WM_CLEAR, 0, 0);
              afterClear = IsWindowEnabled(GetDlgItem(dialog, IDOK));
              SendMessageA(edit, WM_CHAR, 'D', 0);
              afterTyping = IsWindowEnabled(GetDlgItem(dialog, IDOK));
              Press(dialog, IDCANCEL);
            }),
            kDestinationNotInstalled);
  EXPECT_EQ(caption, "Karvex Setup");
  EXPECT_EQ(field, work_ + "Proposed");
  EXPECT_EQ(limit, 259);
  EXPECT_FALSE(afterClear);
  EXPECT_TRUE(afterTyping);
  EXPECT_FALSE(Exists(work_ + "Proposed"));  // Cancel creates nothing
}

struct TypedCase {
  std::string typed, destPath, destDir, created;
};

TEST_F(DestinationDialog, TypedTextsGiveTheirFolders) {
  std::string slashed = work_;
  for (char& c : slashed)
    if (c == '\\') c = '/';
  const TypedCase cases[] = {
      {work_ + "One", work_ + "One", work_ + "One\\", work_ + "One"},
      {work_ + "Two\\", work_ + "Two", work_ + "Two\\", work_ + "Two"},
      {work_ + "Three\\\\", work_ + "Three\\", work_ + "Three\\", work_ + "Three"},
      {slashed + "Four/", slashed + "Four/", slashed + "Four/", work_ + "Four"},
      {"C:", "C:\\", "C:\\", "C:\\"},
      {"C:\\", "C:", "C:\\", "C:\\"},
  };
  for (const TypedCase& c : cases) {
    BoxRecorder boxes;
    EXPECT_EQ(RunDialog([&](HWND dialog) {
                SetField(dialog, c.typed);
                Press(dialog, IDOK);
              }),
              kDestinationGoOn)
        << c.typed;
    EXPECT_TRUE(boxes.boxes.empty()) << c.typed;
    EXPECT_EQ(std::string(g_setup.destPath), c.destPath);
    EXPECT_EQ(std::string(g_setup.destDir), c.destDir);
    EXPECT_EQ(g_setup.totalKB, kExpectedKB);
    EXPECT_TRUE(Exists(c.created)) << c.typed;
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    std::string expected = c.created;
    if (expected.size() > 3 && expected.back() == '\\') expected.pop_back();
    EXPECT_EQ(lstrcmpiA(current, expected.c_str()), 0) << c.typed << " -> " << current;
  }
}

TEST_F(DestinationDialog, EachRefusalKeepsTheDialogOpenWithItsMessage) {
  const std::string invalid = "Invalid destination folder";
  const auto cannotCreate = [](const std::string& folder) {
    return "The " + folder +
           " folder cannot be created.\nEnter another folder or try another drive.";
  };
  std::string lowerSource = source_;
  CharLowerBuffA(lowerSource.data(), static_cast<DWORD>(lowerSource.size()));
  struct Case {
    std::string typed, text;
    const char* removed;  // a file of the medium missing; null: none
    bool owned;           // by the dialog, with the setup's caption; else neither
    unsigned flags;
  };
  const Case cases[] = {
      {"Karvex", invalid, nullptr, true, MB_ICONERROR},
      {"\\Karvex", invalid, nullptr, true, MB_ICONERROR},
      {"/Karvex", invalid, nullptr, true, MB_ICONERROR},
      {"K", invalid, nullptr, true, MB_ICONERROR},
      {"\\\\", invalid, nullptr, true, MB_ICONERROR},
      // Longer than the field accepts from the keyboard: refused, not cut.
      {work_ + std::string(kPathSize + 20 - work_.size(), 'L'), invalid, nullptr, true,
       MB_ICONERROR},
      {lowerSource,
       "\"Install To\" folder must be different than \"Install From\" folder.  Please specify "
       "a different folder.",
       nullptr, true, MB_ICONERROR},
      {work_ + "Dest",
       "Cannot find required file README.TXT.  Please verify that the file exists on the "
       "installation disk.",
       "README.TXT", true, MB_ICONERROR},
      {work_ + "Dest", "setup.kx is missing", "setup.kx", false, MB_OK},
      {work_ + "New\\Karvex", cannotCreate(work_ + "New\\Karvex"), nullptr, true,
       MB_ICONINFORMATION},
      {"1:\\Karvex", cannotCreate("1:\\Karvex"), nullptr, true, MB_ICONINFORMATION},
  };
  for (const Case& c : cases) {
    const std::string removed = c.removed ? ReadFile(source_ + c.removed) : "";
    if (c.removed) DeleteFileA((source_ + c.removed).c_str());
    const Box box = RefusedWith(c.typed);
    EXPECT_EQ(box.text, c.text);
    EXPECT_EQ(box.owner, c.owned ? lastDialog_ : nullptr) << c.typed;
    EXPECT_EQ(box.caption, c.owned ? "Karvex Setup" : "<none>") << c.typed;
    EXPECT_EQ(box.flags, c.flags) << c.typed;
    if (c.removed) WriteFile(source_ + c.removed, removed);
    if (c.removed) Stamp(source_ + c.removed, kSetupTime);
  }
  EXPECT_FALSE(Exists(work_ + "Dest"));  // nothing is created before the checks pass
  EXPECT_FALSE(Exists(work_ + "New"));
}

TEST_F(DestinationDialog, TotalSizeCountsOnlyThePressThatPassed) {
  BoxRecorder boxes;
  EXPECT_EQ(RunDialog([&](HWND dialog) {
              SetField(dialog, work_ + "New\\Karvex");
              Press(dialog, IDOK);  // refused with 1004 after the sizes were added up
              SetField(dialog, work_ + "Karvex");
              Press(dialog, IDOK);
            }),
            kDestinationGoOn);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(g_setup.totalKB, kExpectedKB);
  EXPECT_EQ(std::string(g_setup.destPath), work_ + "Karvex");
}

// The shell-extension library of an earlier installation, held open by this thread until a
// timer (dispatched by the release's wait) looks at the dialog and lets it go.
struct HeldLibrary {
  HANDLE file = INVALID_HANDLE_VALUE;
  HWND dialog = nullptr;
  bool folderEnabled = true, okEnabled = true, cancelEnabled = true;
  bool hourglass = false;
  std::string prompt;
};
HeldLibrary* g_held = nullptr;

void CALLBACK InspectAndRelease(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  HeldLibrary& held = *g_held;
  const HWND dialog = held.dialog;
  held.folderEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_FOLDER));
  held.okEnabled = IsWindowEnabled(GetDlgItem(dialog, IDOK));
  held.cancelEnabled = IsWindowEnabled(GetDlgItem(dialog, IDCANCEL));
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
  SendMessageA(dialog, WM_SETCURSOR, reinterpret_cast<WPARAM>(dialog),
               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  held.hourglass = GetCursor() == LoadCursorA(nullptr, IDC_WAIT);
  char text[300];
  GetDlgItemTextA(dialog, IDC_PROMPT1, text, sizeof text);
  held.prompt = text;
  CloseHandle(held.file);
}

TEST_F(DestinationDialog, ControlsAreDisabledAndTheHourglassShownWhileTheReleaseWaits) {
  const std::string dest = work_ + "Earlier";
  ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr));
  WriteFile(dest + "\\kxshlext.dll", "library");
  HeldLibrary held;
  held.file = CreateFileA((dest + "\\kxshlext.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held.file, INVALID_HANDLE_VALUE);
  g_held = &held;
  RegistryValueGuard unload(
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
      "AlwaysUnloadDLL",
      "");
  BoxRecorder boxes;
  const INT_PTR result = RunDialog([&](HWND dialog) {
    held.dialog = dialog;
    SetField(dialog, dest);
    // Past the release's first 500 ms test, inside its waits of a second each.
    SetTimer(nullptr, 0, 900, InspectAndRelease);
    Press(dialog, IDOK);
  });
  g_held = nullptr;
  EXPECT_EQ(result, kDestinationGoOn);
  EXPECT_FALSE(held.folderEnabled);
  EXPECT_FALSE(held.okEnabled);
  EXPECT_FALSE(held.cancelEnabled);
  EXPECT_TRUE(held.hourglass);
  EXPECT_EQ(held.prompt, "Please wait a moment while the Karvex Shell Extension is unloaded.");
  EXPECT_TRUE(boxes.boxes.empty());
}

}  // namespace
