// The command-line tools' Windows sides under Wine: kxmedium's folders listed in order and known
// in any form (in-process), and kxextract.exe's exit code and one-line message, taken from its
// own string table and written to a text-mode stream.
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"

#include "tools/kxmedium_os.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

namespace {

using namespace kxmedium;

TEST(WindowsSide, ListsFoldersSortedAndKnowsAFolderInAnyForm) {
  ScratchFolder scratch;
  for (const char* name : {"b.txt", "A.TXT"}) scratch.Write(name, name);
  const std::string top = scratch.path().string(), sub = top + "\\Sub";
  ASSERT_TRUE(MakeFolders(sub + "\\y\\z"));
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(ListFolder(top, &entries));
  std::string listed;
  for (const FolderEntry& e : entries)
    listed += e.name + (e.kind == EntryKind::Folder ? "/ " : " ");
  EXPECT_EQ(listed, "A.TXT Sub/ b.txt ");
  EXPECT_FALSE(ListFolder(top + "\\absent", &entries));
  const std::pair<std::string, bool> cases[] = {
      {sub + "\\", true}, {top + "\\SUB", true},     {sub + "\\y\\..", true},
      {top, false},       {top + "\\absent", false}, {top + "\\b.txt", false}};
  for (const auto& [other, same] : cases) EXPECT_EQ(SameFolder(sub, other), same) << other;
}

// The system's own text for an error, without the full stop and line break it ends in.
TEST(WindowsSide, SystemReasonIsTheSystemsTextWithoutItsEnd) {
  char text[256];
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, ERROR_ACCESS_DENIED, 0, text, sizeof text, nullptr);
  SetLastError(ERROR_ACCESS_DENIED);
  const std::string reason = SystemReason(), full(text, length);
  EXPECT_EQ(full.substr(0, reason.size()), reason);
  EXPECT_EQ(full.find_last_not_of(". \r\n") + 1, reason.size()) << full;
  SetLastError(0xE0001234);  // a code the system has no text for
  EXPECT_EQ(SystemReason(), "system error 3758101044");
}

// kxextract.exe (beside the tests' folder) run through the command processor on a sealed entry
// without its password.
TEST(KxExtractWin, ExitCodeAndMessageFromItsStringTable) {
  ScratchFolder scratch;
  const std::string archive = scratch.Write(
      "e.zip", zipbuild::Archive({zipbuild::Stored("secret.txt", "sealed").Encrypted("pw")}));
  const std::string command = "..\\kxextract.exe \"" + archive + "\" 2>&1";
  FILE* pipe = _popen(command.c_str(), "rb");
  std::string out(4096, '\0');
  out.resize(std::fread(out.data(), 1, out.size(), pipe));
  EXPECT_EQ(_pclose(pipe), 2);
  EXPECT_EQ(out, "kxextract: INCORRECT PASSWORD\r\n");
}

}  // namespace
