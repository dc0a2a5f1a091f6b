// End of central directory record (22 bytes plus a comment of up to 65535 bytes, found by
// searching backwards from the end), central directory headers (46 bytes plus name, extra
// field and comment) and local headers (30 bytes plus name), per the ZIP application note.
// Every length read from the file is checked against the bytes actually there.
#include "tools/kxmedium_zipdir.h"

#include "platform/platform.h"

#include <algorithm>

namespace kxmedium {

namespace {

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr size_t kEndSize = 22;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;
constexpr size_t kMaxComment = 0xFFFF;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) { return Get16(p) | (static_cast<uint32_t>(Get16(p + 2)) << 16); }

// Reads count bytes at offset; false unless all of them arrive.
bool ReadAt(int file, uint64_t offset, size_t count, std::vector<uint8_t>* out) {
  out->assign(count, 0);
  if (offset > 0x7FFFFFFF ||
      platform::FileSeek(file, static_cast<long>(offset), platform::SeekFrom::Begin) < 0)
    return false;
  size_t done = 0;
  while (done < count) {
    const unsigned piece =
        static_cast<unsigned>(std::min<size_t>(count - done, platform::kMaxTransfer));
    const unsigned got = platform::FileRead(file, out->data() + done, piece);
    if (got == platform::kIoError || got == 0) return false;
    done += got;
  }
  return true;
}

bool ReadDirectory(int file, uint64_t fileSize, std::vector<DirectoryEntry>* entries,
                   std::string* error) {
  if (fileSize < kEndSize) {
    *error = "too short to be a ZIP archive";
    return false;
  }
  const uint64_t tailSize = std::min<uint64_t>(fileSize, kEndSize + kMaxComment);
  const uint64_t tailStart = fileSize - tailSize;
  std::vector<uint8_t> tail;
  if (!ReadAt(file, tailStart, static_cast<size_t>(tailSize), &tail)) {
    *error = "cannot read its end";
    return false;
  }
  // The last end record whose comment reaches exactly to the end of the file.
  size_t end = tail.size() - kEndSize + 1;
  bool found = false;
  while (end-- > 0) {
    if (Get32(&tail[end]) == kEndSignature &&
        end + kEndSize + Get16(&tail[end + 20]) == tail.size()) {
      found = true;
      break;
    }
  }
  if (!found) {
    *error = "no end of central directory record";
    return false;
  }
  const uint8_t* record = &tail[end];
  const uint16_t count = Get16(record + 10);
  const uint32_t directorySize = Get32(record + 12);
  const uint32_t directoryOffset = Get32(record + 16);
  const uint64_t endOffset = tailStart + end;
  if (Get16(record + 4) != 0 || Get16(record + 6) != 0 || Get16(record + 8) != count) {
    *error = "a multi-disk archive";
    return false;
  }
  if (static_cast<uint64_t>(directoryOffset) + directorySize > endOffset) {
    *error = "its central directory lies outside the file";
    return false;
  }
  std::vector<uint8_t> directory;
  if (!ReadAt(file, directoryOffset, directorySize, &directory)) {
    *error = "cannot read its central directory";
    return false;
  }
  size_t at = 0;
  for (unsigned i = 0; i < count; ++i) {
    if (directory.size() - at < kCentralSize || Get32(&directory[at]) != kCentralSignature) {
      *error = "central directory entry " + std::to_string(i + 1) + " is damaged";
      return false;
    }
    const uint8_t* h = &directory[at];
    const size_t nameLength = Get16(h + 28);
    const size_t recordSize = kCentralSize + nameLength + Get16(h + 30) + Get16(h + 32);
    if (directory.size() - at < recordSize) {
      *error = "central directory entry " + std::to_string(i + 1) + " runs past its end";
      return false;
    }
    DirectoryEntry entry;
    entry.flags = Get16(h + 8);
    entry.method = Get16(h + 10);
    entry.compressedSize = Get32(h + 20);
    entry.size = Get32(h + 24);
    entry.localOffset = Get32(h + 42);
    entry.name.assign(reinterpret_cast<const char*>(h + kCentralSize), nameLength);
    std::vector<uint8_t> local;
    if (entry.localOffset < endOffset &&
        ReadAt(file, entry.localOffset, kLocalSize + nameLength, &local)) {
      entry.localHeaderMatches =
          Get32(local.data()) == kLocalSignature &&
          (Get16(local.data() + 6) & 1) == (entry.flags & 1) &&
          Get16(local.data() + 26) == nameLength &&
          std::equal(entry.name.begin(), entry.name.end(), local.begin() + kLocalSize);
    }
    entries->push_back(std::move(entry));
    at += recordSize;
  }
  return true;
}

}  // namespace

bool ReadZipDirectory(const std::string& path, std::vector<DirectoryEntry>* entries,
                      std::string* error) {
  entries->clear();
  platform::FindData data;
  if (!platform::FindFirst(path.c_str(), &data) || data.isFolder) {
    *error = "not found";
    return false;
  }
  const int file = platform::FileOpenRead(path.c_str());
  if (file == platform::kInvalidFile) {
    *error = "cannot be opened";
    return false;
  }
  const bool ok = ReadDirectory(file, data.sizeLow, entries, error);
  platform::FileClose(file);
  return ok;
}

}  // namespace kxmedium
