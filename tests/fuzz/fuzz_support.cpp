// The quiet host of the fuzz targets and their common checks. Boxes and window messages are
// recorded, never shown; a broken property prints what was seen and aborts.
#include "tests/fuzz/fuzz_support.h"

#include "platform/platform.h"
#include "ui/messages.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fuzz {
namespace {

namespace fs = std::filesystem;
Observed g_seen;

int RecordBox(platform::WindowHandle, const char* text, const char*, unsigned) {
  g_seen.boxes.emplace_back(text ? text : "");
  return platform::mb::kIdOk;
}

intptr_t RecordMessage(platform::WindowHandle, unsigned message, uintptr_t wParam, intptr_t) {
  Observed& s = g_seen;
  if (message == PWM_ENTRYNAME && s.waitingForAdvance) s.disorder = "a name without its advance";
  if (message == PWM_ADVANCE && wParam < s.lastAdvance) s.disorder = "an advance went back";
  if (message != PWM_ENTRYNAME && message != PWM_ADVANCE) s.disorder = "a foreign message";
  s.names += message == PWM_ENTRYNAME;
  s.waitingForAdvance = message == PWM_ENTRYNAME;
  if (message == PWM_ADVANCE) s.lastAdvance = wParam;
  return 0;  // never cancels
}

long OpenDescriptors() { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); }

}  // namespace

const std::string& ScratchRoot() {
  // The removal at exit works on its own copy: it runs after static strings are destroyed.
  static char atExit[512];
  static const std::string root = [] {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path path = base / ("kxfuzz-" + std::to_string(::getpid()));
    fs::create_directories(path);
    std::snprintf(atExit, sizeof atExit, "%s", path.c_str());
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(atExit, ignored);
    });
    return path.string();
  }();
  return root;
}

void WriteFile(const std::string& path, const void* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(file && std::fwrite(data, 1, size, file) == size, "cannot write %s", path.c_str());
  std::fclose(file);
}

bool Shows(const std::string& box, unsigned message) {
  const std::string text = LoadMessageText(message);
  return box.compare(0, text.find('%'), text, 0, text.find('%')) == 0;
}

const Observed& RunAndCheck(ExtractJob& job, size_t archiveSize) {
  platform::HostHooks hooks;
  hooks.messageBox = RecordBox;
  hooks.sendMessage = RecordMessage;
  hooks.pumpMessages = [] {};
  platform::SetHostHooks(hooks);
  g_seen = Observed{};
  const long descriptors = OpenDescriptors();
  FUZZ_CHECK(ExtractArchive(&job) == 1, "ExtractArchive found the engine busy");
  FUZZ_CHECK(OpenDescriptors() == descriptors, "the run left a file descriptor open");
  const int32_t result = job.result;
  FUZZ_CHECK(result == EXTRACT_OK || result == EXTRACT_ERROR, "result %d",
             static_cast<int>(result));
  FUZZ_CHECK(g_seen.boxes.size() == (result == EXTRACT_ERROR ? 1u : 0u),
             "result %d after %zu boxes", static_cast<int>(result), g_seen.boxes.size());
  for (const std::string& box : g_seen.boxes) {
    bool known = box == "INCORRECT PASSWORD" || box == "NO PASSWORD";
    for (unsigned id = MSG_CANNOT_CREATE_OUTPUT; id <= MSG_BAD_COMPRESSED_DATA; ++id)
      known = known || ((id <= MSG_BAD_DISK || id >= MSG_NAME_TOO_LONG) && Shows(box, id));
    FUZZ_CHECK(known, "unexpected box text \"%s\"", box.c_str());
  }
  FUZZ_CHECK(!g_seen.disorder && !g_seen.waitingForAdvance, "progress messages out of order: %s",
             g_seen.disorder ? g_seen.disorder : "the last name had no advance");
  FUZZ_CHECK(g_seen.lastAdvance <= archiveSize / PROGRESS_UNIT, "advance %zu for %zu bytes",
             static_cast<size_t>(g_seen.lastAdvance), archiveSize);
  return g_seen;
}

}  // namespace fuzz
