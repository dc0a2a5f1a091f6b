// The engine's two data streams: compressed bytes read from the archive into the input
// buffer and handed out one at a time (an encrypted entry's bytes decrypted a little ahead of
// their use), and plain bytes collected in the output buffer and written in chunks, with the
// running CRC-32 of everything written.
#pragma once

#include "extract/engine.h"

#include <cstdint>
#include <cstring>

struct StreamState {
  uint8_t* inputPosition = nullptr;  // next unread byte of the input buffer
  int32_t inputCount = 0;            // unread bytes from inputPosition on
  // End of the decrypted bytes: those from here to the end of the input are still as read.
  // Decrypting a chunk as it is used rather than all at its fill lets the inflate decoder's
  // fast loop run the decryption's long chain of dependent steps beside its own work.
  uint8_t* plainEnd = nullptr;
  uint8_t* outputPosition = nullptr;  // next free byte of the output buffer
  uint32_t outputCount = 0;           // bytes buffered, 0 to STREAM_CHUNK
  uint32_t crc = 0xFFFFFFFFu;         // running CRC-32 register
};

extern StreamState g_stream;

// Empties both buffers and starts the CRC register for a new entry.
void ResetStreams();

// Reads the entry's next chunk (at most STREAM_CHUNK bytes, never past its compressed size)
// into the input buffer, from archiveBytes when set, else from archiveFile, and reports it as
// progress; 0 at the end of the entry's data.
unsigned FillInputBuffer();

// Fills the input buffer and takes its first byte; the part of NextInputByte that reads.
int NextInputByteAfterFill(uint16_t& receiver);

// Decrypts the buffered input so that at least count bytes from inputPosition on are plain
// (all that remain, if fewer); nothing to do for an entry that is not encrypted.
void DecryptAhead(unsigned count);
constexpr unsigned kDecryptAhead = 32;  // what the byte-wise reader decrypts at a time

// Puts the entry's next (decrypted) byte into receiver and returns 8, or returns 0 at the end
// of the entry's data and leaves receiver as it was. Inline while the buffer holds bytes.
inline int NextInputByte(uint16_t& receiver) {
  if (g_stream.inputCount == 0) return NextInputByteAfterFill(receiver);
  if (g_stream.inputPosition == g_stream.plainEnd) DecryptAhead(kDecryptAhead);
  receiver = *g_stream.inputPosition++;
  --g_stream.inputCount;
  return 8;
}

// AppendOutput for a count that may fill the buffer: piece by piece, writing each full one.
void AppendOutputInPieces(const uint8_t* source, unsigned count);

// Buffers count bytes, writing the buffer out each time it holds STREAM_CHUNK bytes. Inline
// while the bytes fit without filling the buffer.
inline void AppendOutput(const uint8_t* source, unsigned count) {
  if (count >= STREAM_CHUNK - g_stream.outputCount) return AppendOutputInPieces(source, count);
  std::memcpy(g_stream.outputPosition, source, count);
  g_stream.outputPosition += count;
  g_stream.outputCount += count;
}

// Folds the buffered bytes into the CRC, writes them unless in test mode, empties the buffer.
void FlushOutputBuffer();

// Returns only when written equals the buffered count; otherwise message 1036.
void CheckWriteCount(unsigned written);

// Message 1037 naming the job's archivePath; ends the run.
[[noreturn]] void ReportReadError();
