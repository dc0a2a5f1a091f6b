// The Deflate decoder (RFC 1951) for entries of method 8: a bit reader over NextInputByte,
// lookup tables (huffman.h) built per block from the code lengths, and a 32 KB sliding
// window handed to the output stream when full and at the entry's end.
#pragma once

#include "extract/huffman.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Root lookup widths asked for: one access decodes most codes of a block.
constexpr int LITERAL_LOOKUP_BITS = 9;
constexpr int DISTANCE_LOOKUP_BITS = 6;
constexpr int FIXED_LITERAL_LOOKUP_BITS = 7;
constexpr int FIXED_DISTANCE_LOOKUP_BITS = 5;
constexpr int CODE_LENGTH_LOOKUP_BITS = 7;

// Past the end of the entry's data the bit reader repeats the last byte it got. A valid
// stream needs at most two such bytes, and only as the spare high bits of the lookup of its
// last code: a third one, or a code or value made of their bits, is damaged data. So a
// truncated stream always ends, and never as a clean one.
constexpr unsigned kMaxBytesPastEnd = 2;

// How the decoder runs. The usual settings decode with the fast loop while the input buffer
// holds enough bytes and take tables from malloc; the inflate tests choose the byte-wise reader
// alone, to hold the fast loop to its results, and an allocator that fails.
struct InflateOptions {
  bool byteWise = false;
  void* (*allocate)(size_t) = std::malloc;
};

struct InflateState {
  uint32_t bitBuffer = 0;  // next bits of the stream, first bit lowest
  unsigned bitCount = 0;
  unsigned windowPosition = 0;  // where the next byte goes; also the bytes not yet handed on
  uint16_t receiver = 0;        // receives every byte; keeps its value past the data's end
  unsigned bytesPastEnd = 0;    // repeated bytes taken in the current entry
  // The codes of the block being decoded. They live here rather than on the stack so that
  // the engine's cleanup can free them when a run is abandoned in the middle of a block.
  HuffmanEntry* blockTables[3] = {};
};

enum BlockTable { kCodeLengthTable, kLiteralTable, kDistanceTable };

extern InflateState g_inflate;

// Releases the current block's codes, if any.
void ReleaseBlockTables();

// Decodes the current entry's Deflate data into the output stream; a result code.
int InflateEntry(const InflateOptions& options = {});
int InflateBlock(bool* lastBlock, const InflateOptions& options);
int InflateStored(const InflateOptions& options);
int InflateFixed(const InflateOptions& options);
int InflateDynamic(const InflateOptions& options);
int InflateCodes(const HuffmanEntry* literals, const HuffmanEntry* distances, int literalBits,
                 int distanceBits, const InflateOptions& options);
