// The inflate decoder on hand-made Deflate streams, one row per corner of RFC 1951 (hex bytes,
// "hh*n" for n repeats): stored, fixed and dynamic blocks, invalid codes and code sets, the
// bounded run past the end of the data, the window, and table allocation failure. Each row
// is decoded by the fast loop and by the byte-wise reader alone, with the same outcome.
#include "extract/inflate.h"
#include "tests/extract/inflate_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace {

std::string Hex(const char* text) {
  std::string out;
  std::istringstream in(text);
  for (std::string t; in >> t;) {
    const size_t star = t.find('*');
    out.append(star == std::string::npos ? 1 : std::stoul(t.substr(star + 1)),
               static_cast<char>(std::stoul(t.substr(0, 2), nullptr, 16)));
  }
  return out;
}

std::string StoredBlock(const std::string& data, bool last) {
  const uint32_t n = static_cast<uint32_t>(data.size());
  const char header[] = {last, char(n), char(n >> 8), char(~n), char(~n >> 8)};
  return std::string(header, 5) + data;
}

int g_allocationsLeft = 0;
void* FailingAllocate(size_t size) { return g_allocationsLeft-- > 0 ? std::malloc(size) : nullptr; }

struct Row {
  const char* label;
  std::string raw;
  int code;
  std::string output;
  int allocations = -1;  // table allocations that succeed; -1: all
};

TEST(InflateTable, EveryRowDecodesToItsResultAndOutput) {
  std::string window(32768, '\0');
  for (size_t i = 0; i < window.size(); ++i) window[i] = static_cast<char>('A' + i % 23);
  const std::string abcdefg = "abcdefghijklmnop";
  // clang-format off
  const Row rows[] = {
      {"final stored, LEN 0", Hex("01 00 00 ff ff"), 0, ""},
      {"stored abc", Hex("01 03 00 fc ff 61 62 63"), 0, "abc"},
      {"empty stored, then stored", Hex("00 00 00 ff ff 01 01 00 fe ff 7a"), 0, "z"},
      {"NLEN not the complement", Hex("01 03 00 fc fe 61 62 63"), 1, ""},
      {"block type 3", Hex("07"), 2, ""},
      {"block type 3 after a stored block", Hex("00 01 00 fe ff 71 07"), 2, ""},
      {"no data at all", "", 1, ""},
      {"stored LEN 65535 cut short", Hex("01 ff ff 00 00 61 62 63 64 65 66"), 1, ""},
      {"non-final block, then nothing", Hex("00 00 00 ff ff"), 1, ""},
      {"fixed block without its end", Hex("4b 4c 4a 4e 49 4d 4b cf 00"), 1, ""},
      {"fixed, empty", Hex("03 00"), 0, ""},
      {"fixed, 1 literal", Hex("4b 04 00"), 0, "a"},
      {"fixed, 7 literals", Hex("4b 4c 4a 4e 49 4d 4b 07 00"), 0, abcdefg.substr(0, 7)},
      {"fixed, 15 literals", Hex("4b 4c 4a 4e 49 4d 4b cf c8 cc ca ce c9 cd cb 07 00"), 0, abcdefg.substr(0, 15)},
      {"fixed, matches of 6 and 258", Hex("4b 4c 4a 86 a0 51 00 00"), 0, "abcabcabc" + std::string(258, 'c')},
      {"length symbol 286", Hex("ab 18 03 00"), 1, ""},
      {"length symbol 287", Hex("ab 18 07 00"), 1, ""},
      {"distance symbol 30", Hex("ab a8 ac 02 3e 00"), 1, ""},
      {"distance symbol 31", Hex("ab a8 ac 02 7e 00"), 1, ""},
      {"length 284 with extra 31 is 258", Hex("2b 1c f9 60 14 00 00"), 0, std::string(517, 'q')},
      {"distance 32768", StoredBlock(window, false) + Hex("03 df ff 0f bc fe 1f 00"), 0, window + window.substr(0, 5) + window.substr(6, 3)},
      {"distance before the first byte", Hex("03 d9 51 05 00"), 0, std::string(4, '\0') + "z"},
      {"exactly a window", StoredBlock(std::string(32768, 'e'), true), 0, std::string(32768, 'e')},
      {"failure after a window", StoredBlock(std::string(20000, 'w'), false) + StoredBlock(std::string(20000, 'w'), false) + "\x07", 2, std::string(32768, 'w')},
      {"dynamic, lengths sent one by one", Hex("0d e0 db 92 24 49 92 2c cb 02 00*48 11 00*78 10 21 4a"), 0, "abba"},
      {"repeat code first repeats 0", Hex("0d e0 db 92 24 49 92 2c cb 5e fe 94 e8 ff 3f 82 08 65 01"), 0, "baaaa"},
      {"zero run to the last length", Hex("05 e5 db 92 24 49 92 2c cb 02 00*59 20 00*67 20 3e 11"), 0, "xx"},
      {"zero run one past the last", Hex("05 e5 db 92 24 49 92 2c cb 02 00*59 20 00*67 20 be 11"), 1, ""},
      {"HLIT 30", Hex("f5 e0 01 55*40"), 1, ""},
      {"HLIT 31", Hex("fd e0 01 55*40"), 1, ""},
      {"HDIST 30", Hex("05 fe 01 55*40"), 1, ""},
      {"HDIST 31", Hex("05 ff 01 55*40"), 1, ""},
      {"single 1-bit distance code", Hex("0d e0 db 92 24 49 92 2c cb 02 00*48 11 00*78 10 21 2e"), 0, "abbbb"},
      {"its spare pattern", Hex("0d e0 db 92 24 49 92 2c cb 02 00*48 11 00*78 10 21 3e"), 1, ""},
      {"over-subscribed literal code", Hex("0d e0 db 92 24 49 92 2c cb 02 00*48 11 02 00*77 10 21 00*4"), 2, ""},
      {"incomplete literal code", Hex("0d e0 db 92 24 49 92 2c cb 02 00*48 01 00*78 10 21 00*4"), 1, ""},
      {"incomplete distance code", Hex("0d e2 db 92 24 49 92 2c cb 02 00*48 11 00*78 10 11 11 00*4"), 1, ""},
      {"over-subscribed code-length code", Hex("0d e0 db 86 24 49 92 2c cb 02 00*11 c8 04 00*19 99 01 00*4"), 2, ""},
      {"incomplete code-length code", Hex("0d e0 5b 90 24 49 92 2c cb 02 00*48 11 00*78 10 21 00*4"), 1, ""},
      {"empty code-length code", Hex("0d e0 01 00*11"), 1, ""},
      {"empty distance code, literals only", Hex("0d e0 db 92 24 49 92 2c cb 02 00*48 11 00*78 10 01 06"), 0, "ab"},
      {"length with no distance code", Hex("0d e0 db 92 24 49 92 2c cb 02 00*48 11 00*78 10 01 03 00 00"), 1, ""},
      {"empty literal code", Hex("05 e0 db 92 24 49 92 2c cb 02 00*128 02 00*4"), 1, ""},
      {"no table at all", Hex("cb 05 00"), 3, "", 0},
      {"one table only", Hex("cb 05 00"), 3, "", 1},
  };
  // clang-format on
  for (const Row& row : rows) {
    for (bool byteWise : {false, true}) {
      SCOPED_TRACE(std::string(row.label) + (byteWise ? ", byte-wise" : ""));
      g_allocationsLeft = row.allocations;
      InflateOptions options;
      options.byteWise = byteWise;
      if (row.allocations >= 0) options.allocate = FailingAllocate;
      ::testing::internal::CaptureStderr();
      const DecodeResult got = Decode(row.raw, options);
      const std::string said = ::testing::internal::GetCapturedStderr();
      EXPECT_EQ(got.code, row.code);
      EXPECT_TRUE(got.output == row.output)
          << got.output.size() << " bytes: " << got.output.substr(0, 40);
      EXPECT_LE(got.pastEnd, row.code == INFLATE_OK ? 2u : kMaxBytesPastEnd + 1);
      EXPECT_EQ(said, row.code == INFLATE_NO_MEMORY ? "\n*** inflate out of memory *** " : "");
    }
  }
}

}  // namespace
