// kxextract and kxmedium as users run them. kxextract: each command line with its exit code,
// message and files, one row each (a file-size limit fails a write like a full disk); the
// progress line; Ctrl-C. kxmedium: built media read alike by unzip, 7-Zip and kxextract; each
// input the setup could not install from refused by build and each fault of a damaged medium
// named by verify, one row each; payload names in-process.
#include "extract/decrypt.h"
#include "res/companions.h"
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"
#include "tools/kxmedium_names.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

namespace fs = std::filesystem;
using zipbuild::Archive;
using zipbuild::Stored;

namespace {

struct ProgramResult {
  int status = -1;  // the exit status; 128 and its number for a program a signal ended
  std::string out, err;
};

// The words quoted for the shell, so that each reaches the program byte for byte.
std::string Quoted(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words)
    line += " '" + std::regex_replace(word, std::regex("'"), "'\\''") + "'";
  return line;
}

// Runs a shell command. Standard output and error go to files, read once the command has ended
// (no pipe to fill up).
ProgramResult RunProgram(const std::string& command) {
  const std::string to = fs::temp_directory_path() / ("kx-run-" + std::to_string(::getpid()));
  const int status = std::system(("(" + command + ") >" + to + ".out 2>" + to + ".err").c_str());
  ProgramResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                       ScratchFolder::Read(to + ".out"), ScratchFolder::Read(to + ".err")};
  for (const char* end : {".out", ".err"}) fs::remove(to + end);
  return result;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Bytes no compressor makes smaller.
std::string Noise(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
  return s;
}

// An archive of "x" stored under name with flags and a Unicode path field, and "other"; a
// `crc` given is the field's CRC-32 of the stored name (1: a stale field).
std::string Named(const std::string& name, uint16_t flags, const std::string& unicode = "",
                  uint32_t crc = 0) {
  zipbuild::Entry e = Stored(name, "x");
  e.flags = flags;
  const uint32_t c = crc ? crc : zipbuild::Crc32Of(name);
  const std::string field = {char(unicode.size() + 5), 0, 1, char(c), char(c >> 8), char(c >> 16)};
  if (!unicode.empty()) e.extra = "up" + field + char(c >> 24) + unicode;
  return Archive({e, Stored("other", "o")});
}

// The file's last-write time in nanoseconds since 1970, after setting it when `to` is given.
int64_t Stamp(const std::string& path, int64_t to = -1) {
  const auto epoch =
      std::chrono::file_clock::from_sys(std::chrono::sys_time<std::chrono::nanoseconds>{});
  if (to >= 0) fs::last_write_time(path, epoch + std::chrono::nanoseconds(to));
  return (fs::last_write_time(path) - epoch).count();
}

// A scratch folder with the inputs of a medium: SETUP.EXE, the companions and the payload.
class Tools : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(scratch.path());
    for (const std::string& folder : {payload, out}) fs::create_directories(folder);
    fs::copy(fs::path(KX_TEST_SOURCE_DIR) / "demo" / "companions", companions);
    for (const auto& [name, bytes] : files) scratch.Write("payload/" + name, bytes);
    Stamp(scratch.Write("SETUP.EXE", files["karvex32.exe"]), kSetupTime);
    // The first and the last time an MS-DOS date holds, in the local zone.
    Stamp(payload + "/ONE.BIN", LocalUnixTime(1980, 1, 1, 0, 0, 1) * 1000000000ll + 5);
    Stamp(payload + "/EMPTY.DAT", LocalUnixTime(2107, 12, 31, 23, 59, 59) * 1000000000ll);
  }
  // Runs a command line split at blanks in the output folder: the words kxextract and kxmedium
  // name the built programs, @-words the scratch folder's paths, and a first word "@tty" runs
  // the rest on a terminal (its output and errors both in `out`). Standard error comes back
  // with the scratch folder (with either separator) shown as '~'.
  ProgramResult Run(const std::string& line) {
    std::map<std::string, std::string> words = {
        {"@a", archive}, {"@o", out},   {"@c", companions}, {"@p", payload},
        {"@m", medium},  {"@s", setup}, {"@k", Payload()},  {"@w", pw}};
    for (const char* tool : {"kxextract", "kxmedium"})
      words[tool] = std::string(KX_TEST_BINARY_DIR "/") + tool;
    std::vector<std::string> argv;
    std::istringstream in(line);
    for (std::string word; in >> word;) argv.push_back(words.count(word) ? words[word] : word);
    if (argv[0] == "@tty")
      argv = {"script", "-qec", Quoted({argv.begin() + 1, argv.end()}), "/dev/null"};
    ProgramResult result = RunProgram("cd" + Quoted({out}) + " &&" + Quoted(argv));
    std::string root = scratch.path().string(), backslashed = root;
    std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
    for (const std::string& path : {backslashed, root})
      for (size_t at; (at = result.err.find(path)) != std::string::npos;)
        result.err.replace(at, path.size(), 1, '~');
    return result;
  }
  ProgramResult Build(const std::string& options, const std::string& prefix = "") {
    return Run(prefix + "kxmedium build --setup @s --companions @c --payload @p --out @m" +
               options);
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
  std::string Payload() const { return medium + "/setup.kx"; }

  const std::string szdd = std::string("SZDD\x88\xF0'3A_\0\0\0\xC0", 14);  // 3 GiB expanded
  static constexpr int64_t kSetupTime = 1700000000123456700;  // an odd fraction of a second
  ScratchFolder scratch;
  std::string out = scratch.File("out"), archive = scratch.File("a.zip");
  std::string pw;  // a password for @w
  std::string setup = scratch.File("SETUP.EXE"), companions = scratch.File("companions"),
              payload = scratch.File("payload"), medium = scratch.File("new/medium");
  std::map<std::string, std::string> files = {{"karvex32.exe", Noise(70000, 9)},
                                              {"MANUAL.TXT", std::string(200000, 'm')},
                                              {"EMPTY.DAT", ""},
                                              {"ONE.BIN", "x"}};
};

TEST_F(Tools, EveryCommandLineGivesItsStatusMessageAndFiles) {
  const std::string a = Archive({Stored("docs/a.txt", "A"), Stored("b.txt", Noise(70000, 1))});
  const std::string bad = Archive({Stored("a.txt", "hello").Crc(1)});
  const std::string esc = Archive({Stored("ok.txt", "ok"), Stored("../escape.txt", "x")});
  const std::string some =
      std::string(100, 'x') + Archive({Stored("docs/a.txt", "A"), Stored("empty.txt", ""),
                                       Stored("B.TXT", "B"), Stored("c.txt", "C")});
  const std::string full = Archive({Stored("a.txt", "done"), Stored("b", std::string(3e5, 'b'))});
  const std::string enc = Archive({Stored("sealed.txt", "secret").Encrypted("x"), Stored("b", "")});
  const std::string n260(260, 'n'), crc = "Bad CRC 3610a686 (should be 00000001)\n";
  const std::string apfel = "\xC3\x84pfel.txt", u = "usage: ", ete = "\xC3\xA9t\xC3\xA9",
                    big = "kxextract: Archive ~/a.zip goes on beyond 4 GiB, where ZIP records";
  const uint32_t kToFourGiB = 0xFFFFFFAFu;  // without junk, the end record starts at 4 GiB
  const std::string built =
      "m/FILE_ID.DIZ m/KARVEX.TXT m/LICENSE.TXT m/ORDER.TXT m/README.TXT "
      "m/SETUP.EXE m/VENDOR.TXT m/WHATSNEW.TXT m/setup.kx";
  // The archive's bytes (the junk of a sparse archive past 2 GiB), the size of the sparse
  // archive's skipped entry, the command line, its exit status, what it says (found in standard
  // error, or output after a '>'), the files it writes.
  const std::tuple<std::string, uint32_t, std::string, int, std::string, std::string> rows[] = {
      {a, 0, "kxextract -h", 0, ">usage: kxextract [-t]", ""},
      {a, 0, "kxextract --version", 0, ">kxextract ", ""},
      {a, 0, "kxmedium -h", 0, ">usage: kxmedium build", ""},
      {a, 0, "kxmedium --version", 0, ">kxmedium ", ""},
      {a, 0, "kxmedium verify", 1, u + "kxmedium build", ""},
      {a, 0, "kxmedium build", 1, "kxmedium: build needs --setup, --companions, --payload", ""},
      {a, 0, "kxmedium build --password", 1, "kxmedium: unexpected argument --password\n" + u, ""},
      {a, 0, "kxmedium build --setup @s --companions @c --payload @p --out m", 0, ">m: total",
       built},
      {a, 0, "kxextract", 1, "kxextract: no archive given\n" + u, ""},
      {a, 0, "kxextract -dd @a", 1, "kxextract: unknown option -dd\n" + u, ""},
      {a, 0, "kxextract -d", 1, "kxextract: missing value for -d\n" + u, ""},
      {a, 0, "kxextract -s 12x @a", 1, "kxextract: invalid offset 12x\n" + u, ""},
      {a, 0, "kxextract -s -1 @a", 1, "kxextract: invalid offset -1\n" + u, ""},
      {a, 0, "kxextract -s 2147483648 @a", 1, "kxextract: invalid offset 2147483648\n" + u, ""},
      {a, 0, "kxextract @a " + n260, 1, "kxextract: name too long: " + n260 + "\n" + u, ""},
      {a, 0, "kxextract -s 0 -d @o @a", 0, "", "a.txt b.txt"},
      {bad, 0, "kxextract -c -d @o @a", 2, "ZIP damaged: file ~\\out\\a.txt: " + crc, "a.txt"},
      {bad, 0, "kxextract -t -d @o @a", 2, "kxextract: ZIP damaged: file a.txt: " + crc, ""},
      {some, 0, "kxextract -e -s 100 -d @o @a", 0, "", "B.TXT a.txt c.txt"},
      {some, 0, "kxextract -s 100 -d @o @a b.txt docs/A.TXT none", 0, "", "B.TXT a.txt"},
      {esc, 0, "kxextract -k -d @o @a", 2, "Unsafe file name in archive: ../escape.txt", "ok.txt"},
      {full, 0, "prlimit -f204800 kxextract -d @o @a", 2, "to ~\\out\\b.  Possible", "a.txt"},
      {enc, 0, "kxextract -l @a B", 0, ">----\n        0  2024-01-01 12:00   b\n-------", ""},
      {"JUNK!", 0x80000010u, "kxextract -d @o @a small.txt", 0, "", "small.txt"},
      {"", kToFourGiB - 1, "kxextract -d @o @a small.txt", 0, "", "small.txt"},
      {"", kToFourGiB, "kxextract -d @o @a small.txt", 2, big, "small.txt"},
      {"JUNK!", kToFourGiB + 40, "kxextract -d @o @a small.txt", 2, big, ""},
      {Named("Apfel.txt", 0, apfel), 0, "kxextract -d @o @a", 0, "", "other " + apfel},
      {Named("Apfel.txt", 0, apfel, 1), 0, "kxextract -d @o @a", 0, "", "Apfel.txt other"},
      {Named("Apfel.txt", 0x800, "B.txt"), 0, "kxextract -d @o @a", 0, "", "Apfel.txt other"},
      {Named(ete, 0x800), 0, "kxextract -d @o @a \xC3\x89T\xC3\x89", 0, "", ete},
  };
  for (const auto& [zip, sparse, line, status, says, writes] : rows) {
    SCOPED_TRACE(line);
    if (sparse) zipbuild::WriteSparseArchive(archive, sparse, zip);
    if (!sparse) scratch.Write("a.zip", zip);
    const ProgramResult got = Run(line);
    const bool help = says[0] == '>';  // on standard output
    const std::string said = help ? got.out : got.err, expected = says.substr(help);
    EXPECT_EQ(got.status, status);
    EXPECT_NE(said.find(expected), std::string::npos) << said;
    EXPECT_EQ(said.empty(), expected.empty()) << said;
    EXPECT_EQ(help ? got.err : got.out, "");
    EXPECT_EQ(Written(), writes);
  }
}

// On a terminal each entry's line starts at 0 %, the first reaches 81 % (40960 of 50178
// bytes), and the line is wiped at the end, or once before a message.
TEST_F(Tools, KxExtractProgressLine) {
  const std::string first = Noise(50000, 2), pad(63, ' '), wipe = "%\r" + std::string(79, ' ');
  scratch.Write("a.zip", Archive({Stored("first.bin", first), Stored("2.txt", "s")}));
  const std::string shown = Run("@tty kxextract -d @o @a").out;
  for (const std::string& part : {"\rfirst.bin" + pad + "   0%", "\rfirst.bin" + pad + "  81%",
                                  "\r2.txt" + pad + "      81" + wipe + "\r"})
    EXPECT_NE(shown.find(part), std::string::npos) << shown;
  EXPECT_EQ(Written(), "2.txt first.bin");
  scratch.Write("a.zip", Archive({Stored("first.bin", first).Crc(1)}));
  const std::string damaged = Run("@tty kxextract -c -d @o @a").out;
  EXPECT_EQ(damaged.substr(damaged.find(wipe) + wipe.size(), 23), "\rkxextract: ZIP damaged");
  EXPECT_EQ(damaged.substr(damaged.size() - 11), "00000001)\r\n");
}

// Ctrl-C falls while kxextract waits for the archive to arrive through a FIFO.
TEST_F(Tools, KxExtractCtrlCEndsWith99) {
  signal(SIGPIPE, SIG_IGN);
  const std::string bytes = Archive({Stored("small.txt", "small"), Stored("big", Noise(2e5, 3))});
  ASSERT_EQ(mkfifo(archive.c_str(), 0600), 0);
  const pid_t child = fork();
  if (child == 0) {
    execl(KX_TEST_BINARY_DIR "/kxextract", "kx", "-d", out.c_str(), archive.c_str(), nullptr);
    _exit(127);
  }
  // Opened without blocking: a kxextract that never reads cannot hang the test. Once open, the
  // reader has its handler in place.
  int pipe = -1;
  for (int tries = 0; pipe < 0 && tries < 12000; ++tries)
    if ((pipe = open(archive.c_str(), O_WRONLY | O_NONBLOCK)) < 0) ::usleep(5000);
  ASSERT_GE(pipe, 0);
  fcntl(pipe, F_SETFL, 0);
  kill(child, SIGINT);
  (void)!write(pipe, bytes.data(), bytes.size());
  close(pipe);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 99) << status;
  EXPECT_EQ(Written(), "");
}

// Archives of the archivers users have (all required) extracted by kxextract and unzip alike
// (bytes and times) and listed alike, encrypted entries marked.
TEST_F(Tools, KxExtractBesideUnzipOnArchivesOfTodaysZippers) {
  const std::string theirs = scratch.File("theirs");
  int64_t stamp = 1262347200;  // 2010-01-01 12:00 UTC, then 40 days and 2 seconds apart
  for (const auto& [name, bytes] : files)
    Stamp(payload + "/" + name, (stamp += 3456002) * 1000000000);
  fs::rename(payload + "/ONE.BIN", payload + "/\xC3\x84pfel.txt");  // not by Info-ZIP zip
  // The command that makes a.zip in the payload folder, its password ("": none), and
  // kxextract's exit status: 0, or 2 where it refuses the archive.
  const std::tuple<std::string, std::string, int> rows[] = {
      {"zip -q -X -P secret ../a.zip EMPTY.DAT MANUAL.TXT karvex32.exe", "secret", 0},
      {"zip -q -X - EMPTY.DAT MANUAL.TXT | cat > ../a.zip", "", 2},  // sizes after the data
      {"7zz a -tzip -bso0 -bsp0 -psecret7 -mem=ZipCrypto ../a.zip *", "secret7", 0},
      {"python3 -c 'import glob, zipfile; z = zipfile.ZipFile(\"../a.zip\", \"w\", 8); [z.write(f) "
       "for f in sorted(glob.glob(\"*\"))]'",
       "", 0},
  };
  for (const auto& [command, password, status] : rows) {
    SCOPED_TRACE(command);
    fs::remove(archive);
    fs::remove_all(theirs);
    ASSERT_EQ(RunProgram("cd '" + payload + "' && " + command).status, 0);
    pw = password.empty() ? "" : " -P " + password;
    ASSERT_EQ(Run("kxextract -c" + pw + " -d @o @a").status, status);
    ASSERT_EQ(Run("unzip -qq" + pw + " -d " + theirs + " @a").status, 0);
    for (const auto& item : fs::directory_iterator(status ? out : theirs)) {  // none if refused
      const fs::path ours = out / item.path().filename();
      EXPECT_TRUE(ScratchFolder::Read(ours) == ScratchFolder::Read(item.path())) << ours;
      EXPECT_EQ(fs::last_write_time(ours), fs::last_write_time(item.path())) << ours;
    }
    const std::string apfel = command[0] == 'z' ? "" : " \xC3\x84pfel.txt";  // zip leaves it
    EXPECT_EQ(Written(), status ? "EMPTY.DAT" : "EMPTY.DAT MANUAL.TXT karvex32.exe" + apfel);
    const std::string listed = Run("kxextract -l @a").out;
    EXPECT_EQ(Has(listed, "  (encrypted)\n"), !password.empty());
    EXPECT_EQ(std::regex_replace(listed, std::regex("  \\(encrypted\\)"), ""),
              Run("unzip -l @a").out);
  }
}

// Deflated where it helps, stored on request, under the built-in password or another one.
TEST_F(Tools, KxMediumBuiltMediaAreReadAlikeByEveryArchiver) {
  std::string first;
  for (const std::string options : {"", " --store", " --password Open-Sesame-42"}) {
    SCOPED_TRACE(options);
    const bool store = options == " --store", own = options.size() > 8;
    pw = own ? "Open-Sesame-42" : kBuiltInPassword;
    fs::remove_all(medium);
    const ProgramResult built = Build(options, store ? "@tty " : "");  // progress shown
    ASSERT_EQ(built.status, 0) << built.err;
    const auto shows = [&](const std::string& part) { return Has(built.out, part); };
    EXPECT_TRUE(shows(store ? " (0 deflated, 4 stored)" : " (1 deflated, 3 stored)"));
    // SETUP.EXE copied with its time; every companion stamped with exactly that time.
    EXPECT_EQ(ScratchFolder::Read(medium + "/SETUP.EXE"), files["karvex32.exe"]);
    uint64_t bytes = fs::file_size(Payload());
    for (const CompanionFile* c = CompanionFiles; c->name; ++c) {
      bytes += fs::file_size(medium + "/" + c->name);
      EXPECT_EQ(ScratchFolder::Read(medium + "/" + c->name),
                ScratchFolder::Read(companions + "/" + c->name));
      EXPECT_EQ(Stamp(medium + "/" + c->name), kSetupTime) << c->name;
    }
    EXPECT_EQ(Stamp(medium + "/SETUP.EXE"), kSetupTime);
    const std::string total = medium + ": total " + std::to_string(bytes) + " bytes (" +
                              std::to_string(bytes >> 10) + " KB), meter range " +
                              std::to_string((bytes >> 10) / 10);
    EXPECT_TRUE(shows(total)) << built.out;
    EXPECT_EQ(built.err, "");
    // The line of each file shows the bytes before it, then those after it.
    const std::string main = "\rpacking karvex32.exe" + std::string(35, ' ');
    const std::string packed = main + "200001 of 270001 bytes" + main + "270001 of 270001 bytes\r" +
                               std::string(79, ' ') + "\r";
    EXPECT_EQ(shows(packed), store);
    EXPECT_EQ(shows("EMPTY.DAT" + std::string(43, ' ') + "0 of"), store);
    const ProgramResult verified = Run("kxmedium verify @m");
    EXPECT_EQ(verified.status, own ? 2 : 0) << verified.err;
    EXPECT_EQ(verified.out, total + "\n" + (own ? "" : medium + ": good medium\n"));
    // unzip and kxextract write the same files; 7-Zip finds them intact.
    for (const std::string tool : {"unzip -qq -P", "kxextract -c -P"}) {
      const ProgramResult r = Run(tool + " @w -d @o @k");
      ASSERT_EQ(r.status, 0) << r.err << r.out;
      for (const auto& [name, plain] : files)
        EXPECT_TRUE(ScratchFolder::Read(out + "/" + (name[0] == 'k' ? "KARVEX32.EX_" : name)) ==
                    plain);
      EXPECT_EQ(Stamp(out + "/ONE.BIN"), LocalUnixTime(1980, 1, 1, 0, 0, 0) * 1000000000ll);
      const int64_t last = LocalUnixTime(2107, 12, 31, 23, 59, 58) * 1000000000ll;
      EXPECT_TRUE(tool[0] == 'u' || Stamp(out + "/EMPTY.DAT") == last);  // unzip: a day late
      EXPECT_EQ(Written(), "EMPTY.DAT KARVEX32.EX_ MANUAL.TXT ONE.BIN");
    }
    EXPECT_EQ(RunProgram("7zz t" + Quoted({"-p" + pw, Payload()})).status, 0);
    // The encryption headers are random: a second build differs; no plain bytes show.
    EXPECT_NE(ScratchFolder::Read(Payload()), first);
    first = ScratchFolder::Read(Payload());
    EXPECT_EQ(first.find(files["karvex32.exe"].substr(100, 64)), std::string::npos);
    EXPECT_TRUE(Has(Run("zipinfo -v @k").out, "version required to extract:   2.0"));
  }
}

// Each row spoils one input of a build (lower-case acts: the build refuses) or, upper case, one
// file of a built medium (verify names the fault); paths lie below the scratch folder. A file
// written ('w') or removed ('r'), a folder made ('f'), a link to nowhere ('l'), a time set to
// `by` seconds ('t') or moved by `by` nanoseconds ('T'), the medium put at `path` ('m'), a
// file-size limit of `by` blocks ('u'), two companions made SZDD files of 3 GiB each ('s'), the
// archive's byte `by` (from the end when negative) flipped ('d') or the archive cut there ('c'),
// written anew by zip with `path` as its arguments ('z') or with one unnamed entry ('e').
TEST_F(Tools, KxMediumRefusesToBuildOrNamesEveryFaultOfADamagedMedium) {
  // The act, its path and `by`, and the words that name the fault in standard error (the scratch
  // folder shown as '~').
  const std::tuple<char, std::string, int64_t, std::string> rows[] = {
      {'w', "payload/one.bin", 0, "payload files ONE.BIN and one.bin differ only in letter case"},
      {'r', "payload/karvex32.exe", 0, "the payload holds neither KARVEX32.EXE nor KARVEX32.EX_"},
      {'w', "payload/KARVEX32.EX_", 0, "the payload holds both KARVEX32.EX_ and karvex32.exe"},
      {'r', "companions/WHATSNEW.TXT", 0, "missing companion file WHATSNEW.TXT in ~/companions"},
      {'f', "payload/HELP", 0, "payload folder HELP: the setup writes every entry into one folder"},
      {'w', "payload/Com1.log", 0, "payload file Com1.log: its name is a Windows device name"},
      {'t', "payload/ONE.BIN", 315500000, "payload file ONE.BIN: its time stamp lies outside"},
      {'t', "payload/ONE.BIN", 4354819200, "payload file ONE.BIN: its time stamp lies outside"},
      {'m', "companions", 0, "the medium folder must not be the input folder ~/companions"},
      {'m', ".", 0, "the medium folder must not be the folder of ~/SETUP.EXE"},
      {'m', "SETUP.EXE", 0, "cannot create the medium folder ~/SETUP.EXE: "},
      {'f', "new/medium/setup.kx", 0, "cannot create ~/new/medium/setup.kx: Is a directory"},
      {'r', "SETUP.EXE", 0, "setup program ~/SETUP.EXE not found"},
      {'r', "companions", 0, "cannot read the companions folder ~/companions"},
      {'r', "payload", 0, "cannot read the payload folder ~/payload"},
      {'l', "payload/LINK", 0, "payload entry LINK is not a plain file"},
      {'u', "", 200, "/new/medium/setup.kx: File too large"},  // while packing, on a terminal
      {'u', "", 10, "error writing to ~/new/medium/SETUP.EXE: File too large"},
      {'u', "", 264, "/new/medium/setup.kx: File too large"},  // at its central directory
      {'s', "companions", 0, "kxmedium: the medium's total size passes 4 GiB"},  // on a terminal
      {'T', "new/medium/FILE_ID.DIZ", 100, "time stamp of SETUP.EXE (0.0000001 s newer)"},
      {'T', "new/medium/ORDER.TXT", -3000000000, "time stamp of SETUP.EXE (3.0000000 s older)"},
      {'R', "new/medium/ORDER.TXT", 0, "kxmedium: problem: companion file ORDER.TXT is missing\n"},
      {'R', "new/medium/SETUP.EXE", 0, "problem: SETUP.EXE is missing\nkxmedium: ~/new/medium: 1 "},
      {'R', "new/medium/setup.kx", 0, "kxmedium: problem: setup.kx is missing\n"},
      {'D', "", 40000, "setup.kx: the setup would show \"ZIP damaged"},
      {'D', "", 30, "setup.kx: the local header of entry EMPTY.DAT does not match"},
      {'D', "", -3, "setup.kx: its central directory lies outside the file"},
      {'D', "", -12, "multi-disk"},
      {'D', "", -80, "setup.kx: central directory entry 4 is damaged"},  // the last signature
      {'C', "", -1, "setup.kx: no end of central directory record"},
      {'C', "", 21, "setup.kx: too short to be a ZIP archive"},
      {'Z', "-P \"$KXPW\" \"$KX\" SETUP.EXE", 0, "setup.kx does not hold the main program"},
      {'Z', "-P \"$KXPW\" \"$KX\" SETUP.EXE new/medium/SETUP.EXE", 0, "are written to the same"},
      {'Z', "\"$KX\" SETUP.EXE", 0, "setup.kx: entry SETUP.EXE is not encrypted"},
      {'S', "new/medium", 0, "total size passes 4 GiB"},
      {'E', "", 0, "setup.kx does not hold the main program"},  // one entry without a name
  };
  setenv("KXPW", kBuiltInPassword, 1);
  setenv("KX", "new/medium/setup.kx", 1);  // replaced by a new archive
  for (const auto& [letter, where, by, named] : rows) {
    SCOPED_TRACE(named);
    SetUp();
    const bool built = std::isupper(letter), tty = letter == 's' || (letter == 'u' && by > 10);
    const char act = static_cast<char>(std::tolower(letter));
    const std::string path = scratch.File(where), kx = "new/medium/setup.kx";
    medium = act == 'm' ? path : scratch.File("new/medium");
    ASSERT_TRUE(!built || Build("").status == 0);
    const std::string bytes = built ? ScratchFolder::Read(Payload()) : "";
    const size_t at = by < 0 ? bytes.size() + by : by;
    if (act == 'w') scratch.Write(where, "a");
    if (act == 'r' || act == 'z') fs::remove_all(act == 'z' ? Payload() : path);
    if (act == 'f') fs::create_directories(path);
    if (act == 'l') fs::create_symlink("nowhere", path);
    if (act == 't') Stamp(path, built ? kSetupTime + by : by * 1000000000);
    if (act == 'd') scratch.Write(kx, zipbuild::Damage(bytes, at, 16));
    if (act == 'c') scratch.Write(kx, bytes.substr(0, at));
    if (act == 'e') scratch.Write(kx, Archive({Stored("", "")}));
    if (act == 'z') RunProgram("cd '" + scratch.path().string() + "' && zip -q " + where);
    for (const char* name : {"/KARVEX.TXT", "/VENDOR.TXT"})
      if (act == 's') Stamp(scratch.Write(path + name, szdd), kSetupTime);
    const std::string limit = act == 'u' ? std::to_string(by * 1024) : "unlimited";
    const ProgramResult r =
        built ? Run("kxmedium verify @m")
              : Build(" --store", (tty ? "@tty prlimit -f" : "prlimit -f") + limit + " ");
    const std::string said = tty ? r.out : r.err;
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(said.find(named), std::string::npos) << said;
    // The progress line is wiped once: before the summary, or before a failure in the middle.
    const std::string wiped = act == 's' ? "\r\n" : "\r" + std::string(79, ' ') + "\r";
    EXPECT_EQ(Has(said, wiped + "kxmedium: "), tty);
    EXPECT_TRUE(built || fs::exists(Payload()) == (act == 's'));
    EXPECT_TRUE(act != 'u' || fs::exists(medium + "/SETUP.EXE") == (by > 10));
  }
}

TEST(KxMediumNames, PayloadNamesBecomeOemBytesOrAreRefusedWithTheirReason) {
  const std::string a255(255, 'a'), a256(256, 'a');
  const std::pair<std::string, std::string> rows[] = {
      // name, stored name or "!" and a part of the reason it is refused
      {"caf\xC3\xA9.txt", "caf\x82.txt"},
      {"\xE2\x94\x80", "\xC4"},  // three bytes back from one
      {a255, a255},
      {a256, "!empty or longer than 255"},
      {"a*b", "!character Windows"},
      {"trailing ", "!ends in a dot or a blank"},
      {"\xE2\x82\xAC", "!OEM code page"},
  };
  for (const auto& [name, stored] : rows) {
    std::string why;
    const std::string got = kxmedium::ArchiveNameFor(name, &why);
    const bool named = stored[0] == '!' && Has(why, stored.substr(1));
    EXPECT_EQ(why.empty() ? got : named ? stored : std::string("!") += why, stored) << name;
  }
}

}  // namespace
