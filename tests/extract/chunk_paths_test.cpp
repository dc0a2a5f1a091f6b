// CRC-32 and decryption as the streams run them, over whole chunks, against their
// byte-at-a-time definitions: every length and alignment around the eight-byte steps of the
// CRC, and decryption of chunks of every size from keys in any state.
#include "extract/crc32.h"
#include "extract/decrypt.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

uint32_t BitwiseCrc(uint32_t crc, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return crc;
}

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

TEST(ChunkPathsTest, Crc32OfEveryLengthAndAlignmentMatchesTheBitwiseDefinition) {
  const std::vector<uint8_t> bytes = RandomBytes(40000, 3);
  for (size_t offset = 0; offset < 8; ++offset)
    for (size_t length : {0, 1, 3, 7, 8, 9, 15, 16, 17, 63, 64, 65, 28672, 28673, 32768}) {
      const uint32_t start = 0xFFFFFFFFu ^ static_cast<uint32_t>(offset * 0x01010101u);
      EXPECT_EQ(UpdateCrc32(start, bytes.data() + offset, length),
                BitwiseCrc(start, bytes.data() + offset, length))
          << "offset " << offset << " length " << length;
    }
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
}

TEST(ChunkPathsTest, Crc32InPiecesEqualsCrc32AtOnce) {
  const std::vector<uint8_t> bytes = RandomBytes(100000, 4);
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t at = 0, piece = 1; at < bytes.size(); at += piece, piece = piece * 3 % 9973 + 1)
    crc = UpdateCrc32(crc, bytes.data() + at, std::min(piece, bytes.size() - at));
  EXPECT_EQ(~crc, Crc32(bytes.data(), bytes.size()));
}

TEST(ChunkPathsTest, DecryptBufferEqualsDecryptByteAndUpdateKeys) {
  const std::vector<uint8_t> cipher = RandomBytes(30000, 5);
  for (unsigned length : {0u, 1u, 2u, 12u, 1000u, 28672u}) {
    InitKeys("Trademark\xA9 1990-1996 Quillon Data Works, Ltd");
    UpdateKeys(static_cast<uint8_t>(length));  // keys in some state past their start
    const CryptKeys start = g_crypt.keys;

    std::vector<uint8_t> expected(cipher.begin(), cipher.begin() + length);
    for (uint8_t& c : expected) {
      c ^= DecryptByte();
      UpdateKeys(c);
    }
    const CryptKeys expectedKeys = g_crypt.keys;

    g_crypt.keys = start;
    std::vector<uint8_t> plain(cipher.begin(), cipher.begin() + length);
    DecryptBuffer(plain.data(), length);
    EXPECT_EQ(plain, expected) << length;
    EXPECT_EQ(g_crypt.keys.key0, expectedKeys.key0) << length;
    EXPECT_EQ(g_crypt.keys.key1, expectedKeys.key1) << length;
    EXPECT_EQ(g_crypt.keys.key2, expectedKeys.key2) << length;
  }
}

}  // namespace
