// The engine's state for one run and the services every part of the engine shares: the
// error box, the abort that unwinds to ExtractArchive, and the progress reports to the job's
// window. The bottom of the engine: it calls nothing else of extract/. Internal to extract/
// (and its tests); callers use extract.h.
#pragma once

#include "extract/extract.h"

#include <csetjmp>
#include <cstdint>

constexpr unsigned WINDOW_SIZE = 32768;   // the Deflate window
constexpr unsigned STREAM_CHUNK = 28672;  // largest read or write of the streams
constexpr unsigned kWindowAllocation = WINDOW_SIZE + 8;
constexpr unsigned kStreamBufferSize = STREAM_CHUNK + 20;
// An output path after OEM-to-ANSI conversion: on POSIX each OEM byte may become three
// bytes of UTF-8.
constexpr unsigned kCreatedPathSize = 3 * kMaxPath;
constexpr unsigned kEngineMessageSize = 1024;

// The current entry's local header as read; compressedSize is counted down while the
// entry's data is read.
struct EntryHeader {
  uint16_t versionNeeded = 0;
  uint16_t flags = 0;  // kept until the next local header: the resync looks at bit 3
  uint16_t method = 0;
  uint16_t time = 0;
  uint16_t date = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
  bool encrypted = false;   // flag bit 0
  bool descriptor = false;  // flag bit 3
  bool utf8Name = false;    // the name is UTF-8: flag bit 11, or an Info-ZIP Unicode Path
};

struct EngineState {
  ExtractJob* job = nullptr;
  bool busy = false;
  bool testMode = false;
  char archiveName[kMaxPath] = {};
  bool archiveNameTooLong = false;  // archivePath did not fit: opening it is refused
  int archiveFile = platform::kInvalidFile;
  int outputFile = platform::kInvalidFile;
  char entryPath[kMaxPath] = {};            // stored name, then the output path
  char createdPath[kCreatedPathSize] = {};  // the name outputFile was created under
  uint8_t* window = nullptr;                // kWindowAllocation bytes, zero-filled
  uint8_t* inputBuffer = nullptr;           // kStreamBufferSize bytes
  uint8_t* outputBuffer = nullptr;          // kStreamBufferSize bytes
  const uint8_t* archiveBytes = nullptr;    // when set, read instead of archiveFile
  uint32_t bytesCounted = 0;
  uint32_t bytesReported = 0;
  char message[kEngineMessageSize] = {};
  EntryHeader entry;
  // Where AbortExtraction resumes: the cleanup of the running ExtractArchive, or of
  // DecodeSingleEntry.
  std::jmp_buf abortPoint;
  int32_t abortCode = 0;
};

extern EngineState g_engine;

// Ends the run at once with EXTRACT_ERROR or EXTRACT_CANCELLED: stores the code and jumps to
// abortPoint, abandoning every operation in between, and ExtractArchive's cleanup releases
// everything. A non-local jump rather than an exception keeps the setup free of the C++
// unwinder; in return no engine frame holds an object with a destructor. That is why the
// engine keeps its files and buffers as plain handles in EngineState, released by the cleanup,
// where the rest of the project uses owning handle types (platform/handles.h): a longjmp
// over a destructor would skip it.
[[noreturn]] void AbortExtraction(int32_t code);

// The engine's error box: owned by the job's window, default caption, error icon.
void ShowEngineError(const char* text);

// Formats string-table message id with the arguments (wsprintf dialect), shows it and ends
// the run with EXTRACT_ERROR.
[[noreturn]] void FailWithMessage(unsigned id, ...);

// Shows a fixed text as an engine error and ends the run with EXTRACT_ERROR.
[[noreturn]] void FailWithText(const char* text);

// Adds count compressed bytes to the run's total; sends PWM_ADVANCE when a PROGRESS_UNIT more
// has been read since the last one, or when forced, and honours a cancel.
void ReportProgress(bool forced, uint32_t count);

// Tells the job's window that the data of the entry named baseName is about to be produced.
void AnnounceEntry(const char* baseName);
