// The fast loop of the inflate decoder (see inflate_fast.h): the same tables and the same
// window handling as the byte-wise loop of inflate.cpp, without a test per bit request, and
// with match copies of eight bytes a step where the distance allows.
#include "extract/inflate_fast.h"

#include "extract/decrypt.h"
#include "extract/engine.h"
#include "extract/stream.h"

#include <cstring>

namespace {

// Decrypted bytes kept ready ahead of the reading: enough for the next 8-byte load, and a
// lead of a few symbols, so that about one byte is decrypted per symbol decoded.
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

int InflateCodesFast(const HuffmanEntry* literals, const HuffmanEntry* distances,
                     unsigned literalBits, unsigned distanceBits, uint32_t& bitBuffer,
                     unsigned& bitCount, unsigned& windowPosition, uint16_t& lastByte) {
  if (!literals) return INFLATE_BAD_DATA;
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

  while (end - in >= kFastInputBytes) {
    for (const uint8_t* const wanted = end - in > kDecryptLead ? in + kDecryptLead : end;
         plainEnd < wanted; ++plainEnd)
      DecryptStep(plainEnd, key0, key1, key2);
    // Whole bytes up to 56-63 bits; the bits above the count are those of the next byte,
    // which the next load puts in the same places again.
    buffer |= Load64(in) << count;
    in += (63 - count) >> 3;
    count |= 56;

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
    unsigned length = t->value + static_cast<unsigned>(buffer & Mask(t->extra));
    buffer >>= t->extra;
    count -= t->extra;

    if (!distances || !(t = Decode(distances + (buffer & distanceMask), buffer, count))) {
      status = INFLATE_BAD_DATA;
      break;
    }
    const unsigned distance = t->value + static_cast<unsigned>(buffer & Mask(t->extra));
    buffer >>= t->extra;
    count -= t->extra;

    if (distance <= position && position + length < WINDOW_SIZE) {
      CopyWithinWindow(window + position, distance, length);
      position += length;
    } else {
      CopyMatch(position, distance, length);
    }
  }

  // Hand back the whole bytes not used, as far as this loop took them from the buffer.
  unsigned giveBack = count >> 3;
  if (giveBack > static_cast<unsigned>(in - start)) giveBack = static_cast<unsigned>(in - start);
  in -= giveBack;
  count -= 8 * giveBack;
  if (in != start) lastByte = in[-1];
  g_stream.inputPosition = const_cast<uint8_t*>(in);
  g_stream.plainEnd = plainEnd;
  g_crypt.keys = {key0, key1, key2};
  g_stream.inputCount = static_cast<int32_t>(end - in);
  bitBuffer = static_cast<uint32_t>(buffer & Mask(count));
  bitCount = count;
  windowPosition = position;
  return status;
}
