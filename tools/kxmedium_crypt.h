// Traditional PKWARE encryption, the writing side of what the engine decrypts: three keys
// started from fixed values, fed the password, then advanced by every plain byte written.
// The key schedule is the ZIP format module's; the built-in payload password,
// kBuiltInPassword, is the engine's (extract/decrypt.h).
#pragma once

#include "extract/decrypt.h"
#include "extract/zip_format.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kxmedium {

class ZipEncryptor {
 public:
  explicit ZipEncryptor(std::string_view password);
  // Encrypts in place, advancing the keys by each plain byte.
  void Encrypt(uint8_t* data, size_t count);

 private:
  zip::CryptKeys keys_;
};

// The 12-byte encryption header in plain form: eleven random bytes, then the check byte, the
// high byte of the entry's CRC-32. False when the random source fails.
bool MakeEncryptionHeader(uint32_t crc, uint8_t header[12]);

}  // namespace kxmedium
