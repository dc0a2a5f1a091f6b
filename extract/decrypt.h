// Traditional PKWARE ZIP decryption in the engine: the password in force (the built-in
// payload password unless a job brings its own), the keys of the entry being read, and the
// check of an entry's 12-byte encryption header. Pure computation: the header is read, and
// the data decrypted chunk by chunk, by the stream and the walker.
#pragma once

#include "extract/zip_format.h"

#include <cstdint>

constexpr unsigned kEncryptionHeaderSize = zip::kEncryptionHeaderSize;

// The payload password: 44 Windows-1252 bytes, the copyright sign being the single byte 0xA9.
inline constexpr char kBuiltInPassword[] = "Trademark\xA9 1990-1996 Quillon Data Works, Ltd";
static_assert(sizeof kBuiltInPassword == 45);

using CryptKeys = zip::CryptKeys;

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

// The keys in force: started from password, advanced by a plain byte, and the keystream byte.
void InitKeys(const char* password);
void UpdateKeys(uint8_t plain);
uint8_t DecryptByte();

// One byte decrypted in place with keys the caller holds in locals (registers), the way the
// hot loops keep them.
inline void DecryptStep(uint8_t* byte, uint32_t& key0, uint32_t& key1, uint32_t& key2) {
  const uint8_t plain = *byte ^ zip::KeystreamByte(key2);
  *byte = plain;
  zip::UpdateKeys(key0, key1, key2, plain);
}

// Decrypts count bytes in place with the keys in force.
void DecryptBuffer(uint8_t* bytes, unsigned count);

// Starts the keys in force from ArchivePassword and decrypts an entry's 12-byte header with
// them: true when its last byte is checkByte (the keys are then ready for the data), false
// when it is not or there is no password.
bool HeaderMatches(const uint8_t header[kEncryptionHeaderSize], uint8_t checkByte);
