// Micro-benchmarks of the engine's per-byte work: CRC-32, stored entries with and without
// decryption, and the inflate decoder on a raw Deflate stream beside zlib's inflate on the same
// stream (with and without a CRC-32 over its output, which the engine always computes). The
// entries run through the engine's single-entry decoding, in test mode (CRC-32 only).
// The data is a few megabytes of real files of this machine: headers as text and a library.
#include "extract/crc32.h"
#include "extract/decrypt.h"
#include "extract/single_entry.h"
#include "extract/zip_format.h"

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

// An entry's data in a memory file, read from its start for each run as the walker reads it
// from the archive.
class EntryFile {
 public:
  explicit EntryFile(const std::vector<uint8_t>& data) {
    file_ = memfd_create("kx-bench", 0);
    if (write(file_, data.data(), data.size()) != static_cast<ssize_t>(data.size())) abort();
    size_ = static_cast<uint32_t>(data.size());
  }
  ~EntryFile() { close(file_); }
  // Decodes the whole entry; false when the result or the CRC-32 is not the sample's.
  bool Decode(uint16_t method, bool encrypted) const {
    lseek(file_, 0, SEEK_SET);
    if (encrypted) InitKeys(kBuiltInPassword);
    SingleEntry entry;
    entry.input = file_;
    entry.compressedSize = size_;
    entry.method = method;
    entry.encrypted = encrypted;
    const SingleEntryOutcome outcome = DecodeSingleEntry(entry);
    return outcome.result == EXTRACT_OK && outcome.decoded == 0 && outcome.crc == SampleCrc();
  }

 private:
  int file_ = -1;
  uint32_t size_ = 0;
};

std::vector<uint8_t> Encrypted(std::vector<uint8_t> bytes) {
  zip::CryptKeys keys = zip::KeysForPassword(kBuiltInPassword);
  for (uint8_t& byte : bytes) byte = zip::EncryptByte(keys, byte);
  return bytes;
}

void BM_Crc32(benchmark::State& state) {
  const std::vector<uint8_t>& data = Sample();
  for (auto _ : state) benchmark::DoNotOptimize(UpdateCrc32(0xFFFFFFFFu, data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Crc32);

// Bytes per second counted in decoded (output) bytes throughout.
void RunEntry(benchmark::State& state, const EntryFile& file, uint16_t method, bool encrypted) {
  for (auto _ : state)
    if (!file.Decode(method, encrypted)) state.SkipWithError("wrong result or output");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Sample().size()));
}

// A stored entry: the reads, the copy and the CRC-32, and with decryption as the payload's
// entries have it.
void BM_StoredEntry(benchmark::State& state) {
  RunEntry(state, EntryFile(Sample()), zip::kMethodStored, false);
}
BENCHMARK(BM_StoredEntry);

void BM_StoredEncryptedEntry(benchmark::State& state) {
  RunEntry(state, EntryFile(Encrypted(Sample())), zip::kMethodStored, true);
}
BENCHMARK(BM_StoredEncryptedEntry);

void BM_InflateEntry(benchmark::State& state) {
  RunEntry(state, EntryFile(RawDeflated()), zip::kMethodDeflated, false);
}
BENCHMARK(BM_InflateEntry);

// The same stream encrypted with the built-in password, as the payload's entries are: the
// decryption runs interleaved with the decoding.
void BM_InflateEncryptedEntry(benchmark::State& state) {
  RunEntry(state, EntryFile(Encrypted(RawDeflated())), zip::kMethodDeflated, true);
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
