// The quiet host of the fuzz targets and their common checks. Boxes and window messages are
// recorded, never shown; a broken property prints what was seen and aborts, which libFuzzer
// reports as a crash with the input that caused it.
#include "tests/fuzz/fuzz_support.h"

#include "platform/platform.h"
#include "ui/messages.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fuzz {
namespace {

struct HostRecord {
  Observed seen;
  bool installed = false;
  std::vector<std::string> messagePrefixes;  // each engine text up to its first placeholder
};

HostRecord& Host() {
  static HostRecord record;
  return record;
}

int RecordBox(platform::WindowHandle, const char* text, const char*, unsigned) {
  Host().seen.boxes.emplace_back(text ? text : "");
  return platform::mb::kIdOk;
}

intptr_t RecordMessage(platform::WindowHandle, unsigned message, uintptr_t wParam, intptr_t) {
  Observed& seen = Host().seen;
  if (message == PWM_ENTRYNAME) {
    if (seen.expectingAdvance) seen.nameWithoutAdvance = true;
    ++seen.entryNames;
    seen.expectingAdvance = true;
  } else if (message == PWM_ADVANCE) {
    if (seen.advances > 0 && wParam < seen.lastAdvance) seen.advanceWentBack = true;
    ++seen.advances;
    seen.lastAdvance = wParam;
    seen.expectingAdvance = false;
  } else {
    seen.foreignMessage = true;
  }
  return 0;  // never cancels
}

void Pump() {}

void CollectMessagePrefixes() {
  static const unsigned kEngineMessages[] = {MSG_CANNOT_CREATE_OUTPUT,
                                             MSG_CANNOT_OPEN_INPUT,
                                             MSG_UNKNOWN_COMPRESSION,
                                             MSG_BAD_CRC,
                                             MSG_INVALID_HEADER,
                                             MSG_INSUFFICIENT_MEMORY,
                                             MSG_DISK_FULL,
                                             MSG_BAD_DISK,
                                             MSG_NAME_TOO_LONG,
                                             MSG_PATH_TOO_LONG,
                                             MSG_UNSAFE_NAME,
                                             MSG_SHORT_ENCRYPTED_ENTRY,
                                             MSG_STREAMED_ENTRY,
                                             MSG_BAD_COMPRESSED_DATA};
  for (unsigned id : kEngineMessages) {
    std::string text = LoadMessageText(id);
    text = text.substr(0, text.find('%'));
    if (!text.empty()) Host().messagePrefixes.push_back(text);
  }
  Host().messagePrefixes.push_back("INCORRECT PASSWORD");
  Host().messagePrefixes.push_back("NO PASSWORD");
}

}  // namespace

Observed& StartObserving() {
  HostRecord& host = Host();
  if (!host.installed) {
    platform::HostHooks hooks;
    hooks.messageBox = RecordBox;
    hooks.sendMessage = RecordMessage;
    hooks.pumpMessages = Pump;
    platform::SetHostHooks(hooks);
    CollectMessagePrefixes();
    host.installed = true;
  }
  host.seen = Observed{};
  return host.seen;
}

const std::string& ScratchRoot() {
  // The removal at exit works on its own copy: it runs after static strings are destroyed.
  static char atExitCopy[512];
  static const std::string root = [] {
    namespace fs = std::filesystem;
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path path = base / ("kxfuzz-" + std::to_string(::getpid()));
    fs::remove_all(path);
    fs::create_directories(path);
    std::snprintf(atExitCopy, sizeof atExitCopy, "%s", path.c_str());
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(atExitCopy, ignored);
    });
    return path.string();
  }();
  return root;
}

void WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(file != nullptr, "cannot create %s", path.c_str());
  FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, file) == size, "cannot write %s",
             path.c_str());
  std::fclose(file);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int OpenDescriptorCount() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return -1;
  int count = 0;
  while (dirent* entry = ::readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  ::closedir(dir);
  return count - 1;  // the descriptor of the listing itself
}

bool IsEngineMessage(const std::string& text) {
  for (const std::string& prefix : Host().messagePrefixes)
    if (text.compare(0, prefix.size(), prefix) == 0) return true;
  return false;
}

void CheckRunOutcome(int returned, const ExtractJob& job, const Observed& seen,
                     size_t archiveSize) {
  FUZZ_CHECK(returned == 1, "ExtractArchive returned %d: the engine was left busy", returned);
  FUZZ_CHECK(job.result == EXTRACT_OK || job.result == EXTRACT_ERROR,
             "result %d although nothing cancelled the run", static_cast<int>(job.result));
  if (job.result == EXTRACT_OK)
    FUZZ_CHECK(seen.boxes.empty(), "success reported after the box \"%s\"",
               seen.boxes.front().c_str());
  else
    FUZZ_CHECK(seen.boxes.size() == 1, "an error ended the run after %zu boxes", seen.boxes.size());
  for (const std::string& box : seen.boxes)
    FUZZ_CHECK(IsEngineMessage(box), "unexpected box text \"%s\"", box.c_str());
  FUZZ_CHECK(!seen.foreignMessage, "a window message other than the progress messages");
  FUZZ_CHECK(!seen.nameWithoutAdvance, "PWM_ENTRYNAME without its forced PWM_ADVANCE");
  FUZZ_CHECK(!seen.expectingAdvance, "the last PWM_ENTRYNAME had no PWM_ADVANCE");
  FUZZ_CHECK(!seen.advanceWentBack, "PWM_ADVANCE went backwards");
  FUZZ_CHECK(seen.lastAdvance <= archiveSize / PROGRESS_UNIT,
             "PWM_ADVANCE %zu counts more than the %zu bytes of the archive",
             static_cast<size_t>(seen.lastAdvance), archiveSize);
}

void Fail(const char* format, ...) {
  std::fprintf(stderr, "fuzz check failed: ");
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fprintf(stderr, "\n");
  std::abort();
}

}  // namespace fuzz
