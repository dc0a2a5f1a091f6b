// Reading a medium's payload directory and comparing an installation folder with the medium.
#include "tests/wine/e2e/medium_reader.h"

#include "res/companions.h"
#include "tools/kxmedium_zipdir.h"

#include <windows.h>

namespace e2e {

namespace {

// The file's size and last write time, or nothing when it is missing.
std::string SizeAndTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return "";
  return std::to_string(data.nFileSizeLow) + " bytes at " +
         std::to_string(uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 |
                        data.ftLastWriteTime.dwLowDateTime);
}

}  // namespace

std::vector<std::string> MissingFromInstallation(const std::string& medium,
                                                 const std::string& folder, bool everyFileShrinks) {
  std::vector<std::string> problems;
  const std::string into = folder.back() == '\\' ? folder : folder + "\\";
  const auto compare = [&](const std::string& name, const std::string& want) {
    const std::string got = SizeAndTime(into + name);
    if (got != want)
      problems.push_back(name + ": " + (got.empty() ? "missing" : got) + ", not " + want);
  };
  for (const CompanionFile* c = CompanionFiles; c->name; ++c)
    if (!SizeAndTime(medium + c->name).empty()) compare(c->name, SizeAndTime(medium + c->name));
  std::vector<kxmedium::DirectoryEntry> entries;
  std::string error;
  if (!kxmedium::ReadZipDirectory(medium + kPayloadName, &entries, &error) || entries.empty())
    problems.push_back("the medium's setup.kx lists no entries");
  const std::string staged = std::string(kMainProgramName, sizeof kMainProgramName - 2) + "_";
  for (const kxmedium::DirectoryEntry& entry : entries) {
    std::string name = entry.name.substr(entry.name.find_last_of('/') + 1);
    if (name.empty()) continue;  // a folder entry
    if (lstrcmpiA(name.c_str(), staged.c_str()) == 0) name = kMainProgramName;
    if (everyFileShrinks && entry.method != 8)
      problems.push_back(name + ": stored, where Deflate makes it smaller");
    FILETIME local, stored;
    DosDateTimeToFileTime(entry.dosDate, entry.dosTime, &local);
    LocalFileTimeToFileTime(&local, &stored);
    compare(name, std::to_string(entry.size) + " bytes at " +
                      std::to_string(uint64_t{stored.dwHighDateTime} << 32 | stored.dwLowDateTime));
  }
  if (!SizeAndTime(into + staged).empty()) problems.push_back("the staged main program is left");
  return problems;
}

}  // namespace e2e
