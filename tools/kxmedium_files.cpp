// File reading and copying in pieces of at most the platform's transfer size.
#include "tools/kxmedium_files.h"

#include "tools/kxmedium_os.h"

namespace kxmedium {

bool ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>* out,
                   std::string* error) {
  out->clear();
  const int file = platform::FileOpenRead(path.c_str());
  if (file == platform::kInvalidFile) {
    *error = "cannot open " + path + ": " + SystemReason();
    return false;
  }
  bool ok = true;
  uint8_t buffer[platform::kMaxTransfer];
  for (;;) {
    const unsigned got = platform::FileRead(file, buffer, sizeof buffer);
    if (got == platform::kIoError) {
      *error = "error reading " + path + ": " + SystemReason();
      ok = false;
      break;
    }
    if (out->size() + got >= limit) {
      *error = path + " is too large for the payload archive (2 GiB at most)";
      ok = false;
      break;
    }
    out->insert(out->end(), buffer, buffer + got);
    if (got < sizeof buffer) break;
  }
  platform::FileClose(file);
  return ok;
}

bool CopyFileStamped(const std::string& source, const std::string& destination,
                     const platform::FileTime* stamp, std::string* error) {
  const int in = platform::FileOpenRead(source.c_str());
  if (in == platform::kInvalidFile) {
    *error = "cannot open " + source + ": " + SystemReason();
    return false;
  }
  const int out = platform::FileCreate(destination.c_str());
  if (out == platform::kInvalidFile) {
    platform::FileClose(in);
    *error = "cannot create " + destination + ": " + SystemReason();
    return false;
  }
  bool ok = true;
  uint8_t buffer[platform::kMaxTransfer];
  for (;;) {
    const unsigned got = platform::FileRead(in, buffer, sizeof buffer);
    if (got == platform::kIoError) {
      *error = "error reading " + source + ": " + SystemReason();
      ok = false;
      break;
    }
    if (got > 0 && platform::FileWrite(out, buffer, got) != got) {
      *error = "error writing to " + destination + ": " + SystemReason();
      ok = false;
      break;
    }
    if (got < sizeof buffer) break;
  }
  if (ok && stamp && !platform::SetFileTimes(out, stamp, stamp, stamp)) {
    *error = "cannot set the time stamp of " + destination + ": " + SystemReason();
    ok = false;
  }
  platform::FileClose(in);
  platform::FileClose(out);
  if (!ok) platform::FileDelete(destination.c_str());
  return ok;
}

}  // namespace kxmedium
