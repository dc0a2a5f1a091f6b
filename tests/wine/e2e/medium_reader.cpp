// Reading a medium's payload directory and comparing an installation folder with the medium.
#include "tests/wine/e2e/medium_reader.h"

#include "res/companions.h"

#include <fstream>
#include <iterator>

namespace e2e {

namespace {

uint32_t U16(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8;
}
uint32_t U32(const std::string& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

bool WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

bool Find(const std::string& path, WIN32_FIND_DATAA* data) {
  const HANDLE search = FindFirstFileA(path.c_str(), data);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

}  // namespace

std::vector<PayloadEntry> ReadPayloadEntries(const std::string& archive) {
  const std::string bytes = ReadAll(archive);
  std::vector<PayloadEntry> entries;
  if (bytes.size() < 22) return entries;
  size_t end = bytes.size() - 22;
  while (bytes.compare(end, 4, "PK\x05\x06") != 0) {
    if (end == 0) return entries;
    --end;
  }
  size_t at = U32(bytes, end + 16);
  for (uint32_t count = U16(bytes, end + 10); count > 0; --count) {
    if (at + 46 > bytes.size() || bytes.compare(at, 4, "PK\x01\x02") != 0) return {};
    const size_t nameLength = U16(bytes, at + 28);
    if (at + 46 + nameLength > bytes.size()) return {};
    PayloadEntry entry;
    entry.name = bytes.substr(at + 46, nameLength);
    entry.size = U32(bytes, at + 24);
    entry.dosTime = static_cast<uint16_t>(U16(bytes, at + 12));
    entry.dosDate = static_cast<uint16_t>(U16(bytes, at + 14));
    entries.push_back(entry);
    at += 46 + nameLength + U16(bytes, at + 30) + U16(bytes, at + 32);
  }
  return entries;
}

std::string InstalledName(const PayloadEntry& entry) {
  std::string name = entry.name.substr(entry.name.find_last_of('/') + 1);
  const std::string staged = std::string(kMainProgramName, sizeof kMainProgramName - 2) + "_";
  if (lstrcmpiA(name.c_str(), staged.c_str()) == 0) name = kMainProgramName;
  return name;
}

std::vector<std::string> MissingFromInstallation(const std::string& medium,
                                                 const std::string& folder) {
  std::vector<std::string> problems;
  const std::string into = folder.back() == '\\' ? folder : folder + "\\";
  WIN32_FIND_DATAA source, installed;
  for (const CompanionFile* c = CompanionFiles; c->name; ++c) {
    if (!Find(medium + c->name, &source)) continue;  // the medium's own fault, not the setup's
    if (!Find(into + c->name, &installed))
      problems.push_back(std::string("companion file ") + c->name + " is missing");
    else if (installed.nFileSizeLow != source.nFileSizeLow ||
             !SameTime(installed.ftLastWriteTime, source.ftLastWriteTime))
      problems.push_back(std::string("companion file ") + c->name + " differs from the medium's");
  }
  const std::vector<PayloadEntry> entries = ReadPayloadEntries(medium + kPayloadName);
  if (entries.empty()) problems.push_back("the medium's setup.kx lists no entries");
  for (const PayloadEntry& entry : entries) {
    if (entry.name.empty() || entry.name.back() == '/') continue;  // folder entries
    const std::string name = InstalledName(entry);
    FILETIME local, stored;
    DosDateTimeToFileTime(entry.dosDate, entry.dosTime, &local);
    LocalFileTimeToFileTime(&local, &stored);
    if (!Find(into + name, &installed))
      problems.push_back("payload file " + name + " is missing");
    else if (installed.nFileSizeLow != entry.size)
      problems.push_back("payload file " + name + " has another size than stored");
    else if (!SameTime(installed.ftLastWriteTime, stored))
      problems.push_back("payload file " + name + " does not carry its stored time");
  }
  const std::string staged =
      into + std::string(kMainProgramName, sizeof kMainProgramName - 2) + "_";
  if (Find(staged, &installed)) problems.push_back("the staged main program is still there");
  return problems;
}

bool FlipByteInFirstEntryData(const std::string& archive) {
  std::string bytes = ReadAll(archive);
  for (size_t at = 0; at + 30 <= bytes.size() && bytes.compare(at, 4, "PK\x03\x04") == 0;) {
    const size_t data = at + 30 + U16(bytes, at + 26) + U16(bytes, at + 28);
    const uint32_t size = U32(bytes, at + 18);
    if (data + size > bytes.size()) return false;
    if (size > 12) {
      bytes[data + size - 1] = static_cast<char>(bytes[data + size - 1] ^ 0x5A);
      return WriteAll(archive, bytes);
    }
    at = data + size;
  }
  return false;
}

bool RenameEntry(const std::string& archive, const std::string& from, const std::string& to) {
  if (from.size() != to.size()) return false;
  std::string bytes = ReadAll(archive);
  int renamed = 0;
  for (size_t at = 0; at + 46 <= bytes.size(); ++at) {
    const bool local = bytes.compare(at, 4, "PK\x03\x04") == 0;
    const bool central = bytes.compare(at, 4, "PK\x01\x02") == 0;
    if (!local && !central) continue;
    const size_t name = at + (local ? 30 : 46);
    const size_t length = U16(bytes, at + (local ? 26 : 28));
    if (length == from.size() && bytes.compare(name, length, from) == 0) {
      bytes.replace(name, length, to);
      ++renamed;
    }
  }
  return renamed == 2 && WriteAll(archive, bytes);
}

}  // namespace e2e
