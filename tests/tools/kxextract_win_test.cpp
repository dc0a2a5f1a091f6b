// kxextract.exe as a Windows console program (run under Wine): its exit codes and one-line
// messages, taken from its own string table and written to a text-mode stream. The engine's
// Windows behaviour itself is tested in-process.
#include <windows.h>

#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"

#include <gtest/gtest.h>

namespace {

// Runs the program beside the tests' folder in the scratch folder; its exit code and its
// standard error.
std::pair<DWORD, std::string> RunKx(std::string arguments, const ScratchFolder& scratch) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE err = CreateFileA(scratch.File("err").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                 &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdError = startup.hStdOutput = err;
  PROCESS_INFORMATION process{};
  char program[MAX_PATH];
  GetFullPathNameA("..\\kxextract.exe", sizeof program, program, nullptr);
  arguments = "kxextract " + arguments;
  DWORD status = 0xFFFFFFFF;
  if (CreateProcessA(program, arguments.data(), nullptr, nullptr, TRUE, 0, nullptr,
                     scratch.path().string().c_str(), &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(err);
  return {status, ScratchFolder::Read(scratch.File("err"))};
}

TEST(KxExtractWin, ExitCodesAndMessagesFromItsStringTable) {
  ScratchFolder scratch;
  zipbuild::Entry sealed = zipbuild::Stored("secret.txt", "sealed");
  sealed.password = "pw";
  scratch.Write("e.zip", zipbuild::Archive({sealed}));
  const struct {
    const char* arguments;
    DWORD status;
    const char* err;
    const char* secret;  // secret.txt afterwards
  } cases[] = {
      {"-t e.zip", 2, "kxextract: INCORRECT PASSWORD\r\n", ""},
      {"-d . e.zip", 2, "kxextract: INCORRECT PASSWORD\r\n", ""},
      {"-P pw -d . e.zip", 0, "", "sealed"},
      {"missing", 2, "kxextract: Can't open input file: missing.ZIP\r\n", "sealed"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunKx(c.arguments, scratch), std::make_pair(c.status, std::string(c.err)));
    EXPECT_EQ(ScratchFolder::Read(scratch.File("secret.txt")), c.secret) << c.arguments;
  }
}

}  // namespace
