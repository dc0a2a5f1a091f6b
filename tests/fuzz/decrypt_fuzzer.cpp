// Fuzz target: traditional decryption and the stored and deflated entry paths under random
// passwords. The input chooses the passwords, the entry's form and its plain bytes; the
// target encrypts them itself (with the tests' ZIP builder) into a one-entry archive and runs
// the engine on it with a password of the input's choosing. The right password must give back the
// plain bytes, a wrong one must be refused (or, when the check byte matches by chance, end as a CRC
// error), an encrypted entry too short for its header must be refused, and raw bytes as the entry's
// data must never break the run.
#include "extract/extract.h"
#include "extract/zip_format.h"
#include "tests/extract/zip_builder.h"
#include "tests/fuzz/fuzz_support.h"
#include "ui/messages.h"

#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// Option bits of the input's first byte.
constexpr uint8_t kWrongPassword = 0x01;  // extract with the second password
constexpr uint8_t kDescriptor = 0x02;     // flag bit 3: the check byte is the time's high byte
constexpr uint8_t kDeflated = 0x04;       // method 8, the plain bytes deflated by zlib
constexpr uint8_t kRawData = 0x08;        // the rest of the input is the entry's data as stored
constexpr uint8_t kShortSize = 0x10;      // a compressed size below the 12 header bytes
constexpr uint8_t kExtract = 0x20;        // extract into a folder instead of test mode

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
  // A password of up to 63 bytes, with no NUL inside.
  std::string Password() {
    std::string text;
    for (unsigned n = Byte() % 64; n > 0; --n) text.push_back(static_cast<char>(Byte()));
    for (char& c : text)
      if (c == '\0') c = '\x01';
    return text;
  }
  std::vector<uint8_t> Rest() {
    std::vector<uint8_t> rest(data_ + position_, data_ + size_);
    position_ = size_;
    return rest;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

std::vector<uint8_t> RawDeflate(const std::vector<uint8_t>& plain, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&z, plain.size()) + 16);
  z.next_in = const_cast<Bytef*>(plain.data());
  z.avail_in = static_cast<uInt>(plain.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&z, Z_FINISH);
  FUZZ_CHECK(status == Z_STREAM_END, "zlib could not deflate");
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

constexpr char kEntryName[] = "file.bin";

bool SameKeys(const std::string& a, const std::string& b) {
  const zip::CryptKeys x = zip::KeysForPassword(a.c_str()), y = zip::KeysForPassword(b.c_str());
  return x.key0 == y.key0 && x.key1 == y.key1 && x.key2 == y.key2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 18)) return 0;
  namespace fs = std::filesystem;
  Reader in(data, size);
  const uint8_t options = in.Byte();
  const std::string encryptedWith = in.Password();
  const std::string extractedWith = (options & kWrongPassword) ? in.Password() : encryptedWith;
  const uint8_t timeLow = in.Byte();
  const uint16_t time = static_cast<uint16_t>(timeLow | in.Byte() << 8);
  uint8_t header[12];
  for (uint8_t& b : header) b = in.Byte();
  const std::vector<uint8_t> plain = in.Rest();

  const uint32_t crc =
      static_cast<uint32_t>(crc32(0, plain.data(), static_cast<uInt>(plain.size())));
  zipbuild::Entry entry = zipbuild::Stored(kEntryName, std::string(plain.begin(), plain.end()));
  entry.Stamp(0x5A21, time).Crc(crc).flags |= zip::kFlagEncrypted;
  if (options & kDescriptor) entry.Streamed(zip::descriptor::kSizeWithSignature);
  if (options & kDeflated) entry.Method(zip::kMethodDeflated);
  uint32_t compressedSize = static_cast<uint32_t>(plain.size());
  if (options & kRawData) {
    entry.Data(entry.plain);
  } else {
    const std::vector<uint8_t> stored =
        (options & kDeflated) ? RawDeflate(plain, 1 + header[0] % 9) : plain;
    header[11] = static_cast<uint8_t>((options & kDescriptor) ? time >> 8 : crc >> 24);
    entry.Data(zipbuild::Encrypt(encryptedWith, std::string(header, header + 12),
                                 std::string(stored.begin(), stored.end())));
    compressedSize = static_cast<uint32_t>(entry.data.size());
    if (options & kShortSize) compressedSize = header[1] % 12;  // no room for the header
    entry.data.resize(compressedSize);
  }
  entry.Sizes(compressedSize, plain.size());
  const std::string archive = zipbuild::LocalRecord(entry) + zipbuild::EndRecord(0, 0, 0);

  const fs::path root = fs::path(fuzz::ScratchRoot()) / "decrypt";
  const fs::path archivePath = root / "input.zip";
  const fs::path output = root / "out";
  fs::remove_all(output);
  fs::create_directories(output);
  fuzz::WriteWholeFile(archivePath.string(), reinterpret_cast<const uint8_t*>(archive.data()),
                       archive.size());
  fuzz::Observed& seen = fuzz::StartObserving();
  const int descriptorsBefore = fuzz::OpenDescriptorCount();

  const std::string outputText = output.string();
  ExtractJob job{};
  job.archivePath = archivePath.c_str();
  job.outputFolder = (options & kExtract) ? outputText.c_str() : nullptr;
  job.reportCrcErrors = 1;
  job.hasPassword = 1;
  job.password = extractedWith.c_str();
  const int returned = ExtractArchive(&job);

  fuzz::CheckRunOutcome(returned, job, seen, archive.size());
  FUZZ_CHECK(fuzz::OpenDescriptorCount() == descriptorsBefore,
             "the run left a file descriptor open");
  if (options & kRawData) return 0;

  const std::string box = seen.boxes.empty() ? "" : seen.boxes.front();
  const auto shows = [&box](unsigned id) {
    const std::string text = LoadMessageText(id);
    const std::string prefix = text.substr(0, text.find('%'));
    return box.compare(0, prefix.size(), prefix) == 0;
  };
  if (options & kShortSize) {
    // With flag bit 3 and no size at all, the entry may be refused as a streamed one first.
    const bool streamed = (options & kDescriptor) && compressedSize == 0;
    FUZZ_CHECK(job.result == EXTRACT_ERROR &&
                   (shows(MSG_SHORT_ENCRYPTED_ENTRY) || (streamed && shows(MSG_STREAMED_ENTRY))),
               "an encrypted entry of %u bytes ended with result %d and \"%s\"", compressedSize,
               static_cast<int>(job.result), box.c_str());
    return 0;
  }
  if (SameKeys(encryptedWith, extractedWith)) {
    FUZZ_CHECK(job.result == EXTRACT_OK, "the right password failed with \"%s\"", box.c_str());
    if (options & kExtract) {
      const std::string written = fuzz::ReadWholeFile((output / kEntryName).string());
      FUZZ_CHECK(std::equal(written.begin(), written.end(), plain.begin(), plain.end(),
                            [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }),
                 "the extracted file differs from the plain bytes");
    }
  } else if (job.result == EXTRACT_OK) {
    // The check byte matched by chance (one in 256) and the meaningless data happened to
    // give the stored CRC: possible only for an empty entry, whose CRC is 0.
    FUZZ_CHECK(plain.empty(), "a wrong password extracted %zu bytes without an error",
               plain.size());
  } else {
    FUZZ_CHECK(box == "INCORRECT PASSWORD" || shows(MSG_BAD_CRC),
               "a wrong password ended with \"%s\"", box.c_str());
  }
  return 0;
}
