// Extension release under Wine: the exclusive-open wait (its budget, and the messages it keeps
// flowing), File Manager's add-on, the shell extension (nothing to release, released during the
// third wait, never released and switched off or kept) and the deletion of registry trees.
// File Manager and Explorer are played by this thread: a frame window and file handles that
// the wait's own message pump lets go.
#include "setup/release.h"
#include "tests/wine/harness/harness.h"
#include "tests/wine/support.h"

#include <gtest/gtest.h>

namespace {

using namespace kxtest;

constexpr char kAlwaysUnload[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AlwaysUnloadDLL";
const char* const kShellKeys[] = {
    "CLSID\\{3f8b6c00-51a2-11cf-b7d4-0020af3e9c10}",
    "CLSID\\{3f8b6c01-51a2-11cf-b7d4-0020af3e9c10}",
    "CLSID\\{3f8b6c02-51a2-11cf-b7d4-0020af3e9c10}", "Karvex\\shellex\\DropHandler",
    "Directory\\shellex\\DragDropHandlers\\Karvex", "Drive\\shellex\\DragDropHandlers\\Karvex",
    "Folder\\shellex\\DragDropHandlers\\Karvex", "*\\shellex\\ContextMenuHandlers\\Karvex",
    "Folder\\shellex\\ContextMenuHandlers\\Karvex",
    "Directory\\shellex\\ContextMenuHandlers\\Karvex",
    // Keys beside them that belong to others and must stay.
    "CLSID\\{3f8b6c03-51a2-11cf-b7d4-0020af3e9c10}", "Karvex\\shellex\\Other",
    "Folder\\shellex\\ContextMenuHandlers\\Other"};
constexpr size_t kOwnKeys = 10;

bool KeyExists(HKEY root, const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

DWORD Since(DWORD start) { return GetTickCount() - start; }

// The file opened as Explorer or File Manager keeps it (others may read, none may open it
// exclusively) until LetGo(), or LetGoAfter(ms) has a timer, dispatched by a message pump, do it.
HANDLE g_held = INVALID_HANDLE_VALUE;
void Hold(const std::string& path) {
  g_held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, 0);
}
void LetGo() {
  CloseHandle(g_held);
  g_held = INVALID_HANDLE_VALUE;
}
void CALLBACK LetGoNow(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  LetGo();
}
void LetGoAfter(DWORD ms) {
  if (ms != INFINITE) SetTimer(nullptr, 0, ms, LetGoNow);
}

// File Manager's frame: "reload add-ons" (1543) marks its title and lets the add-on go later.
DWORD g_addOnDelay;
LRESULT CALLBACK FileManager(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_USER + 0x207) return DefWindowProcA(window, message, wParam, lParam);
  SetWindowTextA(window, "reloaded");
  LetGoAfter(g_addOnDelay);
  return 0;
}

std::vector<UINT> g_seen;
LRESULT CALLBACK Recording(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP || message == WM_KEYDOWN || message == WM_CHAR) g_seen.push_back(message);
  return DefWindowProcA(window, message, wParam, lParam);
}

class Release : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = FreshFolder();
    lstrcpyA(g_setup.destDir, folder_.c_str());
    library_ = folder_ + "kxshlext.dll";
    TearDown();
  }
  // The prefix is shared by every test of the session: each starts and ends clean.
  void TearDown() override {
    LetGo();
    WritePrivateProfileStringA("AddOns", nullptr, nullptr, "winfile.ini");
    WritePrivateProfileStringA("fm", nullptr, nullptr, "karvex32.ini");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAlwaysUnload);
    for (const char* key : kShellKeys) DeleteRegistryTree(HKEY_CLASSES_ROOT, key);
    DeleteRegistryTree(HKEY_CLASSES_ROOT, "Karvex");
  }
  std::string Profile(const char* section, const char* key, const char* file) {
    return ProfileGuard(file, section, key).Read("<none>");
  }
  FreshState state_;
  std::string folder_, library_;
};

TEST_F(Release, ExclusiveOpenIsWaitedForWithinTheBudget) {
  WriteFile(library_, "library");
  const struct {
    DWORD holdMs;  // how long the file is kept open; 0: not at all
    bool missing;
    DWORD budget;
    int result;
    DWORD atLeast;  // elapsed milliseconds
  } cases[] = {{0, false, 0, 0, 0},
               {0, false, 2000, 1, 0},
               {0, true, 300, 0, 300},
               {INFINITE, false, 300, 0, 300},
               {400, false, 20000, 1, 400}};
  for (const auto& c : cases) {
    if (c.holdMs) Hold(library_);
    if (c.holdMs) LetGoAfter(c.holdMs);
    const DWORD start = GetTickCount();
    EXPECT_EQ(WaitUntilExclusive((c.missing ? folder_ + "none.dll" : library_).c_str(), c.budget),
              c.result);
    EXPECT_GE(Since(start) + 16, c.atLeast) << "the tick count moves in steps of up to 16 ms";
    LetGo();
  }
  const struct {
    DWORD start, now, budget;
    bool within;
  } ticks[] = {{100, 100, 0, false},
               {100, 2099, 2000, true},
               {100, 2100, 2000, false},
               {0xFFFFFF00, 0x10, 2000, true},
               {0xFFFFFF00, 0x700, 2000, false},
               {0xFFFFFC18, 0x3E7, 2000, true}};
  for (const auto& t : ticks) EXPECT_EQ(WithinBudget(t.start, t.now, t.budget), t.within) << t.now;
}

TEST_F(Release, WaitKeepsMessagesFlowingWithoutTranslatingKeys) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = Recording;
  wc.lpszClassName = "KxWaitTarget";
  RegisterClassA(&wc);
  const HWND target = CreateWindowA(wc.lpszClassName, "", WS_POPUP, 0, 0, 9, 9, 0, 0, 0, 0);
  PostMessageA(target, WM_APP, 0, 0);
  PostMessageA(target, WM_KEYDOWN, 'A', 0x001E0001);
  EXPECT_EQ(WaitUntilExclusive((folder_ + "none.dll").c_str(), 200), 0);
  EXPECT_EQ(g_seen, (std::vector<UINT>{WM_APP, WM_KEYDOWN})) << "no WM_CHAR";
  DestroyWindow(target);
}

TEST_F(Release, FileManagerIsAskedToReloadItsAddOnAndWaitedForTwoSeconds) {
  const std::string addOn = folder_ + "kxfm.dll";
  WNDCLASSA wc = {};
  wc.lpfnWndProc = FileManager;
  wc.lpszClassName = "WFS_Frame";
  RegisterClassA(&wc);
  const struct {
    bool entry, fileManager, library;
    DWORD releaseDelay;  // after the reload message; INFINITE: never
    int result;
  } cases[] = {{false, true, true, 0, 1},
               {true, false, true, 0, 1},
               {true, true, true, 300, 1},
               {true, true, true, INFINITE, 0},
               {true, true, false, 0, 0}};
  for (const auto& c : cases) {
    DeleteFileA(addOn.c_str());
    if (c.library) WriteFile(addOn, "add-on");
    Hold(addOn);
    WritePrivateProfileStringA("AddOns", "Karvex", c.entry ? addOn.c_str() : nullptr,
                               "winfile.ini");
    WritePrivateProfileStringA("AddOns", "Other", "C:\\other.dll", "winfile.ini");
    g_addOnDelay = c.releaseDelay;
    const HWND frame =
        c.fileManager ? CreateWindowA("WFS_Frame", "", 0, 0, 0, 9, 9, 0, 0, 0, 0) : 0;
    BoxRecorder boxes;
    const DWORD start = GetTickCount();
    EXPECT_EQ(ReleaseFileManagerExtension(), c.result);
    const bool asked = c.entry && c.fileManager;
    EXPECT_EQ(Profile("AddOns", "Karvex", "winfile.ini"), c.entry && !asked ? addOn : "<none>");
    EXPECT_EQ(Profile("AddOns", "Other", "winfile.ini"), "C:\\other.dll");
    EXPECT_EQ(harness::RawTextOf(frame) == "reloaded", asked);
    EXPECT_GE(Since(start) + 16, c.result ? (asked ? c.releaseDelay : 0) : 2000u);
    ASSERT_EQ(boxes.boxes.size(), c.result ? 0u : 1u);
    for (const Box& box : boxes.boxes) {
      EXPECT_EQ(box.text, LoadMessageText(MSG_FILE_MANAGER_BUSY));
      EXPECT_NE(box.text.find("Close the File Manager"), std::string::npos);
      EXPECT_EQ(box.owner, nullptr);
      EXPECT_EQ(box.caption, "Karvex Setup");
      EXPECT_EQ(box.flags, static_cast<unsigned>(MB_ICONERROR));
    }
    DestroyWindow(frame);
    LetGo();
  }
}

TEST_F(Release, ShellExtensionIsWaitedForThenSwitchedOffOrKept) {
  const char *kPromptWait = "Please wait a moment while the Karvex Shell Extension is unloaded.",
             *kNever = "never", *kFree = "";
  const struct {
    bool present;
    const char* letGoAt;  // the stars shown when Explorer lets the library go
    int answer, result;
    const char* stars;
    DWORD atLeast;
    std::vector<std::pair<int, unsigned>> boxes;  // text and flags
  } cases[] = {
      {false, kFree, IDOK, 1, "", 0, {}},
      {true, kFree, IDOK, 1, "", 0, {}},
      {true, "**", IDOK, 1, "**", 2500, {}},
      {true,
       kNever,
       IDNO,
       1006,
       "***************",
       16500,
       {{MSG_SHELL_EXTENSION_BUSY, MB_ICONERROR | MB_YESNO}}},
      {true,
       kNever,
       IDYES,
       0,
       "***************",
       16500,
       {{MSG_SHELL_EXTENSION_BUSY, MB_ICONERROR | MB_YESNO},
        {MSG_SHELL_EXTENSION_OFF, MB_ICONINFORMATION}}},
  };
  for (const auto& c : cases) {
    TearDown();
    for (const char* key : kShellKeys)
      for (const char* sub : {"\\InprocServer32\\Deeper", "\\Sibling"})
        RegSetValueA(HKEY_CLASSES_ROOT, (std::string(key) + sub).c_str(), REG_SZ, "x", 1);
    DeleteFileA(library_.c_str());
    if (c.present) WriteFile(library_, "shell extension");
    if (c.letGoAt != kFree) Hold(library_);
    g_setup.busyCursor = 0;
    Dialog dialog(IDD_DESTINATION);
    const std::string prompts = dialog.Text(IDC_PROMPT1) + "|" + dialog.Text(IDC_PROMPT2);
    WindowSpy spy(dialog.item(IDC_PROMPT2), [&](UINT message, WPARAM, LPARAM text) {
      if (message == WM_SETTEXT && lstrcmpA(reinterpret_cast<const char*>(text), c.letGoAt) == 0) {
        harness::SaveScreenshot("release-shell-extension-waiting", dialog.window);
        LetGo();
      }
    });
    BoxRecorder boxes({c.answer});
    const DWORD start = GetTickCount();
    EXPECT_EQ(ReleaseShellExtension(dialog.window), c.result);
    EXPECT_GE(Since(start) + 16, c.atLeast);
    ASSERT_EQ(boxes.boxes.size(), c.boxes.size());
    for (size_t i = 0; i < c.boxes.size(); ++i) {
      EXPECT_EQ(boxes.boxes[i].text, LoadMessageText(c.boxes[i].first));
      EXPECT_EQ(boxes.boxes[i].owner, dialog.window);
      EXPECT_EQ(boxes.boxes[i].caption, "Karvex Setup");
      EXPECT_EQ(boxes.boxes[i].flags, c.boxes[i].second);
    }
    const bool waited = c.atLeast > 0, switchedOff = c.result == 0;
    EXPECT_EQ(dialog.Text(IDC_PROMPT1) + "|" + dialog.Text(IDC_PROMPT2),
              waited ? kPromptWait + std::string("|") + c.stars : prompts);
    EXPECT_EQ(g_setup.busyCursor, c.boxes.size() > 0);
    char value[8] = "";
    LONG size = sizeof value;
    RegQueryValueA(HKEY_LOCAL_MACHINE, kAlwaysUnload, value, &size);
    EXPECT_STREQ(value, waited ? "1" : "");
    EXPECT_EQ(Profile("fm", "shlExt", "karvex32.ini"), switchedOff ? "0" : "<none>");
    for (size_t k = 0; k < std::size(kShellKeys); ++k)
      EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, kShellKeys[k]), !switchedOff || k >= kOwnKeys) << k;
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Karvex\\shellex"));
  }
}

TEST_F(Release, RegistryTreesGoWholeWithoutTheirSiblings) {
  const std::string base = "Software\\KarvexTest";
  for (const char* sub : {"\\Tree\\a\\b\\c", "\\Tree\\a\\d", "\\Tree\\e", "\\Tree2", "\\Kept\\x"})
    RegSetValueA(HKEY_CURRENT_USER, (base + sub).c_str(), REG_SZ, "x", 1);
  EXPECT_EQ(DeleteRegistryTree(HKEY_CURRENT_USER, (base + "\\Tree").c_str()), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base + "\\Tree"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, base + "\\Tree2"));
  EXPECT_EQ(DeleteRegistryTree(HKEY_CURRENT_USER, (base + "\\Missing").c_str()),
            ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, base + "\\Kept\\x"));
  // A subkey whose path would need 512 characters is refused before anything is deleted; at
  // 511 the path is built and handed to the system.
  HKEY edge;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, base.c_str(), &edge), ERROR_SUCCESS);
  const std::string parent = std::string(255, 'a') + "\\bbbb";
  for (const size_t child : {511 - parent.size(), 510 - parent.size()}) {
    HKEY key = edge;  // created a level at a time, as the system requires
    for (const std::string& level :
         {std::string(255, 'a'), std::string("bbbb"), std::string(child, 'n')}) {
      HKEY next = nullptr;
      EXPECT_EQ(RegCreateKeyA(key, level.c_str(), &next), ERROR_SUCCESS);
      if (key != edge) RegCloseKey(key);
      key = next;
    }
    RegCloseKey(key);
    const LONG result = DeleteRegistryTree(edge, parent.c_str());
    EXPECT_EQ(result == ERROR_FILENAME_EXCED_RANGE, parent.size() + 1 + child >= 512) << child;
    EXPECT_TRUE(result != ERROR_FILENAME_EXCED_RANGE || KeyExists(edge, parent));
  }
  RegCloseKey(edge);
  DeleteRegistryTree(HKEY_CURRENT_USER, base.c_str());
}

}  // namespace
