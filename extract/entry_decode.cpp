// One entry's data through the streams and the decoder, and the run's buffers around it.
#include "extract/entry_decode.h"

#include "extract/stream.h"
#include "ui/messages.h"

#include <csetjmp>
#include <cstdlib>

bool AcquireRunBuffers() {
  g_engine.window = static_cast<uint8_t*>(std::calloc(kWindowAllocation, 1));
  if (g_engine.window) {
    g_engine.inputBuffer = static_cast<uint8_t*>(std::malloc(kStreamBufferSize));
    if (g_engine.inputBuffer)
      g_engine.outputBuffer = static_cast<uint8_t*>(std::malloc(kStreamBufferSize));
  }
  return g_engine.window && g_engine.inputBuffer && g_engine.outputBuffer;
}

void ReleaseRunBuffers() {
  ReleaseBlockTables();  // a block's codes, when the run ended inside it
  std::free(g_engine.window);
  g_engine.window = nullptr;
  std::free(g_engine.inputBuffer);
  g_engine.inputBuffer = nullptr;
  std::free(g_engine.outputBuffer);
  g_engine.outputBuffer = nullptr;
}

int DecodeEntryData(const InflateOptions& options) {
  int decoded = INFLATE_OK;
  ResetStreams();
  if (g_engine.entry.method == zip::kMethodDeflated) {
    decoded = InflateEntry(options);
  } else {
    // Stored: the bytes are copied unchanged, a whole input chunk at a time, the same reads
    // and the same writes, at the same points, as a copy byte by byte.
    while (g_stream.inputCount > 0 || FillInputBuffer() > 0) {
      DecryptAhead(static_cast<unsigned>(g_stream.inputCount));
      AppendOutput(g_stream.inputPosition, static_cast<unsigned>(g_stream.inputCount));
      g_stream.inputPosition += g_stream.inputCount;
      g_stream.inputCount = 0;
    }
  }
  if (g_stream.outputCount > 0) FlushOutputBuffer();
  return decoded;
}

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
