// kxmedium's Windows side, in-process under Wine: folder listing and identity, the system's
// random source, local MS-DOS times, and a medium built with zlib that verify accepts and the
// engine extracts exactly, and that verify rejects once a companion's time moves a second.
#include "tests/scratch.h"

#include "tools/kxmedium_build.h"
#include "tools/kxmedium_os.h"
#include "tools/kxmedium_verify.h"

#include "extract/extract.h"
#include "res/companions.h"

#include <map>
#include <random>

#include <gtest/gtest.h>

namespace kxmedium {
namespace {

std::string RandomText(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

TEST(WindowsSide, ListsFoldersSortedAndKnowsTheSameFolderInAnyForm) {
  ScratchFolder scratch;
  scratch.Write("b.txt", "b");
  scratch.Write("A.TXT", "a");
  std::filesystem::create_directories(scratch.path() / "Sub");
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(ListFolder(scratch.path().string(), &entries));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "A.TXT");
  EXPECT_EQ(entries[0].kind, EntryKind::File);
  EXPECT_EQ(entries[1].name, "Sub");
  EXPECT_EQ(entries[1].kind, EntryKind::Folder);
  EXPECT_EQ(entries[2].name, "b.txt");

  const std::string sub = (scratch.path() / "Sub").string();
  EXPECT_TRUE(SameFolder(sub, sub + "\\"));
  EXPECT_TRUE(SameFolder(sub, (scratch.path() / "SUB").string()));
  EXPECT_TRUE(SameFolder(sub, (scratch.path() / "Sub" / "..\\Sub").string()));
  EXPECT_FALSE(SameFolder(sub, scratch.path().string()));
  EXPECT_FALSE(SameFolder(sub, (scratch.path() / "absent").string()));
  EXPECT_FALSE(ListFolder((scratch.path() / "absent").string(), &entries));

  EXPECT_TRUE(MakeFolders((scratch.path() / "x" / "y" / "z").string()));
  EXPECT_TRUE(std::filesystem::is_directory(scratch.path() / "x" / "y" / "z"));
}

TEST(WindowsSide, RandomBytesComeFromTheSystem) {
  uint8_t a[32] = {}, b[32] = {};
  ASSERT_TRUE(RandomBytes(a, sizeof a));
  ASSERT_TRUE(RandomBytes(b, sizeof b));
  EXPECT_FALSE(std::equal(a, a + 32, b));
}

TEST(WindowsSide, MsDosTimesComeBackThroughThePlatformsConversion) {
  // Whatever the time zone: back through DosDateTimeToUtc, a time loses only its odd second
  // and its fraction.
  for (const uint64_t unixSeconds : {315600000ull, 1000000001ull, 1614834367ull, 1700000000ull}) {
    const uint64_t ticks = unixSeconds * 10000000ull + 116444736000000000ull + 1234567;
    const platform::FileTime time{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
    uint16_t date = 0, clock = 0;
    ASSERT_TRUE(FileTimeToDos(time, &date, &clock)) << unixSeconds;
    platform::FileTime back;
    ASSERT_TRUE(platform::DosDateTimeToUtc(date, clock, &back)) << unixSeconds;
    const uint64_t backTicks = (static_cast<uint64_t>(back.high) << 32) | back.low;
    EXPECT_EQ(backTicks, (unixSeconds - unixSeconds % 2) * 10000000ull + 116444736000000000ull)
        << unixSeconds;
  }
  const platform::FileTime before1980{0, 0x01A00000};  // in 1972
  uint16_t date = 0, clock = 0;
  EXPECT_FALSE(FileTimeToDos(before1980, &date, &clock));
}

TEST(WindowsSide, BuildsAMediumThatVerifiesAndExtractsExactly) {
  ScratchFolder scratch;
  const auto root = scratch.path();
  std::filesystem::create_directories(root / "companions");
  std::filesystem::create_directories(root / "payload");
  for (const CompanionFile* c = CompanionFiles; c->name; ++c)
    scratch.Write(std::string("companions\\") + c->name, std::string("About ") + c->name + "\r\n");
  const std::map<std::string, std::string> files = {
      {"KARVEX32.EXE", "MZ" + RandomText(50000, 1)},
      {"MANUAL.TXT", std::string(100000, 'k')},
      {"EMPTY.DAT", ""},
  };
  for (const auto& [name, bytes] : files) scratch.Write("payload\\" + name, bytes);
  BuildOptions options;
  options.setupProgram = scratch.Write("SETUP.EXE", "MZ" + RandomText(3000, 2));
  options.companionsDir = (root / "companions").string();
  options.payloadDir = (root / "payload").string();
  options.mediumDir = (root / "medium").string();
  ASSERT_EQ(BuildMedium(options), 0);
  EXPECT_EQ(VerifyMedium(options.mediumDir), 0);

  const std::string archive = (root / "medium" / kPayloadName).string();
  const std::string out = (root / "out").string();
  std::filesystem::create_directories(out);
  ExtractJob job{};
  job.archivePath = archive.c_str();
  job.outputFolder = out.c_str();
  job.reportCrcErrors = 1;
  ASSERT_EQ(ExtractArchive(&job), 1);
  ASSERT_EQ(job.result, EXTRACT_OK);
  for (const auto& [name, bytes] : files) {
    const std::string stored = name == "KARVEX32.EXE" ? "KARVEX32.EX_" : name;
    EXPECT_TRUE(ScratchFolder::Read(out + "\\" + stored) == bytes) << stored;
  }

  // One second later on one companion file, and verify refuses the medium.
  const std::string license = (root / "medium" / "LICENSE.TXT").string();
  platform::FindData data;
  ASSERT_TRUE(platform::FindFirst(license.c_str(), &data));
  uint64_t ticks = ((static_cast<uint64_t>(data.lastWrite.high) << 32) | data.lastWrite.low);
  ticks += 10000000;
  const platform::FileTime later{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
  // Rewritten with the same bytes and stamped a second later.
  const std::string keep = ScratchFolder::Read(license);
  const int handle = platform::FileCreate(license.c_str());
  ASSERT_NE(handle, platform::kInvalidFile);
  ASSERT_EQ(platform::FileWrite(handle, keep.data(), static_cast<unsigned>(keep.size())),
            keep.size());
  ASSERT_TRUE(platform::SetFileTimes(handle, &later, &later, &later));
  platform::FileClose(handle);
  EXPECT_EQ(VerifyMedium(options.mediumDir), 2);
}

}  // namespace
}  // namespace kxmedium
