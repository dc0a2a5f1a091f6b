// The payload's ZIP records, local headers, central directory headers and the end record, as
// the format module lays them out; without data descriptors, extra fields or comments.
#include "tools/kxmedium_zipwriter.h"

#include "tools/kxmedium_crypt.h"
#include "tools/kxmedium_deflate.h"
#include "tools/kxmedium_os.h"

#include "extract/crc32.h"
#include "extract/zip_format.h"
#include "platform/platform.h"

#include <algorithm>

namespace kxmedium {

namespace {

using zip::kFlagEncrypted;
using zip::kFlagMaximum;
using zip::kMethodDeflated;
using zip::kMethodStored;
constexpr uint16_t kVersion = 20;  // 2.0: Deflate and traditional encryption; host MS-DOS
constexpr uint32_t kAttributeArchive = 0x20;  // MS-DOS attribute byte of a plain file
constexpr size_t kHeaderSize = zip::kEncryptionHeaderSize;

void Put16(std::vector<uint8_t>& out, uint16_t value) { zip::AppendLe16(out, value); }
void Put32(std::vector<uint8_t>& out, uint32_t value) { zip::AppendLe32(out, value); }

// The fields that local and central headers share, from "version needed" to "extra length".
void PutCommon(std::vector<uint8_t>& out, const ZipEntryInfo& entry) {
  Put16(out, kVersion);
  Put16(out, entry.flags);
  Put16(out, entry.method);
  Put16(out, entry.dosTime);
  Put16(out, entry.dosDate);
  Put32(out, entry.crc);
  Put32(out, entry.compressedSize);
  Put32(out, entry.size);
  Put16(out, static_cast<uint16_t>(entry.name.size()));
  Put16(out, 0);
}

}  // namespace

ZipWriter::ZipWriter(std::string path, std::string password, bool storeOnly)
    : path_(std::move(path)), password_(std::move(password)), storeOnly_(storeOnly) {}

ZipWriter::~ZipWriter() {
  file_.Reset();  // closed before an unfinished archive is deleted
  if (!finished_) platform::FileDelete(path_.c_str());
}

bool ZipWriter::Open(std::string* error) {
  file_.Reset(platform::FileCreate(path_.c_str()));
  if (!file_) {
    *error = "cannot create " + path_ + ": " + SystemReason();
    return false;
  }
  return true;
}

bool ZipWriter::Write(const std::vector<uint8_t>& bytes, std::string* error) {
  if (offset_ + bytes.size() > kMaxArchiveSize) {
    *error = path_ + " would reach 2 GiB, more than the setup can read";
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const unsigned piece =
        static_cast<unsigned>(std::min<size_t>(bytes.size() - done, platform::kMaxTransfer));
    if (platform::FileWrite(file_.get(), bytes.data() + done, piece) != piece) {
      *error = "error writing to " + path_ + ": " + SystemReason();
      return false;
    }
    done += piece;
  }
  offset_ += bytes.size();
  return true;
}

bool ZipWriter::AddEntry(const std::string& name, std::span<const uint8_t> data, uint16_t dosDate,
                         uint16_t dosTime, std::string* error) {
  if (entries_.size() >= kMaxEntries) {
    *error = "more than 65535 files in the payload";
    return false;
  }
  if (data.size() > kMaxArchiveSize || name.size() > 0xFFFF) {
    *error = name + " is too large for the payload archive";
    return false;
  }
  ZipEntryInfo entry;
  entry.name = name;
  entry.dosDate = dosDate;
  entry.dosTime = dosTime;
  entry.size = static_cast<uint32_t>(data.size());
  entry.crc = Crc32(data.data(), data.size());
  entry.localOffset = static_cast<uint32_t>(offset_);

  std::vector<uint8_t> body(kHeaderSize);
  if (!MakeEncryptionHeader(entry.crc, body.data())) {
    *error = "the system's random source failed";
    return false;
  }
  std::vector<uint8_t> deflated;
  if (!storeOnly_ && DeflateSmaller(data, &deflated)) {
    entry.method = kMethodDeflated;
    entry.flags = kFlagEncrypted | kFlagMaximum;
    body.insert(body.end(), deflated.begin(), deflated.end());
  } else {
    entry.method = kMethodStored;
    entry.flags = kFlagEncrypted;
    body.insert(body.end(), data.begin(), data.end());
  }
  if (body.size() > kMaxArchiveSize) {
    *error = name + " is too large for the payload archive";
    return false;
  }
  entry.compressedSize = static_cast<uint32_t>(body.size());
  ZipEncryptor(password_).Encrypt(body.data(), body.size());

  std::vector<uint8_t> header;
  Put32(header, LOCAL_HEADER_SIG);
  PutCommon(header, entry);
  header.insert(header.end(), name.begin(), name.end());
  if (!Write(header, error) || !Write(body, error)) return false;
  entries_.push_back(entry);
  return true;
}

bool ZipWriter::Finish(std::string* error) {
  const uint64_t directoryOffset = offset_;
  std::vector<uint8_t> directory;
  for (const ZipEntryInfo& entry : entries_) {
    Put32(directory, CENTRAL_HEADER_SIG);
    Put16(directory, kVersion);  // made by: version 2.0 on MS-DOS (host byte 0)
    PutCommon(directory, entry);
    Put16(directory, 0);  // comment length
    Put16(directory, 0);  // disk number start
    Put16(directory, 0);  // internal attributes
    Put32(directory, kAttributeArchive);
    Put32(directory, entry.localOffset);
    directory.insert(directory.end(), entry.name.begin(), entry.name.end());
  }
  std::vector<uint8_t> end;
  Put32(end, END_RECORD_SIG);
  Put16(end, 0);  // this disk
  Put16(end, 0);  // disk with the central directory
  Put16(end, static_cast<uint16_t>(entries_.size()));
  Put16(end, static_cast<uint16_t>(entries_.size()));
  Put32(end, static_cast<uint32_t>(directory.size()));
  Put32(end, static_cast<uint32_t>(directoryOffset));
  Put16(end, 0);  // comment length
  if (!Write(directory, error) || !Write(end, error)) return false;
  file_.Reset();
  finished_ = true;
  return true;
}

}  // namespace kxmedium
