// Both tools on what users meet: help and version, a file-size limit in the middle of a write,
// an archive past 2 GiB, non-ASCII names written by today's zippers, and kxextract -l beside
// unzip -l on the same archives.
#include "res/companions.h"
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"
#include "tests/tools/run_program.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using zipbuild::Stored;

namespace {

std::string Noise(size_t n) {
  std::mt19937 random(7);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

std::set<std::string> Files(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& item : fs::directory_iterator(folder)) names.insert(item.path().filename());
  return names;
}

// The program run by bash under a file-size limit of `blocks` 1024-byte blocks.
ProgramResult Limited(int blocks, const std::vector<std::string>& argv) {
  std::string command = "ulimit -f " + std::to_string(blocks) + "; exec";
  for (const std::string& arg : argv) command += " '" + arg + "'";
  return RunProgram({"bash", "-c", command});
}

TEST(ToolOptions, HelpAndVersionOnStandardOutputWithExitZero) {
  const struct {
    const char* tool;
    const char* option;
    const char* output;  // a regular expression
  } cases[] = {
      {"kxextract", "-h", "^usage: kxextract .*\n *kxextract -l "},
      {"kxextract", "--help", "^usage: kxextract"},
      {"kxextract", "--version", "^kxextract [0-9.]+\n$"},
      {"kxmedium", "-h", "^usage: kxmedium"},
      {"kxmedium", "--help", "^usage: kxmedium build"},
      {"kxmedium", "--version", "^kxmedium [0-9.]+\n$"},
  };
  for (const auto& c : cases) {
    const ProgramResult r = RunProgram({BuiltProgram(c.tool), c.option});
    EXPECT_EQ(r.status, 0) << c.tool << " " << c.option;
    EXPECT_THAT(r.out, ::testing::ContainsRegex(c.output)) << c.tool << " " << c.option;
    EXPECT_EQ(r.err, "") << c.tool << " " << c.option;
  }
}

TEST(FileSizeLimit, KxextractReportsTheWriteKeepsDoneFilesAndDeletesThePartOne) {
  ScratchFolder scratch;
  const std::string out = scratch.File("out");
  fs::create_directories(out);
  const std::string a = scratch.Write(
      "a.zip", zipbuild::Archive({Stored("a.txt", "done"), Stored("big.bin", Noise(300000))}));
  const ProgramResult r = Limited(200, {BuiltProgram("kxextract"), "-d", out, a});
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, ::testing::MatchesRegex("kxextract: Error writing to .*big\\.bin\\.  "
                                             "Possible cause: disk full\n"));
  EXPECT_EQ(Files(out), std::set<std::string>{"a.txt"});
}

TEST(FileSizeLimit, KxmediumSaysWhyAndLeavesNoTruncatedArchive) {
  ScratchFolder scratch;
  const std::string companions = scratch.File("c"), payload = scratch.File("p");
  fs::create_directories(companions);
  fs::create_directories(payload);
  for (const CompanionFile* c = CompanionFiles; c->name; ++c)
    scratch.Write(std::string("c/") + c->name, "text");
  scratch.Write("p/KARVEX32.EXE", Noise(300000));
  const std::string setup = scratch.Write("SETUP.EXE", "MZ"), medium = scratch.File("m");
  const ProgramResult r =
      Limited(200, {BuiltProgram("kxmedium"), "build", "--setup", setup, "--companions", companions,
                    "--payload", payload, "--out", medium});
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("error writing to " + medium + "/setup.kx: File too large"));
  EXPECT_EQ(Files(medium).count("setup.kx"), 0u);
  EXPECT_EQ(Files(medium).size(), 8u) << "SETUP.EXE and the companions stay";
}

TEST(LargeArchive, EntryAfterASkippedTwoGigabyteEntryAndJunk) {
  ScratchFolder scratch;
  const std::string out = scratch.File("out");
  fs::create_directories(out);
  const struct {
    uint32_t size;
    int status;
    const char* err;
  } cases[] = {
      {0x80000010u, 0, ""},
      {0xF0000000u, 0, ""},
      {0xFFFFFFF0u, 2,
       "kxextract: Archive .* goes on beyond 4 GiB, where ZIP records without "
       "Zip64 cannot lie\n"},
  };
  for (const auto& c : cases) {
    const std::string a = zipbuild::WriteSparseArchive(scratch.File("big.zip"), c.size);
    const ProgramResult r = RunProgram({BuiltProgram("kxextract"), "-d", out, a, "small.txt"});
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_THAT(r.err, ::testing::MatchesRegex(c.err));
    EXPECT_EQ(ScratchFolder::Read(out + "/small.txt"), c.status ? "" : "hello");
    fs::remove(out + "/small.txt");
  }
}

// Archives of today's zippers, each written here when that zipper is installed.
class TodaysZippers : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(scratch.File("src"));
    for (const char* name : kNames) scratch.Write(std::string("src/") + name, name);
    const std::string cd = "cd '" + scratch.File("src") + "' && ";
    if (RunProgram({"bash", "-c", cd + "7zz a -tzip -bso0 -bsp0 ../7z.zip *"}).status == 0)
      archives.push_back(scratch.File("7z.zip"));
    if (RunProgram({"bash", "-c",
                    cd + "python3 -c 'import zipfile,os\n"
                         "with zipfile.ZipFile(\"../py.zip\",\"w\") as z:\n"
                         " [z.write(n) for n in sorted(os.listdir())]'"})
            .status == 0)
      archives.push_back(scratch.File("py.zip"));
    ASSERT_FALSE(archives.empty()) << "neither 7zz nor python3 made an archive";
  }
  static constexpr const char* kNames[] = {"\xC3\x84pfel.txt", "na\xC3\xAFve \xE2\x82\xAC.txt",
                                           "plain.txt"};
  ScratchFolder scratch;
  std::vector<std::string> archives;
};

TEST_F(TodaysZippers, NonAsciiNamesExtractUnderTheirOwnNames) {
  for (const std::string& a : archives) {
    const std::string out = scratch.File("out");
    fs::create_directories(out);
    const ProgramResult r = RunProgram({BuiltProgram("kxextract"), "-d", out, a});
    EXPECT_EQ(r.status, 0) << a << r.err;
    EXPECT_EQ(Files(out), std::set<std::string>(std::begin(kNames), std::end(kNames))) << a;
    fs::remove_all(out);
  }
}

TEST_F(TodaysZippers, ListingLinesUpWithUnzip) {
  for (const std::string& a : archives) {
    const ProgramResult ours = RunProgram({BuiltProgram("kxextract"), "-l", a});
    const ProgramResult theirs = RunProgram({"unzip", "-l", a});
    EXPECT_EQ(ours.status, 0) << ours.err;
    EXPECT_EQ(ours.out, theirs.out);
  }
  // Encrypted entries are marked and listed without their password.
  zipbuild::Entry sealed = Stored("sealed.txt", "secret");
  sealed.password = "not the built-in one";
  const std::string a = scratch.Write("e.zip", zipbuild::Archive({sealed, Stored("b", "bb")}));
  const ProgramResult r = RunProgram({BuiltProgram("kxextract"), "-l", a, "SEALED.TXT"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("\n        6  2024-01-01 12:00   sealed.txt  (encrypted)\n----"));
  EXPECT_THAT(r.out, ::testing::EndsWith("\n        6                     1 file\n"));
}

// Stored names as zippers write them: the entry is extracted (-k, folders made first) or
// selected under the expected native (UTF-8) name.
TEST(StoredNames, DecodedAsFlaggedAndSelectedWithEveryLetterFolded) {
  const std::string unicodePath = "\xC3\x84pfel.txt";
  const auto field = [](const std::string& stored, const std::string& name, uint32_t crc) {
    std::string f = "\x75\x70" + std::string{char(name.size() + 5), 0} + "\x01";
    for (int i = 0; i < 4; ++i)
      f += static_cast<char>((crc ?: zipbuild::Crc32Of(stored)) >> (8 * i));
    return f + name;
  };
  const struct {
    std::string stored;
    uint16_t flags;
    std::string extra;
    const char* select;  // null: every entry
    const char* written;
  } cases[] = {
      {"\x8Epfel.txt", 0, "", nullptr, "\xC3\x84pfel.txt"},          // code page 437
      {"\xC3\x84pfel.txt", 0x800, "", nullptr, "\xC3\x84pfel.txt"},  // bit 11: UTF-8
      {"Apfel.txt", 0, field("Apfel.txt", unicodePath, 0), nullptr, "\xC3\x84pfel.txt"},
      {"Apfel.txt", 0, field("Apfel.txt", unicodePath, 1), nullptr, "Apfel.txt"},  // stale CRC
      {"Apfel.txt", 0x800, field("Apfel.txt", "B.txt", 0), nullptr, "Apfel.txt"},
      {"\x84/a.txt", 0, "", "\xC3\x84/A.TXT", "a.txt"},                         // ä as Ä
      {"\xE4\xE0.txt", 0, "", "\xCF\x83\xCE\xB1.TXT", "\xCE\xA3\xCE\xB1.txt"},  // σα as ΣΑ
      {"\xC3\xA9t\xC3\xA9.txt", 0x800, "", "\xC3\x89T\xC3\x89.TXT", "\xC3\xA9t\xC3\xA9.txt"},
  };
  for (const auto& c : cases) {
    ScratchFolder scratch;
    zipbuild::Entry e = Stored(c.stored, "x");
    e.flags = c.flags;
    e.extra = c.extra;
    const std::string a = scratch.Write("a.zip", zipbuild::Archive({e, Stored("other", "o")}));
    std::vector<std::string> argv = {BuiltProgram("kxextract"), "-d", scratch.File(""), a};
    if (c.select) argv.push_back(c.select);
    const ProgramResult r = RunProgram(argv);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ScratchFolder::Read(scratch.File(c.written)), "x") << c.written;
    EXPECT_EQ(fs::exists(scratch.File("other")), c.select == nullptr) << c.written;
  }
}

}  // namespace
