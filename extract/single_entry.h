// One entry's data decoded on its own, outside a walk: the run's buffers, abort point and
// cleanup set up as ExtractArchive sets them, around DecodeEntryData. The single entry into the
// decoder for the inflate tests, the fuzz targets and the benchmark.
#pragma once

#include "extract/entry_decode.h"
#include "extract/zip_format.h"

#include <cstdint>

// One entry's data to decode on its own.
struct SingleEntry {
  const char* archiveName = "";        // the archive named by a read error
  const uint8_t* bytes = nullptr;      // the data in memory, or null to read input
  int input = platform::kInvalidFile;  // read from its current position
  uint32_t compressedSize = 0;
  uint16_t method = zip::kMethodDeflated;
  bool encrypted = false;               // decrypted with the keys in force (InitKeys)
  int output = platform::kInvalidFile;  // none: only the CRC-32 is computed, as in test mode
  InflateOptions options;
};

struct SingleEntryOutcome {
  int32_t result = EXTRACT_OK;  // EXTRACT_ERROR or EXTRACT_CANCELLED when the run was aborted
  int decoded = -1;             // DecodeEntryData's result; -1 when aborted
  uint32_t crc = 0;             // CRC-32 of the bytes produced
  uint32_t bytesRead = 0;       // compressed bytes the fills took (the progress counted)
  uint32_t bytesLeft = 0;       // compressed bytes never read
  unsigned pastEnd = 0;         // repeated bytes the bit reader took past the data's end
};

// Runs DecodeEntryData on entry with a fresh zero window, as one entry of a run; an abort
// (a read or write error, with its box) ends it like a run. Not while a run is going on.
SingleEntryOutcome DecodeSingleEntry(const SingleEntry& entry);
