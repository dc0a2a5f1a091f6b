// The Deflate decoder (RFC 1951) for entries of method 8: a bit reader over NextInputByte,
// multi-level lookup tables built per block from the code lengths, and a 32 KB sliding
// window handed to the output stream when full and at the entry's end.
#pragma once

#include <cstddef>
#include <cstdint>

// Results of the decoder and of its block routines.
constexpr int INFLATE_OK = 0;
constexpr int INFLATE_BAD_DATA = 1;   // invalid data, or an incomplete code
constexpr int INFLATE_BAD_BLOCK = 2;  // block type 3, or an over-subscribed code
constexpr int INFLATE_NO_MEMORY = 3;  // a table could not be allocated

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

// One slot of a lookup table. extra: 0-13 length or distance symbol with that many extra
// bits (value is its base), 15 end of block, 16 literal (value is the byte; for the
// code-length code the symbol), 16 + n a link to a sub-table indexed by the next n bits,
// 99 invalid. bits: how many bits to drop when the slot is taken.
struct HuffmanEntry {
  uint8_t extra = 99;
  uint8_t bits = 0;
  uint16_t value = 0;
  HuffmanEntry* link = nullptr;  // a link's sub-table; in a header slot, the next table
};

constexpr uint8_t kExtraEndOfBlock = 15;
constexpr uint8_t kExtraLiteral = 16;
constexpr uint8_t kExtraInvalid = 99;

struct InflateState {
  uint32_t bitBuffer = 0;  // next bits of the stream, first bit lowest
  unsigned bitCount = 0;
  unsigned windowPosition = 0;  // where the next byte goes; also the bytes not yet handed on
  uint16_t receiver = 0;        // receives every byte; keeps its value past the data's end
  unsigned bytesPastEnd = 0;    // repeated bytes taken in the current entry
  void* (*allocate)(size_t) = nullptr;  // table allocation; null for malloc (tests replace it)
  bool byteWise = false;                // tests: decode everything with the byte-wise reader alone
  // The codes of the block being decoded. They live here rather than on the stack so that
  // the engine's cleanup can free them when a run is abandoned in the middle of a block.
  HuffmanEntry* blockTables[3] = {};
};

enum BlockTable { kCodeLengthTable, kLiteralTable, kDistanceTable };

extern InflateState g_inflate;

// Builds the lookup tables of a prefix code. lengths: n values 0-16 (0: no code); symbols
// below s stand for themselves, symbol v >= s takes base[v - s] and extra[v - s]. width
// comes in as the root width asked for and goes out as the width used. Returns 0 complete,
// 1 incomplete (a single 1-bit code counts as complete), 2 over-subscribed, 3 out of memory.
// After 0 or 1 the caller owns *table (null when every length is 0) and frees it.
int BuildHuffmanTable(const unsigned* lengths, unsigned n, unsigned s, const uint16_t* base,
                      const uint16_t* extra, HuffmanEntry** table, int* width);

// Releases every table of a code; null does nothing.
void FreeHuffmanTable(HuffmanEntry* table);

// Releases the current block's codes, if any.
void ReleaseBlockTables();

// Decodes the current entry's Deflate data into the output stream; a result code.
int InflateEntry();
int InflateBlock(bool* lastBlock);
int InflateStored();
int InflateFixed();
int InflateDynamic();
int InflateCodes(const HuffmanEntry* literals, const HuffmanEntry* distances, int literalBits,
                 int distanceBits);
