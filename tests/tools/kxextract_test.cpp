// kxextract as a user runs it: each command line with its exit code, message and the files it
// writes, one row each (archives past 2 GiB and names as zippers store them among them); the
// progress line; Ctrl-C in the middle of a file; a file-size limit; and kxextract beside unzip
// on archives made by Info-ZIP zip, 7-Zip and Python's zipfile, whole and damaged.
#include "extract/decrypt.h"
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"
#include "tests/tools/run_program.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <regex>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using zipbuild::Archive;
using zipbuild::Stored;
using namespace std::chrono_literals;

namespace {

std::string Noise(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

// An archive of "x" stored under name with flags and extra field, and "other".
std::string Named(const std::string& name, uint16_t flags, const std::string& unicode = "",
                  uint32_t crc = 0) {
  zipbuild::Entry e = Stored(name, "x");
  e.flags = flags;
  if (!unicode.empty()) e.extra = "up" + std::string{char(unicode.size() + 5), 0, 1};
  for (int i = 0; i < 4 && !unicode.empty(); ++i)
    e.extra += char((crc ? crc : zipbuild::Crc32Of(name)) >> (8 * i));
  e.extra += unicode;
  return Archive({e, Stored("other", "o")});
}

class KxExtract : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(out); }
  ProgramResult Run(const std::string& line) {
    return RunLine(line, {{"@a", archive}, {"@o", out}}, scratch.path().string());
  }
  // The files below the output folder, sorted and joined by blanks; the folder emptied.
  std::string Written() {
    std::set<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(out))
      if (item.is_regular_file()) names.insert(fs::relative(item.path(), out).generic_string());
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : " ") + name;
    fs::remove_all(out);
    fs::create_directories(out);
    return joined;
  }
  ScratchFolder scratch;
  std::string out = scratch.File("out"), archive = scratch.File("a.zip");
};

TEST_F(KxExtract, EveryCommandLineGivesItsStatusMessageAndFiles) {
  const std::string a = Archive({Stored("docs/a.txt", "A"), Stored("b.txt", Noise(70000, 1))});
  const std::string bad = Archive({Stored("a.txt", "hello").Crc(1)});
  const std::string own = Archive({Stored("own.txt", "own").Encrypted("pass-word")});
  const std::string built = Archive({Stored("b.txt", "b").Encrypted(kBuiltInPassword)});
  const std::string esc = Archive({Stored("ok.txt", "ok"), Stored("../escape.txt", "x")});
  const std::string some =
      std::string(100, 'x') + Archive({Stored("docs/a.txt", "A"), Stored("empty.txt", ""),
                                       Stored("B.TXT", "B"), Stored("c.txt", "C")});
  const std::string n260(260, 'n'), crc = "Bad CRC 3610a686 (should be 00000001)\n";
  const std::string apfel = "\xC3\x84pfel.txt", u = "usage: ";
  const std::string mb = "kxmedium build --setup a --companions b --payload c --out d";
  const std::string big = "kxextract: Archive ~/a.zip goes on beyond 4 GiB, where ZIP records";
  const uint32_t kToFourGiB = 0xFFFFFFAFu;  // without junk, the end record starts at 4 GiB
  const struct {
    std::string zip;  // the archive's bytes; the junk of a sparse archive past 2 GiB
    uint32_t sparse;  // the size of the sparse archive's skipped entry
    std::string line;
    int status;
    std::string err;  // what standard error starts with
    std::string files;
  } rows[] = {
      {a, 0, "kxextract -h", 0, ">usage: kxextract [-t]", ""},
      {a, 0, "kxextract --help", 0, ">usage: kxextract [-t]", ""},
      {a, 0, "kxextract --version", 0, ">kxextract ", ""},
      {a, 0, "kxmedium -h", 0, ">usage: kxmedium build", ""},
      {a, 0, "kxmedium --help", 0, ">usage: kxmedium build", ""},
      {a, 0, "kxmedium --version", 0, ">kxmedium ", ""},
      {a, 0, "kxmedium", 1, u + "kxmedium build", ""},
      {a, 0, "kxmedium verify", 1, u + "kxmedium build", ""},
      {a, 0, "kxmedium verify a b", 1, u + "kxmedium build", ""},
      {a, 0, "kxmedium list x", 1, u + "kxmedium build", ""},
      {a, 0, "kxmedium build --setup x", 1,
       "kxmedium: build needs --setup, --companions, --payload", ""},
      {a, 0, mb + " --zip", 1, "kxmedium: unexpected argument --zip\n" + u, ""},
      {a, 0, mb + " --password", 1, "kxmedium: unexpected argument --password\n" + u, ""},
      {a, 0, "kxextract", 1, "kxextract: no archive given\n" + u, ""},
      {a, 0, "kxextract -x @a", 1, "kxextract: unknown option -x\n" + u, ""},
      {a, 0, "kxextract -dd @a", 1, "kxextract: unknown option -dd\n" + u, ""},
      {a, 0, "kxextract -d", 1, "kxextract: missing value for -d\n" + u, ""},
      {a, 0, "kxextract -s 12x @a", 1, "kxextract: invalid offset 12x\n" + u, ""},
      {a, 0, "kxextract -s -1 @a", 1, "kxextract: invalid offset -1\n" + u, ""},
      {a, 0, "kxextract -s 2147483648 @a", 1, "kxextract: invalid offset 2147483648\n" + u, ""},
      {a, 0, "kxextract -s @a", 1, "kxextract: invalid offset ~/a.zip\n" + u, ""},
      {a, 0, "kxextract @a " + n260, 1, "kxextract: name too long: " + n260 + "\n" + u, ""},
      {a, 0, "kxextract -d @o @a", 0, "", "a.txt b.txt"},
      {a, 0, "kxextract -d @o -- @a", 0, "", "a.txt b.txt"},
      {a, 0, "kxextract @a", 0, "", "a.txt b.txt"},  // into the current folder
      {a, 0, "kxextract -d @o nothing", 2, "kxextract: Can't open input file: nothing.ZIP\n", ""},
      {bad, 0, "kxextract -d @o @a", 0, "", "a.txt"},
      {bad, 0, "kxextract -c -d @o @a", 2, "kxextract: ZIP damaged: file ~\\out\\a.txt: " + crc,
       "a.txt"},
      {a, 0, "kxextract -t @a", 0, "", ""},
      {bad, 0, "kxextract -t -d @o @a", 2, "kxextract: ZIP damaged: file a.txt: " + crc, ""},
      {some, 0, "kxextract -k -d @o @a", 2,
       "kxextract: Can't create output file: ~\\out\\docs\\a.txt", ""},
      {some, 0, "kxextract -e -s 100 -d @o @a", 0, "", "B.TXT a.txt c.txt"},
      {some, 0, "kxextract -s 100 -d @o @a b.txt docs/A.TXT none", 0, "", "B.TXT a.txt"},
      {esc, 0, "kxextract -k -d @o @a", 2,
       "kxextract: Unsafe file name in archive: ../escape.txt\n", "ok.txt"},
      {built, 0, "kxextract -c -d @o @a", 0, "", "b.txt"},
      {own, 0, "kxextract -c -P pass-word -d @o @a", 0, "", "own.txt"},
      {own, 0, "kxextract -d @o @a", 2, "kxextract: INCORRECT PASSWORD\n", ""},
      {"JUNK!", 0x80000010u, "kxextract -d @o @a small.txt", 0, "", "small.txt"},
      {"", kToFourGiB, "kxextract -d @o @a small.txt", 2, big, "small.txt"},
      {"JUNK!", kToFourGiB + 40, "kxextract -d @o @a small.txt", 2, big, ""},
      {Named("\x8Epfel.txt", 0), 0, "kxextract -d @o @a", 0, "", "other " + apfel},  // cp 437
      {Named("Apfel.txt", 0, apfel), 0, "kxextract -d @o @a", 0, "", "other " + apfel},
      {Named("Apfel.txt", 0, apfel, 1), 0, "kxextract -d @o @a", 0, "", "Apfel.txt other"},
      {Named("\x84/a.txt", 0), 0, "kxextract -d @o @a \xC3\x84/A.TXT", 0, "", "a.txt"},
      {Named("\xC3\xA9t\xC3\xA9", 0x800), 0, "kxextract -d @o @a \xC3\x89T\xC3\x89", 0, "",
       "\xC3\xA9t\xC3\xA9"},
  };
  const fs::path before = fs::current_path();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    if (row.sparse) zipbuild::WriteSparseArchive(archive, row.sparse, row.zip);
    if (!row.sparse) scratch.Write("a.zip", row.zip);
    fs::current_path(out);
    const ProgramResult got = Run(row.line);
    fs::current_path(before);
    const bool help = row.err[0] == '>';  // on standard output
    const std::string said = help ? got.out : got.err, expected = row.err.substr(help);
    EXPECT_EQ(got.status, row.status);
    EXPECT_EQ(said.substr(0, expected.size()), expected);
    EXPECT_EQ(said.empty(), expected.empty()) << said;
    EXPECT_EQ(help ? got.err : got.out, "");
    EXPECT_EQ(Written(), row.files);
  }
}

// On a terminal each entry's line starts at 0 %, the first reaches 81 % (40960 of 50178
// bytes), and the line is wiped at the end; a file-size limit fails a write like a full disk.
TEST_F(KxExtract, ProgressLineAndFileSizeLimit) {
  scratch.Write("a.zip", Archive({Stored("first.bin", Noise(50000, 2)), Stored("2.txt", "s")}));
  const std::string shown = Run("@tty kxextract -d @o @a").out, pad(63, ' ');
  for (const std::string& part :
       {"\rfirst.bin" + pad + "   0%", "\rfirst.bin" + pad + "  81%", "\r2.txt" + pad + "      81%",
        "%\r" + std::string(79, ' ') + "\r"})
    EXPECT_NE(shown.find(part), std::string::npos) << shown;
  EXPECT_EQ(Written(), "2.txt first.bin");
  scratch.Write("a.zip", Archive({Stored("a.txt", "done"), Stored("b", std::string(3e5, 'b'))}));
  rlimit saved, limit;
  getrlimit(RLIMIT_FSIZE, &saved);
  limit = {204800, saved.rlim_max};
  setrlimit(RLIMIT_FSIZE, &limit);
  const ProgramResult r = Run("kxextract -d @o @a");
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(r.err, "kxextract: Error writing to ~\\out\\b.  Possible cause: disk full\n");
  EXPECT_EQ(r.status * 100 + Written().size(), 205u);  // status 2, only a.txt kept
}

// The archive arrives through a FIFO, so that Ctrl-C falls while the second file is written.
TEST_F(KxExtract, CtrlCEndsWith99AndDeletesThePartlyWrittenFile) {
  signal(SIGPIPE, SIG_IGN);
  const std::string bytes = Archive({Stored("small.txt", "small"), Stored("big", Noise(2e5, 3))});
  ASSERT_EQ(mkfifo(archive.c_str(), 0600), 0);
  const pid_t child = fork();
  if (child == 0) {
    dup2(open("/dev/null", O_WRONLY), 2);
    execl(BuiltProgram("kxextract").c_str(), "kx", "-d", out.c_str(), archive.c_str(), nullptr);
    _exit(127);
  }
  const int pipe = open(archive.c_str(), O_WRONLY);      // waits for kxextract to open it
  const size_t firstPart = 30 + 9 + 5 + 30 + 3 + 40000;  // small.txt whole, big's start
  ASSERT_EQ(write(pipe, bytes.data(), firstPart), static_cast<ssize_t>(firstPart));
  // Once big holds its first chunk, the engine waits for more input.
  while (!fs::exists(out + "/big") || fs::file_size(out + "/big") < 28672)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(child, SIGINT);  // pending before any more data can be read
  (void)!write(pipe, bytes.data() + firstPart, bytes.size() - firstPart);
  close(pipe);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 99) << status;
  EXPECT_EQ(Written(), "small.txt");
}

// Archives made by the archivers users have (all required), extracted by kxextract and unzip
// alike (bytes and times), and listed alike, encrypted entries marked.
TEST_F(KxExtract, AgainstUnzipOnArchivesOfTodaysZippers) {
  const std::string source = scratch.File("src"), theirs = scratch.File("theirs");
  const std::pair<std::string, std::string> made[] = {
      {"empty.txt", ""},
      {"text", std::string(2e5, 't')},
      {"noise", Noise(70001, 5)},
      {"\xC3\x84pfel.txt", "\xC3\xA4"}};  // the last not by Info-ZIP zip: no UTF-8 flag
  fs::create_directories(source);
  auto stamp = std::chrono::file_clock::from_sys(std::chrono::sys_seconds{}) + 1262347200s;
  for (const auto& [name, bytes] : made)
    fs::last_write_time(scratch.Write("src/" + name, bytes), stamp += 3456002s);
  const struct {
    std::string command;   // makes a.zip in the source folder
    const char* password;  // "": none
    int status;            // kxextract's: 0, or 2 where it refuses the archive
  } rows[] = {
      {"zip -q -X -P secret ../a.zip empty.txt text noise", "secret", 0},
      {"zip -q -X - empty.txt text noise | cat > ../a.zip", "", 2},  // sizes after the data
      {"7zz a -tzip -bso0 -bsp0 -psecret7 -mem=ZipCrypto ../a.zip *", "secret7", 0},
      {"python3 -c 'import glob, zipfile; z = zipfile.ZipFile(\"../a.zip\", \"w\", 8); "
       "[z.write(f) for f in sorted(glob.glob(\"*\"))]'",
       "", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.command);
    fs::remove(archive);
    fs::remove_all(theirs);
    ASSERT_EQ(RunProgram({"sh", "-c", "cd '" + source + "' && " + row.command}).status, 0);
    const std::string pw = *row.password ? std::string(" -P ") + row.password : "";
    ASSERT_EQ(Run("kxextract -c" + pw + " -d @o @a").status, row.status);
    ASSERT_EQ(RunLine("unzip -qq" + pw + " -d @t @a", {{"@t", theirs}, {"@a", archive}}, "").status,
              0);
    for (size_t i = 0; row.status == 0 && i < (row.command[0] == 'z' ? 3u : 4u); ++i) {
      EXPECT_EQ(ScratchFolder::Read(out + "/" + made[i].first), made[i].second) << i;
      EXPECT_EQ(fs::last_write_time(out + "/" + made[i].first),
                fs::last_write_time(theirs + "/" + made[i].first));
    }
    Written();
    const std::string listed = Run("kxextract -l @a").out;
    EXPECT_EQ(listed.find("  (encrypted)\n") != std::string::npos, *row.password != 0);
    EXPECT_EQ(std::regex_replace(listed, std::regex("  \\(encrypted\\)"), ""),
              RunProgram({"unzip", "-l", archive}).out);
  }
  scratch.Write("a.zip", Archive({Stored("sealed.txt", "secret").Encrypted("x"), Stored("b", "")}));
  const std::string listed = Run("kxextract -l @a SEALED.TXT").out;
  EXPECT_EQ(listed.substr(listed.find("\n      ")),
            "\n        6  2024-01-01 12:00   sealed.txt"
            "  (encrypted)\n---------                     -------\n        6                 "
            "    1 file\n");
}

}  // namespace
