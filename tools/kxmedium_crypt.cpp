// Key schedule of traditional ZIP encryption (ZIP application note, section on traditional
// encryption), using the engine's CRC-32 table for the two CRC steps.
#include "tools/kxmedium_crypt.h"

#include "tools/kxmedium_os.h"

#include "extract/crc32.h"

namespace kxmedium {

ZipEncryptor::ZipEncryptor(std::string_view password) {
  for (const char c : password) UpdateKeys(static_cast<uint8_t>(c));
}

void ZipEncryptor::UpdateKeys(uint8_t plain) {
  key0_ = kCrc32Table[(key0_ ^ plain) & 0xFF] ^ (key0_ >> 8);
  key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1;
  key2_ = kCrc32Table[(key2_ ^ (key1_ >> 24)) & 0xFF] ^ (key2_ >> 8);
}

uint8_t ZipEncryptor::KeystreamByte() const {
  const uint32_t t = (key2_ | 2) & 0xFFFF;
  return static_cast<uint8_t>(((t * (t ^ 1)) & 0xFFFF) >> 8);
}

void ZipEncryptor::Encrypt(uint8_t* data, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t plain = data[i];
    data[i] = plain ^ KeystreamByte();
    UpdateKeys(plain);
  }
}

bool MakeEncryptionHeader(uint32_t crc, uint8_t header[12]) {
  if (!RandomBytes(header, 11)) return false;
  header[11] = static_cast<uint8_t>(crc >> 24);
  return true;
}

}  // namespace kxmedium
