// Deflate through libdeflate (KX_HAVE_LIBDEFLATE) or zlib; both produce raw Deflate data as
// the ZIP format stores it, without a zlib or gzip wrapper.
#include "tools/kxmedium_deflate.h"

#ifdef KX_HAVE_LIBDEFLATE
#include <libdeflate.h>
#else
#include <zlib.h>
#endif

namespace kxmedium {

#ifdef KX_HAVE_LIBDEFLATE

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

#else

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

#endif

}  // namespace kxmedium
