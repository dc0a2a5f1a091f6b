// End-to-end runs of SETUP.EXE under Wine: each test builds a medium with kxmedium (or with
// Info-ZIP zip), starts the real SETUP.EXE from it and plays the user from outside through the
// harness — the whole installation, every way the run can end, and the destination dialog's
// refusals — checking each box's text, icon and owner, the files left behind and how the main
// program was started. The main program is e2e_mainprog.exe, which reports its start.
#include "res/companions.h"
#include "res/dialog.h"
#include "tests/wine/e2e/e2e_support.h"
#include "tests/wine/e2e/medium_reader.h"
#include "tests/wine/harness/harness.h"
#include "tools/kxmedium_build.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using harness::BoxIcon;
using harness::MessageBoxInfo;

constexpr DWORD kLongTimeout = 40000;  // the shell-extension release waits 16.5 s

// Texts as the user sees them (joined chains included).
const std::string kNotInstalled =
    "The software has not been successfully installed.\nYou must run Setup again before using "
    "the software.";
const std::string kAlreadyRunning =
    "Another version of Karvex is running.  Please close it and re-run SETUP";
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
const std::string kConfirmCancel =
    "Setup has not completed installing the software.\nAre you sure you want to cancel?";

std::string SetupProgram() { return harness::WindowsPath(KX_TEST_BINARY_DIR) + "\\SETUP.EXE"; }

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Bytes that deflate cannot shrink, so that an entry of this size is stored and read in many
// progress steps.
std::string Incompressible(size_t size) {
  std::string bytes(size, '\0');
  uint32_t state = 0x12345678;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

// A private-profile or win.ini value, put back when the guard ends.
class ProfileGuard {
 public:
  ProfileGuard(const char* file, const char* section, const char* key)
      : file_(file ? file : ""), section_(section), key_(key) {
    char value[1024];
    Read("\x01", value, sizeof value);
    existed_ = std::string(value) != "\x01";
    saved_ = value;
  }
  ~ProfileGuard() { Write(existed_ ? saved_.c_str() : nullptr); }
  void Write(const char* value) {
    if (file_.empty())
      WriteProfileStringA(section_.c_str(), key_.c_str(), value);
    else
      WritePrivateProfileStringA(section_.c_str(), key_.c_str(), value, file_.c_str());
  }
  std::string Read() {
    char value[1024];
    Read("", value, sizeof value);
    return value;
  }

 private:
  void Read(const char* fallback, char* value, DWORD size) {
    if (file_.empty())
      GetProfileStringA(section_.c_str(), key_.c_str(), fallback, value, size);
    else
      GetPrivateProfileStringA(section_.c_str(), key_.c_str(), fallback, value, size,
                               file_.c_str());
  }
  std::string file_, section_, key_;
  bool existed_ = false;
  std::string saved_;
};

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    work_ = harness::FreshFolder(std::string("e2e-") + info->name());
    medium_ = work_ + "Medium\\";
    report_ = work_ + "launched.txt";
    SetEnvironmentVariableA("KX_E2E_REPORT", report_.c_str());
    zip_.Write(nullptr);  // no existing installation unless a test sets one
  }
  void TearDown() override {
    setup_.Terminate();
    SetEnvironmentVariableA("KX_E2E_REPORT", nullptr);
  }

  struct Medium {
    std::vector<std::pair<std::string, std::string>> payload;  // besides the main program
    std::string mainProgram;                                   // empty: e2e_mainprog.exe
    size_t companionSize = 3000;
    bool store = false;
  };
  static Medium Payload(std::vector<std::pair<std::string, std::string>> files) {
    Medium medium;
    medium.payload = std::move(files);
    return medium;
  }
  void BuildMedium(const Medium& medium) {
    const std::string companions = work_ + "companions";
    const std::string payload = work_ + "payload";
    CreateDirectoryA(companions.c_str(), nullptr);
    CreateDirectoryA(payload.c_str(), nullptr);
    for (const CompanionFile* c = CompanionFiles; c->name; ++c)
      WriteFile(companions + "\\" + c->name, std::string(medium.companionSize, 'c'));
    for (const auto& [name, bytes] : medium.payload) WriteFile(payload + "\\" + name, bytes);
    if (medium.mainProgram.empty())
      ASSERT_TRUE(CopyFileA(harness::ProgramBeside("e2e_mainprog.exe").c_str(),
                            (payload + "\\" + kMainProgramName).c_str(), FALSE));
    else
      WriteFile(payload + "\\" + kMainProgramName, medium.mainProgram);
    kxmedium::BuildOptions options;
    options.setupProgram = SetupProgram();
    options.companionsDir = companions;
    options.payloadDir = payload;
    options.mediumDir = medium_;
    options.storeOnly = medium.store;
    ASSERT_EQ(kxmedium::BuildMedium(options), 0);
  }

  void Start() {
    setup_ = harness::Process::Start(harness::Quote(medium_ + "SETUP.EXE"), medium_.c_str());
    ASSERT_TRUE(setup_.started());
  }
  HWND Dialog() {
    const HWND dialog = e2e::WaitForSetupWindow(setup_.id(), IDC_FOLDER);
    EXPECT_NE(dialog, nullptr) << "no destination dialog";
    if (dialog) harness::WaitUntilPainted(dialog);
    return dialog;
  }
  // Types the folder and presses OK.
  void Install(HWND dialog, const std::string& folder) {
    ASSERT_TRUE(harness::TypeText(GetDlgItem(dialog, IDC_FOLDER), folder));
    ASSERT_TRUE(harness::ClickControl(dialog, IDOK));
  }
  // The next box of SETUP owned by owner, read once it is painted.
  MessageBoxInfo NextBox(HWND owner = harness::kAnyOwner, DWORD timeoutMs = harness::kTimeout) {
    const HWND box = e2e::WaitForSetupBox(setup_.id(), owner, timeoutMs);
    if (!box) return {};
    harness::WaitUntilPainted(box);
    return harness::ReadMessageBox(box);
  }
  // Clicks the button and waits until the box is gone (the next box may follow at once, so
  // its owner is not awaited).
  void Answer(const MessageBoxInfo& box, int button = IDOK) {
    ASSERT_NE(box.window, nullptr);
    const HWND control = GetDlgItem(box.window, button);
    ASSERT_TRUE(harness::WaitForEnabled(control, true) && harness::Click(control));
    ASSERT_TRUE(harness::WaitForWindowGone(box.window));
  }
  // SETUP ends with exit code 0 and without another box.
  void ExpectEnd() {
    DWORD code = 1;
    harness::WaitFor([&] { return !setup_.Running() || e2e::FindSetupBox(setup_.id()); });
    if (const HWND box = e2e::FindSetupBox(setup_.id()))
      ADD_FAILURE() << "unexpected box: " << harness::ReadMessageBox(box).text;
    ASSERT_TRUE(setup_.WaitExit(harness::kTimeout, &code));
    EXPECT_EQ(code, 0u);
  }
  HWND ProgressWindow() { return e2e::FindSetupWindow(setup_.id(), IDC_METER); }
  // The main program's report: command line, folder, whether the progress window was there.
  std::vector<std::string> WaitReport() {
    harness::WaitFor([&] { return Exists(report_); });
    std::vector<std::string> lines;
    std::string text = ReadFile(report_);
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
      lines.push_back(text.substr(start, end - start));
    return lines;
  }
  void ExpectStartedIn(const std::string& folder) {
    const std::vector<std::string> report = WaitReport();
    ASSERT_EQ(report.size(), 3u) << "the main program was not started";
    EXPECT_EQ(report[0], "\"" + folder + "\\KARVEX32.EXE\" /installS");
    EXPECT_EQ(report[1], folder);
    EXPECT_EQ(report[2], "no progress window");
  }
  void ExpectNotStarted(const std::string& folder) {
    EXPECT_FALSE(Exists(folder + "\\KARVEX32.EXE"));
    EXPECT_FALSE(Exists(report_));
  }
  static void ExpectBox(const MessageBoxInfo& box, const std::string& text, BoxIcon icon,
                        HWND owner, const char* caption = e2e::kSetupTitle) {
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, icon) << harness::IconName(box.icon);
    EXPECT_EQ(box.owner, owner);
    EXPECT_EQ(box.caption, caption);
  }

  std::string work_, medium_, report_;
  harness::Process setup_;
  ProfileGuard zip_{nullptr, "extensions", "zip"};
};

// ---- The whole installation ------------------------------------------------------------------

TEST_F(EndToEnd, WholeInstallationIntoTheProgramFilesDefault) {
  const std::string folder = "C:\\Program Files\\Karvex";
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  BuildMedium(
      Payload({{"README.DOC", std::string(20000, 'r')}, {"NOISE.BIN", Incompressible(30000)}}));
  Start();
  const HWND dialog = Dialog();
  EXPECT_EQ(harness::ControlText(dialog, IDC_FOLDER), folder);
  ASSERT_TRUE(harness::ClickControl(dialog, IDOK));
  ExpectEnd();
  ExpectStartedIn(folder);
  for (const std::string& problem : e2e::MissingFromInstallation(medium_, folder))
    ADD_FAILURE() << problem;
  std::filesystem::remove_all(folder, ignored);
}

TEST_F(EndToEnd, ShortZipAssociationProposesItsLongFolder) {
  const std::string folder = work_ + "Old Karvex Versions\\Karvex Archiver";
  ASSERT_TRUE(CreateDirectoryA((work_ + "Old Karvex Versions").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  char shortForm[MAX_PATH] = "";
  GetShortPathNameA(folder.c_str(), shortForm, sizeof shortForm);
  ASSERT_STRNE(shortForm, folder.c_str());
  ASSERT_EQ(std::string(shortForm).find(' '), std::string::npos);
  zip_.Write((std::string(shortForm) + "\\KARVEX32.EXE ^.ZIP").c_str());
  BuildMedium(Payload({{"README.DOC", "text"}}));
  Start();
  const HWND dialog = Dialog();
  EXPECT_EQ(harness::ControlText(dialog, IDC_FOLDER), folder);
  ASSERT_TRUE(harness::ClickControl(dialog, IDOK));
  ExpectEnd();
  ExpectStartedIn(folder);
  for (const std::string& problem : e2e::MissingFromInstallation(medium_, folder))
    ADD_FAILURE() << problem;
}

TEST_F(EndToEnd, MediumMadeByInfoZipInstallsJustAsWell) {
  const std::string archive =
      harness::WindowsPath(KX_TEST_BINARY_DIR) + "\\tests\\infozip\\setup.kx";
  if (!Exists(archive)) GTEST_SKIP() << "Info-ZIP zip was not found when building";
  // The layout by hand: SETUP.EXE, the companions stamped with its time, zip's setup.kx.
  CreateDirectoryA(medium_.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(SetupProgram().c_str(), (medium_ + "SETUP.EXE").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(archive.c_str(), (medium_ + "setup.kx").c_str(), FALSE));
  WIN32_FIND_DATAA setupData;
  FindClose(FindFirstFileA((medium_ + "SETUP.EXE").c_str(), &setupData));
  for (const CompanionFile* c = CompanionFiles; c->name; ++c) {
    const std::string path = medium_ + c->name;
    WriteFile(path, std::string("companion ") + c->name);
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, nullptr, nullptr, &setupData.ftLastWriteTime);
    CloseHandle(file);
  }
  const std::string folder = work_ + "From Info-ZIP";
  Start();
  Install(Dialog(), folder);
  ExpectEnd();
  ExpectStartedIn(folder);
  for (const std::string& problem : e2e::MissingFromInstallation(medium_, folder))
    ADD_FAILURE() << problem;
}

// ---- Every way the run ends ------------------------------------------------------------------

TEST_F(EndToEnd, RunningMainProgramOfEitherClassStopsTheRunWith1022) {
  BuildMedium({});
  for (const char* className : {"Karvex2WClass", "KarvexWClass"}) {
    harness::Actor running = harness::Actor::MainWindow(className);
    ASSERT_TRUE(running.WaitReady()) << className;
    Start();
    const MessageBoxInfo box = NextBox();
    ExpectBox(box, kAlreadyRunning, BoxIcon::Error, nullptr);
    EXPECT_EQ(e2e::FindSetupWindow(setup_.id(), IDC_FOLDER), nullptr);
    Answer(box);
    ExpectEnd();
    running.Release();
  }
}

TEST_F(EndToEnd, FileManagerKeepingItsAddOnEndsTheRunAfter1044) {
  BuildMedium({});
  const std::string library = work_ + "KXFM.DLL";
  WriteFile(library, "add-on");
  ProfileGuard addOn("winfile.ini", "AddOns", "Karvex");
  addOn.Write(library.c_str());
  harness::Actor fileManager = harness::Actor::FileManager(library, INFINITE);
  ASSERT_TRUE(fileManager.WaitReady());
  Start();
  const MessageBoxInfo box = NextBox();
  ExpectBox(box, kFileManagerBusy, BoxIcon::Error, nullptr);
  EXPECT_EQ(e2e::FindSetupWindow(setup_.id(), IDC_FOLDER), nullptr);
  EXPECT_EQ(addOn.Read(), "");  // the entry is gone and is not written back
  Answer(box);
  ExpectEnd();
  fileManager.Release();
}

TEST_F(EndToEnd, CancelInTheDialogEndsWith1006AndCreatesNothing) {
  BuildMedium({});
  const std::string folder = work_ + "Never";
  Start();
  const HWND dialog = Dialog();
  ASSERT_TRUE(harness::TypeText(GetDlgItem(dialog, IDC_FOLDER), folder));
  ASSERT_TRUE(harness::ClickControl(dialog, IDCANCEL));
  const MessageBoxInfo box = NextBox();
  ExpectBox(box, kNotInstalled, BoxIcon::Information, nullptr);
  Answer(box);
  ExpectEnd();
  EXPECT_FALSE(Exists(folder));
}

TEST_F(EndToEnd, ShellExtensionSwitchedOffEndsQuietly) {
  BuildMedium({});
  const std::string folder = work_ + "Earlier";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  WriteFile(folder + "\\kxshlext.dll", "shell extension");
  harness::Actor explorer = harness::Actor::HoldFile(folder + "\\kxshlext.dll", INFINITE);
  ASSERT_TRUE(explorer.WaitReady());
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "*\\shellex\\ContextMenuHandlers\\Karvex", &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
  ProfileGuard shellSwitch("karvex32.ini", "fm", "shlExt");

  Start();
  const HWND dialog = Dialog();
  Install(dialog, folder);
  const MessageBoxInfo question = NextBox(dialog, kLongTimeout);
  ExpectBox(question, kShellExtensionBusy, BoxIcon::Error, dialog);
  EXPECT_EQ(question.buttons, (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(harness::RawTextOf(GetDlgItem(dialog, IDC_PROMPT2)), std::string(15, '*'));
  Answer(question, IDYES);
  const MessageBoxInfo told = NextBox(dialog);
  ExpectBox(told, kShellExtensionOff, BoxIcon::Information, dialog);
  Answer(told);
  ExpectEnd();  // no message 1006: the user has been told to restart
  EXPECT_NE(RegOpenKeyA(HKEY_CLASSES_ROOT, "*\\shellex\\ContextMenuHandlers\\Karvex", &key),
            ERROR_SUCCESS);
  EXPECT_EQ(shellSwitch.Read(), "0");
  ExpectNotStarted(folder);
  explorer.Release();
}

TEST_F(EndToEnd, FailedCompanionCopyEndsWith1018Then1006) {
  BuildMedium({});
  const std::string folder = work_ + "Dest";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((folder + "\\README.TXT").c_str(), nullptr));  // not writable
  Start();
  Install(Dialog(), folder);
  const HWND progress = e2e::WaitForSetupWindow(setup_.id(), IDC_METER);
  const MessageBoxInfo failure = NextBox(progress);
  ExpectBox(failure, "Cannot open " + folder + "\\README.TXT for writing", BoxIcon::Error,
            progress);
  Answer(failure);
  const MessageBoxInfo notInstalled = NextBox(nullptr);
  EXPECT_EQ(ProgressWindow(), nullptr);  // destroyed before the message
  ExpectBox(notInstalled, kNotInstalled, BoxIcon::Information, nullptr);
  Answer(notInstalled);
  ExpectEnd();
  ExpectNotStarted(folder);
}

// The engine used to run with reportCrcErrors 0: a damaged payload installed corrupted files
// and the run was reported as a success.
TEST_F(EndToEnd, DamagedPayloadInstalledAsSuccess) {
  Medium medium;
  medium.payload = {{"DATA.TXT", std::string(40000, 'd')}};
  medium.store = true;  // a flipped byte then reaches the CRC check, not the inflater
  BuildMedium(medium);
  ASSERT_TRUE(e2e::FlipByteInFirstEntryData(medium_ + "setup.kx"));
  const std::string folder = work_ + "Dest";
  Start();
  Install(Dialog(), folder);
  const HWND progress = e2e::WaitForSetupWindow(setup_.id(), IDC_METER);
  const MessageBoxInfo damaged = NextBox(progress);
  EXPECT_EQ(damaged.text.rfind("ZIP damaged: file " + folder + "\\", 0), 0u) << damaged.text;
  EXPECT_NE(damaged.text.find(": Bad CRC "), std::string::npos) << damaged.text;
  EXPECT_EQ(damaged.icon, BoxIcon::Error);
  EXPECT_EQ(damaged.caption, "Error");  // no caption of its own: the system's default
  Answer(damaged);
  const MessageBoxInfo notInstalled = NextBox(nullptr);
  EXPECT_EQ(ProgressWindow(), nullptr);
  ExpectBox(notInstalled, kNotInstalled, BoxIcon::Information, nullptr);
  Answer(notInstalled);
  ExpectEnd();
  ExpectNotStarted(folder);
}

TEST_F(EndToEnd, CancelConfirmedDuringTheExtractionMovesAndStartsNothing) {
  BuildMedium(Payload({{"BIG.DAT", Incompressible(800000)}}));
  const std::string folder = work_ + "Dest";
  Start();
  const HWND dialog = Dialog();
  const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
  Install(dialog, folder);
  // Held still while the big entry is being read with most of it to come, the Cancel button
  // is clicked; the click is handled at the engine's next message pump.
  const HWND progress = e2e::CatchWhileHeld(
      thread,
      [&]() -> HWND {
        const HWND window = ProgressWindow();
        if (!window || harness::RawTextOf(GetDlgItem(window, IDC_FILENAME)) != "BIG.DAT")
          return nullptr;
        return e2e::MeterPercent(GetDlgItem(window, IDC_METER)) < 50 ? window : nullptr;
      },
      [&](HWND window) { EXPECT_TRUE(harness::ClickControl(window, IDCANCEL)); });
  ASSERT_NE(progress, nullptr) << "the extraction of BIG.DAT was not caught";
  const MessageBoxInfo question = NextBox(progress);
  ExpectBox(question, kConfirmCancel, BoxIcon::Question, progress);
  EXPECT_EQ(question.buttons, (std::vector<int>{IDYES, IDNO}));
  Answer(question, IDYES);
  const MessageBoxInfo notInstalled = NextBox(nullptr);
  EXPECT_EQ(ProgressWindow(), nullptr);
  ExpectBox(notInstalled, kNotInstalled, BoxIcon::Information, nullptr);
  Answer(notInstalled);
  ExpectEnd();
  ExpectNotStarted(folder);
  EXPECT_FALSE(Exists(folder + "\\BIG.DAT"));  // the file being written is deleted
}

TEST_F(EndToEnd, PayloadWithoutStagedMainProgramEndsWith1018WhileProgressShows) {
  BuildMedium(Payload({{"README.DOC", "text"}}));
  ASSERT_TRUE(e2e::RenameEntry(medium_ + "setup.kx", "KARVEX32.EX_", "KARVEX32.EXX"));
  const std::string folder = work_ + "Dest";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  WriteFile(folder + "\\KARVEX32.EXE", "the old main program");
  Start();
  Install(Dialog(), folder);
  const HWND progress = e2e::WaitForSetupWindow(setup_.id(), IDC_METER);
  const MessageBoxInfo failure = NextBox(progress);
  ExpectBox(failure, "Cannot open " + folder + "\\KARVEX32.EXE for writing", BoxIcon::Error,
            progress);
  Answer(failure);
  const MessageBoxInfo notInstalled = NextBox(nullptr);
  EXPECT_EQ(ProgressWindow(), progress);  // still on the screen
  EXPECT_TRUE(IsWindowVisible(progress));
  ExpectBox(notInstalled, kNotInstalled, BoxIcon::Information, nullptr);
  Answer(notInstalled);
  ExpectEnd();
  ExpectNotStarted(folder);  // the old main program is gone too
  EXPECT_TRUE(Exists(folder + "\\KARVEX32.EXX"));
}

TEST_F(EndToEnd, BothLaunchesFailingShowErrorRunningWithoutCaption) {
  Medium medium;
  medium.mainProgram = "This is not a program.";
  BuildMedium(medium);
  const std::string folder = work_ + "Dest";
  Start();
  Install(Dialog(), folder);
  const MessageBoxInfo box = NextBox(nullptr);
  ExpectBox(box, "Error running " + folder + "\\KARVEX32.EXE", BoxIcon::None, nullptr, "Error");
  EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
  EXPECT_EQ(ProgressWindow(), nullptr);
  Answer(box);
  ExpectEnd();
  EXPECT_EQ(ReadFile(folder + "\\KARVEX32.EXE"), medium.mainProgram);  // renamed all the same
}

// ---- The destination dialog ------------------------------------------------------------------

TEST_F(EndToEnd, DialogRefusalsKeepItOpenAndTheTotalCountsOnlyThePassingPress) {
  BuildMedium(Payload({{"BIG.DAT", Incompressible(150000)}}));
  WIN32_FIND_DATAA payload;
  FindClose(FindFirstFileA((medium_ + "setup.kx").c_str(), &payload));
  const uint32_t expectedRange = ((7 * 3000 + payload.nFileSizeLow) >> 10) / 10;
  Start();
  const HWND dialog = Dialog();
  const HWND field = GetDlgItem(dialog, IDC_FOLDER);
  const HWND ok = GetDlgItem(dialog, IDOK);

  std::string source = medium_.substr(0, medium_.size() - 1);
  CharLowerBuffA(source.data(), static_cast<DWORD>(source.size()));
  const std::string deep = work_ + "New\\Karvex";
  struct Refusal {
    std::string typed, text;
    BoxIcon icon;
  };
  const Refusal refusals[] = {
      {"Karvex", "Invalid destination folder", BoxIcon::Error},
      {"\\Karvex", "Invalid destination folder", BoxIcon::Error},
      {source,
       "\"Install To\" folder must be different than \"Install From\" folder.  Please specify a "
       "different folder.",
       BoxIcon::Error},
      {deep,
       "The " + deep + " folder cannot be created.\nEnter another folder or try another drive.",
       BoxIcon::Information},
  };
  for (const Refusal& r : refusals) {
    Install(dialog, r.typed);
    const MessageBoxInfo box = NextBox(dialog);
    ExpectBox(box, r.text, r.icon, dialog);
    Answer(box);
    EXPECT_TRUE(harness::WaitForEnabled(field, true) && harness::WaitForEnabled(ok, true))
        << r.typed;
  }
  EXPECT_FALSE(Exists(work_ + "New"));

  ASSERT_TRUE(harness::TypeText(field, ""));
  EXPECT_TRUE(harness::WaitForEnabled(ok, false));
  ASSERT_TRUE(harness::TypeText(field, "C"));
  EXPECT_TRUE(harness::WaitForEnabled(ok, true));

  const std::string folder = work_ + "Karvex";
  const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
  Install(dialog, folder);
  uint32_t range = 0;
  // The range is set right after the window is shown; the copy then names its action.
  e2e::CatchWhileHeld(
      thread,
      [&]() -> HWND {
        const HWND window = ProgressWindow();
        return window && harness::RawTextOf(GetDlgItem(window, IDC_ACTION)) == "Installing"
                   ? window
                   : nullptr;
      },
      [&](HWND window) {
        range = static_cast<uint16_t>(GetWindowLongA(GetDlgItem(window, IDC_METER), 0));
      });
  EXPECT_EQ(range, expectedRange);
  ExpectEnd();
  ExpectStartedIn(folder);
}

TEST_F(EndToEnd, MissingPayloadIsNamedInABoxWithoutOwnerOrCaption) {
  BuildMedium({});
  ASSERT_TRUE(DeleteFileA((medium_ + "setup.kx").c_str()));
  const std::string folder = work_ + "Dest";
  Start();
  const HWND dialog = Dialog();
  Install(dialog, folder);
  const MessageBoxInfo box = NextBox(nullptr);
  ExpectBox(box, "setup.kx is missing", BoxIcon::None, nullptr, "Error");
  Answer(box);
  EXPECT_FALSE(Exists(folder));
  ASSERT_TRUE(harness::ClickControl(dialog, IDCANCEL));
  const MessageBoxInfo notInstalled = NextBox(nullptr);
  ExpectBox(notInstalled, kNotInstalled, BoxIcon::Information, nullptr);
  Answer(notInstalled);
  ExpectEnd();
}

}  // namespace
