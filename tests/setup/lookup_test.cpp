// The shared file lookup and the separator helper of the installation steps.
#include "setup/lookup.h"

#include "tests/scratch.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(LookUpFile, FoundFilesFoldersAndWildcards) {
  ScratchFolder dir;
  dir.Write("ONE.TXT", "1");
  dir.Write("TWO.TXT", "22");
  std::filesystem::create_directories(dir.path() / "SUB");

  EXPECT_EQ(LookUpFile(dir.File("TWO.TXT").c_str()), 0);
  EXPECT_EQ(FoundFileData.sizeLow, 2u);
  EXPECT_EQ(LookUpFile(dir.File("SUB").c_str()), 0);  // a folder counts as found
  EXPECT_TRUE(FoundFileData.isFolder);
  EXPECT_EQ(LookUpFile(dir.File("T*.TXT").c_str()), 0);
  EXPECT_STREQ(FoundFileData.name, "TWO.TXT");  // the first (only) match is described
  EXPECT_EQ(LookUpFile(dir.File("NONE.TXT").c_str()), 1);
  EXPECT_EQ(LookUpFile(dir.File("*.DOC").c_str()), 1);
}

TEST(AppendSeparator, AddsABackslashOnlyWhenMissing) {
  struct Case {
    const char* in;
    const char* out;
  };
  for (const Case c : {Case{"C:", "C:\\"}, Case{"C:\\", "C:\\"}, Case{"D:/apps/", "D:/apps/"},
                       Case{"C:\\Program Files\\Karvex", "C:\\Program Files\\Karvex\\"}}) {
    char path[64];
    std::strcpy(path, c.in);
    AppendSeparator(path);
    EXPECT_STREQ(path, c.out) << c.in;
  }
}

}  // namespace
