// Runs raw Deflate data through the engine's single-entry decoding, from memory into a scratch
// output file, and reads the output back.
#include "tests/extract/inflate_harness.h"

#include "extract/single_entry.h"
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
