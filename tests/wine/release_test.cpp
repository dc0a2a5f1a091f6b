// Extension release under Wine, with kxactor playing File Manager and a process that keeps
// kxshlext.dll open: the exclusive-open wait, the File Manager add-on, the shell extension
// (nothing to release, released during the third wait, never released and kept), and the
// deletion of registry trees.
#include "setup/release.h"
#include "tests/wine/harness/harness.h"
#include "tests/wine/support.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

namespace {

using namespace kxtest;

constexpr char kAlwaysUnload[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AlwaysUnloadDLL";
const char* const kShellKeys[] = {
    "CLSID\\{3f8b6c00-51a2-11cf-b7d4-0020af3e9c10}",
    "CLSID\\{3f8b6c01-51a2-11cf-b7d4-0020af3e9c10}",
    "CLSID\\{3f8b6c02-51a2-11cf-b7d4-0020af3e9c10}",
    "Karvex\\shellex\\DropHandler",
    "Directory\\shellex\\DragDropHandlers\\Karvex",
    "Drive\\shellex\\DragDropHandlers\\Karvex",
    "Folder\\shellex\\DragDropHandlers\\Karvex",
    "*\\shellex\\ContextMenuHandlers\\Karvex",
    "Folder\\shellex\\ContextMenuHandlers\\Karvex",
    "Directory\\shellex\\ContextMenuHandlers\\Karvex",
};
// Keys beside them that belong to others and must stay.
const char* const kOtherKeys[] = {"CLSID\\{3f8b6c03-51a2-11cf-b7d4-0020af3e9c10}",
                                  "Karvex\\shellex\\Other",
                                  "Folder\\shellex\\ContextMenuHandlers\\Other"};

bool KeyExists(HKEY root, const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// The shell extension's keys with subkeys, and keys of others beside them.
void RegisterShellExtension() {
  for (const char* key : kShellKeys)
    for (const char* sub : {"\\InprocServer32\\Deeper", "\\Sibling"})
      RegSetValueA(HKEY_CLASSES_ROOT, (std::string(key) + sub).c_str(), REG_SZ, "x", 1);
  for (const char* key : kOtherKeys) RegSetValueA(HKEY_CLASSES_ROOT, key, REG_SZ, "x", 1);
}

DWORD Since(DWORD start) { return GetTickCount() - start; }

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
    WritePrivateProfileStringA("AddOns", nullptr, nullptr, "winfile.ini");
    WritePrivateProfileStringA("fm", nullptr, nullptr, "karvex32.ini");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAlwaysUnload);
    for (const char* key : kShellKeys) DeleteRegistryTree(HKEY_CLASSES_ROOT, key);
    for (const char* key : kOtherKeys) DeleteRegistryTree(HKEY_CLASSES_ROOT, key);
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
  struct Case {
    DWORD holdMs;  // how long another process keeps the file open; 0: nobody
    bool missing;
    DWORD budget;
    int result;
    DWORD atLeast;  // elapsed milliseconds
  };
  const Case cases[] = {{0, false, 0, 0, 0},
                        {0, false, 2000, 1, 0},
                        {0, true, 300, 0, 300},
                        {INFINITE, false, 300, 0, 300},
                        {400, false, 20000, 1, 400}};
  for (const Case& c : cases) {
    std::optional<harness::Actor> holder;
    if (c.holdMs) {
      ASSERT_TRUE(holder.emplace("hold", c.holdMs, library_).WaitReady());
    }
    const DWORD start = GetTickCount();
    EXPECT_EQ(WaitUntilExclusive((c.missing ? folder_ + "none.dll" : library_).c_str(), c.budget),
              c.result);
    EXPECT_GE(Since(start) + 16, c.atLeast) << "the tick count moves in steps of up to 16 ms";
  }
  struct Tick {
    DWORD start, now, budget;
    bool within;
  };
  const Tick ticks[] = {{100, 100, 0, false},
                        {100, 2099, 2000, true},
                        {100, 2100, 2000, false},
                        {0xFFFFFF00, 0x10, 2000, true},
                        {0xFFFFFF00, 0x700, 2000, false},
                        {0xFFFFFC18, 0x3E7, 2000, true}};
  for (const Tick& t : ticks) EXPECT_EQ(WithinBudget(t.start, t.now, t.budget), t.within) << t.now;
}

std::vector<UINT> g_seen;
LRESULT CALLBACK Recording(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP || message == WM_KEYDOWN || message == WM_CHAR) g_seen.push_back(message);
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(Release, WaitKeepsMessagesFlowingWithoutTranslatingKeys) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = Recording;
  wc.lpszClassName = "KxWaitTarget";
  RegisterClassA(&wc);
  const HWND target =
      CreateWindowA("KxWaitTarget", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  PostMessageA(target, WM_APP, 0, 0);
  PostMessageA(target, WM_KEYDOWN, 'A', 0x001E0001);
  EXPECT_EQ(WaitUntilExclusive((folder_ + "none.dll").c_str(), 200), 0);
  EXPECT_EQ(g_seen, (std::vector<UINT>{WM_APP, WM_KEYDOWN})) << "no WM_CHAR";
  DestroyWindow(target);
}

TEST_F(Release, FileManagerIsAskedToReloadItsAddOnAndWaitedForTwoSeconds) {
  const std::string addOn = folder_ + "kxfm.dll";
  struct Case {
    bool entry, fileManager, library;
    DWORD releaseDelay;  // after the reload message; INFINITE: never
    int result;
  };
  const Case cases[] = {{false, true, true, 0, 1},
                        {true, false, true, 0, 1},
                        {true, true, true, 300, 1},
                        {true, true, true, INFINITE, 0},
                        {true, true, false, 0, 0}};
  for (const Case& c : cases) {
    DeleteFileA(addOn.c_str());
    if (c.library) WriteFile(addOn, "add-on");
    WritePrivateProfileStringA("AddOns", "Karvex", c.entry ? addOn.c_str() : nullptr,
                               "winfile.ini");
    WritePrivateProfileStringA("AddOns", "Other", "C:\\other.dll", "winfile.ini");
    std::optional<harness::Actor> fileManager;
    if (c.fileManager) {
      ASSERT_TRUE(fileManager.emplace("filemanager", c.releaseDelay, addOn).WaitReady());
    }
    BoxRecorder boxes;
    const DWORD start = GetTickCount();
    EXPECT_EQ(ReleaseFileManagerExtension(), c.result);
    const bool asked = c.entry && c.fileManager;
    EXPECT_EQ(Profile("AddOns", "Karvex", "winfile.ini"), asked     ? "<none>"
                                                          : c.entry ? addOn
                                                                    : "<none>");
    EXPECT_EQ(Profile("AddOns", "Other", "winfile.ini"), "C:\\other.dll");
    const auto reloaded = [] {  // "reloaded", then "released" once it lets go
      return harness::RawTextOf(harness::FindTopWindow("WFS_Frame", nullptr))
                 .rfind("File Manager - re", 0) == 0;
    };
    EXPECT_EQ(c.fileManager && (asked ? harness::WaitFor(reloaded) : reloaded()), asked);
    EXPECT_GE(Since(start) + 16, c.result ? (asked ? c.releaseDelay : 0) : 2000u);
    ASSERT_EQ(boxes.boxes.size(), c.result ? 0u : 1u);
    if (c.result) continue;
    EXPECT_EQ(boxes.boxes[0].text, LoadMessageText(MSG_FILE_MANAGER_BUSY));
    EXPECT_NE(boxes.boxes[0].text.find("Close the File Manager"), std::string::npos);
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
    EXPECT_EQ(boxes.boxes[0].caption, "Karvex Setup");
    EXPECT_EQ(boxes.boxes[0].flags, static_cast<unsigned>(MB_ICONERROR));
  }
}

TEST_F(Release, ShellExtensionWithNothingToReleaseChangesNothing) {
  Dialog dialog(IDD_DESTINATION);
  const std::string prompt = dialog.Text(IDC_PROMPT1);
  for (const bool present : {false, true}) {
    if (present) WriteFile(library_, "shell extension");
    BoxRecorder boxes;
    EXPECT_EQ(ReleaseShellExtension(dialog.window()), 1);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAlwaysUnload));
    EXPECT_EQ(dialog.Text(IDC_PROMPT1), prompt);
    EXPECT_EQ(g_setup.busyCursor, 0);
  }
}

TEST_F(Release, ShellExtensionReleasedDuringTheThirdWaitLeavesTwoStars) {
  WriteFile(library_, "shell extension");
  Dialog dialog(IDD_DESTINATION);
  harness::Actor explorer("hold", INFINITE, library_);
  ASSERT_TRUE(explorer.WaitReady());
  // Explorer lets go of the library as soon as the second star shows.
  std::thread watcher([&] {
    if (harness::WaitFor([&] { return harness::RawTextOf(dialog.item(IDC_PROMPT2)) == "**"; },
                         20000)) {
      harness::SaveScreenshot("release-shell-extension-waiting", dialog.window());
      explorer.Release();
    }
  });
  BoxRecorder boxes;
  const DWORD start = GetTickCount();
  EXPECT_EQ(ReleaseShellExtension(dialog.window()), 1);
  EXPECT_GE(Since(start) + 16, 2500u);
  watcher.join();
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(dialog.Text(IDC_PROMPT2), "**");
  EXPECT_EQ(dialog.Text(IDC_PROMPT1),
            "Please wait a moment while the Karvex Shell Extension is unloaded.");
  EXPECT_EQ(g_setup.busyCursor, 0);
  char value[8] = "";
  LONG size = sizeof value;
  RegQueryValueA(HKEY_LOCAL_MACHINE, kAlwaysUnload, value, &size);
  EXPECT_STREQ(value, "1");
}

// Switching it off (Yes) is the end-to-end run's; here the user keeps it.
TEST_F(Release, ShellExtensionNeverReleasedAndKeptEndsTheRun) {
  WriteFile(library_, "shell extension");
  RegisterShellExtension();
  Dialog dialog(IDD_DESTINATION);
  harness::Actor explorer("hold", INFINITE, library_);
  ASSERT_TRUE(explorer.WaitReady());
  BoxRecorder boxes({IDNO});
  const DWORD start = GetTickCount();
  EXPECT_EQ(ReleaseShellExtension(dialog.window()), 1006);
  EXPECT_GE(Since(start) + 16, 16500u);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, LoadMessageText(MSG_SHELL_EXTENSION_BUSY));
  EXPECT_NE(boxes.boxes[0].text.find("If you choose \"No\""), std::string::npos);
  EXPECT_EQ(boxes.boxes[0].owner, dialog.window());
  EXPECT_EQ(boxes.boxes[0].flags, static_cast<unsigned>(MB_ICONERROR | MB_YESNO));
  EXPECT_EQ(dialog.Text(IDC_PROMPT2), std::string(15, '*'));
  for (const char* key : kShellKeys) EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
  EXPECT_EQ(Profile("fm", "shlExt", "karvex32.ini"), "<none>");
  EXPECT_EQ(g_setup.busyCursor, 1);
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
      HKEY next;
      ASSERT_EQ(RegCreateKeyA(key, level.c_str(), &next), ERROR_SUCCESS);
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
  EXPECT_EQ(RemoveShellExtensionKeys(), 1);  // none there
  RegisterShellExtension();
  EXPECT_EQ(RemoveShellExtensionKeys(), 1);
  for (const char* key : kShellKeys) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
  for (const char* key : kOtherKeys) EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Karvex\\shellex"));
}

}  // namespace
