// Runs raw Deflate data through the engine's single-entry decoding, from memory into a scratch
// output file, and reads the output back.
#include "tests/extract/inflate_harness.h"

#include "extract/entry_decode.h"
#include "tests/extract/engine_host.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

DecodeResult Decode(const std::string& raw, const InflateOptions& options) {
  // Named per process: ctest runs several test programs at once.
  const std::string output = (std::filesystem::temp_directory_path() /
                              ("kx-inflate-" + std::to_string(static_cast<long>(::getpid()))))
                                 .string();
  StartHost();  // quiet hooks: no scripted answers or pumps of an earlier test
  SingleEntry entry;
  entry.archiveName = "inflate input";
  entry.bytes = reinterpret_cast<const uint8_t*>(raw.data());
  entry.compressedSize = static_cast<uint32_t>(raw.size());
  entry.output = platform::FileCreate(output.c_str());
  entry.options = options;
  const SingleEntryOutcome outcome = DecodeSingleEntry(entry);
  platform::FileClose(entry.output);
  DecodeResult result;
  result.code = outcome.result == EXTRACT_OK ? outcome.decoded : -1;
  result.pastEnd = outcome.pastEnd;
  std::ifstream in(output, std::ios::binary);
  result.output.assign(std::istreambuf_iterator<char>(in), {});
  in.close();
  std::remove(output.c_str());
  return result;
}

DecodeResult Decode(const std::string& raw) { return Decode(raw, InflateOptions{}); }

void BitWriter::Bits(uint32_t value, int n) {
  for (int i = 0; i < n; ++i) {
    pending |= ((value >> i) & 1u) << count;
    if (++count == 8) {
      bytes += static_cast<char>(pending);
      pending = 0;
      count = 0;
    }
  }
}

void BitWriter::Code(uint32_t code, int length) {
  for (int i = length - 1; i >= 0; --i) Bits((code >> i) & 1u, 1);
}

std::string BitWriter::Finish() {
  if (count > 0) bytes += static_cast<char>(pending);
  pending = 0;
  count = 0;
  return bytes;
}

std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
  int blCount[17] = {};
  for (int l : lengths) ++blCount[l];
  blCount[0] = 0;
  uint32_t next[17] = {};
  uint32_t code = 0;
  for (int bits = 1; bits <= 16; ++bits) {
    code = (code + static_cast<uint32_t>(blCount[bits - 1])) << 1;
    next[bits] = code;
  }
  std::vector<uint32_t> codes(lengths.size());
  for (size_t n = 0; n < lengths.size(); ++n)
    if (lengths[n] != 0) codes[n] = next[lengths[n]]++;
  return codes;
}
