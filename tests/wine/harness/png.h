// PNG encoding for the harness's screenshots: 8-bit RGB, compressed with a small Deflate
// encoder (fixed Huffman codes, greedy LZ77) written for this purpose only.
#pragma once

#include <cstdint>
#include <vector>

namespace harness {

// rgb holds width * height pixels as 0x00BBGGRR values (Windows COLORREF), rows from the top.
std::vector<uint8_t> EncodePng(int width, int height, const std::vector<uint32_t>& rgb);

// Deflate (RFC 1951) of data with fixed Huffman codes, as one final block.
std::vector<uint8_t> DeflateFixed(const std::vector<uint8_t>& data);

}  // namespace harness
