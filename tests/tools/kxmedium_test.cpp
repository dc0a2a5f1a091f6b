// kxmedium as a program: the media it builds are read alike by unzip, 7-Zip and kxextract;
// verify names each fault of a damaged medium and build each input the setup could not install
// from, one row each. In-process: the payload's names as the archive stores them.
#include "extract/decrypt.h"
#include "res/companions.h"
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"
#include "tests/tools/run_program.h"
#include "tools/kxmedium_names.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <random>

namespace fs = std::filesystem;

namespace {

// The file's last-write time in nanoseconds since 1970, after setting it when `to` is given.
int64_t Stamp(const std::string& path, int64_t to = -1) {
  const timespec times[2] = {{to / 1000000000, to % 1000000000},
                             {to / 1000000000, to % 1000000000}};
  struct stat st {};
  EXPECT_TRUE((to < 0 || ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0) &&
              !::stat(path.c_str(), &st));
  return st.st_mtim.tv_sec * 1000000000ll + st.st_mtim.tv_nsec;
}

class KxMedium : public ::testing::Test {
 public:
  void SetUp() override {
    fs::remove_all(scratch.path());
    fs::create_directories(payload);
    fs::copy(fs::path(SourceFolder()) / "demo" / "companions", companions);
    std::mt19937 random(1);
    for (char& c : files["karvex32.exe"]) c = static_cast<char>(random());  // stored
    for (const auto& [name, bytes] : files) scratch.Write("payload/" + name, bytes);
    Stamp(scratch.Write("SETUP.EXE", files["karvex32.exe"]), kSetupTime);
    Stamp(payload + "/ONE.BIN", LocalUnixTime(2021, 3, 4, 5, 6, 7) * 1000000000ll + 5);
  }
  ProgramResult Run(const std::string& line) {
    return RunLine(line, {{"@c", companions}, {"@p", payload}, {"@m", medium}, {"@s", setup}},
                   scratch.path().string());
  }
  ProgramResult Build(const std::string& options = "", const std::string& prefix = "") {
    return Run(prefix + "kxmedium build --setup @s --companions @c --payload @p --out @m" +
               options);
  }
  std::string Archive() const { return medium + "/setup.kx"; }

  static constexpr int64_t kSetupTime = 1700000000123456700;  // an odd fraction of a second
  ScratchFolder scratch;
  std::string setup = scratch.File("SETUP.EXE"), companions = scratch.File("companions"),
              payload = scratch.File("payload"), medium = scratch.File("new/medium");
  std::map<std::string, std::string> files = {{"karvex32.exe", std::string(70000, 0)},
                                              {"MANUAL.TXT", std::string(200000, 'm')},
                                              {"EMPTY.DAT", ""},
                                              {"ONE.BIN", "x"}};
};

// Deflated where it helps, stored on request, under the built-in password or another one.
TEST_F(KxMedium, BuiltMediaAreReadAlikeByEveryArchiver) {
  std::string first;
  for (const std::string password : {"", "-", "Open-Sesame-42"}) {
    SCOPED_TRACE(password);
    const std::string pw = password.size() > 1 ? password : kBuiltInPassword;
    fs::remove_all(medium);
    const ProgramResult built = password.empty()  ? Build()
                                : password == "-" ? Build(" --store", "@tty ")  // progress shown
                                                  : Build(" --password " + password);
    ASSERT_EQ(built.status, 0) << built.err;
    EXPECT_NE(built.out.find(password == "-" ? "4 entries (0 deflated, 4 stored)"
                                             : "4 entries (1 deflated, 3 stored)"),
              std::string::npos)
        << built.out;
    // SETUP.EXE copied with its time; every companion stamped with exactly that time.
    EXPECT_EQ(ScratchFolder::Read(medium + "/SETUP.EXE"), files["karvex32.exe"]);
    uint64_t bytes = fs::file_size(Archive());
    for (const CompanionFile* c = CompanionFiles; c->name; ++c) {
      bytes += fs::file_size(medium + "/" + c->name);
      EXPECT_EQ(ScratchFolder::Read(medium + "/" + c->name),
                ScratchFolder::Read(companions + "/" + c->name));
      EXPECT_EQ(Stamp(medium + "/" + c->name), kSetupTime) << c->name;
    }
    EXPECT_EQ(Stamp(medium + "/SETUP.EXE"), kSetupTime);
    const std::string total = medium + ": total " + std::to_string(bytes) + " bytes (" +
                              std::to_string(bytes >> 10) + " KB), meter range " +
                              std::to_string((bytes >> 10) / 10) + "\n";
    EXPECT_NE(built.out.find(total.substr(0, total.size() - 1)), std::string::npos) << built.out;
    EXPECT_EQ(built.err, "");
    const std::string packed = "\rpacking karvex32.exe" + std::string(35, ' ') +
                               "270001 of 270001 bytes\r" + std::string(79, ' ') + "\r";
    EXPECT_EQ(built.out.find(packed) != std::string::npos &&
                  built.out.find("EMPTY.DAT" + std::string(43, ' ') + "0 of") != std::string::npos,
              password == "-");
    const ProgramResult verified = Run("kxmedium verify @m");
    EXPECT_EQ(verified.status, password.size() > 1 ? 2 : 0) << verified.err;
    EXPECT_EQ(verified.out, total + (password.size() > 1 ? "" : medium + ": good medium\n"));
    // unzip and kxextract write the same files; 7-Zip finds them intact, but not without the
    // password.
    for (const std::string tool : {"unzip -qq -P", "kxextract -c -P"}) {
      const std::string out = scratch.File(tool.substr(0, 5) + password);
      fs::create_directories(out);
      const ProgramResult r =
          RunLine(tool + " @w -d @o @a", {{"@w", pw}, {"@o", out}, {"@a", Archive()}}, "");
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(std::distance(fs::directory_iterator(out), {}), 4);
      for (const auto& [name, plain] : files)
        EXPECT_EQ(ScratchFolder::Read(out + "/" + (name[0] == 'k' ? "KARVEX32.EX_" : name)), plain);
      EXPECT_EQ(Stamp(out + "/ONE.BIN"), LocalUnixTime(2021, 3, 4, 5, 6, 6) * 1000000000ll);
    }
    EXPECT_EQ(RunProgram({"7zz", "t", "-p" + pw, Archive()}).status, 0);
    EXPECT_NE(RunProgram({"7zz", "t", "-pwrong", Archive()}).status, 0);
    // The encryption headers are random: a second build differs; no plain bytes show.
    EXPECT_NE(ScratchFolder::Read(Archive()), first);
    first = ScratchFolder::Read(Archive());
    EXPECT_EQ(first.find(files["karvex32.exe"].substr(100, 64)), std::string::npos);
  }
}

// Each row damages a fresh medium: a file's time moved by `by` nanoseconds ('t'), a file
// removed ('r'), the archive's byte `by` (from the end when negative) flipped ('d') or the
// archive cut there ('c'), written anew by zip with `file` as its arguments ('z'), or two
// companions made SZDD files of 3 GiB each ('s').
TEST_F(KxMedium, VerifyNamesEveryFaultOfADamagedMedium) {
  const struct {
    char act;
    const char* file;
    int64_t by;
    const char* named;  // in standard error
  } rows[] = {
      {'t', "LICENSE.TXT", 1000000000,
       "time stamp of LICENSE.TXT does not match the time stamp of SETUP.EXE (1.0000000 s newer)"},
      {'t', "FILE_ID.DIZ", 100,
       "problem: the time stamp of FILE_ID.DIZ does not match the time stamp of SETUP.EXE "
       "(0.0000001 s newer)"},
      {'t', "ORDER.TXT", -3000000000,
       "the time stamp of ORDER.TXT does not match the time stamp of SETUP.EXE (3.0000000 s "
       "older)"},
      {'t', "SETUP.EXE", 2000000000, "the time stamp of README.TXT does not match"},
      {'r', "ORDER.TXT", 0, "kxmedium: problem: companion file ORDER.TXT is missing\n"},
      {'r', "SETUP.EXE", 0,
       "kxmedium: problem: SETUP.EXE is missing\nkxmedium: ~/new/medium: 1 problem found\n"},
      {'r', "setup.kx", 0,
       "kxmedium: problem: setup.kx is missing\nkxmedium: ~/new/medium: 1 problem found\n"},
      {'d', "", 40000, "setup.kx: the setup would show \"ZIP damaged"},
      {'d', "", 14, "setup.kx: the setup would show"},
      {'d', "", 30,
       "setup.kx: the local header of entry EMPTY.DAT does not match the central directory"},
      {'d', "", -3, "setup.kx: its central directory lies outside the file"},
      {'d', "", -12, "multi-disk"},
      {'c', "", -1, "setup.kx: no end of central directory record"},
      {'c', "", -100, "setup.kx: no end of central directory record"},
      {'z', "-P \"$KXPW\" \"$KX\" new/medium/README.TXT", 0,
       "setup.kx does not hold the main program KARVEX32.EX_"},
      {'z', "-P \"$KXPW\" \"$KX\" KARVEX32.EX_ sub/KARVEX32.EX_", 0,
       "setup.kx: entries KARVEX32.EX_ and sub/KARVEX32.EX_ are written to the same file"},
      {'z', "\"$KX\" KARVEX32.EX_", 0, "setup.kx: entry KARVEX32.EX_ is not encrypted"},
      {'z', "-P other \"$KX\" KARVEX32.EX_", 0, "INCORRECT PASSWORD"},
      {'s', "", 0, "total size passes 4 GiB"},
  };
  setenv("KXPW", kBuiltInPassword, 1);
  fs::create_directories(scratch.File("sub"));
  scratch.Write("sub/KARVEX32.EX_", "main");
  scratch.Write("KARVEX32.EX_", "main");
  const std::string szdd(
      "SZDD\x88\xF0\x27\x33"
      "A_\0\0\0\xC0",
      14);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.named);
    fs::remove_all(medium);
    ASSERT_EQ(Build().status, 0);
    setenv("KX", Archive().c_str(), 1);
    const std::string path = medium + "/" + row.file, bytes = ScratchFolder::Read(Archive());
    const size_t at = row.by < 0 ? bytes.size() + row.by : row.by;
    if (row.act == 't') Stamp(path, kSetupTime + row.by);
    if (row.act == 'r') fs::remove(path);
    if (row.act == 'd') scratch.Write("new/medium/setup.kx", zipbuild::Damage(bytes, at, 16));
    if (row.act == 'c') scratch.Write("new/medium/setup.kx", bytes.substr(0, at));
    if (row.act == 'z')
      RunProgram(
          {"sh", "-c", "cd '" + scratch.path().string() + "' && rm \"$KX\" && zip -q " + row.file});
    for (const char* name : {"KARVEX.TXT", "VENDOR.TXT"})
      if (row.act == 's') Stamp(scratch.Write(std::string("new/medium/") + name, szdd), kSetupTime);
    const ProgramResult verified = Run("kxmedium verify @m");
    EXPECT_EQ(verified.status, 2);
    EXPECT_NE(verified.err.find(row.named), std::string::npos) << verified.err;
    EXPECT_EQ(verified.out.find("good medium"), std::string::npos);
  }
}

// Each row spoils one input of a build: a file written ('w'), a file or folder removed ('r'),
// a folder made ('f'), a link to nowhere ('l'), a time set to `by` seconds ('t'), the medium
// put at `path` ('m'), or a file-size limit of `by` blocks ('u').
TEST_F(KxMedium, BuildRefusesWhatTheSetupCouldNotInstall) {
  const struct {
    char act;
    const char* path;  // below the scratch folder
    int64_t by;
    const char* named;  // in standard error, the scratch folder shown as '~'
  } rows[] = {
      {'w', "payload/one.bin", 0, "payload files ONE.BIN and one.bin differ only in letter case"},
      {'r', "payload/karvex32.exe", 0, "the payload holds neither KARVEX32.EXE nor KARVEX32.EX_"},
      {'w', "payload/KARVEX32.EX_", 0, "the payload holds both KARVEX32.EX_ and karvex32.exe"},
      {'r', "companions/WHATSNEW.TXT", 0, "missing companion file WHATSNEW.TXT in ~/companions"},
      {'f', "payload/HELP", 0, "payload folder HELP: the setup writes every entry into one folder"},
      {'w', "payload/Com1.log", 0, "payload file Com1.log: its name is a Windows device name"},
      {'t', "payload/ONE.BIN", 315500000,
       "payload file ONE.BIN: its time stamp lies outside the MS-DOS dates"},
      {'t', "payload/ONE.BIN", 4354819200,
       "payload file ONE.BIN: its time stamp lies outside the MS-DOS"},
      {'m', "companions", 0, "the medium folder must not be the input folder ~/companions"},
      {'m', "payload", 0, "the medium folder must not be the input folder ~/payload"},
      {'m', ".", 0, "the medium folder must not be the folder of ~/SETUP.EXE"},
      {'m', "SETUP.EXE/medium", 0, "cannot create the medium folder ~/SETUP.EXE/medium: "},
      {'f', "new/medium/setup.kx", 0, "cannot create ~/new/medium/setup.kx: Is a directory"},
      {'r', "SETUP.EXE", 0, "setup program ~/SETUP.EXE not found"},
      {'r', "companions", 0, "cannot read the companions folder ~/companions"},
      {'r', "payload", 0, "cannot read the payload folder ~/payload"},
      {'l', "payload/LINK", 0, "payload entry LINK is not a plain file"},
      {'u', "", 200, "error writing to ~/new/medium/setup.kx: File too large"},
      {'u', "", 10, "error writing to ~/new/medium/SETUP.EXE: File too large"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.named);
    SetUp();
    const std::string path = scratch.File(row.path);
    if (row.act == 'w') scratch.Write(row.path, "a");
    if (row.act == 'r') fs::remove_all(path);
    if (row.act == 'f') fs::create_directories(path);
    if (row.act == 'l') fs::create_symlink("nowhere", path);
    if (row.act == 't') Stamp(path, row.by * 1000000000);
    medium = row.act == 'm' ? path : scratch.File("new/medium");
    rlimit saved, limit;
    getrlimit(RLIMIT_FSIZE, &saved);
    limit = {row.act == 'u' ? rlim_t(row.by) * 1024 : saved.rlim_cur, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
    const ProgramResult built = Build(" --store");
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(built.status, 2);
    EXPECT_NE(built.err.find(std::string("kxmedium: ") + row.named), std::string::npos)
        << built.err;
    EXPECT_FALSE(fs::exists(Archive()));
    EXPECT_TRUE(row.act != 'u' || fs::exists(medium + "/SETUP.EXE") == (row.by > 10));
  }
}

TEST(KxMediumNames, PayloadNamesBecomeOemBytesOrAreRefusedWithTheirReason) {
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
    EXPECT_EQ(kxmedium::ArchiveNameFor(row.name, &why), row.stored) << row.name;
    EXPECT_NE(why.find(row.reason), std::string::npos) << row.name << ": " << why;
    EXPECT_EQ(why.empty(), row.reason.empty()) << row.name;
  }
  std::vector<std::string> problems;  // the staged main program is taken as it is
  const auto planned = kxmedium::PlanPayload({"b", "karvex32.ex_", "caf\xC3\xA9"}, &problems);
  ASSERT_EQ(planned.size() + problems.size(), 3u);
  EXPECT_EQ(planned[1].fileName + planned[1].entryName + planned[2].entryName,
            "karvex32.ex_KARVEX32.EX_caf\x82");
}

}  // namespace
