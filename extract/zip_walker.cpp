// Walks the archive's records front to back and produces each wanted entry: selection,
// output path, password check, stored copy or inflate, time stamp and CRC-32 comparison.
// Every error is shown and ends the run through the engine's abort.
#include "extract/zip_walker.h"

#include "extract/crc32.h"
#include "extract/decrypt.h"
#include "extract/engine.h"
#include "extract/entry_decode.h"
#include "extract/stream.h"
#include "ui/messages.h"

#include <cstring>

namespace {

using platform::SeekFrom;

using zip::Le16;
using zip::Le32;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

constexpr int64_t kLastRecordStart = 0xFFFFFFFF;  // the 32-bit fields end at 4 GiB

[[noreturn]] void FailBeyond4GiB() { FailWithMessage(MSG_BEYOND_4GIB, g_engine.job->archivePath); }

// What ReadEntryName learned about a stored name that did not fit entryPath.
struct NameInfo {
  bool tooLong = false;
  char last = '\0';  // the name's last character, '\0' for an empty name
};

void ReadExactly(void* buffer, unsigned count) {
  if (platform::FileRead(g_engine.archiveFile, buffer, count) != count) ReportReadError();
}

// Moves forward by an unsigned 32-bit count. The file calls take signed offsets; a count
// above 2^31 - 1 must not turn into a move backwards (which could walk the same records
// forever), so it is made in two forward steps.
void SkipForward(uint32_t count) {
  while (count > 0) {
    const uint32_t step = count > 0x7FFFFFFFu ? 0x7FFFFFFFu : count;
    // Only a move past what the file calls can reach fails (on Windows, beyond 4 GiB); going
    // on from the old position would read data as records.
    if (platform::FileSeek(g_engine.archiveFile, step, SeekFrom::Current) < 0) FailBeyond4GiB();
    count -= step;
  }
}

// Info-ZIP's Unicode Path field holds version 1, the CRC-32 of the stored name and the name in
// UTF-8. It replaces the stored name only when that CRC matches (a tool that renamed the entry
// without knowing the field leaves it stale) and the name fits; the rest of the extra field is
// passed over.
void ReadExtraField(unsigned length, char* last) {
  EntryHeader& entry = g_engine.entry;
  while (length >= 4) {
    uint8_t head[4];
    ReadExactly(head, sizeof head);
    const unsigned size = Le16(head + 2) < length - 4 ? Le16(head + 2) : length - 4;
    length -= 4 + size;
    if (Le16(head) != zip::kUnicodePathTag || entry.utf8Name || size <= 5 || size - 5 >= kMaxPath ||
        entry.nameLength >= kMaxPath) {
      SkipForward(size);
      continue;
    }
    uint8_t field[kMaxPath + 5];
    ReadExactly(field, size);
    if (field[0] != 1 || Le32(field + 1) != Crc32(g_engine.entryPath, entry.nameLength)) continue;
    std::memcpy(g_engine.entryPath, field + 5, size - 5);
    g_engine.entryPath[size - 5] = '\0';
    *last = g_engine.entryPath[size - 6];
    entry.utf8Name = true;
  }
  SkipForward(length);
}

// The stored name in the ANSI character set, whole, for a listing.
void ListEntry() {
  const EntryHeader& entry = g_engine.entry;
  char name[kCreatedPathSize];
  std::strcpy(name, g_engine.entryPath);
  if (entry.utf8Name)
    platform::Utf8TextToAnsi(name, sizeof name);
  else
    platform::OemTextToAnsi(name, sizeof name);
  ListedEntry listed;
  listed.name = name;
  listed.compressedSize = entry.compressedSize;
  listed.uncompressedSize = entry.uncompressedSize;
  listed.date = entry.date;
  listed.time = entry.time;
  listed.method = entry.method;
  listed.encrypted = entry.encrypted;
  platform::SendWindowMessage(g_engine.job->notifyWindow, PWM_LISTENTRY, 0,
                              reinterpret_cast<intptr_t>(&listed));
}

// Reads a stored name of n bytes into entryPath. A name that does not fit keeps its first
// kMaxPath - 1 bytes there and is marked too long; the rest is read and dropped.
NameInfo ReadEntryName(unsigned n) {
  NameInfo info;
  const unsigned kept = n < kMaxPath ? n : kMaxPath - 1;
  ReadExactly(g_engine.entryPath, kept);
  g_engine.entryPath[kept] = '\0';
  if (kept > 0) info.last = g_engine.entryPath[kept - 1];
  for (unsigned rest = n - kept; rest > 0;) {
    char scratch[256];
    const unsigned piece = rest < sizeof scratch ? rest : sizeof scratch;
    ReadExactly(scratch, piece);
    info.last = scratch[piece - 1];
    info.tooLong = true;
    rest -= piece;
  }
  return info;
}

bool IsSelected(bool nameTooLong) {
  const SelectionNode* node = g_engine.job->selection;
  if (!node) return true;
  for (char* p = g_engine.entryPath; *p; ++p)
    if (*p == '\\') *p = '/';
  // Node names hold at most kMaxPath - 1 characters, so no node names a longer stored name.
  if (nameTooLong) return false;
  for (; node; node = node->next)
    if (platform::SelectionNameEquals(node->name, g_engine.entryPath, g_engine.entry.utf8Name))
      return true;
  return false;
}

// Replaces entryPath by the output path. Refuses (message and abort) a path that does not fit
// and, since nothing may be written outside the output folder, an unsafe stored name.
void BuildOutputPath() {
  const char* folder = g_engine.job->outputFolder;
  const char* stored = g_engine.entryPath;
  // One leading separator is dropped; a base name starts with one only when it is the whole
  // stored name, such as "/a.txt".
  const char* relative = g_engine.job->keepPaths ? stored : BaseName(stored);
  if (IsSeparator(relative[0])) ++relative;
  if (!IsSafeRelativeName(relative)) FailWithMessage(MSG_UNSAFE_NAME, stored);

  const size_t folderLength = std::strlen(folder);
  const bool addSeparator = folderLength > 0 && !IsSeparator(folder[folderLength - 1]);
  const size_t total = folderLength + (addSeparator ? 1 : 0) + std::strlen(relative);
  if (total >= kMaxPath) {
    char shown[kEngineMessageSize / 2];
    platform::FormatText(shown, sizeof shown, "%s%s%s", folder, addSeparator ? "\\" : "", relative);
    FailWithMessage(MSG_PATH_TOO_LONG, shown);
  }
  char path[kMaxPath];
  std::memcpy(path, folder, folderLength);
  size_t at = folderLength;
  if (addSeparator) path[at++] = '\\';
  std::strcpy(path + at, relative);
  for (char* p = path; *p; ++p)
    if (*p == '/') *p = '\\';
  std::strcpy(g_engine.entryPath, path);
}

// Reads up to 16 bytes at the current position and moves back over them; the count read.
unsigned PeekBytes(uint8_t* bytes) {
  const unsigned n = platform::FileRead(g_engine.archiveFile, bytes, 16);
  if (n == platform::kIoError) return 0;
  platform::FileSeek(g_engine.archiveFile, -static_cast<int64_t>(n), SeekFrom::Current);
  return n;
}

// With flag bit 3 the local header's CRC may be 0: the real one is in the data descriptor
// after the data, with or without its own signature.
uint32_t DescriptorCrc() {
  uint8_t bytes[16];
  const unsigned n = PeekBytes(bytes);
  if (n >= 8 && Le32(bytes) == DESCRIPTOR_SIG) return Le32(bytes + 4);
  if (n >= 12) return Le32(bytes);
  return g_engine.entry.crc;
}

// A stored entry with flag bit 3 and size 0 is either empty or streamed with its sizes left
// to the descriptor; only an empty one is directly followed by a descriptor of size 0.
bool EmptyDescriptorFollows() {
  uint8_t bytes[16];
  const unsigned n = PeekBytes(bytes);
  if (n >= 16 && Le32(bytes) == DESCRIPTOR_SIG) return Le32(bytes + 4) == 0 && Le32(bytes + 8) == 0;
  if (n >= 12) return Le32(bytes) == 0 && Le32(bytes + 4) == 0 && Le32(bytes + 8) == 0;
  return false;
}

void CreateOutputFile() {
  // A UTF-8 name has been converted already, folders and all.
  if (g_engine.entry.utf8Name) std::strcpy(g_engine.createdPath, g_engine.entryPath);
  if (g_engine.entry.utf8Name ||
      OemNameToAnsi(g_engine.entryPath, g_engine.createdPath, sizeof g_engine.createdPath))
    g_engine.outputFile = platform::FileCreate(g_engine.createdPath);
  if (g_engine.outputFile == platform::kInvalidFile)
    FailWithMessage(MSG_CANNOT_CREATE_OUTPUT, g_engine.entryPath);
}

// The stored date and time are local time; failures leave the file's own time.
void SetOutputFileTime() {
  platform::FileTime written;
  if (platform::DosDateTimeToUtc(g_engine.entry.date, g_engine.entry.time, &written))
    platform::SetFileTimes(g_engine.outputFile, nullptr, nullptr, &written);
}

void ExtractEntryData() {
  if (!g_engine.testMode) CreateOutputFile();
  if (g_engine.entry.method != zip::kMethodStored && g_engine.entry.method != zip::kMethodDeflated)
    FailWithMessage(MSG_UNKNOWN_COMPRESSION);
  AnnounceEntry(BaseName(g_engine.entryPath));
  // Damaged Deflate data ends the decoding quietly; what was decoded is kept.
  const int decoded = DecodeEntryData();
  if (!g_engine.testMode) {
    SetOutputFileTime();
    platform::FileClose(g_engine.outputFile);
  }
  g_engine.outputFile = platform::kInvalidFile;
  // Data that damaged Deflate input left unread is passed over, so that the walk goes on at
  // the end of the entry and never takes bytes inside its data for a record.
  SkipForward(g_engine.entry.compressedSize);
  g_engine.entry.compressedSize = 0;
  const uint32_t crc = ~g_stream.crc;
  if (g_engine.job->reportCrcErrors != 1) return;
  const uint32_t expected = g_engine.entry.descriptor ? DescriptorCrc() : g_engine.entry.crc;
  if (crc != expected) FailWithMessage(MSG_BAD_CRC, g_engine.entryPath, crc, expected);
  // Invalid Deflate data whose output still matches the CRC (an empty entry's, say) is damage
  // all the same for a caller who asked to hear of damage.
  if (decoded != INFLATE_OK) FailWithMessage(MSG_BAD_COMPRESSED_DATA, g_engine.entryPath);
}

// Reads the entry's 12-byte encryption header and takes it off the remaining compressed size;
// true when the password in force opens it.
bool CheckEncryptionHeader() {
  uint8_t header[kEncryptionHeaderSize];
  ReadExactly(header, sizeof header);
  g_engine.entry.compressedSize -= kEncryptionHeaderSize;
  return TestPassword(header) == 0;
}

// Each record routine finds the signature in raw[0..3] and reads the rest of the record's
// fixed part behind it; raw has room for the largest.
void ProcessLocalEntry(uint8_t* raw) {
  namespace at = zip::local;
  ReadExactly(raw + 4, at::kSize - 4);
  EntryHeader& entry = g_engine.entry;
  entry.versionNeeded = Le16(raw + at::kVersionNeeded);
  entry.flags = Le16(raw + at::kFlags);
  entry.method = Le16(raw + at::kMethod);
  entry.time = Le16(raw + at::kTime);
  entry.date = Le16(raw + at::kDate);
  entry.crc = Le32(raw + at::kCrc);
  entry.compressedSize = Le32(raw + at::kCompressedSize);
  entry.uncompressedSize = Le32(raw + at::kUncompressedSize);
  entry.nameLength = Le16(raw + at::kNameLength);
  entry.extraLength = Le16(raw + at::kExtraLength);
  entry.encrypted = (entry.flags & zip::kFlagEncrypted) != 0;
  entry.descriptor = (entry.flags & zip::kFlagDescriptor) != 0;
  entry.utf8Name = (entry.flags & zip::kFlagUtf8Name) != 0;
  const uint32_t storedSize = entry.compressedSize;

  NameInfo name = ReadEntryName(entry.nameLength);
  ReadExtraField(entry.extraLength, &name.last);

  // An empty name cannot name a file: such an entry is passed over like a folder entry.
  bool take = entry.nameLength > 0 && !IsSeparator(name.last);
  if (take && entry.uncompressedSize == 0 && g_engine.job->skipEmptyEntries) take = false;
  const bool listing = g_engine.job->listOnly != 0;
  if (take && (!g_engine.testMode || listing) && !IsSelected(name.tooLong)) take = false;
  if (take && listing) {
    ListEntry();
    take = false;
  }
  if (take) {
    if (name.tooLong) FailWithMessage(MSG_NAME_TOO_LONG, g_engine.entryPath);
    // Never written under a mangled name: one the code page cannot hold is refused.
    if (entry.utf8Name && !g_engine.testMode &&
        !platform::Utf8TextToAnsi(g_engine.entryPath, sizeof g_engine.entryPath))
      FailWithMessage(MSG_NAME_NOT_IN_CODE_PAGE, g_engine.entryPath);
    if (!g_engine.testMode) BuildOutputPath();
    // A streaming zipper leaves the sizes to the data descriptor; the walk cannot find the
    // end of such data (empty Deflate data is never valid, nor is an empty encrypted entry).
    if (entry.descriptor && entry.compressedSize == 0 &&
        (entry.method != 0 || entry.encrypted || !EmptyDescriptorFollows()))
      FailWithMessage(MSG_STREAMED_ENTRY, g_engine.entryPath);
    if (entry.encrypted && entry.compressedSize < kEncryptionHeaderSize)
      FailWithMessage(MSG_SHORT_ENCRYPTED_ENTRY, g_engine.entryPath);
    if (entry.encrypted && !CheckEncryptionHeader())
      FailWithText(g_crypt.ArchivePassword ? "INCORRECT PASSWORD" : "NO PASSWORD");
    ExtractEntryData();
  } else {
    SkipForward(storedSize);
  }
  if (entry.descriptor) SkipForward(zip::descriptor::kSizeWithSignature);
}

void SkipCentralHeader(uint8_t* raw) {
  namespace at = zip::central;
  ReadExactly(raw + 4, at::kSize - 4);
  ReadEntryName(Le16(raw + at::kNameLength));
  SkipForward(Le16(raw + at::kExtraLength));
  SkipForward(Le16(raw + at::kCommentLength));
}

void ReadEndRecord(uint8_t* raw) {
  ReadExactly(raw + 4, zip::end::kSize - 4);
  SkipForward(Le16(raw + zip::end::kCommentLength));
}

bool IsKnownSignature(uint32_t signature) {
  return signature == LOCAL_HEADER_SIG || signature == CENTRAL_HEADER_SIG ||
         signature == END_RECORD_SIG;
}

}  // namespace

const char* BaseName(const char* path) {
  const size_t length = std::strlen(path);
  for (size_t i = length; i-- > 1;)
    if (IsSeparator(path[i])) return path + i + 1;
  return path;
}

bool OemNameToAnsi(const char* path, char* out, unsigned capacity) {
  const size_t length = std::strlen(path);
  if (length + 1 > capacity) return false;
  std::memcpy(out, path, length + 1);
  size_t start = 0;
  for (size_t i = length; i-- > 0;) {
    if (out[i] == '\\') {
      start = i + 1;
      break;
    }
  }
  return platform::OemTextToAnsi(out + start, capacity - start);
}

int TestPassword(const uint8_t header[kEncryptionHeaderSize]) {
  // With a data descriptor the CRC may not be known when the header is written, so the
  // modification time stands in for it.
  const EntryHeader& entry = g_engine.entry;
  const uint8_t check = entry.descriptor ? static_cast<uint8_t>(entry.time >> 8)
                                         : static_cast<uint8_t>(entry.crc >> 24);
  return HeaderMatches(header, check) ? 0 : -1;
}

bool IsSafeRelativeName(const char* name) {
  if (name[0] == '\0' || IsSeparator(name[0])) return false;
  if (name[1] == ':') return false;  // a drive letter, with or without a folder after it
  for (const char* component = name; *component;) {
    const char* end = component;
    while (*end && !IsSeparator(*end)) ++end;
    if (end - component == 2 && component[0] == '.' && component[1] == '.') return false;
    component = *end ? end + 1 : end;
  }
  return true;
}

bool ResyncToSignature() {
  const int file = g_engine.archiveFile;
  if ((g_engine.entry.flags & zip::kFlagDescriptor) &&
      platform::FileSeek(file, -17, SeekFrom::Current) < 0)
    return false;
  for (;;) {
    if (platform::FileSeek(file, -3, SeekFrom::Current) < 0) return false;
    uint8_t raw[4];
    if (platform::FileRead(file, raw, 4) != 4) return false;
    if (IsKnownSignature(Le32(raw))) return platform::FileSeek(file, -4, SeekFrom::Current) >= 0;
  }
}

void WalkRecords() {
  for (;;) {
    uint8_t raw[zip::central::kSize];
    ReadExactly(raw, 4);
    // Records lie within the 4 GiB that 32-bit sizes and offsets describe. (An archive read
    // from a pipe has no position to ask for.)
    const int64_t at = platform::FileSeek(g_engine.archiveFile, 0, SeekFrom::Current);
    if (at - 4 > kLastRecordStart) FailBeyond4GiB();
    switch (Le32(raw)) {
      case LOCAL_HEADER_SIG:
        ProcessLocalEntry(raw);
        break;
      case CENTRAL_HEADER_SIG:
        SkipCentralHeader(raw);
        break;
      case END_RECORD_SIG:
        ReadEndRecord(raw);
        return;
      default:
        if (!ResyncToSignature()) FailWithMessage(MSG_INVALID_HEADER);
    }
  }
}
