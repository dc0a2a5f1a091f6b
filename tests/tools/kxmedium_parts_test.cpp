// kxmedium's pieces in-process: the payload name rules, the encryption against the engine's
// decryption, MS-DOS time conversion, the SZDD size reader, the meter arithmetic and the
// directory reader on damaged archives.
#include "tests/scratch.h"

#include "tools/kxmedium_crypt.h"
#include "tools/kxmedium_names.h"
#include "tools/kxmedium_os.h"
#include "tools/kxmedium_totals.h"
#include "tools/kxmedium_zipdir.h"
#include "tools/kxmedium_zipwriter.h"

#include "extract/decrypt.h"

#include <random>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kxmedium {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(PayloadNames, AcceptedNamesAreStoredInTheOemCodePage) {
  const struct {
    const char* name;
    const char* stored;
  } cases[] = {
      {"README.TXT", "README.TXT"},
      {"long name with blanks.txt", "long name with blanks.txt"},
      {"caf\xC3\xA9.txt", "caf\x82.txt"},  // é is 0x82 in code page 437
      {"CONSOLE.TXT", "CONSOLE.TXT"},      // CON only as a whole stem
      {".profile", ".profile"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(ArchiveNameFor(c.name, &why), c.stored) << c.name << ": " << why;
  }
}

TEST(PayloadNames, NamesTheSetupCannotWriteAreRefusedWithTheirReason) {
  const struct {
    std::string name;
    const char* reason;
  } cases[] = {
      {"", "empty or longer than 255"},
      {std::string(256, 'a'), "empty or longer than 255"},
      {"a*b", "character Windows does not allow"},
      {"tab\there", "character Windows does not allow"},
      {"back\\slash", "character Windows does not allow"},
      {"trailing ", "ends in a dot or a blank"},
      {"nul", "device name"},
      {"Com1.log", "device name"},
      {"LPT9", "device name"},
      {"\xE2\x82\xAC", "OEM code page"},  // the euro sign is not in code page 437
      {"bad\xFF.txt", "OEM code page"},   // not UTF-8 at all
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(ArchiveNameFor(c.name, &why), "") << c.name;
    EXPECT_THAT(why, HasSubstr(c.reason)) << c.name;
  }
  std::string why;
  EXPECT_EQ(ArchiveNameFor(std::string(255, 'a'), &why), std::string(255, 'a'));
}

TEST(PayloadNames, TheMainProgramIsStagedAndCollisionsAreNamed) {
  EXPECT_EQ(StagedMainProgramName(), "KARVEX32.EX_");
  std::vector<std::string> problems;
  const auto plan = PlanPayload({"A.TXT", "Karvex32.Exe", "b.txt"}, &problems);
  EXPECT_TRUE(problems.empty());
  ASSERT_EQ(plan.size(), 3u);
  EXPECT_EQ(plan[1].fileName, "Karvex32.Exe");
  EXPECT_EQ(plan[1].entryName, "KARVEX32.EX_");
  EXPECT_EQ(plan[2].entryName, "b.txt");

  problems.clear();
  PlanPayload({"a.txt", "A.TXT", "x?"}, &problems);
  EXPECT_THAT(problems,
              ElementsAre(HasSubstr("a.txt and A.TXT differ only in letter case"),
                          HasSubstr("payload file x?"), HasSubstr("holds neither KARVEX32.EXE")));

  problems.clear();
  PlanPayload({"KARVEX32.EX_", "karvex32.exe"}, &problems);
  EXPECT_THAT(problems, ElementsAre(HasSubstr("both KARVEX32.EX_ and karvex32.exe")));
}

// The engine's own decryption primitives undo what the writer's encryption did, for the
// built-in password with its 0xA9 byte, an ASCII one and the empty one.
TEST(Encryption, TheEngineDecryptsWhatTheWriterEncrypts) {
  std::mt19937 random(7);
  std::vector<uint8_t> plain(3000);
  for (uint8_t& b : plain) b = static_cast<uint8_t>(random());
  for (const char* password : {static_cast<const char*>(kBuiltInPassword), "secret", ""}) {
    std::vector<uint8_t> data = plain;
    ZipEncryptor(password).Encrypt(data.data(), data.size());
    EXPECT_NE(data, plain);
    InitKeys(password);
    for (uint8_t& b : data) {
      b ^= DecryptByte();
      UpdateKeys(b);
    }
    EXPECT_EQ(data, plain) << password;
  }
}

TEST(Encryption, HeaderEndsInTheCrcsHighByteAfterElevenRandomBytes) {
  uint8_t first[12], second[12];
  ASSERT_TRUE(MakeEncryptionHeader(0xA1B2C3D4, first));
  ASSERT_TRUE(MakeEncryptionHeader(0xA1B2C3D4, second));
  EXPECT_EQ(first[11], 0xA1);
  EXPECT_EQ(second[11], 0xA1);
  EXPECT_FALSE(std::equal(first, first + 11, second));  // one chance in 2^88 to fail
}

platform::FileTime FromUnix(int64_t seconds) {
  const uint64_t value = static_cast<uint64_t>(seconds) * 10000000ull + 116444736000000000ull;
  return {static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32)};
}

TEST(DosTime, LocalTimeInTwoSecondStepsWithinTheMsDosYears) {
  // The tests run with TZ=UTC.
  const struct {
    int64_t unixSeconds;
    bool representable;
    uint16_t date, time;
  } cases[] = {
      {315532800, true, 0x0021, 0x0000},   // 1980-01-01 00:00:00
      {315532799, false, 0, 0},            // 1979-12-31 23:59:59
      {1614834367, true, 0x5264, 0x28C3},  // 2021-03-04 05:06:07 -> :06
      {4354819199, true, 0xFF9F, 0xBF7D},  // 2107-12-31 23:59:59 -> :58
      {4354819200, false, 0, 0},           // 2108-01-01
  };
  for (const auto& c : cases) {
    uint16_t date = 0, time = 0;
    EXPECT_EQ(FileTimeToDos(FromUnix(c.unixSeconds), &date, &time), c.representable)
        << c.unixSeconds;
    if (!c.representable) continue;
    EXPECT_EQ(date, c.date) << c.unixSeconds;
    EXPECT_EQ(time, c.time) << c.unixSeconds;
  }
}

TEST(Totals, SzddCompanionsCountTheirExpandedSize) {
  ScratchFolder scratch;
  const std::string sig("SZDD\x88\xF0\x27\x33", 8);
  const struct {
    const char* name;
    std::string bytes;
    uint32_t expected;
  } cases[] = {
      {"full", sig + "A_" + std::string("\x10\x27\x00\x00", 4) + "rest", 10000},
      {"header only", sig + "A_" + std::string("\xFF\xFF\xFF\xFF", 4), 0xFFFFFFFF},
      {"short", sig + "A_" + std::string("\x10\x27\x00", 3), 777},
      {"half signature", "SZDD" + std::string("\x88\xF0\x27\x34", 4) + "A_\x10\x27\x00\x00", 777},
      {"plain", "just text, long enough", 777},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ExpandedFileSize(scratch.Write(c.name, c.bytes), 777), c.expected) << c.name;
  EXPECT_EQ(ExpandedFileSize(scratch.File("absent"), 777), 777u);
}

TEST(Totals, KilobytesRoundDownAndTheMeterCountsTensOfThem) {
  const struct {
    uint64_t bytes;
    uint32_t kb, range;
    bool fits;
  } cases[] = {
      {0, 0, 0, true},
      {10239, 9, 0, true},
      {10240, 10, 1, true},
      {102399, 99, 9, true},
      {0xFFFFFFFF, 4194303, 419430, true},
      {0x100000000ull, 0, 0, false},  // what the setup's 32-bit sum would hold
  };
  for (const auto& c : cases) {
    MediumTotal total;
    total.bytes = c.bytes;
    EXPECT_EQ(total.totalKB(), c.kb) << c.bytes;
    EXPECT_EQ(total.meterRange(), c.range) << c.bytes;
    EXPECT_EQ(total.fitsSetup(), c.fits) << c.bytes;
  }
}

class ZipDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    ZipWriter writer(archive, kBuiltInPassword, false);
    std::string error;
    ASSERT_TRUE(writer.Open(&error)) << error;
    const std::string text(5000, 'k');
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    for (const char* name : {"ONE.TXT", "KARVEX32.EX_", "THREE"})
      ASSERT_TRUE(writer.AddEntry(name, bytes, 0x5264, 0x28C3, &error)) << error;
    ASSERT_TRUE(writer.Finish(&error)) << error;
    good = ScratchFolder::Read(archive);
  }
  ScratchFolder scratch;
  std::string archive = scratch.File("setup.kx");
  std::string good;
};

TEST_F(ZipDirectory, ReadsTheWrittenEntries) {
  std::vector<DirectoryEntry> entries;
  std::string error;
  ASSERT_TRUE(ReadZipDirectory(archive, &entries, &error)) << error;
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].name, "KARVEX32.EX_");
  for (const DirectoryEntry& e : entries) {
    EXPECT_EQ(e.flags & 1, 1);
    EXPECT_EQ(e.method, 8);
    EXPECT_EQ(e.size, 5000u);
    EXPECT_TRUE(e.localHeaderMatches) << e.name;
  }
}

TEST_F(ZipDirectory, TruncatedArchivesAreRefusedWithoutReadingPastTheirEnd) {
  for (size_t length = 0; length < good.size(); ++length) {
    scratch.Write("cut.kx", good.substr(0, length));
    std::vector<DirectoryEntry> entries;
    std::string error;
    EXPECT_FALSE(ReadZipDirectory(scratch.File("cut.kx"), &entries, &error)) << length;
    EXPECT_FALSE(error.empty()) << length;
  }
}

TEST_F(ZipDirectory, DamagedDirectoryFieldsAreCaught) {
  const size_t end = good.size() - 22;
  const size_t directory = good.find("PK\x01\x02");
  ASSERT_NE(directory, std::string::npos);
  const struct {
    const char* name;
    size_t offset;
    char value;
    const char* reason;  // empty: read, but the local header check fails
  } cases[] = {
      {"directory offset past the end", end + 19, '\x7F', "outside the file"},
      {"directory size too large", end + 15, '\x10', "outside the file"},
      {"entry count larger", end + 10, '\x09', "multi-disk"},
      {"both counts larger", end + 8, '\x04', "damaged"},
      {"name length runs off", directory + 29, '\x40', "runs past its end"},
      {"local offset moved", directory + 42, '\x01', ""},
  };
  for (const auto& c : cases) {
    std::string bytes = good;
    bytes[c.offset] = c.value;
    if (std::string(c.name) == "both counts larger") bytes[end + 10] = c.value;
    scratch.Write("bad.kx", bytes);
    std::vector<DirectoryEntry> entries;
    std::string error;
    const bool read = ReadZipDirectory(scratch.File("bad.kx"), &entries, &error);
    if (*c.reason) {
      EXPECT_FALSE(read) << c.name;
      EXPECT_THAT(error, HasSubstr(c.reason)) << c.name;
    } else {
      ASSERT_TRUE(read) << c.name << ": " << error;
      EXPECT_FALSE(entries[0].localHeaderMatches) << c.name;
    }
  }
}

TEST_F(ZipDirectory, EveryFlippedByteIsReadWithoutHarm) {
  // Whatever the damage, the reader answers; run under the sanitizers it shows no overrun.
  for (size_t offset = 0; offset < good.size(); offset += 7) {
    std::string bytes = good;
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0xFF);
    scratch.Write("flip.kx", bytes);
    std::vector<DirectoryEntry> entries;
    std::string error;
    if (ReadZipDirectory(scratch.File("flip.kx"), &entries, &error))
      EXPECT_LE(entries.size(), 0xFFFFu);
    else
      EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace kxmedium
