// Extension release under Wine, with kxactor playing File Manager and a process that keeps
// kxshlext.dll open: the exclusive-open wait (budgets, a wrapping tick count, messages kept
// flowing), the File Manager add-on (no entry, no File Manager, released in time, kept, a
// missing library), the shell extension (nothing to release, released during the third wait,
// never released with Yes and with No), and the deletion of registry trees.
#include "setup/release.h"
#include "tests/wine/setup_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <optional>

using namespace harness;

namespace {

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

bool CreateKey(HKEY root, const std::string& path, const char* value = "x") {
  HKEY key;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
    return false;
  RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), lstrlenA(value) + 1);
  RegCloseKey(key);
  return true;
}

bool KeyExists(HKEY root, const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::string DefaultValue(HKEY root, const char* path) {
  char data[64] = {};
  LONG size = sizeof data;
  if (RegQueryValueA(root, path, data, &size) != ERROR_SUCCESS) return "<none>";
  return data;
}

std::string Profile(const char* section, const char* key, const char* file) {
  char value[300];
  GetPrivateProfileStringA(section, key, "<none>", value, sizeof value, file);
  return value;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

DWORD Since(DWORD start) { return GetTickCount() - start; }

class ReleaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = FreshFolder(TestName());
    lstrcpyA(g_setup.destDir, folder_.c_str());
    library_ = folder_ + "kxshlext.dll";
    // Every run of this test program shares the prefix: start from a known state.
    WritePrivateProfileStringA("AddOns", nullptr, nullptr, "winfile.ini");
    WritePrivateProfileStringA("fm", nullptr, nullptr, "karvex32.ini");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAlwaysUnload);
    for (const char* key : kShellKeys) DeleteRegistryTree(HKEY_CLASSES_ROOT, key);
  }
  // Other tests of the session (whole installations among them) share the prefix.
  void TearDown() override {
    WritePrivateProfileStringA("AddOns", nullptr, nullptr, "winfile.ini");
    WritePrivateProfileStringA("fm", nullptr, nullptr, "karvex32.ini");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAlwaysUnload);
    for (const char* key : kShellKeys) DeleteRegistryTree(HKEY_CLASSES_ROOT, key);
    for (const char* key : kOtherKeys) DeleteRegistryTree(HKEY_CLASSES_ROOT, key);
    DeleteRegistryTree(HKEY_CLASSES_ROOT, "Karvex");  // created for these tests only
  }
  FreshSetupState state_;
  std::string folder_, library_;
};

// ---- WaitUntilExclusive ----

TEST_F(ReleaseTest, WaitUntilExclusiveAnswersWithinItsBudget) {
  WriteFileBytes(library_, "library");
  constexpr DWORD kNobody = 0;  // no process holds the file
  struct Case {
    const char* name;
    DWORD holdMs;  // how long another process keeps the file open
    bool missing;  // the file does not exist
    DWORD budget;
    int result;
    DWORD atLeast, below;  // elapsed milliseconds
  };
  const Case cases[] = {
      {"free file, budget 0: never tried", kNobody, false, 0, 0, 0, 50},
      {"free file", kNobody, false, 2000, 1, 0, 500},
      {"missing file", kNobody, true, 300, 0, 300, 1500},
      {"held for the whole budget", INFINITE, false, 300, 0, 300, 1500},
      {"released within the budget", 400, false, 5000, 1, 0, 4000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<Actor> holder;
    if (c.holdMs != kNobody) {
      holder.emplace(Actor::HoldFile(library_, c.holdMs));
      ASSERT_TRUE(holder->WaitReady());
    }
    const std::string path = c.missing ? folder_ + "none.dll" : library_;
    const DWORD start = GetTickCount();
    EXPECT_EQ(WaitUntilExclusive(path.c_str(), c.budget), c.result);
    const DWORD elapsed = Since(start);
    EXPECT_GE(elapsed + 16, c.atLeast) << "the tick count moves in steps of up to 16 ms";
    EXPECT_LT(elapsed, c.below);
  }
}

TEST_F(ReleaseTest, WaitUntilExclusiveCountsElapsedTicksAcrossAWrap) {
  struct Case {
    DWORD start, now, budget;
    bool within;
  };
  const Case cases[] = {
      {100, 100, 0, false},
      {100, 2099, 2000, true},
      {100, 2100, 2000, false},
      {0xFFFFFF00, 0xFFFFFF00, 2000, true},
      {0xFFFFFF00, 0x00000010, 2000, true},   // 272 ms, across the wrap
      {0xFFFFFF00, 0x00000700, 2000, false},  // 2048 ms
      {0xFFFFFC18, 0x000003E7, 2000, true},   // 1999 ms
  };
  for (const Case& c : cases)
    EXPECT_EQ(WithinBudget(c.start, c.now, c.budget), c.within) << c.start << " " << c.now;
}

std::vector<UINT> g_seen;
LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP || message == WM_KEYDOWN || message == WM_CHAR) g_seen.push_back(message);
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(ReleaseTest, WaitUntilExclusiveKeepsMessagesFlowingWithoutTranslatingKeys) {
  g_seen.clear();
  WNDCLASSA wc = {};
  wc.lpfnWndProc = RecordingProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "KxWaitTarget";
  RegisterClassA(&wc);
  HWND target = CreateWindowA("KxWaitTarget", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                              wc.hInstance, nullptr);
  PostMessageA(target, WM_APP, 0, 0);
  PostMessageA(target, WM_KEYDOWN, 'A', 0x001E0001);
  EXPECT_EQ(WaitUntilExclusive((folder_ + "none.dll").c_str(), 200), 0);
  EXPECT_EQ(g_seen, (std::vector<UINT>{WM_APP, WM_KEYDOWN}))
      << "no WM_CHAR: keys are not translated";
  DestroyWindow(target);
}

// ---- File Manager add-on ----

TEST_F(ReleaseTest, FileManagerAddOnIsLeftAloneWithoutEntryOrFileManager) {
  const std::string addOn = folder_ + "kxfm.dll";
  WriteFileBytes(addOn, "add-on");
  {
    SCOPED_TRACE("no entry, File Manager running");
    WritePrivateProfileStringA("AddOns", "Other", "C:\\other.dll", "winfile.ini");
    Actor fileManager = Actor::FileManager(addOn, 0);
    ASSERT_TRUE(fileManager.WaitReady());
    BoxAnswerer none({});
    const DWORD start = GetTickCount();
    EXPECT_EQ(ReleaseFileManagerExtension(), 1);
    EXPECT_LT(Since(start), 500u);
    none.Stop();
    EXPECT_TRUE(none.unexpected().empty());
    EXPECT_EQ(RawTextOf(fileManager.window()), "File Manager") << "no reload was asked for";
    EXPECT_EQ(Profile("AddOns", "Other", "winfile.ini"), "C:\\other.dll");
  }
  {
    SCOPED_TRACE("entry, no File Manager");
    ASSERT_EQ(FindTopWindow(kFileManagerClass, nullptr), nullptr);
    WritePrivateProfileStringA("AddOns", "Karvex", addOn.c_str(), "winfile.ini");
    BoxAnswerer none({});
    EXPECT_EQ(ReleaseFileManagerExtension(), 1);
    none.Stop();
    EXPECT_TRUE(none.unexpected().empty());
    EXPECT_EQ(Profile("AddOns", "Karvex", "winfile.ini"), addOn);
  }
}

TEST_F(ReleaseTest, FileManagerIsAskedToReloadAndWaitedForTwoSeconds) {
  struct Case {
    const char* name;
    bool libraryExists;
    DWORD releaseDelay;  // after the reload message; INFINITE: never
    int result;
  };
  const Case cases[] = {{"released in time", true, 300, 1},
                        {"kept", true, INFINITE, 0},
                        {"add-on library missing", false, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string addOn = folder_ + "kxfm.dll";
    DeleteFileA(addOn.c_str());
    if (c.libraryExists) WriteFileBytes(addOn, "add-on");
    WritePrivateProfileStringA("AddOns", "Karvex", addOn.c_str(), "winfile.ini");
    WritePrivateProfileStringA("AddOns", "Other", "C:\\other.dll", "winfile.ini");
    Actor fileManager = Actor::FileManager(addOn, c.releaseDelay);
    ASSERT_TRUE(fileManager.WaitReady());
    std::vector<BoxAnswerer::Step> steps;
    if (c.result == 0)
      steps.push_back(
          {IDOK, std::string("release-1044-") + (c.libraryExists ? "kept" : "missing")});
    BoxAnswerer answerer(steps);
    const DWORD start = GetTickCount();
    EXPECT_EQ(ReleaseFileManagerExtension(), c.result);
    const DWORD elapsed = Since(start);
    answerer.Stop();
    EXPECT_TRUE(answerer.unexpected().empty());
    EXPECT_EQ(Profile("AddOns", "Karvex", "winfile.ini"), "<none>")
        << "the entry is never written back";
    EXPECT_EQ(Profile("AddOns", "Other", "winfile.ini"), "C:\\other.dll");
    EXPECT_TRUE(
        WaitFor([&] { return RawTextOf(fileManager.window()).find("File Manager - re") == 0; }));
    if (c.result == 1) {
      EXPECT_LT(elapsed, 2000u);
      EXPECT_GE(elapsed + 16, 300u);
      continue;
    }
    EXPECT_GE(elapsed + 16, 2000u);
    EXPECT_LT(elapsed, 4000u);
    ASSERT_EQ(answerer.answered().size(), 1u);
    const MessageBoxInfo box = answerer.answered()[0];
    EXPECT_EQ(box.text, MessageText(MSG_FILE_MANAGER_BUSY));
    EXPECT_NE(box.text.find("Close the File Manager"), std::string::npos) << "the whole chain";
    EXPECT_EQ(box.caption, "Karvex Setup");
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.icon, BoxIcon::Error);
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
  }
}

// ---- Shell extension ----

TEST_F(ReleaseTest, ShellExtensionWithNothingToReleaseChangesNothing) {
  DestinationDialogStandIn dialog;
  const std::string prompt1 = RawTextOf(GetDlgItem(dialog.window(), IDC_PROMPT1));
  for (const bool present : {false, true}) {
    SCOPED_TRACE(present ? "library free" : "no library (first installation)");
    if (present) WriteFileBytes(library_, "shell extension");
    BoxAnswerer none({});
    const DWORD start = GetTickCount();
    EXPECT_EQ(ReleaseShellExtension(dialog.window()), 1);
    EXPECT_LT(Since(start), 400u);
    none.Stop();
    EXPECT_TRUE(none.unexpected().empty());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAlwaysUnload));
    EXPECT_EQ(RawTextOf(GetDlgItem(dialog.window(), IDC_PROMPT1)), prompt1);
    EXPECT_EQ(g_setup.busyCursor, 0);
  }
}

TEST_F(ReleaseTest, ShellExtensionReleasedDuringTheThirdWaitLeavesTwoStars) {
  WriteFileBytes(library_, "shell extension");
  DestinationDialogStandIn dialog;
  Actor explorer = Actor::HoldFile(library_, INFINITE);
  ASSERT_TRUE(explorer.WaitReady());
  const HWND prompt2 = GetDlgItem(dialog.window(), IDC_PROMPT2);
  // Explorer lets go of the library as soon as the second star shows, in the third wait.
  std::atomic<bool> released{false};
  std::thread watcher([&] {
    if (WaitFor([&] { return RawTextOf(prompt2) == "**"; }, 20000)) {
      WaitUntilPainted(dialog.window(), 2000);
      SaveScreenshot("release-shell-extension-waiting");
      explorer.Release();
      released = true;
    }
  });
  BoxAnswerer none({});
  const DWORD start = GetTickCount();
  EXPECT_EQ(ReleaseShellExtension(dialog.window()), 1);
  const DWORD elapsed = Since(start);
  watcher.join();
  none.Stop();
  EXPECT_TRUE(released);
  EXPECT_TRUE(none.unexpected().empty());
  EXPECT_EQ(RawTextOf(prompt2), "**");
  EXPECT_EQ(RawTextOf(GetDlgItem(dialog.window(), IDC_PROMPT1)),
            "Please wait a moment while the Karvex Shell Extension is unloaded.");
  EXPECT_EQ(g_setup.busyCursor, 0);
  EXPECT_EQ(DefaultValue(HKEY_LOCAL_MACHINE, kAlwaysUnload), "1");
  EXPECT_GE(elapsed + 16, 2500u);
  EXPECT_LT(elapsed, 3500u + 500u);
}

// Creates the shell extension's keys with subkeys and values, and keys of others beside them.
void RegisterShellExtension() {
  for (const char* key : kShellKeys) {
    ASSERT_TRUE(CreateKey(HKEY_CLASSES_ROOT, key));
    ASSERT_TRUE(CreateKey(HKEY_CLASSES_ROOT, std::string(key) + "\\InprocServer32\\Deeper", "d"));
    ASSERT_TRUE(CreateKey(HKEY_CLASSES_ROOT, std::string(key) + "\\Sibling"));
  }
  for (const char* key : kOtherKeys) ASSERT_TRUE(CreateKey(HKEY_CLASSES_ROOT, key));
}

TEST_F(ReleaseTest, ShellExtensionNeverReleasedAsksAndYesSwitchesItOff) {
  WriteFileBytes(library_, "shell extension");
  RegisterShellExtension();
  DestinationDialogStandIn dialog;
  Actor explorer = Actor::HoldFile(library_, INFINITE);
  ASSERT_TRUE(explorer.WaitReady());
  BoxAnswerer answerer({{IDYES, "release-1039-question"}, {IDOK, "release-1046-turned-off"}});
  const DWORD start = GetTickCount();
  EXPECT_EQ(ReleaseShellExtension(dialog.window()), 0);
  const DWORD elapsed = Since(start);
  answerer.Stop();
  ASSERT_EQ(answerer.answered().size(), 2u);
  EXPECT_TRUE(answerer.unexpected().empty());
  const MessageBoxInfo question = answerer.answered()[0], told = answerer.answered()[1];
  EXPECT_EQ(question.text, MessageText(MSG_SHELL_EXTENSION_BUSY));
  EXPECT_NE(question.text.find("If you choose \"No\""), std::string::npos) << "the whole chain";
  EXPECT_EQ(question.owner, dialog.window());
  EXPECT_EQ(question.icon, BoxIcon::Error);
  EXPECT_EQ(question.buttons, (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(question.caption, "Karvex Setup");
  EXPECT_EQ(told.text, MessageText(MSG_SHELL_EXTENSION_OFF));
  EXPECT_EQ(told.owner, dialog.window());
  EXPECT_EQ(told.icon, BoxIcon::Information);
  EXPECT_EQ(told.buttons, std::vector<int>{IDOK});
  EXPECT_EQ(RawTextOf(GetDlgItem(dialog.window(), IDC_PROMPT2)), std::string(15, '*'));
  EXPECT_GE(elapsed + 16, 16500u);
  for (const char* key : kShellKeys) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
  for (const char* key : kOtherKeys) EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
  EXPECT_EQ(Profile("fm", "shlExt", "karvex32.ini"), "0");
  EXPECT_EQ(DefaultValue(HKEY_LOCAL_MACHINE, kAlwaysUnload), "1");
  EXPECT_EQ(g_setup.busyCursor, 1) << "the dialog ends right after";
}

TEST_F(ReleaseTest, ShellExtensionNeverReleasedAndNoLeavesItOn) {
  WriteFileBytes(library_, "shell extension");
  RegisterShellExtension();
  DestinationDialogStandIn dialog;
  Actor explorer = Actor::HoldFile(library_, INFINITE);
  ASSERT_TRUE(explorer.WaitReady());
  BoxAnswerer answerer({{IDNO, ""}});
  EXPECT_EQ(ReleaseShellExtension(dialog.window()), 1006);
  answerer.Stop();
  ASSERT_EQ(answerer.answered().size(), 1u);
  EXPECT_TRUE(answerer.unexpected().empty());
  EXPECT_EQ(answerer.answered()[0].text, MessageText(MSG_SHELL_EXTENSION_BUSY));
  for (const char* key : kShellKeys) {
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::string(key) + "\\InprocServer32\\Deeper"));
  }
  EXPECT_EQ(Profile("fm", "shlExt", "karvex32.ini"), "<none>");
  EXPECT_EQ(g_setup.busyCursor, 1);
}

// ---- Registry trees ----

class RegistryTreeTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteRegistryTree(HKEY_CURRENT_USER, kBase); }
  void TearDown() override { DeleteRegistryTree(HKEY_CURRENT_USER, kBase); }
  static constexpr const char* kBase = "Software\\KarvexTest";
};

TEST_F(RegistryTreeTest, NestedKeysAreDeletedAndSiblingsKept) {
  const std::string tree = std::string(kBase) + "\\Tree";
  for (const char* sub : {"\\a\\b\\c", "\\a\\d", "\\e", "\\a\\b\\f"})
    ASSERT_TRUE(CreateKey(HKEY_CURRENT_USER, tree + sub));
  ASSERT_TRUE(CreateKey(HKEY_CURRENT_USER, std::string(kBase) + "\\Tree2"));
  EXPECT_EQ(DeleteRegistryTree(HKEY_CURRENT_USER, tree.c_str()), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, tree));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, std::string(kBase) + "\\Tree2"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kBase));
}

TEST_F(RegistryTreeTest, AMissingKeyAnswersItsOpenErrorAndDeletesNothing) {
  ASSERT_TRUE(CreateKey(HKEY_CURRENT_USER, std::string(kBase) + "\\Kept\\Child"));
  EXPECT_EQ(DeleteRegistryTree(HKEY_CURRENT_USER, (std::string(kBase) + "\\Missing").c_str()),
            ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, std::string(kBase) + "\\Kept\\Child"));
}

// Creates each level of path (backslash-separated, every name at most 255 characters) below
// the open key, one level at a time.
bool CreateNested(HKEY under, const std::vector<std::string>& levels) {
  HKEY current = under;
  bool ok = true;
  for (const std::string& name : levels) {
    HKEY next;
    ok = RegCreateKeyExA(current, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &next,
                         nullptr) == ERROR_SUCCESS;
    if (current != under) RegCloseKey(current);
    if (!ok) break;
    current = next;
  }
  if (ok && current != under) RegCloseKey(current);
  return ok;
}

TEST_F(RegistryTreeTest, DeleteRegistryTree_OverlongSubkeyPathIsRefusedNotOverflowed) {
  // A 260-character key path whose subkey's path would need 512 characters with the joining
  // backslash: refused before anything is built or opened, and nothing above it is deleted.
  // At 511 characters the path is built and handed to the system.
  HKEY edge;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (std::string(kBase) + "\\Edge").c_str(), 0, nullptr,
                            0, KEY_ALL_ACCESS, nullptr, &edge, nullptr),
            ERROR_SUCCESS);
  const std::string parent = std::string(255, 'a') + "\\" + std::string(4, 'b');
  ASSERT_EQ(parent.size(), 260u);
  for (const size_t childLength : {size_t{251}, size_t{250}}) {
    SCOPED_TRACE(childLength == 251 ? "512 characters" : "511 characters");
    ASSERT_TRUE(CreateNested(edge, {std::string(255, 'a'), "bbbb", std::string(childLength, 'n')}));
    const LONG result = DeleteRegistryTree(edge, parent.c_str());
    if (childLength == 251) {
      EXPECT_EQ(result, ERROR_FILENAME_EXCED_RANGE);
      HKEY kept;
      ASSERT_EQ(RegOpenKeyExA(edge, parent.c_str(), 0, KEY_READ, &kept), ERROR_SUCCESS)
          << "nothing above the refused subkey is deleted";
      HKEY refused;
      EXPECT_EQ(RegOpenKeyExA(kept, std::string(251, 'n').c_str(), 0, KEY_READ, &refused),
                ERROR_SUCCESS);
      RegCloseKey(refused);
      RegCloseKey(kept);
    } else {
      EXPECT_NE(result, ERROR_FILENAME_EXCED_RANGE) << "511 characters fit";
    }
  }
  RegCloseKey(edge);
}

TEST_F(RegistryTreeTest, RemoveShellExtensionKeysAnswersOneWithOrWithoutKeys) {
  for (const char* key : kShellKeys) DeleteRegistryTree(HKEY_CLASSES_ROOT, key);
  EXPECT_EQ(RemoveShellExtensionKeys(), 1);
  RegisterShellExtension();
  EXPECT_EQ(RemoveShellExtensionKeys(), 1);
  for (const char* key : kShellKeys) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
  for (const char* key : kOtherKeys) EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Karvex\\shellex"));
  for (const char* key : kOtherKeys) DeleteRegistryTree(HKEY_CLASSES_ROOT, key);
}

}  // namespace
