// kxmedium as a program: the media it builds are read correctly by unzip, 7-Zip, zipinfo and
// kxextract; verify accepts a fresh medium and names each fault of a damaged one; build
// refuses inputs the setup could not install from.
#include "tests/scratch.h"
#include "tests/tools/run_program.h"

#include "extract/decrypt.h"
#include "res/companions.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

const std::string kBuiltIn = kBuiltInPassword;  // with its raw 0xA9 byte

std::string RandomText(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string Repeated(size_t size) {
  static const std::string line = "Karvex Setup copies the companion files, then the payload.\r\n";
  std::string text;
  while (text.size() < size) text += line + std::to_string(text.size()) + "\r\n";
  text.resize(size);
  return text;
}

// Sets a file's last-write time to seconds and nanoseconds since 1970 (UTC).
void SetModified(const std::string& path, int64_t seconds, long nanoseconds) {
  const timespec times[2] = {{static_cast<time_t>(seconds), nanoseconds},
                             {static_cast<time_t>(seconds), nanoseconds}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

timespec Modified(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mtim;
}

// Members are public so that the tables of damages and refusals below can reach them.
class KxMedium : public ::testing::Test {
 public:
  void SetUp() override {
    const std::string source = SourceFolder();
    fs::create_directories(scratch.path() / "bin");
    fs::create_directories(payload);
    fs::copy(fs::path(source) / "demo" / "companions", companions);
    setup = scratch.Write("bin/SETUP.EXE", "MZ" + RandomText(20000, 1));
    SetModified(setup, 1700000000, 123456700);  // an odd fraction of a second
    files = {
        {"KARVEX32.EXE", "MZ" + RandomText(70000, 2)},  // incompressible: stored
        {"MANUAL.TXT", Repeated(200000)},               // crosses 65535-byte transfers
        {"EMPTY.DAT", ""},
        {"ONE.BIN", "x"},
        {"NOISE.BIN", RandomText(4000, 3)},
    };
    for (const auto& [name, bytes] : files) AddPayload(name, bytes);
  }

  void AddPayload(const std::string& name, const std::string& bytes) {
    scratch.Write("payload/" + name, bytes);
  }

  ProgramResult Build(std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {
        BuiltProgram("kxmedium"), "build",     "--setup",        setup,   "--companions",
        companions.string(),      "--payload", payload.string(), "--out", medium.string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return RunProgram(argv);
  }

  ProgramResult Verify() { return RunProgram({BuiltProgram("kxmedium"), "verify", medium}); }

  std::string Archive() const { return (medium / kPayloadName).string(); }

  // Every payload file is in out with exactly its bytes, the main program under its staged
  // name, and nothing else is there.
  void ExpectPayloadIn(const fs::path& out) {
    size_t count = 0;
    for (const auto& entry : fs::directory_iterator(out)) {
      (void)entry;
      ++count;
    }
    EXPECT_EQ(count, files.size());
    for (const auto& [name, bytes] : files) {
      const std::string stored = name == "KARVEX32.EXE" ? "KARVEX32.EX_" : name;
      ASSERT_TRUE(fs::exists(out / stored)) << stored;
      EXPECT_TRUE(ScratchFolder::Read((out / stored).string()) == bytes) << stored;
    }
  }

  ScratchFolder scratch;
  fs::path companions = scratch.path() / "companions";
  fs::path payload = scratch.path() / "payload";
  fs::path medium = scratch.path() / "medium";
  std::string setup;
  std::map<std::string, std::string> files;
};

// ---- What the built medium holds ----

TEST_F(KxMedium, CopiesSetupAndStampsEveryCompanionWithItsExactTime) {
  const ProgramResult built = Build();
  ASSERT_EQ(built.status, 0) << built.err;
  const std::string copy = (medium / kSetupProgramName).string();
  EXPECT_TRUE(ScratchFolder::Read(copy) == ScratchFolder::Read(setup));
  const timespec stamp = Modified(copy);
  EXPECT_EQ(stamp.tv_sec, 1700000000);
  EXPECT_EQ(stamp.tv_nsec, 123456700);
  for (const CompanionFile* c = CompanionFiles; c->name; ++c) {
    const std::string path = (medium / c->name).string();
    EXPECT_TRUE(ScratchFolder::Read(path) == ScratchFolder::Read((companions / c->name).string()))
        << c->name;
    const timespec t = Modified(path);
    EXPECT_EQ(t.tv_sec, stamp.tv_sec) << c->name;
    EXPECT_EQ(t.tv_nsec, stamp.tv_nsec) << c->name;
  }
}

TEST_F(KxMedium, UnzipAndKxextractGiveExactlyThePayloadInBothModes) {
  for (const bool store : {false, true}) {
    SCOPED_TRACE(store ? "--store" : "deflate");
    fs::remove_all(medium);
    const ProgramResult built =
        Build(store ? std::vector<std::string>{"--store"} : std::vector<std::string>{});
    ASSERT_EQ(built.status, 0) << built.err;

    const ProgramResult tested = RunProgram({"unzip", "-t", "-P", kBuiltIn, Archive()});
    EXPECT_EQ(tested.status, 0) << tested.out << tested.err;
    EXPECT_THAT(tested.out, HasSubstr("No errors detected"));

    const fs::path byUnzip = scratch.path() / (store ? "unzip-store" : "unzip-deflate");
    const ProgramResult unzipped =
        RunProgram({"unzip", "-q", "-P", kBuiltIn, "-d", byUnzip.string(), Archive()});
    ASSERT_EQ(unzipped.status, 0) << unzipped.out << unzipped.err;
    ExpectPayloadIn(byUnzip);

    const fs::path byEngine = scratch.path() / (store ? "kx-store" : "kx-deflate");
    fs::create_directories(byEngine);
    const ProgramResult extracted =
        RunProgram({BuiltProgram("kxextract"), "-c", "-d", byEngine.string(), Archive()});
    ASSERT_EQ(extracted.status, 0) << extracted.err;
    ExpectPayloadIn(byEngine);
  }
}

TEST_F(KxMedium, ZipinfoShowsEveryEntryEncryptedAndStoredOnlyWhereDeflateDoesNotHelp) {
  ASSERT_EQ(Build().status, 0);
  const ProgramResult info = RunProgram({"zipinfo", "-v", Archive()});
  ASSERT_EQ(info.status, 0) << info.err;
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = info.out.find(what); at != std::string::npos; at = info.out.find(what, at + 1))
      ++n;
    return n;
  };
  EXPECT_EQ(count("Central directory entry #"), files.size());
  EXPECT_EQ(count("file security status:                           encrypted"), files.size());
  // The random program, the noise and the two tiny files gain nothing from Deflate.
  EXPECT_EQ(count("compression method:                             deflated"), 1u);
  EXPECT_EQ(count("compression method:                             none (stored)"), 4u);
  EXPECT_THAT(info.out, HasSubstr("KARVEX32.EX_"));
  EXPECT_THAT(info.out, ::testing::Not(HasSubstr("KARVEX32.EXE")));

  ASSERT_EQ(Build({"--store"}).status, 0);
  const ProgramResult stored = RunProgram({"zipinfo", "-v", Archive()});
  EXPECT_THAT(stored.out, ::testing::Not(HasSubstr("deflated")));
}

TEST_F(KxMedium, SevenZipAndKxextractAcceptAnAsciiPassword) {
  ASSERT_EQ(Build({"--password", "Open Sesame 42"}).status, 0);
  const ProgramResult tested = RunProgram({"7zz", "t", "-pOpen Sesame 42", Archive()});
  EXPECT_EQ(tested.status, 0) << tested.out << tested.err;
  EXPECT_THAT(tested.out, HasSubstr("Everything is Ok"));
  const ProgramResult wrong = RunProgram({"7zz", "t", "-pOpen Sesame 43", Archive()});
  EXPECT_NE(wrong.status, 0);

  const fs::path out = scratch.path() / "out";
  fs::create_directories(out);
  const ProgramResult extracted = RunProgram(
      {BuiltProgram("kxextract"), "-c", "-P", "Open Sesame 42", "-d", out.string(), Archive()});
  ASSERT_EQ(extracted.status, 0) << extracted.err;
  ExpectPayloadIn(out);
}

TEST_F(KxMedium, EntriesCarryTheFilesLocalTimeInMsDosForm) {
  // The tests run with TZ=UTC. MS-DOS times count in two-second steps, rounded down.
  SetModified((payload / "ONE.BIN").string(), 1614834367, 500000000);  // 2021-03-04 05:06:07.5
  ASSERT_EQ(Build().status, 0);
  const ProgramResult listing = RunProgram({"zipinfo", "-T", Archive(), "ONE.BIN"});
  EXPECT_THAT(listing.out, HasSubstr("20210304.050606"));
  const fs::path out = scratch.path() / "out";
  fs::create_directories(out);
  ASSERT_EQ(RunProgram({BuiltProgram("kxextract"), "-d", out.string(), Archive()}).status, 0);
  EXPECT_EQ(Modified((out / "ONE.BIN").string()).tv_sec, 1614834366);
}

TEST_F(KxMedium, EncryptionHeadersAreRandomSoTwoBuildsDiffer) {
  ASSERT_EQ(Build().status, 0);
  const std::string first = ScratchFolder::Read(Archive());
  ASSERT_EQ(Build().status, 0);
  const std::string second = ScratchFolder::Read(Archive());
  ASSERT_EQ(first.size(), second.size());
  EXPECT_NE(first, second);
  // The same plain data under different headers: no entry's encrypted bytes repeat.
  const std::string program = files["KARVEX32.EXE"];
  EXPECT_EQ(first.find(program.substr(100, 64)), std::string::npos);
}

// ---- verify ----

TEST_F(KxMedium, VerifyAcceptsAFreshMediumAndPrintsTheSetupsTotals) {
  ASSERT_EQ(Build().status, 0);
  const ProgramResult verified = Verify();
  EXPECT_EQ(verified.status, 0) << verified.err;
  EXPECT_EQ(verified.err, "");
  EXPECT_THAT(verified.out, HasSubstr("good medium"));
  uint64_t bytes = fs::file_size(Archive());
  for (const CompanionFile* c = CompanionFiles; c->name; ++c)
    bytes += fs::file_size(medium / c->name);
  const uint32_t kb = static_cast<uint32_t>(bytes >> 10);
  EXPECT_THAT(verified.out,
              HasSubstr("total " + std::to_string(bytes) + " bytes (" + std::to_string(kb) +
                        " KB), meter range " + std::to_string(kb / 10)));
}

struct MediumFault {
  const char* name;
  void (*damage)(const fs::path& medium);
  const char* named;  // what verify's report must say
};

void Touch(const fs::path& file, int64_t seconds, long nanoseconds) {
  const timespec t = Modified(file.string());
  int64_t s = t.tv_sec + seconds;
  long ns = t.tv_nsec + nanoseconds;
  if (ns >= 1000000000) {
    ns -= 1000000000;
    ++s;
  }
  SetModified(file.string(), s, ns);
}

void FlipByte(const fs::path& file, size_t offset) {
  std::string bytes = ScratchFolder::Read(file.string());
  ASSERT_LT(offset, bytes.size());
  bytes[offset] = static_cast<char>(bytes[offset] ^ 0x10);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// Replaces setup.kx by an archive Info-ZIP makes of the given files of dir, with zip's args.
void ZipInstead(const fs::path& medium, const std::vector<std::string>& args) {
  const fs::path archive = medium / kPayloadName;
  fs::remove(archive);
  std::vector<std::string> argv = {"zip", "-q", "-j", archive.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  const ProgramResult zipped = RunProgram(argv);
  ASSERT_EQ(zipped.status, 0) << zipped.err;
}

const MediumFault kFaults[] = {
    {"CompanionTouchedByOneSecond", [](const fs::path& m) { Touch(m / "LICENSE.TXT", 1, 0); },
     "the time stamp of LICENSE.TXT does not match the time stamp of SETUP.EXE (1.0000000 s "
     "newer)"},
    {"CompanionOffByOneTick", [](const fs::path& m) { Touch(m / "FILE_ID.DIZ", 0, 100); },
     "the time stamp of FILE_ID.DIZ does not match"},
    {"SetupProgramTouched", [](const fs::path& m) { Touch(m / "SETUP.EXE", 2, 0); },
     "the time stamp of README.TXT does not match"},
    {"MissingCompanion", [](const fs::path& m) { fs::remove(m / "ORDER.TXT"); },
     "companion file ORDER.TXT is missing"},
    {"MissingSetupProgram", [](const fs::path& m) { fs::remove(m / "SETUP.EXE"); },
     "SETUP.EXE is missing"},
    {"MissingPayload", [](const fs::path& m) { fs::remove(m / kPayloadName); },
     "setup.kx is missing"},
    // Inside the stored main program's data: only the CRC check can see it.
    {"FlippedByteInStoredData", [](const fs::path& m) { FlipByte(m / kPayloadName, 40000); },
     "setup.kx: the setup would show"},
    // Inside the first entry's local header.
    {"FlippedByteInLocalHeader", [](const fs::path& m) { FlipByte(m / kPayloadName, 14); },
     "setup.kx: the setup would show"},
    {"PayloadWithoutMainProgram",
     [](const fs::path& m) {
       ZipInstead(m, {"-P", kBuiltIn, (m / "README.TXT").string(), (m / "KARVEX.TXT").string()});
     },
     "setup.kx does not hold the main program KARVEX32.EX_"},
    {"PayloadNotEncrypted",
     [](const fs::path& m) {
       fs::copy_file(m / "SETUP.EXE", m.parent_path() / "KARVEX32.EX_");
       ZipInstead(m, {(m.parent_path() / "KARVEX32.EX_").string()});
     },
     "setup.kx: entry KARVEX32.EX_ is not encrypted"},
    {"PayloadWithAnotherPassword",
     [](const fs::path& m) {
       fs::copy_file(m / "SETUP.EXE", m.parent_path() / "KARVEX32.EX_");
       ZipInstead(m, {"-P", "not the one", (m.parent_path() / "KARVEX32.EX_").string()});
     },
     "INCORRECT PASSWORD"},
    {"PayloadNotAZipArchive",
     [](const fs::path& m) {
       std::ofstream(m / kPayloadName, std::ios::binary | std::ios::trunc) << Repeated(3000);
     },
     "setup.kx: no end of central directory record"},
};

void PrintTo(const MediumFault& fault, std::ostream* os) { *os << fault.name; }

class VerifyRejects : public KxMedium, public ::testing::WithParamInterface<MediumFault> {};

TEST_P(VerifyRejects, NamingTheFault) {
  ASSERT_EQ(Build().status, 0);
  GetParam().damage(medium);
  const ProgramResult verified = Verify();
  EXPECT_EQ(verified.status, 2);
  EXPECT_THAT(verified.err, HasSubstr(GetParam().named));
  EXPECT_THAT(verified.out, ::testing::Not(HasSubstr("good medium")));
}

INSTANTIATE_TEST_SUITE_P(Faults, VerifyRejects, ::testing::ValuesIn(kFaults),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(KxMedium, VerifyReportsATotalTheSetupCannotAddUp) {
  ASSERT_EQ(Build().status, 0);
  // Two companion files in SZDD form claiming 3 GiB each: the setup's 32-bit sum wraps.
  const std::string szdd =
      std::string("SZDD\x88\xF0\x27\x33", 8) + "A_" + std::string("\x00\x00\x00\xC0", 4) + "data";
  for (const char* name : {"KARVEX.TXT", "VENDOR.TXT"}) {
    const fs::path path = medium / name;
    const timespec t = Modified((medium / "SETUP.EXE").string());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << szdd;
    SetModified(path.string(), t.tv_sec, t.tv_nsec);
  }
  const ProgramResult verified = Verify();
  EXPECT_EQ(verified.status, 2);
  EXPECT_THAT(verified.err, HasSubstr("total size passes 4 GiB"));
}

// ---- build refusals ----

struct BuildRefusal {
  const char* name;
  void (*prepare)(KxMedium* test);
  const char* named;
};

void PrintTo(const BuildRefusal& refusal, std::ostream* os) { *os << refusal.name; }

class BuildRefuses : public KxMedium, public ::testing::WithParamInterface<BuildRefusal> {};

const BuildRefusal kRefusals[] = {
    {"NamesDifferingOnlyInCase",
     [](KxMedium* t) {
       t->AddPayload("Notes.txt", "a");
       t->AddPayload("NOTES.TXT", "b");
     },
     "payload files NOTES.TXT and Notes.txt differ only in letter case"},
    {"NeitherMainProgramNorStaged", [](KxMedium* t) { fs::remove(t->payload / "KARVEX32.EXE"); },
     "the payload holds neither KARVEX32.EXE nor KARVEX32.EX_"},
    {"BothMainProgramAndStaged", [](KxMedium* t) { t->AddPayload("karvex32.ex_", "staged"); },
     "the payload holds both KARVEX32.EXE and karvex32.ex_"},
    {"MissingCompanion", [](KxMedium* t) { fs::remove(t->companions / "WHATSNEW.TXT"); },
     "missing companion file WHATSNEW.TXT"},
    {"SubfolderInPayload", [](KxMedium* t) { fs::create_directories(t->payload / "HELP"); },
     "payload folder HELP"},
    {"DeviceName", [](KxMedium* t) { t->AddPayload("aux.txt", "a"); },
     "payload file aux.txt: its name is a Windows device name"},
    {"ColonInName", [](KxMedium* t) { t->AddPayload("a:b", "a"); },
     "payload file a:b: its name holds a character Windows does not allow"},
    {"TrailingDot", [](KxMedium* t) { t->AddPayload("READ.ME.", "a"); },
     "payload file READ.ME.: its name ends in a dot"},
    {"NameOutsideTheOemCodePage", [](KxMedium* t) { t->AddPayload("\xE2\x82\xAC.TXT", "euro"); },
     "cannot be written in the OEM code page"},
    {"FileDatedBefore1980",
     [](KxMedium* t) { SetModified((t->payload / "ONE.BIN").string(), 300000000, 0); },
     "payload file ONE.BIN: its time stamp lies outside the MS-DOS dates"},
    {"MediumIsTheCompanionsFolder", [](KxMedium* t) { t->medium = t->companions; },
     "the medium folder must not be the input folder"},
};

TEST_P(BuildRefuses, NamingTheReason) {
  GetParam().prepare(this);
  const bool mediumIsInput = medium == companions;
  const ProgramResult built = Build();
  EXPECT_EQ(built.status, 2);
  EXPECT_THAT(built.err, HasSubstr(GetParam().named));
  EXPECT_FALSE(fs::exists(medium / kPayloadName));
  if (!mediumIsInput) {
    EXPECT_FALSE(fs::exists(medium / kSetupProgramName));
  }
}

INSTANTIATE_TEST_SUITE_P(Inputs, BuildRefuses, ::testing::ValuesIn(kRefusals),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(KxMedium, TakesAStagedMainProgramAsItIsAndInAnyLetterCase) {
  fs::rename(payload / "KARVEX32.EXE", payload / "karvex32.exe");
  ASSERT_EQ(Build().status, 0);
  const fs::path out = scratch.path() / "out";
  ASSERT_EQ(RunProgram({"unzip", "-q", "-P", kBuiltIn, "-d", out.string(), Archive()}).status, 0);
  ExpectPayloadIn(out);

  fs::rename(payload / "karvex32.exe", payload / "KARVEX32.EX_");
  ASSERT_EQ(Build().status, 0);
  EXPECT_EQ(Verify().status, 0);
}

TEST(KxMediumUsage, WrongArgumentsAreAUsageError) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"verify"},
      {"build", "--setup", "x"},
      {"build", "--setup", "a", "--companions", "b", "--payload", "c", "--out", "d", "--zip"},
      {"list", "x"},
  };
  for (const auto& args : cases) {
    std::vector<std::string> argv = {BuiltProgram("kxmedium")};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProgramResult result = RunProgram(argv);
    EXPECT_EQ(result.status, 1) << ::testing::PrintToString(args);
    EXPECT_THAT(result.err, HasSubstr("usage: kxmedium build"));
  }
}

}  // namespace
