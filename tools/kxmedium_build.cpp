// Building a medium: check every input first (setup program, the companion files of the
// shared table, the payload's names), then copy SETUP.EXE keeping its time, stamp each
// companion copy with exactly the copy's last-write time, and write setup.kx.
#include "tools/kxmedium_build.h"

#include "tools/kxmedium_crypt.h"
#include "tools/kxmedium_files.h"
#include "tools/kxmedium_names.h"
#include "tools/kxmedium_os.h"
#include "tools/kxmedium_totals.h"
#include "tools/kxmedium_zipwriter.h"

#include "platform/platform.h"
#include "res/companions.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kxmedium {

namespace {

// The progress line of a build: on a terminal only, so that logs and pipes stay clean.
struct Progress {
  bool enabled = false;
  bool shown = false;
  uint64_t done = 0;
  uint64_t total = 0;

  void Show(const std::string& name) {
    if (!enabled) return;
    std::fprintf(stderr, "\rpacking %-40.40s %12llu of %llu bytes", name.c_str(),
                 static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
    std::fflush(stderr);
    shown = true;
  }
  void Clear() {
    if (shown) std::fprintf(stderr, "\r%79s\r", "");
    shown = false;
  }
};
Progress g_progress;

bool StandardErrorIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

void Say(const std::string& text) {
  g_progress.Clear();
  std::fprintf(stderr, "kxmedium: %s\n", text.c_str());
}

// Windows finds files without regard to letter case; so does this lookup, preferring the exact
// name. Empty when no file of that name is in the folder.
std::string FindInFolder(const std::string& folder, const std::string& name,
                         const std::vector<FolderEntry>& listing) {
  platform::FindData data;
  const std::string exact = JoinPath(folder, name);
  if (platform::FindFirst(exact.c_str(), &data) && !data.isFolder) return exact;
  for (const FolderEntry& entry : listing)
    if (entry.kind == EntryKind::File && FoldCase(entry.name) == FoldCase(name))
      return JoinPath(folder, entry.name);
  return {};
}

struct Inputs {
  std::vector<std::string> companionPaths;  // in table order
  std::vector<PayloadFile> payload;
};

bool CheckInputs(const BuildOptions& options, Inputs* inputs) {
  std::vector<std::string> problems;
  platform::FindData data;
  if (!platform::FindFirst(options.setupProgram.c_str(), &data) || data.isFolder)
    problems.push_back("setup program " + options.setupProgram + " not found");

  std::vector<FolderEntry> listing;
  if (!ListFolder(options.companionsDir, &listing)) {
    problems.push_back("cannot read the companions folder " + options.companionsDir);
  } else {
    for (const CompanionFile* c = CompanionFiles; c->name; ++c) {
      const std::string path = FindInFolder(options.companionsDir, c->name, listing);
      if (path.empty())
        problems.push_back(std::string("missing companion file ") + c->name + " in " +
                           options.companionsDir);
      inputs->companionPaths.push_back(path);
    }
  }

  std::vector<FolderEntry> payload;
  if (!ListFolder(options.payloadDir, &payload)) {
    problems.push_back("cannot read the payload folder " + options.payloadDir);
  } else {
    std::vector<std::string> names;
    for (const FolderEntry& entry : payload) {
      if (entry.kind == EntryKind::File)
        names.push_back(entry.name);
      else if (entry.kind == EntryKind::Folder)
        problems.push_back("payload folder " + entry.name +
                           ": the setup writes every entry into one folder; put files only");
      else
        problems.push_back("payload entry " + entry.name + " is not a plain file");
    }
    inputs->payload = PlanPayload(names, &problems);
    for (const PayloadFile& file : inputs->payload) {
      platform::FindData found;
      uint16_t dosDate = 0, dosTime = 0;
      const std::string path = JoinPath(options.payloadDir, file.fileName);
      if (platform::FindFirst(path.c_str(), &found) &&
          !FileTimeToDos(found.lastWrite, &dosDate, &dosTime))
        problems.push_back("payload file " + file.fileName +
                           ": its time stamp lies outside the MS-DOS dates 1980 to 2107");
    }
  }

  for (const std::string* input : {&options.companionsDir, &options.payloadDir}) {
    if (SameFolder(options.mediumDir, *input))
      problems.push_back("the medium folder must not be the input folder " + *input);
  }
  const size_t cut = options.setupProgram.find_last_of("\\/");
  const std::string setupFolder =
      cut == std::string::npos ? "." : options.setupProgram.substr(0, cut + 1);
  if (SameFolder(options.mediumDir, setupFolder))
    problems.push_back("the medium folder must not be the folder of " + options.setupProgram);

  for (const std::string& problem : problems) Say(problem);
  return problems.empty();
}

bool WritePayload(const BuildOptions& options, const Inputs& inputs, uint64_t* archiveSize) {
  const std::string archivePath = JoinPath(options.mediumDir, kPayloadName);
  ZipWriter writer(archivePath, options.hasPassword ? options.password : kBuiltInPassword,
                   options.storeOnly);
  std::string error;
  if (!writer.Open(&error)) {
    Say(error);
    return false;
  }
  g_progress = Progress{};
  g_progress.enabled = StandardErrorIsTerminal();
  for (const PayloadFile& file : inputs.payload) {
    platform::FindData data;
    if (platform::FindFirst(JoinPath(options.payloadDir, file.fileName).c_str(), &data))
      g_progress.total += data.sizeLow;
  }
  for (const PayloadFile& file : inputs.payload) {
    const std::string path = JoinPath(options.payloadDir, file.fileName);
    g_progress.Show(file.fileName);
    platform::FindData data;
    uint16_t dosDate = 0, dosTime = 0;
    if (!platform::FindFirst(path.c_str(), &data)) {
      Say("payload file " + file.fileName + " vanished");
      return false;
    }
    if (!FileTimeToDos(data.lastWrite, &dosDate, &dosTime)) {
      Say("payload file " + file.fileName +
          ": its time stamp lies outside the MS-DOS dates 1980 to 2107");
      return false;
    }
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, kMaxArchiveSize, &bytes, &error) ||
        !writer.AddEntry(file.entryName, bytes, dosDate, dosTime, &error)) {
      Say(error);
      return false;
    }
    g_progress.done += bytes.size();
    g_progress.Show(file.fileName);
  }
  g_progress.Clear();
  if (!writer.Finish(&error)) {
    Say(error);
    return false;
  }
  size_t deflated = 0;
  for (const ZipEntryInfo& entry : writer.entries()) deflated += entry.method != 0;
  std::printf("%s: %zu entries (%zu deflated, %zu stored), %llu bytes\n", archivePath.c_str(),
              writer.entries().size(), deflated, writer.entries().size() - deflated,
              static_cast<unsigned long long>(writer.size()));
  *archiveSize = writer.size();
  return true;
}

}  // namespace

int BuildMedium(const BuildOptions& options) {
  Inputs inputs;
  if (!CheckInputs(options, &inputs)) return 2;
  if (!MakeFolders(options.mediumDir)) {
    Say("cannot create the medium folder " + options.mediumDir + ": " + SystemReason());
    return 2;
  }

  // SETUP.EXE keeps its own time; the companions take the time its copy shows, so that they
  // match even where the file system keeps times more coarsely than the source's.
  std::string error;
  platform::FindData data;
  const std::string setupCopy = JoinPath(options.mediumDir, kSetupProgramName);
  if (!platform::FindFirst(options.setupProgram.c_str(), &data) ||
      !CopyFileStamped(options.setupProgram, setupCopy, &data.lastWrite, &error)) {
    Say(error.empty() ? "cannot read " + options.setupProgram : error);
    return 2;
  }
  if (!platform::FindFirst(setupCopy.c_str(), &data)) {
    Say("cannot read back " + setupCopy);
    return 2;
  }
  const platform::FileTime stamp = data.lastWrite;

  MediumTotal total;
  size_t index = 0;
  for (const CompanionFile* c = CompanionFiles; c->name; ++c, ++index) {
    const std::string copy = JoinPath(options.mediumDir, c->name);
    if (!CopyFileStamped(inputs.companionPaths[index], copy, &stamp, &error)) {
      Say(error);
      return 2;
    }
    platform::FindData copied;
    if (!platform::FindFirst(copy.c_str(), &copied) || !(copied.lastWrite == stamp)) {
      Say("the file system did not keep the time stamp of " + copy);
      return 2;
    }
    total.bytes += ExpandedFileSize(copy, copied.sizeLow);
  }

  uint64_t archiveSize = 0;
  if (!WritePayload(options, inputs, &archiveSize)) return 2;
  total.bytes += archiveSize;
  std::printf("%s: %s\n", options.mediumDir.c_str(), DescribeTotal(total).c_str());
  if (!total.fitsSetup()) {
    Say("the medium's total size passes 4 GiB: the setup's meter would be wrong");
    return 2;
  }
  return 0;
}

}  // namespace kxmedium
