// The extraction engine's public face: the job record a caller fills to have one ZIP archive
// extracted, the selection list, the run's result codes and the window messages the engine
// sends to report progress. Used by the setup's installation driver and by the tools.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// Outcome of a run, left in ExtractJob::result.
constexpr int32_t EXTRACT_OK = 0;
constexpr int32_t EXTRACT_ERROR = 2;       // an error was shown in a message box
constexpr int32_t EXTRACT_CANCELLED = 99;  // the job's window or the cancel flag stopped it

// Sent to the job's notifyWindow. PWM_ENTRYNAME: lParam points to the entry's base name,
// valid while the message is handled. PWM_ADVANCE: wParam is the compressed bytes read so far
// in PROGRESS_UNITs, cut to 16 bits; a nonzero answer cancels the run.
constexpr unsigned PWM_ENTRYNAME = 1302;
constexpr unsigned PWM_ADVANCE = 1304;
constexpr uint32_t PROGRESS_UNIT = 10240;
// Sent instead of extracting when the job only lists: lParam points to a ListedEntry, valid
// while the message is handled.
constexpr unsigned PWM_LISTENTRY = 1306;

constexpr int kMaxPath = 260;  // MAX_PATH: every path the engine builds, terminator included

// One element of the caller's list of entries to extract. The name is a stored entry name
// with its folder part ("/" between folders), compared without regard to letter case.
struct SelectionNode {
  SelectionNode* next = nullptr;
  char name[kMaxPath] = {};
};

// Filled by the caller (zeroed first), read by the engine throughout the run; the engine
// writes only result, and only when the run ends early.
struct ExtractJob {
  uint16_t reportCrcErrors = 0;        // exactly 1: a CRC-32 mismatch ends the run
  const char* archivePath = nullptr;   // ".ZIP" is appended when it holds no "." at all
  const char* outputFolder = nullptr;  // null: test mode; empty: the current folder
  SelectionNode* selection = nullptr;  // null: every entry
  int32_t keepPaths = 0;               // nonzero: stored folders are kept below outputFolder
  int32_t callerFlag = 0;              // not read by the engine
  int32_t startOffset = 0;             // where the first record signature is read
  platform::WindowHandle notifyWindow = nullptr;
  platform::WindowHandle meterWindow = nullptr;  // not read by the engine
  int32_t result = EXTRACT_OK;
  int32_t skipEmptyEntries = 0;  // nonzero: entries of uncompressed size 0 are passed over
  int32_t hasPassword = 0;       // nonzero: password replaces the built-in one
  const char* password = nullptr;
  int32_t listOnly = 0;  // nonzero: each entry extraction would take is listed, nothing read
};

// One entry of a listing, as stored; name is decoded to the ANSI character set.
struct ListedEntry {
  const char* name = nullptr;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t date = 0;  // MS-DOS date and time
  uint16_t time = 0;
  uint16_t method = 0;
  bool encrypted = false;
};

// Runs the job. Returns 0 without touching the job when a run is already going on, else 1;
// the outcome is in job->result. Every error has been shown in a box owned by notifyWindow.
int ExtractArchive(ExtractJob* job);
