// kxmedium's Windows side, in-process under Wine: folder listing and identity, the system's
// random source, local MS-DOS times, and verify refusing a companion whose time has moved.
#include "tests/scratch.h"
#include "tests/wine/support.h"

#include "tools/kxmedium_build.h"
#include "tools/kxmedium_os.h"
#include "tools/kxmedium_verify.h"

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

// What kxmedium builds, the engine extracting it, is checked by the installation tests; here
// verify accepts the medium and refuses it once a companion's time moves a second.
TEST(WindowsSide, VerifyRefusesACompanionStampedASecondLater) {
  const std::string work = kxtest::FreshFolder(), medium = work + "medium";
  ASSERT_TRUE(kxtest::BuildMedium(work, {{"KARVEX32.EXE", "MZ" + RandomText(50000, 1)}}));
  EXPECT_EQ(VerifyMedium(medium), 0);
  const std::string license = medium + "\\LICENSE.TXT";
  const uint64_t later = kxtest::LastWrite(license) + 10000000;
  ASSERT_TRUE(kxtest::Stamp(license, {static_cast<DWORD>(later), static_cast<DWORD>(later >> 32)}));
  EXPECT_EQ(VerifyMedium(medium), 2);
}

}  // namespace
}  // namespace kxmedium
