// The inflate decoder against hand-built Deflate blocks for the corner cases of RFC 1951,
// its result codes for damaged data, its bounded run past the end of the data, and the
// lookup tables of BuildHuffmanTable checked code by code against canonical codes.
#include "extract/inflate.h"
#include "tests/extract/inflate_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <utility>

namespace {

// ---- Writing blocks ----

std::vector<int> FixedLiteralLengths() {
  std::vector<int> l(288);
  for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  return l;
}

// Length symbol and extra bits for a match length 3-258 (RFC 1951, 3.2.5).
struct Coded {
  int symbol, extraBits, extra;
};
Coded LengthCode(int length) {
  static const int base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                             31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const int bits[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  for (int i = 28; i >= 0; --i)
    if (length >= base[i]) return {257 + i, bits[i], length - base[i]};
  return {0, 0, 0};
}
Coded DistanceCode(int distance) {
  static const int base[] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                             33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                             1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
  for (int i = 29; i >= 0; --i)
    if (distance >= base[i]) return {i, i < 4 ? 0 : i / 2 - 1, distance - base[i]};
  return {0, 0, 0};
}

// A block whose codes come from the given lengths; writes symbols, matches and the end.
struct Block {
  Block(std::vector<int> literals, std::vector<int> distances)
      : literalLengths(std::move(literals)), distanceLengths(std::move(distances)) {}
  std::vector<int> literalLengths;
  std::vector<int> distanceLengths;
  std::vector<uint32_t> literalCodes, distanceCodes;
  BitWriter* w = nullptr;

  void Start(BitWriter& writer) {
    w = &writer;
    literalCodes = CanonicalCodes(literalLengths);
    distanceCodes = CanonicalCodes(distanceLengths);
  }
  void Symbol(int s) { w->Code(literalCodes[s], literalLengths[s]); }
  void Literal(const std::string& text) {
    for (unsigned char c : text) Symbol(c);
  }
  void DistanceSymbol(int s) { w->Code(distanceCodes[s], distanceLengths[s]); }
  void Match(int length, int distance) {
    const Coded l = LengthCode(length);
    Symbol(l.symbol);
    w->Bits(static_cast<uint32_t>(l.extra), l.extraBits);
    const Coded d = DistanceCode(distance);
    DistanceSymbol(d.symbol);
    w->Bits(static_cast<uint32_t>(d.extra), d.extraBits);
  }
  void End() { Symbol(256); }
};

Block FixedBlock(BitWriter& w, bool last) {
  w.Bits(last ? 1 : 0, 1);
  w.Bits(1, 2);
  Block b(FixedLiteralLengths(), std::vector<int>(32, 5));
  b.Start(w);
  return b;
}

constexpr int kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                      11, 4,  12, 3, 13, 2, 14, 1, 15};

// The code-length code used by the dynamic blocks below: complete, every symbol present.
std::vector<int> CodeLengthLengths() {
  std::vector<int> l(19);
  for (int s = 0; s < 19; ++s) l[s] = s <= 12 ? 4 : 5;
  return l;
}

// Writes a dynamic block header. sent: the code-length symbols with their extra values, or
// empty to send each length as itself. hlit/hdist override the counts when not -1.
void DynamicHeader(BitWriter& w, bool last, const std::vector<int>& lit,
                   const std::vector<int>& dist, std::vector<std::pair<int, int>> sent = {},
                   int hlit = -1, int hdist = -1, std::vector<int> cl = CodeLengthLengths()) {
  w.Bits(last ? 1 : 0, 1);
  w.Bits(2, 2);
  w.Bits(static_cast<uint32_t>(hlit >= 0 ? hlit : static_cast<int>(lit.size()) - 257), 5);
  w.Bits(static_cast<uint32_t>(hdist >= 0 ? hdist : static_cast<int>(dist.size()) - 1), 5);
  w.Bits(15, 4);  // all 19 code-length lengths follow
  for (int j = 0; j < 19; ++j) w.Bits(static_cast<uint32_t>(cl[kCodeLengthOrder[j]]), 3);
  if (sent.empty()) {
    for (int l : lit) sent.push_back({l, 0});
    for (int l : dist) sent.push_back({l, 0});
  }
  const std::vector<uint32_t> codes = CanonicalCodes(cl);
  for (auto [symbol, extra] : sent) {
    w.Code(codes[symbol], cl[symbol]);
    if (symbol == 16) w.Bits(static_cast<uint32_t>(extra), 2);
    if (symbol == 17) w.Bits(static_cast<uint32_t>(extra), 3);
    if (symbol == 18) w.Bits(static_cast<uint32_t>(extra), 7);
  }
}

// Literal/length lengths giving 'a', 'b', the end of block and length 3 two bits each.
std::vector<int> SmallLiterals() {
  std::vector<int> l(258, 0);
  l['a'] = 2;
  l['b'] = 2;
  l[256] = 2;
  l[257] = 2;
  return l;
}

std::string Repeat(char c, size_t n) { return std::string(n, c); }

// ---- Stored blocks and block types ----

struct RawCase {
  const char* what;
  std::string raw;
  int code;
  std::string output;
};

class RawBlockTest : public ::testing::TestWithParam<RawCase> {};

TEST_P(RawBlockTest, DecodesToTheExpectedResult) {
  const RawCase& c = GetParam();
  const DecodeResult r = Decode(c.raw);
  EXPECT_EQ(r.code, c.code) << c.what;
  EXPECT_EQ(r.output, c.output) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, RawBlockTest,
    ::testing::Values(RawCase{"final stored LEN 0", std::string("\x01\x00\x00\xff\xff", 5), 0, ""},
                      RawCase{"stored abc",
                              std::string("\x01\x03\x00\xfc\xff"
                                          "abc",
                                          8),
                              0, "abc"},
                      RawCase{"empty stored then stored",
                              std::string("\x00\x00\x00\xff\xff\x01\x01\x00\xfe\xffz", 11), 0, "z"},
                      RawCase{"NLEN not the complement",
                              std::string("\x01\x03\x00\xfc\xfe"
                                          "abc",
                                          8),
                              1, ""},
                      RawCase{"block type 3, last", std::string("\x07", 1), 2, ""},
                      RawCase{"block type 3 after a stored block",
                              std::string("\x00\x01\x00\xfe\xffq\x07", 7), 2, ""},
                      RawCase{"no data at all", std::string(), 1, ""},
                      RawCase{"stored LEN 65535 cut short",
                              std::string("\x01\xff\xff\x00\x00"
                                          "abcdef",
                                          11),
                              1, ""}));

TEST(InflateTest, RunningPastTheEndStopsAfterAFewRepeatedBytes) {
  // A long stored block, a fixed block without its end, and a non-final block with no more.
  BitWriter w;
  Block b = FixedBlock(w, true);
  b.Literal("abcdefgh");
  const std::string unfinished = w.Finish();
  for (const std::string& raw :
       {std::string("\x01\xff\xff\x00\x00"
                    "abcdef",
                    11),
        unfinished, std::string("\x00\x00\x00\xff\xff", 5), std::string()}) {
    const DecodeResult r = Decode(raw);
    EXPECT_EQ(r.code, INFLATE_BAD_DATA);
    EXPECT_LE(r.pastEnd, kMaxBytesPastEnd + 1);
  }
}

// A valid stream may need repeated bytes only to look up its last code.
TEST(InflateTest, ValidStreamEndingAnywhereInItsLastByteIsAccepted) {
  for (int n = 0; n < 16; ++n) {
    BitWriter w;
    Block b = FixedBlock(w, true);
    b.Literal(std::string("abcdefghijklmnop").substr(0, static_cast<size_t>(n)));
    b.End();
    const DecodeResult r = Decode(w.Finish());
    EXPECT_EQ(r.code, INFLATE_OK) << n;
    EXPECT_EQ(r.output, std::string("abcdefghijklmnop").substr(0, static_cast<size_t>(n)));
    EXPECT_LE(r.pastEnd, 2u);
  }
}

// ---- Fixed blocks ----

TEST(InflateTest, FixedBlockLiteralsAndMatches) {
  BitWriter w;
  Block b = FixedBlock(w, true);
  b.Literal("abc");
  b.Match(6, 3);
  b.Match(258, 1);
  b.End();
  const DecodeResult r = Decode(w.Finish());
  EXPECT_EQ(r.code, INFLATE_OK);
  EXPECT_EQ(r.output, "abcabcabc" + Repeat('c', 258));
}

TEST(InflateTest, FixedBlockInvalidSymbolsAreBadData) {
  for (int bad : {286, 287}) {
    BitWriter w;
    Block b = FixedBlock(w, true);
    b.Literal("x");
    b.Symbol(bad);
    b.End();
    EXPECT_EQ(Decode(w.Finish()).code, INFLATE_BAD_DATA) << bad;
  }
  for (int bad : {30, 31}) {
    BitWriter w;
    Block b = FixedBlock(w, true);
    b.Literal("xyz");
    b.Symbol(257);
    b.DistanceSymbol(bad);
    b.End();
    const DecodeResult r = Decode(w.Finish());
    EXPECT_EQ(r.code, INFLATE_BAD_DATA) << bad;
    EXPECT_EQ(r.output, "") << "the window's bytes are dropped on failure";
  }
}

TEST(InflateTest, LengthSymbol284WithAllExtraBitsIs258) {
  BitWriter w;
  Block b = FixedBlock(w, true);
  b.Literal("q");
  b.Symbol(284);
  w.Bits(31, 5);
  b.DistanceSymbol(0);
  b.Symbol(285);
  b.DistanceSymbol(0);
  b.End();
  const DecodeResult r = Decode(w.Finish());
  EXPECT_EQ(r.code, INFLATE_OK);
  EXPECT_EQ(r.output, Repeat('q', 1 + 258 + 258));
}

TEST(InflateTest, Distance32768CopiesTheByteAtTheWindowPosition) {
  std::string first(32768, '\0');
  for (size_t i = 0; i < first.size(); ++i) first[i] = static_cast<char>('A' + i % 23);
  BitWriter w;
  w.Bits(0, 1);
  w.Bits(0, 2);
  w.Finish();
  std::string raw = w.bytes;
  raw += std::string("\x00\x80\xff\x7f", 4) + first;  // stored, LEN 32768
  BitWriter tail;
  Block b = FixedBlock(tail, true);
  b.Match(5, 32768);
  b.Match(3, 32767);
  b.End();
  raw += tail.Finish();
  const DecodeResult r = Decode(raw);
  EXPECT_EQ(r.code, INFLATE_OK);
  EXPECT_EQ(r.output, first + first.substr(0, 5) + first.substr(6, 3));
}

TEST(InflateTest, DistanceBeforeTheFirstByteReadsTheFreshWindowsZeros) {
  BitWriter w;
  Block b = FixedBlock(w, true);
  b.Match(4, 100);
  b.Literal("z");
  b.End();
  const DecodeResult r = Decode(w.Finish());
  EXPECT_EQ(r.code, INFLATE_OK);
  EXPECT_EQ(r.output, std::string(4, '\0') + "z");
}

TEST(InflateTest, OutputOfExactlyAWindowAndFailureAfterIt) {
  const std::string block(20000, 'w');
  auto stored = [](const std::string& data, bool last) {
    const uint16_t n = static_cast<uint16_t>(data.size());
    std::string s;
    s += static_cast<char>(last ? 1 : 0);
    s += static_cast<char>(n & 0xFF);
    s += static_cast<char>(n >> 8);
    s += static_cast<char>(~n & 0xFF);
    s += static_cast<char>((~n >> 8) & 0xFF);
    return s + data;
  };
  const DecodeResult exact = Decode(stored(std::string(32768, 'e'), true));
  EXPECT_EQ(exact.code, INFLATE_OK);
  EXPECT_EQ(exact.output, std::string(32768, 'e'));
  // 40000 bytes decoded, then block type 3: only the full window reached the output.
  const DecodeResult failed = Decode(stored(block, false) + stored(block, false) + "\x07");
  EXPECT_EQ(failed.code, INFLATE_BAD_BLOCK);
  EXPECT_EQ(failed.output, std::string(32768, 'w'));
}

// ---- Dynamic blocks ----

TEST(InflateTest, DynamicBlockWithEveryLengthSentLiterally) {
  std::vector<int> dist = {1};
  BitWriter w;
  DynamicHeader(w, true, SmallLiterals(), dist);
  Block b{SmallLiterals(), dist};
  b.Start(w);
  b.Literal("abba");
  b.End();
  const DecodeResult r = Decode(w.Finish());
  EXPECT_EQ(r.code, INFLATE_OK);
  EXPECT_EQ(r.output, "abba");
}

// Code 16 at the very start repeats the previous length, which starts at 0.
TEST(InflateTest, RepeatCodeFirstRepeatsLengthZero) {
  std::vector<int> dist = {1};
  // 3 zeros by code 16, 94 by code 18 (symbols 0-96), 'a' and 'b', 138 + 19 zeros
  // (99-255), the end of block and length 3, then the one distance.
  const std::vector<std::pair<int, int>> sent = {{16, 0}, {18, 83}, {2, 0}, {2, 0}, {18, 127},
                                                 {18, 8}, {2, 0},   {2, 0}, {1, 0}};
  BitWriter w;
  DynamicHeader(w, true, SmallLiterals(), dist, sent);
  Block b{SmallLiterals(), dist};
  b.Start(w);
  b.Literal("ba");
  b.Match(3, 1);
  b.End();
  const DecodeResult r = Decode(w.Finish());
  EXPECT_EQ(r.code, INFLATE_OK);
  EXPECT_EQ(r.output, "baaaa");
}

TEST(InflateTest, ZeroRunEndingExactlyAtTheLastLengthIsAcceptedOnePastIsNot) {
  std::vector<int> literals(257, 0);
  literals['x'] = 1;
  literals[256] = 1;
  for (int extra : {0, 1}) {
    std::vector<std::pair<int, int>> sent;
    for (int s = 0; s < 257; ++s) sent.push_back({literals[s], 0});
    sent.push_back({1, 0});           // distance 0: one bit
    sent.push_back({17, 2 + extra});  // 5 (or 6) zeros: distances 1-5, the last five
    BitWriter w;
    DynamicHeader(w, true, literals, std::vector<int>{1, 0, 0, 0, 0, 0}, sent);
    Block b{literals, {1, 0, 0, 0, 0, 0}};
    b.Start(w);
    b.Literal("xx");
    b.End();
    const DecodeResult r = Decode(w.Finish());
    EXPECT_EQ(r.code, extra ? INFLATE_BAD_DATA : INFLATE_OK) << extra;
    EXPECT_EQ(r.output, extra ? "" : "xx");
  }
}

TEST(InflateTest, HlitOrHdistOf30IsBadData) {
  for (auto [hlit, hdist] :
       {std::pair{30, 0}, std::pair{31, 0}, std::pair{0, 30}, std::pair{0, 31}}) {
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(static_cast<uint32_t>(hlit), 5);
    w.Bits(static_cast<uint32_t>(hdist), 5);
    w.Bits(15, 4);
    const DecodeResult r = Decode(w.Finish() + std::string(40, '\x55'));
    EXPECT_EQ(r.code, INFLATE_BAD_DATA) << hlit << " " << hdist;
  }
}

TEST(InflateTest, SingleOneBitDistanceCodeIsAcceptedItsSparePatternIsNot) {
  for (bool useSpare : {false, true}) {
    std::vector<int> dist = {1};
    BitWriter w;
    DynamicHeader(w, true, SmallLiterals(), dist);
    Block b{SmallLiterals(), dist};
    b.Start(w);
    b.Literal("ab");
    b.Symbol(257);                // length 3
    w.Bits(useSpare ? 1 : 0, 1);  // the distance code: 0 is symbol 0 (distance 1)
    b.End();
    const DecodeResult r = Decode(w.Finish());
    EXPECT_EQ(r.code, useSpare ? INFLATE_BAD_DATA : INFLATE_OK);
    EXPECT_EQ(r.output, useSpare ? "" : "abbbb");
  }
}

TEST(InflateTest, CodeSetProblemsGiveTheirResults) {
  struct Case {
    const char* what;
    std::vector<int> literals, distances, codeLengths;
    int code;
  };
  std::vector<int> overSubscribed = SmallLiterals();
  overSubscribed['c'] = 1;
  std::vector<int> incomplete = SmallLiterals();
  incomplete['b'] = 0;
  std::vector<int> noDistance = {0};
  std::vector<int> incompleteDistance = {2, 2, 2};
  std::vector<int> clOver = CodeLengthLengths();
  clOver[0] = 1;
  std::vector<int> clIncomplete = CodeLengthLengths();
  clIncomplete[18] = 0;
  std::vector<int> clEmpty(19, 0);
  const std::vector<Case> cases = {
      {"over-subscribed literal code", overSubscribed, {1}, CodeLengthLengths(), 2},
      {"incomplete literal code", incomplete, {1}, CodeLengthLengths(), 1},
      {"incomplete distance code", SmallLiterals(), incompleteDistance, CodeLengthLengths(), 1},
      {"over-subscribed code-length code", SmallLiterals(), {1}, clOver, 2},
      {"incomplete code-length code", SmallLiterals(), {1}, clIncomplete, 1},
      {"empty code-length code", SmallLiterals(), {1}, clEmpty, 1},
      {"empty distance code, literals only", SmallLiterals(), noDistance, CodeLengthLengths(), 0},
  };
  for (const Case& c : cases) {
    BitWriter w;
    std::vector<std::pair<int, int>> sent;
    for (int l : c.literals) sent.push_back({l, 0});
    for (int l : c.distances) sent.push_back({l, 0});
    DynamicHeader(w, true, c.literals, c.distances, sent, -1, -1, c.codeLengths);
    if (c.code == 0) {
      Block b{c.literals, c.distances};
      b.Start(w);
      b.Literal("ab");
      b.End();
    } else {
      w.Bits(0, 32);
    }
    const DecodeResult r = Decode(w.Finish());
    EXPECT_EQ(r.code, c.code) << c.what;
  }
}

// With no distance code, a length symbol has no table to look its distance up in.
TEST(InflateTest, LengthWithAnEmptyDistanceCodeIsBadData) {
  std::vector<int> literals = SmallLiterals();
  std::vector<int> dist = {0};
  BitWriter w;
  DynamicHeader(w, true, literals, dist);
  Block b{literals, dist};
  b.Start(w);
  b.Literal("a");
  b.Symbol(257);
  w.Bits(0, 16);
  const DecodeResult r = Decode(w.Finish());
  EXPECT_EQ(r.code, INFLATE_BAD_DATA);
}

// Every literal/length code empty: the first lookup goes through a null table.
TEST(InflateTest, EmptyLiteralCodeIsBadData) {
  std::vector<int> literals(257, 0);
  BitWriter w;
  DynamicHeader(w, true, literals, {1});
  w.Bits(0, 32);
  EXPECT_EQ(Decode(w.Finish()).code, INFLATE_BAD_DATA);
}

// ---- Allocation failure ----

int g_allocationsLeft = 0;
void* FailingAllocate(size_t size) { return g_allocationsLeft-- > 0 ? std::malloc(size) : nullptr; }

TEST(InflateTest, TableAllocationFailureIsOutOfMemoryWithItsLine) {
  for (int allowed : {0, 1}) {
    BitWriter w;
    Block b = FixedBlock(w, true);
    b.Literal("m");
    b.End();
    g_allocationsLeft = allowed;
    InflateOptions failing;
    failing.allocate = FailingAllocate;
    ::testing::internal::CaptureStderr();
    const DecodeResult r = Decode(w.Finish(), failing);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.code, INFLATE_NO_MEMORY) << allowed;
    EXPECT_EQ(said, "\n*** inflate out of memory *** ");
  }
}

// ---- BuildHuffmanTable, slot by slot ----

// Splits leaves of a code tree at random: a complete code with the given number of symbols.
std::vector<int> RandomCompleteLengths(std::mt19937& random, int symbols, int maxLength) {
  std::vector<int> depths = {0};
  while (static_cast<int>(depths.size()) < symbols) {
    std::uniform_int_distribution<size_t> pick(0, depths.size() - 1);
    const size_t i = pick(random);
    if (depths[i] >= maxLength) continue;
    ++depths[i];
    depths.push_back(depths[i]);
  }
  return depths;
}

// Follows the tables as the decoder does with the code's bits (first bit lowest) and random
// bits above; returns the slot reached and the bits it consumed.
std::pair<const HuffmanEntry*, unsigned> Lookup(const HuffmanEntry* root, int width,
                                                uint32_t bits) {
  const HuffmanEntry* t = root + (bits & ((1u << width) - 1));
  unsigned used = 0;
  while (t->extra > 16 && t->extra != 99) {
    used += t->bits;
    bits >>= t->bits;
    t = t->link + (bits & ((1u << (t->extra - 16)) - 1));
  }
  return {t, used + t->bits};
}

uint32_t Reversed(uint32_t code, int length) {
  uint32_t r = 0;
  for (int i = 0; i < length; ++i) r |= ((code >> i) & 1u) << (length - 1 - i);
  return r;
}

TEST(HuffmanTableTest, EveryCodeOfRandomCompleteCodesDecodesToItsSymbol) {
  std::mt19937 random(1951);
  for (int round = 0; round < 300; ++round) {
    const int n = std::uniform_int_distribution<int>(2, 288)(random);
    const int used = std::uniform_int_distribution<int>(2, n)(random);
    const int maxLength = std::uniform_int_distribution<int>(round % 3 ? 9 : 15, 15)(random);
    if ((1 << maxLength) < used) continue;
    const std::vector<int> depths = RandomCompleteLengths(random, used, maxLength);
    std::vector<int> lengths(static_cast<size_t>(n), 0);
    std::vector<int> order(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) order[static_cast<size_t>(i)] = i;
    std::shuffle(order.begin(), order.end(), random);
    for (int i = 0; i < used; ++i)
      lengths[static_cast<size_t>(order[static_cast<size_t>(i)])] = depths[static_cast<size_t>(i)];
    std::vector<unsigned> ulengths(lengths.begin(), lengths.end());
    const int asked = std::uniform_int_distribution<int>(1, 10)(random);
    int width = asked;
    HuffmanEntry* table = nullptr;
    ASSERT_EQ(BuildHuffmanTable(ulengths.data(), static_cast<unsigned>(n), static_cast<unsigned>(n),
                                nullptr, nullptr, &table, &width),
              INFLATE_OK);
    ASSERT_NE(table, nullptr);
    const std::vector<uint32_t> codes = CanonicalCodes(lengths);
    for (int s = 0; s < n; ++s) {
      const int k = lengths[static_cast<size_t>(s)];
      if (k == 0) continue;
      const uint32_t high = static_cast<uint32_t>(random()) << k;
      auto [slot, consumed] =
          Lookup(table, width, Reversed(codes[static_cast<size_t>(s)], k) | high);
      ASSERT_EQ(slot->value, s) << "round " << round << " symbol " << s;
      ASSERT_EQ(slot->extra, s < 256 ? 16 : 15);
      ASSERT_EQ(consumed, static_cast<unsigned>(k)) << "round " << round << " symbol " << s;
    }
    FreeHuffmanTable(table);
  }
}

TEST(HuffmanTableTest, ResultCodesAndWidths) {
  auto build = [](std::vector<unsigned> lengths, int asked, int* width, HuffmanEntry** table) {
    *width = asked;
    return BuildHuffmanTable(lengths.data(), static_cast<unsigned>(lengths.size()),
                             static_cast<unsigned>(lengths.size()), nullptr, nullptr, table, width);
  };
  int width = 0;
  HuffmanEntry* table = nullptr;
  EXPECT_EQ(build({0, 0, 0}, 9, &width, &table), INFLATE_OK);
  EXPECT_EQ(table, nullptr);
  EXPECT_EQ(width, 0);

  EXPECT_EQ(build({1, 1, 1}, 9, &width, &table), INFLATE_BAD_BLOCK);
  EXPECT_EQ(table, nullptr);

  // One 1-bit code: complete for the decoder's purpose; its spare pattern is invalid.
  EXPECT_EQ(build({0, 1, 0}, 9, &width, &table), INFLATE_OK);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(width, 1);
  EXPECT_EQ(table[0].value, 1);
  EXPECT_EQ(table[1].extra, 99);
  FreeHuffmanTable(table);

  // Incomplete: the missing code decodes as invalid.
  EXPECT_EQ(build({2, 2, 2}, 9, &width, &table), INFLATE_BAD_DATA);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(width, 2);
  EXPECT_EQ(table[3].extra, 99);
  FreeHuffmanTable(table);

  // The width is raised to the shortest code and lowered to the longest.
  EXPECT_EQ(build({3, 3, 3, 3, 3, 3, 3, 3}, 9, &width, &table), INFLATE_OK);
  EXPECT_EQ(width, 3);
  FreeHuffmanTable(table);
  EXPECT_EQ(build({4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, 2, &width, &table), INFLATE_OK);
  EXPECT_EQ(width, 4);
  FreeHuffmanTable(table);
}

TEST(HuffmanTableTest, BaseAndExtraListsAreUsedFromSymbolS) {
  const uint16_t base[3] = {100, 200, 300};
  const uint16_t extra[3] = {1, 2, 3};
  std::vector<unsigned> lengths = {2, 2, 2, 3, 3};  // symbols 0,1 simple; 2-4 from the lists
  int width = 9;
  HuffmanEntry* table = nullptr;
  ASSERT_EQ(BuildHuffmanTable(lengths.data(), 5, 2, base, extra, &table, &width), INFLATE_OK);
  const std::vector<uint32_t> codes = CanonicalCodes({2, 2, 2, 3, 3});
  for (int s = 2; s < 5; ++s) {
    auto [slot, consumed] = Lookup(
        table, width,
        Reversed(codes[static_cast<size_t>(s)], static_cast<int>(lengths[static_cast<size_t>(s)])));
    EXPECT_EQ(slot->value, base[s - 2]);
    EXPECT_EQ(slot->extra, extra[s - 2]);
    EXPECT_EQ(consumed, lengths[static_cast<size_t>(s)]);
  }
  FreeHuffmanTable(table);
}

}  // namespace
