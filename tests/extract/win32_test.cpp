// The engine on Windows itself (run under Wine): the archive is held open denying others
// write access, stamps are local time set as the last-write time, and OEM names are
// created under their ANSI form while the window and the messages see the stored form.
#include <windows.h>

#include "extract/extract.h"
#include "tests/extract/engine_host.h"
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using zipbuild::Stored;

namespace {

class Win32EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = &StartHost();
    out = scratch.File("out");
    fs::create_directories(out);
  }
  ScratchFolder scratch;
  EngineHost* host = nullptr;
  std::string out;
};

TEST_F(Win32EngineTest, ArchiveIsOpenDenyingOthersWriteOnlyWhileTheRunLasts) {
  static std::string archive;
  archive = scratch.Write("a.zip", zipbuild::Archive({Stored("a.txt", "A")}));
  static DWORD writeError = 0;
  static bool readOpened = false;
  host->answer = [](const SentMessage& m) {
    if (m.message != PWM_ENTRYNAME) return intptr_t{0};
    HANDLE w = CreateFileA(archive.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    writeError = w == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (w != INVALID_HANDLE_VALUE) CloseHandle(w);
    HANDLE r = CreateFileA(archive.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    readOpened = r != INVALID_HANDLE_VALUE;
    if (readOpened) CloseHandle(r);
    return intptr_t{0};
  };
  ExtractJob job = MakeJob(archive, out.c_str());
  EXPECT_EQ(ExtractArchive(&job), 1);
  EXPECT_EQ(job.result, EXTRACT_OK);
  EXPECT_EQ(writeError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(readOpened);
  HANDLE after = CreateFileA(archive.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(after, INVALID_HANDLE_VALUE);
  if (after != INVALID_HANDLE_VALUE) CloseHandle(after);
}

TEST_F(Win32EngineTest, StampIsLocalTimeSetAsTheLastWriteTime) {
  zipbuild::Entry e = Stored("t.txt", "t");
  e.date = static_cast<uint16_t>(((1999 - 1980) << 9) | (12 << 5) | 31);
  e.time = static_cast<uint16_t>((23 << 11) | (59 << 5) | (58 / 2));
  const std::string archive = scratch.Write("a.zip", zipbuild::Archive({e}));
  ExtractJob job = MakeJob(archive, out.c_str());
  EXPECT_EQ(ExtractArchive(&job), 1);
  EXPECT_EQ(job.result, EXTRACT_OK);

  FILETIME local, expected;
  ASSERT_TRUE(DosDateTimeToFileTime(e.date, e.time, &local));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &expected));
  HANDLE f = CreateFileA((out + "\\t.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  FILETIME created, accessed, written;
  ASSERT_TRUE(GetFileTime(f, &created, &accessed, &written));
  CloseHandle(f);
  EXPECT_EQ(CompareFileTime(&written, &expected), 0);
}

TEST_F(Win32EngineTest, OemNameIsCreatedUnderItsAnsiForm) {
  const std::string stored =
      "docs/\x81"
      "ber\x84"
      ".txt";  // OEM code page bytes
  const std::string archive = scratch.Write("a.zip", zipbuild::Archive({Stored(stored, "oem")}));
  ExtractJob job = MakeJob(archive, out.c_str());
  EXPECT_EQ(ExtractArchive(&job), 1);
  EXPECT_EQ(job.result, EXTRACT_OK) << ::testing::PrintToString(host->BoxTexts());
  char ansi[64] =
      "\x81"
      "ber\x84"
      ".txt";
  OemToCharA(ansi, ansi);
  ASSERT_STRNE(ansi,
               "\x81"
               "ber\x84"
               ".txt")
      << "the OEM and ANSI code pages differ here";
  EXPECT_EQ(ScratchFolder::Read(out + "\\" + ansi), "oem");
  EXPECT_THAT(host->messages, ElementsAre(Name("\x81"
                                               "ber\x84"
                                               ".txt"),
                                          Advance(0)));
}

TEST_F(Win32EngineTest, CreateFailureNamesTheUnconvertedPath) {
  const std::string archive =
      scratch.Write("a.zip", zipbuild::Archive({Stored("missing/\x81.txt", "x")}));
  ExtractJob job = MakeJob(archive, out.c_str());
  job.keepPaths = 1;
  EXPECT_EQ(ExtractArchive(&job), 1);
  EXPECT_EQ(job.result, EXTRACT_ERROR);
  EXPECT_THAT(host->BoxTexts(),
              ElementsAre("Can't create output file: " + out + "\\missing\\\x81.txt"));
}

}  // namespace
