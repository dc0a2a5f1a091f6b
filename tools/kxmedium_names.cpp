// Payload name rules. The setup takes each stored name as OEM text, converts it to ANSI and
// writes the file under that name into the destination folder, and later moves the staged
// main program to its final name; these checks refuse what would go wrong there.
#include "tools/kxmedium_names.h"

#include "platform/platform.h"
#include "res/companions.h"

#include <array>
#include <cstring>
#include <map>

namespace kxmedium {

namespace {

constexpr size_t kMaxComponent = 255;
constexpr char kForbidden[] = "\\/:*?\"<>|";

// Names Windows takes as devices, whatever extension follows them.
constexpr std::array<const char*, 22> kDeviceNames = {
    "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
    "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};

bool IsDeviceName(const std::string& name) {
  const std::string stem = FoldCase(name.substr(0, name.find('.')));
  for (const char* device : kDeviceNames)
    if (stem == device) return true;
  return false;
}

}  // namespace

std::string StagedMainProgramName() {
  std::string staged = kMainProgramName;
  staged.back() = '_';
  return staged;
}

std::string FoldCase(const std::string& name) {
  std::string folded = name;
  for (char& c : folded)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return folded;
}

std::string ArchiveNameFor(const std::string& fileName, std::string* why) {
  if (fileName.empty() || fileName.size() > kMaxComponent) {
    *why = "its name is empty or longer than 255 characters";
    return {};
  }
  for (const unsigned char c : fileName) {
    if (c < 0x20 || std::strchr(kForbidden, c)) {
      *why = "its name holds a character Windows does not allow in file names";
      return {};
    }
  }
  if (fileName.back() == '.' || fileName.back() == ' ') {
    *why = "its name ends in a dot or a blank, which Windows drops";
    return {};
  }
  if (IsDeviceName(fileName)) {
    *why = "its name is a Windows device name";
    return {};
  }
  std::string oem = fileName;
  platform::AnsiTextToOem(oem.data());
  oem.resize(std::strlen(oem.c_str()));
  // The setup converts the stored OEM name back to ANSI: it must come back unchanged.
  std::string back = oem;
  back.resize(back.size() * 3 + 1);
  if (!platform::OemTextToAnsi(back.data(), back.size()) || back.c_str() != fileName) {
    *why = "its name cannot be written in the OEM code page the archive stores names in";
    return {};
  }
  return oem;
}

std::vector<PayloadFile> PlanPayload(const std::vector<std::string>& fileNames,
                                     std::vector<std::string>* problems) {
  const std::string mainName = kMainProgramName;
  const std::string staged = StagedMainProgramName();
  std::vector<PayloadFile> plan;
  std::map<std::string, std::string> byFolded;  // folded entry name -> payload file name
  bool haveMain = false;
  for (const std::string& fileName : fileNames) {
    std::string why;
    std::string entryName = ArchiveNameFor(fileName, &why);
    if (entryName.empty()) {
      problems->push_back("payload file " + fileName + ": " + why);
      continue;
    }
    const std::string folded = FoldCase(entryName);
    if (folded == mainName || folded == staged) {
      entryName = staged;
      haveMain = true;
    }
    const auto [it, inserted] = byFolded.emplace(FoldCase(entryName), fileName);
    if (!inserted) {
      if (FoldCase(entryName) == staged)
        problems->push_back("the payload holds both " + it->second + " and " + fileName +
                            "; keep only one of them");
      else
        problems->push_back("payload files " + it->second + " and " + fileName +
                            " differ only in letter case; the setup would write one over "
                            "the other");
      continue;
    }
    plan.push_back({fileName, entryName});
  }
  if (!haveMain)
    problems->push_back("the payload holds neither " + mainName + " nor " + staged +
                        ": the setup could not start the main program");
  return plan;
}

}  // namespace kxmedium
