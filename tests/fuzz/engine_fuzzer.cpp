// Fuzz target: the whole engine on an archive made of the input's bytes, in test mode with CRC
// errors reported (fuzz_engine_test_mode), or extracting with stored folders kept into a folder
// nested below the scratch folder (fuzz_engine_extract, built with KX_FUZZ_EXTRACT set).
// Beyond the common checks: nothing may appear outside the output folder, no more files than
// entries were named, and none at all in test mode.
#include "tests/fuzz/fuzz_support.h"

#include <filesystem>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace fs = std::filesystem;
  static const fs::path root = fs::path(fuzz::ScratchRoot()) / "engine", out = root / "a/b/out";
  fs::remove_all(root);
  fs::create_directories(out / "sub");
  const std::string archive = (root / "input.zip").string(), output = out.string();
  fuzz::WriteFile(archive, data, size);
  ExtractJob job{};
  job.archivePath = archive.c_str();
  if (KX_FUZZ_EXTRACT) job.outputFolder = output.c_str(), job.keepPaths = 1;
  job.reportCrcErrors = !KX_FUZZ_EXTRACT;  // damaged data must surface as a box, not pass
  const fuzz::Observed& seen = fuzz::RunAndCheck(job, size);
  unsigned files = 0;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
    const bool inside = it->path().string().rfind(output + "/", 0) == 0;
    files += inside && !it->is_directory();
    FUZZ_CHECK(inside || it->path() == out || it->path() == archive || it->path() == root / "a" ||
                   it->path() == root / "a/b",
               "the run wrote %s outside the output folder", it->path().c_str());
  }
  FUZZ_CHECK(files <= (KX_FUZZ_EXTRACT ? seen.names : 0), "%u files after %u entries", files,
             seen.names);
  return 0;
}
