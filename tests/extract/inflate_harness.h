// Runs the inflate decoder directly on raw Deflate data, as the engine runs it for one entry,
// and returns its result code and the bytes that reached the output file.
#pragma once

#include "extract/inflate.h"

#include <cstdint>
#include <string>
#include <vector>

struct DecodeResult {
  int code = -1;         // InflateEntry's result; -1 when the run was aborted
  std::string output;    // what reached the output file
  unsigned pastEnd = 0;  // repeated bytes taken past the end of the data
};

DecodeResult Decode(const std::string& raw);
// The same with the decoder's options: the byte-wise reader alone, or another allocator.
DecodeResult Decode(const std::string& raw, const InflateOptions& options);

// Writes bits least significant first, as Deflate packs them; Huffman codes go most
// significant bit first.
struct BitWriter {
  std::string bytes;
  uint32_t pending = 0;
  int count = 0;
  void Bits(uint32_t value, int n);
  void Code(uint32_t code, int length);
  std::string Finish();
};

// Canonical Huffman codes for a list of code lengths (RFC 1951, 3.2.2).
std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths);
