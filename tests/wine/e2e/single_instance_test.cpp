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

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(SingleInstance, SecondSetupShowsItsBoxAndTheFirstInstallsWhole) {
  const std::string work = harness::FreshFolder("single-instance");
  const std::string medium = work + "Medium\\", folder = work + "Installed";
  const std::string companions = work + "companions", payload = work + "payload";
  CreateDirectoryA(companions.c_str(), nullptr);
  CreateDirectoryA(payload.c_str(), nullptr);
  for (const CompanionFile* c = CompanionFiles; c->name; ++c)
    WriteFile(companions + "\\" + c->name, std::string(2000, 'c'));
  WriteFile(payload + "\\NOISE.BIN", std::string(1 << 20, 'n'));
  ASSERT_TRUE(CopyFileA(harness::ProgramBeside("e2e_mainprog.exe").c_str(),
                        (payload + "\\" + kMainProgramName).c_str(), FALSE));
  const std::string report = work + "launched.txt";
  SetEnvironmentVariableA("KX_E2E_REPORT", report.c_str());
  kxmedium::BuildOptions options;
  options.setupProgram = harness::WindowsPath(KX_TEST_BINARY_DIR) + "\\SETUP.EXE";
  options.companionsDir = companions;
  options.payloadDir = payload;
  options.mediumDir = medium;
  ASSERT_EQ(kxmedium::BuildMedium(options), 0);

  const std::string command = harness::Quote(medium + "SETUP.EXE");
  harness::Process setups[2] = {harness::Process::Start(command, medium.c_str()),
                                harness::Process::Start(command, medium.c_str())};
  ASSERT_TRUE(setups[0].started() && setups[1].started());
  // Whichever came second shows the box; the other one shows its destination dialog.
  int second = -1;
  harness::WaitFor([&] {
    for (int i : {0, 1})
      if (e2e::FindSetupBox(setups[i].id())) second = i;
    return second >= 0;
  });
  ASSERT_GE(second, 0) << "neither setup showed a box";
  harness::Process& first = setups[1 - second];
  const HWND dialog = e2e::WaitForSetupWindow(first.id(), IDC_FOLDER);
  ASSERT_NE(dialog, nullptr);
  const HWND boxWindow = e2e::FindSetupBox(setups[second].id());
  harness::WaitUntilPainted(boxWindow);
  const harness::MessageBoxInfo box = harness::ReadMessageBox(boxWindow);
  EXPECT_EQ(box.text,
            "Setup is already running.  Please wait until it has finished before you run SETUP "
            "again.");
  EXPECT_EQ(box.caption, e2e::kSetupTitle);
  EXPECT_EQ(box.icon, harness::BoxIcon::Error);
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
  harness::WaitFor([&] { return GetFileAttributesA(report.c_str()) != INVALID_FILE_ATTRIBUTES; });
  std::ifstream launched(report);
  std::string commandLine;
  std::getline(launched, commandLine);
  EXPECT_EQ(commandLine, "\"" + folder + "\\KARVEX32.EXE\" /installS");
  SetEnvironmentVariableA("KX_E2E_REPORT", nullptr);
}

}  // namespace
