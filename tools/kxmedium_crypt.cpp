// Traditional ZIP encryption on the writing side, over the ZIP format module's key schedule,
// and the random encryption header of each entry.
#include "tools/kxmedium_crypt.h"

#include "tools/kxmedium_os.h"

namespace kxmedium {

ZipEncryptor::ZipEncryptor(std::string_view password) {
  for (const char c : password) zip::UpdateKeys(keys_, static_cast<uint8_t>(c));
}

void ZipEncryptor::Encrypt(uint8_t* data, size_t count) {
  for (size_t i = 0; i < count; ++i) data[i] = zip::EncryptByte(keys_, data[i]);
}

bool MakeEncryptionHeader(uint32_t crc, uint8_t header[12]) {
  if (!RandomBytes(header, 11)) return false;
  header[11] = static_cast<uint8_t>(crc >> 24);
  return true;
}

}  // namespace kxmedium
