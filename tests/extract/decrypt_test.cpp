// Traditional ZIP decryption: the built-in password's bytes, the key schedule, and the
// header check against the CRC's or the time's high byte.
#include "extract/decrypt.h"
#include "extract/engine.h"
#include "extract/zip_walker.h"
#include "tests/extract/zip_builder.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(DecryptTest, BuiltInPasswordIs44BytesWithTheCopyrightSignAsA9) {
  EXPECT_EQ(std::strlen(kBuiltInPassword), 44u);
  EXPECT_EQ(static_cast<unsigned char>(kBuiltInPassword[9]), 0xA9);
  EXPECT_EQ(std::string(kBuiltInPassword, 9), "Trademark");
  EXPECT_EQ(std::string(kBuiltInPassword + 10), " 1990-1996 Quillon Data Works, Ltd");
}

TEST(DecryptTest, EmptyPasswordLeavesTheStartKeys) {
  InitKeys("");
  EXPECT_EQ(g_crypt.keys.key0, 0x12345678u);
  EXPECT_EQ(g_crypt.keys.key1, 0x23456789u);
  EXPECT_EQ(g_crypt.keys.key2, 0x34567890u);
  InitKeys("a");
  EXPECT_NE(g_crypt.keys.key0, 0x12345678u);
}

// Bytes encrypted by the test's own encryptor decrypt back through the engine's keys.
TEST(DecryptTest, KeystreamUndoesTheApplicationNoteEncryption) {
  for (const char* password : {"", "secret", kBuiltInPassword, "\xff\x80\x01"}) {
    const std::string plain = "The quick brown fox jumps over the lazy dog\0\xff\x80";
    const std::string header = "0123456789AB";
    const std::string cipher = zipbuild::Encrypt(password, header, plain);
    InitKeys(password);
    std::string back;
    for (unsigned char c : cipher) {
      const uint8_t p = c ^ DecryptByte();
      UpdateKeys(p);
      back += static_cast<char>(p);
    }
    EXPECT_EQ(back, header + plain) << password;
  }
}

TEST(DecryptTest, CheckByteIsTheCrcOrWithADescriptorTheTimeHighByte) {
  g_crypt.ArchivePassword = kBuiltInPassword;
  g_engine.entry = EntryHeader{};
  g_engine.entry.crc = 0xAB000000;
  g_engine.entry.time = 0xCD00;
  for (bool descriptor : {false, true}) {
    g_engine.entry.descriptor = descriptor;
    for (int check : {0xAB, 0xCD}) {
      const std::string header = zipbuild::Encrypt(
          kBuiltInPassword, std::string("elevenbytes") + static_cast<char>(check), "");
      const int expected = (check == 0xCD) == descriptor ? 0 : -1;
      EXPECT_EQ(TestPassword(reinterpret_cast<const uint8_t*>(header.data())), expected)
          << descriptor << " " << check;
    }
  }
}

}  // namespace
