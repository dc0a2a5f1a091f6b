// The string table as data for the POSIX build, generated from the resource script.
#pragma once

#include <cstddef>

namespace platform {
struct StringEntry {
  unsigned id;
  const char* text;
};
extern const StringEntry kStringTable[];
extern const size_t kStringTableSize;
}  // namespace platform
