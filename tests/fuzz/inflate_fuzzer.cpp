// Fuzz target: the inflate decoder alone on raw Deflate data, differential against zlib
// (through its public API, with a window of 32768 zero bytes preset as the decoder's fresh
// window holds). Where zlib decodes the stream completely the decoder must return 0 with the
// same bytes; where zlib refuses it the decoder must return nonzero; either way the bytes both
// produced must agree. The decoder's fast loop must agree with its byte-wise reader alone in
// result, output and reads. The one design point where the decoder deliberately accepts what
// zlib refuses, a repeat code 16 as a block's first code length (it repeats length 0), is
// recognised by reading the refused block's header, located with zlib's Z_BLOCK stops. (A
// code-length code of one 1-bit code, also refused by zlib, can only give codes the decoder
// refuses later, so it needs no exception.)
#include "extract/engine.h"
#include "extract/single_entry.h"
#include "tests/fuzz/fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct ZlibOutcome {
  int status = Z_OK;    // Z_STREAM_END, Z_DATA_ERROR, or anything else for "wants more"
  std::string message;  // zlib's text for a refusal
  std::vector<uint8_t> bytes;
  size_t blockStartBit = 0;  // bit offset of the block zlib was in when it stopped
};

ZlibOutcome InflateWithZlib(const uint8_t* data, size_t size) {
  ZlibOutcome outcome;
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) fuzz::Fail("zlib cannot start");
  static const std::vector<uint8_t> zeros(WINDOW_SIZE, 0);
  inflateSetDictionary(&z, zeros.data(), WINDOW_SIZE);
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  uint8_t chunk[16384];
  for (;;) {
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    // Z_BLOCK stops at every block boundary, where data_type tells the unused bits.
    const int status = inflate(&z, Z_BLOCK);
    outcome.bytes.insert(outcome.bytes.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    if (status == Z_OK && (z.data_type & 128) && !(z.data_type & 64))
      outcome.blockStartBit = z.total_in * 8 - (z.data_type & 7);
    if (status == Z_STREAM_END || status == Z_DATA_ERROR) {
      outcome.status = status;
      if (z.msg) outcome.message = z.msg;
      break;
    }
    if (status != Z_OK || (z.avail_in == 0 && z.avail_out != 0)) {
      outcome.status = Z_BUF_ERROR;  // the stream is cut short
      break;
    }
  }
  inflateEnd(&z);
  return outcome;
}

// Reads the header of the dynamic block starting at a bit offset, as far as the first
// code-length symbol, to see whether that symbol is a repeat with nothing to repeat.
class BlockHeader {
 public:
  BlockHeader(const uint8_t* data, size_t size, size_t bit) : data_(data), size_(size), bit_(bit) {}

  bool StartsWithRepeat() {
    unsigned header;
    if (!Take(3, &header) || (header >> 1) != 2) return false;
    unsigned hlit, hdist, hclen;
    if (!Take(5, &hlit) || !Take(5, &hdist) || !Take(4, &hclen)) return false;
    static constexpr unsigned kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                            11, 4,  12, 3, 13, 2, 14, 1, 15};
    unsigned lengths[19] = {};
    for (unsigned j = 0; j < hclen + 4; ++j)
      if (!Take(3, &lengths[kOrder[j]])) return false;
    unsigned first;
    return DecodeCanonical(lengths, &first) && first == 16;
  }

 private:
  bool Take(unsigned n, unsigned* value) {
    *value = 0;
    for (unsigned i = 0; i < n; ++i, ++bit_) {
      if (bit_ / 8 >= size_) return false;
      *value |= ((data_[bit_ / 8] >> (bit_ % 8)) & 1u) << i;
    }
    return true;
  }

  // One symbol of the canonical code of RFC 1951 section 3.2.2, read a bit at a time: codes
  // of each length are consecutive numbers, taken by symbol order.
  bool DecodeCanonical(const unsigned (&lengths)[19], unsigned* symbol) {
    unsigned count[8] = {};
    unsigned sorted[19];
    unsigned placed = 0;
    for (unsigned length = 1; length <= 7; ++length)
      for (unsigned s = 0; s < 19; ++s)
        if (lengths[s] == length) {
          ++count[length];
          sorted[placed++] = s;
        }
    unsigned code = 0, first = 0, index = 0;
    for (unsigned length = 1; length <= 7; ++length) {
      unsigned b;
      if (!Take(1, &b)) return false;
      code |= b;
      if (code - first < count[length]) {
        *symbol = sorted[index + code - first];
        return true;
      }
      index += count[length];
      first = (first + count[length]) << 1;
      code <<= 1;
    }
    return false;
  }

  const uint8_t* data_;
  size_t size_;
  size_t bit_;
};

struct DecoderOutcome {
  int result = 0;
  std::vector<uint8_t> bytes;
  uint32_t bytesRead = 0;    // what the fills took: the same fills give the same progress
  uint32_t leftInEntry = 0;  // compressed bytes never read
};

// Runs the engine's single-entry decoding on the data, from memory, with a fresh zero window
// and the output written to a memory file.
DecoderOutcome InflateWithDecoder(const uint8_t* data, size_t size, bool byteWise) {
  static const int output = memfd_create("kx-inflate-output", 0);
  FUZZ_CHECK(output >= 0, "memfd_create failed");
  FUZZ_CHECK(ftruncate(output, 0) == 0, "ftruncate failed");
  lseek(output, 0, SEEK_SET);

  SingleEntry entry;
  entry.bytes = data;
  entry.compressedSize = static_cast<uint32_t>(size);
  entry.output = output;
  entry.options.byteWise = byteWise;
  const SingleEntryOutcome decoded = DecodeSingleEntry(entry);
  if (decoded.result != EXTRACT_OK)
    fuzz::Fail("the decoder aborted the run with %d", static_cast<int>(decoded.result));
  DecoderOutcome outcome;
  outcome.result = decoded.decoded;
  outcome.bytesRead = decoded.bytesRead;
  outcome.leftInEntry = decoded.bytesLeft;

  const off_t written = lseek(output, 0, SEEK_END);
  outcome.bytes.resize(static_cast<size_t>(written));
  FUZZ_CHECK(
      written == 0 || pread(output, outcome.bytes.data(), outcome.bytes.size(), 0) == written,
      "cannot read the output back");
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  fuzz::StartObserving();
  const ZlibOutcome reference = InflateWithZlib(data, size);
  const DecoderOutcome decoded = InflateWithDecoder(data, size, false);

  // The fast loop and the byte-wise reader alone must agree in everything observable.
  const DecoderOutcome byteWise = InflateWithDecoder(data, size, true);
  FUZZ_CHECK(decoded.result == byteWise.result, "fast loop %d, byte-wise reader %d", decoded.result,
             byteWise.result);
  FUZZ_CHECK(decoded.bytes == byteWise.bytes, "fast loop and byte-wise reader output differ");
  FUZZ_CHECK(decoded.bytesRead == byteWise.bytesRead && decoded.leftInEntry == byteWise.leftInEntry,
             "fast loop read %u bytes leaving %u, byte-wise reader %u leaving %u",
             decoded.bytesRead, decoded.leftInEntry, byteWise.bytesRead, byteWise.leftInEntry);

  FUZZ_CHECK(decoded.result >= 0 && decoded.result <= 2, "decoder result %d", decoded.result);
  const size_t common = std::min(decoded.bytes.size(), reference.bytes.size());
  const auto mismatch =
      std::mismatch(decoded.bytes.begin(), decoded.bytes.begin() + static_cast<long>(common),
                    reference.bytes.begin());
  FUZZ_CHECK(mismatch.first == decoded.bytes.begin() + static_cast<long>(common),
             "output differs from zlib's at byte %zu",
             static_cast<size_t>(mismatch.first - decoded.bytes.begin()));

  if (reference.status == Z_STREAM_END) {
    FUZZ_CHECK(decoded.result == 0, "zlib decodes the stream, the decoder returned %d",
               decoded.result);
    FUZZ_CHECK(decoded.bytes.size() == reference.bytes.size(),
               "the decoder produced %zu bytes, zlib %zu", decoded.bytes.size(),
               reference.bytes.size());
  } else if (reference.status == Z_DATA_ERROR && decoded.result == 0) {
    BlockHeader header(data, size, reference.blockStartBit);
    FUZZ_CHECK(header.StartsWithRepeat(), "zlib refuses the stream (%s), the decoder returned 0",
               reference.message.c_str());
  }
  return 0;
}
