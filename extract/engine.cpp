// The engine's services: the run's state, the single abort mechanism, the error box, and the
// progress and cancel reports sent to the job's window.
#include "extract/engine.h"

#include "setup/state.h"
#include "ui/messages.h"

#include <csetjmp>
#include <cstdarg>
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

void AnnounceEntry(const char* baseName) {
  char name[kMaxPath];
  std::strcpy(name, baseName);
  platform::SendWindowMessage(g_engine.job->notifyWindow, PWM_ENTRYNAME, 0,
                              reinterpret_cast<intptr_t>(name));
  ReportProgress(true, 0);
}
