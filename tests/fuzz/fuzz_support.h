// Shared pieces of the fuzz targets: a quiet host that records the engine's boxes and window
// messages instead of showing them, a scratch folder per process, and the checks that turn a
// broken property into a crash the fuzzer (or the replay test) reports.
#pragma once

#include "extract/extract.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// What the engine told its host during one run.
struct Observed {
  std::vector<std::string> boxes;   // texts of the error boxes, in order
  unsigned entryNames = 0;          // PWM_ENTRYNAME messages
  unsigned advances = 0;            // PWM_ADVANCE messages
  uintptr_t lastAdvance = 0;        // wParam of the last PWM_ADVANCE
  bool advanceWentBack = false;     // a PWM_ADVANCE carried less than the one before
  bool nameWithoutAdvance = false;  // a PWM_ENTRYNAME not followed at once by PWM_ADVANCE
  bool expectingAdvance = false;
  bool foreignMessage = false;  // a message other than the two progress messages
};

// Installs the recording host hooks (once) and clears what was observed.
Observed& StartObserving();

// A folder private to this process, created on first use and removed at exit.
const std::string& ScratchRoot();

void WriteWholeFile(const std::string& path, const uint8_t* data, size_t size);
std::string ReadWholeFile(const std::string& path);

// Number of file descriptors the process holds open.
int OpenDescriptorCount();

// True when text is one of the messages the engine may show.
bool IsEngineMessage(const std::string& text);

// The common checks after one ExtractArchive call on an archive of archiveSize bytes: the
// call ran, the result is OK or ERROR (the host never cancels), an error came with exactly one
// engine box and success with none, and the progress messages keep their order and never
// count more bytes than the archive holds.
void CheckRunOutcome(int returned, const ExtractJob& job, const Observed& seen, size_t archiveSize);

[[noreturn]] void Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace fuzz

#define FUZZ_CHECK(condition, ...) \
  do {                             \
    if (!(condition)) {            \
      ::fuzz::Fail(__VA_ARGS__);   \
    }                              \
  } while (0)
