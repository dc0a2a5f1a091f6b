// End-to-end runs of the real SETUP.EXE under Wine, one row for each way a run can end: the user
// is played from outside through the harness, the boxes checked and answered, then what is left
// behind and how the main program (kxprobe.exe) was started are checked.
#include "tests/wine/e2e/medium_reader.h"
#include "tests/wine/support.h"

using namespace kxtest;

const char kFailed[] = "The software has not been successfully installed.\nYou must run";

// The ways a run ends, in the order of the rows; this process plays the other programs as the
// row's way needs them.
enum Way { kDone, kCancel, kMainKept, kShellOff, kKarvex, kSetup, kAddOnKept };

struct Expected {
  int owner;         // the control of the owning SETUP window; 0: no owner
  const char* text;  // its start; %s stands for the destination folder
  int answer = IDOK;
};

struct Row {
  const char* name;
  std::vector<Expected> boxes;
  bool progressAtLastBox = false, payloadInstalled = false, launched = false;
};

const Row kRows[] = {
    {"Done", {}, false, true, true},
    {"CancelledInTheDialog", {{0, kFailed}}},
    {"OldMainProgramKept", {{IDC_METER, "Cannot open %s\\KARVEX32.EXE "}, {0, kFailed}}, 1, 1},
    {"ShellExtensionSwitchedOff",
     {{IDC_FOLDER, "Setup can not close the \"Karvex Shell", IDYES}, {IDC_FOLDER, "\nKarvex's"}}},
    {"RefusedWhileKarvexRuns", {{0, "Another version of Karvex is running.  Please close it"}}},
    {"RefusedWhileSetupRuns", {{0, "Setup is already running.  Please wait until it has"}}},
    {"FileManagerKeepsItsAddOn", {{0, "The Karvex installation procedure can not close the"}}},
};

class EndToEnd : public ::testing::TestWithParam<int> {};

TEST_P(EndToEnd, EndsAsTheRowSays) {
  const Row& row = kRows[GetParam()];
  const Way way = Way(GetParam());
  const std::string work = FreshFolder(), medium = work + "medium\\", folder = work + "Dest";
  const std::string build = harness::WindowsPath(KX_TEST_BINARY_DIR) + "\\";
  ASSERT_TRUE(BuildMedium(work,
                          {{"README.DOC", std::string(20000, 'r')},
                           {kMainProgramName, ReadFile(build + "tests\\kxprobe.exe")}},
                          3000, false, build + "SETUP.EXE"));
  const std::string setupCommand = "\"" + medium + "SETUP.EXE\"";
  // The other programs, as the row has them: windows of this process, and files it holds.
  const char* const otherClass = way == kKarvex ? "Karvex2WClass" : "WFS_Frame";
  const WNDCLASSA windowClass = {0, DefWindowProcA, 0, 0, 0, 0, 0, 0, 0, otherClass};
  RegisterClassA(&windowClass);
  const HWND other = way == kKarvex || way == kAddOnKept
                         ? CreateWindowA(otherClass, "", 0, 0, 0, 9, 9, 0, 0, 0, 0)
                         : nullptr;
  ProfileGuard shell("karvex32.ini", "fm", "shlExt"), addOn("winfile.ini", "AddOns", "Karvex");
  CreateDirectoryA(folder.c_str(), nullptr);  // a fresh folder is taken as it is
  if (way == kMainKept) CreateDirectoryA((folder + "\\KARVEX32.EXE").c_str(), nullptr);
  const std::string held = folder + "\\kxshlext.dll";
  if (way == kShellOff || way == kAddOnKept) WriteFile(held, "library");
  if (way == kAddOnKept) addOn.Write(held.c_str());  // File Manager never lets this one go
  const platform::KernelHandle holder(
      CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, 0));
  const harness::Process first(way == kSetup ? setupCommand : "", medium.c_str());
  ASSERT_TRUE(way != kSetup || harness::WaitForSetupWindow(first.id(), IDC_FOLDER));

  harness::Process setup(setupCommand, medium.c_str());
  if (way <= kShellOff) {  // the rows that reach the destination dialog
    const HWND dialog = harness::WaitForSetupWindow(setup.id(), IDC_FOLDER);
    ASSERT_TRUE(dialog && harness::TypeText(GetDlgItem(dialog, IDC_FOLDER), folder));
    ASSERT_TRUE(harness::ClickControl(dialog, way == kCancel ? IDCANCEL : IDOK));
  }
  for (const Expected& expected : row.boxes) {
    const HWND owner =
        expected.owner ? harness::WaitForSetupWindow(setup.id(), expected.owner) : nullptr;
    const HWND box = harness::WaitForSetupWindow(setup.id(), 0, owner, 40000);
    ASSERT_TRUE(box && (owner || !expected.owner)) << expected.text;
    // Over the progress window, the copy and extraction done, the meter is full.
    EXPECT_TRUE(expected.owner != IDC_METER ||
                SendDlgItemMessageA(owner, IDC_METER, MM_GETPOS, 0, 0) ==
                    SendDlgItemMessageA(owner, IDC_METER, MM_GETRANGE, 0, 0));
    const harness::MessageBoxInfo info = harness::ReadMessageBox(box);
    std::string text = expected.text;
    if (text.find("%s") != std::string::npos) text.replace(text.find("%s"), 2, folder);
    EXPECT_EQ(info.text.substr(0, text.size()), text);
    EXPECT_EQ(info.caption, "Karvex Setup");
    const bool progressShown = harness::FindSetupWindow(setup.id(), IDC_METER) != nullptr;
    EXPECT_TRUE(&expected != &row.boxes.back() || progressShown == row.progressAtLastBox);
    ASSERT_TRUE(harness::AnswerMessageBox(box, expected.answer));
  }
  // SETUP ends with exit code 0, without another box.
  harness::WaitFor([&] { return !setup.Running() || harness::FindSetupWindow(setup.id(), 0); });
  if (const HWND box = harness::FindSetupWindow(setup.id(), 0))
    ADD_FAILURE() << "unexpected box: " << harness::ReadMessageBox(box).text;
  DWORD code = 1;
  ASSERT_TRUE(setup.WaitExit(harness::kTimeout, &code));
  EXPECT_EQ(code, 0u);
  const std::string report = folder + "\\KARVEX32.EXE.launched";
  harness::WaitFor([&] { return Exists(report); }, row.launched ? harness::kTimeout : 0);
  EXPECT_EQ(ReadFile(report), row.launched ? "\"" + folder + "\\KARVEX32.EXE\" /installS\n" +
                                                 folder + "\nno progress window\n"
                                           : "");
  const std::vector<std::string> whole;  // what is wrong with a whole installation
  EXPECT_EQ(row.launched ? e2e::MissingFromInstallation(medium, folder, true) : whole, whole);
  EXPECT_EQ(Exists(folder + "\\README.DOC"), row.payloadInstalled);
  DestroyWindow(other);
}

INSTANTIATE_TEST_SUITE_P(Runs, EndToEnd, ::testing::Range(0, int(std::size(kRows))),
                         [](const auto& param) { return std::string(kRows[param.param].name); });
