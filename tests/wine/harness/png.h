// PNG encoding of the harness's screenshots (8-bit RGB), compressed with zlib.
#pragma once

#include <cstdint>
#include <vector>

namespace harness {

// rgb holds width * height pixels as 0x00BBGGRR values (Windows COLORREF), rows from the top.
std::vector<uint8_t> EncodePng(int width, int height, const std::vector<unsigned long>& rgb);

}  // namespace harness
