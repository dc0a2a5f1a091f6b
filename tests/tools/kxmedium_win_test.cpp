// kxmedium's Windows side, in-process under Wine: folders listed in order and known in any form.
// The media the Wine tests build go through the rest of it (their MS-DOS times are checked where
// extracted files are compared with their sources).
#include "tests/scratch.h"

#include "tools/kxmedium_os.h"

#include <gtest/gtest.h>

namespace kxmedium {
namespace {

TEST(WindowsSide, ListsFoldersSortedAndKnowsAFolderInAnyForm) {
  ScratchFolder scratch;
  scratch.Write("b.txt", "b");
  scratch.Write("A.TXT", "a");
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

}  // namespace
}  // namespace kxmedium
