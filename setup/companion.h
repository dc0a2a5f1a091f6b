// The companion text files of the installation medium (res/companions.h): one pass over the
// table that either verifies them against SETUP.EXE's time stamp and adds up their sizes, or
// copies them into the destination with progress and cancel. Win32 only.
#pragma once

#include <windows.h>

#include <cstdint>

// Modes of ProcessCompanionFiles.
constexpr int kVerifyCompanions = 0;  // the destination dialog's check, before anything changes
constexpr int kCopyCompanions = 1;    // the installation's copy, with the progress window

// Results of CopyFileWithProgress: 0 or the number of the failure's message string.
constexpr int kCopyOk = 0;
constexpr int kCopySourceFailed = 1017;       // source not opened, or no copy buffer
constexpr int kCopyDestinationFailed = 1018;  // destination not created
constexpr int kCopyShortWrite = 1019;         // a write wrote less than asked
constexpr int kCopyReadFailed = 1037;         // a read of the source failed

constexpr unsigned kCompanionChunk = 15360;  // bytes per read and write of the copy

// 1 when every file has been handled; 0 when the pass stopped (a message was shown, owned by
// owner for a missing or mis-stamped file, or the user cancelled the copy).
int ProcessCompanionFiles(HWND owner, int mode);
// Copies table entry index from sourcePath into the destination folder; 1 on success or
// cancel, 0 after a reported failure.
int CopyCompanionFile(const char* sourcePath, int index);
int CopyFileWithProgress(const char* sourcePath, const char* destinationPath);
// Shows the message for a failed copy (owned by the progress window); 1 when code is no failure.
int ReportCopyResult(int code, const char* sourcePath, const char* destinationPath);
// The expanded size from an SZDD header, else the listed size.
uint32_t ExpandedFileSize(const char* path, uint32_t listedSize);
// Stamps all three times of the open destination with the open source's last-write time.
void CopyFileTimes(HFILE source, HFILE destination);
// 1 when FoundFileData's last-write time is SETUP.EXE's to the 100-nanosecond tick.
int TimeStampMatches();
