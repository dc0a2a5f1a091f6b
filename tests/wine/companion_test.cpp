// Companion files under Wine, with the real progress window: the verify pass (sizes, SZDD
// expanded sizes, time stamps to the tick, the first missing file named), the copy pass
// (contents, sizes around the 15360-byte chunk, times, the meter moving on 10240-byte
// boundaries), cancel before file k, and every copy failure with its message and owner.
#include "setup/companion.h"
#include "setup/lookup.h"
#include "tests/wine/support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace kxtest;

constexpr int kFiles = 7;
constexpr uint64_t kStamp = 0x01DA9B0C12345678;  // a time stamp with odd ticks

FILETIME AsFileTime(uint64_t ticks) {
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// A folder the build prepares with files that fail (see CMakeLists.txt), as Wine sees it.
std::string Fixture(const char* name) {
  std::string path = std::string("Z:") + KX_FIXTURES_DIR + "/" + name + "/";
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string Bytes(size_t size, int seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed * 17) >> 3);
  return bytes;
}

class Companions : public ::testing::Test {
 protected:
  void SetUp() override {
    SetFolders("");
    g_setup.setupTime = {static_cast<uint32_t>(kStamp), static_cast<uint32_t>(kStamp >> 32)};
    progress_.Show(1000);
  }
  void SetFolders(const std::string& suffix) {
    from_ = FreshFolder(" from" + suffix);
    to_ = FreshFolder(" to" + suffix);
    lstrcpyA(g_setup.sourceDir, from_.c_str());
    lstrcpyA(g_setup.destDir, to_.c_str());
  }
  static const char* Name(int k) { return CompanionFiles[k].name; }
  void Write(int k, const std::string& bytes, uint64_t stamp = kStamp) {
    WriteFile(from_ + Name(k), bytes);
    ASSERT_TRUE(Stamp(from_ + Name(k), AsFileTime(stamp)));
    contents_[k] = bytes;
  }
  void WriteAll(const std::vector<size_t>& sizes) {
    for (int k = 0; k < kFiles; ++k) Write(k, Bytes(sizes[k], k));
  }
  // Files before `first` copied whole with the setup's time, none from `after` on.
  void ExpectCopied(int first, int after = kFiles) {
    for (int k = 0; k < first; ++k) {
      EXPECT_EQ(LastWrite(to_ + Name(k)), kStamp) << Name(k);
      EXPECT_TRUE(ReadFile(to_ + Name(k)) == contents_[k]) << Name(k);
    }
    for (int k = after; k < kFiles; ++k) EXPECT_FALSE(Exists(to_ + Name(k))) << Name(k);
  }
  int Run(int mode) { return ProcessCompanionFiles(progress_.window(), mode); }
  FreshState state_;
  Dialog progress_{IDD_PROGRESS};
  std::string from_, to_;
  std::string contents_[kFiles];
};

TEST_F(Companions, VerifyAddsTheExpandedSizesOnEachPassAndCopiesNothing) {
  const std::string szdd = std::string("SZDD\x88\xF0\x27\x33", 8) + "A_";
  struct Case {
    std::string bytes;  // of the fourth file; the others hold 10 bytes each
    uint32_t counted;
  };
  const Case cases[] = {
      {szdd + std::string("\x40\xE2\x01\x00", 4) + "data", 123456},
      {szdd + std::string("\xFF\xFF\xFF\xFF", 4), 0xFFFFFFFFu},  // the sum wraps at 32 bits
      {std::string("SZDD\x88\xF0\x27\x34") + std::string("A_\x40\xE2\x01\x00", 6), 14},
      {szdd + "\x40\xE2", 12},
      {"", 0},
      {std::string(70000, 'x'), 70000},
  };
  for (const Case& c : cases) {
    WriteAll({10, 10, 10, 0, 10, 10, 10});
    Write(3, c.bytes);
    g_setup.totalKB = 7;
    BoxRecorder boxes;
    EXPECT_EQ(Run(kVerifyCompanions), 1);
    EXPECT_EQ(Run(kVerifyCompanions), 1);
    EXPECT_EQ(g_setup.totalKB, 7 + 2 * (60 + c.counted)) << c.counted;
    EXPECT_TRUE(boxes.boxes.empty());
  }
  EXPECT_EQ(ExpandedFileSize((from_ + "NOSUCH.TXT").c_str(), 77), 77u);
  ExpectCopied(0, 0);
  EXPECT_EQ(progress_.Text(IDC_ACTION), "");
  EXPECT_EQ(Run(kCopyCompanions), 1);  // an SZDD file is copied as it is stored
  ExpectCopied(kFiles);
}

TEST_F(Companions, FirstFileMissingOrMisStampedStopsThePassNamingIt) {
  const std::string mismatch = " does not match the date/time stamp on SETUP.EXE.";
  struct Case {
    int file;
    int64_t offset;  // ticks added to the file's stamp; 0: the file is missing
    int mode;
  };
  const Case cases[] = {{0, 1, kVerifyCompanions},       {3, -1, kVerifyCompanions},
                        {6, 1LL << 32, kCopyCompanions}, {0, 0, kVerifyCompanions},
                        {4, 0, kCopyCompanions},         {4, 0, kVerifyCompanions}};
  for (const Case& c : cases) {
    SetFolders(std::to_string(c.file) + std::to_string(c.mode));
    WriteAll({10, 20, 30, 40, 50, 60, 70});
    if (c.offset) Write(c.file, "mis-stamped", kStamp + c.offset);
    if (!c.offset) DeleteFileA((from_ + Name(c.file)).c_str());
    if (c.file < kFiles - 1) Write(c.file + 1, "never looked at", kStamp + 5);
    g_setup.totalKB = 0;
    BoxRecorder boxes;
    EXPECT_EQ(Run(c.mode), 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text,
              c.offset ? "Date/time stamp on the file " + std::string(Name(c.file)) + mismatch
                       : "Cannot find required file " + std::string(Name(c.file)) +
                             ".  Please verify that the file exists on the installation disk.");
    EXPECT_EQ(boxes.boxes[0].owner, progress_.window());
    EXPECT_EQ(boxes.boxes[0].caption, "Karvex Setup");
    EXPECT_EQ(boxes.boxes[0].flags, static_cast<unsigned>(MB_ICONERROR));
    const bool copy = c.mode == kCopyCompanions;
    EXPECT_EQ(g_setup.totalKB, copy ? 0u : 10u * (c.file * (c.file + 1) / 2));
    ExpectCopied(copy ? c.file : 0, copy ? c.file : 0);
  }
}

TEST_F(Companions, CopyKeepsContentsAndTimesAndMovesTheMeterOnWholeUnits) {
  struct Update {
    WPARAM position;
    std::string file;
    bool operator==(const Update&) const = default;
  };
  struct Case {
    std::vector<size_t> sizes;
    std::vector<Update> updates;
  };
  const Case cases[] = {
      {{5000, 5000, 5000, 5000, 5000, 5000, 5000}, {{1, "LICENSE.TXT"}, {2, "FILE_ID.DIZ"}}},
      {{50000, 0, 0, 0, 0, 0, 0}, {{1, "README.TXT"}, {3, "README.TXT"}, {4, "README.TXT"}}},
      {{10239, 0, 0, 0, 0, 0, 0}, {}},
      {{10240, 1, 15359, 15360, 15361, 30720, 0},
       {{1, "README.TXT"},
        {2, "LICENSE.TXT"},
        {4, "VENDOR.TXT"},
        {5, "WHATSNEW.TXT"},
        {7, "FILE_ID.DIZ"},
        {8, "FILE_ID.DIZ"}}},
  };
  for (const Case& c : cases) {
    SetFolders(std::to_string(c.sizes[0]));
    WriteAll(c.sizes);
    WriteFile(to_ + Name(2), Bytes(50000, 9));  // an existing file is overwritten
    g_setup.CompanionBytes = g_setup.CompanionBytesShown = 0;
    std::vector<Update> updates;
    WindowSpy spy(progress_.item(IDC_METER), [&](UINT message, WPARAM wParam, LPARAM) {
      if (message == MM_SETPOS) updates.push_back({wParam, progress_.Text(IDC_FILENAME)});
    });
    BoxRecorder boxes;
    EXPECT_EQ(Run(kCopyCompanions), 1);
    EXPECT_TRUE(boxes.boxes.empty());
    ExpectCopied(kFiles);
    EXPECT_TRUE(updates == c.updates) << c.sizes[0] << ": " << updates.size() << " updates";
    uint32_t total = 0;
    for (size_t size : c.sizes) total += static_cast<uint32_t>(size);
    EXPECT_EQ(g_setup.CompanionBytes, total);
    EXPECT_EQ(progress_.Text(IDC_ACTION), "Installing");
    EXPECT_EQ(progress_.Text(IDC_FILENAME), "ORDER.TXT");
  }
}

TEST_F(Companions, CancelBeforeFileKCopiesOneChunkOfItAndNothingAfter) {
  for (const int k : {0, 2, 6}) {
    FreshState state;
    Dialog progress(IDD_PROGRESS);
    progress.Show(1000);
    SetFolders(std::to_string(k));
    g_setup.setupTime = {static_cast<uint32_t>(kStamp), static_cast<uint32_t>(kStamp >> 32)};
    WriteAll({3000, 3000, 3000, 3000, 3000, 3000, 3000});
    Write(k, Bytes(40000, 99));
    // Cancel is clicked while file k - 1 is copied; the copy sees it before file k.
    const HWND cancel = progress.item(IDCANCEL);
    WindowSpy spy(progress.item(IDC_FILENAME), [&](UINT message, WPARAM, LPARAM lParam) {
      if (message == WM_SETTEXT && k > 0 &&
          lstrcmpA(reinterpret_cast<const char*>(lParam), Name(k - 1)) == 0)
        PostMessageA(cancel, BM_CLICK, 0, 0);
    });
    if (k == 0) PostMessageA(cancel, BM_CLICK, 0, 0);
    BoxRecorder boxes({IDYES});
    EXPECT_EQ(ProcessCompanionFiles(progress.window(), kCopyCompanions), 0);
    ASSERT_EQ(boxes.boxes.size(), 1u) << "a cancelled copy shows no message";
    EXPECT_EQ(boxes.boxes[0].owner, progress.window());
    ExpectCopied(k, k + 1);
    EXPECT_EQ(LastWrite(to_ + Name(k)), kStamp);
    EXPECT_TRUE(ReadFile(to_ + Name(k)) == contents_[k].substr(0, 15360));
    EXPECT_EQ(g_setup.CompanionBytes, 3000u * k + 15360);
  }
  SetFolders(" no");
  WriteAll({3000, 3000, 3000, 3000, 3000, 3000, 3000});
  PostMessageA(progress_.item(IDCANCEL), BM_CLICK, 0, 0);
  BoxRecorder no({IDNO});
  EXPECT_EQ(Run(kCopyCompanions), 1);
  EXPECT_EQ(no.boxes.size(), 1u);
  ExpectCopied(kFiles);
}

TEST_F(Companions, EachCopyFailureIsReportedWithItsMessageAndStopsThePass) {
  struct Case {
    int failing;
    const char* text;     // before the path named
    const char* fixture;  // the destination folder, when not a fresh one
  };
  const Case cases[] = {{1, "Cannot open %s for writing", nullptr},  // a folder as source
                        {2, "Cannot open %t for writing", nullptr},  // a folder as destination
                        {0, "Error writing to %t", "diskfull"}};
  for (const Case& c : cases) {
    SetFolders(std::to_string(c.failing));
    WriteAll({20000, 20000, 20000, 20000, 20000, 20000, 20000});
    if (c.fixture) {
      to_ = Fixture(c.fixture);
      lstrcpyA(g_setup.destDir, to_.c_str());
    }
    if (c.failing == 1) {
      DeleteFileA((from_ + Name(1)).c_str());
      CreateDirectoryA((from_ + Name(1)).c_str(), nullptr);
      Stamp(from_ + Name(1), AsFileTime(kStamp));
    }
    if (c.failing == 2) CreateDirectoryA((to_ + Name(2)).c_str(), nullptr);
    BoxRecorder boxes;
    EXPECT_EQ(Run(kCopyCompanions), 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    std::string text = c.text;
    const size_t at = text.find('%');
    text.replace(at, 2, (text[at + 1] == 's' ? from_ : to_) + Name(c.failing));
    EXPECT_EQ(boxes.boxes[0].text, text);
    EXPECT_EQ(boxes.boxes[0].owner, progress_.window());
    EXPECT_EQ(boxes.boxes[0].flags, static_cast<unsigned>(MB_ICONERROR));
    if (!c.fixture) ExpectCopied(c.failing, c.failing + 1);
  }
  // A source whose reads fail: reported, and nothing of the failed read is written.
  const std::string unreadable = Fixture("unreadable") + "README.TXT";
  EXPECT_EQ(CopyFileWithProgress(unreadable.c_str(), (to_ + "R.TXT").c_str()), kCopyReadFailed);
  EXPECT_EQ(ReadFile(to_ + "R.TXT"), "");
  BoxRecorder boxes;
  EXPECT_EQ(ReportCopyResult(kCopyReadFailed, unreadable.c_str(), "R.TXT"), 0);
  for (const int silent : {kCopyOk, 1, 1016, 1020})
    EXPECT_EQ(ReportCopyResult(silent, "a", "b"), 1) << silent;
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "Error reading " + unreadable + ".  Possible cause: bad disk");
}

}  // namespace
