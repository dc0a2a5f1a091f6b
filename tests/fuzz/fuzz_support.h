// Shared pieces of the fuzz targets: a quiet host that records the engine's boxes and progress
// messages, a scratch folder per process, and checks that abort on a broken property, which
// libFuzzer (or the replay test) reports as a crash with its input.
#pragma once

#include "extract/extract.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

struct Observed {
  std::vector<std::string> boxes;  // texts of the error boxes, in order
  unsigned names = 0;              // PWM_ENTRYNAME messages
  uintptr_t lastAdvance = 0;
  bool waitingForAdvance = false;  // a PWM_ENTRYNAME is owed its forced PWM_ADVANCE
  const char* disorder = nullptr;  // what broke the order of the progress messages
};

// A folder private to this process, created on first use and removed at exit.
const std::string& ScratchRoot();
void WriteFile(const std::string& path, const void* data, size_t size);

// Runs the job under the recording host and checks what holds for any run on an archive of
// archiveSize bytes: the engine was idle, the result is OK or ERROR (nothing cancels), an
// error came with exactly one engine box and success with none, the progress messages keep
// their order and never count more than the archive holds, every descriptor is closed again.
const Observed& RunAndCheck(ExtractJob& job, size_t archiveSize);

// True when the box text is the given engine message (its text up to the first placeholder).
bool Shows(const std::string& box, unsigned message);

}  // namespace fuzz

// Prints what broke and aborts.
#define FUZZ_CHECK(condition, format, ...)                                    \
  do {                                                                        \
    if (!(condition)) {                                                       \
      std::fprintf(stderr, "fuzz check failed: " format "\n", ##__VA_ARGS__); \
      std::abort();                                                           \
    }                                                                         \
  } while (0)
