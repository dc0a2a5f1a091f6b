// kxextract as a user runs it: its options and usage errors, its one-line messages and exit
// codes, the progress line on a terminal, Ctrl-C in the middle of a file, and a differential
// test against unzip on archives made by Info-ZIP zip, 7-Zip and Python's zipfile.
#include "extract/decrypt.h"
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"
#include "tests/tools/run_program.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using zipbuild::Stored;

namespace {

std::string Kx() { return BuiltProgram("kxextract"); }

std::string Noise(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

class KxExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    out = scratch.File("out");
    fs::create_directories(out);
  }
  std::string Archive(const std::vector<zipbuild::Entry>& entries,
                      const std::string& name = "a.zip") {
    return scratch.Write(name, zipbuild::Archive(entries));
  }
  std::string Out(const std::string& name) const { return ScratchFolder::Read(out + "/" + name); }
  bool Exists(const std::string& name) const { return fs::exists(out + "/" + name); }
  std::set<std::string> Written() const {
    std::set<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(out))
      if (item.is_regular_file()) names.insert(fs::relative(item.path(), out).generic_string());
    return names;
  }
  ScratchFolder scratch;
  std::string out;
};

// ---- Options ----

TEST_F(KxExtractTest, UsageErrorsExitWithOneAndTheUsageText) {
  const std::string a = Archive({Stored("a.txt", "A")});
  const std::vector<std::vector<std::string>> cases = {
      {},     {"-x", a},  {"-d"}, {"-s", "12x", a},          {"-s", "-1", a},
      {"-t"}, {"-dd", a}, {"-P"}, {a, std::string(300, 'n')}};
  for (const auto& args : cases) {
    std::vector<std::string> argv = {Kx()};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProgramResult r = RunProgram(argv);
    EXPECT_EQ(r.status, 1) << ::testing::PrintToString(args);
    EXPECT_THAT(r.err, HasSubstr("usage: kxextract [-t] [-d DIR] [-k] [-P PASSWORD] [-c] [-e] "
                                 "[-s OFFSET] ARCHIVE [NAME ...]"));
    EXPECT_THAT(r.err, HasSubstr("streaming zippers"));
    EXPECT_THAT(r.err, HasSubstr("not supported"));
    EXPECT_EQ(r.out, "");
  }
  EXPECT_TRUE(Written().empty());
}

TEST_F(KxExtractTest, SuccessIsSilentWhenStandardErrorIsNoTerminal) {
  const std::string a = Archive({Stored("docs/a.txt", "A"), Stored("b.txt", Noise(70000, 1))});
  const ProgramResult r = RunProgram({Kx(), "-d", out, a});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Out("a.txt"), "A");
  EXPECT_EQ(Out("b.txt"), Noise(70000, 1));
}

TEST_F(KxExtractTest, ErrorsAreOnePrefixedLineAndExitTwo) {
  const std::string missing = scratch.File("nothing");
  ProgramResult r = RunProgram({Kx(), "-d", out, missing});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "kxextract: Can't open input file: " + missing + ".ZIP\n");

  zipbuild::Entry bad = Stored("a.txt", "hello");
  bad.crc = 1;
  const std::string a = Archive({bad});
  r = RunProgram({Kx(), "-d", out, a});
  EXPECT_EQ(r.status, 0) << "CRC mismatches pass without -c";
  r = RunProgram({Kx(), "-c", "-d", out, a});
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, ::testing::MatchesRegex(
                         "kxextract: ZIP damaged: file .*a\\.txt: Bad CRC 3610a686 \\(should be "
                         "00000001\\)\n"));
  EXPECT_EQ(Out("a.txt"), "hello");
}

TEST_F(KxExtractTest, TestModeWritesNothingAndChecksCrcs) {
  zipbuild::Entry bad = Stored("bad.txt", "hello");
  bad.crc = 7;
  const std::string good = Archive({Stored("a.txt", "A")}, "good.zip");
  const std::string damaged = Archive({Stored("a.txt", "A"), bad}, "bad.zip");
  ProgramResult r = RunProgram({Kx(), "-t", good});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  r = RunProgram({Kx(), "-t", "-d", out, damaged});
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("Bad CRC"));
  EXPECT_TRUE(Written().empty());
}

TEST_F(KxExtractTest, KeepPathsSkipEmptySelectionAndOffset) {
  const std::string bytes = zipbuild::Archive({Stored("docs/a.txt", "A"), Stored("empty.txt", ""),
                                               Stored("B.TXT", "B"), Stored("c.txt", "C")});
  const std::string a = scratch.Write("a.zip", std::string(100, 'x') + bytes);
  fs::create_directories(out + "/docs");
  ProgramResult r = RunProgram({Kx(), "-k", "-e", "-s", "100", "-d", out, a});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Written(), (std::set<std::string>{"docs/a.txt", "B.TXT", "c.txt"}));
  fs::remove_all(out);
  fs::create_directories(out);
  r = RunProgram({Kx(), "-s", "100", "-d", out, a, "b.txt", "docs/A.TXT", "none"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Written(), (std::set<std::string>{"a.txt", "B.TXT"}));
}

TEST_F(KxExtractTest, KeepPathsNeverWritesOutsideTheFolder) {
  const std::string a = Archive({Stored("ok.txt", "ok"), Stored("../escape.txt", "x")});
  const ProgramResult r = RunProgram({Kx(), "-k", "-d", out, a});
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("kxextract: Unsafe file name in archive: ../escape.txt"));
  EXPECT_FALSE(fs::exists(scratch.File("escape.txt")));
  EXPECT_EQ(Written(), std::set<std::string>{"ok.txt"});
}

TEST_F(KxExtractTest, PasswordOptionAndTheBuiltInDefault) {
  zipbuild::Entry own = Stored("own.txt", "own");
  own.password = "pass word";
  zipbuild::Entry builtIn = Stored("builtin.txt", "built in");
  builtIn.password = kBuiltInPassword;
  EXPECT_EQ(RunProgram({Kx(), "-d", out, Archive({builtIn}, "b.zip")}).status, 0);
  EXPECT_EQ(Out("builtin.txt"), "built in");
  const std::string a = Archive({own}, "o.zip");
  EXPECT_EQ(RunProgram({Kx(), "-P", "pass word", "-d", out, a}).status, 0);
  EXPECT_EQ(Out("own.txt"), "own");
  const ProgramResult r = RunProgram({Kx(), "-d", out, a});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "kxextract: INCORRECT PASSWORD\n");
}

TEST_F(KxExtractTest, ProgressLineOnATerminal) {
  const std::string a = Archive({Stored("first.bin", Noise(50000, 2)), Stored("second.txt", "s")});
  const std::string command = "'" + Kx() + "' -d '" + out + "' '" + a + "'";
  const ProgramResult r = RunProgram({"script", "-qec", command, "/dev/null"});
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.out, HasSubstr("first.bin"));
  EXPECT_THAT(r.out, HasSubstr("second.txt"));
  EXPECT_THAT(r.out, ::testing::ContainsRegex("first\\.bin +[0-9]+%"));
  EXPECT_THAT(r.out, HasSubstr("\r"));
  EXPECT_EQ(Out("second.txt"), "s");
}

// The archive arrives through a FIFO, so that Ctrl-C falls while the second file is written.
TEST_F(KxExtractTest, CtrlCEndsWith99AndDeletesThePartlyWrittenFile) {
  signal(SIGPIPE, SIG_IGN);
  const std::string bytes =
      zipbuild::Archive({Stored("small.txt", "small"), Stored("big.bin", Noise(200000, 3))});
  const std::string fifo = scratch.File("pipe.zip");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string kx = Kx();
  std::vector<char*> argv = {const_cast<char*>(kx.c_str()), const_cast<char*>("-d"),
                             const_cast<char*>(out.c_str()), const_cast<char*>(fifo.c_str()),
                             nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, kx.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);

  // Opened without blocking, so that a kxextract that never reads cannot hang the test.
  int pipe = -1;
  for (int tries = 0; pipe < 0 && tries < 2000; ++tries) {
    pipe = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (pipe < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_GE(pipe, 0);
  fcntl(pipe, F_SETFL, 0);
  const size_t firstPart = 30 + 9 + 5 + 30 + 7 + 40000;  // small.txt whole, big.bin's start
  ASSERT_EQ(write(pipe, bytes.data(), firstPart), static_cast<ssize_t>(firstPart));
  // Wait until big.bin holds its first chunk: the engine is then waiting for more input.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!(fs::exists(out + "/big.bin") && fs::file_size(out + "/big.bin") >= 28672) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::exists(out + "/big.bin"));
  kill(child, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  (void)!write(pipe, bytes.data() + firstPart, bytes.size() - firstPart);
  close(pipe);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 99);
  EXPECT_EQ(Out("small.txt"), "small");
  EXPECT_FALSE(Exists("big.bin"));
}

// ---- Against unzip ----

struct Made {
  std::string what;
  std::string archive;
  std::string password;  // empty: none given (the built-in one for kxextract)
};

class DifferentialTest : public KxExtractTest {
 protected:
  void SetUp() override {
    KxExtractTest::SetUp();
    source = scratch.File("src");
    fs::create_directories(source);
    std::string text;
    while (text.size() < 200000) text += "record " + std::to_string(text.size() * 7) + "\n";
    const std::vector<std::pair<std::string, std::string>> files = {{"empty.txt", ""},
                                                                    {"one.txt", "1"},
                                                                    {"chunk.bin", Noise(28672, 4)},
                                                                    {"text.txt", text},
                                                                    {"noise.bin", Noise(70001, 5)}};
    auto stamp = std::chrono::file_clock::from_sys(
        std::chrono::sys_seconds{std::chrono::seconds{1262347200}});  // 2010-01-01 12:00:00
    for (const auto& [name, bytes] : files) {
      names.push_back(name);
      scratch.Write("src/" + name, bytes);
      fs::last_write_time(source + "/" + name, stamp);
      stamp += std::chrono::seconds(3600 * 24 * 40 + 2);
    }
  }

  bool Shell(const std::string& command) {
    return RunProgram({"sh", "-c", "cd '" + source + "' && " + command}).status == 0;
  }

  std::vector<Made> MakeArchives() {
    std::vector<Made> made;
    const std::string list = "empty.txt one.txt chunk.bin text.txt noise.bin";
    auto path = [this](const std::string& n) { return scratch.File(n); };
    const std::string builtIn = kBuiltInPassword;
    struct ZipOptions {
      std::string name, options, password;
    };
    for (const ZipOptions& z : std::vector<ZipOptions>{{"zip-stored.zip", "-0", ""},
                                                       {"zip-6.zip", "-6", ""},
                                                       {"zip-9.zip", "-9", ""},
                                                       {"zip-pw.zip", "-P secret", "secret"}}) {
      EXPECT_TRUE(Shell("zip -q -X " + z.options + " '" + path(z.name) + "' " + list));
      made.push_back({z.name, path(z.name), z.password});
    }
    // The built-in password with its raw 0xA9 byte in zip's argument vector.
    std::vector<std::string> argv = {"zip", "-q", "-X", "-P", builtIn, path("zip-builtin.zip")};
    for (const std::string& n : names) argv.push_back(source + "/" + n);
    argv.insert(argv.begin() + 2, "-j");
    EXPECT_EQ(RunProgram(argv).status, 0);
    made.push_back({"zip-builtin.zip", path("zip-builtin.zip"), builtIn});
    if (Shell("7zz a -tzip -bso0 -bsp0 -mx=5 '" + path("7z.zip") + "' " + list))
      made.push_back({"7z.zip", path("7z.zip"), ""});
    if (Shell("7zz a -tzip -bso0 -bsp0 -mx=9 -psecret7 -mem=ZipCrypto '" + path("7z-pw.zip") +
              "' " + list))
      made.push_back({"7z-pw.zip", path("7z-pw.zip"), "secret7"});
    const std::string python =
        "import sys, zipfile\n"
        "for name, method in (('py-stored.zip', zipfile.ZIP_STORED),"
        " ('py-deflated.zip', zipfile.ZIP_DEFLATED)):\n"
        "    with zipfile.ZipFile(sys.argv[1] + '/' + name, 'w', method) as z:\n"
        "        for f in sys.argv[2:]: z.write(f)\n";
    if (Shell("python3 -c \"" + python + "\" '" + scratch.path().string() + "' " + list)) {
      made.push_back({"py-stored.zip", path("py-stored.zip"), ""});
      made.push_back({"py-deflated.zip", path("py-deflated.zip"), ""});
    }
    return made;
  }

  // kxextract against unzip -j: the same bytes and the same modification times.
  void Compare(const Made& m) {
    const std::string mine = scratch.File("mine-" + m.what);
    const std::string theirs = scratch.File("theirs-" + m.what);
    fs::create_directories(mine);
    fs::create_directories(theirs);
    std::vector<std::string> kx = {Kx(), "-c", "-d", mine};
    std::vector<std::string> unzip = {"unzip", "-qq", "-j", "-o"};
    if (!m.password.empty()) {
      if (m.password != kBuiltInPassword) kx.insert(kx.end(), {"-P", m.password});
      unzip.insert(unzip.end(), {"-P", m.password});
    }
    kx.push_back(m.archive);
    unzip.insert(unzip.end(), {"-d", theirs, m.archive});
    const ProgramResult k = RunProgram(kx);
    ASSERT_EQ(k.status, 0) << m.what << ": " << k.err;
    ASSERT_EQ(RunProgram(unzip).status, 0) << m.what;
    for (const std::string& n : names) {
      SCOPED_TRACE(m.what + " " + n);
      ASSERT_TRUE(fs::exists(mine + "/" + n));
      EXPECT_TRUE(ScratchFolder::Read(mine + "/" + n) == ScratchFolder::Read(theirs + "/" + n));
      EXPECT_TRUE(ScratchFolder::Read(mine + "/" + n) == ScratchFolder::Read(source + "/" + n));
      EXPECT_EQ(fs::last_write_time(mine + "/" + n), fs::last_write_time(theirs + "/" + n));
    }
  }

  std::string source;
  std::vector<std::string> names;
};

TEST_F(DifferentialTest, SameBytesAndTimesAsUnzip) {
  const std::vector<Made> made = MakeArchives();
  EXPECT_GE(made.size(), 5u);
  for (const Made& m : made) Compare(m);
}

// Local entries of an archive made here: where each entry's data lies.
std::vector<std::pair<size_t, size_t>> DataRanges(const std::string& zip) {
  std::vector<std::pair<size_t, size_t>> ranges;
  auto u16 = [&zip](size_t at) {
    return static_cast<size_t>(static_cast<unsigned char>(zip[at]) |
                               static_cast<unsigned char>(zip[at + 1]) << 8);
  };
  size_t at = 0;
  while (at + 30 <= zip.size() && zip.compare(at, 4, "PK\x03\x04") == 0) {
    const size_t size = u16(at + 18) | u16(at + 20) << 16;
    const size_t start = at + 30 + u16(at + 26) + u16(at + 28);
    ranges.push_back({start, size});
    at = start + size + ((u16(at + 6) & 8) ? 16 : 0);
  }
  return ranges;
}

TEST_F(DifferentialTest, TestModeAgreesWithUnzipOnWhichArchivesAreIntact) {
  int compared = 0;
  for (const Made& m : MakeArchives()) {
    const std::string whole = ScratchFolder::Read(m.archive);
    std::vector<std::string> variants = {whole};
    for (const auto& [start, size] : DataRanges(whole)) {
      if (size == 0) continue;
      for (size_t offset : {size_t{0}, size / 2, size - 1}) {
        std::string flipped = whole;
        flipped[start + offset] ^= 0x10;
        variants.push_back(flipped);
      }
    }
    for (size_t cut : {whole.size() / 3, whole.size() - 30, whole.size() - 1})
      variants.push_back(whole.substr(0, cut));
    for (size_t i = 0; i < variants.size(); ++i) {
      const std::string damaged = scratch.Write("variant.zip", variants[i]);
      std::vector<std::string> kx = {Kx(), "-t"};
      std::vector<std::string> unzip = {"unzip", "-tqq"};
      if (!m.password.empty()) {
        if (m.password != kBuiltInPassword) kx.insert(kx.end(), {"-P", m.password});
        unzip.insert(unzip.end(), {"-P", m.password});
      }
      kx.push_back(damaged);
      unzip.push_back(damaged);
      const ProgramResult k = RunProgram(kx);
      const ProgramResult u = RunProgram(unzip);
      EXPECT_TRUE(k.status == 0 || k.status == 2) << m.what << " " << i;
      EXPECT_EQ(k.status == 0, u.status == 0) << m.what << " variant " << i << ": " << k.err;
      ++compared;
    }
  }
  EXPECT_GT(compared, 40);
}

}  // namespace
