// The end record (found by searching backwards from the end of the file, behind its comment),
// the central directory headers and the local header each one points to, laid out as the
// format module has them. Every length read from the file is checked against the bytes there.
#include "tools/kxmedium_zipdir.h"

#include "extract/zip_format.h"
#include "platform/handles.h"

#include <algorithm>

namespace kxmedium {

namespace {

constexpr size_t kEndSize = zip::end::kSize;
constexpr size_t kCentralSize = zip::central::kSize;
constexpr size_t kLocalSize = zip::local::kSize;
constexpr size_t kMaxComment = zip::end::kMaxComment;
using zip::Le16;
using zip::Le32;

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
    if (Le32(&tail[end]) == END_RECORD_SIG &&
        end + kEndSize + Le16(&tail[end + zip::end::kCommentLength]) == tail.size()) {
      found = true;
      break;
    }
  }
  if (!found) {
    *error = "no end of central directory record";
    return false;
  }
  const uint8_t* record = &tail[end];
  const uint16_t count = Le16(record + zip::end::kEntries);
  const uint32_t directorySize = Le32(record + zip::end::kDirectorySize);
  const uint32_t directoryOffset = Le32(record + zip::end::kDirectoryOffset);
  const uint64_t endOffset = tailStart + end;
  if (Le16(record + zip::end::kDisk) != 0 || Le16(record + zip::end::kDirectoryDisk) != 0 ||
      Le16(record + zip::end::kDiskEntries) != count) {
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
    if (directory.size() - at < kCentralSize || Le32(&directory[at]) != CENTRAL_HEADER_SIG) {
      *error = "central directory entry " + std::to_string(i + 1) + " is damaged";
      return false;
    }
    namespace field = zip::central;
    const uint8_t* h = &directory[at];
    const size_t nameLength = Le16(h + field::kNameLength);
    const size_t recordSize =
        kCentralSize + nameLength + Le16(h + field::kExtraLength) + Le16(h + field::kCommentLength);
    if (directory.size() - at < recordSize) {
      *error = "central directory entry " + std::to_string(i + 1) + " runs past its end";
      return false;
    }
    DirectoryEntry entry;
    entry.flags = Le16(h + field::kFlags);
    entry.method = Le16(h + field::kMethod);
    entry.dosTime = Le16(h + field::kTime);
    entry.dosDate = Le16(h + field::kDate);
    entry.compressedSize = Le32(h + field::kCompressedSize);
    entry.size = Le32(h + field::kUncompressedSize);
    entry.localOffset = Le32(h + field::kLocalOffset);
    entry.name.assign(reinterpret_cast<const char*>(h + kCentralSize), nameLength);
    std::vector<uint8_t> local;
    if (entry.localOffset < endOffset &&
        ReadAt(file, entry.localOffset, kLocalSize + nameLength, &local)) {
      entry.localHeaderMatches =
          Le32(local.data()) == LOCAL_HEADER_SIG &&
          (Le16(local.data() + zip::local::kFlags) & zip::kFlagEncrypted) ==
              (entry.flags & zip::kFlagEncrypted) &&
          Le16(local.data() + zip::local::kNameLength) == nameLength &&
          std::equal(entry.name.begin(), entry.name.end(), local.begin() + kLocalSize,
                     [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
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
  const platform::File file(platform::FileOpenRead(path.c_str()));
  if (!file) {
    *error = "cannot be opened";
    return false;
  }
  return ReadDirectory(file.get(), data.sizeLow, entries, error);
}

}  // namespace kxmedium
