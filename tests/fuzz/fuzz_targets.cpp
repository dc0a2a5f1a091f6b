// The engine's fuzz targets, one program each, chosen by KX_FUZZ_TARGET: the engine on an
// archive made of the input's bytes (encrypted seeds reach the decryption), in test mode (1) or
// extracting (2); the inflate decoder against zlib and its own byte-wise reader (3). A broken
// property prints what broke and aborts, which libFuzzer or the replay test reports. Outside
// libFuzzer (KX_FUZZ_REPLAY) the program replays every file below the folders named on its
// command line once, in name order: the seed corpus and the regression inputs.
#include "extract/engine.h"
#include "extract/single_entry.h"
#include "tests/extract/engine_host.h"
#include "tests/scratch.h"

#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

namespace fs = std::filesystem;

void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

#if KX_FUZZ_TARGET != 3
long OpenDescriptors() { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); }

// A folder private to this process for the archive and the output folder below it; one left
// by a process that died is cleared by the fuzzing scripts.
const fs::path kRoot = fs::temp_directory_path() / ("kxfuzz-" + std::to_string(::getpid()));

// Runs the engine in test mode with CRC errors reported (damaged data must surface in a box),
// or extracting with stored folders kept, and checks what holds for any run: the result is OK
// or ERROR with exactly one box for an error, advances never go back nor past the archive's
// size, every descriptor is closed again, no file lies outside the output folder and there are
// no more files than entries.
void Run(const std::string& archive, bool extract) {
  const fs::path out = kRoot / "a/out", archivePath = kRoot / "input.zip";
  fs::remove_all(kRoot);
  fs::create_directories(out / "sub");
  std::ofstream(archivePath, std::ios::binary) << archive;
  const std::string output = out.string();
  ExtractJob job = MakeJob(archivePath.string(), extract ? output.c_str() : nullptr);
  job.keepPaths = extract, job.reportCrcErrors = !extract;
  const EngineHost& host = StartHost();
  const long descriptors = OpenDescriptors();
  Check(ExtractArchive(&job) == 1, "the engine was busy");
  Check(OpenDescriptors() == descriptors, "a descriptor left open");
  Check(host.boxes.size() == (job.result == EXTRACT_ERROR ? 1u : 0u) &&
            (job.result == EXTRACT_OK || job.result == EXTRACT_ERROR),
        "the result or its boxes");
  uintptr_t advanced = 0, names = 0;
  for (const SentMessage& m : host.messages) {
    names += m.message == PWM_ENTRYNAME;
    Check(m.message == PWM_ENTRYNAME || m.wParam >= advanced, "progress went back");
    advanced = m.message == PWM_ENTRYNAME ? advanced : m.wParam;
  }
  Check(advanced <= archive.size() / PROGRESS_UNIT, "advanced past the archive's size");
  uintptr_t files = 0;
  for (auto it = fs::recursive_directory_iterator(kRoot); it != fs::end(it); ++it) {
    const bool inside = it->path().string().rfind(output + "/", 0) == 0;
    files += inside && !it->is_directory();
    Check(inside || it->path() == out || it->path() == archivePath || it->path() == kRoot / "a",
          "a file written outside the output folder");
  }
  Check(files <= (extract ? names : 0), "more files than entries");
  fs::remove_all(kRoot);
}
#else
struct Decoded {
  int result = 0;  // the decoder's, or zlib's status
  std::string bytes;
  uint32_t bytesRead = 0, bytesLeft = 0;
  std::string message;  // zlib's, of a refusal
  bool operator==(const Decoded&) const = default;
};

// zlib with a window of zero bytes preset, as the decoder's fresh window holds.
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
  out.message = z.msg ? z.msg : "";
  inflateEnd(&z);
  return out;
}

// The engine's single-entry decoding, from memory into a memory file.
Decoded WithDecoder(const uint8_t* data, size_t size, bool byteWise) {
  static const int output = memfd_create("kx-inflate-output", 0);
  Check(output >= 0 && ftruncate(output, 0) == 0 && lseek(output, 0, SEEK_SET) == 0, "memfd");
  SingleEntry entry;
  entry.bytes = data;
  entry.compressedSize = static_cast<uint32_t>(size);
  entry.output = output;
  entry.options.byteWise = byteWise;
  const SingleEntryOutcome got = DecodeSingleEntry(entry);
  Check(got.result == EXTRACT_OK, "the decoder aborted the run");
  const std::string written = ScratchFolder::Read("/proc/self/fd/" + std::to_string(output));
  return {got.decoded, written, got.bytesRead, got.bytesLeft, ""};
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
#if KX_FUZZ_TARGET <= 2
  Run(std::string(reinterpret_cast<const char*>(data), size), KX_FUZZ_TARGET == 2);
#elif KX_FUZZ_TARGET == 3
  // The two loops agree in everything. The decoder returns 0 with zlib's bytes where zlib
  // decodes the stream and refuses what zlib refuses, but for the one stream it accepts by
  // design: a repeat code 16 as a block's first code length, which repeats length 0.
  const Decoded zlib = WithZlib(data, size), fast = WithDecoder(data, size, false);
  Check(fast == WithDecoder(data, size, true), "the two loops differ");
  Check(fast.result >= 0 && fast.result <= 2, "the decoder's result");
  const size_t common = std::min(fast.bytes.size(), zlib.bytes.size());
  Check(fast.bytes.compare(0, common, zlib.bytes, 0, common) == 0, "output differs from zlib's");
  Check(zlib.result != Z_STREAM_END || (fast.result == 0 && fast.bytes == zlib.bytes),
        "zlib decodes the stream, the decoder does not");
  Check(zlib.result != Z_DATA_ERROR || zlib.message == "invalid bit length repeat" ||
            fast.result != 0,
        "zlib refuses the stream, the decoder does not");
#endif
  return 0;
}

#ifdef KX_FUZZ_REPLAY
int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i)
    for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i]))
      if (entry.is_regular_file()) inputs.push_back(entry.path());
  std::sort(inputs.begin(), inputs.end());
  for (const auto& path : inputs) {
    const std::string bytes = ScratchFolder::Read(path.string());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("replay: %zu inputs ran cleanly\n", inputs.size());
  return inputs.empty();  // a missing corpus is a failure, not a pass
}
#endif
