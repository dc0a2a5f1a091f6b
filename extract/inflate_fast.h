// The inflate decoder's fast loop: literal/length and distance codes decoded straight from the
// input buffer with a 64-bit bit buffer, while enough unread bytes remain there that no step
// can reach past them. The byte-wise reader of inflate.cpp takes over near the buffer's end,
// so the input is filled at exactly the same points as by the byte-wise reader alone.
#pragma once

#include "extract/huffman.h"

#include <cstdint>

// Unread bytes the input buffer must hold for the fast loop to decode one more step: a step
// refills the bit buffer at most twice, each 8-byte load after the first starting at most
// 7 bytes further on, and a refill gives at least 56 bits, more than the 48 that a length
// and distance pair with their extra bits can take.
constexpr int32_t kFastInputBytes = 16;
constexpr int kFastNeedsInput = -1;

// Copies length bytes from distance bytes back into the window at position, handing the
// window to the output stream whenever it fills; used by both decoding loops.
void CopyMatch(unsigned& position, unsigned distance, unsigned length);

// Decodes symbols into the window from the given bit state and window position until the
// input buffer runs low (kFastNeedsInput), the end-of-block code (INFLATE_OK) or an invalid
// code (INFLATE_BAD_DATA). Whole bytes it took but did not use go back to the input buffer,
// so the bit state handed back holds no more than it came with, or fewer than 8 bits; lastByte
// receives the last byte taken, when one was. An encrypted entry's bytes are decrypted on the
// way, a little ahead of the reading.
int InflateCodesFast(const HuffmanEntry* literals, const HuffmanEntry* distances,
                     unsigned literalBits, unsigned distanceBits, uint32_t& bitBuffer,
                     unsigned& bitCount, unsigned& windowPosition, uint16_t& lastByte);
