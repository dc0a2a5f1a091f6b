// Micro-benchmarks of the engine's per-byte work: CRC-32, the decryption of a filled input
// chunk, and the inflate decoder on a raw Deflate stream beside zlib's inflate on the same
// stream (with and without a CRC-32 over its output, which the engine always computes).
// The data is a few megabytes of real files of this machine: headers as text and a library.
#include "extract/crc32.h"
#include "extract/decrypt.h"
#include "extract/engine.h"
#include "extract/inflate.h"
#include "extract/stream.h"

#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kSampleSize = 4u << 20;

// Text and binary halves from the machine, or pseudo-random words where there are none.
const std::vector<uint8_t>& Sample() {
  static const std::vector<uint8_t> sample = [] {
    namespace fs = std::filesystem;
    std::vector<uint8_t> bytes;
    std::vector<fs::path> headers;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator("/usr/include", error);
         !error && it != fs::end(it); it.increment(error))
      if (it->is_regular_file() && it->path().extension() == ".h") headers.push_back(it->path());
    std::sort(headers.begin(), headers.end());
    const auto append = [&bytes](const fs::path& path, size_t limit) {
      std::ifstream in(path, std::ios::binary);
      std::string data(std::istreambuf_iterator<char>(in), {});
      data.resize(std::min(data.size(), limit - bytes.size()));
      bytes.insert(bytes.end(), data.begin(), data.end());
    };
    for (const fs::path& path : headers) {
      if (bytes.size() >= kSampleSize / 2) break;
      append(path, kSampleSize / 2);
    }
    for (const char* library : {"/usr/lib/x86_64-linux-gnu/libstdc++.so.6",
                                "/usr/lib/x86_64-linux-gnu/libc.so.6", "/usr/bin/cmake"})
      if (bytes.size() < kSampleSize && fs::exists(library)) append(library, kSampleSize);
    std::mt19937 random(1996);
    static const char* const kWords[] = {"setup ", "archive ", "window ", "stream ", "entry\n"};
    while (bytes.size() < kSampleSize) {
      const char* word = kWords[random() % 5];
      bytes.insert(bytes.end(), word, word + std::char_traits<char>::length(word));
    }
    bytes.resize(kSampleSize);
    return bytes;
  }();
  return sample;
}

const std::vector<uint8_t>& RawDeflated() {
  static const std::vector<uint8_t> stream = [] {
    const std::vector<uint8_t>& plain = Sample();
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, plain.size()));
    z.next_in = const_cast<Bytef*>(plain.data());
    z.avail_in = static_cast<uInt>(plain.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
  }();
  return stream;
}

// The sample's CRC-32, computed once: the check of each decoded copy must not weigh on the
// decoder's time.
uint32_t SampleCrc() {
  static const uint32_t crc = Crc32(Sample().data(), Sample().size());
  return crc;
}

// The engine's buffers and an input file in memory, set up as ExtractEntryData leaves them
// before an entry's data; output goes nowhere (test mode) but through the CRC.
class EngineBench {
 public:
  explicit EngineBench(const std::vector<uint8_t>& input)
      : window_(kWindowAllocation, 0), in_(kStreamBufferSize), out_(kStreamBufferSize) {
    file_ = memfd_create("kx-bench", 0);
    if (write(file_, input.data(), input.size()) != static_cast<ssize_t>(input.size())) abort();
    size_ = static_cast<uint32_t>(input.size());
    g_engine.job = &job_;
    g_engine.testMode = true;
    g_engine.window = window_.data();
    g_engine.inputBuffer = in_.data();
    g_engine.outputBuffer = out_.data();
    g_engine.archiveFile = file_;
  }
  ~EngineBench() {
    close(file_);
    g_engine.window = g_engine.inputBuffer = g_engine.outputBuffer = nullptr;
    g_engine.archiveFile = platform::kInvalidFile;
  }
  void StartEntry(bool encrypted) {
    lseek(file_, 0, SEEK_SET);
    g_engine.entry = EntryHeader{};
    g_engine.entry.method = 8;
    g_engine.entry.encrypted = encrypted;
    g_engine.entry.compressedSize = size_;
    g_engine.bytesCounted = g_engine.bytesReported = 0;
    ResetStreams();
  }

 private:
  ExtractJob job_{};
  std::vector<uint8_t> window_, in_, out_;
  int file_ = -1;
  uint32_t size_ = 0;
};

void BM_Crc32(benchmark::State& state) {
  const std::vector<uint8_t>& data = Sample();
  for (auto _ : state) benchmark::DoNotOptimize(UpdateCrc32(0xFFFFFFFFu, data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Crc32);

// The reads of the whole sample with the decryption of each chunk in place, as a stored
// encrypted entry has them.
void BM_DecryptFill(benchmark::State& state) {
  EngineBench engine(Sample());
  for (auto _ : state) {
    InitKeys(kBuiltInPassword);
    engine.StartEntry(true);
    while (FillInputBuffer() != 0) {
      DecryptAhead(static_cast<unsigned>(g_stream.inputCount));
      g_stream.inputCount = 0;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Sample().size()));
}
BENCHMARK(BM_DecryptFill);

// The same reads without decryption, to tell the decryption's share from the reads'.
void BM_PlainFill(benchmark::State& state) {
  EngineBench engine(Sample());
  for (auto _ : state) {
    engine.StartEntry(false);
    while (FillInputBuffer() != 0) g_stream.inputCount = 0;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Sample().size()));
}
BENCHMARK(BM_PlainFill);

// Bytes per second counted in decoded (output) bytes throughout.
void BM_InflateEntry(benchmark::State& state) {
  EngineBench engine(RawDeflated());
  for (auto _ : state) {
    engine.StartEntry(false);
    if (InflateEntry() != 0) state.SkipWithError("the decoder refused the stream");
    if (g_stream.outputCount > 0) FlushOutputBuffer();
    if (~g_stream.crc != SampleCrc()) state.SkipWithError("wrong output");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Sample().size()));
}
BENCHMARK(BM_InflateEntry);

// The same stream encrypted with the built-in password, as the payload's entries are: the
// decryption runs interleaved with the decoding.
void BM_InflateEncryptedEntry(benchmark::State& state) {
  std::vector<uint8_t> encrypted = RawDeflated();
  InitKeys(kBuiltInPassword);
  for (uint8_t& byte : encrypted) {
    const uint8_t plain = byte;
    byte = plain ^ DecryptByte();
    UpdateKeys(plain);
  }
  EngineBench engine(encrypted);
  for (auto _ : state) {
    InitKeys(kBuiltInPassword);
    engine.StartEntry(true);
    if (InflateEntry() != 0) state.SkipWithError("the decoder refused the stream");
    if (g_stream.outputCount > 0) FlushOutputBuffer();
    if (~g_stream.crc != SampleCrc()) state.SkipWithError("wrong output");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Sample().size()));
}
BENCHMARK(BM_InflateEncryptedEntry);

void ZlibInflate(benchmark::State& state, bool withCrc) {
  const std::vector<uint8_t>& stream = RawDeflated();
  std::vector<uint8_t> out(STREAM_CHUNK);
  for (auto _ : state) {
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    uLong crc = 0;
    int status;
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      status = inflate(&z, Z_NO_FLUSH);
      if (withCrc) crc = crc32(crc, out.data(), static_cast<uInt>(out.size() - z.avail_out));
    } while (status == Z_OK);
    if (status != Z_STREAM_END) state.SkipWithError("zlib refused the stream");
    benchmark::DoNotOptimize(crc);
    inflateEnd(&z);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Sample().size()));
}
void BM_ZlibInflate(benchmark::State& state) { ZlibInflate(state, false); }
void BM_ZlibInflateWithCrc(benchmark::State& state) { ZlibInflate(state, true); }
BENCHMARK(BM_ZlibInflate);
BENCHMARK(BM_ZlibInflateWithCrc);

}  // namespace

BENCHMARK_MAIN();
