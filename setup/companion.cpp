// Companion files: the verify and copy passes over the built-in table, the chunked copy that
// moves the meter once per PROGRESS_UNIT, the failure messages, the SZDD expanded size and
// the time stamps. The copy never expands compressed files; it only counts their full size.
#include "setup/companion.h"

#include "extract/extract.h"
#include "extract/zip_format.h"
#include "platform/win32_handles.h"
#include "res/companions.h"
#include "res/dialog.h"
#include "setup/lookup.h"
#include "setup/state.h"
#include "ui/messages.h"
#include "ui/meter.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

// Joined paths are sized for the longest folder and the longest table name, so that joining
// never cuts a path short (a cut path could name another file).
constexpr size_t LongestCompanionName() {
  size_t longest = 0;
  for (const CompanionFile& file : CompanionFiles)
    if (file.name) longest = std::max(longest, std::string_view(file.name).size());
  return longest;
}
constexpr size_t kSourcePathSize = sizeof g_setup.sourceDir + LongestCompanionName();
constexpr size_t kDestinationPathSize = sizeof g_setup.destDir + LongestCompanionName();
constexpr size_t kNameSize = 260;

// SZDD compressed-file header: 8 signature bytes, mode, missing character, expanded size.
constexpr unsigned char kSzddSignature[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
constexpr unsigned kSzddHeaderSize = 14;
constexpr unsigned kSzddSizeOffset = 10;

HANDLE AsHandle(HFILE file) { return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(file)); }

}  // namespace

int TimeStampMatches() { return FoundFileData.lastWrite == g_setup.setupTime ? 1 : 0; }

uint32_t ExpandedFileSize(const char* path, uint32_t listedSize) {
  const platform::ClassicFile file(_lopen(path, OF_READ));
  if (!file) return listedSize;
  unsigned char header[kSzddHeaderSize];
  if (_lread(file.get(), header, kSzddHeaderSize) == kSzddHeaderSize &&
      std::memcmp(header, kSzddSignature, sizeof kSzddSignature) == 0) {
    return zip::Le32(header + kSzddSizeOffset);
  }
  return listedSize;
}

void CopyFileTimes(HFILE source, HFILE destination) {
  FILETIME created, accessed, written;
  if (GetFileTime(AsHandle(source), &created, &accessed, &written))
    SetFileTime(AsHandle(destination), &written, &written, &written);
}

int CopyFileWithProgress(const char* sourcePath, const char* destinationPath) {
  const platform::ClassicFile source(_lopen(sourcePath, OF_READ));
  if (!source) return kCopySourceFailed;
  const platform::LockedGlobalMemory memory(GMEM_MOVEABLE, kCompanionChunk);
  if (!memory) return kCopySourceFailed;
  const platform::ClassicFile destination(_lcreat(destinationPath, 0));
  if (!destination) return kCopyDestinationFailed;
  char* const buffer = static_cast<char*>(memory.data());
  for (;;) {
    const UINT count = _lread(source.get(), buffer, kCompanionChunk);
    // A failed read answers HFILE_ERROR: it is reported as such, never written as data and
    // never taken for the end of the file. What was copied before it stays, unstamped.
    if (count == static_cast<UINT>(HFILE_ERROR)) return kCopyReadFailed;
    if (_lwrite(destination.get(), buffer, count) != count) return kCopyShortWrite;
    g_setup.CompanionBytes += count;
    if (g_setup.CompanionBytes >= g_setup.CompanionBytesShown + PROGRESS_UNIT) {
      SendDlgItemMessageA(static_cast<HWND>(g_setup.progressWindow), IDC_METER, MM_SETPOS,
                          g_setup.CompanionBytes / PROGRESS_UNIT, 0);
      g_setup.CompanionBytesShown = g_setup.CompanionBytes;
    }
    if (count != kCompanionChunk || g_setup.cancelRequested) {
      CopyFileTimes(source.get(), destination.get());
      return kCopyOk;
    }
  }
}

int ReportCopyResult(int code, const char* sourcePath, const char* destinationPath) {
  const HWND owner = static_cast<HWND>(g_setup.progressWindow);
  switch (code) {
    case kCopySourceFailed:  // the source is named in the "cannot open" message
      ShowMessage(owner, MSG_CANNOT_OPEN_FOR_WRITING, MB_ICONERROR, sourcePath);
      return 0;
    case kCopyDestinationFailed:
      ShowMessage(owner, MSG_CANNOT_OPEN_FOR_WRITING, MB_ICONERROR, destinationPath);
      return 0;
    case kCopyShortWrite:
      ShowMessage(owner, MSG_ERROR_WRITING, MB_ICONERROR, destinationPath);
      return 0;
    case kCopyReadFailed:
      ShowMessage(owner, MSG_BAD_DISK, MB_ICONERROR, sourcePath);
      return 0;
    default:
      return 1;
  }
}

int CopyCompanionFile(const char* sourcePath, int index) {
  const CompanionFile& entry = CompanionFiles[index];
  char name[kNameSize];
  lstrcpynA(name, entry.name, sizeof name);
  const int length = lstrlenA(name);
  if (entry.finalOverride && length > 0) name[length - 1] = entry.finalOverride;
  SetDlgItemTextA(static_cast<HWND>(g_setup.progressWindow), IDC_FILENAME, name);
  char destinationPath[kDestinationPathSize];
  wsprintfA(destinationPath, "%s%s", g_setup.destDir, name);
  const int code = CopyFileWithProgress(sourcePath, destinationPath);
  return ReportCopyResult(code, sourcePath, destinationPath);
}

int ProcessCompanionFiles(HWND owner, int mode) {
  for (int index = 0; CompanionFiles[index].name; ++index) {
    const char* name = CompanionFiles[index].name;
    char sourcePath[kSourcePathSize];
    wsprintfA(sourcePath, "%s%s", g_setup.sourceDir, name);
    if (LookUpFile(sourcePath) != 0) {
      ShowMessage(owner, MSG_MISSING_FILE, MB_ICONERROR, name);
      return 0;
    }
    if (!TimeStampMatches()) {
      ShowMessage(owner, MSG_TIME_STAMP_MISMATCH, MB_ICONERROR, name);
      return 0;
    }
    if (mode == kVerifyCompanions) {
      g_setup.totalKB += ExpandedFileSize(sourcePath, FoundFileData.sizeLow);
      continue;
    }
    // The only place in the copy where the progress window's Cancel button is handled.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    SetDlgItemTextA(static_cast<HWND>(g_setup.progressWindow), IDC_ACTION, g_setup.actionText);
    if (!CopyCompanionFile(sourcePath, index)) return 0;
    if (g_setup.cancelRequested) return 0;
  }
  return 1;
}
