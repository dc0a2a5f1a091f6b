// The fast loop of the inflate decoder (see inflate_fast.h): the same window handling as the
// byte-wise loop of inflate.cpp, without a test per bit request. Codes are looked up in flat
// tables of its own, derived from the block's tables, that decode most codes with their
// length or distance base in one access; up to three literals are decoded per refill, and
// matches are copied 8 or 16 bytes a step.
#include "extract/inflate_fast.h"

#include "extract/decrypt.h"
#include "extract/engine.h"
#include "extract/stream.h"

#include <cstring>

namespace {

// Decrypted bytes kept ready ahead of the reading: enough for the two 8-byte loads of a step
// (15 bytes), and a lead of a few symbols, so that about one byte is decrypted per symbol
// decoded.
constexpr long kDecryptLead = 24;

inline uint64_t Load64(const uint8_t* p) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

inline uint64_t Mask(unsigned n) { return (uint64_t{1} << n) - 1; }

// Follows links to the leaf and drops the code's bits; null for an invalid code.
inline const HuffmanEntry* Decode(const HuffmanEntry* t, uint64_t& buffer, unsigned& count) {
  while (t->extra > kExtraLiteral) {
    if (t->extra == kExtraInvalid) return nullptr;
    buffer >>= t->bits;
    count -= t->bits;
    t = t->link + (buffer & Mask(t->extra - kExtraLiteral));
  }
  buffer >>= t->bits;
  count -= t->bits;
  return t;
}

// A slot of the fast loop's own tables, 32 bits: bits 0-7 the code's length; a literal has
// the top bit set and its byte in bits 16-23; a length or distance symbol has its base in
// bits 16-30 and its count of extra bits in bits 8-11. kFastSlow sends the decoding through
// the block's own tables: the end-of-block code, invalid codes, and codes longer than the
// flat table's width, all rare.
constexpr uint32_t kFastLiteral = 0x80000000u;
constexpr uint32_t kFastSlow = 0x8000u;
constexpr unsigned kFastLiteralBits = 10;
constexpr unsigned kFastDistanceBits = 8;
uint32_t g_fastLiterals[1u << kFastLiteralBits];
uint32_t g_fastDistances[1u << kFastDistanceBits];

// The flat slot of a leaf reached after used bits of links.
inline uint32_t FlatSlot(const HuffmanEntry& leaf, unsigned used) {
  const uint32_t length = used + leaf.bits;
  if (leaf.extra == kExtraLiteral) return kFastLiteral | uint32_t{leaf.value} << 16 | length;
  if (leaf.extra < kExtraEndOfBlock)
    return uint32_t{leaf.value} << 16 | uint32_t{leaf.extra} << 8 | length;
  return kFastSlow;
}

// Fills a flat table of 2^width slots from a block's tables of root width rootBits: slot i
// holds what the block's tables decode from the bits i, where that takes at most width bits.
// A root leaf stands for every slot that shares its low rootBits bits.
void BuildFastTable(const HuffmanEntry* root, unsigned rootBits, unsigned width, uint32_t* fast) {
  const unsigned size = 1u << width;
  if (!root || rootBits > width) {
    for (unsigned i = 0; i < size; ++i) fast[i] = kFastSlow;
    return;
  }
  const unsigned rootSize = 1u << rootBits;
  for (unsigned r = 0; r < rootSize; ++r) {
    if (root[r].extra <= kExtraLiteral) {
      const uint32_t slot = FlatSlot(root[r], 0);
      for (unsigned i = r; i < size; i += rootSize) fast[i] = slot;
      continue;
    }
    for (unsigned i = r; i < size; i += rootSize) {
      const HuffmanEntry* t = root + r;
      unsigned used = 0;
      while (t->extra > kExtraLiteral && t->extra != kExtraInvalid) {
        used += t->bits;
        const unsigned e = t->extra - kExtraLiteral;
        if (used + e > width) break;
        t = t->link + ((i >> used) & Mask(e));
      }
      fast[i] = t->extra <= kExtraLiteral ? FlatSlot(*t, used) : kFastSlow;
    }
  }
}

// A match that neither wraps around the window nor ends within 8 bytes of its end, in the
// fast loop: copied 16 or 8 bytes a step, which may write up to 15 bytes past the match (the
// window's allocation has 8 bytes to spare). The window's bytes there are older data that
// later matches may still need: they are saved first and put back after the copy.
inline void CopyWithSpill(uint8_t* to, unsigned distance, unsigned length) {
  uint8_t* const end = to + length;
  uint8_t saved[16];
  std::memcpy(saved, end, 16);
  const uint8_t* from = to - distance;
  if (distance >= 16) {
    // Each step reads only bytes already written.
    do {
      std::memcpy(to, from, 16);
      to += 16;
      from += 16;
    } while (to < end);
  } else if (distance >= 8) {
    do {
      std::memcpy(to, from, 8);
      to += 8;
      from += 8;
    } while (to < end);
  } else if (distance == 1) {
    std::memset(to, *from, length);
  } else {
    // A pattern of 2 to 7 bytes: its first eight bytes one by one, then eight at a time from
    // the nearest multiple of the distance at least eight bytes back.
    static constexpr unsigned kPatternStep[8] = {0, 8, 8, 9, 8, 10, 12, 14};
    const unsigned step = kPatternStep[distance];
    for (unsigned i = 0; i < 8; ++i) to[i] = from[i];
    for (to += 8; to < end; to += 8) std::memcpy(to, to - step, 8);
  }
  std::memcpy(end, saved, 16);
}

// A match that neither wraps around the window nor reaches its end, the usual case: the same
// bytes as a copy byte by byte in ascending order, fewer steps. Nothing is written past the
// match, where older data may still be needed.
inline void CopyWithinWindow(uint8_t* to, unsigned distance, unsigned length) {
  const uint8_t* from = to - distance;
  if (distance >= 8) {
    // Each 8-byte step reads only bytes already written.
    for (; length >= 8; length -= 8, to += 8, from += 8) std::memcpy(to, from, 8);
    while (length-- > 0) *to++ = *from++;
  } else if (distance == 1) {
    std::memset(to, *from, length);
  } else {
    // A pattern of 2 to 7 bytes: once eight bytes are written one by one, eight at a time
    // from the nearest multiple of the distance at least eight bytes back.
    static constexpr unsigned kPatternStep[8] = {0, 8, 8, 9, 8, 10, 12, 14};
    const unsigned step = kPatternStep[distance];
    unsigned i = 0;
    for (; i < length && i < 8; ++i) to[i] = from[i];
    for (; i + 8 <= length; i += 8) std::memcpy(to + i, to + i - step, 8);
    for (; i < length; ++i) to[i] = to[i - distance];
  }
}

}  // namespace

void CopyMatch(unsigned& position, unsigned distance, unsigned length) {
  uint8_t* const window = g_engine.window;
  if (distance <= position && position + length < WINDOW_SIZE) {
    CopyWithinWindow(window + position, distance, length);
    position += length;
    return;
  }
  // Pieces up to the end of the window or of the source. A distance reaching before the
  // entry's first byte reads whatever the window holds.
  unsigned from = position - distance;
  while (length > 0) {
    from &= WINDOW_SIZE - 1;
    unsigned piece = WINDOW_SIZE - (from > position ? from : position);
    if (piece > length) piece = length;
    length -= piece;
    if (position - from >= piece) {
      // No overlap that matters: the source lies wholly behind, or ahead in the window.
      std::memmove(window + position, window + from, piece);
      position += piece;
      from += piece;
    } else {
      // A distance shorter than the length repeats the pattern byte by byte.
      do {
        window[position++] = window[from++];
      } while (--piece);
    }
    if (position == WINDOW_SIZE) {
      AppendOutput(window, WINDOW_SIZE);
      position = 0;
    }
  }
}

namespace {

// The loop itself, in two forms: one that decrypts ahead of its reading, and one for input
// that is plain already (an unencrypted entry), which keeps the keys out of its registers.
template <bool kDecrypt>
[[gnu::always_inline]] inline int DecodeCodes(const HuffmanEntry* literals,
                                              const HuffmanEntry* distances, unsigned literalBits,
                                              unsigned distanceBits, uint32_t& bitBuffer,
                                              unsigned& bitCount, unsigned& windowPosition,
                                              uint16_t& lastByte) {
  uint8_t* const window = g_engine.window;
  const uint8_t* const start = g_stream.inputPosition;
  const uint8_t* const end = start + g_stream.inputCount;
  const uint8_t* in = start;
  // Decryption runs a little ahead of the reading, interleaved with the decoding: its chain
  // of dependent steps and the decoder's then run side by side in the processor.
  uint8_t* plainEnd = g_stream.plainEnd;
  uint32_t key0 = g_crypt.keys.key0, key1 = g_crypt.keys.key1, key2 = g_crypt.keys.key2;
  uint64_t buffer = bitBuffer;
  unsigned count = bitCount;
  unsigned position = windowPosition;
  const uint64_t literalMask = Mask(literalBits);
  const uint64_t distanceMask = Mask(distanceBits);
  int status = kFastNeedsInput;

  // Whole bytes up to 56-63 bits; the bits above the count are those of the next byte,
  // which the next load puts in the same places again.
  const auto refill = [&] {
    buffer |= Load64(in) << count;
    in += (63 - count) >> 3;
    count |= 56;
  };
  const auto drop = [&](unsigned n) {
    buffer >>= n;
    count -= n;
  };

  while (end - in >= kFastInputBytes) {
    if constexpr (kDecrypt) {
      for (const uint8_t* const wanted = end - in > kDecryptLead ? in + kDecryptLead : end;
           plainEnd < wanted; ++plainEnd)
        DecryptStep(plainEnd, key0, key1, key2);
    }
    refill();

    // Up to three literals per refill (30 bits at most); they cannot reach the window's end
    // from here, so there is no test between them.
    uint32_t e =
        position < WINDOW_SIZE - 3 ? g_fastLiterals[buffer & Mask(kFastLiteralBits)] : kFastSlow;
    if (e & kFastLiteral) {
      drop(e & 0xFF);
      window[position++] = static_cast<uint8_t>(e >> 16);
      e = g_fastLiterals[buffer & Mask(kFastLiteralBits)];
      if (e & kFastLiteral) {
        drop(e & 0xFF);
        window[position++] = static_cast<uint8_t>(e >> 16);
        e = g_fastLiterals[buffer & Mask(kFastLiteralBits)];
        if (e & kFastLiteral) {
          drop(e & 0xFF);
          window[position++] = static_cast<uint8_t>(e >> 16);
          continue;
        }
      }
      refill();  // enough bits again for a whole length and distance pair
    }
    unsigned length;
    if (!(e & kFastSlow)) {
      drop(e & 0xFF);
      const unsigned extra = (e >> 8) & 0xF;
      length = (e >> 16) + static_cast<unsigned>(buffer & Mask(extra));
      drop(extra);
    } else {
      const HuffmanEntry* t = Decode(literals + (buffer & literalMask), buffer, count);
      if (!t) {
        status = INFLATE_BAD_DATA;
        break;
      }
      if (t->extra == kExtraLiteral) {
        window[position++] = static_cast<uint8_t>(t->value);
        if (position == WINDOW_SIZE) {
          AppendOutput(window, WINDOW_SIZE);
          position = 0;
        }
        continue;
      }
      if (t->extra == kExtraEndOfBlock) {
        status = INFLATE_OK;
        break;
      }
      length = t->value + static_cast<unsigned>(buffer & Mask(t->extra));
      drop(t->extra);
    }

    unsigned distance;
    e = g_fastDistances[buffer & Mask(kFastDistanceBits)];
    if (!(e & kFastSlow)) {
      drop(e & 0xFF);
      const unsigned extra = (e >> 8) & 0xF;
      distance = (e >> 16) + static_cast<unsigned>(buffer & Mask(extra));
      drop(extra);
    } else {
      const HuffmanEntry* t;
      if (!distances || !(t = Decode(distances + (buffer & distanceMask), buffer, count))) {
        status = INFLATE_BAD_DATA;
        break;
      }
      distance = t->value + static_cast<unsigned>(buffer & Mask(t->extra));
      drop(t->extra);
    }

    if (distance <= position && position + length <= WINDOW_SIZE - 8) {
      CopyWithSpill(window + position, distance, length);
      position += length;
    } else {
      unsigned wrapped = position;  // a copy in memory: the loop's own stays in a register
      CopyMatch(wrapped, distance, length);
      position = wrapped;
    }
  }

  // Hand back the whole bytes not used, as far as this loop took them from the buffer.
  unsigned giveBack = count >> 3;
  if (giveBack > static_cast<unsigned>(in - start)) giveBack = static_cast<unsigned>(in - start);
  in -= giveBack;
  count -= 8 * giveBack;
  if (in != start) lastByte = in[-1];
  g_stream.inputPosition = const_cast<uint8_t*>(in);
  if constexpr (kDecrypt) {
    g_stream.plainEnd = plainEnd;
    g_crypt.keys = {key0, key1, key2};
  }
  g_stream.inputCount = static_cast<int32_t>(end - in);
  bitBuffer = static_cast<uint32_t>(buffer & Mask(count));
  bitCount = count;
  windowPosition = position;
  return status;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// The same loop for processors with the BMI2 shifts and bit extraction, which take the
// variable shifts and masks of the bit buffer in one step each.
template <bool kDecrypt>
[[gnu::target("bmi2")]] int DecodeCodesBmi2(const HuffmanEntry* literals,
                                            const HuffmanEntry* distances, unsigned literalBits,
                                            unsigned distanceBits, uint32_t& bitBuffer,
                                            unsigned& bitCount, unsigned& windowPosition,
                                            uint16_t& lastByte) {
  return DecodeCodes<kDecrypt>(literals, distances, literalBits, distanceBits, bitBuffer, bitCount,
                               windowPosition, lastByte);
}
#endif

}  // namespace

int InflateCodesFast(const HuffmanEntry* literals, const HuffmanEntry* distances,
                     unsigned literalBits, unsigned distanceBits, uint32_t& bitBuffer,
                     unsigned& bitCount, unsigned& windowPosition, uint16_t& lastByte) {
  if (!literals) return INFLATE_BAD_DATA;
  BuildFastTable(literals, literalBits, kFastLiteralBits, g_fastLiterals);
  BuildFastTable(distances, distanceBits, kFastDistanceBits, g_fastDistances);
  const bool decrypt = g_stream.plainEnd < g_stream.inputPosition + g_stream.inputCount;
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  static const bool bmi2 = __builtin_cpu_supports("bmi2");
  if (bmi2)
    return decrypt ? DecodeCodesBmi2<true>(literals, distances, literalBits, distanceBits,
                                           bitBuffer, bitCount, windowPosition, lastByte)
                   : DecodeCodesBmi2<false>(literals, distances, literalBits, distanceBits,
                                            bitBuffer, bitCount, windowPosition, lastByte);
#endif
  if (decrypt)
    return DecodeCodes<true>(literals, distances, literalBits, distanceBits, bitBuffer, bitCount,
                             windowPosition, lastByte);
  return DecodeCodes<false>(literals, distances, literalBits, distanceBits, bitBuffer, bitCount,
                            windowPosition, lastByte);
}
