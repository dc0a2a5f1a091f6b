// The ZIP format as this project reads and writes it, written down once: record signatures,
// the layouts and sizes of the local header, central directory header, end record and data
// descriptor, little-endian reads and writes, and the key update of traditional encryption.
// Used by the engine, by kxmedium and by the tests that build archives.
#pragma once

#include "extract/crc32.h"

#include <cstdint>

constexpr uint32_t LOCAL_HEADER_SIG = 0x04034b50;
constexpr uint32_t CENTRAL_HEADER_SIG = 0x02014b50;
constexpr uint32_t END_RECORD_SIG = 0x06054b50;
constexpr uint32_t DESCRIPTOR_SIG = 0x08074b50;  // optional start of a data descriptor

namespace zip {

constexpr uint16_t kFlagEncrypted = 0x0001;   // traditional encryption
constexpr uint16_t kFlagMaximum = 0x0002;     // Deflate option bits: maximum compression
constexpr uint16_t kFlagDescriptor = 0x0008;  // sizes and CRC-32 follow the data
constexpr uint16_t kFlagUtf8Name = 0x0800;    // the name is UTF-8 (else code page 437)
// Info-ZIP's Unicode Path extra field: version 1, the CRC-32 of the stored name, the UTF-8 name.
constexpr uint16_t kUnicodePathTag = 0x7075;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr unsigned kEncryptionHeaderSize = 12;

// Byte offsets of the fields from the start of each record (its signature), each field
// following the one before it by that one's width; kSize is the fixed part, before the name,
// extra field and comment.
namespace local {
constexpr unsigned kVersionNeeded = 4, kFlags = kVersionNeeded + 2, kMethod = kFlags + 2,
                   kTime = kMethod + 2, kDate = kTime + 2, kCrc = kDate + 2,
                   kCompressedSize = kCrc + 4, kUncompressedSize = kCompressedSize + 4,
                   kNameLength = kUncompressedSize + 4, kExtraLength = kNameLength + 2,
                   kSize = kExtraLength + 2;
static_assert(kSize == 30);
}  // namespace local
namespace central {
constexpr unsigned kVersionMadeBy = 4, kVersionNeeded = kVersionMadeBy + 2,
                   kFlags = kVersionNeeded + 2, kMethod = kFlags + 2, kTime = kMethod + 2,
                   kDate = kTime + 2, kCrc = kDate + 2, kCompressedSize = kCrc + 4,
                   kUncompressedSize = kCompressedSize + 4, kNameLength = kUncompressedSize + 4,
                   kExtraLength = kNameLength + 2, kCommentLength = kExtraLength + 2,
                   kDiskStart = kCommentLength + 2, kInternalAttributes = kDiskStart + 2,
                   kExternalAttributes = kInternalAttributes + 2,
                   kLocalOffset = kExternalAttributes + 4, kSize = kLocalOffset + 4;
static_assert(kSize == 46);
}  // namespace central
namespace end {
constexpr unsigned kDisk = 4, kDirectoryDisk = kDisk + 2, kDiskEntries = kDirectoryDisk + 2,
                   kEntries = kDiskEntries + 2, kDirectorySize = kEntries + 2,
                   kDirectoryOffset = kDirectorySize + 4, kCommentLength = kDirectoryOffset + 4,
                   kSize = kCommentLength + 2;
static_assert(kSize == 22);
constexpr unsigned kMaxComment = 0xFFFF;
}  // namespace end
// A data descriptor: CRC-32, compressed and uncompressed size, after an optional signature.
namespace descriptor {
constexpr unsigned kSize = 4 + 4 + 4, kSizeWithSignature = 4 + kSize;
}  // namespace descriptor

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Appends to any byte container with push_back (std::vector<uint8_t>, std::string).
template <class Bytes>
void AppendLe16(Bytes& out, uint16_t value) {
  using Byte = typename Bytes::value_type;
  out.push_back(static_cast<Byte>(value & 0xFF));
  out.push_back(static_cast<Byte>(value >> 8));
}
template <class Bytes>
void AppendLe32(Bytes& out, uint32_t value) {
  AppendLe16(out, static_cast<uint16_t>(value));
  AppendLe16(out, static_cast<uint16_t>(value >> 16));
}

// The three keys of traditional encryption, at their fixed start values.
struct CryptKeys {
  uint32_t key0 = 0x12345678u;
  uint32_t key1 = 0x23456789u;
  uint32_t key2 = 0x34567890u;
};

// The byte the keys XOR onto the next data byte.
inline uint8_t KeystreamByte(uint32_t key2) {
  const uint32_t t = (key2 | 2) & 0xFFFF;
  return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
}
inline uint8_t KeystreamByte(const CryptKeys& keys) { return KeystreamByte(keys.key2); }

// Advances the keys by one plain byte. key1 = (key1 + (key0 AND 0xFF)) * 134775813 + 1 is
// computed with its product split: the larger half does not wait for the new key0, which
// shortens the chain from one byte to the next where decryption limits the speed. The keys
// come as three values so that hot loops can hold them in registers; always inlined, as the
// loops need it and the size-optimised Windows build would not.
[[gnu::always_inline]] inline void UpdateKeys(uint32_t& key0, uint32_t& key1, uint32_t& key2,
                                              uint8_t plain) {
  const uint32_t key1Part = key1 * 134775813u + 1;
  key0 = kCrc32Table[(key0 ^ plain) & 0xFF] ^ (key0 >> 8);
  key1 = key1Part + (key0 & 0xFF) * 134775813u;
  key2 = kCrc32Table[(key2 ^ (key1 >> 24)) & 0xFF] ^ (key2 >> 8);
}
inline void UpdateKeys(CryptKeys& keys, uint8_t plain) {
  UpdateKeys(keys.key0, keys.key1, keys.key2, plain);
}

// Keys started and fed the password's bytes as stored.
inline CryptKeys KeysForPassword(const char* password) {
  CryptKeys keys;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(password); *p; ++p)
    UpdateKeys(keys, *p);
  return keys;
}

inline uint8_t EncryptByte(CryptKeys& keys, uint8_t plain) {
  const uint8_t cipher = plain ^ KeystreamByte(keys);
  UpdateKeys(keys, plain);
  return cipher;
}

}  // namespace zip
