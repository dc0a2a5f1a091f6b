// The inflate decoder against zlib's raw Deflate streams: every level and strategy, small
// windows and flushed blocks, sizes around the input chunk (28672) and the window (32768);
// then the same streams cut, followed by other data or with flipped bytes. The fast loop and
// the byte-wise reader alone must agree in result, output, reads and what stays unread.
#include "extract/decrypt.h"
#include "extract/engine.h"
#include "extract/entry_decode.h"
#include "extract/inflate.h"
#include "extract/single_entry.h"
#include "extract/stream.h"
#include "tests/extract/engine_host.h"
#include "tests/extract/inflate_harness.h"
#include "tests/extract/zip_builder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <sstream>

namespace {

std::string RawDeflate(const std::string& data, int level, int strategy = Z_DEFAULT_STRATEGY,
                       int windowBits = 15, int memLevel = 8, size_t flushEvery = 0) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -windowBits, memLevel, strategy), Z_OK);
  std::string out(deflateBound(&z, data.size()) + 64 + data.size() / 100 * 6, '\0');
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  for (size_t at = 0, piece; at < data.size() || at == 0; at += piece) {
    piece = flushEvery ? std::min(flushEvery, data.size() - at) : data.size() - at;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + at));
    z.avail_in = static_cast<uInt>(piece);
    const bool last = at + piece == data.size();
    EXPECT_EQ(deflate(&z, last ? Z_FINISH : Z_FULL_FLUSH), last ? Z_STREAM_END : Z_OK);
    if (last) break;
  }
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Noise, text, runs, or a mix with long and short repeats, runs of a few bytes (distances
// below 8) and noise, so that every kind of copy and the window's wrap occur.
std::string MakeData(int kind, size_t size, unsigned seed) {
  std::mt19937 random(seed);
  static const char* const kWords[] = {"setup ", "archive ", "karvex ", "window ", "\r\n"};
  std::string s;
  while (s.size() < size) {
    const unsigned pick = kind == 3 ? random() % 5 : kind;
    if (pick == 0) s += static_cast<char>(random());
    if (pick == 1) s += kWords[random() % 5];
    if (pick == 2) s.append(random() % 700, static_cast<char>(random() % 4));
    if (pick == 3)
      for (std::string p(2 + random() % 6, char('a' + random() % 26)); s.size() < size;)
        if ((s += p + char('0' + random() % 3)).size() % 97 == 0) break;
    if (pick == 4 && s.size() > 100)
      s += s.substr(s.size() - 1 - random() % std::min<size_t>(s.size() - 1, 32000), 100);
  }
  return s.substr(0, size);
}

template <typename... Parts>
std::string Label(const Parts&... parts) {
  std::ostringstream text;
  ((text << parts << ' '), ...);
  return text.str();
}

struct Outcome {
  DecodeResult decoded;
  uint32_t bytesRead = 0, leftInEntry = 0;
};

// Decodes raw with both loops, expects the same observable outcome, returns the fast one's.
Outcome DecodeBoth(const std::string& raw, const std::string& label) {
  Outcome both[2];
  for (int byteWise : {0, 1}) {
    InflateOptions options;
    options.byteWise = byteWise;
    both[byteWise].decoded = Decode(raw, options);
    both[byteWise].bytesRead = g_engine.bytesCounted;
    both[byteWise].leftInEntry = g_engine.entry.compressedSize;
  }
  EXPECT_EQ(both[0].decoded.code, both[1].decoded.code) << label;
  EXPECT_TRUE(both[0].decoded.output == both[1].decoded.output) << label;
  EXPECT_EQ(both[0].decoded.pastEnd, both[1].decoded.pastEnd) << label;
  EXPECT_EQ(both[0].bytesRead, both[1].bytesRead) << label;
  EXPECT_EQ(both[0].leftInEntry, both[1].leftInEntry) << label;
  EXPECT_LE(both[0].decoded.pastEnd, kMaxBytesPastEnd + 1) << label;
  return both[0];
}

void ExpectDecodes(const std::string& raw, const std::string& data, const std::string& label) {
  const Outcome got = DecodeBoth(raw, label);
  ASSERT_EQ(got.decoded.code, INFLATE_OK) << label;
  ASSERT_TRUE(got.decoded.output == data) << label;
  ASSERT_LE(got.decoded.pastEnd, 2u) << label;
}

TEST(InflateZlib, EveryLevelStrategyWindowAndFlushDecodes) {
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  unsigned seed = 1;
  for (int kind : {0, 1, 2, 3})
    for (size_t size : {0, 1, 257, 28671, 28672, 28673, 32767, 32768, 32769, 100003}) {
      const std::string data = MakeData(kind, size, seed++);
      for (int level : {0, 1, 6, 9})
        for (int strategy : strategies)
          ExpectDecodes(RawDeflate(data, level, strategy), data,
                        Label("kind", kind, "size", size, "level", level, "strategy", strategy));
    }
  const std::string data = MakeData(1, 300000, 77) + MakeData(0, 50000, 78);
  for (int windowBits : {9, 12})
    for (int memLevel : {1, 9})
      ExpectDecodes(RawDeflate(data, 6, Z_DEFAULT_STRATEGY, windowBits, memLevel), data,
                    Label("window bits", windowBits));
  // Full flushes end blocks early and add empty stored blocks between them.
  for (size_t every : {1000u, 28672u, 32768u})
    ExpectDecodes(RawDeflate(data, 9, Z_DEFAULT_STRATEGY, 15, 8, every), data,
                  Label("flush every", every));
}

// Cut near each of the first fills' ends, where the loops hand over to each other, and every
// 997 bytes: never a clean end unless only spare bits of the last lookup were cut; followed by
// other data, the same as alone; damaged, the same result in both loops.
TEST(InflateZlib, CutFollowedOrDamagedStreamsEndAlike) {
  const std::string data = MakeData(3, 200000, 11);
  for (const std::string& raw : {RawDeflate(data, 9), RawDeflate(data, 0)}) {
    for (size_t cut = 0; cut < raw.size();
         cut += cut % STREAM_CHUNK < 20 || cut % STREAM_CHUNK > STREAM_CHUNK - 20 ? 1 : 997) {
      const Outcome got = DecodeBoth(raw.substr(0, cut), Label("cut at", cut));
      EXPECT_TRUE(got.decoded.code != INFLATE_OK || got.decoded.output == data) << cut;
      EXPECT_TRUE(data.compare(0, got.decoded.output.size(), got.decoded.output) == 0) << cut;
    }
    for (size_t trailing : {1u, 7u, 8u, 9u, 100u, 40000u}) {
      const Outcome got = DecodeBoth(raw + std::string(trailing, '\x5A'), std::to_string(trailing));
      EXPECT_EQ(got.decoded.code, INFLATE_OK);
      EXPECT_TRUE(got.decoded.output == data);
      EXPECT_EQ(got.leftInEntry + got.bytesRead, raw.size() + trailing);
    }
  }
  const std::string raw = RawDeflate(data.substr(0, 120000), 9);
  std::mt19937 random(1996);
  for (int trial = 0; trial < 300; ++trial) {
    std::string damaged = raw;
    for (int flips = 1 + trial % 3; flips > 0; --flips)
      damaged[random() % damaged.size()] ^= static_cast<char>(1 + random() % 255);
    DecodeBoth(damaged.substr(0, trial % 2 ? damaged.size() : 3000 + trial * 50),
               Label("trial", trial));
  }
}

// Encrypted entries are decrypted as they are used, inside the fast loop for deflated data:
// each decodes alike with either loop, whole or damaged, and whole to its content.
TEST(InflateZlib, EncryptedEntriesDecryptedAsUsedAgreeInBothLoops) {
  for (size_t size : {100, 28000, 70000, 200000})
    for (uint16_t method : {0, 8})
      for (uint32_t damage : {0, 0x40}) {
        const std::string plain = MakeData(3, size, static_cast<unsigned>(size));
        const std::string data = method ? RawDeflate(plain, 9) : plain;
        const std::string encrypted = zipbuild::Damage(
            zipbuild::Encrypt("pw\xA9", std::string(12, 'h'), data), 12 + data.size() / 2, damage);
        SingleEntryOutcome outcomes[2];
        for (int byteWise : {0, 1}) {
          StartHost();
          InitKeys("pw\xA9");
          std::string header = encrypted.substr(0, kEncryptionHeaderSize);
          DecryptBuffer(reinterpret_cast<uint8_t*>(header.data()), kEncryptionHeaderSize);
          SingleEntry single;
          single.bytes = reinterpret_cast<const uint8_t*>(encrypted.data()) + kEncryptionHeaderSize;
          single.compressedSize = static_cast<uint32_t>(data.size());
          single.method = method;
          single.encrypted = true;
          single.options.byteWise = byteWise;
          outcomes[byteWise] = DecodeSingleEntry(single);
        }
        const std::string label = Label(size, method, damage);
        EXPECT_EQ(outcomes[0].decoded, outcomes[1].decoded) << label;
        EXPECT_EQ(outcomes[0].crc, outcomes[1].crc) << label;
        EXPECT_EQ(outcomes[0].bytesRead, outcomes[1].bytesRead) << label;
        EXPECT_EQ(outcomes[0].crc == zipbuild::Crc32Of(plain), damage == 0) << label;
      }
}

}  // namespace
