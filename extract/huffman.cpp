// The lookup-table builder. Codes are placed in canonical order (by length, then by symbol);
// each code's bits, first bit lowest, index a root table of lookupBits bits, and a code longer
// than a table reaches links to a sub-table indexed by its next bits. Every table is one
// allocation whose slot before the first is a header linking the tables in allocation order,
// so that one walk frees them all.
#include "extract/huffman.h"

#include <cstdio>

namespace {

constexpr unsigned kMaxCodeLength = 16;
constexpr unsigned kMaxSymbols = 288;

}  // namespace

void FreeHuffmanTable(HuffmanEntry* table) {
  while (table) {
    HuffmanEntry* header = table - 1;
    table = header->link;
    std::free(header);
  }
}

int BuildHuffmanTable(const unsigned* lengths, unsigned n, unsigned s, const uint16_t* base,
                      const uint16_t* extra, HuffmanEntry** table, int* width,
                      void* (*allocate)(size_t)) {
  *table = nullptr;
  if (n > kMaxSymbols) return INFLATE_BAD_BLOCK;
  // lengthCount[k]: how many codes are k bits long (index 0: symbols without a code).
  unsigned lengthCount[kMaxCodeLength + 1] = {};
  for (unsigned i = 0; i < n; ++i) {
    if (lengths[i] > kMaxCodeLength) return INFLATE_BAD_BLOCK;
    ++lengthCount[lengths[i]];
  }
  if (lengthCount[0] == n) {
    *width = 0;
    return INFLATE_OK;
  }
  // The shortest and longest code; the width asked for is held between them.
  unsigned shortest = 1, longest = kMaxCodeLength;
  while (lengthCount[shortest] == 0) ++shortest;
  while (lengthCount[longest] == 0) --longest;
  unsigned lookupBits = *width < 0 ? 0 : static_cast<unsigned>(*width);
  if (lookupBits < shortest) lookupBits = shortest;
  if (lookupBits > longest) lookupBits = longest;
  *width = static_cast<int>(lookupBits);

  // Kraft sum: unusedPatterns counts the bit patterns of the current length that no code has
  // taken. Over-subscribed codes are refused; the codes an incomplete set lacks are added as
  // fillers of the longest length, which decode as invalid.
  int unusedPatterns = 1 << shortest;
  for (unsigned k = shortest; k < longest; ++k) {
    unusedPatterns -= static_cast<int>(lengthCount[k]);
    if (unusedPatterns < 0) return INFLATE_BAD_BLOCK;
    unusedPatterns <<= 1;
  }
  unusedPatterns -= static_cast<int>(lengthCount[longest]);
  if (unusedPatterns < 0) return INFLATE_BAD_BLOCK;

  // The symbols in canonical order: by length, then by symbol number. nextSlot[k] is where
  // the next symbol of length k goes.
  unsigned nextSlot[kMaxCodeLength + 2] = {};
  for (unsigned k = 1; k <= kMaxCodeLength; ++k) nextSlot[k + 1] = nextSlot[k] + lengthCount[k];
  unsigned symbolsByCode[kMaxSymbols];
  for (unsigned i = 0; i < n; ++i)
    if (lengths[i] != 0) symbolsByCode[nextSlot[lengths[i]]++] = i;
  const unsigned realCodes = n - lengthCount[0];
  lengthCount[longest] += static_cast<unsigned>(unusedPatterns);

  // The tables open at each level from the root down, their index widths, and the low bits of
  // the code that lead into each (its first bits, taken by the tables above).
  HuffmanEntry* openTable[kMaxCodeLength + 1] = {};
  unsigned openTableBits[kMaxCodeLength + 1] = {};
  uint32_t levelPrefix[kMaxCodeLength + 1] = {};
  HuffmanEntry* root = nullptr;
  HuffmanEntry* newest = nullptr;  // the last table allocated: its header links the next
  int level = -1;
  int bitsAbove = -static_cast<int>(lookupBits);  // code bits decoded by the tables above
  uint32_t code = 0;                              // the current code, first bit lowest
  unsigned placed = 0;                            // codes given a symbol so far

  for (unsigned length = shortest; length <= longest; ++length) {
    for (unsigned remaining = lengthCount[length]; remaining > 0; --remaining) {
      // Open tables, one level deeper each, until this code's length fits the current one.
      while (static_cast<int>(length) > bitsAbove + static_cast<int>(lookupBits)) {
        ++level;
        bitsAbove += static_cast<int>(lookupBits);
        const unsigned above = static_cast<unsigned>(bitsAbove);
        // At most lookupBits, and no more than the longest code still needs.
        const unsigned widest = longest - above < lookupBits ? longest - above : lookupBits;
        unsigned tableBits = length - above;
        if (tableBits > widest) tableBits = widest;
        if ((1u << tableBits) > remaining) {
          // Too few codes of this length to fill a table of tableBits bits: widen it while
          // the longer codes still leave slots of it unfilled, up to widest bits.
          unsigned unfilled = (1u << tableBits) - remaining;
          unsigned longer = length;
          while (tableBits < widest) {
            if (++tableBits >= widest) break;
            unfilled <<= 1;
            if (lengthCount[++longer] >= unfilled) break;
            unfilled -= lengthCount[longer];
          }
        }
        const size_t slotCount = (size_t{1} << tableBits) + 1;  // with the header slot
        auto* block = static_cast<HuffmanEntry*>(allocate(slotCount * sizeof(HuffmanEntry)));
        if (!block) {
          FreeHuffmanTable(root);
          std::fputs("\n*** inflate out of memory *** ", stderr);
          return INFLATE_NO_MEMORY;
        }
        for (size_t i = 0; i < slotCount; ++i) block[i] = HuffmanEntry{};
        HuffmanEntry* fresh = block + 1;
        if (newest)
          (newest - 1)->link = fresh;
        else
          root = fresh;
        newest = fresh;
        openTable[level] = fresh;
        openTableBits[level] = tableBits;
        if (level > 0) {
          // The slot of the table above that this code's bits reach becomes the link.
          HuffmanEntry& link = openTable[level - 1][code >> (above - lookupBits)];
          link.extra = static_cast<uint8_t>(kExtraLiteral + tableBits);
          link.bits = static_cast<uint8_t>(lookupBits);
          link.link = fresh;
        }
        levelPrefix[level] = code & ((1u << above) - 1);
      }

      // The slot this code decodes to, repeated over every index whose low bits are the code.
      const unsigned above = static_cast<unsigned>(bitsAbove);
      HuffmanEntry leaf;
      leaf.bits = static_cast<uint8_t>(length - above);
      if (placed < realCodes) {
        const unsigned symbol = symbolsByCode[placed++];
        if (symbol < s) {
          leaf.extra = symbol < 256 ? kExtraLiteral : kExtraEndOfBlock;
          leaf.value = static_cast<uint16_t>(symbol);
        } else {
          leaf.extra = static_cast<uint8_t>(extra[symbol - s]);
          leaf.value = base[symbol - s];
        }
      }  // else a filler: the default slot is invalid
      const unsigned tableSize = 1u << openTableBits[level];
      for (unsigned i = code >> above; i < tableSize; i += 1u << (length - above))
        openTable[level][i] = leaf;

      // The next code of this length: add one to the code read backwards (first bit lowest).
      uint32_t bit = 1u << (length - 1);
      while (code & bit) {
        code ^= bit;
        bit >>= 1;
      }
      code ^= bit;

      // Close the tables whose prefix the next code no longer starts with.
      while (level > 0 && (code & ((1u << bitsAbove) - 1)) != levelPrefix[level]) {
        --level;
        bitsAbove -= static_cast<int>(lookupBits);
      }
    }
  }
  *table = root;
  return unusedPatterns != 0 && longest != 1 ? INFLATE_BAD_DATA : INFLATE_OK;
}
