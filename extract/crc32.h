// CRC-32 of ISO 3309 / ITU-T V.42 / IEEE 802.3 in its reflected form, table-driven: the check
// value of ZIP entries and the two CRC steps of the traditional ZIP encryption keys.
#pragma once

#include <cstddef>
#include <cstdint>

// Entry n is the register after shifting the byte value n through eight steps of the
// reflected polynomial 0xEDB88320.
extern const uint32_t kCrc32Table[256];

// Folds bytes into a running register. A CRC starts at 0xFFFFFFFF and ends inverted.
uint32_t UpdateCrc32(uint32_t crc, const void* bytes, size_t count);

// The finished CRC-32 of a whole block of bytes.
inline uint32_t Crc32(const void* bytes, size_t count) {
  return ~UpdateCrc32(0xFFFFFFFFu, bytes, count);
}
