// Two SETUP.EXE started together on one medium under Wine: one runs the whole installation,
// the other tells the user that Setup is already running and ends before it touches anything.
#include "res/companions.h"
#include "res/dialog.h"
#include "tests/wine/e2e/e2e_support.h"
#include "tests/wine/e2e/medium_reader.h"
#include "tests/wine/harness/harness.h"
#include "tools/kxmedium_build.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

TEST(SingleInstance, SecondSetupShowsItsBoxAndTheFirstInstallsWhole) {
  const std::string work = harness::FreshFolder("single-instance");
  kxmedium::BuildOptions options;
  options.setupProgram = harness::WindowsPath(KX_TEST_BINARY_DIR) + "\\SETUP.EXE";
  options.companionsDir = work + "companions";
  options.payloadDir = work + "payload";
  options.mediumDir = work + "Medium\\";
  CreateDirectoryA(options.companionsDir.c_str(), nullptr);
  CreateDirectoryA(options.payloadDir.c_str(), nullptr);
  for (const CompanionFile* c = CompanionFiles; c->name; ++c)
    std::ofstream(options.companionsDir + "\\" + c->name) << "companion";
  std::ofstream(options.payloadDir + "\\NOISE.BIN") << std::string(1 << 20, 'n');
  ASSERT_TRUE(CopyFileA(harness::ProgramBeside("e2e_mainprog.exe").c_str(),
                        (options.payloadDir + "\\" + kMainProgramName).c_str(), FALSE));
  ASSERT_EQ(kxmedium::BuildMedium(options), 0);

  const std::string command = harness::Quote(options.mediumDir + "SETUP.EXE");
  harness::Process setups[2] = {harness::Process::Start(command, options.mediumDir.c_str()),
                                harness::Process::Start(command, options.mediumDir.c_str())};
  // Whichever came second shows the box; the other one shows its destination dialog.
  int second = -1;
  harness::WaitFor([&] {
    for (int i : {0, 1})
      if (e2e::FindSetupBox(setups[i].id())) second = i;
    return second >= 0;
  });
  ASSERT_GE(second, 0) << "neither setup showed a box";
  const HWND dialog = e2e::WaitForSetupWindow(setups[1 - second].id(), IDC_FOLDER);
  ASSERT_NE(dialog, nullptr);
  // Both are centred: the box is moved clear of the dialog so that its icon can be seen.
  const HWND boxWindow = e2e::FindSetupBox(setups[second].id());
  SetWindowPos(boxWindow, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE);
  harness::WaitUntilPainted(boxWindow);
  const harness::MessageBoxInfo box = harness::ReadMessageBox(boxWindow);
  EXPECT_EQ(box.text,
            "Setup is already running.  Please wait until it has finished before you run SETUP "
            "again.");
  EXPECT_EQ(box.caption, e2e::kSetupTitle);
  EXPECT_EQ(box.icon, harness::BoxIcon::Error);
  EXPECT_EQ(box.owner, nullptr);

  // The first one installs while the second's box is still up.
  const std::string folder = work + "Installed";
  ASSERT_TRUE(harness::TypeText(GetDlgItem(dialog, IDC_FOLDER), folder));
  ASSERT_TRUE(harness::ClickControl(dialog, IDOK));
  DWORD code = 1;
  ASSERT_TRUE(setups[1 - second].WaitExit(harness::kTimeout, &code));
  EXPECT_EQ(code, 0u);
  ASSERT_TRUE(harness::AnswerMessageBox(box.window, IDOK));
  ASSERT_TRUE(setups[second].WaitExit(harness::kTimeout, &code));
  EXPECT_EQ(code, 0u);
  for (const std::string& problem : e2e::MissingFromInstallation(options.mediumDir, folder))
    ADD_FAILURE() << problem;
}

}  // namespace
