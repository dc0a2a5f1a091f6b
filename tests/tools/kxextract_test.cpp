// kxextract as a user runs it: its options, one-line messages and exit codes in a table; the
// progress line on a terminal; Ctrl-C in the middle of a file; and a comparison with unzip on
// archives made by Info-ZIP zip, 7-Zip and Python's zipfile, whole and damaged.
#include "extract/decrypt.h"
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"
#include "tests/tools/run_program.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;
using zipbuild::Archive;
using zipbuild::Stored;

namespace {

const std::string kUsage =
    "usage: kxextract [-t] [-d DIR] [-k] [-P PASSWORD] [-c] [-e] [-s OFFSET] ARCHIVE [NAME ...]\n";

std::string Noise(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

class KxExtract : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(out); }

  // Runs kxextract with arguments split at blanks; @a stands for the archive, @o for the
  // output folder. Standard error comes back with the scratch folder shown as '~'.
  ProgramResult Run(const std::string& arguments) {
    std::vector<std::string> argv = {BuiltProgram("kxextract")};
    std::istringstream in(arguments);
    for (std::string a; in >> a;) argv.push_back(a == "@a" ? archive : a == "@o" ? out : a);
    ProgramResult result = RunProgram(argv);
    std::string root = scratch.path().string(), engineRoot = root;
    for (char& c : engineRoot)
      if (c == '/') c = '\\';
    for (const std::string& path : {engineRoot, root})
      for (size_t at; (at = result.err.find(path)) != std::string::npos;)
        result.err.replace(at, path.size(), 1, '~');
    return result;
  }
  std::string Written() const {
    std::set<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(out))
      if (item.is_regular_file()) names.insert(fs::relative(item.path(), out).generic_string());
    std::string joined;
    for (const std::string& name : names) joined.append(joined.empty() ? "" : " ").append(name);
    return joined;
  }
  ScratchFolder scratch;
  std::string out = scratch.File("out"), archive = scratch.File("a.zip");
};

struct Row {
  std::string label, zip, arguments;
  int status;
  std::string err;  // what standard error starts with
  std::string files;
};

TEST_F(KxExtract, OptionsMessagesAndExitCodes) {
  const std::string a = Archive({Stored("docs/a.txt", "A"), Stored("b.txt", Noise(70000, 1))});
  const std::string bad = Archive({Stored("a.txt", "hello").Crc(1)});
  const std::string own = Archive({Stored("own.txt", "own").Encrypted("pass-word")});
  const std::string several = Archive({Stored("docs/a.txt", "A"), Stored("empty.txt", ""),
                                       Stored("B.TXT", "B"), Stored("c.txt", "C")});
  const std::string crc =
      "kxextract: ZIP damaged: file ~\\out\\a.txt: Bad CRC 3610a686 (should be 00000001)\n";
  // clang-format off
  const Row rows[] = {
      {"no arguments", a, "", 1, "kxextract: no archive given\n" + kUsage, ""},
      {"unknown option", a, "-x @a", 1, "kxextract: unknown option -x\n" + kUsage, ""},
      {"two letters", a, "-dd @a", 1, "kxextract: unknown option -dd\n" + kUsage, ""},
      {"missing folder", a, "-d", 1, "kxextract: missing value for -d\n" + kUsage, ""},
      {"missing password", a, "-P", 1, "kxextract: missing value for -P\n" + kUsage, ""},
      {"offset not a number", a, "-s 12x @a", 1, "kxextract: invalid offset 12x\n" + kUsage, ""},
      {"negative offset", a, "-s -1 @a", 1, "kxextract: invalid offset -1\n" + kUsage, ""},
      {"offset past 2^31", a, "-s 2147483648 @a", 1, "kxextract: invalid offset 2147483648\n" + kUsage, ""},
      {"archive as the offset", a, "-s @a", 1, "kxextract: invalid offset ~/a.zip\n" + kUsage, ""},
      {"test, no archive", a, "-t", 1, "kxextract: no archive given\n" + kUsage, ""},
      {"name too long", a, "@a " + std::string(260, 'n'), 1, "kxextract: name too long: " + std::string(260, 'n') + "\n" + kUsage, ""},
      {"silent success", a, "-d @o @a", 0, "", "a.txt b.txt"},
      {"options end at --", a, "-d @o -- @a", 0, "", "a.txt b.txt"},
      {"current folder by default", a, "@a", 0, "", "a.txt b.txt"},
      {"missing archive", a, "-d @o nothing", 2, "kxextract: Can't open input file: nothing.ZIP\n", ""},
      {"CRC mismatch passes", bad, "-d @o @a", 0, "", "a.txt"},
      {"CRC mismatch with -c", bad, "-c -d @o @a", 2, crc, "a.txt"},
      {"test mode", a, "-t @a", 0, "", ""},
      {"test mode checks CRCs", bad, "-t -d @o @a", 2, "kxextract: ZIP damaged: file a.txt: Bad CRC 3610a686 (should be 00000001)\n", ""},
      {"kept folder missing", several, "-k -d @o @a", 2, "kxextract: Can't create output file: ~\\out\\docs\\a.txt\n", ""},
      {"skip empty, offset", std::string(100, 'x') + several, "-e -s 100 -d @o @a", 0, "", "B.TXT a.txt c.txt"},
      {"selection", std::string(100, 'x') + several, "-s 100 -d @o @a b.txt docs/A.TXT none", 0, "", "B.TXT a.txt"},
      {"unsafe name", Archive({Stored("ok.txt", "ok"), Stored("../escape.txt", "x")}), "-k -d @o @a", 2, "kxextract: Unsafe file name in archive: ../escape.txt\n", "ok.txt"},
      {"built-in password", Archive({Stored("b.txt", "b").Encrypted(kBuiltInPassword)}), "-c -d @o @a", 0, "", "b.txt"},
      {"own password", own, "-c -P pass-word -d @o @a", 0, "", "own.txt"},
      {"wrong password", own, "-d @o @a", 2, "kxextract: INCORRECT PASSWORD\n", ""},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    fs::remove_all(out);
    fs::create_directories(out);
    scratch.Write("a.zip", row.zip);
    const fs::path before = fs::current_path();
    fs::current_path(out);  // where "current folder" rows write
    const ProgramResult got = Run(row.arguments);
    fs::current_path(before);
    EXPECT_EQ(got.status, row.status);
    EXPECT_EQ(got.err.substr(0, row.err.size()), row.err);
    EXPECT_EQ(got.err.empty(), row.err.empty()) << got.err;
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(Written(), row.files);
  }
}

TEST_F(KxExtract, ProgressLineOnATerminal) {
  scratch.Write("a.zip",
                Archive({Stored("first.bin", Noise(50000, 2)), Stored("second.txt", "s")}));
  const std::string command =
      std::string("'") + BuiltProgram("kxextract") + "' -d '" + out + "' '" + archive + "'";
  const ProgramResult r = RunProgram({"script", "-qec", command, "/dev/null"});
  EXPECT_EQ(r.status, 0);
  // Each entry's line starts at 0 %, the first reaches 81 % (40960 of 50178 bytes), and the
  // line is wiped at the end.
  EXPECT_NE(r.out.find(std::string("\rfirst.bin") + std::string(63, ' ') + "   0%"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(std::string("\rfirst.bin") + std::string(63, ' ') + "  81%"),
            std::string::npos);
  EXPECT_NE(r.out.find(std::string("\rsecond.txt") + std::string(62, ' ') + "  81%"),
            std::string::npos);
  EXPECT_EQ(r.out.substr(r.out.size() - 80), std::string(79, ' ') + "\r");
  EXPECT_EQ(Written(), "first.bin second.txt");
}

// The archive arrives through a FIFO, so that Ctrl-C falls while the second file is written.
TEST_F(KxExtract, CtrlCEndsWith99AndDeletesThePartlyWrittenFile) {
  signal(SIGPIPE, SIG_IGN);
  const std::string bytes =
      Archive({Stored("small.txt", "small"), Stored("big.bin", Noise(200000, 3))});
  ASSERT_EQ(mkfifo(archive.c_str(), 0600), 0);
  std::string kx = BuiltProgram("kxextract");
  char* argv[] = {kx.data(), const_cast<char*>("-d"), out.data(), archive.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, kx.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  // Opened without blocking, so that a kxextract that never reads cannot hang the test.
  int pipe = -1;
  for (int tries = 0; pipe < 0 && tries < 12000; ++tries) {
    pipe = open(archive.c_str(), O_WRONLY | O_NONBLOCK);
    if (pipe < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_GE(pipe, 0);
  fcntl(pipe, F_SETFL, 0);
  const size_t firstPart = 30 + 9 + 5 + 30 + 7 + 40000;  // small.txt whole, big.bin's start
  ASSERT_EQ(write(pipe, bytes.data(), firstPart), static_cast<ssize_t>(firstPart));
  // Once big.bin holds its first chunk, the engine waits for more input.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!(fs::exists(out + "/big.bin") && fs::file_size(out + "/big.bin") >= 28672) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(child, SIGINT);  // pending before any more data can be read
  (void)!write(pipe, bytes.data() + firstPart, bytes.size() - firstPart);
  close(pipe);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 99) << status;
  EXPECT_EQ(Written(), "small.txt");
}

// ---- Against unzip ----

class AgainstUnzip : public KxExtract {
 protected:
  void SetUp() override {
    KxExtract::SetUp();
    fs::create_directories(source);
    std::string text;
    while (text.size() < 200000) text += "record " + std::to_string(text.size() * 7) + "\n";
    auto stamp = std::chrono::file_clock::from_sys(
        std::chrono::sys_seconds{std::chrono::seconds{1262347200}});
    const std::pair<std::string, std::string> made[] = {{"empty.txt", ""},
                                                        {"one.txt", "1"},
                                                        {"chunk.bin", Noise(28672, 4)},
                                                        {"text.txt", text},
                                                        {"noise.bin", Noise(70001, 5)}};
    for (const auto& [name, bytes] : made) {
      scratch.Write("src/" + name, bytes);
      fs::last_write_time(source + "/" + name, stamp += std::chrono::seconds(3600 * 24 * 40 + 2));
    }
  }

  // Runs a shell command in the source folder; the archivers are required.
  void Shell(const std::string& command) {
    const ProgramResult r = RunProgram({"sh", "-c", "cd '" + source + "' && " + command});
    ASSERT_EQ(r.status, 0) << command << ": " << r.err;
  }

  std::string source = scratch.File("src");
  const std::string files = " empty.txt one.txt chunk.bin text.txt noise.bin";
};

struct Made {
  const char* label;
  const char* command;   // makes @z in the source folder
  const char* password;  // given to both; null: none (kxextract's built-in one)
  int status;            // kxextract's, extracting: 0, or 2 where it refuses the archive
};

TEST_F(AgainstUnzip, SameBytesTimesAndVerdictsOnWholeAndDamagedArchives) {
  const std::string builtIn = kBuiltInPassword;
  // clang-format off
  const Made made[] = {
      {"zip stored", "zip -q -X -0 @z @f", nullptr, 0},
      {"zip -6", "zip -q -X -6 @z @f", nullptr, 0},
      {"zip -9", "zip -q -X -9 @z @f", nullptr, 0},
      {"zip password", "zip -q -X -P secret @z @f", "secret", 0},
      {"zip built-in password", "zip -q -X -P \"$KXPW\" @z @f", builtIn.c_str(), 0},
      {"zip to a pipe, stored", "zip -q -X -0 - @f | cat > @z", nullptr, 0},
      {"zip to a pipe, deflated", "zip -q -X - @f | cat > @z", nullptr, 2},
      {"7-Zip", "7zz a -tzip -bso0 -bsp0 -mx=5 @z @f", nullptr, 0},
      {"7-Zip password", "7zz a -tzip -bso0 -bsp0 -mx=9 -psecret7 -mem=ZipCrypto @z @f", "secret7", 0},
      {"Python stored", "python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1], \"w\"); [z.write(f) for f in sys.argv[2:]]' @z @f", nullptr, 0},
      {"Python deflated", "python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1], \"w\", 8); [z.write(f) for f in sys.argv[2:]]' @z @f", nullptr, 0},
  };
  // clang-format on
  setenv("KXPW", kBuiltInPassword, 1);
  for (const Made& m : made) {
    SCOPED_TRACE(m.label);
    std::string command = m.command;
    command.replace(command.find("@z"), 2, "'" + archive + "'");
    command.replace(command.find(" @f"), 3, files);
    fs::remove(archive);
    Shell(command);
    const std::string password =
        m.password && m.password != builtIn ? std::string(" -P ") + m.password : "";
    fs::remove_all(out);
    fs::create_directories(out);
    const ProgramResult mine = Run("-c" + password + " -d @o @a");
    ASSERT_EQ(mine.status, m.status) << mine.err;
    std::vector<std::string> unzip = {"unzip", "-qq", "-j", "-o", "-d", scratch.File("theirs")};
    if (m.password) unzip.insert(unzip.begin() + 1, {"-P", m.password});
    unzip.push_back(archive);
    ASSERT_EQ(RunProgram(unzip).status, 0);
    std::istringstream names(files);
    for (std::string name; m.status == 0 && names >> name;) {
      SCOPED_TRACE(name);
      const std::string theirs = scratch.File("theirs/" + name), ours = out + "/" + name;
      EXPECT_TRUE(ScratchFolder::Read(ours) == ScratchFolder::Read(source + "/" + name));
      EXPECT_TRUE(ScratchFolder::Read(ours) == ScratchFolder::Read(theirs));
      EXPECT_EQ(fs::last_write_time(ours), fs::last_write_time(theirs));
    }
    // Damaged: a byte flipped inside each entry's data, or the archive cut; test mode says
    // whether it is intact exactly as unzip -t does.
    const std::string whole = ScratchFolder::Read(archive);
    std::vector<std::string> variants;
    for (size_t at = 0; at + zip::local::kSize <= whole.size(); ++at) {
      const auto* p = reinterpret_cast<const uint8_t*>(whole.data() + at);
      if (zip::Le32(p) != LOCAL_HEADER_SIG) continue;
      const size_t size = zip::Le32(p + zip::local::kCompressedSize);
      const size_t start = at + zip::local::kSize + zip::Le16(p + zip::local::kNameLength) +
                           zip::Le16(p + zip::local::kExtraLength);
      for (size_t offset : {size_t{0}, size / 2, size - 1})
        if (size > 0) variants.push_back(zipbuild::Damage(whole, start + offset, 0x10));
    }
    for (size_t cut : {whole.size() / 3, whole.size() - 30, whole.size() - 1})
      variants.push_back(whole.substr(0, cut));
    EXPECT_GE(variants.size(), m.status == 0 ? 15u : 3u);
    for (size_t i = 0; i < variants.size(); ++i) {
      scratch.Write("a.zip", variants[i]);
      const ProgramResult k = Run("-t" + password + " @a");
      std::vector<std::string> test = {"unzip", "-tqq", archive};
      if (m.password) test.insert(test.begin() + 1, {"-P", m.password});
      EXPECT_TRUE(k.status == 0 || k.status == 2) << i;
      if (m.status == 0) {
        EXPECT_EQ(k.status == 0, RunProgram(test).status == 0) << "variant " << i << ": " << k.err;
      }
    }
  }
}

}  // namespace
