// The steps of the installation sequence under Wine: the program-files value, the proposed
// folder with the 8.3 names Wine makes, the start-up checks, the payload extraction, the
// renaming of the staged main program and its launch. Boxes are recorded through the
// platform's host hook.
#include "setup/install.h"

#include "setup/lookup.h"
#include "setup/paths.h"
#include "tests/wine/e2e/medium_reader.h"
#include "tests/wine/harness/harness.h"
#include "tests/wine/support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

using namespace kxtest;

constexpr char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";

std::string ShortPath(const std::string& path) {
  char out[MAX_PATH] = "";
  GetShortPathNameA(path.c_str(), out, sizeof out);
  return out;
}

std::string ProgramFolder() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  *(std::strrchr(path, '\\') + 1) = '\0';
  return path;
}

// Leaves non-zero bytes on the stack below the caller, where the next call's locals will lie,
// so that a value read without its terminator shows what follows it.
__attribute__((noinline)) void DirtyStack() {
  volatile char junk[4096];
  for (volatile char& c : junk) c = 'X';
}

TEST(ReadProgramFilesDir, ReadsTheValueOnlyWhenItFitsAndNeverPastItsEnd) {
  RegistryValueGuard guard(kCurrentVersion, "ProgramFilesDir");
  struct Case {
    DWORD type;  // 0: no value
    std::string stored;
    size_t capacity;
    const char* read;  // null: fails, output unchanged
  };
  const std::string p200(200, 'P');
  const Case cases[] = {
      {REG_SZ, std::string("D:\\Apps\0", 8), 264, "D:\\Apps"},
      {REG_BINARY, "D:\\Apps", 264, "D:\\Apps"},  // no terminator
      {REG_BINARY, p200, 264, p200.c_str()},
      {REG_BINARY, std::string(201, 'P'), 264, nullptr},
      {REG_SZ, std::string("\0", 1), 264, nullptr},
      {REG_BINARY, "", 264, nullptr},
      {REG_SZ, std::string("C:\\Program Files\0", 17), 16, nullptr},
      {REG_SZ, std::string("C:\\Program Files\0", 17), 17, "C:\\Program Files"},
      {0, "", 264, nullptr},
  };
  for (const Case& c : cases) {
    if (c.type)
      guard.Set(c.type, c.stored);
    else
      guard.Remove();
    char out[264] = "unchanged";
    DirtyStack();
    EXPECT_EQ(ReadProgramFilesDir(out, c.capacity), c.read ? 1 : 0) << c.stored;
    EXPECT_STREQ(out, c.read ? c.read : "unchanged");
  }
}

TEST(ProposeDefaultDir, ProgramFilesOrTheKarvexAssociationInItsLongForm) {
  FreshState state;
  const std::string root = FreshFolder();
  const std::string deep = root + "Program Files Folder\\Karvex Archiver";
  ASSERT_TRUE(CreateDirectoryA((root + "Program Files Folder").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
  WriteFile(deep + "\\Read Me First.txt", "x");
  const std::string shortDeep = ShortPath(deep);
  ASSERT_NE(shortDeep, deep);  // the file system has short names to expand
  std::string slashed = shortDeep;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  char out[kLongNameLimit + 8];
  struct Expand {
    std::string path;
    size_t capacity;
    std::string expanded;  // "": fails
  };
  const Expand expansions[] = {
      {shortDeep, kLongNameLimit, deep},
      {ShortPath(deep + "\\Read Me First.txt"), kLongNameLimit, deep + "\\Read Me First.txt"},
      {shortDeep + "\\*.txt", kLongNameLimit, deep + "\\*.txt"},
      {slashed, kLongNameLimit, deep},
      {shortDeep, deep.size() + 1, deep},
      {shortDeep, deep.size(), ""},
      {shortDeep, deep.size() - 20, ""},
      {"\\windows", kLongNameLimit, ""},
      {"\\\\server", kLongNameLimit, ""},
      {"C:\\no such folder\\Karvex", kLongNameLimit, ""},
  };
  for (const Expand& e : expansions) {
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(ExpandLongPath(e.path.c_str(), out, e.capacity), static_cast<int>(e.expanded.size()))
        << e.path << " in " << e.capacity;
    EXPECT_TRUE(e.expanded.empty() || std::string(out) == e.expanded) << out;
    EXPECT_TRUE(std::all_of(out + e.capacity, out + sizeof out, [](char c) { return c == '#'; }));
  }
  char path[kPathSize];
  std::strcpy(path, shortDeep.c_str());
  EXPECT_STREQ(ExpandLongPathInPlace(path, deep.size()), shortDeep.c_str());  // left as it is
  EXPECT_STREQ(ExpandLongPathInPlace(path, sizeof path), deep.c_str());

  RegistryValueGuard programFiles(kCurrentVersion, "ProgramFilesDir");
  ProfileGuard zip(nullptr, "extensions", "zip");
  struct Propose {
    const char* programFiles;  // null: no value
    std::string zip;           // "": no association
    std::string proposed;
  };
  const Propose proposals[] = {
      {"C:\\Program Files", "", "C:\\Program Files\\Karvex"},
      {"D:\\PF\\", "", "D:\\PF\\\\Karvex"},  // a trailing backslash stays
      {nullptr, "", "C:\\Karvex"},
      {"C:\\Program Files", shortDeep + "\\KARVEX32.EXE ^.ZIP", deep},
      {"C:\\Program Files", slashed + "/karvex32.exe ^.zip", deep},
      {"C:\\Program Files", "C:\\NOWHERE\\KARVEX\\KARVEX32.EXE ^.ZIP", "C:\\NOWHERE\\KARVEX"},
      {"C:\\Program Files", "C:\\UTILS\\UNZIP.EXE ^.ZIP", "C:\\Program Files\\Karvex"},
      {"C:\\Program Files", "C:\\" + std::string(300, 'k') + "\\KARVEX32.EXE",
       "C:\\Program Files\\Karvex"},
  };
  for (const Propose& p : proposals) {
    if (p.programFiles)
      programFiles.Set(REG_SZ, std::string(p.programFiles) + '\0');
    else
      programFiles.Remove();
    zip.Write(p.zip.empty() ? nullptr : p.zip.c_str());
    ProposeDefaultDir();
    EXPECT_EQ(std::string(g_setup.defaultDir), p.proposed) << p.zip;
  }
}

LRESULT CALLBACK Plain(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST(StartUp, RunningMainProgramSourceFolderAndWindowsThatCannotBeShown) {
  FreshState state;
  {
    BoxRecorder boxes;
    EXPECT_FALSE(MainProgramRunning());
    EXPECT_TRUE(boxes.boxes.empty());
  }
  for (const char* className : {"Karvex2WClass", "KarvexWClass"}) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = Plain;
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    const HWND window = CreateWindowA(className, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                      nullptr, nullptr);
    BoxRecorder boxes;
    EXPECT_TRUE(MainProgramRunning()) << className;
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text,
              "Another version of Karvex is running.  Please close it and re-run SETUP");
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
    EXPECT_EQ(boxes.boxes[0].caption, "Karvex Setup");
    EXPECT_EQ(boxes.boxes[0].flags, static_cast<unsigned>(MB_ICONERROR));
    DestroyWindow(window);
  }
  EXPECT_TRUE(LocateSource());
  EXPECT_EQ(std::string(g_setup.sourceDir), ProgramFolder());
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, sizeof self);
  EXPECT_EQ(uint64_t{g_setup.setupTime.high} << 32 | g_setup.setupTime.low, LastWrite(self));

  // Kernel32 holds neither dialog template; the texts still come from this program.
  g_setup.instance = GetModuleHandleA("kernel32.dll");
  const platform::HostHooks saved = platform::CurrentHostHooks();
  platform::HostHooks hooks = saved;
  hooks.loadString = [](unsigned id, char* buffer, int cap) {
    return LoadStringA(GetModuleHandleA(nullptr), id, buffer, cap);
  };
  platform::SetHostHooks(hooks);
  {
    BoxRecorder boxes;
    EXPECT_FALSE(ChooseDestination());
    EXPECT_FALSE(OpenProgressWindow());
    EXPECT_EQ(g_setup.progressWindow, nullptr);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    for (const Box& box : boxes.boxes) {
      EXPECT_EQ(box.text.substr(0, 49), "The software has not been successfully installed.");
      EXPECT_EQ(box.flags, static_cast<unsigned>(MB_TASKMODAL | MB_ICONINFORMATION));
      EXPECT_EQ(box.owner, nullptr);
    }
  }
  platform::SetHostHooks(saved);
}

class Payload : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = FreshFolder();
    dest_ = work_ + "dest";
    ASSERT_TRUE(CreateDirectoryA(dest_.c_str(), nullptr));
    lstrcpyA(g_setup.sourceDir, (work_ + "medium\\").c_str());
    lstrcpyA(g_setup.destPath, dest_.c_str());
    lstrcpyA(g_setup.destDir, (dest_ + "\\").c_str());
  }
  FreshState state_;
  std::string work_, dest_;
};

TEST_F(Payload, EveryEntryIsExtractedUnderItsBaseNameWithItsTime) {
  ASSERT_TRUE(BuildMedium(
      work_, {{"KARVEX32.EXE", std::string(3000, 'M')}, {"DATA.TXT", std::string(40000, 'd')}}, 100,
      false));
  BoxRecorder boxes;
  EXPECT_EQ(ExtractPayload(), 1);
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(ReadFile(dest_ + "\\KARVEX32.EX_"), std::string(3000, 'M'));
  EXPECT_EQ(ReadFile(dest_ + "\\DATA.TXT"), std::string(40000, 'd'));
  // The archive holds local times to two seconds; the file gets its universal time back.
  const uint64_t source = LastWrite(work_ + "payload\\DATA.TXT");
  EXPECT_LT(source - LastWrite(dest_ + "\\DATA.TXT") + 20000000, 40000000u);
}

// A failed companion copy ends the run before the payload: nothing of it is installed.
TEST_F(Payload, FailedCompanionCopyExtractsNothing) {
  ASSERT_TRUE(BuildMedium(work_, {{"KARVEX32.EXE", std::string(3000, 'M')}}));
  ASSERT_EQ(LookUpFile((work_ + "medium\\SETUP.EXE").c_str()), 0);
  g_setup.setupTime = FoundFileData.lastWrite;  // the first two companions copy well
  ASSERT_TRUE(DeleteFileA((work_ + "medium\\" + CompanionFiles[2].name).c_str()));
  BoxRecorder boxes;
  EXPECT_FALSE(CopyAndExtract());
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_NE(boxes.boxes[0].text.find(CompanionFiles[2].name), std::string::npos);
  EXPECT_TRUE(Exists(dest_ + "\\" + CompanionFiles[1].name));
  EXPECT_FALSE(Exists(dest_ + "\\KARVEX32.EX_"));
}

TEST_F(Payload, DamagedMissingOrUnreachableArchiveFails) {
  const std::string longSource = "C:\\" + std::string(250, 's') + "\\";
  struct Case {
    bool build, damage;
    std::string source;  // "": the medium
    std::string text;    // the box's, up to its length
    const char* caption;
    unsigned flags;
  };
  const Case cases[] = {
      {true, true, "", "ZIP damaged: file ", "<none>", MB_ICONERROR},
      {false, false, "", "Can't open input file: ", "<none>", MB_ICONERROR},
      {false, false, longSource, "setup.kx is missing", "<none>", MB_OK},  // not cut short
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(!c.build ||
                BuildMedium(work_, {{"KARVEX32.EXE", "M"}, {"DATA.TXT", std::string(4000, 'd')}}));
    ASSERT_TRUE(!c.damage || e2e::FlipByteInFirstEntryData(work_ + "medium\\setup.kx"));
    if (!c.source.empty()) lstrcpyA(g_setup.sourceDir, c.source.c_str());
    if (!c.build) DeleteFileA((work_ + "medium\\setup.kx").c_str());
    BoxRecorder boxes;
    EXPECT_EQ(ExtractPayload(), 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text.substr(0, c.text.size()), c.text);
    EXPECT_EQ(boxes.boxes[0].caption, c.caption);
    EXPECT_EQ(boxes.boxes[0].flags, c.flags);
    EXPECT_TRUE(!c.damage || boxes.boxes[0].text.find("Bad CRC") != std::string::npos);
  }
}

TEST(FinalizeMainProgram, StagedFileReplacesTheMainProgramOrNothingIsLeft) {
  FreshState state;
  g_setup.progressWindow = reinterpret_cast<HWND>(0x1234);  // recorded as the owner only
  const std::string folder = FreshFolder(), finalPath = folder + "KARVEX32.EXE";
  struct Case {
    const char* old;     // the main program there before; null: none
    const char* staged;  // null: none
    bool held;           // the old one open without delete sharing, like a running program
    int result;
    const char* after;  // the main program afterwards; null: none
  };
  const Case cases[] = {{nullptr, "new", false, 1, "new"},
                        {"old", "new", false, 1, "new"},
                        {"old", nullptr, false, 0, nullptr},
                        {"old", "new", true, 0, "old"}};
  for (const Case& c : cases) {
    if (c.old) WriteFile(finalPath, c.old);
    if (c.staged) WriteFile(folder + "KARVEX32.EX_", c.staged);
    const HANDLE held = c.held ? CreateFileA(finalPath.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                             nullptr, OPEN_EXISTING, 0, nullptr)
                               : INVALID_HANDLE_VALUE;
    BoxRecorder boxes;
    EXPECT_EQ(FinalizeMainProgram(folder.c_str(), "KARVEX32.EXE"), c.result);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    EXPECT_EQ(Exists(finalPath) ? ReadFile(finalPath) : "(none)", c.after ? c.after : "(none)");
    EXPECT_FALSE(Exists(folder + "KARVEX32.EX_"));
    ASSERT_EQ(boxes.boxes.size(), c.result ? 0u : 1u);
    if (c.result) continue;
    EXPECT_EQ(boxes.boxes[0].text, "Cannot open " + finalPath + " for writing");
    EXPECT_EQ(boxes.boxes[0].owner, g_setup.progressWindow);
    EXPECT_EQ(boxes.boxes[0].flags, static_cast<unsigned>(MB_ICONERROR));
    DeleteFileA(finalPath.c_str());
  }
  // 250 characters of folder and 12 of name: more than a path may hold, refused whole.
  const std::string longFolder = "C:\\" + std::string(246, 'f') + "\\";
  BoxRecorder boxes;
  EXPECT_EQ(FinalizeMainProgram(longFolder.c_str(), "KARVEX32.EXE"), 0);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "Cannot open " + longFolder + "KARVEX32.EXE for writing");
}

// The first command used to put the full path unquoted before " /install": with a blank in the
// destination, Windows started a program found at the blank instead.
TEST(LaunchMainProgram, QuotedFullPathThenTheBareNameThenAnErrorBox) {
  FreshState state;
  const std::string work = FreshFolder(), blank = work + "Pro gram", empty = work + "Empty";
  for (const std::string& folder : {blank, empty}) CreateDirectoryA(folder.c_str(), nullptr);
  const std::string probe = ProgramFolder() + "kxprobe.exe";
  ASSERT_TRUE(CopyFileA(probe.c_str(), (blank + "\\KARVEX32.EXE").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(probe.c_str(), (work + "Pro.exe").c_str(), FALSE));  // at the blank
  struct Case {
    std::string destDir, destPath;  // the program's folder, and the one made current
    std::string command;            // "": neither command starts it
  };
  const Case cases[] = {
      {blank + "\\", blank, "\"" + blank + "\\KARVEX32.EXE\" /install"},
      {empty + "\\", blank, "KARVEX32.EXE /install"},
      {empty + "\\", empty, ""},
  };
  for (const Case& c : cases) {
    const std::string report = blank + "\\KARVEX32.EXE.launched";
    DeleteFileA(report.c_str());
    lstrcpyA(g_setup.destDir, c.destDir.c_str());
    lstrcpyA(g_setup.destPath, c.destPath.c_str());
    BoxRecorder boxes;
    EXPECT_EQ(LaunchMainProgram(), c.command.empty() ? 0 : 1);
    SetCurrentDirectoryA(ProgramFolder().c_str());
    if (c.command.empty()) {
      ASSERT_EQ(boxes.boxes.size(), 1u);
      EXPECT_EQ(boxes.boxes[0].text, "Error running " + c.destDir + "KARVEX32.EXE");
      EXPECT_EQ(boxes.boxes[0].caption, "<none>");
      EXPECT_EQ(boxes.boxes[0].flags, static_cast<unsigned>(MB_OK));
      continue;
    }
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(harness::WaitFor([&] { return Exists(report); }));
    EXPECT_EQ(ReadFile(report),
              c.command + kLaunchSuffix + "\n" + c.destPath + "\nno progress window\n");
  }
  EXPECT_FALSE(Exists(work + "Pro.exe.launched"));
}

}  // namespace
