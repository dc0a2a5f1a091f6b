// Reading a medium's payload directory and comparing an installation folder with the medium.
#include "tests/wine/e2e/medium_reader.h"

#include "extract/zip_format.h"
#include "res/companions.h"

#include <fstream>
#include <iterator>

namespace e2e {

namespace {

uint32_t U16(const std::string& b, size_t at) {
  return zip::Le16(reinterpret_cast<const uint8_t*>(b.data()) + at);
}
uint32_t U32(const std::string& b, size_t at) {
  return zip::Le32(reinterpret_cast<const uint8_t*>(b.data()) + at);
}
bool SignatureAt(const std::string& b, size_t at, uint32_t signature) {
  return at + 4 <= b.size() && U32(b, at) == signature;
}

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

std::string InstalledName(const kxmedium::DirectoryEntry& entry) {
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
  std::vector<kxmedium::DirectoryEntry> entries;
  std::string error;
  if (!kxmedium::ReadZipDirectory(medium + kPayloadName, &entries, &error) || entries.empty())
    problems.push_back("the medium's setup.kx lists no entries");
  for (const kxmedium::DirectoryEntry& entry : entries) {
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
  namespace field = zip::local;
  for (size_t at = 0;
       at + field::kSize <= bytes.size() && SignatureAt(bytes, at, LOCAL_HEADER_SIG);) {
    const size_t data = at + field::kSize + U16(bytes, at + field::kNameLength) +
                        U16(bytes, at + field::kExtraLength);
    const uint32_t size = U32(bytes, at + field::kCompressedSize);
    if (data + size > bytes.size()) return false;
    if (size > zip::kEncryptionHeaderSize) {
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
  for (size_t at = 0; at + zip::central::kSize <= bytes.size(); ++at) {
    const bool local = SignatureAt(bytes, at, LOCAL_HEADER_SIG);
    const bool central = SignatureAt(bytes, at, CENTRAL_HEADER_SIG);
    if (!local && !central) continue;
    const size_t name = at + (local ? zip::local::kSize : zip::central::kSize);
    const size_t length =
        U16(bytes, at + (local ? zip::local::kNameLength : zip::central::kNameLength));
    if (length == from.size() && bytes.compare(name, length, from) == 0) {
      bytes.replace(name, length, to);
      ++renamed;
    }
  }
  return renamed == 2 && WriteAll(archive, bytes);
}

}  // namespace e2e
