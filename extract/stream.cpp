// The input and output streams of an entry's data: chunked reads with decryption and progress
// on the way in, chunked writes with the CRC-32 on the way out, and their failure reports.
#include "extract/stream.h"

#include "extract/crc32.h"
#include "extract/decrypt.h"
#include "ui/messages.h"

#include <cstring>

StreamState g_stream;

void ResetStreams() {
  g_stream.inputPosition = g_engine.inputBuffer;
  g_stream.inputCount = 0;
  g_stream.plainEnd = g_engine.inputBuffer;
  g_stream.outputPosition = g_engine.outputBuffer;
  g_stream.outputCount = 0;
  g_stream.crc = 0xFFFFFFFFu;
}

unsigned FillInputBuffer() {
  EntryHeader& entry = g_engine.entry;
  if (entry.compressedSize == 0) {
    g_stream.inputCount = 0;
    return 0;
  }
  const unsigned n = entry.compressedSize < STREAM_CHUNK ? entry.compressedSize : STREAM_CHUNK;
  if (g_engine.archiveBytes) {
    std::memcpy(g_engine.inputBuffer, g_engine.archiveBytes, n);
    g_engine.archiveBytes += n;
  } else if (platform::FileRead(g_engine.archiveFile, g_engine.inputBuffer, n) != n) {
    ReportReadError();
  }
  ReportProgress(false, n);
  entry.compressedSize -= n;
  g_stream.inputPosition = g_engine.inputBuffer;
  // An encrypted chunk is decrypted in order as it is used (DecryptAhead, and the inflate
  // decoder's fast loop); every byte of it is before the next fill, which comes only when
  // the chunk is used up.
  g_stream.plainEnd = entry.encrypted ? g_engine.inputBuffer : g_engine.inputBuffer + n;
  g_stream.inputCount = static_cast<int32_t>(n);
  return n;
}

void DecryptAhead(unsigned count) {
  uint8_t* const end = g_stream.inputPosition + g_stream.inputCount;
  uint8_t* const wanted =
      count < static_cast<unsigned>(g_stream.inputCount) ? g_stream.inputPosition + count : end;
  if (wanted <= g_stream.plainEnd) return;
  DecryptBuffer(g_stream.plainEnd, static_cast<unsigned>(wanted - g_stream.plainEnd));
  g_stream.plainEnd = wanted;
}

int NextInputByteAfterFill(uint16_t& receiver) {
  if (FillInputBuffer() == 0) return 0;
  DecryptAhead(kDecryptAhead);
  receiver = *g_stream.inputPosition++;
  --g_stream.inputCount;
  return 8;
}

void AppendOutputInPieces(const uint8_t* source, unsigned count) {
  while (count > 0) {
    const unsigned room = STREAM_CHUNK - g_stream.outputCount;
    const unsigned piece = count < room ? count : room;
    std::memcpy(g_stream.outputPosition, source, piece);
    g_stream.outputPosition += piece;
    g_stream.outputCount += piece;
    if (g_stream.outputCount == STREAM_CHUNK) FlushOutputBuffer();
    source += piece;
    count -= piece;
  }
}

void FlushOutputBuffer() {
  g_stream.crc = UpdateCrc32(g_stream.crc, g_engine.outputBuffer, g_stream.outputCount);
  if (!g_engine.testMode)
    CheckWriteCount(
        platform::FileWrite(g_engine.outputFile, g_engine.outputBuffer, g_stream.outputCount));
  g_stream.outputPosition = g_engine.outputBuffer;
  g_stream.outputCount = 0;
}

void CheckWriteCount(unsigned written) {
  if (written != platform::kIoError && written == g_stream.outputCount) return;
  FailWithMessage(MSG_DISK_FULL, g_engine.entryPath);
}

void ReportReadError() { FailWithMessage(MSG_BAD_DISK, g_engine.job->archivePath); }
