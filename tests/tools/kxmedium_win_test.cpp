// kxmedium's Windows side, in-process under Wine: folder listing and identity, the system's
// random source and the refusal of times MS-DOS cannot hold. Its MS-DOS times are checked where
// the installation tests compare extracted files with their sources.
#include "tests/scratch.h"

#include "tools/kxmedium_os.h"

#include <gtest/gtest.h>

namespace kxmedium {
namespace {

TEST(WindowsSide, ListsFoldersSortedKnowsAFolderInAnyFormAndDrawsRandomBytes) {
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
  uint8_t a[32] = {}, b[32] = {};
  ASSERT_TRUE(RandomBytes(a, sizeof a) && RandomBytes(b, sizeof b));
  EXPECT_FALSE(std::equal(a, a + 32, b));
  uint16_t date = 0, clock = 0;
  EXPECT_FALSE(FileTimeToDos({0, 0x01A00000}, &date, &clock));  // in 1972
}

}  // namespace
}  // namespace kxmedium
