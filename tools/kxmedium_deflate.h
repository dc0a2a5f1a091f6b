// Raw Deflate compression for the payload archive, through a well-kept library: libdeflate at
// its strongest level where it is available (the native build), zlib at level 9 otherwise
// (the Windows build, with Debian's MinGW zlib).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kxmedium {

// Deflates data into out. False when the library fails or the result would not be smaller
// than the data itself: the caller then stores the data.
bool DeflateSmaller(std::span<const uint8_t> data, std::vector<uint8_t>* out);

// The library and level in use, for the tool's usage text.
const char* DeflateLibraryName();

}  // namespace kxmedium
