// Path handling of the installation, in tables: bounded joins, the destination form check,
// the folder of an existing installation from the "zip" association, the long-name expansion's
// limits, the file lookup and the separator helper. The expansion of 8.3 names is tested
// under Wine.
#include "setup/paths.h"

#include "setup/lookup.h"

#include "tests/scratch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(JoinPath, JoinsWhatFitsAndRefusesTheRestWholeWithoutOverflow) {
  char out[kPathSize + 8];
  std::memset(out, '#', sizeof out);
  EXPECT_TRUE(JoinPath(out, 15, "C:\\KX\\", "setup.kx"));  // 14 characters
  EXPECT_STREQ(out, "C:\\KX\\setup.kx");
  EXPECT_FALSE(JoinPath(out, 15, "C:\\KXX\\", "setup.kx"));  // no room for the NUL
  EXPECT_STREQ(out, "");                                     // never a cut path
  const std::string folder = "C:\\" + std::string(255, 'a') + "\\";
  std::memset(out, '#', sizeof out);
  EXPECT_FALSE(JoinPath(out, kPathSize, folder.c_str(), "setup.kx"));
  EXPECT_EQ(std::string(out + kPathSize, 8), std::string(8, '#'));
}

TEST(NormalizeDestination, TypedTextsGiveTheirFolderOrAreRefused) {
  const std::string longest = "C:\\" + std::string(kMaxDestinationLength - 3, 'k');
  const std::pair<std::string, const char*> rows[] = {
      {"C:", "C:\\"},
      {"C:\\", "C:"},
      {"C:\\Karvex", "C:\\Karvex"},
      {"C:\\Karvex\\", "C:\\Karvex"},
      {"C:\\Karvex\\\\", "C:\\Karvex\\"},  // only the last backslash goes
      {"C:/Karvex/", "C:/Karvex/"},        // a trailing forward slash stays
      {"\\\\SERVER\\APPS\\Karvex", "\\\\SERVER\\APPS\\Karvex"},
      {"//SERVER/APPS/Karvex", "//SERVER/APPS/Karvex"},
      {longest, longest.c_str()},
      {longest + "k", nullptr},
      {"\\Karvex", nullptr},
      {"/Karvex", nullptr},
      {"", nullptr},
      {"\\/Karvex", nullptr},  // mixed separators are no network prefix
      {"\\\\", nullptr},       // two separators alone would become the current drive's root
      {"\\\\\\SERVER", nullptr},
  };
  for (const auto& [typed, normalized] : rows) {
    char text[kPathSize + 2];
    std::strcpy(text, typed.c_str());
    EXPECT_EQ(NormalizeDestination(text), normalized != nullptr) << typed;
    EXPECT_STREQ(text, normalized ? normalized : typed.c_str()) << typed;
  }
}

TEST(ZipAssociationFolder, OnlyAKarvexProgramNamesAFolderThatFits) {
  const std::string fits = "C:\\" + std::string(kPathSize - 4, 'f');  // 259 characters
  const std::pair<std::string, const char*> rows[] = {
      {"C:\\PROGRA~1\\KARVEX\\KARVEX32.EXE ^.ZIP", "C:\\PROGRA~1\\KARVEX"},
      {"C:/apps/karvex/Karvex32.exe ^.zip", "C:/apps/karvex"},
      {"\\\\SRV\\TOOLS\\KARVEX32.EXE", "\\\\SRV\\TOOLS"},
      {fits + "\\KARVEX32.EXE", fits.c_str()},
      {fits + "f\\KARVEX32.EXE", nullptr},                         // longer than the field
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
  for (const auto& [value, folder] : rows) {
    char out[kPathSize];
    std::strcpy(out, "unchanged");
    EXPECT_EQ(ZipAssociationFolder(value.c_str(), out, sizeof out), folder ? 1 : 0) << value;
    EXPECT_STREQ(out, folder ? folder : "unchanged") << value;
  }
}

// Relative paths have no prefix; the scratch folder is made current for them.
TEST(ExpandLongPath, ResultFitsExactlyOrFailsWithoutOverflow) {
  ScratchFolder dir;
  std::filesystem::create_directories(dir.path() / "Sub Folder");
  dir.Write("Sub Folder/File Name.txt", "x");
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const std::string source = "Sub Folder\\File Name.txt",
                    network = std::string("/") += dir.path().string();
  const struct {
    std::string source;
    size_t capacity;
    bool expanded;  // to the source itself
  } rows[] = {
      {source, 64, true},
      {source, source.size() + 1, true},
      {source, source.size(), false},
      {source, 12, false},
      {source, 5, false},
      {source, 1, false},
      {"Sub Folder\\File*.txt", 64, true},
      {"Sub Folder\\Missing.txt", 64, false},
      {"No Folder\\File Name.txt", 64, false},
      {"Sub Folder\\", 64, false},
      {std::string(kPathSize, 'a'), 64, false},
      {network + "/Sub Folder", 8, false},  // the network prefix does not fit
      {"//tmp", 64, false},                 // a network path without its share
  };
  for (const auto& row : rows) {
    char out[64];
    std::memset(out, '#', sizeof out);
    const size_t length = row.expanded ? row.source.size() : 0;
    EXPECT_EQ(ExpandLongPath(row.source.c_str(), out, row.capacity), int(length))
        << row.source << " " << row.capacity;
    EXPECT_STREQ(row.expanded ? out : "", row.expanded ? row.source.c_str() : "");
    EXPECT_EQ(std::string(out + row.capacity, sizeof out - row.capacity),
              std::string(sizeof out - row.capacity, '#'));
  }
  char path[kPathSize] = "Sub Folder\\Missing";
  EXPECT_STREQ(ExpandLongPathInPlace(path, sizeof path), "Sub Folder\\Missing");
  std::strcpy(path, "Sub Folder");
  EXPECT_STREQ(ExpandLongPathInPlace(path, sizeof path), "Sub Folder");
  std::filesystem::current_path(previous);
}

TEST(LookUpFile, FoundFilesFoldersAndWildcards) {
  ScratchFolder dir;
  dir.Write("ONE.TXT", "1");
  dir.Write("TWO.TXT", "22");
  std::filesystem::create_directories(dir.path() / "SUB");
  const std::pair<const char*, std::string> rows[] = {
      // name, what was found: its name, size or "/" for a folder; "-" for nothing
      {"TWO.TXT", "TWO.TXT 2"}, {"SUB", "SUB /"}, {"T*.TXT", "TWO.TXT 2"},
      {"NONE.TXT", "-"},        {"*.DOC", "-"},
  };
  for (const auto& [name, found] : rows) {
    std::strcpy(FoundFileData.name, "-");
    const int result = LookUpFile(dir.File(name).c_str());
    const std::string kind = FoundFileData.isFolder ? "/" : std::to_string(FoundFileData.sizeLow);
    EXPECT_EQ(FoundFileData.name + (result ? "" : " " + kind), found) << name;
    EXPECT_EQ(result, found == "-");
  }
}

TEST(AppendSeparator, AddsABackslashOnlyWhenMissing) {
  for (const auto& [in, out] : {std::pair{"C:", "C:\\"},
                                {"C:\\", "C:\\"},
                                {"D:/", "D:/"},
                                {"", ""},
                                {"C:\\Program Files\\Karvex", "C:\\Program Files\\Karvex\\"}}) {
    char path[64];
    AppendSeparator(std::strcpy(path, in));
    EXPECT_STREQ(path, out) << in;
  }
}

}  // namespace
