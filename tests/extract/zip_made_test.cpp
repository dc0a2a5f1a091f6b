// The engine on archives made at test time by Info-ZIP zip: stored, deflated at several
// levels, encrypted with a password and with the built-in one (its 0xA9 byte passed raw),
// with folders and empty files, and written to a pipe so that entries carry descriptors.
// Every file must come back byte for byte with its modification time.
#include "extract/decrypt.h"
#include "extract/extract.h"
#include "tests/extract/engine_host.h"
#include "tests/scratch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <random>

extern char** environ;

namespace fs = std::filesystem;
using ::testing::ElementsAre;

namespace {

// Runs a program with exactly these arguments in a folder; its exit status.
int RunProgram(const std::vector<std::string>& argv, const fs::path& folder) {
  const fs::path before = fs::current_path();
  fs::current_path(folder);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t child = 0;
  int status = -1;
  if (posix_spawnp(&child, args[0], nullptr, nullptr, args.data(), environ) == 0)
    waitpid(child, &status, 0);
  fs::current_path(before);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct SourceFile {
  std::string name;  // relative, with "/" between folders
  std::string bytes;
};

std::vector<SourceFile> SourceFiles() {
  std::mt19937 random(3);
  auto noise = [&random](size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(random());
    return s;
  };
  std::string text;
  while (text.size() < 300000) text += "line " + std::to_string(text.size()) + " of the readme\n";
  return {{"empty.txt", ""},
          {"one.txt", "1"},
          {"chunk.bin", noise(28672)},
          {"chunk1.bin", noise(28673)},
          {"text.txt", text},
          {"noise.bin", noise(100000)},
          {"sub/inner.txt", "inside the folder\n"}};
}

class ZipMadeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = &StartHost();
    source = scratch.path() / "src";
    out = scratch.path() / "out";
    fs::create_directories(source / "sub");
    fs::create_directories(out);
    // Even seconds: MS-DOS times hold two-second steps.
    auto stamp = std::chrono::file_clock::from_sys(
        std::chrono::sys_seconds{std::chrono::seconds{1582982056}});  // 2020-02-29 13:14:16
    int step = 0;
    for (const SourceFile& f : SourceFiles()) {
      scratch.Write("src/" + f.name, f.bytes);
      fs::last_write_time(source / f.name, stamp + std::chrono::seconds(2 * step++));
    }
  }

  std::string Zip(const std::string& name, std::vector<std::string> options) {
    std::vector<std::string> argv = {"zip", "-q", "-r", "-X"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back((scratch.path() / name).string());
    argv.push_back(".");
    EXPECT_EQ(RunProgram(argv, source), 0) << name;
    return (scratch.path() / name).string();
  }

  int32_t Extract(const std::string& archive, const char* password, const char* folder) {
    ExtractJob job = MakeJob(archive, folder);
    job.reportCrcErrors = 1;
    if (password) {
      job.hasPassword = 1;
      job.password = password;
    }
    EXPECT_EQ(ExtractArchive(&job), 1);
    g_crypt.ArchivePassword = kBuiltInPassword;
    return job.result;
  }

  void ExpectSameFilesAsSource() {
    for (const SourceFile& f : SourceFiles()) {
      const fs::path got = out / fs::path(f.name).filename();
      ASSERT_TRUE(fs::exists(got)) << f.name;
      EXPECT_TRUE(ScratchFolder::Read(got.string()) == f.bytes) << f.name;
      EXPECT_EQ(fs::last_write_time(got), fs::last_write_time(source / f.name)) << f.name;
    }
  }

  ScratchFolder scratch;
  EngineHost* host = nullptr;
  fs::path source, out;
};

struct ZipCase {
  const char* what;
  std::vector<std::string> options;
  const char* password;  // given to the job; null: the built-in one
};

class ZipOptionsTest : public ZipMadeTest, public ::testing::WithParamInterface<ZipCase> {};

TEST_P(ZipOptionsTest, ExtractsEveryFileWithItsTimeAndTestsClean) {
  const ZipCase& c = GetParam();
  const std::string archive = Zip("made.zip", c.options);
  EXPECT_EQ(Extract(archive, c.password, out.string().c_str()), EXTRACT_OK)
      << c.what << ::testing::PrintToString(host->BoxTexts());
  ExpectSameFilesAsSource();
  EXPECT_EQ(Extract(archive, c.password, nullptr), EXTRACT_OK) << c.what;
  EXPECT_TRUE(host->boxes.empty()) << ::testing::PrintToString(host->BoxTexts());
}

INSTANTIATE_TEST_SUITE_P(
    Options, ZipOptionsTest,
    ::testing::Values(ZipCase{"stored", {"-0"}, nullptr}, ZipCase{"fastest", {"-1"}, nullptr},
                      ZipCase{"default", {"-6"}, nullptr}, ZipCase{"best", {"-9"}, nullptr},
                      ZipCase{"password", {"-P", "secret"}, "secret"},
                      ZipCase{"stored with password", {"-0", "-P", "s3"}, "s3"},
                      ZipCase{"built-in password", {"-P", kBuiltInPassword}, nullptr},
                      ZipCase{"built-in password, best", {"-9", "-P", kBuiltInPassword}, nullptr}));

TEST_F(ZipMadeTest, KeptFoldersNeedTheirFolderAndFolderEntriesCreateNothing) {
  const std::string archive = Zip("made.zip", {"-6"});
  const std::string folder = out.string();
  ExtractJob job = MakeJob(archive, folder.c_str());
  job.keepPaths = 1;
  EXPECT_EQ(ExtractArchive(&job), 1);
  EXPECT_EQ(job.result, EXTRACT_ERROR);  // out/sub does not exist
  EXPECT_THAT(host->BoxTexts(), ElementsAre(::testing::StartsWith("Can't create output file: ")));
  fs::create_directories(out / "sub");
  host->boxes.clear();
  job.result = EXTRACT_OK;
  EXPECT_EQ(ExtractArchive(&job), 1);
  EXPECT_EQ(job.result, EXTRACT_OK) << ::testing::PrintToString(host->BoxTexts());
  EXPECT_EQ(ScratchFolder::Read((out / "sub" / "inner.txt").string()), "inside the folder\n");
}

TEST_F(ZipMadeTest, WrongPasswordIsIncorrect) {
  const std::string archive = Zip("made.zip", {"-P", "secret"});
  EXPECT_EQ(Extract(archive, nullptr, out.string().c_str()), EXTRACT_ERROR);
  EXPECT_THAT(host->BoxTexts(), ElementsAre("INCORRECT PASSWORD"));
}

// Written to a pipe, zip cannot go back to fill in sizes: deflated entries keep them only in
// their descriptors and are refused; stored ones carry sizes, and their CRC in the descriptor.
TEST_F(ZipMadeTest, PipedArchives) {
  const std::string piped = (scratch.path() / "piped.zip").string();
  ASSERT_EQ(RunProgram({"sh", "-c", "zip -q - one.txt text.txt | cat > '" + piped + "'"}, source),
            0);
  EXPECT_EQ(Extract(piped, nullptr, out.string().c_str()), EXTRACT_ERROR);
  ASSERT_EQ(host->boxes.size(), 1u);
  EXPECT_THAT(host->boxes[0].text, ::testing::EndsWith("one.txt: its sizes are stored only after "
                                                       "its data (streamed archive)"));
  EXPECT_FALSE(fs::exists(out / "one.txt"));

  host->boxes.clear();
  ASSERT_EQ(
      RunProgram(
          {"sh", "-c", "zip -q -0 - empty.txt one.txt chunk1.bin text.txt | cat > '" + piped + "'"},
          source),
      0);
  EXPECT_EQ(Extract(piped, nullptr, out.string().c_str()), EXTRACT_OK)
      << ::testing::PrintToString(host->BoxTexts());
  for (const char* name : {"empty.txt", "one.txt", "chunk1.bin", "text.txt"})
    EXPECT_EQ(ScratchFolder::Read((out / name).string()),
              ScratchFolder::Read((source / name).string()))
        << name;
}

}  // namespace
