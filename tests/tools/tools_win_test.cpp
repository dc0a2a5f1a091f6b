// The command-line tools' Windows sides under Wine: kxmedium's folders listed in order and known
// in any form (in-process), and kxextract.exe's exit code and one-line message, taken from its
// own string table and written to a text-mode stream.
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"

#include "tools/kxmedium_os.h"

#include <gtest/gtest.h>

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
