// kxmedium as a program: the media it builds are read alike by unzip, 7-Zip, zipinfo and
// kxextract; verify accepts a fresh medium and names each fault of a damaged one; build
// refuses, one row each, the inputs the setup could not install from. Then its pieces
// in-process: payload names, SZDD sizes, totals, MS-DOS times, the directory reader.
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
#include <functional>
#include <map>
#include <random>
#include <tuple>

namespace fs = std::filesystem;

namespace {

std::string Random(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string Text(size_t size) {
  std::string text;
  while (text.size() < size)
    text += "Karvex Setup copies the companion files. " + std::to_string(text.size()) + "\r\n";
  return text.substr(0, size);
}

void SetModified(const std::string& path, int64_t seconds, long nanoseconds) {
  const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}
timespec Modified(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mtim;
}
void Touch(const fs::path& file, int64_t seconds, long nanoseconds) {
  const timespec t = Modified(file.string());
  SetModified(file.string(), t.tv_sec + seconds + (t.tv_nsec + nanoseconds) / 1000000000,
              (t.tv_nsec + nanoseconds) % 1000000000);
}
void DamageFile(const fs::path& file, size_t at) {
  const std::string bytes = ScratchFolder::Read(file.string());
  std::ofstream(file, std::ios::binary | std::ios::trunc) << zipbuild::Damage(bytes, at, 0x10);
}

class KxMedium : public ::testing::Test {
 public:
  void SetUp() override {
    fs::create_directories(payload);
    fs::copy(fs::path(SourceFolder()) / "demo" / "companions", companions);
    scratch.Write("SETUP.EXE", "MZ" + Random(20000, 1));
    SetModified(setup, 1700000000, 123456700);  // an odd fraction of a second
    for (const auto& [name, bytes] : files) scratch.Write("payload/" + name, bytes);
  }
  ProgramResult Build(std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {BuiltProgram("kxmedium"),
                                     "build",
                                     "--setup",
                                     setup,
                                     "--companions",
                                     companions,
                                     "--payload",
                                     payload,
                                     "--out",
                                     medium};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return RunProgram(argv);
  }
  ProgramResult Verify() { return RunProgram({BuiltProgram("kxmedium"), "verify", medium}); }
  std::string Archive() const { return medium + "/" + kPayloadName; }
  // Every payload file, and nothing else, in folder with its bytes; the main program staged.
  void ExpectPayloadIn(const fs::path& folder) {
    size_t count = 0;
    for (const auto& item : fs::directory_iterator(folder)) count += item.is_regular_file();
    EXPECT_EQ(count, files.size()) << folder;
    for (const auto& [name, bytes] : files) {
      const std::string stored = name == "KARVEX32.EXE" ? "KARVEX32.EX_" : name;
      EXPECT_TRUE(ScratchFolder::Read((folder / stored).string()) == bytes) << stored;
    }
  }

  ScratchFolder scratch;
  std::string setup = scratch.File("SETUP.EXE"), companions = scratch.File("companions"),
              payload = scratch.File("payload"), medium = scratch.File("medium");
  std::map<std::string, std::string> files = {
      {"KARVEX32.EXE", "MZ" + Random(70000, 2)},  // incompressible: stored
      {"MANUAL.TXT", Text(200000)},               // crosses 65535-byte transfers
      {"EMPTY.DAT", ""},
      {"ONE.BIN", "x"},
      {"NOISE.BIN", Random(4000, 3)},
  };
};

// Deflated where it helps, stored on request, under the built-in password or an ASCII one.
TEST_F(KxMedium, BuiltMediaAreReadAlikeByEveryArchiver) {
  const std::string builtIn = kBuiltInPassword;
  SetModified(payload + "/ONE.BIN", LocalUnixTime(2021, 3, 4, 5, 6, 7), 500000000);
  for (const std::string mode : {"", "--store", "--password"}) {
    SCOPED_TRACE(mode);
    fs::remove_all(medium);
    const std::string password = mode == "--password" ? "Open Sesame 42" : builtIn;
    const ProgramResult built =
        Build(mode == "--password" ? std::vector<std::string>{mode, password}
              : mode.empty()       ? std::vector<std::string>{}
                                   : std::vector<std::string>{mode});
    ASSERT_EQ(built.status, 0) << built.err;
    // SETUP.EXE copied, and every companion stamped with its exact time.
    EXPECT_TRUE(ScratchFolder::Read(medium + "/SETUP.EXE") == ScratchFolder::Read(setup));
    for (const CompanionFile* c = CompanionFiles; c->name; ++c) {
      const std::string copy = medium + "/" + c->name;
      EXPECT_TRUE(ScratchFolder::Read(copy) == ScratchFolder::Read(companions + "/" + c->name))
          << c->name;
      EXPECT_EQ(Modified(copy).tv_sec, 1700000000) << c->name;
      EXPECT_EQ(Modified(copy).tv_nsec, 123456700) << c->name;
    }
    EXPECT_EQ(Modified(medium + "/SETUP.EXE").tv_nsec, 123456700);

    const fs::path byUnzip = scratch.File("unzip" + mode), byKx = scratch.File("kx" + mode);
    EXPECT_EQ(
        RunProgram({"unzip", "-qq", "-P", password, "-d", byUnzip.string(), Archive()}).status, 0);
    ExpectPayloadIn(byUnzip);
    fs::create_directories(byKx);
    const ProgramResult kx = RunProgram(
        {BuiltProgram("kxextract"), "-c", "-P", password, "-d", byKx.string(), Archive()});
    ASSERT_EQ(kx.status, 0) << kx.err;
    ExpectPayloadIn(byKx);
    EXPECT_EQ(Modified((byKx / "ONE.BIN").string()).tv_sec,
              LocalUnixTime(2021, 3, 4, 5, 6, 6));  // two-second steps
    const ProgramResult seven = RunProgram({"7zz", "t", "-p" + password, Archive()});
    EXPECT_NE(seven.out.find("Everything is Ok"), std::string::npos) << seven.out << seven.err;
    EXPECT_NE(RunProgram({"7zz", "t", "-pwrong", Archive()}).status, 0);

    // Every entry encrypted; only the text gains from Deflate; the main program staged.
    const ProgramResult info = RunProgram({"zipinfo", "-v", Archive()});
    const auto count = [&info](const std::string& what) {
      size_t n = 0;
      for (size_t at = info.out.find(what); at != std::string::npos;
           at = info.out.find(what, at + 1))
        ++n;
      return n;
    };
    EXPECT_EQ(count("file security status:                           encrypted"), files.size());
    EXPECT_EQ(count("compression method:                             deflated"),
              mode == "--store" ? 0u : 1u);
    EXPECT_EQ(count("KARVEX32.EX_"), 1u);
    EXPECT_EQ(count("KARVEX32.EXE"), 0u);
    EXPECT_NE(RunProgram({"zipinfo", "-T", Archive(), "ONE.BIN"}).out.find("20210304.050606"),
              std::string::npos);
  }
  // The encryption headers are random: a second build differs, and no plain bytes show.
  const std::string first = ScratchFolder::Read(Archive());
  ASSERT_EQ(Build({"--password", "Open Sesame 42"}).status, 0);
  EXPECT_NE(ScratchFolder::Read(Archive()), first);
  EXPECT_EQ(first.find(files["KARVEX32.EXE"].substr(100, 64)), std::string::npos);
}

TEST_F(KxMedium, VerifyAcceptsAFreshMediumAndPrintsTheSetupsTotals) {
  ASSERT_EQ(Build().status, 0);
  const ProgramResult verified = Verify();
  EXPECT_EQ(verified.status, 0) << verified.err;
  EXPECT_EQ(verified.err, "");
  uint64_t bytes = fs::file_size(Archive());
  for (const CompanionFile* c = CompanionFiles; c->name; ++c)
    bytes += fs::file_size(medium + "/" + c->name);
  const std::string kb = std::to_string(bytes >> 10), range = std::to_string((bytes >> 10) / 10);
  EXPECT_NE(verified.out.find("total " + std::to_string(bytes) + " bytes (" + kb +
                              " KB), meter range " + range),
            std::string::npos)
      << verified.out;
  EXPECT_NE(verified.out.find("good medium"), std::string::npos);
}

struct Fault {
  const char* label;
  std::function<void(KxMedium&)> act;  // before the build when it names a refusal
  const char* named;                   // what standard error must say
};

void ZipInstead(KxMedium& t, const std::string& options, const std::string& file) {
  fs::remove(t.Archive());
  fs::copy_file(t.setup, t.scratch.File("KARVEX32.EX_"), fs::copy_options::overwrite_existing);
  const ProgramResult r = RunProgram({"sh", "-c",
                                      "cd '" + t.scratch.path().string() + "' && zip -q " +
                                          options + " '" + t.Archive() + "' " + file});
  ASSERT_EQ(r.status, 0) << r.err;
}

TEST_F(KxMedium, VerifyNamesEveryFaultOfADamagedMedium) {
  const std::string szdd =
      std::string("SZDD\x88\xF0\x27\x33", 8) + "A_" + std::string("\x00\x00\x00\xC0", 4) + "data";
  // clang-format off
  const Fault faults[] = {
      {"companion a second newer", [](KxMedium& t) { Touch(t.medium + "/LICENSE.TXT", 1, 0); }, "the time stamp of LICENSE.TXT does not match the time stamp of SETUP.EXE (1.0000000 s newer)"},
      {"companion a tick newer", [](KxMedium& t) { Touch(t.medium + "/FILE_ID.DIZ", 0, 100); }, "the time stamp of FILE_ID.DIZ does not match the time stamp of SETUP.EXE (0.0000001 s newer)"},
      {"companion older", [](KxMedium& t) { Touch(t.medium + "/ORDER.TXT", -3, 0); }, "the time stamp of ORDER.TXT does not match the time stamp of SETUP.EXE (3.0000000 s older)"},
      {"setup touched", [](KxMedium& t) { Touch(t.medium + "/SETUP.EXE", 2, 0); }, "the time stamp of README.TXT does not match"},
      {"companion missing", [](KxMedium& t) { fs::remove(t.medium + "/ORDER.TXT"); }, "companion file ORDER.TXT is missing"},
      {"setup missing", [](KxMedium& t) { fs::remove(t.medium + "/SETUP.EXE"); }, "SETUP.EXE is missing"},
      {"payload missing", [](KxMedium& t) { fs::remove(t.Archive()); }, "setup.kx is missing"},
      {"byte of stored data", [](KxMedium& t) { DamageFile(t.Archive(), 40000); }, "setup.kx: the setup would show"},
      {"byte of a local header", [](KxMedium& t) { DamageFile(t.Archive(), 14); }, "setup.kx: the setup would show"},
      {"no main program", [](KxMedium& t) { ZipInstead(t, "-P \"$KXPW\"", "medium/README.TXT"); }, "setup.kx does not hold the main program KARVEX32.EX_"},
      {"two entries, one file", [](KxMedium& t) { fs::create_directories(t.scratch.File("sub")); fs::copy_file(t.setup, t.scratch.File("sub/KARVEX32.EX_")); ZipInstead(t, "-P \"$KXPW\"", "KARVEX32.EX_ sub/KARVEX32.EX_"); }, "setup.kx: entries KARVEX32.EX_ and sub/KARVEX32.EX_ are written to the same file by the setup"},
      {"not encrypted", [](KxMedium& t) { ZipInstead(t, "", "KARVEX32.EX_"); }, "setup.kx: entry KARVEX32.EX_ is not encrypted"},
      {"another password", [](KxMedium& t) { ZipInstead(t, "-P other", "KARVEX32.EX_"); }, "INCORRECT PASSWORD"},
      {"not a ZIP archive", [](KxMedium& t) { std::ofstream(t.Archive(), std::ios::trunc) << Text(3000); }, "setup.kx: no end of central directory record"},
      {"total past 4 GiB", [szdd](KxMedium& t) { for (const char* name : {"KARVEX.TXT", "VENDOR.TXT"}) { const timespec s = Modified(t.setup); std::ofstream(t.medium + "/" + name, std::ios::trunc) << szdd; SetModified(t.medium + "/" + name, s.tv_sec, s.tv_nsec); } }, "total size passes 4 GiB"},
  };
  // clang-format on
  setenv("KXPW", kBuiltInPassword, 1);
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.label);
    fs::remove_all(medium);
    ASSERT_EQ(Build().status, 0);
    fault.act(*this);
    const ProgramResult verified = Verify();
    EXPECT_EQ(verified.status, 2);
    EXPECT_NE(verified.err.find(fault.named), std::string::npos) << verified.err;
    EXPECT_EQ(verified.out.find("good medium"), std::string::npos);
  }
}

TEST_F(KxMedium, BuildRefusesWhatTheSetupCouldNotInstall) {
  const auto add = [](const char* name, const char* bytes) {
    return [=](KxMedium& t) { t.scratch.Write(std::string("payload/") + name, bytes); };
  };
  // clang-format off
  const Fault refusals[] = {
      {"names differing in case", [](KxMedium& t) { t.scratch.Write("payload/Notes.txt", "a"); t.scratch.Write("payload/NOTES.TXT", "b"); }, "payload files NOTES.TXT and Notes.txt differ only in letter case"},
      {"no main program", [](KxMedium& t) { fs::remove(t.payload + "/KARVEX32.EXE"); }, "the payload holds neither KARVEX32.EXE nor KARVEX32.EX_"},
      {"both main programs", add("karvex32.ex_", "staged"), "the payload holds both KARVEX32.EXE and karvex32.ex_"},
      {"companion missing", [](KxMedium& t) { fs::remove(t.companions + "/WHATSNEW.TXT"); }, "missing companion file WHATSNEW.TXT"},
      {"subfolder", [](KxMedium& t) { fs::create_directories(t.payload + "/HELP"); }, "payload folder HELP"},
      {"device name", add("aux.txt", "a"), "payload file aux.txt: its name is a Windows device name"},
      {"device name with digit", add("Com1.log", "a"), "payload file Com1.log: its name is a Windows device name"},
      {"colon", add("a:b", "a"), "payload file a:b: its name holds a character Windows does not allow"},
      {"backslash", add("back\\slash", "a"), "holds a character Windows does not allow"},
      {"tab", add("tab\there", "a"), "holds a character Windows does not allow"},
      {"trailing dot", add("READ.ME.", "a"), "payload file READ.ME.: its name ends in a dot"},
      {"trailing blank", add("READ.ME ", "a"), "its name ends in a dot or a blank"},
      {"euro sign", add("\xE2\x82\xAC.TXT", "euro"), "cannot be written in the OEM code page"},
      {"not UTF-8", add("bad\xFF.txt", "a"), "cannot be written in the OEM code page"},
      {"dated before 1980", [](KxMedium& t) { SetModified(t.payload + "/ONE.BIN", 300000000, 0); }, "payload file ONE.BIN: its time stamp lies outside the MS-DOS dates"},
      {"dated after 2107", [](KxMedium& t) { SetModified(t.payload + "/ONE.BIN", 4354819200, 0); }, "payload file ONE.BIN: its time stamp lies outside the MS-DOS dates"},
      {"medium is the companions", [](KxMedium& t) { t.medium = t.companions; }, "the medium folder must not be the input folder"},
      {"setup missing", [](KxMedium& t) { fs::remove(t.setup); }, "setup program ~/SETUP.EXE not found"},
      {"companions folder missing", [](KxMedium& t) { fs::remove_all(t.companions); }, "cannot read the companions folder ~/companions"},
      {"payload folder missing", [](KxMedium& t) { fs::remove_all(t.payload); }, "cannot read the payload folder ~/payload"},
      {"payload entry not a file", [](KxMedium& t) { fs::create_symlink("nowhere", t.payload + "/LINK"); }, "payload entry LINK is not a plain file"},
      {"medium is the setup's folder", [](KxMedium& t) { t.medium = t.scratch.path().string(); }, "the medium folder must not be the folder of ~/SETUP.EXE"},
      {"medium is a file", [](KxMedium& t) { t.medium = t.setup; }, "cannot create the medium folder ~/SETUP.EXE"},
      {"medium under a file", [](KxMedium& t) { t.medium = t.setup + "/medium"; }, "cannot create the medium folder ~/SETUP.EXE/medium"},
  };
  // clang-format on
  for (const Fault& refusal : refusals) {
    SCOPED_TRACE(refusal.label);
    fs::remove_all(scratch.path());
    medium = scratch.File("medium");
    SetUp();
    refusal.act(*this);
    const bool hadSetup = fs::exists(medium + "/SETUP.EXE");
    ProgramResult built = Build();
    for (size_t at; (at = built.err.find(scratch.path().string())) != std::string::npos;)
      built.err.replace(at, scratch.path().string().size(), 1, '~');
    EXPECT_EQ(built.status, 2);
    EXPECT_NE(built.err.find(refusal.named), std::string::npos) << built.err;
    EXPECT_FALSE(fs::exists(Archive()));
    EXPECT_EQ(fs::exists(medium + "/SETUP.EXE"), hadSetup);
  }
}

// Accepted names go in as OEM bytes; the main program is taken in any case, or staged.
TEST_F(KxMedium, AcceptedNamesAndTheMainProgramInAnyForm) {
  for (const auto& [name, stored] : {std::pair{"caf\xC3\xA9.txt", "caf\x82.txt"},
                                     {"CONSOLE.TXT", "CONSOLE.TXT"},
                                     {".profile", ".profile"},
                                     {"long name with blanks.txt", "long name with blanks.txt"}})
    scratch.Write(std::string("payload/") + name, stored);
  fs::rename(payload + "/KARVEX32.EXE", payload + "/karvex32.exe");
  ASSERT_EQ(Build().status, 0);
  EXPECT_EQ(Verify().status, 0);
  const std::string out = scratch.File("out");
  fs::create_directories(out);
  const ProgramResult kx = RunProgram({BuiltProgram("kxextract"), "-d", out, Archive()});
  ASSERT_EQ(kx.status, 0) << kx.err;
  for (const char* name : {"caf\xC3\xA9.txt", "CONSOLE.TXT", ".profile", "KARVEX32.EX_"})
    EXPECT_TRUE(fs::exists(out + "/" + name)) << name;
  fs::rename(payload + "/karvex32.exe", payload + "/KARVEX32.EX_");
  ASSERT_EQ(Build().status, 0);
  EXPECT_EQ(Verify().status, 0);
}

TEST(KxMediumUsage, WrongArgumentsAreAUsageError) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {},
           {"verify"},
           {"build", "--setup", "x"},
           {"build", "--setup", "a", "--companions", "b", "--payload", "c", "--out", "d", "--zip"},
           {"list", "x"},
           {"build", "--setup", "a", "--companions", "b", "--payload", "c", "--out", "d", "--bogus",
            "x"},
           {"verify", "a", "b"}}) {
    std::vector<std::string> argv = {BuiltProgram("kxmedium")};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProgramResult result = RunProgram(argv);
    EXPECT_EQ(result.status, 1) << ::testing::PrintToString(args);
    EXPECT_NE(result.err.find("usage: kxmedium build"), std::string::npos);
  }
}

}  // namespace

namespace kxmedium {
namespace {

// clang-format off
TEST(KxMediumParts, PayloadNamesBecomeOemBytesOrAreRefusedWithTheirReason) {
  const struct { std::string name, stored, reason; } rows[] = {
      {"README.TXT", "README.TXT", ""}, {"caf\xC3\xA9.txt", "caf\x82.txt", ""}, {"CONSOLE.TXT", "CONSOLE.TXT", ""},
      {".profile", ".profile", ""}, {std::string(255, 'a'), std::string(255, 'a'), ""},
      {"", "", "empty or longer than 255"}, {std::string(256, 'a'), "", "empty or longer than 255"},
      {"a*b", "", "character Windows does not allow"}, {"a\x1F", "", "character Windows does not allow"},
      {"trailing ", "", "ends in a dot or a blank"}, {"nul", "", "device name"}, {"Com1.log", "", "device name"},
      {"LPT9", "", "device name"}, {"COM0", "COM0", ""}, {"\xE2\x82\xAC", "", "OEM code page"}, {"bad\xFF.txt", "", "OEM code page"},
      {"\xC3", "", "OEM code page"}, {"\xF0\x9F\x98\x80", "", "OEM code page"},
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
  const std::string sig("SZDD\x88\xF0\x27\x33", 8);
  const auto descriptors = std::distance(fs::directory_iterator("/proc/self/fd"), {});
  const std::pair<std::string, uint32_t> szdd[] = {{sig + "A_" + std::string("\x10\x27\x00\x00", 4) + "rest", 10000}, {sig + "A_\xFF\xFF\xFF\xFF", 0xFFFFFFFF}, {sig + "A_\x10\x27\x00", 777}, {"SZDD\x88\xF0\x27\x34" "A_\x10\x27\x00\x00", 777}, {"just text, long enough", 777}};
  for (const auto& [bytes, expected] : szdd) EXPECT_EQ(ExpandedFileSize(scratch.Write("f", bytes), 777), expected) << bytes;
  EXPECT_EQ(ExpandedFileSize(scratch.File("absent"), 777), 777u);
  EXPECT_EQ(std::distance(fs::directory_iterator("/proc/self/fd"), {}), descriptors);  // all closed
  for (const auto& [bytes, kb, range, fits] : {std::tuple{0ull, 0u, 0u, true}, {10239ull, 9u, 0u, true}, {10240ull, 10u, 1u, true}, {102399ull, 99u, 9u, true}, {0xFFFFFFFFull, 4194303u, 419430u, true}, {0x100000000ull, 0u, 0u, false}}) {
    MediumTotal total;
    total.bytes = bytes;
    EXPECT_EQ(DescribeTotal(total), "total " + std::to_string(bytes) + " bytes (" + std::to_string(kb) + " KB), meter range " + std::to_string(range));
    EXPECT_EQ(total.fitsSetup(), fits) << bytes;
  }
  // MS-DOS times are local, in two-second steps, 1980 to 2107.
  const int64_t first = LocalUnixTime(1980, 1, 1, 0, 0, 0), last = LocalUnixTime(2107, 12, 31, 23, 59, 59);
  for (const auto& [unix, ok, date, time] : {std::tuple{first, true, 0x0021, 0x0000}, {first - 1, false, 0, 0}, {LocalUnixTime(2021, 3, 4, 5, 6, 7), true, 0x5264, 0x28C3}, {last, true, 0xFF9F, 0xBF7D}, {last + 1, false, 0, 0}}) {
    const uint64_t ticks = static_cast<uint64_t>(unix) * 10000000ull + 116444736000000000ull;
    uint16_t d = 0, t = 0;
    EXPECT_EQ(FileTimeToDos({static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)}, &d, &t), ok) << unix;
    EXPECT_EQ(d, date) << unix;
    EXPECT_EQ(t, time) << unix;
  }
}

TEST(KxMediumParts, DirectoryReaderNamesTheDamageAndNeverReadsPastTheEnd) {
  ScratchFolder scratch;
  const std::string archive = scratch.File("setup.kx");
  {
    ZipWriter writer(archive, kBuiltInPassword, false);
    std::string error;
    const std::vector<uint8_t> bytes(5000, 'k');
    ASSERT_TRUE(writer.Open(&error) && writer.AddEntry("ONE.TXT", bytes, 0x5264, 0x28C3, &error) && writer.AddEntry("KARVEX32.EX_", bytes, 0x5264, 0x28C3, &error) && writer.Finish(&error)) << error;
  }
  const std::string good = ScratchFolder::Read(archive);
  const size_t end = good.size() - zip::end::kSize, directory = good.find("PK\x01\x02");
  const struct { const char* label; size_t at; uint32_t mask; const char* reason; } rows[] = {  // reason "": read, local header differs
      {"whole", 0, 0, nullptr}, {"directory offset past the end", end + zip::end::kDirectoryOffset + 3, 0x7F, "outside the file"},
      {"directory size too large", end + zip::end::kDirectorySize + 3, 0x10, "outside the file"}, {"entry count larger", end + zip::end::kEntries, 0x09, "multi-disk"},
      {"both counts larger", end + zip::end::kDiskEntries, 0x090009, "damaged"}, {"name runs off", directory + zip::central::kNameLength + 1, 0x40, "runs past its end"},
      {"local offset moved", directory + zip::central::kLocalOffset, 1, ""}, {"local name changed", 30, 1, ""}, {"local flag changed", zip::local::kFlags, 1, ""},
      {"comment not to the end", end + zip::end::kCommentLength, 1, "no end of central directory record"},
  };
  for (const auto& row : rows) {
    scratch.Write("bad.kx", zipbuild::Damage(good, row.at, row.mask));
    std::vector<DirectoryEntry> entries;
    std::string error;
    const bool read = ReadZipDirectory(scratch.File("bad.kx"), &entries, &error);
    EXPECT_EQ(read, !row.reason || !*row.reason) << row.label << ": " << error;
    if (read) {
      ASSERT_EQ(entries.size(), 2u) << row.label;
      EXPECT_EQ(entries[1].name, "KARVEX32.EX_");
      EXPECT_EQ(entries[1].size, 5000u);
      EXPECT_EQ(entries[1].method, 8);
      EXPECT_EQ(entries[1].flags & 1, 1);
      EXPECT_EQ(entries[0].localHeaderMatches, !row.reason) << row.label;
    }
    EXPECT_NE(error.find(row.reason ? row.reason : ""), std::string::npos) << row.label << ": " << error;
  }
  std::vector<DirectoryEntry> none;
  std::string why;
  EXPECT_FALSE(ReadZipDirectory(scratch.path().string(), &none, &why));  // a folder
  EXPECT_NE(why, "");
  for (size_t length = 0; length < good.size(); ++length) {
    std::vector<DirectoryEntry> entries;
    std::string error;
    EXPECT_FALSE(ReadZipDirectory(scratch.Write("cut.kx", good.substr(0, length)), &entries, &error)) << length;
    EXPECT_NE(error, "") << length;
  }
}
// clang-format on

}  // namespace
}  // namespace kxmedium
