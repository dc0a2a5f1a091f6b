// End-to-end runs of SETUP.EXE under Wine: each test builds a medium with kxmedium (or Info-ZIP
// zip), starts the real SETUP.EXE from it and plays the user from outside through the harness:
// the whole installation, and every way the run can end, with each box's text, owner and
// caption, the files left behind and how the main program (kxprobe.exe) was started.
#include "res/companions.h"
#include "tests/wine/e2e/medium_reader.h"
#include "tests/wine/harness/harness.h"
#include "tests/wine/support.h"

#include <gtest/gtest.h>

namespace {

using harness::MessageBoxInfo;
using namespace kxtest;

const std::string kNotInstalled =
    "The software has not been successfully installed.\nYou must run Setup again before using "
    "the software.";

const std::string kFileManagerBusy =
    "The Karvex installation procedure can not close the \"Karvex File Manager Extension\" "
    "from your existing version of Karvex.\n\nTo install this new version of Karvex, please\n\n"
    "1) Close the File Manager, or, if you are running a \"shell\" like Norton Desktop, exit and "
    "restart Windows, then\n\n2) Run the Karvex installation procedure again";
const std::string kShellExtensionBusy =
    "Setup can not close the \"Karvex Shell Extension\" from your existing version of "
    "Karvex.\n\nTo install this new version, you will need to\n\n\t1) Click \"Yes\" to "
    "temporarily turn off the shell extension\n\t2) Shut down and restart Windows, then\n\t3) "
    "Run the installation procedure again\n\nWould you like to continue?\n\nIf you choose "
    "\"No\", Setup will exit and you can continue to use your existing version of Karvex.";
const std::string kShellExtensionOff =
    "\nKarvex's Shell Extension has been temporarily turned off.\n\nTo continue installing "
    "Karvex, please\n\n\t1) Shut down and restart Windows, then\n\t2) Run the Karvex "
    "installation procedure again\n\nThe Karvex Shell Extension will automatically be turned "
    "on when you are done.\n";

std::string BuildFolder() { return harness::WindowsPath(KX_TEST_BINARY_DIR) + "\\"; }

// Bytes that deflate cannot shrink: an entry of this size is read in many progress steps.
std::string Incompressible(size_t size) {
  std::string bytes(size, '\0');
  uint32_t state = 0x12345678;
  for (char& c : bytes) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
  return bytes;
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = FreshFolder();
    medium_ = work_ + "medium\\";
    folder_ = work_ + "Dest";
  }
  // The medium with the probe as main program, the payload files and the real SETUP.EXE.
  void Build(std::vector<std::pair<std::string, std::string>> payload = {}, bool store = false) {
    payload.emplace_back(kMainProgramName, ReadFile(BuildFolder() + "tests\\kxprobe.exe"));
    ASSERT_TRUE(BuildMedium(work_, payload, 3000, store, BuildFolder() + "SETUP.EXE"));
  }
  void Start() {
    setup_ = harness::Process(harness::Quote(medium_ + "SETUP.EXE"), medium_.c_str());
    ASSERT_TRUE(setup_.started());
  }
  HWND Window(int controlId) {
    const HWND window = harness::WaitForSetupWindow(setup_.id(), controlId);
    EXPECT_NE(window, nullptr) << "no window with control " << controlId;
    return window;
  }
  // Types the folder into the destination dialog and presses OK.
  void Install(HWND dialog, const std::string& folder) {
    ASSERT_TRUE(harness::TypeText(GetDlgItem(dialog, IDC_FOLDER), folder));
    ASSERT_TRUE(harness::ClickControl(dialog, IDOK));
  }
  // Waits for SETUP's next box owned by owner, checks it and answers it.
  void ExpectBox(HWND owner, const std::string& text, const char* caption = "Karvex Setup",
                 int answer = IDOK, std::vector<int> buttons = {IDOK},
                 DWORD timeoutMs = harness::kTimeout) {
    const HWND box = harness::WaitForSetupWindow(setup_.id(), 0, owner, timeoutMs);
    ASSERT_NE(box, nullptr) << "no box: " << text;
    const MessageBoxInfo info = harness::ReadMessageBox(box);
    EXPECT_EQ(info.text, text);
    EXPECT_EQ(info.caption, caption);
    EXPECT_EQ(info.buttons, buttons);
    ASSERT_TRUE(harness::AnswerMessageBox(box, answer));
  }
  // SETUP ends with exit code 0, without another box; the main program was started, or not.
  void ExpectEnd(bool started = false, const std::string& folder = "") {
    harness::WaitFor([&] { return !setup_.Running() || FindSetupWindow(setup_.id(), 0); });
    if (const HWND box = harness::FindSetupWindow(setup_.id(), 0))
      ADD_FAILURE() << "unexpected box: " << harness::ReadMessageBox(box).text;
    DWORD code = 1;
    ASSERT_TRUE(setup_.WaitExit(harness::kTimeout, &code));
    EXPECT_EQ(code, 0u);
    const std::string report = (started ? folder : folder_) + "\\KARVEX32.EXE.launched";
    if (started) {
      EXPECT_TRUE(harness::WaitFor([&] { return Exists(report); }));
      EXPECT_EQ(ReadFile(report),
                "\"" + folder + "\\KARVEX32.EXE\" /installS\n" + folder + "\nno progress window\n");
      for (const std::string& problem : e2e::MissingFromInstallation(medium_, folder))
        ADD_FAILURE() << problem;
    } else {
      EXPECT_FALSE(Exists(report));
      EXPECT_FALSE(Exists(folder_ + "\\KARVEX32.EXE"));
    }
  }
  HWND FindSetupWindow(DWORD id, int control) { return harness::FindSetupWindow(id, control); }

  std::string work_, medium_, folder_;
  harness::Process setup_;
};

TEST_F(EndToEnd, WholeInstallationIntoTheProgramFilesDefault) {
  const std::string folder = "C:\\Program Files\\Karvex";
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  ProfileGuard zip(nullptr, "extensions", "zip");
  zip.Write(nullptr);  // no earlier installation to propose
  Build({{"README.DOC", std::string(20000, 'r')}, {"NOISE.BIN", Incompressible(300000)}});
  Start();
  const HWND dialog = Window(IDC_FOLDER);
  EXPECT_EQ(harness::ControlText(dialog, IDC_FOLDER), folder);
  harness::WaitUntilPainted(dialog);
  harness::SaveScreenshot("e2e-destination-dialog", dialog);
  const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
  ASSERT_TRUE(harness::ClickControl(dialog, IDOK));
  harness::CatchWhileHeld(
      thread,
      [&] {
        const HWND progress = FindSetupWindow(setup_.id(), IDC_METER);
        return progress && harness::RawTextOf(GetDlgItem(progress, IDC_FILENAME)) == "NOISE.BIN"
                   ? progress
                   : nullptr;
      },
      [](HWND progress) { harness::SaveScreenshot("e2e-progress-window", progress); });
  ExpectEnd(true, folder);
  std::filesystem::remove_all(folder, ignored);
}

TEST_F(EndToEnd, MediumMadeByInfoZipInstallsJustAsWell) {
  // SETUP.EXE, the companions stamped with its time, and zip's setup.kx made by the build.
  CreateDirectoryA(medium_.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA((BuildFolder() + "SETUP.EXE").c_str(), (medium_ + "SETUP.EXE").c_str(), 0));
  ASSERT_TRUE(CopyFileA((BuildFolder() + "tests\\infozip\\setup.kx").c_str(),
                        (medium_ + "setup.kx").c_str(), FALSE));
  WIN32_FILE_ATTRIBUTE_DATA setup;
  GetFileAttributesExA((medium_ + "SETUP.EXE").c_str(), GetFileExInfoStandard, &setup);
  for (const CompanionFile* c = CompanionFiles; c->name; ++c) {
    WriteFile(medium_ + c->name, std::string("companion ") + c->name);
    Stamp(medium_ + c->name, setup.ftLastWriteTime);
  }
  Start();
  Install(Window(IDC_FOLDER), folder_);
  ExpectEnd(true, folder_);
}

TEST_F(EndToEnd, RunningMainProgramOfEitherClassStopsTheRunAtOnce) {
  Build();
  for (const char* className : {"Karvex2WClass", "KarvexWClass"}) {
    harness::Actor running("window", 0, className);
    ASSERT_TRUE(running.WaitReady());
    Start();
    ExpectBox(nullptr, "Another version of Karvex is running.  Please close it and re-run SETUP");
    ExpectEnd();
  }
}

TEST_F(EndToEnd, FileManagerKeepingItsAddOnStopsTheRun) {
  Build();
  const std::string library = work_ + "KXFM.DLL";
  WriteFile(library, "add-on");
  ProfileGuard addOn("winfile.ini", "AddOns", "Karvex");
  addOn.Write(library.c_str());
  harness::Actor fileManager("filemanager", INFINITE, library);
  ASSERT_TRUE(fileManager.WaitReady());
  Start();
  ExpectBox(nullptr, kFileManagerBusy);
  ExpectEnd();
  EXPECT_EQ(addOn.Read(), "");  // the entry is gone and is not written back
}

TEST_F(EndToEnd, CancelInTheDialogCreatesNothing) {
  Build();
  Start();
  const HWND dialog = Window(IDC_FOLDER);
  ASSERT_TRUE(harness::TypeText(GetDlgItem(dialog, IDC_FOLDER), folder_));
  ASSERT_TRUE(harness::ClickControl(dialog, IDCANCEL));
  ExpectBox(nullptr, kNotInstalled);
  ExpectEnd();
  EXPECT_FALSE(Exists(folder_));
}

TEST_F(EndToEnd, ShellExtensionSwitchedOffEndsQuietly) {
  Build();
  ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
  WriteFile(folder_ + "\\kxshlext.dll", "shell extension");
  harness::Actor explorer("hold", INFINITE, folder_ + "\\kxshlext.dll");
  ASSERT_TRUE(explorer.WaitReady());
  const char key[] = "*\\shellex\\ContextMenuHandlers\\Karvex";
  RegSetValueA(HKEY_CLASSES_ROOT, key, REG_SZ, "x", 1);
  ProfileGuard shellSwitch("karvex32.ini", "fm", "shlExt");
  Start();
  const HWND dialog = Window(IDC_FOLDER);
  Install(dialog, folder_);
  ExpectBox(dialog, kShellExtensionBusy, "Karvex Setup", IDYES, {IDYES, IDNO}, 40000);
  EXPECT_EQ(harness::RawTextOf(GetDlgItem(dialog, IDC_PROMPT2)), std::string(15, '*'));
  ExpectBox(dialog, kShellExtensionOff);
  ExpectEnd();  // no "not installed": the user has been told to restart
  HKEY opened;
  EXPECT_NE(RegOpenKeyA(HKEY_CLASSES_ROOT, key, &opened), ERROR_SUCCESS);
  EXPECT_EQ(shellSwitch.Read(), "0");
}

TEST_F(EndToEnd, FailedCompanionCopyInstallsNothingOfThePayload) {
  Build({{"README.DOC", "text"}});
  ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((folder_ + "\\KARVEX.TXT").c_str(), nullptr));  // not writable
  Start();
  Install(Window(IDC_FOLDER), folder_);
  ExpectBox(Window(IDC_METER), "Cannot open " + folder_ + "\\KARVEX.TXT for writing");
  ExpectBox(nullptr, kNotInstalled);
  EXPECT_EQ(FindSetupWindow(setup_.id(), IDC_METER), nullptr);  // gone before the message
  ExpectEnd();
  EXPECT_TRUE(Exists(folder_ + "\\README.TXT"));
  EXPECT_FALSE(Exists(folder_ + "\\README.DOC"));
}

// The engine used to run with reportCrcErrors 0: a damaged payload installed as a success.
TEST_F(EndToEnd, DamagedPayloadIsReportedAndNotInstalled) {
  Build({{"DATA.TXT", std::string(40000, 'd')}}, true);  // stored: the CRC check sees the flip
  ASSERT_TRUE(e2e::FlipByteInFirstEntryData(medium_ + "setup.kx"));
  Start();
  Install(Window(IDC_FOLDER), folder_);
  const HWND progress = Window(IDC_METER);
  const HWND box = harness::WaitForSetupWindow(setup_.id(), 0, progress);
  ASSERT_NE(box, nullptr);
  const MessageBoxInfo damaged = harness::ReadMessageBox(box);
  EXPECT_EQ(damaged.text.rfind("ZIP damaged: file " + folder_ + "\\", 0), 0u) << damaged.text;
  EXPECT_NE(damaged.text.find(": Bad CRC "), std::string::npos) << damaged.text;
  EXPECT_EQ(damaged.caption, "Error");  // no caption of its own: the system's default
  ASSERT_TRUE(harness::AnswerMessageBox(box, IDOK));
  ExpectBox(nullptr, kNotInstalled);
  ExpectEnd();
}

TEST_F(EndToEnd, CancelConfirmedDuringTheExtractionDeletesTheFileBeingWritten) {
  Build({{"BIG.DAT", Incompressible(800000)}});
  Start();
  const HWND dialog = Window(IDC_FOLDER);
  Install(dialog, folder_);
  // Held still while BIG.DAT is written with most of it to come, Cancel is clicked; the click
  // is handled at the engine's next message pump.
  const HWND progress = harness::CatchWhileHeld(
      GetWindowThreadProcessId(dialog, nullptr),
      [&]() -> HWND {
        const HWND window = FindSetupWindow(setup_.id(), IDC_METER);
        WIN32_FILE_ATTRIBUTE_DATA big{};
        GetFileAttributesExA((folder_ + "\\BIG.DAT").c_str(), GetFileExInfoStandard, &big);
        return window && harness::RawTextOf(GetDlgItem(window, IDC_FILENAME)) == "BIG.DAT" &&
                       big.nFileSizeLow < 400000
                   ? window
                   : nullptr;
      },
      [](HWND window) { PostMessageA(GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0); });
  ASSERT_NE(progress, nullptr) << "the extraction of BIG.DAT was not caught";
  ExpectBox(progress,
            "Setup has not completed installing the software.\nAre you sure you want to cancel?",
            "Karvex Setup", IDYES, {IDYES, IDNO});
  ExpectBox(nullptr, kNotInstalled);
  ExpectEnd();
  EXPECT_FALSE(Exists(folder_ + "\\BIG.DAT"));
}

TEST_F(EndToEnd, PayloadWithoutStagedMainProgramFailsWhileTheProgressShows) {
  Build({{"README.DOC", "text"}});
  ASSERT_TRUE(e2e::RenameEntry(medium_ + "setup.kx", "KARVEX32.EX_", "KARVEX32.EXX"));
  ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
  WriteFile(folder_ + "\\KARVEX32.EXE", "the old main program");
  Start();
  Install(Window(IDC_FOLDER), folder_);
  const HWND progress = Window(IDC_METER);
  ExpectBox(progress, "Cannot open " + folder_ + "\\KARVEX32.EXE for writing");
  const HWND box = harness::WaitForSetupWindow(setup_.id(), 0, nullptr);
  EXPECT_TRUE(IsWindowVisible(progress)) << "still on the screen";
  EXPECT_EQ(harness::ReadMessageBox(box).text, kNotInstalled);
  ASSERT_TRUE(harness::AnswerMessageBox(box, IDOK));
  ExpectEnd();  // the old main program is gone too
  EXPECT_TRUE(Exists(folder_ + "\\KARVEX32.EXX"));
}

TEST_F(EndToEnd, BothLaunchesFailingShowErrorRunningWithoutCaption) {
  ASSERT_TRUE(BuildMedium(work_, {{kMainProgramName, "This is not a program."}}, 3000, false,
                          BuildFolder() + "SETUP.EXE"));
  Start();
  Install(Window(IDC_FOLDER), folder_);
  ExpectBox(nullptr, "Error running " + folder_ + "\\KARVEX32.EXE", "Error");
  EXPECT_EQ(FindSetupWindow(setup_.id(), IDC_METER), nullptr);
  DWORD code = 1;
  EXPECT_TRUE(setup_.WaitExit(harness::kTimeout, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ReadFile(folder_ + "\\KARVEX32.EXE"),
            "This is not a program.");  // renamed all the same
}

}  // namespace
