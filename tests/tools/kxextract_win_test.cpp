// kxextract.exe as a Windows console program (run under Wine): its exit codes and one-line
// messages, taken from its own string table and written to a text-mode stream. The engine's
// Windows behaviour itself is tested in-process.
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

namespace {

// Runs kxextract.exe (beside the tests' folder) through the command processor: its exit code
// and what it wrote to standard output and standard error.
std::pair<int, std::string> RunKx(const std::string& arguments) {
  FILE* pipe = _popen(("..\\kxextract.exe " + arguments + " 2>&1").c_str(), "rb");
  std::string out(4096, '\0');
  out.resize(std::fread(out.data(), 1, out.size(), pipe));
  return {_pclose(pipe), out};
}

TEST(KxExtractWin, ExitCodesAndMessagesFromItsStringTable) {
  ScratchFolder scratch;
  zipbuild::Entry sealed = zipbuild::Stored("secret.txt", "sealed");
  sealed.password = "pw";
  const std::string archive = "\"" + scratch.Write("e.zip", zipbuild::Archive({sealed})) + "\"",
                    into = "-d \"" + scratch.path().string() + "\" ";
  // The arguments, the messages and the exit code, secret.txt afterwards.
  const std::tuple<std::string, std::string, int, std::string> cases[] = {
      {into + archive, "kxextract: INCORRECT PASSWORD\r\n", 2, ""},
      {"-P pw " + into + archive, "", 0, "sealed"},
  };
  for (const auto& [arguments, messages, status, secret] : cases) {
    EXPECT_EQ(RunKx(arguments), std::make_pair(status, messages));
    EXPECT_EQ(ScratchFolder::Read(scratch.File("secret.txt")), secret) << arguments;
  }
}

}  // namespace
