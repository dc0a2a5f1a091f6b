// The inflate decoder, one row per stream: hand-made corners of RFC 1951 (hex bytes, "hh*n"
// for n repeats), zlib's streams of every level and strategy, the same cut short, followed by
// other data or damaged. Each row runs through the fast loop and through the byte-wise reader
// alone with the same outcome. Then the CRC-32 against its definition.
#include "extract/inflate.h"
#include "extract/crc32.h"
#include "extract/single_entry.h"
#include "tests/extract/engine_host.h"
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <sstream>

// zlib's raw Deflate stream of data. The engine tests use it, and the data maker below, too.
std::string Deflate(const std::string& data, int level, int strategy = Z_DEFAULT_STRATEGY,
                    size_t flushEvery = 0) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
  std::string out(deflateBound(&z, data.size()) + 64 + data.size() / 100 * 6, '\0');
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  size_t at = 0;
  do {  // full flushes end blocks early and add empty stored blocks
    const size_t piece = flushEvery ? std::min(flushEvery, data.size() - at) : data.size() - at;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + at));
    z.avail_in = static_cast<uInt>(piece);
    at += piece;
    deflate(&z, at == data.size() ? Z_FINISH : Z_FULL_FLUSH);
  } while (at < data.size());
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Noise, text, runs, or a mix of long and short repeats, runs of a few bytes (distances below
// 8) and noise, so that every kind of copy and the window's wrap occur.
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

namespace {

std::string Hex(const char* text) {
  std::string out;
  std::istringstream in(text);
  for (std::string t; in >> t;) {
    out.append(t.size() > 3 ? std::stoul(t.substr(3)) : 1,  // "hh" or "hh*n"
               static_cast<char>(std::stoul(t.substr(0, 2), nullptr, 16)));
  }
  return out;
}

int g_allocationsLeft = 0;
void* FailingAllocate(size_t size) { return g_allocationsLeft-- > 0 ? std::malloc(size) : nullptr; }

// Row codes beyond the decoder's own: a stream cut short (an error, unless only spare bits of
// its last lookup were cut; the output a prefix of the row's), and damaged data (only the
// two loops' agreement is checked).
constexpr int kCut = -2, kDamaged = -3;

struct Row {
  std::string label, raw;
  int code;
  std::string output;
  int allocations = -1;  // table allocations that succeed; -1: all
};

struct Got {
  int code = -1;  // -1: the run was aborted
  std::string output;
  uint32_t pastEnd = 0, bytesRead = 0, bytesLeft = 0, crc = 0;
  std::string said;  // on the standard error stream
  bool operator==(const Got&) const = default;
};

// The engine's single-entry decoding of raw into a file.
Got Decode(const Row& row, bool byteWise, const std::string& file) {
  StartHost();  // quiet hooks, no scripted answers of an earlier test
  SingleEntry entry;
  entry.bytes = reinterpret_cast<const uint8_t*>(row.raw.data());
  entry.compressedSize = static_cast<uint32_t>(row.raw.size());
  entry.output = platform::FileCreate(file.c_str());
  entry.options.byteWise = byteWise;
  g_allocationsLeft = row.allocations;
  if (row.allocations >= 0) entry.options.allocate = FailingAllocate;
  ::testing::internal::CaptureStderr();
  const SingleEntryOutcome o = DecodeSingleEntry(entry);
  platform::FileClose(entry.output);
  const std::string said = ::testing::internal::GetCapturedStderr();
  const int code = o.result == EXTRACT_OK ? o.decoded : -1;
  return {code, ScratchFolder::Read(file), o.pastEnd, o.bytesRead, o.bytesLeft, o.crc, said};
}

TEST(Inflate, EveryRowDecodesAlikeInBothLoopsToItsResultAndOutput) {
  const std::string window = MakeData(1, 32768, 6);
  const std::string abc = "abcdefghijklmnop", noise = MakeData(0, 32769, 1);
  const std::string text = MakeData(1, 28673, 2), runs = MakeData(2, 100003, 3);
  const std::string mix = MakeData(3, 200000, 4), big = MakeData(1, 300000, 5) + noise;
  // clang-format off
  std::vector<Row> rows = {
      {"final stored, LEN 0", Hex("01 00 00 ff ff"), 0, ""},
      {"stored abc", Hex("01 03 00 fc ff 61 62 63"), 0, "abc"},
      {"empty stored, then stored", Hex("00 00 00 ff ff 01 01 00 fe ff 7a"), 0, "z"},
      {"NLEN not the complement", Hex("01 03 00 fc fe 61 62 63"), 1, ""},
      {"block type 3", Hex("07"), 2, ""},
      {"no data at all", "", 1, ""},
      {"fixed block without its end", Hex("4b 4c 4a 4e 49 4d 4b cf 00"), 1, ""},
      {"fixed, empty", Hex("03 00"), 0, ""},
      {"fixed, 1 literal", Hex("4b 04 00"), 0, "a"},
      {"fixed, 15 literals", Hex("4b 4c 4a 4e 49 4d 4b cf c8 cc ca ce c9 cd cb 07 00"), 0, abc.substr(0, 15)},
      {"fixed, matches of 6 and 258", Hex("4b 4c 4a 86 a0 51 00 00"), 0, "abcabcabc" + std::string(258, 'c')},
      {"length symbol 286", Hex("ab 18 03 00"), 1, ""},
      {"distance symbol 30", Hex("ab a8 ac 02 3e 00"), 1, ""},
      {"length 284 with extra 31 is 258", Hex("2b 1c f9 60 14 00 00"), 0, std::string(517, 'q')},
      {"distance 32768", Hex("00 00 80 ff 7f") + window + Hex("03 df ff 0f bc fe 1f 00"), 0, window + window.substr(0, 5) + window.substr(6, 3)},
      {"distance before the first byte", Hex("03 d9 51 05 00"), 0, std::string(4, '\0') + "z"},
      {"exactly a window", Hex("01 00 80 ff 7f") + std::string(32768, 'e'), 0, std::string(32768, 'e')},
      {"failure after a window", Hex("00 20 4e df b1 77*20000 00 20 4e df b1 77*20000 07"), 2, std::string(32768, 'w')},
      {"dynamic, lengths sent one by one", Hex("0d e0 db 92 24 49 92 2c cb 02 00*48 11 00*78 10 21 4a"), 0, "abba"},
      {"repeat code first repeats 0", Hex("0d e0 db 92 24 49 92 2c cb 5e fe 94 e8 ff 3f 82 08 65 01"), 0, "baaaa"},
      {"zero run to the last length", Hex("05 e5 db 92 24 49 92 2c cb 02 00*59 20 00*67 20 3e 11"), 0, "xx"},
      {"zero run one past the last", Hex("05 e5 db 92 24 49 92 2c cb 02 00*59 20 00*67 20 be 11"), 1, ""},
      {"HLIT 30", Hex("f5 e0 01 55*40"), 1, ""},
      {"HDIST 30", Hex("05 fe 01 55*40"), 1, ""},
      {"single 1-bit distance code", Hex("0d e0 db 92 24 49 92 2c cb 02 00*48 11 00*78 10 21 2e"), 0, "abbbb"},
      {"its spare pattern", Hex("0d e0 db 92 24 49 92 2c cb 02 00*48 11 00*78 10 21 3e"), 1, ""},
      {"over-subscribed literal code", Hex("0d e0 db 92 24 49 92 2c cb 02 00*48 11 02 00*77 10 21 00*4"), 2, ""},
      {"incomplete literal code", Hex("0d e0 db 92 24 49 92 2c cb 02 00*48 01 00*78 10 21 00*4"), 1, ""},
      {"incomplete distance code", Hex("0d e2 db 92 24 49 92 2c cb 02 00*48 11 00*78 10 11 11 00*4"), 1, ""},
      {"over-subscribed code-length code", Hex("0d e0 db 86 24 49 92 2c cb 02 00*11 c8 04 00*19 99 01 00*4"), 2, ""},
      {"incomplete code-length code", Hex("0d e0 5b 90 24 49 92 2c cb 02 00*48 11 00*78 10 21 00*4"), 1, ""},
      {"empty code-length code", Hex("0d e0 01 00*11"), 1, ""},
      {"empty distance code, literals only", Hex("0d e0 db 92 24 49 92 2c cb 02 00*48 11 00*78 10 01 06"), 0, "ab"},
      {"empty distance code, many literals", Hex("05 c0 21 09 00*4 a0 ad fe 3f 21 00*625 01"), 0, std::string(5000, 'a')},
      {"length with no distance code", Hex("0d e0 db 92 24 49 92 2c cb 02 00*48 11 00*78 10 01 03 00 00"), 1, ""},
      {"empty literal code", Hex("05 e0 db 92 24 49 92 2c cb 02 00*128 02 00*4"), 1, ""},
      {"no table at all", Hex("cb 05 00"), 3, "", 0},
      {"one table only", Hex("cb 05 00"), 3, "", 1},
      {"zlib, level 1 text", Deflate(text, 1), 0, text},
      {"zlib, level 9 mix", Deflate(mix, 9), 0, mix},
      {"zlib, Huffman only text", Deflate(text, 6, Z_HUFFMAN_ONLY), 0, text},
      {"zlib, run lengths", Deflate(runs, 6, Z_RLE), 0, runs},
      {"zlib, fixed codes, mix", Deflate(mix, 9, Z_FIXED), 0, mix},
      {"zlib, flushed every 28672", Deflate(big, 9, Z_DEFAULT_STRATEGY, 28672), 0, big},
  };
  // clang-format on
  // Cut near each of the first fills' ends, where the loops hand over to each other, and every
  // 997 bytes; followed by other data, the same as alone; damaged anywhere.
  for (const std::string& raw : {Deflate(mix, 9), Deflate(mix, 0)}) {
    for (size_t cut = 0; cut < raw.size();
         cut += cut % STREAM_CHUNK < 20 || cut % STREAM_CHUNK > STREAM_CHUNK - 20 ? 1 : 997)
      rows.push_back({"cut at " + std::to_string(cut), raw.substr(0, cut), kCut, mix});
    for (size_t n : {1u, 7u, 8u, 9u, 100u, 40000u})
      rows.push_back({"followed by " + std::to_string(n), raw + std::string(n, 'Z'), 0, mix});
  }
  std::mt19937 random(1996);
  const std::string whole = Deflate(mix.substr(0, 120000), 9);
  for (int trial = 0; trial < 100; ++trial) {
    std::string damaged = whole;
    for (int flips = 1 + trial % 3; flips > 0; --flips)
      damaged[random() % damaged.size()] ^= static_cast<char>(1 + random() % 255);
    damaged.resize(trial % 2 ? damaged.size() : 3000 + trial * 50);
    rows.push_back({"damaged " + std::to_string(trial), damaged, kDamaged, ""});
  }
  ScratchFolder scratch;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    const Got got = Decode(row, false, scratch.File("out"));
    EXPECT_TRUE(got == Decode(row, true, scratch.File("out")));
    EXPECT_EQ(got.bytesRead + got.bytesLeft, row.raw.size());
    EXPECT_EQ(got.crc, zipbuild::Crc32Of(got.output));
    EXPECT_EQ(got.said, got.code == INFLATE_NO_MEMORY ? "\n*** inflate out of memory *** " : "");
    EXPECT_LE(got.pastEnd, got.code == INFLATE_OK ? 2u : kMaxBytesPastEnd + 1);
    if (row.code == kDamaged) continue;
    EXPECT_TRUE(row.code == kCut ? got.code != 0 || got.output == row.output
                                 : got.code == row.code);
    const size_t compared = row.code == kCut ? got.output.size() : row.output.size();
    EXPECT_TRUE(got.output.size() == compared && row.output.compare(0, compared, got.output) == 0)
        << got.code << ", " << got.output.size() << " bytes: " << got.output.substr(0, 40);
  }
}

// The CRC-32 as the output stream runs it, against its bit-by-bit definition: every length and
// alignment around its eight-byte steps, whole and in two uneven pieces.
TEST(Crc32, EveryLengthAlignmentAndSplitMatchesTheDefinition) {
  const std::string bytes = MakeData(0, 40000, 3);
  for (size_t offset = 0; offset < 8; ++offset)
    for (size_t length : {0, 1, 3, 7, 8, 9, 15, 16, 17, 63, 64, 65, 28672, 28673, 32768}) {
      const std::string piece = bytes.substr(offset, length);
      const uint32_t split = UpdateCrc32(0xFFFFFFFFu, piece.data(), length / 3);
      EXPECT_EQ(Crc32(piece.data(), length), zipbuild::Crc32Of(piece)) << offset << " " << length;
      EXPECT_EQ(~UpdateCrc32(split, piece.data() + length / 3, length - length / 3),
                zipbuild::Crc32Of(piece))
          << offset << " " << length;
    }
}

}  // namespace
