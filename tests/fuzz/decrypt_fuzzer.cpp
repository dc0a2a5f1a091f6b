// Fuzz target: traditional decryption on stored and deflated entries. The input chooses the
// options, the passwords, the time, the encryption header and the plain bytes; the target
// encrypts them (with the tests' ZIP builder) into a one-entry archive and runs the engine
// with a password of its choosing. The right password gives back the plain bytes, a wrong one
// is refused (or, with a check byte right by chance, ends as a CRC error), an entry too short
// for its header is refused, and raw bytes as the entry's data never break the run.
#include "extract/zip_format.h"
#include "tests/extract/zip_builder.h"
#include "tests/fuzz/fuzz_support.h"
#include "ui/messages.h"

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>

namespace {

// Option bits of the input's first byte.
constexpr uint8_t kWrongPassword = 0x01;  // extract with a second password
constexpr uint8_t kDescriptor = 0x02;     // flag bit 3: the check byte is the time's high byte
constexpr uint8_t kDeflated = 0x04;       // method 8, the plain bytes deflated by zlib
constexpr uint8_t kRawData = 0x08;        // the rest of the input is the entry's data as stored
constexpr uint8_t kShortSize = 0x10;      // a compressed size below the 12 header bytes
constexpr uint8_t kExtract = 0x20;        // extract into a folder instead of test mode

// zlib's stream without its two-byte header and four-byte trailer: raw Deflate data.
std::string RawDeflate(const std::string& plain, int level) {
  std::string out(compressBound(static_cast<uLong>(plain.size())), '\0');
  uLongf size = out.size();
  compress2(reinterpret_cast<Bytef*>(out.data()), &size,
            reinterpret_cast<const Bytef*>(plain.data()), plain.size(), level);
  return out.substr(2, size - 6);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 18)) return 0;
  std::string in(reinterpret_cast<const char*>(data), size), header(12, '\0');
  size_t at = 0;
  const auto take = [&in, &at] { return static_cast<uint8_t>(at < in.size() ? in[at++] : 0); };
  const auto password = [&] {  // up to 63 bytes, with no NUL inside
    std::string text;
    for (unsigned n = take() % 64; n > 0; --n)
      text += static_cast<char>(std::max<uint8_t>(take(), 1));
    return text;
  };
  const uint8_t options = take();
  const std::string encryptedWith = password();
  const std::string extractedWith = options & kWrongPassword ? password() : encryptedWith;
  const uint16_t time = static_cast<uint16_t>(take() | take() << 8);
  for (char& b : header) b = static_cast<char>(take());
  const std::string plain = in.substr(at);

  zipbuild::Entry entry = zipbuild::Stored("file.bin", plain);
  entry.Stamp(0x5A21, time).flags |= zip::kFlagEncrypted;
  if (options & kDescriptor) entry.Streamed(zip::descriptor::kSizeWithSignature);
  if (options & kDeflated) entry.Method(zip::kMethodDeflated);
  if (options & kRawData) entry.Sizes(plain.size(), plain.size());
  if (!(options & kRawData)) {
    header[11] =
        static_cast<char>(options & kDescriptor ? time >> 8 : zipbuild::Crc32Of(plain) >> 24);
    entry.Data(zipbuild::Encrypt(
        encryptedWith, header, options & kDeflated ? RawDeflate(plain, 1 + header[0] % 9) : plain));
    if (options & kShortSize) entry.data.resize(static_cast<uint8_t>(header[1]) % 12);
    entry.Sizes(entry.data.size(), plain.size());
  }
  const std::string archive = zipbuild::LocalRecord(entry) + zipbuild::EndRecord(0, 0, 0);

  namespace fs = std::filesystem;
  const fs::path root = fs::path(fuzz::ScratchRoot()) / "decrypt", output = root / "out";
  fs::remove_all(root);
  fs::create_directories(output);
  const std::string archivePath = (root / "input.zip").string(), outputText = output.string();
  fuzz::WriteFile(archivePath, archive.data(), archive.size());
  ExtractJob job{};
  job.archivePath = archivePath.c_str();
  job.outputFolder = options & kExtract ? outputText.c_str() : nullptr;
  job.reportCrcErrors = 1;
  job.hasPassword = 1;
  job.password = extractedWith.c_str();
  const fuzz::Observed& seen = fuzz::RunAndCheck(job, archive.size());
  const std::string box = seen.boxes.empty() ? "" : seen.boxes.front();
  const auto keys = [](const std::string& pw) {
    const zip::CryptKeys k = zip::KeysForPassword(pw.c_str());
    return std::tuple(k.key0, k.key1, k.key2);
  };
  if (options & kRawData) return 0;
  if (options & kShortSize) {
    // With flag bit 3 and no size at all, the entry may be refused as a streamed one first.
    const bool streamed = (options & kDescriptor) && entry.data.empty();
    FUZZ_CHECK(fuzz::Shows(box, MSG_SHORT_ENCRYPTED_ENTRY) ||
                   (streamed && fuzz::Shows(box, MSG_STREAMED_ENTRY)),
               "an encrypted entry of %zu bytes ended with \"%s\"", entry.data.size(), box.c_str());
  } else if (keys(encryptedWith) == keys(extractedWith)) {
    FUZZ_CHECK(job.result == EXTRACT_OK, "the right password failed with \"%s\"", box.c_str());
    std::ifstream file(output / "file.bin", std::ios::binary);
    FUZZ_CHECK(
        !(options & kExtract) || std::string(std::istreambuf_iterator<char>(file), {}) == plain,
        "the extracted file differs from the plain bytes");
  } else {
    // A check byte right by chance (one in 256) gives meaningless data, which can match the
    // stored CRC only when the entry is empty (CRC 0).
    FUZZ_CHECK(job.result == EXTRACT_OK
                   ? plain.empty()
                   : box == "INCORRECT PASSWORD" || fuzz::Shows(box, MSG_BAD_CRC),
               "a wrong password ended with %d, \"%s\"", static_cast<int>(job.result), box.c_str());
  }
  return 0;
}
