// Prefix-code lookup tables of the Deflate decoder: the slot layout both decoding loops read,
// the decoder's result codes, and the builder that turns a list of code lengths into a root
// table with linked sub-tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Results of the decoder, of its block routines and of the table builder.
constexpr int INFLATE_OK = 0;
constexpr int INFLATE_BAD_DATA = 1;   // invalid data, or an incomplete code
constexpr int INFLATE_BAD_BLOCK = 2;  // block type 3, or an over-subscribed code
constexpr int INFLATE_NO_MEMORY = 3;  // a table could not be allocated

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

// Builds the lookup tables of a prefix code. lengths: n values 0-16 (0: no code); symbols
// below s stand for themselves, symbol v >= s takes base[v - s] and extra[v - s]. width
// comes in as the root width asked for and goes out as the width used. Returns 0 complete,
// 1 incomplete (a single 1-bit code counts as complete), 2 over-subscribed, 3 out of memory.
// After 0 or 1 the caller owns *table (null when every length is 0) and frees it. Tables come
// from allocate.
int BuildHuffmanTable(const unsigned* lengths, unsigned n, unsigned s, const uint16_t* base,
                      const uint16_t* extra, HuffmanEntry** table, int* width,
                      void* (*allocate)(size_t) = std::malloc);

// Releases every table of a code; null does nothing.
void FreeHuffmanTable(HuffmanEntry* table);
