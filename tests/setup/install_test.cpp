// The steps of the installation sequence under Wine: the program-files value, the proposed
// folder, long names, the start-up checks, the payload extraction, the renaming of the staged
// main program and its launch. Boxes are recorded through the platform's host hook.
#include "setup/install.h"

#include "extract/extract.h"
#include "res/dialog.h"
#include "setup/lookup.h"
#include "setup/paths.h"
#include "tests/wine/e2e/medium_reader.h"
#include "tests/wine/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
  (void)junk[0];
}

// ---- ReadProgramFilesDir --------------------------------------------------------------------

struct RegistryCase {
  const char* name;
  DWORD type;
  std::string stored;
  int result;
  std::string read;  // "" with result 0: output unchanged
};

TEST(ReadProgramFilesDir, ValueWithoutTerminatorIsNotReadPastItsEnd) {
  RegistryValueGuard guard(kCurrentVersion, "ProgramFilesDir");
  const RegistryCase cases[] = {
      {"terminated", REG_SZ, std::string("D:\\Apps\0", 8), 1, "D:\\Apps"},
      {"no terminator", REG_BINARY, "D:\\Apps", 1, "D:\\Apps"},
      {"200 bytes, no terminator", REG_BINARY, std::string(200, 'P'), 1, std::string(200, 'P')},
      {"201 bytes", REG_BINARY, std::string(201, 'P'), 0, ""},
      {"empty", REG_SZ, std::string("\0", 1), 0, ""},
      {"nothing stored", REG_BINARY, "", 0, ""},
  };
  for (const RegistryCase& c : cases) {
    guard.Set(c.type, c.stored);
    char out[264] = "unchanged";
    DirtyStack();
    EXPECT_EQ(ReadProgramFilesDir(out, sizeof out), c.result) << c.name;
    EXPECT_EQ(std::string(out), c.result ? c.read : "unchanged") << c.name;
  }
}

TEST(ReadProgramFilesDir, MissingValueOrTooSmallOutputLeavesOutputUnchanged) {
  RegistryValueGuard guard(kCurrentVersion, "ProgramFilesDir");
  guard.Set(REG_SZ, std::string("C:\\Program Files\0", 17));
  char out[16] = "unchanged";
  EXPECT_EQ(ReadProgramFilesDir(out, sizeof out), 0);  // 16 characters need 17 bytes
  EXPECT_STREQ(out, "unchanged");
  char fits[17];
  EXPECT_EQ(ReadProgramFilesDir(fits, sizeof fits), 1);
  EXPECT_STREQ(fits, "C:\\Program Files");
  guard.Remove();
  EXPECT_EQ(ReadProgramFilesDir(out, sizeof out), 0);
  EXPECT_STREQ(out, "unchanged");
}

// ---- ExpandLongPath with the 8.3 names Wine makes --------------------------------------------

class LongNames : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = FreshFolder();
    deep_ = root_ + "Program Files Folder\\Karvex Archiver";
    ASSERT_TRUE(CreateDirectoryA((root_ + "Program Files Folder").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(deep_.c_str(), nullptr));
    WriteFile(deep_ + "\\Read Me First.txt", "x");
    shortDeep_ = ShortPath(deep_);
    ASSERT_FALSE(shortDeep_.empty());
    ASSERT_NE(shortDeep_, deep_);  // the file system has short names to expand
  }
  std::string root_, deep_, shortDeep_;
};

TEST_F(LongNames, ShortFormOfEveryComponentIsExpanded) {
  char out[kLongNameLimit];
  const std::string file =
      shortDeep_ + "\\" + ShortPath(deep_ + "\\Read Me First.txt").substr(shortDeep_.size() + 1);
  EXPECT_EQ(ExpandLongPath(shortDeep_.c_str(), out, sizeof out), static_cast<int>(deep_.size()));
  EXPECT_EQ(std::string(out), deep_);
  EXPECT_GT(ExpandLongPath(file.c_str(), out, sizeof out), 0);
  EXPECT_EQ(std::string(out), deep_ + "\\Read Me First.txt");
}

TEST_F(LongNames, WildcardLastComponentIsKeptAndTheFoldersExpanded) {
  char out[kLongNameLimit];
  EXPECT_GT(ExpandLongPath((shortDeep_ + "\\*.txt").c_str(), out, sizeof out), 0);
  EXPECT_EQ(std::string(out), deep_ + "\\*.txt");
}

TEST_F(LongNames, ForwardSlashesGiveTheLongFormWithBackslashes) {
  std::string slashed = shortDeep_;
  for (char& c : slashed)
    if (c == '\\') c = '/';
  char out[kLongNameLimit];
  EXPECT_GT(ExpandLongPath(slashed.c_str(), out, sizeof out), 0);
  EXPECT_EQ(std::string(out), deep_);
}

TEST_F(LongNames, LongFormThatDoesNotFitFailsWithoutWritingPastCapacity) {
  char out[kLongNameLimit + 8];
  for (size_t capacity = deep_.size() + 1; capacity > deep_.size() - 20; --capacity) {
    std::memset(out, '#', sizeof out);
    const int length = ExpandLongPath(shortDeep_.c_str(), out, capacity);
    EXPECT_EQ(length, capacity > deep_.size() ? static_cast<int>(deep_.size()) : 0) << capacity;
    for (size_t i = capacity; i < sizeof out; ++i) ASSERT_EQ(out[i], '#') << capacity;
  }
  // In place: a form longer than the caller's buffer leaves the path as it was.
  char path[kPathSize];
  std::strcpy(path, shortDeep_.c_str());
  EXPECT_STREQ(ExpandLongPathInPlace(path, deep_.size()), shortDeep_.c_str());
  EXPECT_STREQ(ExpandLongPathInPlace(path, sizeof path), deep_.c_str());
}

TEST(ExpandLongPath, PathsWithoutAUsablePrefixFail) {
  char out[kLongNameLimit];
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, sizeof windows);  // C:\windows exists, so \windows does too
  const std::string rooted = std::string(windows).substr(2);
  ASSERT_EQ(rooted[0], '\\');
  EXPECT_EQ(ExpandLongPath(rooted.c_str(), out, sizeof out), 0);
  char path[kPathSize];
  std::strcpy(path, rooted.c_str());
  EXPECT_STREQ(ExpandLongPathInPlace(path, sizeof path), rooted.c_str());
  EXPECT_EQ(ExpandLongPath("\\\\server", out, sizeof out), 0);
  EXPECT_EQ(ExpandLongPath("C:\\no such folder\\Karvex", out, sizeof out), 0);
}

// ---- ProposeDefaultDir -----------------------------------------------------------------------

class DefaultDir : public LongNames {
 protected:
  FreshState state_;
  RegistryValueGuard programFiles_{kCurrentVersion, "ProgramFilesDir"};
  ProfileGuard zip_{nullptr, "extensions", "zip"};
};

TEST_F(DefaultDir, ProgramFilesFolderOrFixedDefaultWithoutAssociation) {
  zip_.Write(nullptr);
  programFiles_.Set(REG_SZ, std::string("C:\\Program Files\0", 17));
  ProposeDefaultDir();
  EXPECT_STREQ(g_setup.defaultDir, "C:\\Program Files\\Karvex");
  programFiles_.Set(REG_SZ, std::string("D:\\PF\\\0", 7));  // a trailing backslash stays
  ProposeDefaultDir();
  EXPECT_STREQ(g_setup.defaultDir, "D:\\PF\\\\Karvex");
  programFiles_.Remove();
  ProposeDefaultDir();
  EXPECT_STREQ(g_setup.defaultDir, "C:\\Karvex");
}

TEST_F(DefaultDir, KarvexAssociationWinsAndIsExpandedToItsLongForm) {
  programFiles_.Set(REG_SZ, std::string("C:\\Program Files\0", 17));
  struct Case {
    std::string zip;
    std::string proposed;
  };
  std::string slashed = shortDeep_;
  for (char& c : slashed)
    if (c == '\\') c = '/';
  const Case cases[] = {
      {shortDeep_ + "\\KARVEX32.EXE ^.ZIP", deep_},
      {slashed + "/karvex32.exe ^.zip", deep_},
      {"C:\\NOWHERE\\KARVEX\\KARVEX32.EXE ^.ZIP", "C:\\NOWHERE\\KARVEX"},  // kept as read
      {"C:\\UTILS\\UNZIP.EXE ^.ZIP", "C:\\Program Files\\Karvex"},
      {"C:\\" + std::string(300, 'k') + "\\KARVEX32.EXE", "C:\\Program Files\\Karvex"},
  };
  for (const Case& c : cases) {
    zip_.Write(c.zip.c_str());
    ProposeDefaultDir();
    EXPECT_EQ(std::string(g_setup.defaultDir), c.proposed) << c.zip;
  }
}

// ---- Start-up checks -------------------------------------------------------------------------

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateWindowOfClass(const char* className) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = PlainWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = className;
  RegisterClassA(&windowClass);
  return CreateWindowA(className, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                       GetModuleHandleA(nullptr), nullptr);
}

TEST(MainProgramRunning, EitherWindowClassStopsTheRunWithMessage1022) {
  FreshState state;
  {
    BoxRecorder boxes;
    EXPECT_FALSE(MainProgramRunning());
    EXPECT_TRUE(boxes.boxes.empty());
  }
  for (const char* className : {"Karvex2WClass", "KarvexWClass"}) {
    const HWND window = CreateWindowOfClass(className);
    ASSERT_NE(window, nullptr);
    BoxRecorder boxes;
    EXPECT_TRUE(MainProgramRunning()) << className;
    ASSERT_EQ(boxes.boxes.size(), 1u) << className;
    EXPECT_EQ(boxes.boxes[0].text,
              "Another version of Karvex is running.  Please close it and re-run SETUP");
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
    EXPECT_EQ(boxes.boxes[0].caption, "Karvex Setup");
    EXPECT_EQ(boxes.boxes[0].flags, static_cast<unsigned>(MB_ICONERROR));
    DestroyWindow(window);
  }
}

TEST(LocateSource, SourceFolderAndTimeStampOfTheRunningProgram) {
  FreshState state;
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, sizeof self);
  WIN32_FIND_DATAA data;
  FindClose(FindFirstFileA(self, &data));
  EXPECT_TRUE(LocateSource());
  EXPECT_EQ(std::string(g_setup.sourceDir), ProgramFolder());
  EXPECT_EQ(g_setup.setupTime.low, data.ftLastWriteTime.dwLowDateTime);
  EXPECT_EQ(g_setup.setupTime.high, data.ftLastWriteTime.dwHighDateTime);
}

// A module without the setup's dialog templates: the windows cannot be created from it.
HINSTANCE ModuleWithoutTemplates() {
  const HMODULE module = GetModuleHandleA("kernel32.dll");
  if (FindResourceA(module, MAKEINTRESOURCEA(IDD_DESTINATION), MAKEINTRESOURCEA(5)) ||
      FindResourceA(module, MAKEINTRESOURCEA(IDD_PROGRESS), MAKEINTRESOURCEA(5)))
    return nullptr;
  return module;
}

TEST(ChooseDestination, DialogThatCannotBeShownEndsAsNotInstalled) {
  FreshState state;
  const HINSTANCE module = ModuleWithoutTemplates();
  ASSERT_NE(module, nullptr);
  g_setup.instance = module;
  BoxRecorder boxes;
  // The texts still come from the test program's string table.
  platform::HostHooks hooks = platform::CurrentHostHooks();
  hooks.loadString = [](unsigned id, char* buffer, int cap) {
    return LoadStringA(GetModuleHandleA(nullptr), id, buffer, cap);
  };
  platform::SetHostHooks(hooks);
  EXPECT_FALSE(ChooseDestination());
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text.substr(0, 49), "The software has not been successfully installed.");
  EXPECT_EQ(boxes.boxes[0].flags, 0x2040u);
  EXPECT_EQ(boxes.boxes[0].owner, nullptr);

  boxes.boxes.clear();
  EXPECT_FALSE(OpenProgressWindow());
  EXPECT_EQ(g_setup.progressWindow, nullptr);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].flags, 0x2040u);
}

// ---- ExtractPayload --------------------------------------------------------------------------

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

TEST_F(Payload, EveryEntryIsExtractedUnderItsBaseName) {
  ASSERT_TRUE(BuildMedium(
      work_, {{"KARVEX32.EXE", std::string(3000, 'M')}, {"DATA.TXT", std::string(40000, 'd')}}, 100,
      false));
  BoxRecorder boxes;
  EXPECT_EQ(ExtractPayload(), 1);
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(ReadFile(dest_ + "\\KARVEX32.EX_"), std::string(3000, 'M'));
  EXPECT_EQ(ReadFile(dest_ + "\\DATA.TXT"), std::string(40000, 'd'));
  // The archive holds local times to two seconds; the file gets its universal time back.
  const auto written = [](const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return ULARGE_INTEGER{{data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime}}
        .QuadPart;
  };
  const uint64_t source = written(work_ + "payload\\DATA.TXT");
  EXPECT_LT(source - written(dest_ + "\\DATA.TXT") + 20000000, 40000000u);
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
  EXPECT_FALSE(Exists(dest_ + "\\KARVEX32.EX_"));
}

// The engine used to run with reportCrcErrors 0: a payload damaged on the medium installed
// corrupted files and the run was reported as a success.
TEST_F(Payload, DamagedPayloadInstalledAsSuccess) {
  ASSERT_TRUE(BuildMedium(
      work_, {{"KARVEX32.EXE", std::string(3000, 'M')}, {"DATA.TXT", std::string(4000, 'd')}}));
  ASSERT_TRUE(e2e::FlipByteInFirstEntryData(work_ + "medium\\setup.kx"));
  BoxRecorder boxes;
  EXPECT_EQ(ExtractPayload(), 0);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text.rfind("ZIP damaged: file ", 0), 0u) << boxes.boxes[0].text;
  EXPECT_NE(boxes.boxes[0].text.find("Bad CRC"), std::string::npos);
  EXPECT_EQ(boxes.boxes[0].caption, "<none>");
  EXPECT_EQ(boxes.boxes[0].flags, static_cast<unsigned>(MB_ICONERROR));
}

TEST_F(Payload, MissingArchiveOrOverlongSourceFolderFails) {
  {
    BoxRecorder boxes;  // no medium at all: the engine names the archive it cannot open
    EXPECT_EQ(ExtractPayload(), 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text.rfind("Can't open input file: ", 0), 0u);
  }
  // A source folder with no room for "setup.kx" is not cut into another path.
  const std::string longSource = "C:\\" + std::string(250, 's') + "\\";
  lstrcpyA(g_setup.sourceDir, longSource.c_str());
  BoxRecorder boxes;
  EXPECT_EQ(ExtractPayload(), 0);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "setup.kx is missing");
  EXPECT_EQ(boxes.boxes[0].caption, "<none>");
  EXPECT_EQ(boxes.boxes[0].flags, static_cast<unsigned>(MB_OK));
}

// ---- FinalizeMainProgram ---------------------------------------------------------------------

class Finalize : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = FreshFolder();
    finalPath_ = folder_ + "KARVEX32.EXE";
    staged_ = folder_ + "KARVEX32.EX_";
    g_setup.progressWindow = reinterpret_cast<HWND>(0x1234);  // recorded as the owner only
  }
  FreshState state_;
  std::string folder_, finalPath_, staged_;
};

TEST_F(Finalize, StagedFileBecomesTheMainProgramReplacingAnOldOne) {
  for (const bool oldOne : {false, true}) {
    if (oldOne) WriteFile(finalPath_, "old");
    WriteFile(staged_, "new");
    BoxRecorder boxes;
    EXPECT_EQ(FinalizeMainProgram(folder_.c_str(), "KARVEX32.EXE"), 1);
    EXPECT_EQ(ReadFile(finalPath_), "new");
    EXPECT_FALSE(Exists(staged_));
    EXPECT_TRUE(boxes.boxes.empty());
  }
}

TEST_F(Finalize, MissingStagedFileDeletesTheOldProgramAndNamesTheFinalPath) {
  WriteFile(finalPath_, "old");
  BoxRecorder boxes;
  EXPECT_EQ(FinalizeMainProgram(folder_.c_str(), "KARVEX32.EXE"), 0);
  EXPECT_FALSE(Exists(finalPath_));
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "Cannot open " + finalPath_ + " for writing");
  EXPECT_EQ(boxes.boxes[0].owner, g_setup.progressWindow);
  EXPECT_EQ(boxes.boxes[0].flags, static_cast<unsigned>(MB_ICONERROR));
}

TEST_F(Finalize, OldProgramThatCannotBeDeletedKeepsItAndDropsTheStagedFile) {
  WriteFile(finalPath_, "old");
  WriteFile(staged_, "new");
  // Held open without delete sharing, like a running program.
  const HANDLE held = CreateFileA(finalPath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  BoxRecorder boxes;
  EXPECT_EQ(FinalizeMainProgram(folder_.c_str(), "KARVEX32.EXE"), 0);
  CloseHandle(held);
  EXPECT_EQ(ReadFile(finalPath_), "old");
  EXPECT_FALSE(Exists(staged_));
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "Cannot open " + finalPath_ + " for writing");
}

TEST_F(Finalize, FinalPathBeyondMaxPathIsRefusedWholeNotCut) {
  // 250 characters of folder and 12 of name: 262, more than a path may hold.
  const std::string folder = "C:\\" + std::string(246, 'f') + "\\";
  ASSERT_EQ(folder.size(), 250u);
  BoxRecorder boxes;
  EXPECT_EQ(FinalizeMainProgram(folder.c_str(), "KARVEX32.EXE"), 0);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "Cannot open " + folder + "KARVEX32.EXE for writing");
}

// ---- LaunchMainProgram -----------------------------------------------------------------------

class Launch : public ::testing::Test {
 protected:
  void SetUp() override { work_ = FreshFolder(); }
  void TearDown() override { SetCurrentDirectoryA(ProgramFolder().c_str()); }
  // Puts the probe program at path.
  static void PlaceProbe(const std::string& path) {
    ASSERT_TRUE(CopyFileA((ProgramFolder() + "kxprobe.exe").c_str(), path.c_str(), FALSE));
  }
  void SetDestination(const std::string& destDir, const std::string& destPath) {
    lstrcpyA(g_setup.destDir, destDir.c_str());
    lstrcpyA(g_setup.destPath, destPath.c_str());
  }
  // The probe's report ("command line\nfolder\n") once it has been written; "" after 10 s.
  static std::string WaitForReport(const std::string& program) {
    const std::string report = program + ".launched";
    for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(10))
      if (Exists(report)) return ReadFile(report);
    return "";
  }
  FreshState state_;
  std::string work_;
};

// The first command used to put the full path unquoted before " /install": with a blank in the
// destination, Windows starts a program found at the blank instead.
TEST_F(Launch, UnquotedLaunchPathStartsAnotherProgram) {
  const std::string dest = work_ + "Pro gram";
  ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr));
  PlaceProbe(dest + "\\KARVEX32.EXE");
  PlaceProbe(work_ + "Pro.exe");  // where an unquoted command would stop
  SetDestination(dest + "\\", dest);
  BoxRecorder boxes;
  EXPECT_EQ(LaunchMainProgram(), 1);
  EXPECT_EQ(WaitForReport(dest + "\\KARVEX32.EXE"),
            "\"" + dest + "\\KARVEX32.EXE\" /install" + kLaunchSuffix + "\n" + dest + "\nno progress window\n");
  EXPECT_FALSE(Exists(work_ + "Pro.exe.launched"));
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Launch, BareNameInTheDestinationWhenTheFullPathFails) {
  // destDir names a folder without the program; the destination made current holds it.
  const std::string empty = work_ + "Empty";
  const std::string holder = work_ + "Holder";
  ASSERT_TRUE(CreateDirectoryA(empty.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(holder.c_str(), nullptr));
  PlaceProbe(holder + "\\KARVEX32.EXE");
  SetDestination(empty + "\\", holder);
  BoxRecorder boxes;
  EXPECT_EQ(LaunchMainProgram(), 1);
  EXPECT_EQ(WaitForReport(holder + "\\KARVEX32.EXE"),
            std::string("KARVEX32.EXE /install") + kLaunchSuffix + "\n" + holder +
                "\nno progress window\n");
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Launch, BothCommandsFailingShowTheErrorBoxWithoutCaption) {
  const std::string dest = work_ + "Nothing Here";
  ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr));
  SetDestination(dest + "\\", dest);
  BoxRecorder boxes;
  EXPECT_EQ(LaunchMainProgram(), 0);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "Error running " + dest + "\\KARVEX32.EXE");
  EXPECT_EQ(boxes.boxes[0].caption, "<none>");
  EXPECT_EQ(boxes.boxes[0].owner, nullptr);
  EXPECT_EQ(boxes.boxes[0].flags, static_cast<unsigned>(MB_OK));
}

}  // namespace
