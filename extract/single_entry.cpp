// DecodeSingleEntry: a run of one entry's data, with its own abort point and cleanup. In a
// file of its own, so that programs that do not use it (SETUP.EXE) do not link it.
#include "extract/single_entry.h"

#include "extract/stream.h"
#include "ui/messages.h"

#include <csetjmp>

SingleEntryOutcome DecodeSingleEntry(const SingleEntry& single) {
  SingleEntryOutcome outcome;
  ExtractJob job;
  job.archivePath = single.archiveName;
  g_engine.job = &job;
  g_engine.testMode = single.output == platform::kInvalidFile;
  g_engine.archiveFile = single.input;
  g_engine.archiveBytes = single.bytes;
  g_engine.outputFile = single.output;
  g_engine.bytesCounted = g_engine.bytesReported = 0;
  g_engine.entry = EntryHeader{};
  g_engine.entry.method = single.method;
  g_engine.entry.encrypted = single.encrypted;
  g_engine.entry.compressedSize = single.compressedSize;
  g_inflate.bytesPastEnd = 0;
  if (setjmp(g_engine.abortPoint) == 0) {
    if (!AcquireRunBuffers()) FailWithMessage(MSG_INSUFFICIENT_MEMORY);
    outcome.decoded = DecodeEntryData(single.options);
  } else {
    outcome.result = g_engine.abortCode;
  }
  ReleaseRunBuffers();
  outcome.crc = ~g_stream.crc;
  outcome.bytesRead = g_engine.bytesCounted;
  outcome.bytesLeft = g_engine.entry.compressedSize;
  outcome.pastEnd = g_inflate.bytesPastEnd;
  // The files stay the caller's.
  g_engine.archiveFile = g_engine.outputFile = platform::kInvalidFile;
  g_engine.archiveBytes = nullptr;
  g_engine.job = nullptr;
  return outcome;
}
