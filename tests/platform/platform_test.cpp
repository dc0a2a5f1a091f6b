// The platform layer as the portable code relies on it: classic file calls, lookups, file
// times, local DOS time to UTC, the OEM/ANSI conversions and bounded formatting. Runs natively
// and under Wine.
#include "platform/platform.h"

#include "tests/scratch.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

uint64_t Ticks(const platform::FileTime& t) { return (uint64_t{t.high} << 32) | t.low; }

TEST(FileCalls, WriteReadSeekDeleteFindAndStamp) {
  ScratchFolder dir;
  const std::string path = dir.Write("data.bin", "previous contents, longer than the new ones");
  std::string bytes(70000, '\0'), back(70000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  const int out = platform::FileCreate(path.c_str());
  EXPECT_EQ(platform::FileWrite(out, bytes.data(), 70000), 65535u);  // at most 65535 a call
  EXPECT_EQ(platform::FileWrite(out, bytes.data() + 65535, 70000 - 65535), 70000u - 65535);
  platform::FileClose(out);
  EXPECT_TRUE(ScratchFolder::Read(path) == bytes);
  const int in = platform::FileOpenRead((dir.path().string() + "\\data.bin").c_str());
  EXPECT_EQ(platform::FileRead(in, back.data(), 70000), 65535u);
  EXPECT_EQ(platform::FileSeek(in, 100, platform::SeekFrom::Begin), 100);
  EXPECT_EQ(platform::FileSeek(in, 50, platform::SeekFrom::Current), 150);
  EXPECT_EQ(platform::FileRead(in, back.data(), 10), 10u);
  EXPECT_EQ(back.substr(0, 10), bytes.substr(150, 10));
  EXPECT_EQ(platform::FileSeek(in, -200, platform::SeekFrom::Current), -1);
  EXPECT_EQ(platform::FileSeek(in, 69990, platform::SeekFrom::Begin), 69990);
  EXPECT_EQ(platform::FileRead(in, back.data(), 100), 10u);  // short at the end
  EXPECT_EQ(platform::FileRead(in, back.data(), 100), 0u);
#ifdef _WIN32
  EXPECT_EQ(platform::FileCreate(path.c_str()), platform::kInvalidFile);  // denied while read
#endif
  platform::FileClose(in);
  EXPECT_TRUE(platform::FileDelete(path.c_str()));
  EXPECT_FALSE(platform::FileDelete(path.c_str()));
  EXPECT_EQ(platform::FileOpenRead(path.c_str()), platform::kInvalidFile);
  EXPECT_EQ(platform::FileCreate(dir.File("none/x").c_str()), platform::kInvalidFile);
  const int folder = platform::FileOpenRead(dir.path().string().c_str());
  if (folder != platform::kInvalidFile) {  // POSIX opens folders; reading one is an error
    EXPECT_EQ(platform::FileRead(folder, back.data(), 10), platform::kIoError);
    platform::FileClose(folder);
  }
  platform::FileTime written;
  EXPECT_FALSE(platform::GetFileTimes(platform::kInvalidFile, nullptr, nullptr, &written));
  platform::SetHostHooks({});
  EXPECT_EQ(platform::SendWindowMessage(nullptr, 1302, 0, 0), 0);  // no window, no answer

  // Stamps set through a handle read back through it and through the lookup, to the tick.
  // 2001-09-08 07:06:04.1234567 and 1969-12-31 23:59:59.5, universal time.
  for (const uint64_t stamp : {126444063641234567ull, 116444735995000000ull}) {
    const platform::FileTime time{static_cast<uint32_t>(stamp), static_cast<uint32_t>(stamp >> 32)};
    const int file = platform::FileCreate(dir.File("t.txt").c_str());
    EXPECT_TRUE(platform::SetFileTimes(file, nullptr, nullptr, &time));
    EXPECT_TRUE(platform::GetFileTimes(file, nullptr, nullptr, &written));
    platform::FileClose(file);
    platform::FindData found;
    EXPECT_TRUE(platform::FindFirst(dir.File("t.txt").c_str(), &found));
    EXPECT_EQ(Ticks(written), stamp);
    EXPECT_EQ(Ticks(found.lastWrite), stamp);
  }
  std::filesystem::create_directories(dir.path() / "folder");
  const struct {
    const char* pattern;
    const char* name;  // null: not found
    bool isFolder;
  } rows[] = {{"t.txt", "t.txt", false},       {"folder", "folder", true},
              {"*.txt", "t.txt", false},       {"?.t*", "t.txt", false},
              {"missing.txt", nullptr, false}, {"*.none", nullptr, false}};
  for (const auto& row : rows) {
    platform::FindData data;
    ASSERT_EQ(platform::FindFirst(dir.File(row.pattern).c_str(), &data), row.name != nullptr);
    if (!row.name) continue;
    EXPECT_STREQ(data.name, row.name);
    EXPECT_EQ(data.isFolder, row.isFolder) << row.pattern;
    EXPECT_EQ(data.sizeLow, row.isFolder ? data.sizeLow : 0u);
  }
}

// The tests run in Asia/Kolkata, 5:30 east of UTC all year (under Wine too, which takes the zone
// from TZ).
TEST(DosTime, LocalCalendarFieldsBecomeUtcOrAreRefused) {
  const struct {
    int y, m, d, h, mi, s;
    int64_t utc;  // seconds since 1970 of the universal time; -1: refused
  } rows[] = {
      {1980, 1, 1, 0, 0, 0, 315513000},
      {2020, 2, 29, 23, 59, 58, 1583000998},
      {2107, 12, 31, 12, 30, 10, 4354758010},
      {1999, 7, 15, 6, 5, 4, 931998904},
      {2020, 0, 1, 0, 0, 0, -1},
      {2020, 13, 1, 0, 0, 0, -1},
      {2020, 1, 0, 0, 0, 0, -1},
      {2020, 1, 1, 24, 0, 0, -1},
      {2020, 1, 1, 23, 60, 0, -1},
      {2020, 1, 1, 23, 59, 60, -1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.y) + "-" + std::to_string(row.m) + "-" + std::to_string(row.d));
    platform::FileTime t;
    const bool valid = platform::DosDateTimeToUtc(
        static_cast<uint16_t>(((row.y - 1980) << 9) | (row.m << 5) | row.d),
        static_cast<uint16_t>((row.h << 11) | (row.mi << 5) | (row.s / 2)), &t);
    ASSERT_EQ(valid, row.utc >= 0);
    if (!valid) continue;
    EXPECT_EQ(Ticks(t), uint64_t(row.utc + 11644473600) * 10000000);
  }
}

// OEM text (code page 437) to ANSI and back; natively ANSI is UTF-8, on Windows code page 1252.
TEST(CharacterSets, OemNamesBecomeAnsiAndBack) {
  const struct {
    const char *oem, *ansi;  // ansi null: does not fit a buffer of 4
  } rows[] = {
      {"PLAIN.TXT", "PLAIN.TXT"},
#ifdef _WIN32
      {"caf\x82 \x81", "caf\xE9 \xFC"},
#else
      {"caf\x82 \x81", "caf\xC3\xA9 \xC3\xBC"},
      {"\x82", "\xC3\xA9"},
      {"\x80\xB0\xFF", "\xC3\x87\xE2\x96\x91\xC2\xA0"},  // the table's ends, three bytes in UTF-8
      {"\xB0\xB1\xB2", nullptr},
      {"\x82\x82", nullptr},  // four bytes and the end: one more than the buffer holds
#endif
  };
  for (const auto& row : rows) {
    char text[32];
    std::strcpy(text, row.oem);
    ASSERT_EQ(platform::OemTextToAnsi(text, row.ansi ? std::strlen(row.ansi) + 1 : 4), !!row.ansi);
    EXPECT_STREQ(text, row.ansi ? row.ansi : row.oem);  // left alone when it does not fit
    if (!row.ansi) continue;
    platform::AnsiTextToOem(text);
    EXPECT_STREQ(text, row.oem);
  }
#ifndef _WIN32
  const std::pair<const char*, const char*> utf8[] = {
      // UTF-8 in, OEM out
      {"caf\xC3\xA9", "caf\x82"},
      {"\xE2\x96\x91", "\xB0"},
      {"\xC0\x80", "?"},
      {"\xE0\xA0\x80", "?"},
      {"\xF0\x9F\x98\x80", "?"},
      {"\xC3", "?"},
      {"\xC3x", "?x"},
      {"\200a", "?a"},
      {"a\342\202\254b\377", "a?b?"},  // the euro sign, then a stray byte
  };
  for (const auto& [in, oem] : utf8) {
    char text[16];
    std::strcpy(text, in);
    platform::AnsiTextToOem(text);
    EXPECT_STREQ(text, oem) << in;
  }
#endif
}

TEST(Formatting, OutputIsCutToTheBuffer) {
  char out[8];
  EXPECT_EQ(platform::FormatText(out, sizeof out, "%s-%d", "abcdef", 42), 7);
  EXPECT_STREQ(out, "abcdef-");
  EXPECT_EQ(platform::FormatText(out, sizeof out, "%s", "12345678"), 7);  // one too many
  EXPECT_STREQ(out, "1234567");
  EXPECT_EQ(platform::FormatText(out, sizeof out, "%d%%", 37), 3);
  EXPECT_STREQ(out, "37%");
}

#ifndef _WIN32
// Without a host that shows boxes, a box is a line on standard error, answered OK.
TEST(Boxes, WithoutAHostAreALineOnStandardError) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(platform::ShowMessageBox(nullptr, "one", "Caption", 0), platform::mb::kIdOk);
  EXPECT_EQ(platform::ShowMessageBox(nullptr, "two", nullptr, 0), platform::mb::kIdOk);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Caption: one\nError: two\n");
}
#endif

}  // namespace
