// The destination dialog from the real template under Wine, its OK pressed in-process: every
// refusal in its order with its message, owner and flags (the dialog staying open), then the
// folder, size and controls of the press that passed; the OK button and the hourglass.
#include "setup/destination.h"

#include "res/dialog.h"
#include "setup/paths.h"
#include "tests/wine/support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace kxtest;

constexpr FILETIME kSetupTime = {0x5A3B2C00u, 0x01D9A1B2u};
constexpr uint32_t kExpectedKB = (7 * 1000 + 5000) >> 10;  // seven companions and the payload

class DestinationDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateDirectoryA(source_.c_str(), nullptr));
    for (const CompanionFile* c = CompanionFiles; c->name; ++c) Put(c->name, 1000);
    Put("setup.kx", 5000);
    lstrcpyA(g_setup.sourceDir, source_.c_str());
    g_setup.setupTime = {kSetupTime.dwLowDateTime, kSetupTime.dwHighDateTime};
    lstrcpyA(g_setup.defaultDir, (work_ + "Proposed").c_str());
    dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_DESTINATION),
                                 nullptr, DestinationDlgProc, 0);
    ShowWindow(dialog_, SW_SHOW);
  }
  void TearDown() override { DestroyWindow(dialog_); }
  void Put(const std::string& name, size_t size) {
    WriteFile(source_ + name, std::string(size, 't'));
    Stamp(source_ + name, kSetupTime);
  }
  // Puts the text into the field and presses OK; true when that ended the dialog.
  bool Press(const std::string& text) {
    SetDlgItemTextA(dialog_, IDC_FOLDER, text.c_str());
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog_, IDOK)));
    return !IsWindowVisible(dialog_);
  }
  bool Enabled(int id) { return IsWindowEnabled(GetDlgItem(dialog_, id)); }
  FreshState state_;
  std::string work_ = FreshFolder(), source_ = work_ + "Medium\\";
  HWND dialog_ = nullptr;
};

TEST_F(DestinationDialog, OpensProposingTheFolderOkFollowsTheFieldHourglassWhileBusy) {
  char text[300];
  GetWindowTextA(dialog_, text, sizeof text);
  EXPECT_STREQ(text, "Karvex Setup");
  GetDlgItemTextA(dialog_, IDC_FOLDER, text, sizeof text);
  EXPECT_EQ(text, work_ + "Proposed");
  EXPECT_EQ(SendDlgItemMessageA(dialog_, IDC_FOLDER, EM_GETLIMITTEXT, 0, 0), 259);
  SetDlgItemTextA(dialog_, IDC_FOLDER, "");
  EXPECT_FALSE(Enabled(IDOK));
  SetDlgItemTextA(dialog_, IDC_FOLDER, "D");
  EXPECT_TRUE(Enabled(IDOK));
  for (const int busy : {0, 1}) {
    g_setup.busyCursor = busy;
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    SendMessageA(dialog_, WM_SETCURSOR, reinterpret_cast<WPARAM>(dialog_), HTCLIENT);
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, busy ? IDC_WAIT : IDC_ARROW));
  }
}

TEST_F(DestinationDialog, EachRefusalKeepsTheDialogOpenWithItsMessageThenAPassEndsIt) {
  const std::string invalid = "Invalid destination folder|Karvex Setup|16|owned";
  std::string lowerSource = source_;
  CharLowerBuffA(lowerSource.data(), static_cast<DWORD>(lowerSource.size()));
  const struct {
    std::string typed, box;
    const char* removed;  // a file of the medium missing; null: none
  } cases[] = {
      {"Karvex", invalid, nullptr},
      // Longer than the field accepts from the keyboard: refused, not cut.
      {work_ + std::string(kPathSize + 20 - work_.size(), 'L'), invalid, nullptr},
      {lowerSource,
       "\"Install To\" folder must be different than \"Install From\" folder.  Please specify a "
       "different folder.|Karvex Setup|16|owned",
       nullptr},
      {work_ + "Dest",
       "Cannot find required file README.TXT.  Please verify that the file exists on the "
       "installation disk.|Karvex Setup|16|owned",
       "README.TXT"},
      {work_ + "Dest", "setup.kx is missing|<none>|0", "setup.kx"},
      {work_ + "New\\Karvex",
       "The " + work_ +
           "New\\Karvex folder cannot be created.\nEnter another folder or try another "
           "drive.|Karvex Setup|64|owned",
       nullptr},
  };
  for (const auto& c : cases) {
    if (c.removed) DeleteFileA((source_ + c.removed).c_str());
    BoxRecorder boxes;
    EXPECT_FALSE(Press(c.typed)) << c.typed;
    EXPECT_TRUE(Enabled(IDOK) && Enabled(IDCANCEL) && Enabled(IDC_FOLDER)) << c.typed;
    ASSERT_EQ(boxes.boxes.size(), 1u) << c.typed;
    const Box& b = boxes.boxes[0];
    const char* owner = b.owner == dialog_ ? "|owned" : b.owner ? "|another" : "";
    EXPECT_EQ(b.text + "|" + b.caption + "|" + std::to_string(b.flags) + owner, c.box);
    if (c.removed) Put(c.removed, c.removed[0] == 's' ? 5000 : 1000);
  }
  EXPECT_FALSE(Exists(work_ + "Dest") || Exists(work_ + "New"));  // nothing made before the checks
  // Typed with a doubled separator: the folder is made and entered, the dialog ends.
  EXPECT_TRUE(Press(work_ + "Karvex\\\\"));
  EXPECT_EQ(g_setup.destPath + std::string("|") + g_setup.destDir,
            work_ + "Karvex\\|" + work_ + "Karvex\\");
  char current[MAX_PATH];
  GetCurrentDirectoryA(sizeof current, current);
  EXPECT_EQ(current, work_ + "Karvex");
  EXPECT_EQ(g_setup.totalKB, kExpectedKB);  // the refused presses added theirs up too
  EXPECT_FALSE(Enabled(IDOK) || Enabled(IDCANCEL) || Enabled(IDC_FOLDER));
}

}  // namespace
