// Traditional PKWARE ZIP decryption: the three keys, the password in force (the built-in
// payload password unless a job brings its own) and the check of an entry's 12-byte
// encryption header. The entry's data is decrypted chunk by chunk by FillInputBuffer.
#pragma once

#include "extract/crc32.h"

#include <cstdint>

constexpr unsigned kEncryptionHeaderSize = 12;

// The payload password: 44 Windows-1252 bytes, the copyright sign being the single byte 0xA9.
inline constexpr char kBuiltInPassword[] = "Trademark\xA9 1990-1996 Quillon Data Works, Ltd";
static_assert(sizeof kBuiltInPassword == 45);

struct CryptKeys {
  uint32_t key0 = 0;
  uint32_t key1 = 0;
  uint32_t key2 = 0;
};

struct CryptState {
  CryptKeys keys;
  // The password in force (ArchivePassword), or null for none. Bytes are used as stored.
  const char* ArchivePassword = kBuiltInPassword;
  char* jobCopy = nullptr;  // a job's password, once one has replaced the built-in text
};

extern CryptState g_crypt;

// Replaces ArchivePassword with a copy of password for the rest of the process; false when
// the copy cannot be allocated.
bool SetArchivePassword(const char* password);

void InitKeys(const char* password);
void UpdateKeys(uint8_t plain);
uint8_t DecryptByte();

// One byte decrypted in place with keys the caller holds (in registers): c XOR DecryptByte(),
// then UpdateKeys of the plain byte. The chain from one byte to the next limits the speed, so
// key1's product is split: key1 * 134775813 + 1 does not wait for the new key0, only
// (key0 AND 0xFF) * 134775813 does.
inline void DecryptStep(uint8_t* byte, uint32_t& key0, uint32_t& key1, uint32_t& key2) {
  const uint32_t t = (key2 | 2) & 0xFFFF;
  const uint8_t plain = *byte ^ static_cast<uint8_t>((t * (t ^ 1)) >> 8);
  *byte = plain;
  const uint32_t key1Part = key1 * 134775813u + 1;
  key0 = kCrc32Table[(key0 ^ plain) & 0xFF] ^ (key0 >> 8);
  key1 = key1Part + (key0 & 0xFF) * 134775813u;
  key2 = kCrc32Table[(key2 ^ (key1 >> 24)) & 0xFF] ^ (key2 >> 8);
}

// Decrypts count bytes in place, each as DecryptStep does, with the keys in force.
void DecryptBuffer(uint8_t* bytes, unsigned count);

// Reads the entry's 12-byte header from the archive, takes it off the remaining compressed
// size and answers 1 when the password in force decrypts its check byte correctly (the keys
// are then ready for the data), 0 when it does not or there is no password.
int CheckEncryptionHeader();

// 0 when the check byte of the header decrypted with ArchivePassword matches the entry, -1
// otherwise.
int TestPassword(const uint8_t header[kEncryptionHeaderSize]);
