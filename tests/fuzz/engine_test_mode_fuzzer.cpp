// Fuzz target: the whole engine in test mode on an archive made of the input's bytes. Any
// input must end the run with OK or an engine error, one box for an error and none for
// success, in-order progress messages, and every file descriptor closed again.
#include "extract/extract.h"
#include "tests/fuzz/fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string archive = fuzz::ScratchRoot() + "/input.zip";
  fuzz::WriteWholeFile(archive, data, size);
  fuzz::Observed& seen = fuzz::StartObserving();
  const int descriptorsBefore = fuzz::OpenDescriptorCount();

  ExtractJob job{};
  job.archivePath = archive.c_str();
  job.outputFolder = nullptr;  // test mode
  job.reportCrcErrors = 1;     // damaged data must surface as message 1033, not pass
  const int returned = ExtractArchive(&job);

  fuzz::CheckRunOutcome(returned, job, seen, size);
  FUZZ_CHECK(fuzz::OpenDescriptorCount() == descriptorsBefore,
             "the run left a file descriptor open");
  return 0;
}
