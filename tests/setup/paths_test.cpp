// Path handling of the installation: bounded joins, the destination form check, the folder of
// an existing installation from the "zip" association, and the long-name expansion's limits.
// Portable; the expansion of real 8.3 names is tested under Wine in install_test.
#include "setup/paths.h"

#include "tests/scratch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(JoinPath, JoinsWhatFitsAndRefusesTheRestWhole) {
  char out[15];
  EXPECT_TRUE(JoinPath(out, sizeof out, "C:\\KX\\", "setup.kx"));  // 14 characters
  EXPECT_STREQ(out, "C:\\KX\\setup.kx");
  EXPECT_FALSE(JoinPath(out, sizeof out, "C:\\KXX\\", "setup.kx"));  // 15: no room for NUL
  EXPECT_STREQ(out, "");  // never a cut path such as C:\KXX\setup.k
}

TEST(JoinPath, LongSourceFolderNeverOverflowsAMaxPathBuffer) {
  const std::string folder = "C:\\" + std::string(255, 'a') + "\\";  // 259 characters
  char out[kPathSize + 8];
  std::memset(out, '#', sizeof out);
  EXPECT_FALSE(JoinPath(out, kPathSize, folder.c_str(), "setup.kx"));
  for (size_t i = kPathSize; i < sizeof out; ++i) EXPECT_EQ(out[i], '#');
}

struct FormCase {
  const char* typed;
  const char* normalized;  // nullptr: refused
};

TEST(NormalizeDestination, TypedTextsGiveTheirFolderOrAreRefused) {
  const FormCase cases[] = {
      {"C:", "C:\\"},
      {"C:\\", "C:"},
      {"C:\\Karvex", "C:\\Karvex"},
      {"C:\\Karvex\\", "C:\\Karvex"},
      {"C:\\Karvex\\\\", "C:\\Karvex\\"},  // only the last backslash goes
      {"C:/Karvex/", "C:/Karvex/"},        // a trailing forward slash stays
      {"\\\\SERVER\\APPS\\Karvex", "\\\\SERVER\\APPS\\Karvex"},
      {"//SERVER/APPS/Karvex", "//SERVER/APPS/Karvex"},
      {"1:\\Karvex", "1:\\Karvex"},  // the drive letter is not examined
      {"C:Karvex", "C:Karvex"},      // drive-relative passes the form check
      {"Karvex", nullptr},
      {"\\Karvex", nullptr},
      {"/Karvex", nullptr},
      {"K", nullptr},
      {"", nullptr},
      {"\\/Karvex", nullptr},  // mixed separators are no network prefix
  };
  for (const FormCase& c : cases) {
    char text[kPathSize + 2];
    std::strcpy(text, c.typed);
    const bool accepted = NormalizeDestination(text);
    EXPECT_EQ(accepted, c.normalized != nullptr) << c.typed;
    EXPECT_STREQ(text, accepted ? c.normalized : c.typed) << c.typed;
  }
}

TEST(NormalizeDestination, BareNetworkPrefixIsNotTheRootOfTheCurrentDrive) {
  // Two separators alone would become a single backslash, the current drive's root.
  for (const char* typed : {"\\\\", "//", "\\\\\\SERVER", "///"}) {
    char text[kPathSize + 2];
    std::strcpy(text, typed);
    EXPECT_FALSE(NormalizeDestination(text)) << typed;
  }
}

TEST(NormalizeDestination, TextLongerThanTheFieldIsRefusedNotCut) {
  std::string longest = "C:\\" + std::string(kMaxDestinationLength - 3, 'k');
  char text[kPathSize + 2];
  std::strcpy(text, longest.c_str());
  EXPECT_TRUE(NormalizeDestination(text));
  EXPECT_EQ(std::strlen(text), kMaxDestinationLength);
  longest += "k";
  std::strcpy(text, longest.c_str());
  EXPECT_FALSE(NormalizeDestination(text));
}

struct AssociationCase {
  const char* value;
  const char* folder;  // nullptr: the default stays
};

TEST(ZipAssociationFolder, OnlyAKarvexProgramNamesAnInstallationFolder) {
  const AssociationCase cases[] = {
      {"C:\\PROGRA~1\\KARVEX\\KARVEX32.EXE ^.ZIP", "C:\\PROGRA~1\\KARVEX"},
      {"D:\\APPS\\KARVEX\\KARVEX32.EXE", "D:\\APPS\\KARVEX"},
      {"d:\\apps\\kv\\karvex.exe", "d:\\apps\\kv"},
      {"C:/apps/karvex/Karvex32.exe ^.zip", "C:/apps/karvex"},
      {"\\\\SRV\\TOOLS\\KARVEX32.EXE", "\\\\SRV\\TOOLS"},
      {"C:\\UTILS\\UNZIP.EXE ^.ZIP", nullptr},                     // UNZIP. does not match
      {"karvex32.exe ^.zip", nullptr},                             // no separator before the blank
      {"C:\\Program Files\\Karvex\\KARVEX32.EXE ^.ZIP", nullptr},  // Progra before the blank
      {"D:\\APPS\\KARVEXNT\\KVNT.EXE", nullptr},                   // the last separator decides
      {"C:\\APPS\\KARV EX", nullptr},          // the blank is one of the six characters
      {"C:\\APPS\\KARVE", nullptr},            // fewer than six characters
      {" C:\\KARVEX\\KARVEX32.EXE", nullptr},  // a leading blank ends the scan at once
      {"\\KARVEX32.EXE", nullptr},             // an empty folder is no folder
      {"", nullptr},
  };
  for (const AssociationCase& c : cases) {
    char folder[kPathSize];
    std::strcpy(folder, "unchanged");
    const int found = ZipAssociationFolder(c.value, folder, sizeof folder);
    EXPECT_EQ(found, c.folder != nullptr ? 1 : 0) << c.value;
    EXPECT_STREQ(folder, c.folder ? c.folder : "unchanged") << c.value;
  }
}

TEST(ZipAssociationFolder, FolderTooLongForTheFieldKeepsTheDefault) {
  // The association value may be 299 characters; the destination field holds 259.
  const std::string fits = "C:\\" + std::string(kPathSize - 4, 'f');  // 259 characters
  char folder[kPathSize];
  EXPECT_EQ(ZipAssociationFolder((fits + "\\KARVEX32.EXE").c_str(), folder, sizeof folder), 1);
  EXPECT_EQ(std::string(folder), fits);
  EXPECT_EQ(ZipAssociationFolder((fits + "f\\KARVEX32.EXE").c_str(), folder, sizeof folder), 0);
  EXPECT_EQ(std::string(folder), fits);  // untouched
}

// Relative paths have no prefix; the scratch folder is made current for them.
class ExpandLongPathRelative : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::create_directories(dir_.path() / "Sub Folder");
    dir_.Write("Sub Folder/File Name.txt", "x");
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override { std::filesystem::current_path(previous_); }
  ScratchFolder dir_;
  std::filesystem::path previous_;
};

TEST_F(ExpandLongPathRelative, ResultFitsExactlyOrFailsWithoutOverflow) {
  const char* source = "Sub Folder\\File Name.txt";
  const size_t length = std::strlen(source);
  char out[64];
  EXPECT_EQ(ExpandLongPath(source, out, sizeof out), static_cast<int>(length));
  EXPECT_STREQ(out, source);
  EXPECT_EQ(ExpandLongPath(source, out, length + 1), static_cast<int>(length));
  // One byte short, in each component: nothing is written past the capacity.
  for (size_t capacity : {length, size_t{12}, size_t{5}, size_t{1}}) {
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(ExpandLongPath(source, out, capacity), 0) << capacity;
    for (size_t i = capacity; i < sizeof out; ++i) ASSERT_EQ(out[i], '#') << capacity;
  }
}

TEST_F(ExpandLongPathRelative, WildcardLastComponentIsKeptAsWritten) {
  char out[64];
  EXPECT_GT(ExpandLongPath("Sub Folder\\File*.txt", out, sizeof out), 0);
  EXPECT_STREQ(out, "Sub Folder\\File*.txt");
}

TEST_F(ExpandLongPathRelative, MissingComponentsAndTrailingSeparatorsFail) {
  char out[64];
  EXPECT_EQ(ExpandLongPath("Sub Folder\\Missing.txt", out, sizeof out), 0);
  EXPECT_EQ(ExpandLongPath("No Folder\\File Name.txt", out, sizeof out), 0);
  EXPECT_EQ(ExpandLongPath("Sub Folder\\", out, sizeof out), 0);
}

TEST_F(ExpandLongPathRelative, InPlaceLeavesAFailedPathUnchanged) {
  char path[kPathSize] = "Sub Folder\\Missing";
  EXPECT_STREQ(ExpandLongPathInPlace(path, sizeof path), "Sub Folder\\Missing");
  std::strcpy(path, "Sub Folder");
  EXPECT_STREQ(ExpandLongPathInPlace(path, sizeof path), "Sub Folder");
}

TEST(ExpandLongPath, OverlongSourceFailsBeforeAnyLookup) {
  const std::string source(kPathSize, 'a');
  char out[kLongNameLimit];
  EXPECT_EQ(ExpandLongPath(source.c_str(), out, sizeof out), 0);
  EXPECT_STREQ(out, "");
}

}  // namespace
