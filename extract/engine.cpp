// The engine's entry: ExtractArchive with its busy guard, buffers and cleanup, the opening of
// the archive, the error box, the single abort mechanism, and the progress and cancel
// reports sent to the job's window.
#include "extract/engine.h"

#include "extract/decrypt.h"
#include "extract/inflate.h"
#include "extract/zip_walker.h"
#include "setup/state.h"
#include "ui/messages.h"

#include <csetjmp>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

EngineState g_engine;

void AbortExtraction(int32_t code) {
  g_engine.abortCode = code;
  std::longjmp(g_engine.abortPoint, 1);
}

void ShowEngineError(const char* text) {
  platform::ShowMessageBox(g_engine.job->notifyWindow, text, nullptr, platform::mb::kIconError);
}

void FailWithMessage(unsigned id, ...) {
  const char* format = LoadMessageText(id);
  va_list args;
  va_start(args, id);
  platform::FormatTextV(g_engine.message, sizeof g_engine.message, format, args);
  va_end(args);
  ShowEngineError(g_engine.message);
  AbortExtraction(EXTRACT_ERROR);
}

void FailWithText(const char* text) {
  platform::FormatText(g_engine.message, sizeof g_engine.message, "%s", text);
  ShowEngineError(g_engine.message);
  AbortExtraction(EXTRACT_ERROR);
}

void ReportProgress(bool forced, uint32_t count) {
  g_engine.bytesCounted += count;
  if (!forced && g_engine.bytesCounted < g_engine.bytesReported + PROGRESS_UNIT) return;
  const uintptr_t units = (g_engine.bytesCounted / PROGRESS_UNIT) & 0xFFFF;
  if (platform::SendWindowMessage(g_engine.job->notifyWindow, PWM_ADVANCE, units, 0) != 0)
    AbortExtraction(EXTRACT_CANCELLED);
  if (PumpMessages()) AbortExtraction(EXTRACT_CANCELLED);
  g_engine.bytesReported = g_engine.bytesCounted;
}

void AnnounceEntry() {
  char name[kMaxPath];
  std::strcpy(name, BaseName(g_engine.entryPath));
  platform::SendWindowMessage(g_engine.job->notifyWindow, PWM_ENTRYNAME, 0,
                              reinterpret_cast<intptr_t>(name));
  ReportProgress(true, 0);
}

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
  ReleaseBlockTables();  // a block's codes, when the run ended inside it
  std::free(g_engine.window);
  g_engine.window = nullptr;
  std::free(g_engine.inputBuffer);
  g_engine.inputBuffer = nullptr;
  std::free(g_engine.outputBuffer);
  g_engine.outputBuffer = nullptr;
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
    g_engine.window = static_cast<uint8_t*>(std::calloc(kWindowAllocation, 1));
    if (g_engine.window) {
      g_engine.inputBuffer = static_cast<uint8_t*>(std::malloc(kStreamBufferSize));
      if (g_engine.inputBuffer)
        g_engine.outputBuffer = static_cast<uint8_t*>(std::malloc(kStreamBufferSize));
    }
    if (!g_engine.window || !g_engine.inputBuffer || !g_engine.outputBuffer)
      FailWithMessage(MSG_INSUFFICIENT_MEMORY);
    ProcessArchive();
  } else {
    job->result = g_engine.abortCode;
  }
  ReleaseRunResources();
  g_engine.busy = false;
  return 1;
}
