// The steps of the installation sequence under Wine, one table per step with a row for each way
// it can end: the program-files value, the proposed folder, the start-up checks, the payload
// extraction, the renaming of the staged main program and its launch.
#include "setup/install.h"

#include "setup/lookup.h"
#include "setup/paths.h"
#include "tests/wine/harness/harness.h"
#include "tests/wine/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

using namespace kxtest;

constexpr char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";

std::string ProgramFolder() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  *(std::strrchr(path, '\\') + 1) = '\0';
  return path;
}

// The one box a step showed, as "text|caption|flags|owner"; "" when it showed none.
std::string OneBox(const BoxRecorder& boxes) {
  if (boxes.boxes.size() != 1) return boxes.boxes.empty() ? "" : "more than one box";
  const Box& b = boxes.boxes[0];
  return b.text + "|" + b.caption + "|" + std::to_string(b.flags) + (b.owner ? "|owned" : "");
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
  const std::string root = FreshFolder(), deep = root + "Program Files Folder\\Karvex Archiver";
  ASSERT_TRUE(std::filesystem::create_directories(deep));
  char shortDeep[MAX_PATH] = "";
  GetShortPathNameA(deep.c_str(), shortDeep, sizeof shortDeep);
  ASSERT_NE(shortDeep, deep);
  RegistryValueGuard programFiles(kCurrentVersion, "ProgramFilesDir");
  ProfileGuard zip(nullptr, "extensions", "zip");
  const std::string p200(200, 'P'), pf = std::string("C:\\PF\0", 6);
  const struct {
    DWORD type;               // of the program-files value; 0: none
    std::string stored, zip;  // zip "": no association
    std::string proposed;
  } cases[] = {
      {REG_SZ, pf, "", "C:\\PF\\Karvex"},
      {REG_BINARY, "D:\\PF\\", "", "D:\\PF\\\\Karvex"},  // no terminator; the backslash stays
      {REG_BINARY, p200, "", p200 + "\\Karvex"},
      {REG_BINARY, p200 + "P", "", "C:\\Karvex"},
      {REG_SZ, std::string("\0", 1), "", "C:\\Karvex"},
      {REG_BINARY, "", "", "C:\\Karvex"},
      {0, "", "", "C:\\Karvex"},
      {REG_SZ, pf, std::string(shortDeep) + "\\KARVEX32.EXE ^.ZIP", deep},
      {REG_SZ, pf, "C:\\NOWHERE\\KARVEX\\KARVEX32.EXE ^.ZIP", "C:\\NOWHERE\\KARVEX"},
      {REG_SZ, pf, "C:\\UTILS\\UNZIP.EXE ^.ZIP", "C:\\PF\\Karvex"},
      {REG_SZ, pf, "C:\\" + std::string(300, 'k') + "\\KARVEX32.EXE", "C:\\PF\\Karvex"},
  };
  for (const auto& c : cases) {
    c.type ? programFiles.Set(c.type, c.stored) : programFiles.Remove();
    zip.Write(c.zip.empty() ? nullptr : c.zip.c_str());
    DirtyStack();
    ProposeDefaultDir();
    EXPECT_EQ(std::string(g_setup.defaultDir), c.proposed) << c.stored << c.zip;
  }
  char out[8] = "";
  EXPECT_EQ(ReadProgramFilesDir(out, 5), 0);  // with its terminator, no room
  EXPECT_EQ(ReadProgramFilesDir(out, 6), 1);
  EXPECT_STREQ(out, "C:\\PF");
}

// Texts come from this program even where the module is another one, or none.
TEST(StartUp, ModuleWithoutAPathAndWindowsThatCannotBeShownEndTheRunWithABox) {
  FreshState state;
  const platform::HostHooks saved = platform::CurrentHostHooks();
  platform::HostHooks hooks = saved;
  hooks.loadString = [](unsigned id, char* buffer, int cap) {
    return LoadStringA(GetModuleHandleA(nullptr), id, buffer, cap);
  };
  platform::SetHostHooks(hooks);
  g_setup.instance = reinterpret_cast<HINSTANCE>(0x1230);  // a module without a path
  {
    BoxRecorder boxes;
    EXPECT_FALSE(LocateSource());
    EXPECT_STREQ(g_setup.sourceDir, "");
    EXPECT_EQ(OneBox(boxes),
              "Cannot find required file SETUP.EXE.  Please verify that the file "
              "exists on the installation disk.|Karvex Setup|16");
  }

  g_setup.instance = GetModuleHandleA("kernel32.dll");  // holds neither dialog template
  const std::string notInstalled =
      "The software has not been successfully installed.\nYou must "
      "run Setup again before using the software.|Karvex Setup|8256";
  for (bool (*step)() : {ChooseDestination, OpenProgressWindow}) {
    BoxRecorder boxes;
    EXPECT_FALSE(step());
    EXPECT_EQ(OneBox(boxes), notInstalled);
  }
  EXPECT_EQ(g_setup.progressWindow, nullptr);
  platform::SetHostHooks(saved);
}

class Payload : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateDirectoryA(dest_.c_str(), nullptr));
    lstrcpyA(g_setup.sourceDir, (work_ + "medium\\").c_str());
    lstrcpyA(g_setup.destPath, dest_.c_str());
    lstrcpyA(g_setup.destDir, (dest_ + "\\").c_str());
  }
  FreshState state_;
  std::string work_ = FreshFolder(), dest_ = work_ + "dest";
};

bool Extract() { return ExtractPayload() == 1; }

// A failed companion copy ends the run before the payload, nothing of which is installed.
TEST_F(Payload, EveryEntryIsExtractedWithItsTimeOrOneBoxSaysWhyNot) {
  const std::string data(40000, 'd');
  ASSERT_TRUE(BuildMedium(work_, {{"KARVEX32.EXE", "M"}, {"DATA.TXT", data}}, 100, false));
  ASSERT_EQ(LookUpFile((work_ + "medium\\SETUP.EXE").c_str()), 0);
  g_setup.setupTime = FoundFileData.lastWrite;  // the companions are stamped with its time
  const std::string lost = work_ + "medium\\LICENSE.TXT";
  const struct {
    bool (*step)();
    std::string source;  // "": the medium
    std::string box;     // "": done
    bool staged;         // the main program is there afterwards
  } cases[] = {
      {CopyAndExtract, "",
       "Cannot find required file LICENSE.TXT.  Please verify that the file exists on the "
       "installation disk.|Karvex Setup|16",
       false},
      {Extract, "", "", true},
      {Extract, "C:\\" + std::string(250, 's') + "\\", "setup.kx is missing|<none>|0", true},
      {Extract, "C:\\nowhere\\", "Can't open input file: C:\\nowhere\\setup.kx|<none>|16", true},
  };
  ASSERT_TRUE(DeleteFileA(lost.c_str()));  // the third: the first two copy well
  for (const auto& c : cases) {
    if (!c.source.empty()) lstrcpyA(g_setup.sourceDir, c.source.c_str());
    BoxRecorder boxes;
    EXPECT_EQ(c.step(), c.box.empty()) << c.source;
    EXPECT_EQ(OneBox(boxes), c.box);
    EXPECT_EQ(Exists(dest_ + "\\KARVEX32.EX_"), c.staged);
  }
  EXPECT_TRUE(Exists(dest_ + "\\" + CompanionFiles[1].name));
  EXPECT_EQ(ReadFile(dest_ + "\\DATA.TXT"), data);
  // The archive holds local times to two seconds; the file gets its universal time back.
  const uint64_t source = LastWrite(work_ + "payload\\DATA.TXT");
  EXPECT_LT(source - LastWrite(dest_ + "\\DATA.TXT") + 20000000, 40000000u);
}

TEST(FinalizeMainProgram, StagedFileReplacesTheMainProgramOrNothingIsLeft) {
  FreshState state;
  g_setup.progressWindow = reinterpret_cast<HWND>(0x1234);  // recorded as the owner only
  const std::string folder = FreshFolder(), longFolder = "C:\\" + std::string(246, 'f') + "\\";
  const struct {
    const char* old;     // the main program there before; null: none
    const char* staged;  // null: none
    bool held;           // the old one open without delete sharing, like a running program
    const char* after;   // the main program afterwards; null: none
    bool tooLong;        // 250 characters of folder and 12 of name: refused whole
  } cases[] = {
      {nullptr, "new", false, "new", false},    {"old", "new", false, "new", false},
      {"old", nullptr, false, nullptr, false},  {"old", "new", true, "old", false},
      {nullptr, nullptr, false, nullptr, true},
  };
  for (const auto& c : cases) {
    const std::string in = c.tooLong ? longFolder : folder, path = in + "KARVEX32.EXE";
    if (c.old) WriteFile(path, c.old);
    if (c.staged) WriteFile(folder + "KARVEX32.EX_", c.staged);
    const HANDLE held = c.held ? CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, 0, nullptr)
                               : nullptr;
    BoxRecorder boxes;
    const bool ok = c.staged && !c.held;
    EXPECT_EQ(FinalizeMainProgram(in.c_str(), "KARVEX32.EXE"), ok ? 1 : 0);
    if (held) CloseHandle(held);
    EXPECT_EQ(Exists(path) ? ReadFile(path) : "(none)", c.after ? c.after : "(none)");
    EXPECT_FALSE(Exists(folder + "KARVEX32.EX_"));
    EXPECT_EQ(OneBox(boxes),
              ok ? "" : "Cannot open " + path + " for writing|Karvex Setup|16|owned");
    DeleteFileA(path.c_str());
  }
}

// The first command used to put the full path unquoted before " /install": with a blank in the
// destination, Windows started a program found at the blank instead.
TEST(LaunchMainProgram, QuotedFullPathThenTheBareNameThenAnErrorBox) {
  FreshState state;
  const std::string work = FreshFolder(), blank = work + "Pro gram", empty = work + "Empty";
  for (const std::string& folder : {blank, empty}) CreateDirectoryA(folder.c_str(), nullptr);
  const std::string probe = ProgramFolder() + "kxprobe.exe",
                    report = blank + "\\KARVEX32.EXE.launched";
  ASSERT_TRUE(CopyFileA(probe.c_str(), (blank + "\\KARVEX32.EXE").c_str(), FALSE));
  const struct {
    std::string destDir, destPath;  // the program's folder, and the one made current
    std::string command;            // "": neither command starts it
  } cases[] = {
      {blank + "\\", blank, "\"" + blank + "\\KARVEX32.EXE\" /install"},
      {empty + "\\", blank, "KARVEX32.EXE /install"},
      {empty + "\\", empty, ""},
  };
  for (const auto& c : cases) {
    DeleteFileA(report.c_str());
    lstrcpyA(g_setup.destDir, c.destDir.c_str());
    lstrcpyA(g_setup.destPath, c.destPath.c_str());
    BoxRecorder boxes;
    EXPECT_EQ(LaunchMainProgram(), c.command.empty() ? 0 : 1);
    EXPECT_EQ(OneBox(boxes),
              c.command.empty() ? "Error running " + c.destDir + "KARVEX32.EXE|<none>|0" : "");
    if (c.command.empty()) continue;
    EXPECT_TRUE(harness::WaitFor([&] { return Exists(report); }));
    EXPECT_EQ(ReadFile(report),
              c.command + kLaunchSuffix + "\n" + c.destPath + "\nno progress window\n");
  }
}

}  // namespace
