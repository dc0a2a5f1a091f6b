// Companion files under Wine, with the real progress window: the verify pass (sizes, SZDD
// expanded sizes, time stamps to the tick, the first missing file named by its table name),
// the copy pass (contents, sizes that are multiples of the 15360-byte chunk, times, the meter
// moving only on 10240-byte boundaries), cancel before file k, and every copy failure with its
// message and owner. Screenshots of each message box go to KX_SCREEN_DIR.
#include "setup/companion.h"
#include "res/companions.h"
#include "setup/lookup.h"
#include "tests/wine/setup_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <numeric>

using namespace harness;

namespace {

constexpr int kFileCount = 7;

FILETIME MakeTime(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
  SYSTEMTIME s = {};
  s.wYear = year, s.wMonth = month, s.wDay = day, s.wHour = hour, s.wMinute = minute;
  FILETIME f;
  SystemTimeToFileTime(&s, &f);
  return f;
}

FILETIME AddTicks(FILETIME t, long long ticks) {
  ULARGE_INTEGER v;
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  v.QuadPart += ticks;
  return {v.LowPart, v.HighPart};
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

std::string Bytes(size_t size, int seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed * 17) >> 3);
  return bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SetLastWrite(const std::string& path, const FILETIME& time) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const BOOL ok = SetFileTime(h, nullptr, nullptr, &time);
  CloseHandle(h);
  return ok != 0;
}

struct FileTimes {
  FILETIME created, accessed, written;
};
FileTimes TimesOf(const std::string& path) {
  FileTimes t = {};
  HANDLE h =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  GetFileTime(h, &t.created, &t.accessed, &t.written);
  CloseHandle(h);
  return t;
}

class CompanionTest : public ::testing::Test {
 public:  // the failure table's arrangements reach into the fixture
  void SetUp() override {
    source_ = FreshFolder(TestName() + "-from");
    destination_ = FreshFolder(TestName() + "-to");
    lstrcpyA(g_setup.sourceDir, source_.c_str());
    lstrcpyA(g_setup.destDir, destination_.c_str());
    g_setup.setupTime = {stamp_.dwLowDateTime, stamp_.dwHighDateTime};
    progress_.Show(1000);
  }
  static const char* Name(int index) { return CompanionFiles[index].name; }
  std::string Source(int index) const { return source_ + Name(index); }
  std::string Destination(int index) const { return destination_ + Name(index); }
  void Write(int index, const std::string& bytes) { Write(index, bytes, stamp_); }
  void Write(int index, const std::string& bytes, const FILETIME& time) {
    std::ofstream(Source(index), std::ios::binary) << bytes;
    ASSERT_TRUE(SetLastWrite(Source(index), time));
    contents_[index] = bytes;
  }
  // Every companion file with the given sizes (and the setup program's time stamp).
  void WriteAll(const std::vector<size_t>& sizes) {
    for (int i = 0; i < kFileCount; ++i) Write(i, Bytes(sizes[i], i));
  }
  void ExpectCopied(int index) {
    // The times first: reading the file may move its last-access time.
    const FileTimes t = TimesOf(Destination(index));
    const std::string copied = ReadFile(Destination(index));
    EXPECT_TRUE(copied == contents_[index])
        << Name(index) << ": " << copied.size() << " bytes instead of " << contents_[index].size();
    EXPECT_TRUE(SameTime(t.written, stamp_)) << Name(index);
    EXPECT_TRUE(SameTime(t.created, stamp_)) << Name(index);
    EXPECT_TRUE(SameTime(t.accessed, stamp_)) << Name(index);
  }
  void ExpectNotCopied(int index) { EXPECT_FALSE(Exists(Destination(index))) << Name(index); }
  // The box answered for a failure, photographed under the test's name.
  static MessageBoxInfo OnlyBox(BoxAnswerer& answerer) {
    answerer.Stop();
    EXPECT_EQ(answerer.answered().size(), 1u);
    EXPECT_TRUE(answerer.unexpected().empty());
    return answerer.answered().empty() ? MessageBoxInfo{} : answerer.answered()[0];
  }

  FreshSetupState state_;
  ProgressWindow progress_;
  std::string source_, destination_;
  FILETIME stamp_ = MakeTime(2024, 5, 1, 12, 0);
  std::string contents_[kFileCount];
};

// ---- Verify mode ----

TEST_F(CompanionTest, VerifyAddsEverySizeToTheTotalOnEachPassAndTouchesNothing) {
  const std::vector<size_t> sizes = {0, 1, 15360, 70000, 5, 123, 10240};
  WriteAll(sizes);
  const uint32_t sum = static_cast<uint32_t>(std::accumulate(sizes.begin(), sizes.end(), 0u));
  DestinationDialogStandIn dialog;
  BoxAnswerer answerer({});
  g_setup.totalKB = 1000;
  EXPECT_EQ(ProcessCompanionFiles(dialog.window(), kVerifyCompanions), 1);
  EXPECT_EQ(g_setup.totalKB, 1000 + sum);
  EXPECT_EQ(ProcessCompanionFiles(dialog.window(), kVerifyCompanions), 1);
  EXPECT_EQ(g_setup.totalKB, 1000 + 2 * sum);
  answerer.Stop();
  EXPECT_TRUE(answerer.unexpected().empty());
  for (int i = 0; i < kFileCount; ++i) ExpectNotCopied(i);
  EXPECT_EQ(RawTextOf(progress_.item(IDC_ACTION)), "");
  EXPECT_EQ(g_setup.CompanionBytes, 0u);
}

TEST_F(CompanionTest, SzddFilesCountTheirExpandedSizeAndAreCopiedAsStored) {
  const std::string signature = std::string("SZDD") + "\x88\xF0\x27\x33";
  struct Case {
    const char* name;
    std::string bytes;
    uint32_t counted;
  };
  const Case cases[] = {
      {"full header", signature + "A_" + std::string("\x40\xE2\x01\x00", 4) + "data", 123456},
      {"largest size", signature + "A_" + std::string("\xFF\xFF\xFF\xFF", 4), 0xFFFFFFFFu},
      {"half a signature",
       std::string("SZDD") + "\x88\xF0\x27\x34" + std::string("A_\x40\xE2\x01\x00", 6), 14},
      {"header cut short", signature + "A_" + "\x40\xE2", 12},
      {"empty file", "", 0},
  };
  DestinationDialogStandIn dialog;
  BoxAnswerer none({});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteAll({0, 0, 0, 0, 0, 0, 0});
    Write(3, c.bytes);
    g_setup.totalKB = 7;
    EXPECT_EQ(ProcessCompanionFiles(dialog.window(), kVerifyCompanions), 1);
    EXPECT_EQ(g_setup.totalKB, 7 + c.counted) << "unsigned 32-bit sum";
    EXPECT_EQ(ExpandedFileSize(Source(3).c_str(), 99),
              c.counted == c.bytes.size() ? 99 : c.counted);
  }
  EXPECT_EQ(ExpandedFileSize((source_ + "NOSUCH.TXT").c_str(), 77), 77u);
  Write(3, cases[0].bytes);
  EXPECT_EQ(ProcessCompanionFiles(progress_.window(), kCopyCompanions), 1);
  ExpectCopied(3);
  none.Stop();
  for (const MessageBoxInfo& box : none.unexpected()) ADD_FAILURE() << box.text;
}

TEST_F(CompanionTest, TimeStampsMustMatchToTheTickWhateverTheDate) {
  struct Case {
    const char* name;
    long long difference;  // ticks of 100 ns added to the file's time
    int file;
  };
  const Case cases[] = {{"one tick later, first file", 1, 0},
                        {"one tick earlier, middle file", -1, 3},
                        {"high word differs, last file", 1LL << 32, 6}};
  DestinationDialogStandIn dialog;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteAll({10, 20, 30, 40, 50, 60, 70});
    Write(c.file, "mis-stamped", AddTicks(stamp_, c.difference));
    g_setup.totalKB = 0;
    BoxAnswerer answerer({{IDOK, std::string("companion-1023-") + Name(c.file)}});
    EXPECT_EQ(ProcessCompanionFiles(dialog.window(), kVerifyCompanions), 0);
    const MessageBoxInfo box = OnlyBox(answerer);
    EXPECT_EQ(box.text, std::string("Date/time stamp on the file ") + Name(c.file) +
                            " does not match the date/time stamp on SETUP.EXE.");
    EXPECT_EQ(box.caption, "Karvex Setup");
    EXPECT_EQ(box.owner, dialog.window());
    EXPECT_EQ(box.icon, BoxIcon::Error);
    EXPECT_EQ(g_setup.totalKB, 10u * (c.file * (c.file + 1) / 2)) << "files before it counted";
  }
  // Equal stamps pass, whatever the date and down to odd ticks.
  BoxAnswerer none({});
  for (const FILETIME when :
       {MakeTime(1980, 1, 1, 0, 0), AddTicks(MakeTime(2001, 2, 3, 4, 5), 1234567),
        MakeTime(2107, 12, 31, 23, 59)}) {
    stamp_ = when;
    g_setup.setupTime = {when.dwLowDateTime, when.dwHighDateTime};
    WriteAll({1, 2, 3, 4, 5, 6, 7});
    EXPECT_EQ(ProcessCompanionFiles(dialog.window(), kVerifyCompanions), 1);
  }
  none.Stop();
  for (const MessageBoxInfo& box : none.unexpected()) ADD_FAILURE() << box.text;
}

TEST_F(CompanionTest, TimeStampMatchesComparesAllEightBytes) {
  const platform::FileTime setup = {0x89ABCDEF, 0x01D9F000};
  g_setup.setupTime = setup;
  struct Case {
    platform::FileTime found;
    int matches;
  };
  const Case cases[] = {{{0x89ABCDEF, 0x01D9F000}, 1},
                        {{0x89ABCDEE, 0x01D9F000}, 0},
                        {{0x89ABCDEF, 0x01D9F001}, 0},
                        {{0, 0}, 0}};
  for (const Case& c : cases) {
    FoundFileData.lastWrite = c.found;
    EXPECT_EQ(TimeStampMatches(), c.matches);
  }
}

TEST_F(CompanionTest, TheFirstMissingFileIsNamedByItsTableName) {
  struct Case {
    int missing;
    int mode;
  };
  for (const Case c : {Case{0, kVerifyCompanions}, Case{0, kCopyCompanions},
                       Case{4, kVerifyCompanions}, Case{4, kCopyCompanions}}) {
    SCOPED_TRACE(testing::Message() << Name(c.missing) << " mode " << c.mode);
    WriteAll({100, 200, 300, 400, 500, 600, 700});
    DeleteFileA(Source(c.missing).c_str());
    // A later file with a wrong stamp is never looked at.
    Write(c.missing + 1, "late", AddTicks(stamp_, 5));
    const HWND owner = c.mode == kCopyCompanions ? progress_.window() : nullptr;
    BoxAnswerer answerer({{IDOK, std::string("companion-1013-") + Name(c.missing)}});
    EXPECT_EQ(ProcessCompanionFiles(owner, c.mode), 0);
    const MessageBoxInfo box = OnlyBox(answerer);
    EXPECT_EQ(box.text, std::string("Cannot find required file ") + Name(c.missing) +
                            ".  Please verify that the file exists on the installation disk.");
    EXPECT_EQ(box.owner, owner);
    EXPECT_EQ(box.icon, BoxIcon::Error);
    for (int i = 0; i < kFileCount; ++i) {
      if (c.mode == kCopyCompanions && i < c.missing)
        ExpectCopied(i);
      else
        ExpectNotCopied(i);
      DeleteFileA(Destination(i).c_str());
    }
  }
}

// ---- Copy mode ----

TEST_F(CompanionTest, CopyKeepsContentsSizesAndTimesAlsoForWholeChunks) {
  const std::vector<size_t> sizes = {0, 1, 15359, 15360, 15361, 30720, 100000};
  WriteAll(sizes);
  BoxAnswerer answerer({});
  EXPECT_EQ(ProcessCompanionFiles(progress_.window(), kCopyCompanions), 1);
  answerer.Stop();
  EXPECT_TRUE(answerer.unexpected().empty());
  for (int i = 0; i < kFileCount; ++i) ExpectCopied(i);
  EXPECT_EQ(g_setup.CompanionBytes, std::accumulate(sizes.begin(), sizes.end(), 0u));
  EXPECT_EQ(RawTextOf(progress_.item(IDC_ACTION)), "Installing");
  EXPECT_EQ(RawTextOf(progress_.item(IDC_FILENAME)), "ORDER.TXT");
}

TEST_F(CompanionTest, CopyOverwritesAnExistingDestinationFile) {
  WriteAll({10, 20, 30, 40, 50, 60, 70});
  std::ofstream(Destination(2), std::ios::binary) << Bytes(50000, 9);
  BoxAnswerer none({});
  EXPECT_EQ(ProcessCompanionFiles(progress_.window(), kCopyCompanions), 1);
  none.Stop();
  EXPECT_TRUE(none.unexpected().empty());
  ExpectCopied(2);
}

TEST_F(CompanionTest, TheMeterMovesOnlyWhenTheCountCrossesTheNextUnit) {
  struct Update {
    WPARAM position;
    std::string file;
    bool operator==(const Update&) const = default;
  };
  struct Case {
    const char* name;
    std::vector<size_t> sizes;
    std::vector<Update> updates;
  };
  const Case cases[] = {
      {"seven files of 5000 bytes",
       {5000, 5000, 5000, 5000, 5000, 5000, 5000},
       {{1, "LICENSE.TXT"}, {2, "FILE_ID.DIZ"}}},
      {"one file of 50000 bytes, in chunks of 15360",
       {50000, 0, 0, 0, 0, 0, 0},
       {{1, "README.TXT"}, {3, "README.TXT"}, {4, "README.TXT"}}},
      {"nothing reaches a unit", {10239, 0, 0, 0, 0, 0, 0}, {}},
      {"exactly one unit, then one byte more", {10240, 1, 0, 0, 0, 0, 0}, {{1, "README.TXT"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetSetupState();
    ProgressWindow progress;
    progress.Show(1000);
    lstrcpyA(g_setup.sourceDir, source_.c_str());
    lstrcpyA(g_setup.destDir, destination_.c_str());
    g_setup.setupTime = {stamp_.dwLowDateTime, stamp_.dwHighDateTime};
    WriteAll(c.sizes);
    std::vector<Update> updates;
    WindowSpy spy(progress.item(IDC_METER), [&](UINT message, WPARAM wParam, LPARAM) {
      if (message == MM_SETPOS) updates.push_back({wParam, RawTextOf(progress.item(IDC_FILENAME))});
    });
    BoxAnswerer none({});
    EXPECT_EQ(ProcessCompanionFiles(progress.window(), kCopyCompanions), 1);
    none.Stop();
    EXPECT_TRUE(none.unexpected().empty());
    EXPECT_TRUE(updates == c.updates);
    if (!(updates == c.updates))
      for (const Update& u : updates) ADD_FAILURE() << "update " << u.position << " at " << u.file;
  }
}

TEST_F(CompanionTest, CancelBeforeFileKCopiesOneChunkOfItAndNothingAfter) {
  for (const int k : {0, 2, 6}) {
    SCOPED_TRACE(Name(k));
    ResetSetupState();
    ProgressWindow progress;
    progress.Show(1000);
    lstrcpyA(g_setup.sourceDir, source_.c_str());
    const std::string to = FreshFolder(TestName() + "-to-" + std::to_string(k));
    lstrcpyA(g_setup.destDir, to.c_str());
    g_setup.setupTime = {stamp_.dwLowDateTime, stamp_.dwHighDateTime};
    WriteAll({3000, 3000, 3000, 3000, 3000, 3000, 3000});
    Write(k, Bytes(40000, 99));
    // The user clicks Cancel while file k - 1 is being copied; the click is handled when the
    // copy dispatches messages before file k.
    const HWND cancel = progress.item(IDCANCEL);
    WindowSpy spy(progress.item(IDC_FILENAME), [&](UINT message, WPARAM, LPARAM lParam) {
      if (message == WM_SETTEXT && k > 0 &&
          lstrcmpA(reinterpret_cast<const char*>(lParam), Name(k - 1)) == 0)
        Click(cancel);
    });
    if (k == 0) Click(cancel);
    BoxAnswerer answerer({{IDYES, k == 2 ? "companion-cancel-question" : ""}});
    EXPECT_EQ(ProcessCompanionFiles(progress.window(), kCopyCompanions), 0);
    answerer.Stop();
    ASSERT_EQ(answerer.answered().size(), 1u);
    EXPECT_EQ(answerer.answered()[0].owner, progress.window());
    EXPECT_TRUE(answerer.unexpected().empty()) << "a cancelled copy shows no message";
    for (int i = 0; i < k; ++i) EXPECT_TRUE(ReadFile(to + Name(i)) == contents_[i]) << Name(i);
    EXPECT_TRUE(SameTime(TimesOf(to + Name(k)).written, stamp_));
    const std::string partial = ReadFile(to + Name(k));
    EXPECT_TRUE(partial == contents_[k].substr(0, 15360)) << partial.size() << " bytes";
    for (int i = k + 1; i < kFileCount; ++i) EXPECT_FALSE(Exists(to + Name(i))) << Name(i);
    EXPECT_EQ(g_setup.CompanionBytes, 3000u * k + 15360);
    EXPECT_FALSE(IsWindowEnabled(cancel));
  }
}

TEST_F(CompanionTest, CancelAnsweredNoLetsTheCopyFinish) {
  WriteAll({3000, 3000, 3000, 3000, 3000, 3000, 3000});
  const HWND cancel = progress_.item(IDCANCEL);
  Click(cancel);
  BoxAnswerer answerer({{IDNO, ""}});
  EXPECT_EQ(ProcessCompanionFiles(progress_.window(), kCopyCompanions), 1);
  answerer.Stop();
  EXPECT_EQ(answerer.answered().size(), 1u);
  for (int i = 0; i < kFileCount; ++i) ExpectCopied(i);
  EXPECT_TRUE(IsWindowEnabled(cancel));
}

TEST_F(CompanionTest, EachCopyFailureIsReportedWithItsMessageAndStopsThePass) {
  struct Case {
    const char* name;
    int failing;
    std::function<void(CompanionTest&)> arrange;
    std::function<std::string(CompanionTest&)> text;
  };
  const Case cases[] = {
      {"source cannot be opened (a folder of that name)", 1,
       [](CompanionTest& t) {
         DeleteFileA(t.Source(1).c_str());
         CreateDirectoryA(t.Source(1).c_str(), nullptr);
         SetLastWrite(t.Source(1), t.stamp_);
       },
       [](CompanionTest& t) { return "Cannot open " + t.Source(1) + " for writing"; }},
      {"destination cannot be created (a folder of that name)", 2,
       [](CompanionTest& t) { CreateDirectoryA(t.Destination(2).c_str(), nullptr); },
       [](CompanionTest& t) { return "Cannot open " + t.Destination(2) + " for writing"; }},
      {"a write is short (the disk is full)", 0,
       [](CompanionTest& t) {
         t.destination_ = FixtureFolder("diskfull");
         lstrcpyA(g_setup.destDir, t.destination_.c_str());
       },
       [](CompanionTest& t) { return "Error writing to " + t.Destination(0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    source_ = FreshFolder(TestName() + "-from-" + std::to_string(c.failing));
    lstrcpyA(g_setup.sourceDir, source_.c_str());
    destination_ = FreshFolder(TestName() + "-to-" + std::to_string(c.failing));
    lstrcpyA(g_setup.destDir, destination_.c_str());
    WriteAll({20000, 20000, 20000, 20000, 20000, 20000, 20000});
    c.arrange(*this);
    BoxAnswerer answerer({{IDOK, std::string("companion-copy-failure-") + Name(c.failing)}});
    EXPECT_EQ(ProcessCompanionFiles(progress_.window(), kCopyCompanions), 0);
    const MessageBoxInfo box = OnlyBox(answerer);
    EXPECT_EQ(box.text, c.text(*this));
    EXPECT_EQ(box.owner, progress_.window());
    EXPECT_EQ(box.icon, BoxIcon::Error);
    EXPECT_EQ(box.caption, "Karvex Setup");
    for (int i = 0; i < c.failing; ++i) ExpectCopied(i);
    for (int i = c.failing + 1; i < kFileCount; ++i) ExpectNotCopied(i);
  }
}

TEST_F(CompanionTest, CopyFileWithProgress_FailedSourceReadIsReportedNotWrittenAsData) {
  const std::string unreadable = FixtureFolder("unreadable") + "README.TXT";
  const std::string target = destination_ + "README.TXT";
  EXPECT_EQ(CopyFileWithProgress(unreadable.c_str(), target.c_str()), kCopyReadFailed);
  EXPECT_TRUE(Exists(target));
  EXPECT_EQ(ReadFile(target).size(), 0u) << "nothing of a failed read reaches the copy";
  EXPECT_EQ(g_setup.CompanionBytes, 0u);
  BoxAnswerer answerer({{IDOK, "companion-read-failure"}});
  EXPECT_EQ(ReportCopyResult(kCopyReadFailed, unreadable.c_str(), target.c_str()), 0);
  const MessageBoxInfo box = OnlyBox(answerer);
  EXPECT_EQ(box.text, "Error reading " + unreadable + ".  Possible cause: bad disk");
  EXPECT_EQ(box.owner, progress_.window());
  EXPECT_EQ(box.icon, BoxIcon::Error);
}

TEST_F(CompanionTest, ReportCopyResultIsSilentForSuccessAndUnknownCodes) {
  BoxAnswerer answerer({});
  for (const int code : {kCopyOk, 1, 1016, 1020, 99})
    EXPECT_EQ(ReportCopyResult(code, "a", "b"), 1) << code;
  answerer.Stop();
  EXPECT_TRUE(answerer.unexpected().empty());
}

}  // namespace
