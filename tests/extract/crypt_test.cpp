// CRC-32 and traditional decryption as the streams run them, against their definitions: the
// CRC over every length and alignment around its eight-byte steps and in pieces, decryption
// in chunks of any size from keys in any state, and the check byte of an encryption header.
#include "extract/crc32.h"
#include "extract/decrypt.h"
#include "extract/engine.h"
#include "tests/extract/zip_builder.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& b : bytes) b = static_cast<char>(random());
  return bytes;
}

TEST(Crc32, EveryLengthAlignmentAndSplitMatchesTheDefinition) {
  const std::string bytes = RandomBytes(40000, 3);
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);  // the check value of CRC-32
  for (size_t offset = 0; offset < 8; ++offset)
    for (size_t length : {0, 1, 3, 7, 8, 9, 15, 16, 17, 63, 64, 65, 28672, 28673, 32768}) {
      const std::string piece = bytes.substr(offset, length);
      EXPECT_EQ(Crc32(piece.data(), length), zipbuild::Crc32Of(piece)) << offset << " " << length;
      uint32_t crc = 0xFFFFFFFFu;  // the same bytes in two uneven pieces
      crc = UpdateCrc32(crc, piece.data(), length / 3);
      crc = UpdateCrc32(crc, piece.data() + length / 3, length - length / 3);
      EXPECT_EQ(~crc, zipbuild::Crc32Of(piece)) << offset << " " << length;
    }
}

// Encrypted by the builder's own encryptor, decrypted byte by byte and in chunks.
TEST(Decrypt, ChunksAndBytesUndoTheEncryptionForEveryPassword) {
  const std::string plain = RandomBytes(30000, 5);
  for (const char* password : {"", "secret", kBuiltInPassword, "\xff\x80\x01"})
    for (size_t length : {0, 1, 2, 12, 1000, 28672}) {
      SCOPED_TRACE(std::string(password) + " " + std::to_string(length));
      const std::string cipher =
          zipbuild::Encrypt(password, plain.substr(0, 12), plain.substr(12, length));
      InitKeys(password);
      std::string back = cipher;
      for (size_t i = 0; i < 12; ++i) UpdateKeys(back[i] ^= static_cast<char>(DecryptByte()));
      DecryptBuffer(reinterpret_cast<uint8_t*>(back.data() + 12), static_cast<unsigned>(length));
      EXPECT_TRUE(back == plain.substr(0, 12 + length));
      UpdateKeys(0x5A);  // the keys went on from where the buffer ended
      const uint8_t next = DecryptByte();
      const std::string more =
          zipbuild::Encrypt(password, plain.substr(0, 12), plain.substr(12, length) + "\x5A" + "x");
      EXPECT_EQ(static_cast<uint8_t>(more[13 + length] ^ 'x'), next);
    }
}

// The header's last byte, decrypted, is the check byte; nothing else of it is checked.
TEST(Decrypt, HeaderMatchesOnlyItsCheckByte) {
  g_crypt.ArchivePassword = kBuiltInPassword;
  for (char last : {'\xAB', '\xAC', '\x00'}) {
    const std::string header =
        zipbuild::Encrypt(kBuiltInPassword, std::string("elevenbytes") + last, "");
    for (uint8_t check : {0xAB, 0xAC, 0x00})
      EXPECT_EQ(HeaderMatches(reinterpret_cast<const uint8_t*>(header.data()), check),
                check == uint8_t(last))
          << int(check);
  }
}

}  // namespace
