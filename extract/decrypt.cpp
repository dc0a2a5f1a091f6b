// The key primitives of the traditional ZIP encryption (as the ZIP application note defines
// them) and the per-entry header check that starts an encrypted entry's keystream.
#include "extract/decrypt.h"

#include "extract/crc32.h"
#include "extract/engine.h"
#include "extract/stream.h"

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

void UpdateKeys(uint8_t plain) {
  CryptKeys& k = g_crypt.keys;
  k.key0 = kCrc32Table[(k.key0 ^ plain) & 0xFF] ^ (k.key0 >> 8);
  k.key1 = (k.key1 + (k.key0 & 0xFF)) * 134775813u + 1;
  k.key2 = kCrc32Table[(k.key2 ^ (k.key1 >> 24)) & 0xFF] ^ (k.key2 >> 8);
}

uint8_t DecryptByte() {
  const uint32_t t = (g_crypt.keys.key2 | 2) & 0xFFFF;
  return static_cast<uint8_t>(((t * (t ^ 1)) & 0xFFFF) >> 8);
}

void DecryptBuffer(uint8_t* bytes, unsigned count) {
  uint32_t key0 = g_crypt.keys.key0, key1 = g_crypt.keys.key1, key2 = g_crypt.keys.key2;
  for (unsigned i = 0; i < count; ++i) DecryptStep(bytes + i, key0, key1, key2);
  g_crypt.keys = {key0, key1, key2};
}

void InitKeys(const char* password) {
  g_crypt.keys = {0x12345678u, 0x23456789u, 0x34567890u};
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(password); *p; ++p)
    UpdateKeys(*p);
}

int TestPassword(const uint8_t header[kEncryptionHeaderSize]) {
  InitKeys(g_crypt.ArchivePassword);
  uint8_t plain = 0;
  for (unsigned i = 0; i < kEncryptionHeaderSize; ++i) {
    plain = header[i] ^ DecryptByte();
    UpdateKeys(plain);
  }
  // With a data descriptor the CRC may not be known when the header is written, so the
  // modification time stands in for it.
  const EntryHeader& entry = g_engine.entry;
  const uint8_t expected = entry.descriptor ? static_cast<uint8_t>(entry.time >> 8)
                                            : static_cast<uint8_t>(entry.crc >> 24);
  return plain == expected ? 0 : -1;
}

int CheckEncryptionHeader() {
  uint8_t header[kEncryptionHeaderSize];
  if (platform::FileRead(g_engine.archiveFile, header, sizeof header) != sizeof header)
    ReportReadError();
  g_engine.entry.compressedSize -= kEncryptionHeaderSize;
  if (!g_crypt.ArchivePassword) return 0;
  return TestPassword(header) == 0 ? 1 : 0;
}
