// The inflate decoder's fast loop against its byte-wise loop on the same streams: whole, cut
// short anywhere near the input chunk's end, followed by other data, or with flipped bytes.
// Both must give the same result and output, read the same fills from the archive (so the same
// progress messages) and leave the same part of the entry unread; and each must match zlib.
#include "extract/crc32.h"
#include "extract/decrypt.h"
#include "extract/engine.h"
#include "extract/entry_decode.h"
#include "extract/inflate.h"
#include "extract/stream.h"
#include "tests/extract/engine_host.h"
#include "tests/extract/inflate_harness.h"
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

namespace {

std::string RawDeflate(const std::string& data, int level, int strategy) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Text with long and short repeats, runs of one and of a few bytes (distances below 8) and
// stretches of noise, so that every kind of copy and the window's wrap occur.
std::string MixedData(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  static const char* const kWords[] = {"setup ", "archive ", "karvex ", "window ", "\r\n"};
  std::string s;
  while (s.size() < size) {
    switch (random() % 5) {
      case 0:
        for (int n = 0; n < 40; ++n) s += kWords[random() % 5];
        break;
      case 1:
        s.append(3 + random() % 300, static_cast<char>(random()));
        break;
      case 2: {
        const std::string pattern(2 + random() % 6, static_cast<char>('a' + random() % 26));
        for (int n = 0; n < 30; ++n) s += pattern + static_cast<char>('0' + n % 3);
        break;
      }
      case 3:
        for (int n = 0; n < 200; ++n) s += static_cast<char>(random());
        break;
      default:
        if (s.size() > 100)
          s += s.substr(s.size() - 1 - random() % std::min<size_t>(s.size() - 1, 32000), 100);
    }
  }
  s.resize(size);
  return s;
}

struct Outcome {
  DecodeResult decoded;
  uint32_t bytesRead = 0;    // what the fills took from the archive
  uint32_t leftInEntry = 0;  // compressed bytes never read
};

Outcome Run(const std::string& raw, bool byteWise) {
  InflateOptions options;
  options.byteWise = byteWise;
  Outcome outcome;
  outcome.decoded = Decode(raw, options);
  outcome.bytesRead = g_engine.bytesCounted;
  outcome.leftInEntry = g_engine.entry.compressedSize;
  return outcome;
}

// Runs both loops on raw and expects the same observable outcome; returns the fast one.
Outcome ExpectSameOutcome(const std::string& raw, const std::string& label) {
  const Outcome fast = Run(raw, false);
  const Outcome byteWise = Run(raw, true);
  EXPECT_EQ(fast.decoded.code, byteWise.decoded.code) << label;
  EXPECT_TRUE(fast.decoded.output == byteWise.decoded.output) << label;
  EXPECT_EQ(fast.decoded.pastEnd, byteWise.decoded.pastEnd) << label;
  EXPECT_EQ(fast.bytesRead, byteWise.bytesRead) << label;
  EXPECT_EQ(fast.leftInEntry, byteWise.leftInEntry) << label;
  return fast;
}

TEST(InflateFastTest, WholeStreamsMatchZlibAndTheByteWiseLoop) {
  const std::string data = MixedData(300000, 7);
  for (int level : {1, 6, 9})
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
      const std::string label =
          "level " + std::to_string(level) + " strategy " + std::to_string(strategy);
      const Outcome fast = ExpectSameOutcome(RawDeflate(data, level, strategy), label);
      EXPECT_EQ(fast.decoded.code, INFLATE_OK) << label;
      EXPECT_TRUE(fast.decoded.output == data) << label;
    }
}

// Cut near each of the first fills' ends, where the loops hand over to each other.
TEST(InflateFastTest, StreamsCutNearAChunkEndAgree) {
  const std::string raw = RawDeflate(MixedData(200000, 11), 9, Z_DEFAULT_STRATEGY);
  for (size_t chunkEnd : {size_t{STREAM_CHUNK}, size_t{2 * STREAM_CHUNK}})
    for (size_t cut = chunkEnd - 20; cut <= chunkEnd + 20 && cut < raw.size(); ++cut) {
      const Outcome fast = ExpectSameOutcome(raw.substr(0, cut), "cut at " + std::to_string(cut));
      EXPECT_NE(fast.decoded.code, INFLATE_OK) << cut;
    }
}

// Data after the last block, more than the fast loop needs to stay in charge: the end-of-block
// code is decoded there, and the rest of the entry must stay unread just the same.
TEST(InflateFastTest, DataAfterTheLastBlockIsLeftAlike) {
  const std::string data = MixedData(50000, 3);
  const std::string raw = RawDeflate(data, 6, Z_DEFAULT_STRATEGY);
  for (size_t trailing : {1u, 7u, 8u, 9u, 100u, 40000u}) {
    const Outcome fast =
        ExpectSameOutcome(raw + std::string(trailing, '\x5A'), std::to_string(trailing));
    EXPECT_EQ(fast.decoded.code, INFLATE_OK);
    EXPECT_TRUE(fast.decoded.output == data);
  }
}

TEST(InflateFastTest, FlippedBytesAgree) {
  const std::string raw = RawDeflate(MixedData(120000, 5), 9, Z_DEFAULT_STRATEGY);
  std::mt19937 random(1996);
  for (int trial = 0; trial < 60; ++trial) {
    std::string damaged = raw;
    for (int flips = 1 + trial % 3; flips > 0; --flips)
      damaged[random() % damaged.size()] ^= static_cast<char>(1 + random() % 255);
    ExpectSameOutcome(damaged, "trial " + std::to_string(trial));
  }
}

// Stored blocks are copied straight from the input buffer once the bit buffer is empty.
TEST(InflateFastTest, StoredBlocksAcrossFillsAndTheWindowAgree) {
  const std::string data = MixedData(100000, 9);
  const std::string raw = RawDeflate(data, 0, Z_DEFAULT_STRATEGY);
  const Outcome fast = ExpectSameOutcome(raw, "stored");
  EXPECT_EQ(fast.decoded.code, INFLATE_OK);
  EXPECT_TRUE(fast.decoded.output == data);
  ExpectSameOutcome(raw.substr(0, 70000), "stored, cut");
}

// Encrypted entries are decrypted as they are used, inside the fast loop for deflated data:
// each entry decoded on its own must see the same messages and boxes with either loop, and
// decode correctly.
struct RunRecord {
  int32_t result = -1;
  int decoded = -1;
  uint32_t crc = 0;
  std::vector<SentMessage> messages;
  std::vector<std::string> boxes;
};

RunRecord RunEncrypted(const zipbuild::Entry& entry, bool byteWise) {
  EngineHost& host = StartHost();
  const std::string encrypted = zipbuild::Encrypt(entry.password, std::string(11, 'h') + '\0',
                                                  entry.hasData ? entry.data : entry.plain);
  InitKeys(entry.password.c_str());
  std::string header = encrypted.substr(0, kEncryptionHeaderSize);
  DecryptBuffer(reinterpret_cast<uint8_t*>(header.data()), kEncryptionHeaderSize);
  SingleEntry single;
  single.bytes = reinterpret_cast<const uint8_t*>(encrypted.data()) + kEncryptionHeaderSize;
  single.compressedSize = static_cast<uint32_t>(encrypted.size() - kEncryptionHeaderSize);
  single.method = entry.method;
  single.encrypted = true;
  single.options.byteWise = byteWise;
  const SingleEntryOutcome outcome = DecodeSingleEntry(single);
  return {outcome.result, outcome.decoded, outcome.crc, host.messages, host.BoxTexts()};
}

TEST(InflateFastTest, EncryptedEntriesDecryptedAsUsedAgreeWithTheByteWiseLoop) {
  const char* const password = "Trademark\xA9 1990-1996 Quillon Data Works, Ltd";
  std::vector<zipbuild::Entry> entries;
  for (size_t size : {100, 28000, 70000, 200000}) {
    zipbuild::Entry deflated = zipbuild::Stored("d" + std::to_string(size), MixedData(size, 21));
    deflated.method = 8;
    deflated.Data(RawDeflate(deflated.plain, 9, Z_DEFAULT_STRATEGY));
    deflated.password = password;
    entries.push_back(deflated);
    zipbuild::Entry stored = zipbuild::Stored("s" + std::to_string(size), MixedData(size, 22));
    stored.password = password;
    entries.push_back(stored);
  }
  for (const zipbuild::Entry& entry : entries) {
    const RunRecord fast = RunEncrypted(entry, false);
    const RunRecord byteWise = RunEncrypted(entry, true);
    EXPECT_EQ(fast.result, EXTRACT_OK) << entry.name;
    EXPECT_EQ(fast.decoded, INFLATE_OK) << entry.name;
    EXPECT_EQ(fast.crc, Crc32(entry.plain.data(), entry.plain.size())) << entry.name;
    EXPECT_TRUE(fast.boxes.empty()) << entry.name;
    EXPECT_EQ(fast.messages, byteWise.messages) << entry.name;
    EXPECT_EQ(fast.crc, byteWise.crc) << entry.name;
  }

  // A byte changed inside the largest deflated entry's data: the same damage, seen alike.
  zipbuild::Entry damaged = entries[6];
  ASSERT_TRUE(damaged.hasData);
  damaged.data[damaged.data.size() / 2] ^= 0x40;
  const RunRecord fastDamaged = RunEncrypted(damaged, false);
  const RunRecord byteWiseDamaged = RunEncrypted(damaged, true);
  EXPECT_NE(fastDamaged.crc, Crc32(damaged.plain.data(), damaged.plain.size()));
  EXPECT_EQ(fastDamaged.decoded, byteWiseDamaged.decoded);
  EXPECT_EQ(fastDamaged.crc, byteWiseDamaged.crc);
  EXPECT_EQ(fastDamaged.boxes, byteWiseDamaged.boxes);
  EXPECT_EQ(fastDamaged.messages, byteWiseDamaged.messages);
}

}  // namespace
