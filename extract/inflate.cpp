// Table-driven Deflate decoding: tables are built for each fixed or dynamic block and freed
// when it ends; decoded bytes pass through the window into the output stream.
#include "extract/inflate.h"

#include "extract/engine.h"
#include "extract/inflate_fast.h"
#include "extract/stream.h"

#include <cstring>

InflateState g_inflate;

namespace {

// Bases and extra-bit counts of the length symbols 257-287 and distance symbols 0-29, from
// RFC 1951 section 3.2.5; 286 and 287 do not occur in valid data (extra 99).
constexpr uint16_t LengthBase[31] = {3,  4,   5,   6,   7,   8,   9,   10, 11, 13, 15,
                                     17, 19,  23,  27,  31,  35,  43,  51, 59, 67, 83,
                                     99, 115, 131, 163, 195, 227, 258, 0,  0};
constexpr uint16_t LengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,  2, 2,
                                      3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
constexpr uint16_t DistanceBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint16_t DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block stores the code-length code's lengths (section 3.2.7).
constexpr unsigned CodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                          11, 4,  12, 3, 13, 2, 14, 1, 15};
constexpr uint16_t BitMask[17] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000f, 0x001f,
                                  0x003f, 0x007f, 0x00ff, 0x01ff, 0x03ff, 0x07ff,
                                  0x0fff, 0x1fff, 0x3fff, 0x7fff, 0xffff};

constexpr unsigned kMaxSymbols = 288;

// Local copy of the bit state for one step of a block routine; stored back when the step
// succeeds.
struct BitReader {
  uint32_t buffer = g_inflate.bitBuffer;
  unsigned count = g_inflate.bitCount;

  // False when the data ran out more than a valid stream ever needs.
  bool Need(unsigned n) {
    while (count < n) {
      if (!NextInputByte(g_inflate.receiver) && ++g_inflate.bytesPastEnd > kMaxBytesPastEnd)
        return false;
      buffer |= static_cast<uint32_t>(g_inflate.receiver) << count;
      count += 8;
    }
    return true;
  }
  // False when the bits would come from repeated bytes: those may serve a lookup as spare
  // high bits, but no code or value of a valid stream is made of them.
  [[nodiscard]] bool Drop(unsigned n) {
    if (n + 8 * g_inflate.bytesPastEnd > count) return false;
    buffer >>= n;
    count -= n;
    return true;
  }
  unsigned Peek(unsigned n) const { return buffer & BitMask[n]; }
  // Need, Peek and Drop in one.
  [[nodiscard]] bool Take(unsigned n, unsigned& value) {
    if (!Need(n)) return false;
    value = Peek(n);
    return Drop(n);
  }
  void Store() const {
    g_inflate.bitBuffer = buffer;
    g_inflate.bitCount = count;
  }
};

void PutByte(unsigned& position, uint8_t byte) {
  g_engine.window[position++] = byte;
  if (position == WINDOW_SIZE) {
    AppendOutput(g_engine.window, WINDOW_SIZE);
    position = 0;
  }
}

// Follows links from a root slot to the leaf; false for an invalid code or data run out.
bool Descend(BitReader& bits, const HuffmanEntry*& slot) {
  while (slot->extra > kExtraLiteral) {
    if (slot->extra == kExtraInvalid || !bits.Drop(slot->bits)) return false;
    const unsigned e = slot->extra - kExtraLiteral;
    if (!bits.Need(e)) return false;
    slot = slot->link + bits.Peek(e);
  }
  return true;
}

}  // namespace

int InflateCodes(const HuffmanEntry* literals, const HuffmanEntry* distances, int literalBits,
                 int distanceBits, const InflateOptions& options) {
  BitReader bits;
  unsigned position = g_inflate.windowPosition;
  const unsigned bl = static_cast<unsigned>(literalBits);
  const unsigned bd = static_cast<unsigned>(distanceBits);
  for (;;) {
    // While the input buffer holds enough bytes, the fast loop decodes; the byte-wise steps
    // below take the symbols near its end, so fills happen exactly where they would anyway.
    if (!options.byteWise && g_stream.inputCount >= kFastInputBytes) {
      const int status = InflateCodesFast(literals, distances, bl, bd, bits.buffer, bits.count,
                                          position, g_inflate.receiver);
      if (status == INFLATE_BAD_DATA) return status;
      if (status == INFLATE_OK) {
        bits.Store();
        g_inflate.windowPosition = position;
        return INFLATE_OK;
      }
    }
    // An empty code has no table: any lookup through it is invalid data.
    if (!literals || !bits.Need(bl)) return INFLATE_BAD_DATA;
    const HuffmanEntry* t = literals + bits.Peek(bl);
    if (!Descend(bits, t) || !bits.Drop(t->bits)) return INFLATE_BAD_DATA;
    if (t->extra == kExtraLiteral) {
      PutByte(position, static_cast<uint8_t>(t->value));
      continue;
    }
    if (t->extra == kExtraEndOfBlock) {
      bits.Store();
      g_inflate.windowPosition = position;
      return INFLATE_OK;
    }
    unsigned extra = 0;
    if (!bits.Take(t->extra, extra)) return INFLATE_BAD_DATA;
    const unsigned length = t->value + extra;

    if (!distances || !bits.Need(bd)) return INFLATE_BAD_DATA;
    t = distances + bits.Peek(bd);
    if (!Descend(bits, t) || !bits.Drop(t->bits)) return INFLATE_BAD_DATA;
    if (!bits.Take(t->extra, extra)) return INFLATE_BAD_DATA;
    CopyMatch(position, t->value + extra, length);
  }
}

int InflateStored(const InflateOptions& options) {
  BitReader bits;
  unsigned length = 0, check = 0;
  if (!bits.Drop(bits.count & 7) || !bits.Take(16, length) || !bits.Take(16, check))
    return INFLATE_BAD_DATA;
  if (length != (~check & 0xFFFF)) return INFLATE_BAD_DATA;
  unsigned position = g_inflate.windowPosition;
  while (length > 0) {
    if (bits.count == 0 && g_stream.inputCount > 0 && !options.byteWise) {
      // Whole bytes straight from the input buffer, as far as it and the window reach; the
      // byte-wise steps would read the same bytes, filling only when the buffer is empty.
      unsigned piece = static_cast<unsigned>(g_stream.inputCount);
      if (piece > length) piece = length;
      if (piece > WINDOW_SIZE - position) piece = WINDOW_SIZE - position;
      DecryptAhead(piece);
      std::memcpy(g_engine.window + position, g_stream.inputPosition, piece);
      g_inflate.receiver = g_stream.inputPosition[piece - 1];
      g_stream.inputPosition += piece;
      g_stream.inputCount -= static_cast<int32_t>(piece);
      position += piece;
      length -= piece;
      if (position == WINDOW_SIZE) {
        AppendOutput(g_engine.window, WINDOW_SIZE);
        position = 0;
      }
      continue;
    }
    unsigned byte = 0;
    if (!bits.Take(8, byte)) return INFLATE_BAD_DATA;
    PutByte(position, static_cast<uint8_t>(byte));
    --length;
  }
  bits.Store();
  g_inflate.windowPosition = position;
  return INFLATE_OK;
}

namespace {

HuffmanEntry*& Table(BlockTable which) { return g_inflate.blockTables[which]; }

int DecodeFixedBlock(const InflateOptions& options) {
  unsigned lengths[kMaxSymbols];
  for (unsigned i = 0; i < 144; ++i) lengths[i] = 8;
  for (unsigned i = 144; i < 256; ++i) lengths[i] = 9;
  for (unsigned i = 256; i < 280; ++i) lengths[i] = 7;
  for (unsigned i = 280; i < 288; ++i) lengths[i] = 8;
  HuffmanEntry*& literals = Table(kLiteralTable);
  int bl = FIXED_LITERAL_LOOKUP_BITS;
  int result = BuildHuffmanTable(lengths, 288, 257, LengthBase, LengthExtra, &literals, &bl,
                                 options.allocate);
  if (result != INFLATE_OK) return result;

  for (unsigned i = 0; i < 30; ++i) lengths[i] = 5;
  HuffmanEntry*& distances = Table(kDistanceTable);
  int bd = FIXED_DISTANCE_LOOKUP_BITS;
  // 30 of the 32 five-bit codes: incomplete, accepted; symbols 30 and 31 decode as invalid.
  result = BuildHuffmanTable(lengths, 30, 0, DistanceBase, DistanceExtra, &distances, &bd,
                             options.allocate);
  if (result > INFLATE_BAD_DATA) return result;
  return InflateCodes(literals, distances, bl, bd, options);
}

int DecodeDynamicBlock(const InflateOptions& options) {
  BitReader bits;
  unsigned hlit = 0, hdist = 0, hclen = 0;
  if (!bits.Take(5, hlit) || !bits.Take(5, hdist) || !bits.Take(4, hclen)) return INFLATE_BAD_DATA;
  const unsigned nl = 257 + hlit, nd = 1 + hdist, nb = 4 + hclen;
  if (nl > 286 || nd > 30) return INFLATE_BAD_DATA;

  unsigned lengths[286 + 30] = {};
  for (unsigned j = 0; j < nb; ++j)
    if (!bits.Take(3, lengths[CodeLengthOrder[j]])) return INFLATE_BAD_DATA;
  int result;
  {
    HuffmanEntry*& codeLengths = Table(kCodeLengthTable);
    int bc = CODE_LENGTH_LOOKUP_BITS;
    result =
        BuildHuffmanTable(lengths, 19, 19, nullptr, nullptr, &codeLengths, &bc, options.allocate);
    if (result != INFLATE_OK) return result;
    std::memset(lengths, 0, sizeof lengths);

    const unsigned total = nl + nd;
    unsigned previous = 0;
    for (unsigned i = 0; i < total;) {
      if (!codeLengths || !bits.Need(static_cast<unsigned>(bc))) return INFLATE_BAD_DATA;
      const HuffmanEntry& t = codeLengths[bits.Peek(static_cast<unsigned>(bc))];
      if (t.extra == kExtraInvalid || !bits.Drop(t.bits)) return INFLATE_BAD_DATA;
      unsigned repeat = 0, value = 0;
      if (t.value < 16) {
        lengths[i++] = previous = t.value;
        continue;
      } else if (t.value == 16) {
        if (!bits.Take(2, repeat)) return INFLATE_BAD_DATA;
        repeat += 3;
        value = previous;
      } else if (t.value == 17) {
        if (!bits.Take(3, repeat)) return INFLATE_BAD_DATA;
        repeat += 3;
        value = previous = 0;
      } else {
        if (!bits.Take(7, repeat)) return INFLATE_BAD_DATA;
        repeat += 11;
        value = previous = 0;
      }
      if (i + repeat > total) return INFLATE_BAD_DATA;
      while (repeat-- > 0) lengths[i++] = value;
    }
    FreeHuffmanTable(codeLengths);
    codeLengths = nullptr;
  }
  bits.Store();

  HuffmanEntry*& literals = Table(kLiteralTable);
  int bl = LITERAL_LOOKUP_BITS;
  result = BuildHuffmanTable(lengths, nl, 257, LengthBase, LengthExtra, &literals, &bl,
                             options.allocate);
  if (result != INFLATE_OK) return result;
  HuffmanEntry*& distances = Table(kDistanceTable);
  int bd = DISTANCE_LOOKUP_BITS;
  result = BuildHuffmanTable(lengths + nl, nd, 0, DistanceBase, DistanceExtra, &distances, &bd,
                             options.allocate);
  if (result != INFLATE_OK) return result;
  return InflateCodes(literals, distances, bl, bd, options);
}

}  // namespace

void ReleaseBlockTables() {
  for (HuffmanEntry*& table : g_inflate.blockTables) {
    FreeHuffmanTable(table);
    table = nullptr;
  }
}

// Each block's codes are released when it ends, whatever its outcome.
int InflateFixed(const InflateOptions& options) {
  const int result = DecodeFixedBlock(options);
  ReleaseBlockTables();
  return result;
}

int InflateDynamic(const InflateOptions& options) {
  const int result = DecodeDynamicBlock(options);
  ReleaseBlockTables();
  return result;
}

int InflateBlock(bool* lastBlock, const InflateOptions& options) {
  BitReader bits;
  unsigned last = 0, type = 0;
  if (!bits.Take(1, last) || !bits.Take(2, type)) return INFLATE_BAD_DATA;
  *lastBlock = last != 0;
  bits.Store();
  switch (type) {
    case 2:
      return InflateDynamic(options);
    case 0:
      return InflateStored(options);
    case 1:
      return InflateFixed(options);
    default:
      return INFLATE_BAD_BLOCK;
  }
}

int InflateEntry(const InflateOptions& options) {
  g_inflate.bitBuffer = 0;
  g_inflate.bitCount = 0;
  g_inflate.windowPosition = 0;
  g_inflate.bytesPastEnd = 0;
  bool last = false;
  do {
    const int result = InflateBlock(&last, options);
    if (result != INFLATE_OK) return result;
  } while (!last);
  AppendOutput(g_engine.window, g_inflate.windowPosition);
  return INFLATE_OK;
}
