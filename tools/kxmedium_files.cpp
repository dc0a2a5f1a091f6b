// File reading and copying in pieces of at most the platform's transfer size.
#include "tools/kxmedium_files.h"

#include "platform/handles.h"
#include "tools/kxmedium_os.h"

namespace kxmedium {

bool ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>* out,
                   std::string* error) {
  out->clear();
  const platform::File file(platform::FileOpenRead(path.c_str()));
  if (!file) {
    *error = "cannot open " + path + ": " + SystemReason();
    return false;
  }
  uint8_t buffer[platform::kMaxTransfer];
  for (;;) {
    const unsigned got = platform::FileRead(file.get(), buffer, sizeof buffer);
    if (got == platform::kIoError) {
      *error = "error reading " + path + ": " + SystemReason();
      return false;
    }
    if (out->size() + got >= limit) {
      *error = path + " is too large for the payload archive (2 GiB at most)";
      return false;
    }
    out->insert(out->end(), buffer, buffer + got);
    if (got < sizeof buffer) return true;
  }
}

bool CopyFileStamped(const std::string& source, const std::string& destination,
                     const platform::FileTime* stamp, std::string* error) {
  bool ok = true;
  {
    const platform::File in(platform::FileOpenRead(source.c_str()));
    if (!in) {
      *error = "cannot open " + source + ": " + SystemReason();
      return false;
    }
    const platform::File out(platform::FileCreate(destination.c_str()));
    if (!out) {
      *error = "cannot create " + destination + ": " + SystemReason();
      return false;
    }
    uint8_t buffer[platform::kMaxTransfer];
    for (;;) {
      const unsigned got = platform::FileRead(in.get(), buffer, sizeof buffer);
      if (got == platform::kIoError) {
        *error = "error reading " + source + ": " + SystemReason();
        ok = false;
        break;
      }
      if (got > 0 && platform::FileWrite(out.get(), buffer, got) != got) {
        *error = "error writing to " + destination + ": " + SystemReason();
        ok = false;
        break;
      }
      if (got < sizeof buffer) break;
    }
    if (ok && stamp && !platform::SetFileTimes(out.get(), stamp, stamp, stamp)) {
      *error = "cannot set the time stamp of " + destination + ": " + SystemReason();
      ok = false;
    }
  }  // both files closed before a failed copy is deleted
  if (!ok) platform::FileDelete(destination.c_str());
  return ok;
}

}  // namespace kxmedium
