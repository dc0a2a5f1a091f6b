// Fuzz target: the inflate decoder alone on raw Deflate data, against zlib (with a window of
// zero bytes preset, as the decoder's fresh window holds) and against its own byte-wise reader.
// The two loops must agree in result, output and reads. Where zlib decodes the stream the
// decoder must return 0 with the same bytes; where zlib refuses it the decoder must refuse it
// too, but for the one stream it accepts by design: a repeat code 16 as a block's first code
// length, which repeats length 0 (zlib: "invalid bit length repeat"). Whatever both produced
// must agree.
#include "extract/engine.h"
#include "extract/single_entry.h"
#include "tests/fuzz/fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <string>

namespace {

struct Decoded {
  int result = 0;  // the decoder's, or zlib's status
  std::string bytes, message;
  uint32_t bytesRead = 0, bytesLeft = 0;
};

Decoded WithZlib(const uint8_t* data, size_t size) {
  Decoded out;
  z_stream z{};
  static const std::string zeros(WINDOW_SIZE, '\0');
  inflateInit2(&z, -15);
  inflateSetDictionary(&z, reinterpret_cast<const Bytef*>(zeros.data()), WINDOW_SIZE);
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  do {
    char chunk[16384];
    z.next_out = reinterpret_cast<Bytef*>(chunk);
    z.avail_out = sizeof chunk;
    out.result = inflate(&z, Z_NO_FLUSH);
    out.bytes.append(chunk, sizeof chunk - z.avail_out);
  } while (out.result == Z_OK && z.avail_out == 0);
  if (z.msg) out.message = z.msg;
  inflateEnd(&z);
  return out;
}

// The engine's single-entry decoding, from memory into a memory file.
Decoded WithDecoder(const uint8_t* data, size_t size, bool byteWise) {
  static const int output = memfd_create("kx-inflate-output", 0);
  FUZZ_CHECK(output >= 0 && ftruncate(output, 0) == 0, "no memory file for the output");
  lseek(output, 0, SEEK_SET);
  SingleEntry entry;
  entry.bytes = data;
  entry.compressedSize = static_cast<uint32_t>(size);
  entry.output = output;
  entry.options.byteWise = byteWise;
  const SingleEntryOutcome got = DecodeSingleEntry(entry);
  FUZZ_CHECK(got.result == EXTRACT_OK, "the decoder aborted the run with %d", got.result);
  Decoded out{got.decoded, std::string(static_cast<size_t>(lseek(output, 0, SEEK_END)), '\0'), "",
              got.bytesRead, got.bytesLeft};
  FUZZ_CHECK(pread(output, out.bytes.data(), out.bytes.size(), 0) == ssize_t(out.bytes.size()),
             "cannot read the output back");
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const Decoded zlib = WithZlib(data, size), fast = WithDecoder(data, size, false),
                slow = WithDecoder(data, size, true);
  FUZZ_CHECK(fast.result == slow.result && fast.bytes == slow.bytes, "the loops differ: %d, %d",
             fast.result, slow.result);
  FUZZ_CHECK(fast.bytesRead == slow.bytesRead && fast.bytesLeft == slow.bytesLeft,
             "the fast loop read %u leaving %u, the byte-wise reader %u leaving %u", fast.bytesRead,
             fast.bytesLeft, slow.bytesRead, slow.bytesLeft);
  FUZZ_CHECK(fast.result >= 0 && fast.result <= 2, "decoder result %d", fast.result);
  const size_t common = std::min(fast.bytes.size(), zlib.bytes.size());
  FUZZ_CHECK(fast.bytes.compare(0, common, zlib.bytes, 0, common) == 0,
             "output differs from zlib's");
  if (zlib.result == Z_STREAM_END)
    FUZZ_CHECK(fast.result == 0 && fast.bytes.size() == zlib.bytes.size(),
               "zlib decodes %zu bytes, the decoder %zu with %d", zlib.bytes.size(),
               fast.bytes.size(), fast.result);
  if (zlib.result == Z_DATA_ERROR && zlib.message != "invalid bit length repeat")
    FUZZ_CHECK(fast.result != 0, "zlib refuses the stream (%s), the decoder returned 0",
               zlib.message.c_str());
  return 0;
}
