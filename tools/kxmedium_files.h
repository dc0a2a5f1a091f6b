// Whole-file reading and stamped copying for kxmedium, over the platform layer's file calls.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kxmedium {

// Reads the whole file; false with a reason when it cannot be read or reaches limit bytes.
bool ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>* out,
                   std::string* error);

// Copies source to destination byte for byte and, when stamp is given, sets the copy's
// access and last-write times to it. A failed copy leaves no destination behind.
bool CopyFileStamped(const std::string& source, const std::string& destination,
                     const platform::FileTime* stamp, std::string* error);

}  // namespace kxmedium
