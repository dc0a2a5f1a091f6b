// The engine's fuzz targets, one program each, chosen by KX_FUZZ_TARGET: the engine on an
// archive made of the input's bytes, in test mode (1) or extracting (2); the inflate decoder
// against zlib and against its own byte-wise reader (3); traditional decryption (4). A broken
// property prints what broke and aborts, which libFuzzer (or the replay test) reports as a
// crash with its input. The tests' host records the engine's boxes and messages.
#include "extract/engine.h"
#include "extract/single_entry.h"
#include "tests/extract/engine_host.h"
#include "tests/extract/zip_builder.h"
#include "ui/messages.h"

#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#define FUZZ_CHECK(condition, format, ...)                                    \
  do {                                                                        \
    if (!(condition)) {                                                       \
      std::fprintf(stderr, "fuzz check failed: " format "\n", ##__VA_ARGS__); \
      std::abort();                                                           \
    }                                                                         \
  } while (0)

namespace {

namespace fs = std::filesystem;

#if KX_FUZZ_TARGET != 3
long OpenDescriptors() { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); }

// A folder private to this process, removed at exit: the archive, and the output folder
// nested a few levels below it (with a subfolder for names that keep their folders).
const fs::path& Root() {
  static const struct Folder {
    fs::path path = (fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) /
                    ("kxfuzz-" + std::to_string(::getpid()));
    ~Folder() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } root;
  return root.path;
}

// Runs the engine on the archive, extracting with stored folders kept when extract is set, and
// checks what holds for any run: the engine was idle, the result is OK or ERROR (nothing
// cancels), an error came with exactly one engine box and success with none, the progress
// messages keep their order and never count more than the archive holds, every descriptor is
// closed again, nothing was written outside the output folder nor more files than entries.
const EngineHost& Run(const std::string& archive, ExtractJob& job, bool extract) {
  const fs::path out = Root() / "a/b/out";
  const std::string archivePath = (Root() / "input.zip").string(), output = out.string();
  fs::remove_all(Root());
  fs::create_directories(out / "sub");
  std::ofstream(archivePath, std::ios::binary) << archive;
  job.archivePath = archivePath.c_str();
  job.notifyWindow = TestWindow();
  if (extract) job.outputFolder = output.c_str(), job.keepPaths = 1;
  const EngineHost& host = StartHost();
  const long descriptors = OpenDescriptors();
  FUZZ_CHECK(ExtractArchive(&job) == 1, "ExtractArchive found the engine busy");
  FUZZ_CHECK(OpenDescriptors() == descriptors, "the run left a file descriptor open");
  const int result = job.result;
  FUZZ_CHECK(result == EXTRACT_OK || result == EXTRACT_ERROR, "result %d", result);
  FUZZ_CHECK(host.boxes.size() == (result == EXTRACT_ERROR ? 1u : 0u), "result %d after %zu boxes",
             result, host.boxes.size());
  unsigned names = 0;
  uintptr_t advanced = 0;
  for (size_t i = 0; i < host.messages.size(); ++i) {
    const SentMessage& m = host.messages[i];
    names += m.message == PWM_ENTRYNAME;
    FUZZ_CHECK(m.message == PWM_ENTRYNAME
                   ? i + 1 < host.messages.size() && host.messages[i + 1].message == PWM_ADVANCE
                   : m.message == PWM_ADVANCE && m.wParam >= advanced,
               "message %zu (%u) out of order", i, m.message);
    if (m.message == PWM_ADVANCE) advanced = m.wParam;
  }
  FUZZ_CHECK(advanced <= archive.size() / PROGRESS_UNIT, "advance %zu for %zu bytes",
             static_cast<size_t>(advanced), archive.size());
  unsigned files = 0;
  for (auto it = fs::recursive_directory_iterator(Root()); it != fs::end(it); ++it) {
    const bool inside = it->path().string().rfind(output + "/", 0) == 0;
    files += inside && !it->is_directory();
    FUZZ_CHECK(inside || it->path() == out || it->path() == archivePath ||
                   it->path() == Root() / "a" || it->path() == Root() / "a/b",
               "the run wrote %s outside the output folder", it->path().c_str());
  }
  FUZZ_CHECK(files <= (extract ? names : 0), "%u files after %u entries", files, names);
  return host;
}
#else
struct Decoded {
  int result = 0;  // the decoder's, or zlib's status
  std::string bytes, message;
  uint32_t bytesRead = 0, bytesLeft = 0;
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
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
#if KX_FUZZ_TARGET <= 2
  ExtractJob job{};
  job.reportCrcErrors = KX_FUZZ_TARGET == 1;  // in test mode damaged data must surface in a box
  Run(std::string(reinterpret_cast<const char*>(data), size), job, KX_FUZZ_TARGET == 2);
#elif KX_FUZZ_TARGET == 3
  // The two loops agree in result, output and reads. Where zlib decodes the stream the decoder
  // returns 0 with the same bytes; where zlib refuses it the decoder refuses it too, but for the
  // one stream it accepts by design: a repeat code 16 as a block's first code length, which
  // repeats length 0 (zlib: "invalid bit length repeat"). What both produced agrees.
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
#else
  // The input is an option byte (bits below), the password, a second one when the first bit is
  // set, the time, 12 bytes once taken for the encryption header, and the plain bytes, which are
  // stored or deflated, encrypted into a one-entry archive and extracted with the last password.
  // The right password gives back the plain bytes, a wrong one is refused (or, with a check byte
  // right by chance, ends as a CRC error); raw bytes as the entry's data never break the run.
  constexpr uint8_t kWrong = 1, kDescriptor = 2, kDeflated = 4, kRaw = 8, kExtract = 32;
  size_t at = 0;
  const auto take = [&] { return static_cast<uint8_t>(at < size ? data[at++] : 0); };
  const auto password = [&] {  // up to 63 bytes, with no NUL inside
    std::string text;
    for (unsigned n = take() % 64; n > 0; --n)
      text += static_cast<char>(std::max<uint8_t>(take(), 1));
    return text;
  };
  const uint8_t options = take();
  const std::string encryptedWith = password();
  const std::string extractedWith = options & kWrong ? password() : encryptedWith;
  const uint16_t timeLow = take(), time = static_cast<uint16_t>(timeLow | take() << 8);
  at = std::min(size, at + 12);
  const std::string plain(reinterpret_cast<const char*>(data) + at, size - at);
  zipbuild::Entry entry = zipbuild::Stored("file.bin", plain).Stamp(0x5A21, time);
  if (options & kDescriptor) entry.Streamed(zip::descriptor::kSizeWithSignature);
  if (options & kDeflated) entry.Deflated();  // in stored blocks
  if (options & kRaw) entry.flags |= zip::kFlagEncrypted;
  if (!(options & kRaw)) entry.Encrypted(encryptedWith);  // the check byte as the flags ask
  ExtractJob job{};
  job.reportCrcErrors = 1;
  job.hasPassword = 1;
  job.password = extractedWith.c_str();
  const std::string archive = zipbuild::LocalRecord(entry) + zipbuild::EndRecord(0, 0, 0);
  const EngineHost& host = Run(archive, job, options & kExtract);
  const std::string box = host.boxes.empty() ? "" : host.boxes.front();
  const auto shows = [&box](unsigned message) {  // the message's text up to its first placeholder
    const std::string text = LoadMessageText(message);
    return box.compare(0, text.find('%'), text, 0, text.find('%')) == 0;
  };
  if (options & kRaw) return 0;
  if (encryptedWith == extractedWith) {
    FUZZ_CHECK(job.result == EXTRACT_OK, "the right password failed with \"%s\"", box.c_str());
    std::ifstream file(Root() / "a/b/out/file.bin", std::ios::binary);
    FUZZ_CHECK(
        !(options & kExtract) || std::string(std::istreambuf_iterator<char>(file), {}) == plain,
        "the extracted file differs from the plain bytes");
  } else {
    // A check byte right by chance (one in 256) gives meaningless data, which can match the
    // stored CRC only when the entry is empty (CRC 0).
    FUZZ_CHECK(
        host.boxes.empty() ? plain.empty() : box == "INCORRECT PASSWORD" || shows(MSG_BAD_CRC),
        "a wrong password ended with \"%s\"", box.c_str());
  }
#endif
  return 0;
}
