// The inflate decoder against raw Deflate streams from zlib at every level and strategy,
// for sizes around the input chunk (28672) and the window (32768), and against every
// truncation of a stream: decoding always ends, and only the whole stream decodes cleanly.
#include "extract/inflate.h"
#include "tests/extract/inflate_harness.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

namespace {

std::string RawDeflate(const std::string& data, int level, int strategy, int windowBits = 15,
                       int memLevel = 8, size_t flushEvery = 0) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -windowBits, memLevel, strategy), Z_OK);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 64 + data.size() / 100 * 6,
                  '\0');
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  size_t at = 0;
  int result = Z_OK;
  do {
    const size_t piece = flushEvery ? std::min(flushEvery, data.size() - at) : data.size() - at;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + at));
    z.avail_in = static_cast<uInt>(piece);
    at += piece;
    result = deflate(&z, at == data.size() ? Z_FINISH : Z_FULL_FLUSH);
  } while (at < data.size());
  EXPECT_EQ(result, Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

enum class Kind { Random, Text, Runs };

std::string MakeData(Kind kind, size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(size, '\0');
  static const char* words[] = {"setup ", "archive ", "karvex ", "window ", "inflate ",
                                "\r\n",   "the ",     "of ",     "copy ",   "12345 "};
  size_t i = 0;
  while (i < size) {
    switch (kind) {
      case Kind::Random:
        s[i++] = static_cast<char>(random());
        break;
      case Kind::Text:
        for (const char* w = words[random() % 10]; *w && i < size; ++w) s[i++] = *w;
        break;
      case Kind::Runs: {
        const char c = static_cast<char>(random() % 4);
        for (size_t n = random() % 700; n > 0 && i < size; --n) s[i++] = c;
        break;
      }
    }
  }
  return s;
}

TEST(InflateZlibTest, EveryLevelAndStrategyAtChunkAndWindowSizes) {
  const size_t sizes[] = {0,     1,     2,     257,   10240, 28671, 28672,
                          28673, 32767, 32768, 32769, 65536, 100003};
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  unsigned seed = 1;
  for (Kind kind : {Kind::Random, Kind::Text, Kind::Runs}) {
    for (size_t size : sizes) {
      const std::string data = MakeData(kind, size, seed++);
      for (int level = 0; level <= 9; ++level) {
        for (int strategy : strategies) {
          const std::string raw = RawDeflate(data, level, strategy);
          const DecodeResult r = Decode(raw);
          ASSERT_EQ(r.code, INFLATE_OK) << "size " << size << " level " << level << " strategy "
                                        << strategy << " kind " << static_cast<int>(kind);
          ASSERT_TRUE(r.output == data)
              << "size " << size << " level " << level << " strategy " << strategy;
          ASSERT_LE(r.pastEnd, 2u);
        }
      }
    }
  }
}

TEST(InflateZlibTest, SmallWindowsMemoryLevelsAndFlushedBlocks) {
  const std::string data = MakeData(Kind::Text, 300000, 77) + MakeData(Kind::Random, 50000, 78);
  for (int windowBits : {9, 12, 15}) {
    for (int memLevel : {1, 9}) {
      const DecodeResult r = Decode(RawDeflate(data, 6, Z_DEFAULT_STRATEGY, windowBits, memLevel));
      EXPECT_EQ(r.code, INFLATE_OK);
      EXPECT_TRUE(r.output == data) << windowBits << " " << memLevel;
    }
  }
  // Full flushes end blocks early and add empty stored blocks between them.
  for (size_t every : {1000u, 28672u, 32768u}) {
    const DecodeResult r = Decode(RawDeflate(data, 9, Z_DEFAULT_STRATEGY, 15, 8, every));
    EXPECT_EQ(r.code, INFLATE_OK);
    EXPECT_TRUE(r.output == data) << every;
  }
}

TEST(InflateZlibTest, EveryTruncationEndsAndNeverDecodesClean) {
  const std::string data = MakeData(Kind::Text, 40000, 5);
  for (int level : {1, 9}) {
    const std::string raw = RawDeflate(data, level, Z_DEFAULT_STRATEGY);
    for (size_t cut = 0; cut < raw.size(); cut += (cut < 64 || raw.size() - cut < 64) ? 1 : 97) {
      const DecodeResult r = Decode(raw.substr(0, cut));
      EXPECT_LE(r.pastEnd, kMaxBytesPastEnd + 1) << cut;
      if (r.code == INFLATE_OK) {
        // Only possible when what was cut lay in the spare bits of the last lookup.
        EXPECT_TRUE(r.output == data) << cut;
      }
      EXPECT_LE(r.output.size(), data.size()) << cut;
      EXPECT_EQ(r.output, data.substr(0, r.output.size())) << cut;
    }
  }
}

TEST(InflateZlibTest, FlippedBitsAlwaysEnd) {
  const std::string data = MakeData(Kind::Text, 20000, 9);
  const std::string raw = RawDeflate(data, 6, Z_DEFAULT_STRATEGY);
  std::mt19937 random(42);
  for (int round = 0; round < 2000; ++round) {
    std::string damaged = raw;
    for (int flips = 0; flips < 1 + round % 4; ++flips)
      damaged[random() % damaged.size()] ^= static_cast<char>(1u << (random() % 8));
    const DecodeResult r = Decode(damaged);
    EXPECT_GE(r.code, 0);
    EXPECT_LE(r.code, 2);
    EXPECT_LE(r.pastEnd, kMaxBytesPastEnd + 1);
  }
}

}  // namespace
