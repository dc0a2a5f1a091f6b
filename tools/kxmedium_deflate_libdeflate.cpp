// Deflate through libdeflate at its strongest level (the native build): raw Deflate data as
// the ZIP format stores it, without a zlib or gzip wrapper.
#include "tools/kxmedium_deflate.h"

#include <libdeflate.h>

namespace kxmedium {

bool DeflateSmaller(std::span<const uint8_t> data, std::vector<uint8_t>* out) {
  out->clear();
  if (data.size() < 2) return false;  // no Deflate stream is shorter than one byte
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(12);
  if (!compressor) return false;
  // Room for one byte less than the data: libdeflate answers 0 when the result does not fit.
  out->resize(data.size() - 1);
  const size_t size =
      libdeflate_deflate_compress(compressor, data.data(), data.size(), out->data(), out->size());
  libdeflate_free_compressor(compressor);
  out->resize(size);
  return size != 0;
}

const char* DeflateLibraryName() { return "libdeflate, level 12"; }

}  // namespace kxmedium
