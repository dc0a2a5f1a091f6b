// The engine's entry, the top of extract/: ExtractArchive with its busy guard, the opening of
// the archive, the walk of its records, and the cleanup where every run ends.
#include "extract/extract.h"

#include "extract/decrypt.h"
#include "extract/engine.h"
#include "extract/entry_decode.h"
#include "extract/zip_walker.h"
#include "ui/messages.h"

#include <csetjmp>
#include <cstring>

namespace {

// archiveName is archivePath, with ".ZIP" when the path has no "." anywhere. A path that does
// not fit is never cut (a cut could name another existing file): opening it is refused.
void SetArchiveName(const char* path) {
  const size_t length = std::strlen(path);
  const bool addExtension = std::strchr(path, '.') == nullptr;
  g_engine.archiveNameTooLong = length + (addExtension ? 4 : 0) >= sizeof g_engine.archiveName;
  if (g_engine.archiveNameTooLong) {
    g_engine.archiveName[0] = '\0';
    return;
  }
  std::memcpy(g_engine.archiveName, path, length + 1);
  if (addExtension) std::strcat(g_engine.archiveName, ".ZIP");
}

void OpenArchive() {
  if (g_engine.archiveNameTooLong) {
    // Shown like any file that cannot be opened; only the message's copy is cut.
    char shown[kEngineMessageSize / 2];
    platform::FormatText(shown, sizeof shown, "%s", g_engine.job->archivePath);
    platform::AnsiTextToOem(shown);
    FailWithMessage(MSG_CANNOT_OPEN_INPUT, shown);
  }
  g_engine.archiveFile = platform::FileOpenRead(g_engine.archiveName);
  if (g_engine.archiveFile == platform::kInvalidFile) {
    platform::AnsiTextToOem(g_engine.archiveName);
    FailWithMessage(MSG_CANNOT_OPEN_INPUT, g_engine.archiveName);
  }
  // A failed move is not reported: the first signature read then fails or finds no record.
  platform::FileSeek(g_engine.archiveFile, g_engine.job->startOffset, platform::SeekFrom::Begin);
}

void ProcessArchive() {
  const ExtractJob& job = *g_engine.job;
  if (job.hasPassword && !SetArchivePassword(job.password ? job.password : ""))
    FailWithMessage(MSG_INSUFFICIENT_MEMORY);
  OpenArchive();
  WalkRecords();
  platform::FileClose(g_engine.archiveFile);
  g_engine.archiveFile = platform::kInvalidFile;
}

void ReleaseRunResources() {
  if (g_engine.archiveFile != platform::kInvalidFile) {
    platform::FileClose(g_engine.archiveFile);
    g_engine.archiveFile = platform::kInvalidFile;
  }
  if (g_engine.outputFile != platform::kInvalidFile) {
    platform::FileClose(g_engine.outputFile);
    g_engine.outputFile = platform::kInvalidFile;
    platform::FileDelete(g_engine.createdPath);
  }
  ReleaseRunBuffers();
}

}  // namespace

int ExtractArchive(ExtractJob* job) {
  if (g_engine.busy) return 0;
  g_engine.busy = true;
  g_engine.job = job;
  g_engine.testMode = job->outputFolder == nullptr;
  SetArchiveName(job->archivePath ? job->archivePath : "");
  g_engine.bytesCounted = 0;
  g_engine.bytesReported = 0;
  // The resync looks at the flags of the last local header read; a header of an earlier run
  // must not change how this archive is scanned.
  g_engine.entry = EntryHeader{};
  if (setjmp(g_engine.abortPoint) == 0) {
    if (!AcquireRunBuffers()) FailWithMessage(MSG_INSUFFICIENT_MEMORY);
    ProcessArchive();
  } else {
    job->result = g_engine.abortCode;
  }
  ReleaseRunResources();
  g_engine.busy = false;
  return 1;
}
