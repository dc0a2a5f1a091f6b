// Extension release under Wine: the exclusive-open wait, File Manager's add-on, the shell
// extension (free, let go during the waits, or kept and switched off) and registry trees. This
// thread plays File Manager and Explorer, letting their files go from the wait's message pump.
#include "setup/release.h"
#include "tests/wine/support.h"

using namespace kxtest;

constexpr char kAlwaysUnload[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AlwaysUnloadDLL";
// Three of the shell extension's keys, then keys beside them that belong to others and stay.
const char* const kShellKeys[] = {"CLSID\\{3f8b6c00-51a2-11cf-b7d4-0020af3e9c10}",
                                  "Karvex\\shellex\\DropHandler",
                                  "Directory\\shellex\\ContextMenuHandlers\\Karvex",
                                  "CLSID\\{3f8b6c03-51a2-11cf-b7d4-0020af3e9c10}",
                                  "Karvex\\shellex\\Other",
                                  "Folder\\shellex\\ContextMenuHandlers\\Other"};

bool KeyExists(HKEY root, const std::string& path) {
  platform::RegistryKey key;
  return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

// The file another program keeps open (others may read it, none may open it exclusively).
HANDLE g_held = INVALID_HANDLE_VALUE;
void CALLBACK LetGo(HWND = nullptr, UINT = 0, UINT_PTR timer = 0, DWORD = 0) {
  KillTimer(nullptr, timer);
  CloseHandle(g_held);
  g_held = INVALID_HANDLE_VALUE;
}
void Hold(const std::string& path) {
  g_held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, 0);
}

// File Manager's frame: "reload add-ons" (1543) has it let the add-on go g_addOnDelay later.
DWORD g_addOnDelay;
LRESULT CALLBACK FileManager(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER + 0x207 && g_addOnDelay != INFINITE)
    SetTimer(nullptr, 0, g_addOnDelay, LetGo);
  return DefWindowProcA(window, message, wParam, lParam);
}

// Each test starts and ends with the prefix clean: it is shared by every test of the session.
struct Release : ::testing::Test {
  void SetUp() override {
    TearDown();
    lstrcpyA(g_setup.destDir, folder_.c_str());
  }
  void TearDown() override {
    LetGo();
    WritePrivateProfileStringA("AddOns", nullptr, nullptr, "winfile.ini");
    WritePrivateProfileStringA("fm", nullptr, nullptr, "karvex32.ini");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAlwaysUnload);
    for (const char* key : kShellKeys) DeleteRegistryTree(HKEY_CLASSES_ROOT, key);
    DeleteRegistryTree(HKEY_CLASSES_ROOT, "Karvex");
  }
  static std::string Profile(const char* file, const char* section, const char* key) {
    return ProfileGuard(file, section, key).Read("<none>");
  }
  FreshState state_;
  const std::string folder_ = FreshFolder(), library_ = folder_ + "kxshlext.dll";
};

// No time at all allows not one try. The tick count wraps to 0 after 49.7 days: the budget
// counts on across it.
TEST_F(Release, ExclusiveOpenIsTriedOnlyWithinTheBudget) {
  WriteFile(library_, "library");
  EXPECT_EQ(WaitUntilExclusive(library_.c_str(), 0), 0);
  EXPECT_EQ(WaitUntilExclusive(library_.c_str(), 2000), 1);
  EXPECT_TRUE(WithinBudget(0xFFFFFF00, 0x10, 2000));
  EXPECT_FALSE(WithinBudget(0xFFFFFF00, 0x700, 2000));
}

TEST_F(Release, FileManagerIsAskedToReloadItsAddOnAndWaitedForTwoSeconds) {
  const std::string addOn = folder_ + "kxfm.dll";
  const WNDCLASSA frameClass = {0, FileManager, 0, 0, 0, 0, 0, 0, 0, "WFS_Frame"};
  RegisterClassA(&frameClass);
  // The entry, File Manager, the add-on's release after "reload" (INFINITE: never), result.
  const std::tuple<bool, bool, DWORD, int> cases[] = {
      {false, true, 0, 1}, {true, false, 0, 1}, {true, true, 300, 1}, {true, true, INFINITE, 0}};
  for (const auto& [entry, fileManager, releaseDelay, result] : cases) {
    WriteFile(addOn, "add-on");
    Hold(addOn);
    WritePrivateProfileStringA("AddOns", "Karvex", entry ? addOn.c_str() : nullptr, "winfile.ini");
    WritePrivateProfileStringA("AddOns", "Other", "C:\\other.dll", "winfile.ini");
    g_addOnDelay = releaseDelay;
    const HWND frame = fileManager ? CreateWindowA("WFS_Frame", "", 0, 0, 0, 9, 9, 0, 0, 0, 0) : 0;
    BoxRecorder boxes;
    const DWORD start = GetTickCount();
    EXPECT_EQ(ReleaseFileManagerExtension(), result);
    const bool asked = entry && fileManager;
    EXPECT_EQ(Profile("winfile.ini", "AddOns", "Karvex"), entry && !asked ? addOn : "<none>");
    EXPECT_EQ(Profile("winfile.ini", "AddOns", "Other"), "C:\\other.dll");
    EXPECT_GE(GetTickCount() - start + 16, result ? (asked ? releaseDelay : 0) : 2000u);
    const Box busy{nullptr, LoadMessageText(MSG_FILE_MANAGER_BUSY), "Karvex Setup", MB_ICONERROR};
    EXPECT_EQ(boxes.boxes, result ? std::vector<Box>{} : std::vector<Box>{busy});
    DestroyWindow(frame);
    LetGo();
  }
}

TEST_F(Release, ShellExtensionIsWaitedForThenSwitchedOffOrKept) {
  const std::string wait = "Please wait a moment while the Karvex Shell Extension is unloaded.|";
  // The library there, the stars shown when Explorer lets it go ("": not held), the answer to
  // the question, the result, the prompts then ("": as they were), the least time, and how many
  // boxes show: the question, then that it is switched off.
  const std::tuple<bool, const char*, int, int, std::string, DWORD, int> cases[] = {
      {false, "", IDOK, 1, "", 0, 0},
      {true, "", IDOK, 1, "", 0, 0},
      {true, "**", IDOK, 1, wait + "**", 2500, 0},
      {true, "never", IDNO, 1006, wait + std::string(15, '*'), 16500, 1},
      {true, "never", IDYES, 0, wait + std::string(15, '*'), 16500, 2},
  };
  for (const auto& [present, letGoAt, answer, result, after, atLeast, shown] : cases) {
    TearDown();
    for (const char* key : kShellKeys)
      for (const char* sub : {"\\InprocServer32\\Deeper", "\\Sibling"})
        RegSetValueA(HKEY_CLASSES_ROOT, (std::string(key) + sub).c_str(), REG_SZ, "x", 1);
    DeleteFileA(library_.c_str());
    if (present) WriteFile(library_, "shell extension");
    if (*letGoAt) Hold(library_);
    g_setup.busyCursor = 0;
    Dialog dialog(IDD_DESTINATION);
    const auto prompts = [&] { return dialog.Text(IDC_PROMPT1) + "|" + dialog.Text(IDC_PROMPT2); };
    const std::string before = prompts();
    WindowSpy spy(dialog.item(IDC_PROMPT2), [stars = letGoAt](UINT message, WPARAM, LPARAM text) {
      if (message == WM_SETTEXT && lstrcmpA(reinterpret_cast<const char*>(text), stars) == 0)
        LetGo();
    });
    BoxRecorder boxes({answer});
    const DWORD start = GetTickCount();
    EXPECT_EQ(ReleaseShellExtension(dialog.window), result);
    EXPECT_GE(GetTickCount() - start + 16, atLeast);
    const Box all[] = {{dialog.window, LoadMessageText(MSG_SHELL_EXTENSION_BUSY), "Karvex Setup",
                        MB_ICONERROR | MB_YESNO},
                       {dialog.window, LoadMessageText(MSG_SHELL_EXTENSION_OFF), "Karvex Setup",
                        MB_ICONINFORMATION}};
    EXPECT_EQ(boxes.boxes, std::vector<Box>(all, all + shown));
    EXPECT_EQ(prompts(), after.empty() ? before : after);
    EXPECT_EQ(g_setup.busyCursor, result != 1);
    char value[8] = "";
    LONG size = sizeof value;
    RegQueryValueA(HKEY_LOCAL_MACHINE, kAlwaysUnload, value, &size);
    EXPECT_STREQ(value, atLeast ? "1" : "");
    EXPECT_EQ(Profile("karvex32.ini", "fm", "shlExt"), result ? "<none>" : "0");
    for (size_t k = 0; k < std::size(kShellKeys); ++k)
      EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, kShellKeys[k]), result || k >= 3) << k;
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Karvex\\shellex"));
  }
}

// A subkey whose path would need 512 characters is refused before anything is deleted; at 511
// the path is built and handed to the system.
TEST_F(Release, RegistryTreeRefusesAPathTooLongForItsBuffer) {
  HKEY edge;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\KarvexTest", &edge), ERROR_SUCCESS);
  const std::string parent = std::string(255, 'a') + "\\bbbb";
  for (const size_t child : {511 - parent.size(), 510 - parent.size()}) {
    HKEY key = edge;
    for (const std::string& level : {parent, std::string(child, 'n')}) {
      HKEY next = nullptr;
      EXPECT_EQ(RegCreateKeyA(key, level.c_str(), &next), ERROR_SUCCESS);
      if (key != edge) RegCloseKey(key);
      key = next;
    }
    RegCloseKey(key);
    const LONG result = DeleteRegistryTree(edge, parent.c_str());
    EXPECT_EQ(result == ERROR_FILENAME_EXCED_RANGE, parent.size() + 1 + child >= 512) << child;
    EXPECT_TRUE(result != ERROR_FILENAME_EXCED_RANGE || KeyExists(edge, parent)) << child;
  }
  EXPECT_EQ(DeleteRegistryTree(edge, "none"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(edge);
  DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\KarvexTest");
}
