// Path handling of the installation in one table, a row per call: bounded joins, the
// destination form check, the folder of an existing installation from the "zip" association,
// the long-name expansion's limits and the separator helper. The expansion of real 8.3 names
// is tested under Wine.
#include "setup/paths.h"
#include "setup/lookup.h"

#include "tests/scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>

namespace {

// Relative paths have no prefix; the scratch folder is made current for them.
TEST(Paths, EveryCallGivesItsResultAndNeverWritesPastItsCapacity) {
  ScratchFolder dir;
  for (const char* folder : {"Sub Folder", "S"})
    std::filesystem::create_directories(dir.path() / folder);
  dir.Write("S/F.txt", "");
  dir.Write("Sub Folder/File Name.txt", "22");
  dir.Write("Sub Folder/" + std::string(kPathSize - 11, 'n'), "");
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const std::string file = "Sub Folder\\File Name.txt",
                    share = std::string("/") += dir.path().string();
  std::string unc = share + "/Sub Folder";  // the network prefix written with backslashes
  std::replace(unc.begin(), unc.begin() + share.size() + 1, '/', '\\');
#ifdef _WIN32
  unc.clear();  // the scratch folder has no network name there
#endif
  const std::string drive = "C:\\";
  const std::string longest = drive + std::string(kMaxDestinationLength - 3, 'k');
  const std::string fits = drive + std::string(kPathSize - 4, 'f');  // 259 characters
  // The call: Join (folder|name), Normalize, Zip association, eXpand, Append; its input, the
  // buffer's capacity, the result and the buffer afterwards ("?": partly written).
  const std::tuple<char, std::string, size_t, int, std::string> rows[] = {
      {'j', "C:\\KX\\|setup.kx", 15, 1, "C:\\KX\\setup.kx"},
      {'j', "C:\\KXX\\|setup.kx", 15, 0, ""},  // no room for the NUL: never a cut path
      {'n', "C:", 0, 1, "C:\\"},
      {'n', "C:\\", 0, 1, "C:"},
      {'n', "\\\\SERVER\\APPS\\Karvex", 0, 1, "\\\\SERVER\\APPS\\Karvex"},
      {'n', "//SERVER/APPS/Karvex", 0, 1, "//SERVER/APPS/Karvex"},
      {'n', longest, 0, 1, longest},
      {'n', longest + "k", 0, 0, longest + "k"},
      {'n', "\\Karvex", 0, 0, "\\Karvex"},
      {'n', "/Karvex", 0, 0, "/Karvex"},
      {'n', "\\\\", 0, 0, "\\\\"},  // would become the current drive's root
      {'n', "\\\\\\SERVER", 0, 0, "\\\\\\SERVER"},
      {'n', "\\\\X", 0, 1, "\\\\X"},
      {'z', "C:\\PROGRA~1\\KARVEX\\KARVEX32.EXE ^.ZIP", kPathSize, 1, "C:\\PROGRA~1\\KARVEX"},
      {'z', "C:/apps/karvex/Karvex32.exe ^.zip", kPathSize, 1, "C:/apps/karvex"},
      {'z', fits + "\\KARVEX32.EXE", kPathSize, 1, fits},
      {'z', fits + "f\\KARVEX32.EXE", kPathSize, 0, "#"},  // longer than the field
      {'z', "karvex32.exe ^.zip", kPathSize, 0, "#"},      // no separator before the blank
      {'z', "C:\\Program Files\\Karvex\\KARVEX32.EXE", kPathSize, 0, "#"},  // Progra, blank
      {'z', "D:\\APPS\\KARVEXNT\\KVNT.EXE", kPathSize, 0, "#"},  // the last separator decides
      {'z', "C:\\APPS\\KARVE", kPathSize, 0, "#"},               // fewer than six characters
      {'z', "\\KARVEX32.EXE", kPathSize, 0, "#"},                // an empty folder is no folder
      {'x', file, file.size() + 1, int(file.size()), file},
      {'x', file, file.size(), 0, "?"},
      {'x', "Sub Folder\\File*.txt", 64, 20, "Sub Folder\\File*.txt"},
      {'x', "Sub Folder\\Missing.txt", 64, 0, ""},
      {'x', "Sub Folder\\", 64, 0, "?"},
      {'x', "S\\F.txt", 64, 7, "S\\F.txt"},  // a separator second is no network prefix
      {'x', "Sub Folder\\" + std::string(kPathSize - 11, 'n'), kPathSize + 7, 0, ""},  // exists
      {'x', share + "/Sub Folder", 8, 0, ""},                 // the network prefix does not fit
      {'x', share + "/Sub Folder", share.size() + 1, 0, ""},  // nor without its terminator
      {'x', file, 0, 0, "#"},
      {'x', share + "/Sub Folder", kPathSize, int(unc.size()), unc},
      {'x', "//tmp", 64, 0, ""},  // a network path without its share
      {'a', "C:", 0, 0, "C:\\"},
      {'a', "C:\\", 0, 0, "C:\\"},
      {'a', "D:/", 0, 0, "D:/"},
      {'a', "", 0, 0, ""},
  };
  for (const auto& [call, input, capacity, returns, expected] : rows) {
    SCOPED_TRACE(call + (" " + input) + " " + std::to_string(capacity));
    std::string buffer(kPathSize + 7, '#');
    const size_t bar = input.find('|');
    const std::string in = input.substr(0, bar);
    if (call == 'n' || call == 'a') std::strcpy(buffer.data(), in.c_str());
    int result = 0;
    if (call == 'j')
      result = JoinPath(buffer.data(), capacity, in.c_str(), input.substr(bar + 1).c_str());
    if (call == 'n') result = NormalizeDestination(buffer.data());
    if (call == 'z') result = ZipAssociationFolder(in.c_str(), buffer.data(), capacity);
    if (call == 'x') result = ExpandLongPath(in.c_str(), buffer.data(), capacity);
    if (call == 'a') AppendSeparator(buffer.data());
    std::string out = buffer.c_str();
    if (out.find('#') != std::string::npos) out = out.substr(0, out.find('#') + 1);
    EXPECT_EQ(result, returns);
    EXPECT_EQ(expected == "?" ? "?" : out, expected);
    const size_t untouched = capacity ? capacity : buffer.size();
    EXPECT_EQ(buffer.substr(untouched), std::string(buffer.size() - untouched, '#'));
  }
  char path[kPathSize] = "Sub Folder\\Missing";
  EXPECT_STREQ(ExpandLongPathInPlace(path, sizeof path), "Sub Folder\\Missing");
  EXPECT_STREQ(ExpandLongPathInPlace(std::strcpy(path, "S/F.txt"), 8), "S\\F.txt");
  EXPECT_STREQ(ExpandLongPathInPlace(std::strcpy(path, "S/F.txt"), 7), "S/F.txt");  // no room
  std::filesystem::current_path(previous);
}

}  // namespace
