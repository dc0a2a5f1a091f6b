// kxmedium as a program: the media it builds are read alike by unzip, 7-Zip, zipinfo and
// kxextract; verify names each fault of a damaged medium and build each input the setup could
// not install from, one row each. Then its pieces in-process: payload names, SZDD sizes,
// totals, MS-DOS times and the directory reader.
#include "extract/decrypt.h"
#include "res/companions.h"
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"
#include "tests/tools/run_program.h"
#include "tools/kxmedium_names.h"
#include "tools/kxmedium_os.h"
#include "tools/kxmedium_totals.h"
#include "tools/kxmedium_zipdir.h"
#include "tools/kxmedium_zipwriter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <random>
#include <regex>

namespace fs = std::filesystem;

namespace {

std::string Read(const std::string& path) { return ScratchFolder::Read(path); }

std::string Random(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

void SetModified(const std::string& path, int64_t seconds, long nanoseconds) {
  const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}
int64_t Modified(const std::string& path) {  // in nanoseconds
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mtim.tv_sec * 1000000000ll + st.st_mtim.tv_nsec;
}

class KxMedium : public ::testing::Test {
 public:
  void SetUp() override {
    fs::remove_all(scratch.path());
    fs::create_directories(payload);
    fs::copy(fs::path(SourceFolder()) / "demo" / "companions", companions);
    scratch.Write("SETUP.EXE", "MZ" + Random(20000, 1));
    SetModified(setup, 1700000000, 123456700);  // an odd fraction of a second
    for (const auto& [name, bytes] : files) scratch.Write("payload/" + name, bytes);
    SetModified(payload + "/ONE.BIN", LocalUnixTime(2021, 3, 4, 5, 6, 7), 500000000);
  }
  ProgramResult Run(const std::string& line) {
    const std::map<std::string, std::string> words = {
        {"@s", setup}, {"@c", companions}, {"@p", payload}, {"@m", medium}, {"@k", Archive()}};
    return RunLine(line, words, scratch.path().string());
  }
  ProgramResult Build(const std::string& options = "") {
    return Run("kxmedium build --setup @s --companions @c --payload @p --out @m " + options);
  }
  std::string Archive() const { return medium + "/" + kPayloadName; }
  // Every payload file, and nothing else, in folder with its bytes; the main program staged.
  void ExpectPayloadIn(const fs::path& folder) {
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), long(files.size())) << folder;
    for (const auto& [name, bytes] : files) {
      const std::string stored = name == "KARVEX32.EXE" ? "KARVEX32.EX_" : name;
      EXPECT_TRUE(Read((folder / stored).string()) == bytes) << stored;
    }
  }

  ScratchFolder scratch;
  std::string setup = scratch.File("SETUP.EXE"), companions = scratch.File("companions"),
              payload = scratch.File("payload"), medium = scratch.File("medium");
  std::map<std::string, std::string> files = {
      {"KARVEX32.EXE", "MZ" + Random(70000, 2)},  // incompressible: stored
      {"MANUAL.TXT", std::string(200000, 'm')},   // crosses 65535-byte transfers
      {"EMPTY.DAT", ""},
      {"ONE.BIN", "x"},
      {"NOISE.BIN", Random(4000, 3)},
  };
};

// Deflated where it helps, stored on request, under the built-in password or another one.
TEST_F(KxMedium, BuiltMediaAreReadAlikeByEveryArchiver) {
  for (const std::string password : {"", "-", "Open-Sesame-42"}) {
    SCOPED_TRACE(password);
    const std::string pw = password.size() > 1 ? password : kBuiltInPassword;
    fs::remove_all(medium);
    const ProgramResult built = Build(password.size() > 1 ? "--password " + password
                                      : password.empty()  ? ""
                                                          : "--store");
    ASSERT_EQ(built.status, 0) << built.err;
    EXPECT_NE(built.out.find(password == "-" ? "5 entries (0 deflated, 5 stored), 274"
                                             : "5 entries (1 deflated, 4 stored), 74"),
              std::string::npos)
        << built.out;
    // SETUP.EXE copied with its time; every companion stamped with exactly that time.
    EXPECT_TRUE(Read(medium + "/SETUP.EXE") == Read(setup));
    EXPECT_EQ(Modified(medium + "/SETUP.EXE"), 1700000000123456700ll);
    uint64_t bytes = fs::file_size(Archive());
    for (const CompanionFile* c = CompanionFiles; c->name; ++c) {
      bytes += fs::file_size(medium + "/" + c->name);
      const std::string copy = medium + "/" + c->name;
      EXPECT_EQ(Read(copy), Read(companions + "/" + c->name));
      EXPECT_EQ(Modified(copy), 1700000000123456700ll) << c->name;
    }
    const std::string total = "total " + std::to_string(bytes) + " bytes (" +
                              std::to_string(bytes >> 10) + " KB), meter range " +
                              std::to_string((bytes >> 10) / 10);
    EXPECT_NE(built.out.find(total), std::string::npos) << built.out;
    const ProgramResult verified = Run("kxmedium verify @m");
    EXPECT_EQ(verified.status, password.size() > 1 ? 2 : 0) << verified.err;
    EXPECT_EQ(verified.out, medium + ": " + total + "\n" +
                                (password.size() > 1 ? "" : medium + ": good medium\n"));

    const std::string byUnzip = scratch.File("unzip" + password), byKx = scratch.File("kx");
    EXPECT_EQ(RunProgram({"unzip", "-qq", "-P", pw, "-d", byUnzip, Archive()}).status, 0);
    ExpectPayloadIn(byUnzip);
    fs::remove_all(byKx);
    fs::create_directories(byKx);
    const ProgramResult kx =
        RunProgram({BuiltProgram("kxextract"), "-c", "-P", pw, "-d", byKx, Archive()});
    ASSERT_EQ(kx.status, 0) << kx.err;
    ExpectPayloadIn(byKx);
    EXPECT_EQ(Modified(byKx + "/ONE.BIN"), LocalUnixTime(2021, 3, 4, 5, 6, 6) * 1000000000ll);
    const ProgramResult seven = RunProgram({"7zz", "t", "-p" + pw, Archive()});
    EXPECT_NE(seven.out.find("Everything is Ok"), std::string::npos) << seven.out << seven.err;
    EXPECT_NE(RunProgram({"7zz", "t", "-pwrong", Archive()}).status, 0);
    // Every entry encrypted; only the text gains from Deflate; the main program staged.
    const std::string info = RunProgram({"zipinfo", "-v", Archive()}).out;
    const auto count = [&info](const std::string& what) {
      size_t n = 0;
      for (size_t at = info.find(what); at != std::string::npos; at = info.find(what, at + 1)) ++n;
      return n;
    };
    EXPECT_EQ(count("file security status:                           encrypted"), 5u);
    EXPECT_EQ(count("compression method:                             deflated"),
              password == "-" ? 0u : 1u);
    EXPECT_EQ(count("KARVEX32.EX_") * 10 + count("KARVEX32.EXE"), 10u);
    EXPECT_NE(RunProgram({"zipinfo", "-T", Archive(), "ONE.BIN"}).out.find("20210304.050606"),
              std::string::npos);
  }
  // The encryption headers are random: a second build differs, and no plain bytes show.
  const std::string first = Read(Archive());
  ASSERT_EQ(Build("--password Open-Sesame-42").status, 0);
  EXPECT_NE(Read(Archive()), first);
  EXPECT_EQ(first.find(files["KARVEX32.EXE"].substr(100, 64)), std::string::npos);
}

// Each row damages a fresh medium: a file's time moved by `by` nanoseconds ('t'), a file
// removed ('r'), the archive's byte `by` flipped ('d') or written anew by zip with `file`
// as its arguments ('z'), or two companions SZDD files of 3 GiB each ('s').
TEST_F(KxMedium, VerifyNamesEveryFaultOfADamagedMedium) {
  const struct {
    char act;
    const char* file;
    int64_t by;
    const char* named;  // in standard error
  } rows[] = {
      {'t', "LICENSE.TXT", 1000000000,
       "the time stamp of LICENSE.TXT does not match the time stamp of SETUP.EXE (1.0000000 s "
       "newer)"},
      {'t', "FILE_ID.DIZ", 100,
       "the time stamp of FILE_ID.DIZ does not match the time stamp of SETUP.EXE (0.0000001 s "
       "newer)"},
      {'t', "ORDER.TXT", -3000000000,
       "the time stamp of ORDER.TXT does not match the time stamp of SETUP.EXE (3.0000000 s "
       "older)"},
      {'t', "SETUP.EXE", 2000000000, "the time stamp of README.TXT does not match"},
      {'r', "ORDER.TXT", 0, "companion file ORDER.TXT is missing"},
      {'r', "SETUP.EXE", 0, "SETUP.EXE is missing"},
      {'r', "setup.kx", 0, "setup.kx is missing"},
      {'d', "", 40000, "setup.kx: the setup would show"},
      {'d', "", 14, "setup.kx: the setup would show"},
      {'z', "-P \"$KXPW\" \"$KX\" medium/README.TXT", 0,
       "does not hold the main program KARVEX32.EX_"},
      {'z', "-P \"$KXPW\" \"$KX\" KARVEX32.EX_ sub/KARVEX32.EX_", 0,
       "setup.kx: entries KARVEX32.EX_ and sub/KARVEX32.EX_ are written to the same file"},
      {'z', "\"$KX\" KARVEX32.EX_", 0, "setup.kx: entry KARVEX32.EX_ is not encrypted"},
      {'z', "-P other \"$KX\" KARVEX32.EX_", 0, "INCORRECT PASSWORD"},
      {'z', "-h > \"$KX\"", 0, "setup.kx: no end of central directory record"},
      {'d', "", 30, "setup.kx: the local header of entry EMPTY.DAT does not match"},
      {'s', "", 0, "total size passes 4 GiB"},
  };
  setenv("KXPW", kBuiltInPassword, 1);
  fs::create_directories(scratch.File("sub"));
  scratch.Write("sub/KARVEX32.EX_", "main");
  scratch.Write("KARVEX32.EX_", "main");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.named);
    fs::remove_all(medium);
    ASSERT_EQ(Build().status, 0);
    setenv("KX", Archive().c_str(), 1);
    const std::string path = medium + "/" + row.file, szdd(
                                                          "SZDD\x88\xF0\x27\x33"
                                                          "A_\0\0\0\xC0",
                                                          14);
    const int64_t at = 1700000000123456700 + row.by;
    if (row.act == 't') SetModified(path, at / 1000000000, at % 1000000000);
    if (row.act == 'r') fs::remove(path);
    if (row.act == 'd')
      scratch.Write("medium/setup.kx", zipbuild::Damage(Read(Archive()), row.by, 16));
    if (row.act == 'z')
      RunProgram(
          {"sh", "-c", "cd '" + scratch.path().string() + "' && rm \"$KX\" && zip -q " + row.file});
    for (const char* name : {"KARVEX.TXT", "VENDOR.TXT"}) {
      if (row.act != 's') break;
      scratch.Write(std::string("medium/") + name, szdd);
      SetModified(medium + "/" + name, 1700000000, 123456700);
    }
    const ProgramResult verified = Run("kxmedium verify @m");
    EXPECT_EQ(verified.status, 2);
    EXPECT_NE(verified.err.find(row.named), std::string::npos) << verified.err;
    EXPECT_EQ(verified.out.find("good medium"), std::string::npos);
  }
}

// Each row spoils one input of a build: a file written ('w'), a file or folder removed ('r'),
// a folder made ('f'), a link to nowhere ('l'), a time set to `by` seconds ('t'), or the
// medium put at `path` ('m').
TEST_F(KxMedium, BuildRefusesWhatTheSetupCouldNotInstall) {
  const std::string dos = ": its time stamp lies outside the MS-DOS dates";
  const struct {
    char act;
    const char* path;  // below the scratch folder
    int64_t by;
    std::string named;  // in standard error, the scratch folder shown as '~'
  } rows[] = {
      {'w', "payload/one.bin", 0, "payload files ONE.BIN and one.bin differ only in letter case"},
      {'r', "payload/KARVEX32.EXE", 0, "the payload holds neither KARVEX32.EXE nor KARVEX32.EX_"},
      {'w', "payload/karvex32.ex_", 0, "the payload holds both KARVEX32.EXE and karvex32.ex_"},
      {'r', "companions/WHATSNEW.TXT", 0, "missing companion file WHATSNEW.TXT in ~/companions"},
      {'f', "payload/HELP", 0, "payload folder HELP: the setup writes every entry into one"},
      {'w', "payload/Com1.log", 0, "payload file Com1.log: its name is a Windows device name"},
      {'w', "payload/bad\xFF.txt", 0,
       "payload file bad\xFF.txt: its name cannot be written in the OEM"},
      {'t', "payload/ONE.BIN", 300000000, "payload file ONE.BIN" + dos},
      {'t', "payload/ONE.BIN", 4354819200, "payload file ONE.BIN" + dos},
      {'m', "companions", 0, "the medium folder must not be the input folder ~/companions"},
      {'m', "payload", 0, "the medium folder must not be the input folder ~/payload"},
      {'m', ".", 0, "the medium folder must not be the folder of ~/SETUP.EXE"},
      {'m', "SETUP.EXE", 0, "cannot create the medium folder ~/SETUP.EXE: "},
      {'m', "SETUP.EXE/medium", 0, "cannot create the medium folder ~/SETUP.EXE/medium"},
      {'r', "SETUP.EXE", 0, "setup program ~/SETUP.EXE not found"},
      {'r', "companions", 0, "cannot read the companions folder ~/companions"},
      {'r', "payload", 0, "cannot read the payload folder ~/payload"},
      {'l', "payload/LINK", 0, "payload entry LINK is not a plain file"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.named);
    SetUp();
    medium = scratch.File("medium");
    const std::string path = scratch.File(row.path);
    if (row.act == 'w') scratch.Write(row.path, "a");
    if (row.act == 'r') fs::remove_all(path);
    if (row.act == 'f') fs::create_directories(path);
    if (row.act == 'l') fs::create_symlink("nowhere", path);
    if (row.act == 't') SetModified(path, row.by, 0);
    if (row.act == 'm') medium = path;
    const bool hadSetup = fs::exists(medium + "/SETUP.EXE");
    const ProgramResult built = Build();
    EXPECT_EQ(built.status, 2);
    EXPECT_NE(built.err.find("kxmedium: " + row.named), std::string::npos) << built.err;
    EXPECT_FALSE(fs::exists(Archive()));
    EXPECT_EQ(fs::exists(medium + "/SETUP.EXE"), hadSetup);
  }
}

// Accepted names go in as OEM bytes; the main program is taken in any case, or staged.
TEST_F(KxMedium, AcceptedNamesAndTheMainProgramInAnyForm) {
  for (const char* name : {"caf\xC3\xA9.txt", "CONSOLE.TXT", ".profile", "long name.txt"})
    scratch.Write(std::string("payload/") + name, name);
  fs::rename(payload + "/KARVEX32.EXE", payload + "/karvex32.exe");
  ASSERT_EQ(Build().status, 0);
  EXPECT_EQ(Run("kxmedium verify @m").status, 0);
  fs::create_directories(scratch.File("out"));
  ASSERT_EQ(RunProgram({BuiltProgram("kxextract"), "-d", scratch.File("out"), Archive()}).status,
            0);
  for (const char* name : {"caf\xC3\xA9.txt", "CONSOLE.TXT", ".profile", "KARVEX32.EX_"})
    EXPECT_TRUE(fs::exists(scratch.File("out/") + name)) << name;
  fs::rename(payload + "/karvex32.exe", payload + "/KARVEX32.EX_");
  ASSERT_EQ(Build().status, 0);
  EXPECT_EQ(Run("kxmedium verify @m").status, 0);
}

// Packing shows on a terminal only; a write the file-size limit refuses ends the build.
TEST_F(KxMedium, ProgressOnATerminalAndAFileSizeLimit) {
  std::string line;
  for (const std::string& word :
       std::vector<std::string>{BuiltProgram("kxmedium"), "build", "--setup", setup, "--companions",
                                companions, "--payload", payload, "--out"})
    line += " '" + word + "'";
  const ProgramResult shown =
      RunProgram({"script", "-qec", line + " '" + medium + "'", "/dev/null"});
  EXPECT_EQ(shown.status, 0);
  EXPECT_NE(shown.out.find("\rpacking MANUAL.TXT" + std::string(38, ' ') + "70002 of 274003 bytes"),
            std::string::npos)
      << shown.out;
  EXPECT_NE(shown.out.find(" bytes\r" + std::string(79, ' ') + "\r" + medium), std::string::npos);
  fs::remove_all(medium);
  EXPECT_EQ(Build().err, "");
  fs::remove_all(medium);
  const ProgramResult full =
      RunProgram({"bash", "-c", "ulimit -f 200; " + line + " \"$0\" --store", medium});
  EXPECT_EQ(full.status, 2);
  EXPECT_EQ(full.err, "kxmedium: error writing to " + Archive() + ": File too large\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(medium), {}), 8);
}

TEST(KxTools, UsageHelpAndVersion) {
  const std::string build = "kxmedium build --setup a --companions b --payload c --out d";
  const struct {
    std::string line;
    int status;
    const char *out, *err;  // regular expressions
  } rows[] = {
      {"kxextract -h", 0, "^usage: kxextract .*\n +kxextract -l ", ""},
      {"kxextract --help", 0, "^usage: kxextract .*\n +kxextract -l ", ""},
      {"kxextract --version", 0, "^kxextract [0-9.]+\n$", ""},
      {"kxmedium -h", 0, "^usage: kxmedium build --setup", ""},
      {"kxmedium --help", 0, "^usage: kxmedium build --setup", ""},
      {"kxmedium --version", 0, "^kxmedium [0-9.]+\n$", ""},
      {"kxmedium", 1, "", "^usage: kxmedium build --setup"},
      {"kxmedium verify", 1, "", "^usage: kxmedium build --setup"},
      {"kxmedium verify a b", 1, "", "^usage: kxmedium build --setup"},
      {"kxmedium list x", 1, "", "^usage: kxmedium build --setup"},
      {"kxmedium build --setup x", 1, "", "^kxmedium: build needs --setup, --companions, --paylo"},
      {build + " --zip", 1, "", "^kxmedium: unexpected argument --zip\nusage: kxmedium build"},
      {build + " --bogus x", 1, "", "^kxmedium: unexpected argument --bogus\nusage: kxmedium"},
      {build + " --password", 1, "", "^kxmedium: unexpected argument --password\nusage: kx"},
  };
  for (const auto& row : rows) {
    const ProgramResult r = RunLine(row.line, {}, "");
    EXPECT_EQ(r.status, row.status) << row.line;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(*row.out ? row.out : "^$"))) << row.line;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(*row.err ? row.err : "^$"))) << row.line;
  }
}

}  // namespace

namespace kxmedium {
namespace {

TEST(KxMediumParts, PayloadNamesBecomeOemBytesOrAreRefusedWithTheirReason) {
  const std::string a255(255, 'a'), a256(256, 'a');
  const struct {
    std::string name, stored, reason;
  } rows[] = {
      {"README.TXT", "README.TXT", ""},
      {"caf\xC3\xA9.txt", "caf\x82.txt", ""},
      {"CONSOLE.TXT", "CONSOLE.TXT", ""},
      {".profile", ".profile", ""},
      {a255, a255, ""},
      {"COM0", "COM0", ""},
      {"", "", "empty or longer than 255"},
      {a256, "", "empty or longer than 255"},
      {"a*b", "", "character Windows"},
      {"a\x1F", "", "character Windows does not allow"},
      {"a:b", "", "character Windows"},
      {"back\\slash", "", "character Windows"},
      {"trailing ", "", "ends in a dot or"},
      {"READ.ME.", "", "ends in a dot or a blank"},
      {"nul", "", "device name"},
      {"Com1.log", "", "device name"},
      {"LPT9", "", "device name"},
      {"\xE2\x82\xAC", "", "OEM code page"},
      {"bad\xFF.txt", "", "OEM code page"},
      {"\xC3", "", "OEM code page"},
      {"\xF0\x9F\x98\x80", "", "OEM code page"},
  };
  for (const auto& row : rows) {
    std::string why;
    EXPECT_EQ(ArchiveNameFor(row.name, &why), row.stored) << row.name;
    EXPECT_NE(why.find(row.reason), std::string::npos) << row.name << ": " << why;
    EXPECT_EQ(why.empty(), row.reason.empty()) << row.name;
  }
}

TEST(KxMediumParts, SzddSizesTotalsAndDosTimes) {
  ScratchFolder scratch;
  const std::string sig("SZDD\x88\xF0\x27\x33", 8), size("\x10\x27\0\0", 4);
  const auto descriptors = std::distance(fs::directory_iterator("/proc/self/fd"), {});
  const std::pair<std::string, uint32_t> szdd[] = {
      {sig + "A_" + size + "rest", 10000},
      {sig + "A_\xFF\xFF\xFF\xFF", 0xFFFFFFFF},
      {sig + "A_\x10\x27", 777},
      {"SZDD\x88\xF0\x27\x34"
       "A_" +
           size,
       777},
      {"just text, long enough", 777},
  };
  for (const auto& [bytes, expected] : szdd)
    EXPECT_EQ(ExpandedFileSize(scratch.Write("f", bytes), 777), expected) << bytes;
  EXPECT_EQ(ExpandedFileSize(scratch.File("absent"), 777), 777u);
  EXPECT_EQ(std::distance(fs::directory_iterator("/proc/self/fd"), {}), descriptors);
  const std::tuple<uint64_t, const char*, bool> totals[] = {
      {0, "0 bytes (0 KB), meter range 0", true},
      {10239, "10239 bytes (9 KB), meter range 0", true},
      {10240, "10240 bytes (10 KB), meter range 1", true},
      {102399, "102399 bytes (99 KB), meter range 9", true},
      {0xFFFFFFFF, "4294967295 bytes (4194303 KB), meter range 419430", true},
      {0x100000000, "4294967296 bytes (0 KB), meter range 0", false},
  };
  for (const auto& [bytes, text, fits] : totals) {
    MediumTotal total;
    total.bytes = bytes;
    EXPECT_EQ(DescribeTotal(total), std::string("total ") + text);
    EXPECT_EQ(total.fitsSetup(), fits) << bytes;
  }
  // MS-DOS times are local, in two-second steps, 1980 to 2107.
  const int64_t first = LocalUnixTime(1980, 1, 1, 0, 0, 0);
  const int64_t last = LocalUnixTime(2107, 12, 31, 23, 59, 59);
  const std::tuple<int64_t, bool, uint16_t, uint16_t> times[] = {
      {first, true, 0x0021, 0x0000},
      {first - 1, false, 0, 0},
      {LocalUnixTime(2021, 3, 4, 5, 6, 7), true, 0x5264, 0x28C3},
      {last, true, 0xFF9F, 0xBF7D},
      {last + 1, false, 0, 0},
  };
  for (const auto& [unix, ok, date, time] : times) {
    const uint64_t ticks = static_cast<uint64_t>(unix) * 10000000ull + 116444736000000000ull;
    uint16_t d = 0, t = 0;
    EXPECT_EQ(FileTimeToDos({uint32_t(ticks), uint32_t(ticks >> 32)}, &d, &t), ok) << unix;
    EXPECT_EQ(d * 65536 + t, date * 65536 + time) << unix;
  }
}

TEST(KxMediumParts, DirectoryReaderNamesTheDamageAndNeverReadsPastTheEnd) {
  ScratchFolder scratch;
  const std::string archive = scratch.File("setup.kx");
  {
    ZipWriter writer(archive, kBuiltInPassword, false);
    std::string error;
    const std::vector<uint8_t> bytes(5000, 'k');
    ASSERT_TRUE(writer.Open(&error) && writer.AddEntry("ONE.TXT", bytes, 0x5264, 0x28C3, &error) &&
                writer.AddEntry("KARVEX32.EX_", bytes, 0x5264, 0x28C3, &error) &&
                writer.Finish(&error))
        << error;
  }
  const std::string good = Read(archive);
  const size_t end = good.size() - zip::end::kSize, dir = good.find("PK\x01\x02");
  const struct {
    size_t at;
    uint32_t mask;
    const char* reason;  // null: read; "": read, a local header differs
  } rows[] = {
      {0, 0, nullptr},
      {end + zip::end::kDirectoryOffset + 3, 0x7F, "outside the file"},
      {end + zip::end::kDirectorySize + 3, 0x10, "outside the file"},
      {end + zip::end::kEntries, 0x09, "multi-disk"},
      {end + zip::end::kDiskEntries, 0x090009, "damaged"},
      {dir + zip::central::kNameLength + 1, 0x40, "runs past its end"},
      {dir + zip::central::kLocalOffset, 1, ""},
      {30, 1, ""},  // the local name
      {zip::local::kFlags, 1, ""},
      {end + zip::end::kCommentLength, 1, "no end of central directory record"},
  };
  for (const auto& row : rows) {
    scratch.Write("bad.kx", zipbuild::Damage(good, row.at, row.mask));
    std::vector<DirectoryEntry> entries;
    std::string error;
    const bool read = ReadZipDirectory(scratch.File("bad.kx"), &entries, &error);
    EXPECT_EQ(read, !row.reason || !*row.reason) << row.at << ": " << error;
    EXPECT_NE(error.find(row.reason ? row.reason : ""), std::string::npos) << row.at << error;
    if (!read) continue;
    ASSERT_EQ(entries.size(), 2u) << row.at;
    const DirectoryEntry& e = entries[1];
    EXPECT_EQ(e.name + " " + std::to_string(e.size) + " " + std::to_string(e.method) + " " +
                  std::to_string(e.flags & 1) + " " + std::to_string(e.dosDate),
              "KARVEX32.EX_ 5000 8 1 21092");
    EXPECT_EQ(entries[0].localHeaderMatches, !row.reason) << row.at;
  }
  std::vector<DirectoryEntry> none;
  std::string why;
  EXPECT_FALSE(ReadZipDirectory(scratch.path().string(), &none, &why));  // a folder
  EXPECT_NE(why, "");
  for (size_t length = 0; length < good.size(); ++length) {
    why.clear();
    EXPECT_FALSE(ReadZipDirectory(scratch.Write("cut.kx", good.substr(0, length)), &none, &why));
    EXPECT_NE(why, "") << length;
  }
}

}  // namespace
}  // namespace kxmedium
