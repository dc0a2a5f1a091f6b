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
#include <set>

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using zipbuild::Stored;

namespace {

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

// Completed files stay, the one being written goes, and the tool says why.
TEST(FileSizeLimit, WriteRefusedLikeAFullDisk) {
  ScratchFolder s;
  for (const char* folder : {"c", "p", "out"}) fs::create_directories(s.File(folder));
  for (const CompanionFile* c = CompanionFiles; c->name; ++c)
    s.Write(std::string("c/") + c->name, "text");
  s.Write("p/KARVEX32.EXE", std::string(300000, 'm'));
  const std::string a = s.Write(
      "a.zip", zipbuild::Archive({Stored("a.txt", "done"), Stored("b", std::string(300000, 'b'))}));
  struct {
    std::vector<std::string> argv;
    const char* err;
    const char* folder;
    size_t kept;
  } cases[] = {
      {{"kxextract", "-d", s.File("out"), a},
       "^kxextract: Error writing to .*b\\.  Possible cause: disk full\n$",
       "out",
       1},
      {{"kxmedium", "build", "--setup", s.Write("SETUP.EXE", "MZ"), "--companions", s.File("c"),
        "--payload", s.File("p"), "--out", s.File("m"), "--store"},
       "kxmedium: error writing to .*/m/setup\\.kx: File too large\n",
       "m",
       8},
  };
  for (auto& c : cases) {
    c.argv[0] = BuiltProgram(c.argv[0]);
    const ProgramResult r = Limited(200, c.argv);
    EXPECT_EQ(r.status, 2) << c.argv[0];
    EXPECT_THAT(r.err, ::testing::ContainsRegex(c.err));
    EXPECT_EQ(Files(s.File(c.folder)).size(), c.kept) << c.argv[0];
  }
}

// kxmedium build shows what it packs on a terminal only.
TEST(KxmediumBuild, ProgressOnATerminalOnly) {
  ScratchFolder s;
  for (const char* folder : {"c", "p"}) fs::create_directories(s.File(folder));
  for (const CompanionFile* c = CompanionFiles; c->name; ++c)
    s.Write(std::string("c/") + c->name, "text");
  s.Write("p/KARVEX32.EXE", std::string(70000, 'm'));
  const std::string build = "'" + BuiltProgram("kxmedium") + "' build --setup '" +
                            s.Write("SETUP.EXE", "MZ") + "' --companions '" + s.File("c") +
                            "' --payload '" + s.File("p") + "' --out '" + s.File("m");
  const ProgramResult terminal = RunProgram({"script", "-qec", build + "1'", "/dev/null"});
  EXPECT_EQ(terminal.status, 0);
  EXPECT_THAT(terminal.out,
              ::testing::ContainsRegex("\rpacking KARVEX32.EXE +70000 of 70000 bytes"));
  const ProgramResult piped = RunProgram({"bash", "-c", build + "2'"});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err, "");
}

TEST(LargeArchive, EntryAfterASkippedTwoGigabyteEntryAndJunk) {
  ScratchFolder scratch;
  const std::string out = scratch.File("out");
  fs::create_directories(out);
  constexpr uint32_t kToFourGiB = 0xFFFFFFAFu;  // without junk, the end record starts at 4 GiB
  const char* beyond =
      "kxextract: Archive .* goes on beyond 4 GiB, where ZIP records without "
      "Zip64 cannot lie\n";
  const struct {
    uint32_t size;
    const char* junk;
    const char* err;    // empty: no message, exit 0
    const char* small;  // small.txt as extracted
  } cases[] = {
      {0x80000010u, "JUNK!", "", "hello"},
      {0xF0000000u, "JUNK!", "", "hello"},
      {kToFourGiB - 1, "", "", "hello"},
      {kToFourGiB, "", beyond, "hello"},       // small.txt within, the end record beyond
      {kToFourGiB + 40, "JUNK!", beyond, ""},  // junk across 4 GiB, small.txt beyond
  };
  for (const auto& c : cases) {
    const std::string a = zipbuild::WriteSparseArchive(scratch.File("big.zip"), c.size, c.junk);
    const ProgramResult r = RunProgram({BuiltProgram("kxextract"), "-d", out, a, "small.txt"});
    EXPECT_EQ(r.status, *c.err ? 2 : 0) << std::hex << c.size << r.err;
    EXPECT_THAT(r.err, ::testing::MatchesRegex(c.err));
    EXPECT_EQ(ScratchFolder::Read(out + "/small.txt"), c.small) << std::hex << c.size;
    fs::remove(out + "/small.txt");
  }
}

// Archives written here by 7-Zip and by Python's zipfile, as far as they are installed.
TEST(TodaysZippers, NonAsciiNamesExtractUnderTheirOwnNamesAndListAsUnzipDoes) {
  const std::set<std::string> names = {"\xC3\x84pfel.txt", "na\xC3\xAFve \xE2\x82\xAC.txt",
                                       "plain.txt"};
  ScratchFolder scratch;
  for (const std::string& name : names) scratch.Write(name, name);
  const std::string zippers[] = {"7zz a -tzip -bso0 -bsp0 z.zip *.txt",
                                 "python3 -c 'import zipfile,glob\n"
                                 "with zipfile.ZipFile(\"z.zip\",\"w\") as z:\n"
                                 " [z.write(n) for n in sorted(glob.glob(\"*.txt\"))]'"};
  int made = 0;
  for (const std::string& zipper : zippers) {
    const std::string a = scratch.File("z.zip"), out = scratch.File("out");
    fs::remove(a);
    if (RunProgram({"bash", "-c", "cd '" + scratch.File("") + "' && " + zipper}).status != 0)
      continue;
    ++made;
    fs::create_directories(out);
    const ProgramResult r = RunProgram({BuiltProgram("kxextract"), "-d", out, a});
    EXPECT_EQ(r.status, 0) << zipper << r.err;
    EXPECT_EQ(Files(out), names) << zipper;
    fs::remove_all(out);
    EXPECT_EQ(RunProgram({BuiltProgram("kxextract"), "-l", a}).out,
              RunProgram({"unzip", "-l", a}).out)
        << zipper;
  }
  EXPECT_GT(made, 0) << "neither 7zz nor python3 made an archive";
  // Encrypted entries are marked and listed without their password.
  zipbuild::Entry sealed = Stored("sealed.txt", "secret");
  sealed.password = "not the built-in one";
  const std::string a = scratch.Write("e.zip", zipbuild::Archive({sealed, Stored("b", "bb")}));
  const ProgramResult r = RunProgram({BuiltProgram("kxextract"), "-l", a, "SEALED.TXT"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("\n        6  2024-01-01 12:00   sealed.txt  (encrypted)\n----"));
  EXPECT_THAT(r.out, ::testing::EndsWith("\n        6                     1 file\n"));
}

// Stored names as zippers write them: the entry is extracted, or selected, and written under
// the expected native (UTF-8) name.
TEST(StoredNames, DecodedAsFlaggedAndSelectedWithEveryLetterFolded) {
  const std::string unicodePath = "\xC3\x84pfel.txt";
  const auto field = [](const std::string& stored, const std::string& name, uint32_t crc) {
    std::string f = "\x75\x70" + std::string{char(name.size() + 5), 0} + "\x01";
    for (int i = 0; i < 4; ++i)
      f += static_cast<char>((crc ? crc : zipbuild::Crc32Of(stored)) >> (8 * i));
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
      {"\xE4\xE0.txt", 0, "", "\xCF\x83\xCE\xB1.TXT", "\xCE\xA3\xCE\xB1.txt"},  // Σα as σα
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
