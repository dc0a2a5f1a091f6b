// Two SETUP.EXE started together on one medium under Wine: one runs the whole installation,
// the other tells the user that Setup is already running and ends before it touches anything.
#include "res/companions.h"
#include "tests/wine/e2e/medium_reader.h"
#include "tests/wine/harness/harness.h"
#include "tests/wine/support.h"

#include <gtest/gtest.h>

namespace {

using namespace kxtest;

TEST(SingleInstance, SecondSetupShowsItsBoxAndTheFirstInstallsWhole) {
  const std::string work = FreshFolder(), medium = work + "medium\\", folder = work + "Installed";
  const std::string build = harness::WindowsPath(KX_TEST_BINARY_DIR) + "\\";
  ASSERT_TRUE(BuildMedium(work,
                          {{"NOISE.BIN", std::string(1 << 20, 'n')},
                           {kMainProgramName, ReadFile(build + "tests\\kxprobe.exe")}},
                          2000, false, build + "SETUP.EXE"));
  const std::string command = harness::Quote(medium + "SETUP.EXE");
  harness::Process setups[2] = {harness::Process(command, medium.c_str()),
                                harness::Process(command, medium.c_str())};
  ASSERT_TRUE(setups[0].started() && setups[1].started());
  // Whichever came second shows the box; the other one shows its destination dialog.
  int second = -1;
  harness::WaitFor([&] {
    for (int i : {0, 1})
      if (harness::FindSetupWindow(setups[i].id(), 0)) second = i;
    return second >= 0;
  });
  ASSERT_GE(second, 0) << "neither setup showed a box";
  harness::Process& first = setups[1 - second];
  const HWND dialog = harness::WaitForSetupWindow(first.id(), IDC_FOLDER);
  ASSERT_NE(dialog, nullptr);
  const harness::MessageBoxInfo box =
      harness::ReadMessageBox(harness::FindSetupWindow(setups[second].id(), 0));
  EXPECT_EQ(box.text,
            "Setup is already running.  Please wait until it has finished before you run SETUP "
            "again.");
  EXPECT_EQ(box.caption, "Karvex Setup");
  EXPECT_EQ(box.owner, nullptr);

  // The first one installs while the second's box is still up.
  ASSERT_TRUE(harness::TypeText(GetDlgItem(dialog, IDC_FOLDER), folder));
  ASSERT_TRUE(harness::ClickControl(dialog, IDOK));
  DWORD code = 1;
  ASSERT_TRUE(first.WaitExit(harness::kTimeout, &code));
  EXPECT_EQ(code, 0u);
  ASSERT_TRUE(harness::AnswerMessageBox(box.window, IDOK));
  ASSERT_TRUE(setups[second].WaitExit(harness::kTimeout, &code));
  EXPECT_EQ(code, 0u);
  for (const std::string& problem : e2e::MissingFromInstallation(medium, folder))
    ADD_FAILURE() << problem;
  const std::string report = folder + "\\KARVEX32.EXE.launched";
  harness::WaitFor([&] { return Exists(report); });
  EXPECT_EQ(ReadFile(report).substr(0, ReadFile(report).find('\n')),
            "\"" + folder + "\\KARVEX32.EXE\" /installS");
}

}  // namespace
