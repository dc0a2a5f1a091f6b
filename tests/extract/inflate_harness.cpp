// Sets up the engine's buffers and one entry's streams around a raw Deflate stream in a
// scratch file, runs InflateEntry, flushes and reads back the output file.
#include "tests/extract/inflate_harness.h"

#include "extract/engine.h"
#include "extract/inflate.h"
#include "extract/stream.h"
#include "tests/extract/engine_host.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {

// Named per process: ctest runs several test programs at once.
std::string TempName(const char* what) {
  const std::string name =
      "kx-inflate-" + std::to_string(static_cast<long>(::getpid())) + "-" + what;
  return (std::filesystem::temp_directory_path() / name).string();
}

}  // namespace

DecodeResult Decode(const std::string& raw) {
  const std::string input = TempName("in");
  const std::string output = TempName("out");
  std::ofstream(input, std::ios::binary) << raw;
  StartHost();  // quiet hooks: no scripted answers or pumps of an earlier test
  static ExtractJob job;
  job = ExtractJob{};
  job.archivePath = "inflate input";
  g_engine.job = &job;
  g_engine.testMode = false;
  g_engine.window = static_cast<uint8_t*>(std::calloc(kWindowAllocation, 1));
  g_engine.inputBuffer = static_cast<uint8_t*>(std::malloc(kStreamBufferSize));
  g_engine.outputBuffer = static_cast<uint8_t*>(std::malloc(kStreamBufferSize));
  g_engine.archiveFile = platform::FileOpenRead(input.c_str());
  g_engine.outputFile = platform::FileCreate(output.c_str());
  g_engine.entry = EntryHeader{};
  g_engine.entry.compressedSize = static_cast<uint32_t>(raw.size());
  DecodeResult result;
  if (setjmp(g_engine.abortPoint) == 0) {
    ResetStreams();
    result.code = InflateEntry();
    if (g_stream.outputCount > 0) FlushOutputBuffer();
  } else {
    ReleaseBlockTables();
    result.code = -1;
  }
  result.pastEnd = g_inflate.bytesPastEnd;
  platform::FileClose(g_engine.archiveFile);
  platform::FileClose(g_engine.outputFile);
  g_engine.archiveFile = g_engine.outputFile = platform::kInvalidFile;
  std::free(g_engine.window);
  std::free(g_engine.inputBuffer);
  std::free(g_engine.outputBuffer);
  g_engine.window = g_engine.inputBuffer = g_engine.outputBuffer = nullptr;
  std::ifstream in(output, std::ios::binary);
  result.output.assign(std::istreambuf_iterator<char>(in), {});
  in.close();
  std::remove(input.c_str());
  std::remove(output.c_str());
  return result;
}

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
