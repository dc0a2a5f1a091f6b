// The steps of the installation sequence under Wine, one table per step with a row for each way
// it can end: the proposed folder, the start-up checks, the destination dialog, the payload
// extraction, the renaming of the staged main program and its launch.
#include "setup/install.h"

#include "setup/destination.h"
#include "setup/lookup.h"
#include "tests/wine/harness/harness.h"
#include "tests/wine/support.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using namespace kxtest;

// The box the setup shows for message id, its %s filled with arg.
Box Message(HWND owner, unsigned id, unsigned flags, const std::string& arg = "") {
  char text[kShowMessageOutputSize];
  platform::FormatText(text, sizeof text, LoadMessageText(id), arg.c_str());
  return {owner, text, "Karvex Setup", flags};
}

// Builds work + "medium\\" (companions of 1000 bytes and the payload) as the run's source, with
// work + "dest" as its destination.
void UseMedium(const std::string& work, const std::string& payload) {
  ASSERT_TRUE(BuildMedium(work, {{"KARVEX32.EXE", "M"}, {"DATA.TXT", payload}}, 1000, false));
  ASSERT_TRUE(CreateDirectoryA((work + "dest").c_str(), nullptr));
  lstrcpyA(g_setup.destPath, (work + "dest").c_str());
  lstrcpyA(g_setup.destDir, (work + "dest\\").c_str());
  lstrcpyA(g_setup.sourceDir, (work + "medium\\").c_str());
  ASSERT_EQ(LookUpFile((work + "medium\\SETUP.EXE").c_str()), 0);
  g_setup.setupTime = FoundFileData.lastWrite;  // the companions are stamped with its time
}

// Leaves non-zero bytes on the stack below the caller, where the next call's locals will lie,
// so that a value read without its terminator shows what follows it.
__attribute__((noinline)) void DirtyStack() {
  volatile char junk[4096];
  for (volatile char& c : junk) c = 'X';
}

// The association's folder is proposed in its long form, which Wine's 8.3 names test.
TEST(ProposeDefaultDir, ProgramFilesReadOnlyWhenItFitsOrTheKarvexAssociationInItsLongForm) {
  FreshState state;
  const std::string folder = FreshFolder();  // named after the test: its short form differs
  std::string shortName(MAX_PATH, '\0');
  shortName.resize(GetShortPathNameA(folder.c_str(), shortName.data(), MAX_PATH));
  ASSERT_NE(shortName, folder);
  RegistryValueGuard programFiles("Software\\Microsoft\\Windows\\CurrentVersion",
                                  "ProgramFilesDir");
  ProfileGuard zip(nullptr, "extensions", "zip");
  const std::string p200(200, 'P'), pf = std::string("C:\\PF\0", 6);
  // The program-files value's type (0: none) and bytes, the association ("": none), the folder.
  const std::tuple<DWORD, std::string, std::string, std::string> cases[] = {
      {REG_SZ, pf, "", "C:\\PF\\Karvex"},
      {REG_BINARY, p200, "", p200 + "\\Karvex"},
      {REG_BINARY, p200 + "P", "", "C:\\Karvex"},
      {REG_SZ, std::string("\0", 1), "", "C:\\Karvex"},
      {0, "", "", "C:\\Karvex"},
      {REG_SZ, pf, shortName + "KARVEX32.EXE ^.ZIP", folder.substr(0, folder.size() - 1)},
      // Read to 299 characters: the last separator is cut off, the one before it counts.
      {REG_SZ, pf, "C:\\A\\KARVEX" + std::string(288, 'x') + "\\", "C:\\A"},
  };
  for (const auto& [type, stored, association, proposed] : cases) {
    type ? programFiles.Set(type, stored) : programFiles.Remove();
    zip.Write(association.empty() ? nullptr : association.c_str());
    DirtyStack();
    ProposeDefaultDir();
    EXPECT_EQ(std::string(g_setup.defaultDir), proposed) << stored << association;
  }
  char out[8] = "";
  EXPECT_EQ(ReadProgramFilesDir(out, 5), 0);  // with its terminator, no room
  platform::RegistryKey empty;  // a machine without the key: the whole tree seen as empty
  RegCreateKeyA(HKEY_CURRENT_USER, "Software\\KxEmpty", empty.Receive());
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, empty.get());
  EXPECT_EQ(ReadProgramFilesDir(out, sizeof out), 0);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
}

// Texts come from this program even where the module is another one, or none. The progress
// window, when it can be shown, is up with its meter's range in tens of kilobytes.
TEST(StartUp, ModuleWithoutAPathOrWindowsThatCannotBeShownEndTheRunOrTheProgressShows) {
  FreshState state;
  const Box notInstalled = Message(nullptr, MSG_NOT_INSTALLED, 8256);
  {
    BoxRecorder boxes;  // puts back the hooks it found, without this one, when it ends
    platform::HostHooks hooks = platform::CurrentHostHooks();
    hooks.loadString = [](unsigned id, char* b, int n) { return LoadStringA(nullptr, id, b, n); };
    platform::SetHostHooks(hooks);
    g_setup.instance = reinterpret_cast<HINSTANCE>(0x1230);  // a module without a path
    EXPECT_FALSE(LocateSource());
    g_setup.instance = GetModuleHandleA("kernel32.dll");  // holds neither dialog template
    EXPECT_FALSE(ChooseDestination() || OpenProgressWindow());
    const Box missing = Message(nullptr, MSG_MISSING_FILE, 16, "SETUP.EXE");
    EXPECT_EQ(boxes.boxes, (std::vector<Box>{missing, notInstalled, notInstalled}));
  }
  g_setup.instance = GetModuleHandleA(nullptr);
  g_setup.totalKB = 1234;  // the meter counts tens of kilobytes
  ASSERT_TRUE(OpenProgressWindow());
  const HWND window = static_cast<HWND>(g_setup.progressWindow);
  EXPECT_EQ(SendDlgItemMessageA(window, IDC_METER, MM_GETRANGE, 0, 0), 123);
  CloseProgressWindow();
  EXPECT_FALSE(IsWindow(window) || g_setup.progressWindow);
}

bool Extract() { return ExtractPayload() == 1; }

// Its first row: a failed companion copy ends the run before the payload, none of which is
// installed.
TEST(Payload, EveryEntryIsExtractedWithItsTimeOrOneBoxSaysWhyNot) {
  FreshState state;
  const std::string work = FreshFolder(), dest = work + "dest", data(40000, 'd');
  UseMedium(work, data);
  // The step, the source folder ("": the medium), its box ("": done), whether the staged main
  // program is there afterwards.
  const Box missing = {nullptr, kPayloadMissingText, "<none>", 0};
  const Box unopened = {nullptr, "Can't open input file: C:\\nowhere\\setup.kx", "<none>", 16};
  const std::tuple<bool (*)(), std::string, std::vector<Box>, bool> cases[] = {
      {CopyAndExtract, "", {Message(nullptr, MSG_MISSING_FILE, 16, "LICENSE.TXT")}, false},
      {Extract, "", {}, true},
      {Extract, "C:\\" + std::string(250, 's') + "\\", {missing}, true},
      {Extract, "C:\\nowhere\\", {unopened}, true},
  };
  // The third companion is lost: the first two copy well.
  ASSERT_TRUE(DeleteFileA((work + "medium\\LICENSE.TXT").c_str()));
  for (const auto& [step, source, box, staged] : cases) {
    if (!source.empty()) lstrcpyA(g_setup.sourceDir, source.c_str());
    BoxRecorder boxes;
    EXPECT_EQ(step(), box.empty()) << source;
    EXPECT_EQ(boxes.boxes, box);
    EXPECT_EQ(Exists(dest + "\\KARVEX32.EX_"), staged);
  }
  EXPECT_EQ(ReadFile(dest + "\\DATA.TXT"), data);
  // The archive holds local times to two seconds; the file gets its universal time back.
  const uint64_t source = LastWrite(work + "payload\\DATA.TXT");
  EXPECT_LT(source - LastWrite(dest + "\\DATA.TXT") + 20000000, 40000000u);
}

TEST(FinalizeMainProgram, StagedFileReplacesTheMainProgramOrNothingIsLeft) {
  FreshState state;
  g_setup.progressWindow = HWND(0x1234);  // recorded as the owner only
  const std::string folder = FreshFolder(), longFolder = "C:\\" + std::string(246, 'f') + "\\";
  // Whether a folder stands where the main program goes, so that it cannot be replaced, and
  // whether the folder is too long (250 characters and 12 of name: refused, nothing touched).
  const std::pair<bool, bool> cases[] = {{false, false}, {true, false}, {false, true}};
  for (const auto& [blocked, tooLong] : cases) {
    const std::string in = tooLong ? longFolder : folder, path = in + "KARVEX32.EXE";
    if (blocked) CreateDirectoryA(path.c_str(), nullptr);
    WriteFile(blocked ? path + "\\in" : path, "old");  // in the folder, which stays then
    WriteFile(folder + "KARVEX32.EX_", "new");
    BoxRecorder boxes;
    const bool ok = !blocked && !tooLong;
    EXPECT_EQ(FinalizeMainProgram(in.c_str(), "KARVEX32.EXE"), ok ? 1 : 0);
    EXPECT_EQ(ReadFile(path), ok ? "new" : "");
    EXPECT_EQ(Exists(folder + "KARVEX32.EX_"), tooLong);
    const Box refused = Message(HWND(0x1234), MSG_CANNOT_OPEN_FOR_WRITING, 16, path);
    EXPECT_EQ(boxes.boxes, ok ? std::vector<Box>{} : std::vector<Box>{refused});
    DeleteFileA(path.c_str());
  }
}

// The first command, the quoted full path, is what the whole runs start; here it finds nothing:
// the bare name starts the program in the folder made current, or an error box shows.
TEST(LaunchMainProgram, WithoutTheFullPathTheBareNameInTheDestinationThenAnErrorBox) {
  FreshState state;
  const std::string work = FreshFolder(), blank = work + "Pro gram", empty = work + "Empty";
  for (const std::string& folder : {blank, empty}) CreateDirectoryA(folder.c_str(), nullptr);
  const std::string probe = harness::WindowsPath(KX_TEST_BINARY_DIR) + "\\tests\\kxprobe.exe";
  ASSERT_TRUE(CopyFileA(probe.c_str(), (blank + "\\KARVEX32.EXE").c_str(), FALSE));
  const std::string report = blank + "\\KARVEX32.EXE.launched";
  lstrcpyA(g_setup.destDir, (empty + "\\").c_str());
  const Box failed = {nullptr, "Error running " + empty + "\\KARVEX32.EXE", "<none>", 0};
  for (const std::string& current : {blank, empty}) {
    lstrcpyA(g_setup.destPath, current.c_str());
    BoxRecorder boxes;
    const bool found = current == blank;
    EXPECT_EQ(LaunchMainProgram(), found ? 1 : 0);
    EXPECT_EQ(boxes.boxes, found ? std::vector<Box>{} : std::vector<Box>{failed});
    EXPECT_TRUE(!found || harness::WaitFor([&] { return Exists(report); }));
    EXPECT_EQ(ReadFile(report), found ? "KARVEX32.EXE /install" + std::string(kLaunchSuffix) +
                                            "\n" + blank + "\nno progress window\n"
                                      : "");
    DeleteFileA(report.c_str());
  }
}

// One session of the destination dialog: opened proposing the folder, every refusal keeping it
// open with its message, then the press that passes ending it with the folder made, entered and
// counted.
TEST(DestinationDialog, OpensWithTheProposalRefusesEachBadFolderAndEndsOnAGoodOne) {
  FreshState state;
  const std::string work = FreshFolder(), payload = work + "medium\\setup.kx",
                    fresh = work + "New\\Karvex";
  UseMedium(work, "d");
  lstrcpyA(g_setup.defaultDir, (work + "Proposed").c_str());
  const HWND dialog = CreateDialogParamA(
      GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_DESTINATION), nullptr, DestinationDlgProc, 0);
  ShowWindow(dialog, SW_SHOW);
  const auto enabled = [&](int id) { return IsWindowEnabled(GetDlgItem(dialog, id)); };
  // Puts the text into the field and presses OK; true when that ended the dialog.
  const auto press = [&](const std::string& typed) {
    SetDlgItemTextA(dialog, IDC_FOLDER, typed.c_str());
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    return !IsWindowVisible(dialog);
  };
  EXPECT_EQ(harness::RawTextOf(dialog) + "|" + harness::ControlText(dialog, IDC_FOLDER),
            "Karvex Setup|" + work + "Proposed");
  RECT r;  // centred on the screen
  GetWindowRect(dialog, &r);
  EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2);
  EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_FOLDER, EM_GETLIMITTEXT, 0, 0), 259);
  SetDlgItemTextA(dialog, IDC_FOLDER, "");
  EXPECT_FALSE(enabled(IDOK));
  // The folder typed, the box it brings, whether the payload is taken away for it.
  const std::tuple<std::string, Box, bool> cases[] = {
      // Longer than the field accepts from the keyboard: refused, not cut.
      {work + std::string(MAX_PATH, 'L'), Message(dialog, MSG_INVALID_DESTINATION, 16), false},
      {work + "MEDIUM", Message(dialog, MSG_SAME_FOLDER, 16), false},
      {work + "Dest", {nullptr, kPayloadMissingText, "<none>", 0}, true},
      {fresh, Message(dialog, MSG_CANNOT_CREATE_FOLDER, 64, fresh), false},
  };
  for (const auto& [typed, box, hidden] : cases) {
    if (hidden) MoveFileA(payload.c_str(), (payload + "~").c_str());
    BoxRecorder boxes;
    EXPECT_FALSE(press(typed)) << typed;
    EXPECT_EQ(boxes.boxes, std::vector<Box>{box});
    if (hidden) MoveFileA((payload + "~").c_str(), payload.c_str());
  }
  // Typed with a doubled separator: the folder is made and entered, the dialog ends.
  EXPECT_TRUE(press(work + "Karvex\\\\"));
  EXPECT_EQ(
      g_setup.destPath + ("|" + std::filesystem::current_path().string()) + "|" + g_setup.destDir,
      work + "Karvex\\|" + work + "Karvex|" + work + "Karvex\\");
  // Counted afresh: the refused presses had counted theirs too.
  EXPECT_EQ(g_setup.totalKB, (7 * 1000 + std::filesystem::file_size(payload)) >> 10);
  EXPECT_FALSE(enabled(IDOK) || enabled(IDCANCEL) || enabled(IDC_FOLDER));
  g_setup.busyCursor = 1;  // as while the shell extension is let go: the hourglass shows
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
  SendMessageA(dialog, WM_SETCURSOR, 0, 0);
  EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_WAIT));
  DestroyWindow(dialog);
}

}  // namespace
