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
