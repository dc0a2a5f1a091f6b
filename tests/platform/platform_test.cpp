// The platform layer as the portable code relies on it: classic file calls, lookups, file
// times, local DOS time to UTC, and the OEM/ANSI conversions. Runs natively and under Wine.
#include "platform/platform.h"

#include "tests/scratch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using platform::FileTime;

uint64_t Ticks(const FileTime& t) { return (static_cast<uint64_t>(t.high) << 32) | t.low; }
FileTime FromTicks(uint64_t v) {
  return {static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)};
}
uint16_t DosDate(int y, int m, int d) {
  return static_cast<uint16_t>(((y - 1980) << 9) | (m << 5) | d);
}
uint16_t DosTime(int h, int mi, int s) {
  return static_cast<uint16_t>((h << 11) | (mi << 5) | (s / 2));
}
// 100 ns ticks of a UTC calendar time.
uint64_t UtcTicks(int y, int m, int d, int h, int mi, int s) {
  // days from civil (proleptic Gregorian), epoch 1601-01-01
  y -= m <= 2;
  const int era = y / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days1970 = static_cast<int64_t>(era) * 146097 + doe - 719468;
  const int64_t seconds = days1970 * 86400 + h * 3600 + mi * 60 + s;
  return static_cast<uint64_t>(seconds) * 10000000ull + 116444736000000000ull;
}

TEST(FileCalls, WriteReadSeekAndDelete) {
  ScratchFolder dir;
  const std::string path = dir.File("data.bin");
  const int out = platform::FileCreate(path.c_str());
  ASSERT_NE(out, platform::kInvalidFile);
  std::vector<char> bytes(70000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  // One call moves at most 65535 bytes.
  EXPECT_EQ(platform::FileWrite(out, bytes.data(), 70000), 65535u);
  EXPECT_EQ(platform::FileWrite(out, bytes.data() + 65535, 70000 - 65535), 70000u - 65535);
  platform::FileClose(out);

  const int in = platform::FileOpenRead(path.c_str());
  ASSERT_NE(in, platform::kInvalidFile);
  std::vector<char> back(70000);
  EXPECT_EQ(platform::FileRead(in, back.data(), 70000), 65535u);
  EXPECT_EQ(platform::FileSeek(in, 100, platform::SeekFrom::Begin), 100);
  EXPECT_EQ(platform::FileSeek(in, 50, platform::SeekFrom::Current), 150);
  EXPECT_EQ(platform::FileRead(in, back.data(), 10), 10u);
  EXPECT_EQ(std::memcmp(back.data(), bytes.data() + 150, 10), 0);
  EXPECT_EQ(platform::FileSeek(in, 69990, platform::SeekFrom::Begin), 69990);
  EXPECT_EQ(platform::FileRead(in, back.data(), 100), 10u);  // short at the end
  EXPECT_EQ(platform::FileRead(in, back.data(), 100), 0u);
  platform::FileClose(in);

  EXPECT_TRUE(platform::FileDelete(path.c_str()));
  EXPECT_FALSE(platform::FileDelete(path.c_str()));
  EXPECT_EQ(platform::FileOpenRead(path.c_str()), platform::kInvalidFile);
}

TEST(FileCalls, CreateTruncatesAnExistingFile) {
  ScratchFolder dir;
  const std::string path = dir.Write("old.txt", "previous contents");
  const int out = platform::FileCreate(path.c_str());
  ASSERT_NE(out, platform::kInvalidFile);
  EXPECT_EQ(platform::FileWrite(out, "new", 3), 3u);
  platform::FileClose(out);
  EXPECT_EQ(ScratchFolder::Read(path), "new");
}

TEST(FileCalls, BackslashesSeparateFolders) {
  ScratchFolder dir;
  std::filesystem::create_directories(dir.path() / "sub");
  dir.Write("sub/inner.txt", "x");
  const std::string path = dir.path().string() + "\\sub\\inner.txt";
  const int in = platform::FileOpenRead(path.c_str());
  ASSERT_NE(in, platform::kInvalidFile);
  platform::FileClose(in);
}

#ifdef _WIN32
TEST(FileCalls, ReadingDeniesOthersWriteAccess) {
  ScratchFolder dir;
  const std::string path = dir.Write("locked.txt", "abc");
  const int in = platform::FileOpenRead(path.c_str());
  ASSERT_NE(in, platform::kInvalidFile);
  EXPECT_EQ(platform::FileCreate(path.c_str()), platform::kInvalidFile);
  const int second = platform::FileOpenRead(path.c_str());  // readers may share
  EXPECT_NE(second, platform::kInvalidFile);
  platform::FileClose(second);
  platform::FileClose(in);
  const int now = platform::FileCreate(path.c_str());
  EXPECT_NE(now, platform::kInvalidFile);
  platform::FileClose(now);
}
#endif

TEST(FindFirst, ReportsFilesFoldersAndWildcardMatches) {
  ScratchFolder dir;
  dir.Write("alpha.txt", "12345");
  std::filesystem::create_directories(dir.path() / "folder");
  platform::FindData data;
  ASSERT_TRUE(platform::FindFirst(dir.File("alpha.txt").c_str(), &data));
  EXPECT_EQ(data.sizeLow, 5u);
  EXPECT_STREQ(data.name, "alpha.txt");
  EXPECT_FALSE(data.isFolder);

  ASSERT_TRUE(platform::FindFirst(dir.File("folder").c_str(), &data));
  EXPECT_TRUE(data.isFolder);

  ASSERT_TRUE(platform::FindFirst(dir.File("*.txt").c_str(), &data));
  EXPECT_STREQ(data.name, "alpha.txt");
  EXPECT_EQ(data.sizeLow, 5u);

  EXPECT_FALSE(platform::FindFirst(dir.File("missing.txt").c_str(), &data));
  EXPECT_FALSE(platform::FindFirst(dir.File("*.none").c_str(), &data));
}

TEST(FileTimes, LastWriteTimeRoundTripsThroughTheHandle) {
  ScratchFolder dir;
  const std::string path = dir.Write("t.txt", "x");
  const FileTime stamp = FromTicks(UtcTicks(2001, 9, 8, 7, 6, 4));
  const int file = platform::FileCreate(path.c_str());
  ASSERT_NE(file, platform::kInvalidFile);
  ASSERT_TRUE(platform::SetFileTimes(file, nullptr, nullptr, &stamp));
  FileTime written;
  ASSERT_TRUE(platform::GetFileTimes(file, nullptr, nullptr, &written));
  EXPECT_EQ(Ticks(written), Ticks(stamp));
  platform::FileClose(file);
  platform::FindData data;
  ASSERT_TRUE(platform::FindFirst(path.c_str(), &data));
  EXPECT_EQ(data.lastWrite, stamp);
}

TEST(DosTime, ConvertsLocalCalendarFieldsToUtcTicks) {
  struct Case {
    int y, m, d, h, mi, s;
  };
  for (const Case c : {Case{1980, 1, 1, 0, 0, 0}, Case{2020, 2, 29, 23, 59, 58},
                       Case{2107, 12, 31, 12, 30, 10}, Case{1999, 7, 15, 6, 5, 4}}) {
    SCOPED_TRACE(c.y);
    FileTime t;
    ASSERT_TRUE(platform::DosDateTimeToUtc(DosDate(c.y, c.m, c.d), DosTime(c.h, c.mi, c.s), &t));
    EXPECT_EQ(Ticks(t), LocalTicksToUtc(UtcTicks(c.y, c.m, c.d, c.h, c.mi, c.s)));
  }
}

#ifndef _WIN32
TEST(DosTime, LocalOffsetIsRemoved) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "CET-1", 1);
  tzset();
  FileTime t;
  ASSERT_TRUE(platform::DosDateTimeToUtc(DosDate(2020, 1, 2), DosTime(3, 4, 6), &t));
  EXPECT_EQ(Ticks(t), UtcTicks(2020, 1, 2, 2, 4, 6));
  setenv("TZ", saved.empty() ? "UTC" : saved.c_str(), 1);
  tzset();
}

TEST(DosTime, ImpossibleFieldsAreRefused) {
  FileTime t;
  EXPECT_FALSE(platform::DosDateTimeToUtc(DosDate(2020, 0, 1), 0, &t));
  EXPECT_FALSE(platform::DosDateTimeToUtc(DosDate(2020, 13, 1), 0, &t));
  EXPECT_FALSE(platform::DosDateTimeToUtc(DosDate(2020, 1, 0), 0, &t));
  EXPECT_FALSE(platform::DosDateTimeToUtc(DosDate(2020, 1, 1), DosTime(24, 0, 0), &t));
}
#endif

TEST(CharacterSets, OemNamesBecomeAnsi) {
#ifdef _WIN32
  const char* expected = "caf\xE9 \xFC";  // Windows-1252
#else
  const char* expected = "caf\xC3\xA9 \xC3\xBC";  // UTF-8
#endif
  char text[32] = "caf\x82 \x81";
  ASSERT_TRUE(platform::OemTextToAnsi(text, sizeof text));
  EXPECT_STREQ(text, expected);
  platform::AnsiTextToOem(text);
  EXPECT_STREQ(text, "caf\x82 \x81");
  char plain[16] = "PLAIN.TXT";
  ASSERT_TRUE(platform::OemTextToAnsi(plain, sizeof plain));
  EXPECT_STREQ(plain, "PLAIN.TXT");
}

#ifndef _WIN32
TEST(CharacterSets, EveryOemByteRoundTripsThroughUtf8) {
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    char text[8] = {static_cast<char>(byte), 0};
    ASSERT_TRUE(platform::OemTextToAnsi(text, sizeof text));
    EXPECT_GE(std::strlen(text), 2u) << byte;
    platform::AnsiTextToOem(text);
    EXPECT_EQ(static_cast<unsigned char>(text[0]), byte);
    EXPECT_EQ(text[1], '\0');
  }
}

TEST(CharacterSets, ConversionThatDoesNotFitLeavesTheTextAlone) {
  char text[4] = "\xB0\xB1\xB2";  // three box characters need nine bytes in UTF-8
  EXPECT_FALSE(platform::OemTextToAnsi(text, sizeof text));
  EXPECT_STREQ(text, "\xB0\xB1\xB2");
}

TEST(CharacterSets, UnmappableAnsiBecomesAQuestionMark) {
  char text[16] =
      "a\xE2\x82\xAC"
      "b\xFF";  // euro sign, then a stray byte
  platform::AnsiTextToOem(text);
  EXPECT_STREQ(text, "a?b?");
}
#endif

TEST(Formatting, OutputIsCutToTheBuffer) {
  char out[8];
  EXPECT_EQ(platform::FormatText(out, sizeof out, "%s-%d", "abcdef", 42), 7);
  EXPECT_STREQ(out, "abcdef-");
  EXPECT_EQ(platform::FormatText(out, sizeof out, "%d%%", 37), 3);
  EXPECT_STREQ(out, "37%");
}

}  // namespace
