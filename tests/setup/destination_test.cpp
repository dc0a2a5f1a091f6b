// The destination dialog from the real template under Wine, its OK pressed in-process: every
// refusal in its order with its message, owner and flags (the dialog staying open), then the
// folder, size and controls of the press that passed; the field, the OK button and the hourglass.
#include "setup/destination.h"

#include "res/dialog.h"
#include "tests/wine/support.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using namespace kxtest;

constexpr FILETIME kSetupTime = {0x5A3B2C00u, 0x01D9A1B2u};
constexpr uint32_t kExpectedKB = (7 * 1000 + 5000) >> 10;  // seven companions and the payload

// One session of the dialog: opened proposing the folder, every refusal keeping it open with its
// message, then the press that passes ending it with the folder made, entered and counted.
TEST(DestinationDialog, OpensWithTheProposalRefusesEachBadFolderAndEndsOnAGoodOne) {
  FreshState state;
  const std::string work = FreshFolder(), source = work + "Medium\\";
  const auto put = [&](const std::string& name, size_t size) {
    WriteFile(source + name, std::string(size, 't'));
    Stamp(source + name, kSetupTime);
  };
  ASSERT_TRUE(CreateDirectoryA(source.c_str(), nullptr));
  for (const CompanionFile* c = CompanionFiles; c->name; ++c) put(c->name, 1000);
  put("setup.kx", 5000);
  lstrcpyA(g_setup.sourceDir, source.c_str());
  g_setup.setupTime = {kSetupTime.dwLowDateTime, kSetupTime.dwHighDateTime};
  lstrcpyA(g_setup.defaultDir, (work + "Proposed").c_str());
  const HWND dialog = CreateDialogParamA(
      GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_DESTINATION), nullptr, DestinationDlgProc, 0);
  ShowWindow(dialog, SW_SHOW);
  const auto enabled = [&](int id) { return IsWindowEnabled(GetDlgItem(dialog, id)); };
  // Puts the text into the field and presses OK; true when that ended the dialog.
  const auto press = [&](const std::string& text) {
    SetDlgItemTextA(dialog, IDC_FOLDER, text.c_str());
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    return !IsWindowVisible(dialog);
  };
  char text[300];
  GetWindowTextA(dialog, text, sizeof text);
  EXPECT_STREQ(text, "Karvex Setup");
  RECT r;  // centred on the screen
  GetWindowRect(dialog, &r);
  EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2);
  GetDlgItemTextA(dialog, IDC_FOLDER, text, sizeof text);
  EXPECT_EQ(text, work + "Proposed");
  EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_FOLDER, EM_GETLIMITTEXT, 0, 0), 259);
  SetDlgItemTextA(dialog, IDC_FOLDER, "");
  EXPECT_FALSE(enabled(IDOK));
  for (const int busy : {0, 1}) {
    g_setup.busyCursor = busy;
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    SendMessageA(dialog, WM_SETCURSOR, reinterpret_cast<WPARAM>(dialog), HTCLIENT);
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, busy ? IDC_WAIT : IDC_ARROW));
  }

  const std::tuple<std::string, std::string, const char*> cases[] = {
      // Longer than the field accepts from the keyboard: refused, not cut.
      {work + std::string(MAX_PATH, 'L'), "Invalid destination folder|Karvex Setup|16|owned",
       nullptr},
      {work + "MEDIUM",
       "\"Install To\" folder must be different than \"Install From\" folder.  Please specify a "
       "different folder.|Karvex Setup|16|owned",
       nullptr},
      {work + "Dest",
       "Cannot find required file README.TXT.  Please verify that the file exists on the "
       "installation disk.|Karvex Setup|16|owned",
       "README.TXT"},
      {work + "Dest", "setup.kx is missing|<none>|0", "setup.kx"},
      {work + "New\\Karvex",
       "The " + work +
           "New\\Karvex folder cannot be created.\nEnter another folder or try another "
           "drive.|Karvex Setup|64|owned",
       nullptr},
  };
  for (const auto& [typed, box, removed] : cases) {
    if (removed) DeleteFileA((source + removed).c_str());
    BoxRecorder boxes;
    EXPECT_FALSE(press(typed)) << typed;
    EXPECT_TRUE(enabled(IDOK) && enabled(IDCANCEL) && enabled(IDC_FOLDER)) << typed;
    ASSERT_EQ(boxes.boxes.size(), 1u) << typed;
    const Box& b = boxes.boxes[0];
    const char* owner = b.owner == dialog ? "|owned" : b.owner ? "|another" : "";
    EXPECT_EQ(b.text + "|" + b.caption + "|" + std::to_string(b.flags) + owner, box);
    if (removed) put(removed, removed[0] == 's' ? 5000 : 1000);
  }
  // Typed with a doubled separator: the folder is made and entered, the dialog ends.
  EXPECT_TRUE(press(work + "Karvex\\\\"));
  EXPECT_EQ(g_setup.destPath + std::string("|") + g_setup.destDir,
            work + "Karvex\\|" + work + "Karvex\\");
  char current[MAX_PATH];
  GetCurrentDirectoryA(sizeof current, current);
  EXPECT_EQ(current, work + "Karvex");
  EXPECT_EQ(g_setup.totalKB, kExpectedKB);  // the refused presses added theirs up too
  EXPECT_FALSE(enabled(IDOK) || enabled(IDCANCEL) || enabled(IDC_FOLDER));
  DestroyWindow(dialog);
}

}  // namespace
