// kxextract.exe as a Windows console program (run under Wine): the same options, exit codes
// and one-line messages as natively, its messages from its own string table.
#include <windows.h>

#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using zipbuild::Stored;

namespace {

struct Outcome {
  DWORD status = 0xFFFFFFFF;
  std::string err;
};

// Runs the program beside the tests' folder with standard error sent to a file.
Outcome RunKx(const std::string& arguments, const ScratchFolder& scratch) {
  const std::string errFile = scratch.File("stderr.txt");
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE err = CreateFileA(errFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdError = err;
  startup.hStdOutput = err;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  std::string command = "..\\kxextract.exe " + arguments;
  Outcome outcome;
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process)) {
    WaitForSingleObject(process.hProcess, 60000);
    GetExitCodeProcess(process.hProcess, &outcome.status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(err);
  outcome.err = ScratchFolder::Read(errFile);
  return outcome;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

TEST(KxExtractWinTest, ExtractsTestsAndReportsLikeNatively) {
  ScratchFolder scratch;
  const std::string out = scratch.File("out");
  fs::create_directories(out);
  zipbuild::Entry enc = Stored("secret.txt", "sealed");
  enc.password = "pw";
  const std::string archive = scratch.Write(
      "a.zip",
      zipbuild::Archive({Stored("docs/a.txt", "A"), Stored("b.bin", std::string(70000, 'b'))}));
  const std::string locked = scratch.Write("e.zip", zipbuild::Archive({enc}));

  Outcome r = RunKx("-d " + Quoted(out) + " " + Quoted(archive), scratch);
  EXPECT_EQ(r.status, 0u) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ScratchFolder::Read(out + "\\a.txt"), "A");
  EXPECT_EQ(ScratchFolder::Read(out + "\\b.bin"), std::string(70000, 'b'));

  EXPECT_EQ(RunKx("-t " + Quoted(archive), scratch).status, 0u);

  r = RunKx("-d " + Quoted(out) + " " + Quoted(locked), scratch);
  EXPECT_EQ(r.status, 2u);
  EXPECT_EQ(r.err, "kxextract: INCORRECT PASSWORD\r\n");
  r = RunKx("-P pw -d " + Quoted(out) + " " + Quoted(locked), scratch);
  EXPECT_EQ(r.status, 0u) << r.err;
  EXPECT_EQ(ScratchFolder::Read(out + "\\secret.txt"), "sealed");

  const std::string missing = scratch.File("missing");
  r = RunKx(Quoted(missing), scratch);
  EXPECT_EQ(r.status, 2u);
  EXPECT_EQ(r.err, "kxextract: Can't open input file: " + missing +
                       ".ZIP\r\n");  // a text-mode console stream

  r = RunKx("-q", scratch);
  EXPECT_EQ(r.status, 1u);
  EXPECT_THAT(r.err, ::testing::HasSubstr("not supported"));
}

TEST(KxExtractWinTest, EntryAfterASkippedTwoGigabyteEntryAndJunk) {
  ScratchFolder scratch;
  const std::string out = scratch.File("out");
  fs::create_directories(out);
  for (const uint32_t size : {0x80000010u, 0xF0000000u}) {
    const std::string a = zipbuild::WriteSparseArchive(scratch.File("big.zip"), size);
    const Outcome r = RunKx("-d " + Quoted(out) + " " + Quoted(a) + " small.txt", scratch);
    EXPECT_EQ(r.status, 0u) << r.err;
    EXPECT_EQ(ScratchFolder::Read(out + "\\small.txt"), "hello");
    fs::remove(out + "\\small.txt");
  }
}

// Names in the ANSI code page (1252 here): UTF-8 names converted or, when it cannot hold
// them, refused; selection compared by lstrcmpiA.
TEST(KxExtractWinTest, NamesConvertedOrRefusedAndSelectedAsTheSystemCompares) {
  const struct {
    const char* stored;
    uint16_t flags;
    const char* select;
    DWORD status;
    const char* written;  // or the message
  } cases[] = {
      {"\xC3\x84pfel.txt", 0x800, "", 0, "\xC4pfel.txt"},
      {"\xE6\x97\xA5.txt", 0x800, "", 2,
       "kxextract: Can't extract ?.txt: its name has characters this system's code page cannot "
       "hold\r\n"},
      {"\xE4/a.txt", 0, "\xC4/A.TXT", 0, "a.txt"},
  };
  for (const auto& c : cases) {
    ScratchFolder scratch;
    zipbuild::Entry e = Stored(c.stored, "x");
    e.flags = c.flags;
    const std::string a = scratch.Write("a.zip", zipbuild::Archive({e}));
    const Outcome r =
        RunKx("-d " + Quoted(scratch.path().string()) + " " + Quoted(a) + " " + c.select, scratch);
    EXPECT_EQ(r.status, c.status) << c.written;
    EXPECT_EQ(c.status ? r.err : ScratchFolder::Read(scratch.path().string() + "\\" + c.written),
              c.status ? c.written : "x");
  }
}

}  // namespace
