// The engine's keys and password in force, over the key schedule of the ZIP format module.
#include "extract/decrypt.h"

#include <cstdlib>
#include <cstring>

CryptState g_crypt;

bool SetArchivePassword(const char* password) {
  const size_t size = std::strlen(password) + 1;
  char* copy = static_cast<char*>(std::malloc(size));
  if (!copy) return false;
  std::memcpy(copy, password, size);
  std::free(g_crypt.jobCopy);
  g_crypt.jobCopy = copy;
  g_crypt.ArchivePassword = copy;
  return true;
}

void InitKeys(const char* password) {
  g_crypt.keys = CryptKeys{};
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(password); *p; ++p)
    UpdateKeys(*p);
}

void UpdateKeys(uint8_t plain) { zip::UpdateKeys(g_crypt.keys, plain); }

uint8_t DecryptByte() { return zip::KeystreamByte(g_crypt.keys); }

void DecryptBuffer(uint8_t* bytes, unsigned count) {
  uint32_t key0 = g_crypt.keys.key0, key1 = g_crypt.keys.key1, key2 = g_crypt.keys.key2;
  for (unsigned i = 0; i < count; ++i) DecryptStep(bytes + i, key0, key1, key2);
  g_crypt.keys = {key0, key1, key2};
}

bool HeaderMatches(const uint8_t header[kEncryptionHeaderSize], uint8_t checkByte) {
  if (!g_crypt.ArchivePassword) return false;
  InitKeys(g_crypt.ArchivePassword);
  uint8_t plain = 0;
  for (unsigned i = 0; i < kEncryptionHeaderSize; ++i) {
    plain = header[i] ^ DecryptByte();
    UpdateKeys(plain);
  }
  return plain == checkByte;
}
