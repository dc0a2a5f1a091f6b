// Fuzz target: the whole engine extracting an archive made of the input's bytes, with stored
// folders kept, into a scratch folder nested a few levels below the fuzzer's own folder.
// Nothing may appear outside the output folder, every descriptor must be closed again, and
// no more files may exist than entries were announced.
#include "extract/extract.h"
#include "tests/fuzz/fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Layout {
  fs::path root;  // holds the archive and the folders above the output folder
  fs::path archive;
  fs::path output;  // root/a/b/out, with a subfolder "sub" for names that keep folders
};

const Layout& Folders() {
  static const Layout layout = [] {
    Layout l;
    l.root = fs::path(fuzz::ScratchRoot()) / "extract";
    l.archive = l.root / "input.zip";
    l.output = l.root / "a" / "b" / "out";
    fs::create_directories(l.output);
    return l;
  }();
  return layout;
}

void ResetOutputFolder() {
  fs::remove_all(Folders().output);
  fs::create_directories(Folders().output / "sub");
}

// Anything under root that is neither the archive, a folder on the way down, nor inside the
// output folder was written outside it.
void CheckNothingOutside() {
  const Layout& l = Folders();
  const fs::path allowed[] = {l.archive, l.root / "a", l.root / "a" / "b", l.output};
  for (auto it = fs::recursive_directory_iterator(l.root); it != fs::end(it); ++it) {
    const fs::path& path = it->path();
    bool known = false;
    for (const fs::path& a : allowed) known = known || path == a;
    if (path == l.output) it.disable_recursion_pending();
    FUZZ_CHECK(known, "the run wrote %s outside the output folder", path.c_str());
  }
}

unsigned FilesInOutput() {
  unsigned count = 0;
  for (const auto& entry : fs::recursive_directory_iterator(Folders().output))
    if (!entry.is_directory()) ++count;
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Layout& l = Folders();
  ResetOutputFolder();
  fuzz::WriteWholeFile(l.archive.string(), data, size);
  fuzz::Observed& seen = fuzz::StartObserving();
  const int descriptorsBefore = fuzz::OpenDescriptorCount();

  const std::string output = l.output.string();
  ExtractJob job{};
  job.archivePath = l.archive.c_str();
  job.outputFolder = output.c_str();
  job.keepPaths = 1;
  const int returned = ExtractArchive(&job);

  fuzz::CheckRunOutcome(returned, job, seen, size);
  FUZZ_CHECK(fuzz::OpenDescriptorCount() == descriptorsBefore,
             "the run left a file descriptor open");
  CheckNothingOutside();
  const unsigned files = FilesInOutput();
  FUZZ_CHECK(files <= seen.entryNames, "%u files in the output folder after %u entries", files,
             seen.entryNames);
  return 0;
}
