// Deflate through zlib at level 9 (the Windows build, with Debian's MinGW zlib): raw Deflate
// data as the ZIP format stores it, without a zlib or gzip wrapper.
#include "tools/kxmedium_deflate.h"

#include <zlib.h>

namespace kxmedium {

bool DeflateSmaller(std::span<const uint8_t> data, std::vector<uint8_t>* out) {
  out->clear();
  // One call with the whole input: payload files are limited below 2 GiB, which uInt holds.
  if (data.size() < 2 || data.size() > 0x7FFFFFFF) return false;
  z_stream stream{};
  if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  out->resize(deflateBound(&stream, static_cast<uLong>(data.size())));
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = out->data();
  stream.avail_out = static_cast<uInt>(out->size());
  const bool finished = deflate(&stream, Z_FINISH) == Z_STREAM_END;
  const size_t size = stream.total_out;
  deflateEnd(&stream);
  if (!finished || size >= data.size()) {
    out->clear();
    return false;
  }
  out->resize(size);
  return true;
}

const char* DeflateLibraryName() { return "zlib, level 9"; }

}  // namespace kxmedium
